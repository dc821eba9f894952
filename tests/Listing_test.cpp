// The plug-in library loaded as a host loads it: start-up, the root name,
// status reports and the listing of the three levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "tests/support/HostileCache.h"
#include "tests/support/PluginFixture.h"

using namespace trovex;

namespace {

using Names = std::vector<std::string>;

constexpr char kDemoCache[] =
    "0x00000001\thttp://www.example.com/a.gif\tcache/a.gif\n"
    "0x00000001\thttp://img.example.com/b.png\tcache/b.png\n"
    "0x00000001\thttp://www.example.com/c.htm\tcache/missing.htm\n"
    "0x00100000\tCookie:user@www.example.org/\tcache/cookie.txt\n"
    "0x00000001\thttp://192.0.2.7/d.js\tcache/d.js\n"
    "0x00200000\thttp://history.example.net/\t\n"
    "0x00000001\thttp://www.example.co.uk/\tcache/uk.htm\n";

class Listing : public PluginTest {
 protected:
  void SetUp() override {
    WriteCache(kDemoCache);
    WriteFile(System("cache/a.gif"), std::string(100, 'a'));
    WriteFile(System("cache/b.png"), std::string(200, 'b'));
    WriteFile(System("cache/d.js"), std::string(50, 'd'));
    WriteFile(System("cache/uk.htm"), std::string(10, 'u'));
    WriteFile(System("cache/cookie.txt"), "c=1");
  }
};

}  // namespace

TEST(Exports, AreExactlyTheNineEntryPoints) {
  std::string command = std::string("nm -D --defined-only ") + TROVEX_PLUGIN_PATH;
  std::FILE* nm = popen(command.c_str(), "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    char type = 0;
    char name[400] = {};
    if (std::sscanf(line, "%*s %c %399s", &type, name) == 2 && type == 'T') exported.insert(name);
  }
  ASSERT_EQ(pclose(nm), 0);
  EXPECT_EQ(exported, (std::set<std::string>{"FsInit", "FsGetDefRootName", "FsStatusInfo", "FsFindFirst",
                                             "FsFindNext", "FsFindClose", "FsGetFile", "FsDeleteFile",
                                             "FsExecuteFile"}));
}

TEST_F(Listing, TheRootBeforeInitShowsOnlyTheBuiltInRereadEntry) {
  LoadedPlugin& plugin = Load(false);
  WIN32_FIND_DATAA record;
  std::memset(&record, 0x55, sizeof record);
  HANDLE handle = plugin.FsFindFirst("\\", &record);
  ASSERT_EQ(handle, reinterpret_cast<HANDLE>(1));
  EXPECT_STREQ(record.cFileName, "(Reread cache)");
  EXPECT_EQ(record.dwFileAttributes, 0u);
  EXPECT_EQ(record.nFileSizeLow, 0u);
  EXPECT_EQ(record.ftLastWriteTime.dwLowDateTime, 0u);
  EXPECT_EQ(record.cAlternateFileName[0], '\0');
  EXPECT_EQ(plugin.FsFindNext(handle, &record), kFsFalse);
  plugin.FsFindClose(handle);
}

TEST_F(Listing, DefaultRootNameIsCutToTheBuffer) {
  LoadedPlugin& plugin = Load(false);
  char name[8];
  std::memset(name, 'x', sizeof name);
  plugin.FsGetDefRootName(name, 4);
  EXPECT_STREQ(name, "Tro");
  EXPECT_EQ(name[4], 'x');
  plugin.FsGetDefRootName(name, 1);
  EXPECT_EQ(name[0], '\0');
  EXPECT_EQ(name[1], 'r');
  plugin.FsGetDefRootName(name, 8);
  EXPECT_STREQ(name, "Trovex");
}

TEST_F(Listing, ListsTheThreeLevels) {
  LoadedPlugin& plugin = Load();
  EXPECT_EQ(plugin.List("\\"), (Names{"(Reread)", "example.com", "example.org", "192.0.2.7", "example.co.uk"}));
  EXPECT_EQ(plugin.List(""), plugin.List("\\"));
  EXPECT_EQ(plugin.List("\\example.com"), (Names{"www.example.com", "img.example.com"}));
  EXPECT_EQ(plugin.List("\\example.com\\"), plugin.List("\\example.com"));
  EXPECT_EQ(plugin.List("\\example.com\\www.example.com"),
            (Names{"http://www.example.com/a.gif", "http://www.example.com/c.htm"}));
  // A host is reached through the site folder that lists it, and a path
  // begins at the root.
  EXPECT_TRUE(plugin.List("\\elsewhere\\www.example.com").empty());
  EXPECT_TRUE(plugin.List("\\example.co.uk\\www.example.com").empty());
  EXPECT_TRUE(plugin.List("www.example.com").empty());
  EXPECT_TRUE(plugin.List("example.com\\www.example.com").empty());
}

