#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/win32api.h"
#include "tests/support/SystemFolder.h"

using namespace trovex;

namespace {

std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

class Files : public ::testing::Test {
 protected:
  TempSystemFolder dir;

  std::vector<std::string> Find(const std::string& pattern) {
    WIN32_FIND_DATAA record;
    HANDLE search = FindFirstFileA(pattern.c_str(), &record);
    if (search == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << pattern;
      return {};
    }
    std::vector<std::string> names;
    do names.push_back(record.cFileName);
    while (FindNextFileA(search, &record));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST(FindData, KeepsTheWindowsRecordLayout) {
  EXPECT_EQ(sizeof(WIN32_FIND_DATAA), 320u);
  EXPECT_EQ(offsetof(WIN32_FIND_DATAA, ftCreationTime), 4u);
  EXPECT_EQ(offsetof(WIN32_FIND_DATAA, ftLastWriteTime), 20u);
  EXPECT_EQ(offsetof(WIN32_FIND_DATAA, nFileSizeHigh), 28u);
  EXPECT_EQ(offsetof(WIN32_FIND_DATAA, nFileSizeLow), 32u);
  EXPECT_EQ(offsetof(WIN32_FIND_DATAA, cFileName), 44u);
  EXPECT_EQ(offsetof(WIN32_FIND_DATAA, cAlternateFileName), 304u);
}

TEST_F(Files, PatternsMatchInTheLastComponent) {
  for (const char* name : {"a.txt", "b.txt", "ab.log", "noext"}) dir.Write(name, "x");
  std::filesystem::create_directory(dir.File("sub"));
  using Names = std::vector<std::string>;
  struct Case {
    const char* pattern;
    Names expected;
  } cases[] = {
      {"*.txt", {"a.txt", "b.txt"}},
      {"?.txt", {"a.txt", "b.txt"}},
      {"a*", {"a.txt", "ab.log"}},
      {"*b.*", {"ab.log", "b.txt"}},
      {"*", {"a.txt", "ab.log", "b.txt", "noext", "sub"}},
      {"*.*", {"a.txt", "ab.log", "b.txt", "noext", "sub"}},
      {"sub", {"sub"}},
      {"noext", {"noext"}},
      {"x*", {}},
      {"missing", {}},
      {"missing/*", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Find(dir.File(c.pattern)), c.expected) << c.pattern;
  EXPECT_EQ(Find(""), Names{});
}

TEST_F(Files, RecordCarriesAttributesSizeAndTimes) {
  std::string big = dir.File("big.bin");
  {
    TempSystemFolder::WriteBytes(big, "");
    ASSERT_EQ(truncate(big.c_str(), (5LL << 30) + 7), 0);  // sparse: takes no space
  }
  timespec times[2] = {{1000000000, 0}, {1000000000, 500}};  // 2001-09-09 01:46:40 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, big.c_str(), times, 0), 0);
  ASSERT_EQ(chmod(big.c_str(), 0444), 0);

  WIN32_FIND_DATAA record;
  std::memset(&record, 0x5A, sizeof record);
  HANDLE search = FindFirstFileA(big.c_str(), &record);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(record.nFileSizeHigh, 1u);
  EXPECT_EQ(record.nFileSizeLow, (1u << 30) + 7);
  uint64_t written = (uint64_t{1000000000} + 11644473600u) * 10000000u + 5;
  EXPECT_EQ(record.ftLastWriteTime.dwLowDateTime, static_cast<DWORD>(written));
  EXPECT_EQ(record.ftLastWriteTime.dwHighDateTime, static_cast<DWORD>(written >> 32));
  EXPECT_STREQ(record.cFileName, "big.bin");
  EXPECT_EQ(record.dwReserved0, 0u);
  EXPECT_EQ(record.cAlternateFileName[0], '\0');
  EXPECT_FALSE(FindNextFileA(search, &record));
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));

  search = FindFirstFileA(dir.Path().c_str(), &record);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  FindClose(search);
}

class CopyFile : public Files {
 protected:
  std::string source = dir.File("source.bin");
  std::string target = dir.File("target.bin");
  std::string content = std::string(300000, 'z') + "end";

  void SetUp() override {
    dir.Write("source.bin", content);
    dir.Write("target.bin", "old target");
  }
};

TEST_F(CopyFile, ReplacesTheTargetAndKeepsTheModificationTime) {
  timespec times[2] = {{1500000000, 0}, {1500000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE));
  EXPECT_EQ(TempSystemFolder::ReadBytes(target), content);
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1500000000);
  EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"source.bin", "target.bin"}));
}

