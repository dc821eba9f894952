// The nine entry points driven as a careless host might drive them, over a
// small cache: input is a series of calls, each an opcode byte followed by
// its arguments (paths, verbs, handles, flags, buffer sizes), any of which
// may be null, stale, out of range, huge or full of bytes above 0x7F.
//
// Every call returns one of its defined results; at most 50 listings are
// open, each under the lowest handle free when it opened, and a handle
// serves only its own listing; a name written to a record or a buffer ends
// inside it; a reread hands back the root.
#include <array>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSystem.h"
#include "fuzz/QuietDesktop.h"
#include "plugin/Settings.h"
#include "plugin/fsplugin.h"
#include "support/SysUtils1.h"

using namespace trovex;

namespace {

#define LONG_PART                                                                                   \
  "llllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllll" \
  "llllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllll" \
  "llllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllll"

constexpr char kCache[] =
    "0x00000001\thttp://www.example.com/a.gif\tcache/a.gif\n"
    "0x00000001\thttp://img.example.com/b.png\tcache/b.png\n"
    "0x00000001\thttp://www.example.com/c.htm\tcache/missing.htm\n"
    "0x00100000\tCookie:user@www.example.org/\tcache/cookie.txt\n"
    "0x00000001\thttp://192.0.2.7/d.js\tout-file\n"
    "0x00200000\thttp://history.example.net/\t\n"
    "0x00000001\thttp://www.example.co.uk/\t../escape\n"
    "0x00000001\thttp://\xC3\xA9t\xC3\xA9.example.com/\xFF\tcache/e.htm\n"
    // Names a web site picks to confuse the tree: long URLs sharing their
    // start, a host with a backslash, two spellings of one host, . and ..
    "0x00000001\thttp://www.example.com/" LONG_PART "1\tcache/a.gif\n"
    "0x00000001\thttp://www.example.com/" LONG_PART "2\tcache/b.png\n"
    "0x00000001\thttp://evil\\www.example.com/x\tcache/e.htm\n"
    "0x00000001\thttp://WWW.Example.com/upper\tcache/b.png\n"
    "0x00000001\thttp://../dots\tcache/e.htm\n";

constexpr char kRegistry[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE]\n"
    "@=\"/usr/bin/browser\"\n\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer]\n"
    "\"Version\"=\"11.0\"\n";

constexpr char kSettings[] =
    "[Options]\nLanguage=English\nShowCookies=1\nConfirmOpen=1\nOfflineOpen=1\nOfflineStart=0\n";

constexpr char kMessages[] =
    "[English]\n1=Trovex\n2=(Reread cache)\n3=Trovex %s\\nBrowser %s\\nCache %s\n4=Open %s?\n";

// Paths a host would list, pick or type.
const char* const kPaths[] = {
    "\\",
    "",
    "\\(Reread cache)",
    "\\example.com",
    "\\example.com\\",
    "\\example.com\\www.example.com",
    "\\example.com\\www.example.com\\http://www.example.com/a.gif",
    "\\example.com\\www.example.com\\http://www.example.com/c.htm",
    "\\example.com\\img.example.com\\http://img.example.com/b.png",
    "\\example.org\\www.example.org\\Cookie:user@www.example.org/",
    "\\192.0.2.7\\192.0.2.7\\http://192.0.2.7/d.js",
    "\\example.co.uk\\www.example.co.uk\\http://www.example.co.uk/",
    "\\example.com\\\xC3\xA9t\xC3\xA9.example.com\\http://\xC3\xA9t\xC3\xA9.example.com/\xFF",
    "\\\\\\",
    "\\nowhere\\nohost\\http://nowhere/",
    "\\example.com\\evil\\www.example.com",
    "\\example.com\\WWW.Example.com\\http://WWW.Example.com/upper",
    "\\.~af63a34c86018bb1\\..~07da1a07b4a03f2d",
    "example.com\\www.example.com",
};
constexpr size_t kPathCount = sizeof kPaths / sizeof kPaths[0];

void WriteBeside(const std::string& library, const char* name, const char* text,
                 const FuzzSystemFolder& folder) {
  std::string path = ChangeFileName(library, name);
  if (path.find('/') == std::string::npos) {
    folder.Put(name, text);  // a bare name is looked for in the system folder
  } else {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  }
}

// The system folder with the cache's local files, a folder for copies, links
// that lead out, and the settings and messages beside the library.
struct World {
  World() {
    folder.AddWaysOut();
    folder.Put("cache/a.gif", std::string(100, 'a'));
    folder.Put("cache/b.png", std::string(200, 'b'));
    folder.Put("cache/cookie.txt", "c=1");
    folder.Put("cache/e.htm", "e");
    folder.Put("copies/.keep", "");
    std::string library = ModulePath();
    WriteBeside(library, "Trovex.ini", kSettings, folder);
    WriteBeside(library, "Trovex.lng", kMessages, folder);
  }

