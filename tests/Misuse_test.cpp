// The entry points misused as a careless or broken host might misuse them:
// null pointers, handles that name nothing, calls out of order, thousands of
// listings, huge and non-ASCII paths, and an unload with listings open. Each
// gets its defined result, and nothing else changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/PluginFixture.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using namespace trovex;

namespace {

using Names = std::vector<std::string>;

const std::string kLongUrl = "http://www.example.com/" + std::string(100000, 'L');
const std::string kHighUrl = "http://www.example.com/\xC3\xA9t\xC3\xA9\xFF\x80\xFE";
const std::string kHost = "\\example.com\\www.example.com";

HANDLE AsHandle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

// True when the process has the file at path mapped.
bool IsMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(path) != std::string::npos) return true;
  return false;
}

// Sets TROVEX_MSGBOX_ANSWER for the life of the object, so that no box
// waits for a terminal.
class AnswerBoxes {
 public:
  AnswerBoxes() { setenv("TROVEX_MSGBOX_ANSWER", "ok", 1); }
  ~AnswerBoxes() { unsetenv("TROVEX_MSGBOX_ANSWER"); }
};

class Misuse : public PluginTest {
 protected:
  void SetUp() override {
    // No browser is registered and none is asked for: "open" fails quietly.
    WriteIni("Language=English\nConfirmOpen=0\n");
    WriteCache("0x00000001\thttp://www.example.com/a.gif\tcache/a.gif\n"
               "0x00000001\thttp://img.example.com/b.png\tcache/b.png\n"
               "0x00000001\t" + kLongUrl + "\tcache/long.bin\n"
               "0x00000001\t" + kHighUrl + "\tcache/high.bin\n");
    WriteFile(System("cache/a.gif"), "gif");
    WriteFile(System("cache/b.png"), "png");
    WriteFile(System("cache/long.bin"), "long");
    WriteFile(System("cache/high.bin"), "high");
  }

  // The handle the next listing gets: the number of open listings plus one.
  intptr_t NextHandle() {
    WIN32_FIND_DATAA record{};
    HANDLE handle = plugin().FsFindFirst("\\", &record);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    plugin().FsFindClose(handle);
    return reinterpret_cast<intptr_t>(handle);
  }

  int32_t Execute(const std::string& path, const char* verb) {
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    return plugin().FsExecuteFile(nullptr, buffer.data(), verb);
  }

  int32_t Get(const std::string& remote, const std::string& local, int32_t flags = 0) {
    std::string target = local;
    return plugin().FsGetFile(remote.c_str(), target.data(), flags, nullptr);
  }

  AnswerBoxes answer_;
};

}  // namespace