TEST_F(Listing, FillsFindRecordsLikeTheSystem) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  HANDLE site = plugin.FsFindFirst("\\example.com", &record);
  ASSERT_NE(site, INVALID_HANDLE_VALUE);
  EXPECT_EQ(record.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  plugin.FsFindClose(site);

  HANDLE host = plugin.FsFindFirst("\\example.com\\www.example.com", &record);
  ASSERT_NE(host, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(record.cFileName, "http://www.example.com/a.gif");
  EXPECT_EQ(record.dwFileAttributes, 0u);
  EXPECT_EQ(record.nFileSizeLow, 100u);
  EXPECT_EQ(record.nFileSizeHigh, 0u);
  ASSERT_EQ(plugin.FsFindNext(host, &record), kFsTrue);
  EXPECT_EQ(record.nFileSizeLow, 0u) << "a missing local file has size 0";
  plugin.FsFindClose(host);
}

TEST_F(Listing, EmptyOrMissingFoldersFailWithInvalidFunction) {
  LoadedPlugin& plugin = Load();
  for (const char* path : {"\\nowhere.example", "\\example.com\\nohost.example.com", "\\\\",
                           "\\example.com\\www.example.com\\http://www.example.com/a.gif"}) {
    WIN32_FIND_DATAA record{};
    SetLastError(0);
    EXPECT_EQ(plugin.FsFindFirst(path, &record), INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << path;
  }
}

TEST_F(Listing, OpensAtMostFiftyListings) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  for (intptr_t expected = 1; expected <= 50; ++expected) {
    ASSERT_EQ(plugin.FsFindFirst("\\", &record), reinterpret_cast<HANDLE>(expected));
  }
  std::memset(&record, 0x55, sizeof record);
  EXPECT_EQ(plugin.FsFindFirst("\\", &record), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(static_cast<unsigned char>(record.cFileName[0]), 0x55) << "a refused listing leaves the record alone";
  plugin.FsFindClose(reinterpret_cast<HANDLE>(50));
  EXPECT_EQ(plugin.FsFindFirst("\\", &record), reinterpret_cast<HANDLE>(50));
  for (intptr_t handle = 50; handle >= 1; --handle) plugin.FsFindClose(reinterpret_cast<HANDLE>(handle));
}

TEST_F(Listing, ClosingTheTopResumesTheListingBelow) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  HANDLE root = plugin.FsFindFirst("\\", &record);
  ASSERT_EQ(plugin.FsFindNext(root, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "example.com");

  HANDLE site = plugin.FsFindFirst("\\example.com", &record);
  ASSERT_EQ(site, reinterpret_cast<HANDLE>(2));
  while (plugin.FsFindNext(site, &record) == kFsTrue) {
  }
  plugin.FsFindClose(site);

  ASSERT_EQ(plugin.FsFindNext(root, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "example.org");
  plugin.FsFindClose(root);
}

TEST_F(Listing, ClosingAnOlderListingLeavesTheNewerWhereItWas) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  HANDLE root = plugin.FsFindFirst("\\", &record);
  HANDLE site = plugin.FsFindFirst("\\example.com", &record);
  EXPECT_STREQ(record.cFileName, "www.example.com");
  plugin.FsFindClose(root);
  // The site listing keeps its handle and goes on where it was.
  ASSERT_EQ(plugin.FsFindNext(site, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "img.example.com");
  for (HANDLE stale : {root, reinterpret_cast<HANDLE>(0), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(51)}) {
    EXPECT_EQ(plugin.FsFindClose(stale), 0);
  }
  EXPECT_EQ(plugin.FsFindNext(root, &record), kFsFalse);
  EXPECT_EQ(plugin.FsFindClose(site), 0);
  std::memset(&record, 0x55, sizeof record);
  EXPECT_EQ(plugin.FsFindNext(site, &record), kFsFalse) << "no listing is open";
  EXPECT_EQ(static_cast<unsigned char>(record.cFileName[0]), 0x55);
}

TEST_F(Listing, AUrlLongerThanANameIsListedCutAndEndingInItsHash) {
  std::string url = "http://www.example.com/" + std::string(300, 'p');
  WriteCache("0x00000001\t" + url + "\t\n");
  LoadedPlugin& plugin = Load();
  Names names = plugin.List("\\example.com\\www.example.com");
  ASSERT_EQ(names.size(), 1u);
  // FNV-1a 64 of the whole URL, as a reference implementation gives it.
  EXPECT_EQ(names[0], url.substr(0, 242) + "~d66aea907d96c692") << names[0];
  EXPECT_EQ(names[0].size(), 259u);
}

TEST_F(Listing, HandlesNameTheirOwnListingWhateverIsClosedBetween) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  HANDLE root = plugin.FsFindFirst("\\", &record);
  HANDLE site = plugin.FsFindFirst("\\example.com", &record);
  HANDLE host = plugin.FsFindFirst("\\example.com\\www.example.com", &record);
  ASSERT_EQ(host, reinterpret_cast<HANDLE>(3));
  plugin.FsFindClose(site);
  // Each handle still serves its own listing, interleaved.
  ASSERT_EQ(plugin.FsFindNext(root, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "example.com");
  ASSERT_EQ(plugin.FsFindNext(host, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "http://www.example.com/c.htm");
  ASSERT_EQ(plugin.FsFindNext(root, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "example.org");
  // The closed handle serves nothing and leaves the record alone; the
  // lowest free handle is given out next.
  std::memset(&record, 0x55, sizeof record);
  EXPECT_EQ(plugin.FsFindNext(site, &record), kFsFalse);
  EXPECT_EQ(static_cast<unsigned char>(record.cFileName[0]), 0x55);
  HANDLE again = plugin.FsFindFirst("\\example.com", &record);
  EXPECT_EQ(again, site);
  EXPECT_STREQ(record.cFileName, "www.example.com");
  for (HANDLE handle : {root, again, host}) plugin.FsFindClose(handle);
}

TEST_F(Listing, ListingsClosedOutOfOrderFreeTheirHandles) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  // Closing the older of two listings first, again and again, must not use
  // the table up.
  for (int cycle = 0; cycle < 200; ++cycle) {
    HANDLE older = plugin.FsFindFirst("\\", &record);
    HANDLE newer = plugin.FsFindFirst("\\example.com", &record);
    ASSERT_EQ(older, reinterpret_cast<HANDLE>(1)) << "cycle " << cycle;
    ASSERT_EQ(newer, reinterpret_cast<HANDLE>(2)) << "cycle " << cycle;
    plugin.FsFindClose(older);
    plugin.FsFindClose(newer);
  }
  // With 50 open, closing every even handle frees exactly those, lowest first.
  for (intptr_t expected = 1; expected <= 50; ++expected) {
    ASSERT_EQ(plugin.FsFindFirst("\\", &record), reinterpret_cast<HANDLE>(expected));
  }
  for (intptr_t handle = 50; handle >= 2; handle -= 2) plugin.FsFindClose(reinterpret_cast<HANDLE>(handle));
  for (intptr_t expected = 2; expected <= 50; expected += 2) {
    ASSERT_EQ(plugin.FsFindFirst("\\example.com", &record), reinterpret_cast<HANDLE>(expected));
  }
  EXPECT_EQ(plugin.FsFindFirst("\\", &record), INVALID_HANDLE_VALUE);
  ASSERT_EQ(plugin.FsFindNext(reinterpret_cast<HANDLE>(49), &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "example.com") << "an odd handle is still a root listing";
  ASSERT_EQ(plugin.FsFindNext(reinterpret_cast<HANDLE>(50), &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "img.example.com") << "an even one a site listing";
  for (intptr_t handle = 1; handle <= 50; ++handle) plugin.FsFindClose(reinterpret_cast<HANDLE>(handle));
}

TEST_F(Listing, SizesOfFourGibibytesAndMoreKeepTheirHighPart) {
  const uint64_t size = (uint64_t{4} << 30) + 5;
  WriteCache("0x00000001\thttp://www.example.com/big.iso\tcache/big.iso\n");
  WriteFile(System("cache/big.iso"), "");
  std::filesystem::resize_file(System("cache/big.iso"), size);  // sparse: takes no room
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  HANDLE host = plugin.FsFindFirst("\\example.com\\www.example.com", &record);
  ASSERT_NE(host, INVALID_HANDLE_VALUE);
  EXPECT_EQ(record.nFileSizeHigh, 1u);
  EXPECT_EQ(record.nFileSizeLow, 5u);
  plugin.FsFindClose(host);
}

namespace {

std::string Folded(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return name;
}

// Lists path and checks that its names differ from each other without
// regard to case; folders' names must also be one part of a path each.
Names ListDistinct(LoadedPlugin& plugin, const std::string& path, bool folders) {
  Names names = plugin.List(path);
  std::set<std::string> seen;
  for (const std::string& name : names) {
    EXPECT_TRUE(seen.insert(Folded(name)).second) << "listed twice in " << path << ": " << name;
    if (folders) {
      EXPECT_EQ(name.find('\\'), std::string::npos) << path << ": " << name;
    }
  }
  return names;
}

}  // namespace

// Each listed entry is copied through its listed path: the copy holds the
// URL of the entry it came from, so every entry must come out exactly once.
TEST_F(Listing, EveryHostileEntryIsListedOnceUnderANameThatReachesIt) {
  for (const HostileStore& store : HostileStores()) {
    SCOPED_TRACE(store.Name);
    WriteHostileStore(System(), store);
    LoadedPlugin& plugin = Load();
    Names copied;
    Names root = ListDistinct(plugin, "\\", true);
    ASSERT_FALSE(root.empty());
    for (size_t s = 1; s < root.size(); ++s) {
      std::string site = "\\" + root[s];
      for (const std::string& hostName : ListDistinct(plugin, site, true)) {
        std::string host = site + "\\" + hostName;
        for (const std::string& entry : ListDistinct(plugin, host, false)) {
          std::string target = Temp("copy");
          std::remove(target.c_str());
          EXPECT_EQ(plugin.FsGetFile((host + "\\" + entry).c_str(), target.data(), 0, nullptr), kFsCopyOk) << entry;
          copied.push_back(ReadFile(target));
        }
      }
    }
    Names expected = store.Urls;
    std::sort(expected.begin(), expected.end());
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ(copied, expected);
  }
}

TEST_F(Listing, OnlyNamesThatMustChangeDoSoAndTheyStayPut) {
  WriteHostileStore(System(), HostileStores().back());
  LoadedPlugin& plugin = Load();
  const std::string host = "\\example.com\\www.example.com";
  Names entries = plugin.List(host);
  for (const char* kept : {"http://www.example.com/plain", "http://www.example.com/real", "http://www.example.com/lower",
                           "http://WWW.Example.com/upper", "http://www.EXAMPLE.com/3", "http://www.example.com/Case"}) {
    EXPECT_NE(std::find(entries.begin(), entries.end(), kept), entries.end()) << kept;
  }
  EXPECT_EQ(std::find(entries.begin(), entries.end(), "http://www.example.com/CASE"), entries.end());
  EXPECT_NE(std::find(entries.begin(), entries.end(), "http://www.example.com/CASE~aae8c1d3922a8bbe"), entries.end());
  Names hosts = plugin.List("\\example.com");
  EXPECT_NE(std::find(hosts.begin(), hosts.end(), "www.example.com"), hosts.end());
  EXPECT_NE(std::find(hosts.begin(), hosts.end(), "evil_www.example.com~2b7f2892d45a2507"), hosts.end());
  // The folder a backslash host seemed to name holds nothing of another's.
  EXPECT_TRUE(plugin.List("\\example.com\\evil\\www.example.com").empty());

  Names root = plugin.List("\\");
  plugin.EndDelete();
  EXPECT_EQ(plugin.List("\\"), root) << "a refill names everything as before";
  EXPECT_EQ(plugin.List(host), entries);
}

TEST_F(Listing, TheEndOfADeleteOperationRefillsTheCache) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  HANDLE open = plugin.FsFindFirst("\\", &record);
  WriteCache("0x00000001\thttp://new.example.net/\t\n");

  plugin.FsStatusInfo("\\", kFsStatusStart, kFsOperationDelete);
  plugin.FsStatusInfo("\\", kFsStatusEnd, 1);
  EXPECT_EQ(plugin.List("\\").size(), 5u) << "only the end of a deletion reads the cache again";

  plugin.EndDelete();
  EXPECT_EQ(plugin.List("\\"), (Names{"(Reread)", "example.net"}));
  // The listing opened before keeps the items it had.
  ASSERT_EQ(plugin.FsFindNext(open, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "example.com");
  plugin.FsFindClose(open);
}

TEST_F(Listing, SettingsSteerWhatIsListed) {
  WriteIni("Language=English\nShowCookies=256\nSkipDomains=0\n");
  LoadedPlugin& plugin = Load();
  EXPECT_EQ(plugin.List("\\"), (Names{"(Reread)", "example.com", "192.0.2.7", "co.uk"}));

  WriteIni("Language=English\nShowCookies=$FF\n");
  plugin.Init();
  EXPECT_EQ(plugin.List("\\"), (Names{"(Reread)", "example.com", "example.org", "192.0.2.7", "example.co.uk"}));
}

TEST_F(Listing, RereadEntryTakesItsNameFromTheLanguageFile) {
  WriteFile(Lib("Trovex.lng"), "[English]\n1=Caption\n[Other]\n2=Neu\\nladen\n");
  LoadedPlugin& plugin = Load();
  EXPECT_EQ(plugin.List("\\").front(), "(Reread cache)") << "message 2 is missing";

  WriteIni("Language=Other\n");
  plugin.Init();
  EXPECT_EQ(plugin.List("\\").front(), "Neu\rladen");

  // Without a Language key the previous language stays.
  WriteIni("ShowCookies=1\n");
  plugin.Init();
  EXPECT_EQ(plugin.List("\\").front(), "Neu\rladen");
}

TEST_F(Listing, SettingsAreFoundBesideTheLibraryWhateverItsName) {
  WriteIni("Language=English\n");
  LoadedPlugin renamed(Lib(), "renamed-plugin.so");
  renamed.Init();
  EXPECT_EQ(renamed.List("\\").front(), "(Reread)");
}

// A library path that the system cuts names one of the library's parent
// folders, whose files may be anyone's: the settings come from beside the
// library, whatever the length of its path. Every parent holds files that
// would show if they were read.
TEST_F(Listing, SettingsAreFoundBesideTheLibraryWhateverTheLengthOfItsPath) {
  const std::string base = std::filesystem::canonical(Lib()).parent_path().string() + "/deep";
  const std::string parentIni = "[Options]\nLanguage=Parent\n";
  const std::string parentLng = "[Parent]\n2=(Parent folder)\n";
  for (size_t length : {299u, 300u, 301u, 310u, 311u, 600u, 1500u, 4000u}) {
    std::string folder = base + "-" + std::to_string(length);
    WriteFile(folder + "/Trovex.ini", parentIni);
    WriteFile(folder + "/Trovex.lng", parentLng);
    const size_t file = std::string("/Trovex.so").size();
    for (size_t need = length - file - folder.size(); need > 0; need = length - file - folder.size()) {
      folder += "/" + std::string(need > 201 ? 150 : need - 1, 'd');
      if (folder.size() + file < length) {
        WriteFile(folder + "/Trovex.ini", parentIni);
        WriteFile(folder + "/Trovex.lng", parentLng);
      }
    }
    WriteFile(folder + "/Trovex.ini", "[Options]\nLanguage=Beside\n");
    WriteFile(folder + "/Trovex.lng", "[Beside]\n2=(Beside the library)\n");
    LoadedPlugin plugin(folder);
    ASSERT_EQ(plugin.path().size(), length);
    plugin.Init();
    EXPECT_EQ(plugin.List("\\").front(), "(Beside the library)") << "a path of " << length << " bytes";
  }
}

// The prefix is read at the first FsInit, not while the library loads (a
// loader may not be asked for registry keys then), and only once.
TEST_F(Listing, TheCookiePrefixIsReadFromTheRegistryOnceAtTheFirstInit) {
  auto writePrefix = [this](const std::string& prefix) {
    WriteRegistry(
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\"
        "Special Paths\\Cookies]\n\"CachePrefix\"=\"" + prefix + "\"\n");
  };
  WriteCache("0x00100000\tBiscuit:user@www.example.org/\tcache/cookie.txt\n");
  LoadedPlugin& plugin = Load(false);
  writePrefix("Biscuit:");
  plugin.Init();
  EXPECT_EQ(plugin.List("\\"), (Names{"(Reread)", "example.org"}));
  EXPECT_EQ(plugin.List("\\example.org"), (Names{"www.example.org"}));
  writePrefix("Cake:");
  plugin.Init();
  plugin.EndDelete();
  EXPECT_EQ(plugin.List("\\example.org"), (Names{"www.example.org"}));
}

TEST_F(Listing, NullArgumentsFailWithoutTouchingAnything) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  EXPECT_EQ(plugin.FsFindFirst(nullptr, &record), INVALID_HANDLE_VALUE);
  EXPECT_EQ(plugin.FsFindFirst("\\", nullptr), INVALID_HANDLE_VALUE);
  HANDLE root = plugin.FsFindFirst("\\", &record);
  ASSERT_EQ(root, reinterpret_cast<HANDLE>(1)) << "the refused calls opened nothing";
  EXPECT_EQ(plugin.FsFindNext(root, nullptr), kFsFalse);
  ASSERT_EQ(plugin.FsFindNext(root, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "example.com");
  plugin.FsGetDefRootName(nullptr, 10);
  plugin.FsFindClose(root);
}