TEST_F(CopyFile, FailIfExistsLeavesTheTargetAlone) {
  EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(TempSystemFolder::ReadBytes(target), "old target");

  std::string fresh = dir.File("fresh.bin");
  ASSERT_TRUE(CopyFileA(source.c_str(), fresh.c_str(), TRUE));
  EXPECT_EQ(TempSystemFolder::ReadBytes(fresh), content);
  EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"fresh.bin", "source.bin", "target.bin"}));
}

TEST_F(CopyFile, UnusableSourcesFailWithoutTouchingTheTarget) {
  EXPECT_FALSE(CopyFileA(dir.File("absent").c_str(), target.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(CopyFileA(dir.Path().c_str(), target.c_str(), FALSE));
  EXPECT_FALSE(CopyFileA(nullptr, target.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(CopyFileA(source.c_str(), dir.File("no/such/folder/x").c_str(), FALSE));
  EXPECT_EQ(TempSystemFolder::ReadBytes(target), "old target");
  EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"source.bin", "target.bin"}));
}

// Below a store's folder (here the system folder, which is the cache folder,
// and a container named alone) the names were chosen by strangers: only a
// regular file reached through no link is copied. Elsewhere a link is
// followed, as Windows follows it.
TEST_F(CopyFile, BelowAStoreFolderNoLinkIsFollowed) {
  TempFolder outside;
  std::string secret = outside / "secret", container = outside / "Content.IE5";
  WriteFile(secret, "secret");
  WriteFile(container + "/index.dat", "index");
  WriteFile(container + "/AB12/real.bin", "cached");
  std::filesystem::create_symlink(secret, container + "/AB12/link.bin");
  std::filesystem::create_directory_symlink(outside.path(), container + "/LINKED");
  std::filesystem::create_symlink(secret, outside / "plain-link");
  WriteFile(dir.File("real/in.bin"), "cached");
  std::filesystem::create_symlink(secret, dir.File("link.bin"));
  std::filesystem::create_directory_symlink(outside.path(), dir.File("sub"));
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  setenv("TROVEX_CACHE", container.c_str(), 1);
  struct Row {
    std::string Source;
    const char* Copied;  // nullptr: refused
  };
  const std::vector<Row> rows = {
      {dir.File("real/in.bin"), "cached"},
      {dir.File("link.bin"), nullptr},
      {dir.File("sub/secret"), nullptr},
      {dir.File("real/../link.bin"), nullptr},
      {dir.File("pipe"), nullptr},
      {container + "/AB12/real.bin", "cached"},
      {container + "/AB12/link.bin", nullptr},
      {container + "/LINKED/secret", nullptr},
      {outside / "plain-link", "secret"},
  };
  for (const Row& row : rows) {
    dir.Write("target.bin", "old target");
    BOOL copied = CopyFileA(row.Source.c_str(), target.c_str(), FALSE);
    if (row.Copied != nullptr) {
      EXPECT_TRUE(copied) << row.Source << " " << GetLastError();
      EXPECT_EQ(dir.Read("target.bin"), row.Copied) << row.Source;
    } else {
      EXPECT_FALSE(copied) << row.Source;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << row.Source;
      EXPECT_EQ(dir.Read("target.bin"), "old target") << row.Source;
    }
  }
  unsetenv("TROVEX_CACHE");
}

TEST_F(CopyFile, CopyThatFailsHalfwayLeavesTheTargetAndNoPartialFile) {
  // A file-size limit below the source's size makes the write fail midway.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(CopyFileA(source.c_str(), target.c_str(), FALSE) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the copy should have failed";
  EXPECT_EQ(TempSystemFolder::ReadBytes(target), "old target");
  EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"source.bin", "target.bin"}));
}

}  // namespace

// A caller grows its buffer until the path fits: a path that does not fit
// must say so by filling the buffer, never pass for a whole path.
TEST(GetModuleFileNameA, ReturnsTheBufferSizeWhenThePathIsCut) {
  const std::string program = std::filesystem::canonical("/proc/self/exe").string();
  const DWORD length = static_cast<DWORD>(program.size());
  struct Row {
    DWORD size;
    DWORD result;
    std::string text;
    bool cut;
  };
  const Row rows[] = {
      {length + 10, length, program, false},
      {length + 1, length, program, false},
      {length, length, program.substr(0, length - 1), true},
      {length - 1, length - 1, program.substr(0, length - 2), true},
      {1, 1, "", true},
  };
  for (const Row& row : rows) {
    std::vector<char> buffer(row.size + 1, 'x');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer.data(), row.size), row.result) << "size " << row.size;
    EXPECT_EQ(std::string(buffer.data()), row.text) << "size " << row.size;
    EXPECT_EQ(GetLastError(), row.cut ? static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER) : 0u) << "size " << row.size;
  }
  char none[1] = {'x'};
  EXPECT_EQ(GetModuleFileNameA(nullptr, none, 0), 0u);
  EXPECT_EQ(none[0], 'x') << "a buffer of no bytes is not written";
}
