// Copying entries out and deleting them, through the loaded library.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/HostileCache.h"
#include "tests/support/PluginFixture.h"

using namespace trovex;

namespace {

constexpr char kEntry[] = "\\example.com\\www.example.com\\http://www.example.com/a.gif";

class FileOps : public PluginTest {
 protected:
  void SetUp() override {
    WriteCache(
        "0x00000001\thttp://www.example.com/a.gif\tcache/a.gif\n"
        "0x00000001\thttp://www.example.com/a.gif\tcache/second.gif\n"
        "0x00000001\thttp://www.example.com/gone.htm\tcache/gone.htm\n"
        "0x00000001\thttp://www.example.com/nofile\t\n"
        "0x00000001\thttp://www.example.com/back\\slash\tcache/slash\n"
        "0x00000001\thttp://img.example.com/b.png\tcache/b.png\n");
    WriteFile(System("cache/a.gif"), std::string("GIF89a\0\x01\x02", 9));
    WriteFile(System("cache/second.gif"), "second");
    WriteFile(System("cache/slash"), "slash");
    WriteFile(System("cache/b.png"), "png");
  }

  int32_t Get(const std::string& remote, const std::string& target, int32_t flags = 0) {
    std::string local = target;
    return plugin().FsGetFile(remote.c_str(), local.data(), flags, nullptr);
  }
};

}  // namespace

TEST_F(FileOps, CopiesTheFirstEntrysLocalFileByteForByte) {
  Load();
  EXPECT_EQ(Get(kEntry, Temp("out.gif")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("out.gif")), ReadFile(System("cache/a.gif")));
  EXPECT_EQ(Get("\\example.com\\www.example.com\\http://www.example.com/back\\slash", Temp("slash")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("slash")), "slash");
}

TEST_F(FileOps, CopyingTheRereadEntryWritesAOneBytePlaceholder) {
  Load();
  EXPECT_EQ(Get("\\(Reread)", Temp("reread")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("reread")), "?");
  EXPECT_EQ(Get("\\(Reread)", Temp("reread")), kFsCopyExists);
  WriteFile(Temp("reread"), "older content");
  EXPECT_EQ(Get("\\(Reread)", Temp("reread"), kFsCopyOverwrite), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("reread")), "?");
  // Another letter case is not the RereadEntry, and names no entry.
  EXPECT_EQ(Get("\\(REREAD)", Temp("upper")), kFsCopyFailed);
}

// What lies at the target decides, not what a pattern would match; a link
// there is not written through, and a pipe there does not stall the copy.
TEST_F(FileOps, ThePlaceholderIsWrittenOnlyToAFileOfExactlyItsName) {
  Load();
  WriteFile(Temp("linked"), "outside");
  std::filesystem::create_symlink(Temp("linked"), Temp("link"));
  std::filesystem::create_symlink(Temp("nowhere"), Temp("dangling"));
  ASSERT_EQ(mkfifo(Temp("fifo").c_str(), 0600), 0);
  WriteFile(Temp("a1"), "a file that a pattern a? would match");
  struct Row {
    const char* target;
    int32_t flags;
    int32_t result;
    bool placeholder;  // the target holds "?" afterwards
  };
  const Row rows[] = {
      {"a?", 0, kFsCopyOk, true},
      {"*", 0, kFsCopyOk, true},
      {"link", 0, kFsCopyExists, false},
      {"link", kFsCopyOverwrite, kFsCopyFailed, false},
      {"dangling", kFsCopyOverwrite, kFsCopyFailed, false},
      {"fifo", 0, kFsCopyExists, false},
      {"fifo", kFsCopyOverwrite, kFsCopyFailed, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Get("\\(Reread)", Temp(row.target), row.flags), row.result) << row.target;
    EXPECT_EQ(!std::filesystem::is_fifo(Temp(row.target)) && ReadFile(Temp(row.target)) == "?", row.placeholder)
        << row.target;
  }
  EXPECT_EQ(ReadFile(Temp("linked")), "outside");
  EXPECT_FALSE(std::filesystem::exists(Temp("nowhere")));
  EXPECT_EQ(ReadFile(Temp("a1")), "a file that a pattern a? would match");
}

TEST_F(FileOps, NeverOverwritesWithoutTheOverwriteFlag) {
  Load();
  WriteFile(Temp("target"), "keep me");
  EXPECT_EQ(Get(kEntry, Temp("target")), kFsCopyExists);
  EXPECT_EQ(ReadFile(Temp("target")), "keep me");
  EXPECT_EQ(Get(kEntry, Temp("target"), kFsCopyOverwrite), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("target")), ReadFile(System("cache/a.gif")));
}

TEST_F(FileOps, AFailedCopyIsReportedEvenOverAnExistingTarget) {
  Load();
  std::remove(System("cache/gone.htm").c_str());
  WriteFile(Temp("target"), "keep me");
  const char* failing[] = {
      "\\example.com\\www.example.com\\http://www.example.com/gone.htm",  // local file missing
      "\\example.com\\www.example.com\\http://www.example.com/nofile",    // no local file at all
      "\\example.com\\www.example.com\\http://www.example.com/unknown",   // not in the snapshot
      "\\example.com\\www.example.com",                                   // a folder
  };
  for (const char* remote : failing) {
    EXPECT_EQ(Get(remote, Temp("target"), kFsCopyOverwrite), kFsCopyFailed) << remote;
    EXPECT_EQ(ReadFile(Temp("target")), "keep me") << remote;
    EXPECT_EQ(Get(remote, Temp("fresh")), kFsCopyFailed) << remote;
    EXPECT_FALSE(std::filesystem::exists(Temp("fresh"))) << remote;
  }
  EXPECT_EQ(Get(kEntry, Temp("no/such/folder/out.gif")), kFsCopyFailed);
}