  FuzzSystemFolder folder;
  std::string copies = folder.File("copies");
};

World& TheWorld() {
  static World world;
  return world;
}

// The calls of one input, with what the host knows of the listings.
class Host {
 public:
  Host(FuzzInput& input, World& world) : input_(input), world_(world) {}

  void Call() {
    switch (input_.Byte() % 10) {
      case 0: Init(); break;
      case 1: RootName(); break;
      case 2: Status(); break;
      case 3: FindFirst(); break;
      case 4: FindNext(); break;
      case 5: FindClose(); break;
      case 6: GetFile(); break;
      case 7: Delete(); break;
      case 8: Execute(); break;
      default: AnswerBoxes((input_.Byte() & 1) != 0); break;
    }
  }

  // Leaves no listing open for the next input.
  void CloseAll() {
    for (intptr_t handle = 1; handle <= kFsMaxOpenListings; ++handle) FsFindClose(reinterpret_cast<HANDLE>(handle));
    open_.fill(false);
  }

 private:
  // A path: mostly one a host would use, sometimes one from the input, one
  // of 100 000 bytes, or null.
  const char* Path() {
    uint8_t choice = input_.Byte();
    if (choice < 0xC0) return kPaths[choice % kPathCount];
    if (choice < 0xF0) {
      text_ = input_.Part();
    } else if (choice < 0xFE) {
      text_ = "\\example.com\\www.example.com\\" + std::string(100000, static_cast<char>(0x80 | choice));
    } else {
      return nullptr;
    }
    return text_.c_str();
  }