TEST_F(Misuse, NullPointersInEveryArgumentAreRefused) {
  LoadedPlugin& plugin = Load(false);
  EXPECT_EQ(plugin.FsInit(1, nullptr, nullptr, nullptr), 0);
  std::string cache = ReadFile(System("urlcache.txt"));

  plugin.FsGetDefRootName(nullptr, 100);
  char name[4] = {'x', 'x', 'x', 'x'};
  plugin.FsGetDefRootName(name, 0);
  plugin.FsGetDefRootName(name, -5);
  EXPECT_EQ(std::string(name, 4), "xxxx") << "no room means nothing written";

  plugin.FsStatusInfo(nullptr, kFsStatusStart, kFsOperationDelete);
  plugin.FsStatusInfo(nullptr, kFsStatusEnd, kFsOperationDelete);

  WIN32_FIND_DATAA record;
  std::memset(&record, 0x55, sizeof record);
  EXPECT_EQ(plugin.FsFindFirst(nullptr, &record), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(plugin.FsFindFirst(kHost.c_str(), nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(static_cast<unsigned char>(record.cFileName[0]), 0x55);
  EXPECT_EQ(NextHandle(), 1) << "the refused calls opened no listing";

  HANDLE host = plugin.FsFindFirst(kHost.c_str(), &record);
  EXPECT_EQ(plugin.FsFindNext(host, nullptr), kFsFalse);
  ASSERT_EQ(plugin.FsFindNext(host, &record), kFsTrue);
  EXPECT_TRUE(std::string(record.cFileName).starts_with(kLongUrl.substr(0, 200)))
      << "a call without a record moves the listing on by nothing";
  EXPECT_EQ(plugin.FsFindClose(nullptr), 0);
  EXPECT_EQ(plugin.FsFindClose(host), 0);

  char local[] = "/nonexistent-folder/copy";
  int marker = 0;
  EXPECT_EQ(plugin.FsGetFile(nullptr, local, 0, nullptr), kFsCopyFailed);
  EXPECT_EQ(plugin.FsGetFile((kHost + "\\http://www.example.com/a.gif").c_str(), nullptr, 0, &marker),
            kFsCopyFailed);
  EXPECT_EQ(plugin.FsDeleteFile(nullptr), kFsFalse);
  char root[] = "\\";
  EXPECT_EQ(plugin.FsExecuteFile(nullptr, nullptr, "open"), kFsExecError);
  EXPECT_EQ(plugin.FsExecuteFile(nullptr, root, nullptr), kFsExecError);
  EXPECT_STREQ(root, "\\");
  EXPECT_EQ(ReadFile(System("urlcache.txt")), cache);
}

TEST_F(Misuse, HandlesThatNameNoListingChangeNothing) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  HANDLE root = plugin.FsFindFirst("\\", &record);
  HANDLE site = plugin.FsFindFirst("\\example.com", &record);
  ASSERT_EQ(site, AsHandle(2));
  HANDLE stale = plugin.FsFindFirst(kHost.c_str(), &record);
  ASSERT_EQ(stale, AsHandle(3));
  plugin.FsFindClose(stale);

  for (HANDLE handle : {AsHandle(0), AsHandle(-1), AsHandle(51), AsHandle(3), AsHandle(-2147483648LL),
                        AsHandle(intptr_t{1} << 40), AsHandle(intptr_t{1} << 32 | 1)}) {
    EXPECT_EQ(plugin.FsFindClose(handle), 0);
  }
  // Handles that name no listing serve nothing; the site listing goes on
  // where it was.
  for (HANDLE handle : {AsHandle(51), AsHandle(-1), AsHandle(3), AsHandle(intptr_t{1} << 32 | 2)}) {
    EXPECT_EQ(plugin.FsFindNext(handle, &record), kFsFalse);
  }
  ASSERT_EQ(plugin.FsFindNext(site, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "img.example.com");
  plugin.FsFindClose(site);
  ASSERT_EQ(plugin.FsFindNext(root, &record), kFsTrue);
  EXPECT_STREQ(record.cFileName, "example.com");
  plugin.FsFindClose(root);
}

TEST_F(Misuse, FindNextWithoutAListingEndsAtOnce) {
  LoadedPlugin& plugin = Load(false);
  WIN32_FIND_DATAA record;
  std::memset(&record, 0x55, sizeof record);
  for (HANDLE handle : {AsHandle(0), AsHandle(1), AsHandle(-1), AsHandle(51)})
    EXPECT_EQ(plugin.FsFindNext(handle, &record), kFsFalse);
  EXPECT_EQ(static_cast<unsigned char>(record.cFileName[0]), 0x55);

  plugin.Init();
  HANDLE root = plugin.FsFindFirst("\\", &record);
  plugin.FsFindClose(root);
  std::memset(&record, 0x55, sizeof record);
  EXPECT_EQ(plugin.FsFindNext(root, &record), kFsFalse);
  EXPECT_EQ(static_cast<unsigned char>(record.cFileName[0]), 0x55);
}

TEST_F(Misuse, InitAgainKeepsOpenListingsAndReadsTheCacheAgain) {
  LoadedPlugin& plugin = Load();
  WIN32_FIND_DATAA record{};
  HANDLE site = plugin.FsFindFirst("\\example.com", &record);
  WriteCache("0x00000001\thttp://new.example.net/\t\n");
  EXPECT_EQ(plugin.FsInit(2, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(plugin.FsInit(3, nullptr, nullptr, nullptr), 0);

  ASSERT_EQ(plugin.FsFindNext(site, &record), kFsTrue) << "an open listing keeps its items";
  EXPECT_STREQ(record.cFileName, "img.example.com");
  plugin.FsFindClose(site);
  EXPECT_EQ(plugin.List("\\"), (Names{"(Reread)", "example.net"}));
}

TEST_F(Misuse, TenThousandListingsOpenAndCloseInTurn) {
  LoadedPlugin& plugin = Load();
  const char* paths[] = {"\\", "\\example.com", kHost.c_str()};
  WIN32_FIND_DATAA record{};
  for (int cycle = 0; cycle < 10000; ++cycle) {
    HANDLE handle = plugin.FsFindFirst(paths[cycle % 3], &record);
    ASSERT_EQ(handle, AsHandle(1)) << "cycle " << cycle;
    if (cycle % 2 == 0) {
      while (plugin.FsFindNext(handle, &record) == kFsTrue) {
      }
    }
    ASSERT_EQ(plugin.FsFindClose(handle), 0);
  }
  EXPECT_EQ(plugin.List("\\example.com"), (Names{"www.example.com", "img.example.com"}));
}

TEST_F(Misuse, PathsOfAHundredThousandBytesAreServedOrRefused) {
  LoadedPlugin& plugin = Load();
  std::string entry = kHost + "\\" + kLongUrl;
  Names listed = plugin.List(kHost);
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[1].size(), MAX_PATH - 1u) << "the name fits the record";
  EXPECT_EQ(Get(kHost + "\\" + listed[1], Temp("listed")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("listed")), "long");
  EXPECT_EQ(Get(entry, Temp("long")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("long")), "long");
  EXPECT_EQ(Execute(entry, "open"), kFsExecError) << "no browser is registered";
  EXPECT_EQ(Execute(entry, "properties"), kFsExecError);

  std::string junk = "\\" + std::string(100000, '\\');
  std::string deep = kHost + "\\" + std::string(100000, 'x');
  for (const std::string& path : {junk, deep}) {
    WIN32_FIND_DATAA record{};
    EXPECT_EQ(plugin.FsFindFirst(path.c_str(), &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Get(path, Temp("none")), kFsCopyFailed);
    EXPECT_EQ(plugin.FsDeleteFile(path.c_str()), kFsFalse);
    EXPECT_EQ(Execute(path, "open"), kFsExecError);
    plugin.FsStatusInfo(path.c_str(), kFsStatusEnd, kFsOperationDelete);
  }
  EXPECT_EQ(Get(entry, Temp(std::string(5000, 'n'))), kFsCopyFailed) << "a local name too long";
  EXPECT_EQ(plugin.FsDeleteFile(entry.c_str()), kFsTrue);
  plugin.EndDelete();
  EXPECT_EQ(plugin.List(kHost).size(), 2u);
}

TEST_F(Misuse, BytesAboveAsciiPassThroughUnchanged) {
  LoadedPlugin& plugin = Load();
  std::string entry = kHost + "\\" + kHighUrl;
  EXPECT_EQ(plugin.List(kHost).back(), kHighUrl);
  EXPECT_EQ(Get(entry, Temp("high")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("high")), "high");

  std::string high(100000, '\xFF');
  for (const std::string& path : {"\\" + high, "\\" + high + "\\" + high, kHost + "\\" + high}) {
    WIN32_FIND_DATAA record{};
    EXPECT_EQ(plugin.FsFindFirst(path.c_str(), &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Get(path, Temp("none")), kFsCopyFailed);
    EXPECT_EQ(plugin.FsDeleteFile(path.c_str()), kFsFalse);
    EXPECT_EQ(Execute(path, "\xFF\xFE"), kFsExecError);
  }
  EXPECT_EQ(plugin.FsDeleteFile(entry.c_str()), kFsTrue);
  plugin.EndDelete();
  std::vector<std::string> left = plugin.List(kHost);
  EXPECT_EQ(std::find(left.begin(), left.end(), kHighUrl), left.end());
}

TEST_F(Misuse, UnloadingWithListingsOpenLeavesNothingBehind) {
  {
    // Every entry point once, and three listings left open.
    LoadedPlugin plugin(Lib());
    plugin.Init();
    char name[16];
    plugin.FsGetDefRootName(name, sizeof name);
    WIN32_FIND_DATAA record{};
    plugin.FsFindFirst("\\", &record);
    plugin.FsFindFirst("\\example.com", &record);
    HANDLE host = plugin.FsFindFirst(kHost.c_str(), &record);
    ASSERT_EQ(plugin.FsFindNext(host, &record), kFsTrue);
    plugin.FsFindClose(plugin.FsFindFirst("\\example.com", &record));
    char root[] = "\\";
    EXPECT_EQ(plugin.FsExecuteFile(nullptr, root, "properties"), kFsExecDone);
    std::string entry = kHost + "\\http://www.example.com/a.gif";
    std::vector<char> remote(entry.c_str(), entry.c_str() + entry.size() + 1);
    EXPECT_EQ(plugin.FsExecuteFile(nullptr, remote.data(), "open"), kFsExecError);
    std::string copy = Temp("copy");
    EXPECT_EQ(plugin.FsGetFile(entry.c_str(), copy.data(), 0, nullptr), kFsCopyOk);
    plugin.FsStatusInfo(kHost.c_str(), kFsStatusStart, kFsOperationDelete);
    EXPECT_EQ(plugin.FsDeleteFile(entry.c_str()), kFsTrue);
    plugin.FsStatusInfo(kHost.c_str(), kFsStatusEnd, kFsOperationDelete);
    EXPECT_TRUE(IsMapped(plugin.path()));
  }
  EXPECT_FALSE(IsMapped(Lib("Trovex.so"))) << "the library stays loaded, so its leaks would go unseen";
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "the unloaded library left memory behind";
#endif

  // Loaded again, it starts afresh.
  LoadedPlugin& again = Load(false);
  WIN32_FIND_DATAA record{};
  HANDLE root = again.FsFindFirst("\\", &record);
  EXPECT_EQ(root, AsHandle(1));
  EXPECT_STREQ(record.cFileName, "(Reread cache)");
  again.FsFindClose(root);
}