// Two URLs that share their first 259 bytes: each listed name, and each
// whole URL, copies and deletes its own entry, never the other.
TEST_F(FileOps, LongUrlsSharingTheirStartEachReachTheirOwnEntry) {
  const std::string host = "\\example.com\\www.example.com\\";
  const std::string first = kSharedStart + "/1";
  const std::string second = kSharedStart + "/2";
  WriteHostileStore(System(), HostileStores().front());
  LoadedPlugin& plugin = Load();
  std::vector<std::string> listed = plugin.List(host);
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_NE(listed[0], listed[1]);
  EXPECT_EQ(Get(host + listed[1], Temp("by-name")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("by-name")), second);
  EXPECT_EQ(Get(host + first, Temp("by-url")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("by-url")), first);
  EXPECT_EQ(Get(host + first.substr(0, 259), Temp("cut")), kFsCopyFailed) << "a cut URL names neither";

  EXPECT_EQ(plugin.FsDeleteFile((host + first.substr(0, 259)).c_str()), kFsFalse);
  EXPECT_EQ(plugin.FsDeleteFile((host + listed[1]).c_str()), kFsTrue);
  plugin.EndDelete();
  std::string store = ReadFile(System("urlcache.txt"));
  EXPECT_EQ(store.find(second), std::string::npos);
  EXPECT_NE(store.find(first + "\t"), std::string::npos) << "the neighbour stays";
  EXPECT_EQ(plugin.List(host), (std::vector<std::string>{listed[0], listed[2]}));
}

TEST_F(FileOps, ADeletedEntryLeavesTheListingAtTheEndOfTheOperation) {
  LoadedPlugin& plugin = Load();
  const std::string host = "\\example.com\\img.example.com";
  plugin.FsStatusInfo(host.c_str(), kFsStatusStart, kFsOperationDelete);
  EXPECT_EQ(plugin.FsDeleteFile((host + "\\http://img.example.com/b.png").c_str()), kFsTrue);
  EXPECT_EQ(plugin.List(host).size(), 1u) << "the snapshot keeps it until the operation ends";
  plugin.FsStatusInfo(host.c_str(), kFsStatusEnd, kFsOperationDelete);
  EXPECT_TRUE(plugin.List(host).empty());
  EXPECT_EQ(plugin.List("\\example.com"), (std::vector<std::string>{"www.example.com"}));
  EXPECT_EQ(ReadFile(System("urlcache.txt")).find("img.example.com"), std::string::npos);
}

TEST_F(FileOps, DeletingWhatTheCacheDoesNotHoldFails) {
  LoadedPlugin& plugin = Load();
  std::string before = ReadFile(System("urlcache.txt"));
  EXPECT_EQ(plugin.FsDeleteFile("\\example.com\\www.example.com\\http://www.example.com/unknown"), kFsFalse);
  EXPECT_EQ(plugin.FsDeleteFile("\\example.com\\www.example.com"), kFsFalse);
  EXPECT_EQ(plugin.FsDeleteFile("\\example.com"), kFsFalse);
  EXPECT_EQ(plugin.FsDeleteFile("\\(Reread)"), kFsFalse);
  EXPECT_EQ(plugin.FsDeleteFile(nullptr), kFsFalse);
  EXPECT_EQ(ReadFile(System("urlcache.txt")), before);
}

TEST_F(FileOps, NullPathsFailTheCopy) {
  LoadedPlugin& plugin = Load();
  char target[] = "/nonexistent/target";
  EXPECT_EQ(plugin.FsGetFile(nullptr, target, 0, nullptr), kFsCopyFailed);
  EXPECT_EQ(plugin.FsGetFile(kEntry, nullptr, 0, nullptr), kFsCopyFailed);
}

TEST_F(FileOps, ARefillPointsCopiesAtTheNewSnapshot) {
  LoadedPlugin& plugin = Load();
  WriteCache(
      "0x00000001\thttp://www.example.com/moved\tcache/b.png\n"
      "0x00000001\thttp://www.example.com/a.gif\tcache/second.gif\n");
  EXPECT_EQ(Get(kEntry, Temp("before")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("before")), ReadFile(System("cache/a.gif"))) << "the snapshot holds until a refill";
  plugin.EndDelete();
  EXPECT_EQ(Get(kEntry, Temp("after")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("after")), "second");
  EXPECT_EQ(Get("\\example.com\\www.example.com\\http://www.example.com/moved", Temp("moved")), kFsCopyOk);
  EXPECT_EQ(ReadFile(Temp("moved")), "png");
  EXPECT_EQ(Get("\\example.com\\www.example.com\\http://www.example.com/back\\slash", Temp("gone")), kFsCopyFailed);
}