  HANDLE Handle() {
    uint8_t choice = input_.Byte();
    switch (choice % 6) {
      case 0: return nullptr;
      case 1: return INVALID_HANDLE_VALUE;
      case 2: return reinterpret_cast<HANDLE>(intptr_t{51});
      case 3: return reinterpret_cast<HANDLE>(LowestFree() - 1);  // often open, or 0
      case 4: return reinterpret_cast<HANDLE>(static_cast<intptr_t>(choice / 6 % 52));
      default: return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(input_.Word())));
    }
  }

  void Init() {
    FUZZ_CHECK(FsInit(static_cast<int32_t>(input_.Word()), nullptr, nullptr, nullptr) == 0);
  }

  void RootName() {
    int32_t maxLength = static_cast<int8_t>(input_.Byte());
    if (maxLength == -128) {
      FsGetDefRootName(nullptr, 300);
      return;
    }
    std::vector<char> name(maxLength > 0 ? static_cast<size_t>(maxLength) : 1, 'x');
    FsGetDefRootName(name.data(), maxLength);
    if (maxLength <= 0) return;
    size_t length = strnlen(name.data(), name.size());
    FUZZ_CHECK(length < name.size() && std::string_view("Trovex").starts_with(name.data()));
  }

  void Status() {
    const char* path = Path();
    int32_t startEnd = input_.Byte() % 3;
    int32_t operation = input_.Byte() % 10;
    FsStatusInfo(path, startEnd, operation);
  }

  void FindFirst() {
    const char* path = Path();
    bool withRecord = (input_.Byte() & 7) != 0;
    WIN32_FIND_DATAA record;
    std::memset(&record, 0x5A, sizeof record);
    HANDLE handle = FsFindFirst(path, withRecord ? &record : nullptr);
    intptr_t position = reinterpret_cast<intptr_t>(handle);
    if (handle == INVALID_HANDLE_VALUE) {
      FUZZ_CHECK(GetLastError() == ERROR_INVALID_FUNCTION);
      return;
    }
    FUZZ_CHECK(path != nullptr && withRecord && position == LowestFree());
    open_[position - 1] = true;
    FUZZ_CHECK(std::memchr(record.cFileName, '\0', MAX_PATH) != nullptr);
  }

  void FindNext() {
    HANDLE handle = Handle();
    bool withRecord = (input_.Byte() & 7) != 0;
    WIN32_FIND_DATAA record;
    std::memset(&record, 0x5A, sizeof record);
    BOOL more = FsFindNext(handle, withRecord ? &record : nullptr);
    FUZZ_CHECK(more == kFsTrue || more == kFsFalse);
    if (more == kFsTrue) {
      FUZZ_CHECK(IsOpen(reinterpret_cast<intptr_t>(handle)) && withRecord);
      FUZZ_CHECK(std::memchr(record.cFileName, '\0', MAX_PATH) != nullptr);
    }
  }

  void FindClose() {
    HANDLE handle = Handle();
    intptr_t position = reinterpret_cast<intptr_t>(handle);
    FUZZ_CHECK(FsFindClose(handle) == 0);
    if (IsOpen(position)) open_[position - 1] = false;
  }

  void GetFile() {
    const char* remote = Path();
    uint8_t choice = input_.Byte();
    std::string local = world_.copies + "/" + std::to_string(choice % 4);
    int32_t flags = static_cast<int32_t>(input_.Word());
    int32_t result = FsGetFile(remote, choice >= 0xF0 ? nullptr : local.data(), flags, nullptr);
    FUZZ_CHECK(result == kFsCopyOk || result == kFsCopyExists || result == kFsCopyFailed);
  }

  void Delete() {
    BOOL deleted = FsDeleteFile(Path());
    FUZZ_CHECK(deleted == kFsTrue || deleted == kFsFalse);
  }

  void Execute() {
    const char* path = Path();
    uint8_t choice = input_.Byte();
    static const char* const kVerbs[] = {"open", "properties", "", "OPEN", "quote", nullptr};
    const char* verb = kVerbs[choice % 6];
    std::vector<char> remote;
    if (path != nullptr) remote.assign(path, path + std::strlen(path) + 1);
    int32_t result = FsExecuteFile(nullptr, path != nullptr ? remote.data() : nullptr, verb);
    FUZZ_CHECK(result == kFsExecDone || result == kFsExecError || result == kFsExecShowFolder);
    if (result == kFsExecShowFolder) FUZZ_CHECK(std::strcmp(remote.data(), "\\") == 0);
  }

  // The lowest handle no listing holds; kFsMaxOpenListings + 1 when full.
  intptr_t LowestFree() const {
    intptr_t handle = 1;
    while (handle <= kFsMaxOpenListings && open_[static_cast<size_t>(handle - 1)]) ++handle;
    return handle;
  }

  bool IsOpen(intptr_t handle) const {
    return handle >= 1 && handle <= kFsMaxOpenListings && open_[static_cast<size_t>(handle - 1)];
  }

  FuzzInput& input_;
  World& world_;
  std::string text_;
  std::array<bool, kFsMaxOpenListings> open_{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& world = TheWorld();
  world.folder.Put("urlcache.txt", kCache);
  world.folder.Put("registry.reg", kRegistry);
  DeletionGuard guard(world.folder);
  FuzzInput input(data, size);
  Host host(input, world);
  host.CloseAll();
  FsInit(1, nullptr, nullptr, nullptr);
  for (int calls = 0; calls < 64 && !input.Empty(); ++calls) host.Call();
  host.CloseAll();
  return 0;
}
