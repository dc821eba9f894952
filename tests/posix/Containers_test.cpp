// Where the Linux URL cache finds its containers, and the lock a change to
// one is made under.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cachelock.h"
#include "containers.h"
#include "platform/win32api.h"
#include "tests/support/EnumeratedUrls.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

constexpr char kKey[] = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1700000000\n";

struct ValueCase {
  const char* What;
  std::string UserReg;
  const char* Name;
  std::optional<std::string> Expected;
};

TEST(UserReg, ReadsOnlyPlainStringsOfTheShellFoldersKey) {
  const std::string cache = "\"Cache\"=\"C:\\\\users\\\\joe\\\\INetCache\"\n";
  const std::vector<ValueCase> cases = {
      {"escaped backslashes", std::string(kKey) + cache, "Cache", "C:\\users\\joe\\INetCache"},
      {"names ignore case", std::string(kKey) + cache, "cache", "C:\\users\\joe\\INetCache"},
      {"key ignores case", "[software\\\\microsoft\\\\windows\\\\currentversion\\\\explorer\\\\shell folders]\n" + cache,
       "Cache", "C:\\users\\joe\\INetCache"},
      {"CR LF lines", std::string("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders]\r\n") +
                          "\"Cache\"=\"C:\\\\a\"\r\n",
       "Cache", "C:\\a"},
      {"another key's value", "[Software\\\\Other]\n" + cache, "Cache", std::nullopt},
      {"the key after it", std::string(kKey) + "[Software\\\\Other]\n" + cache, "Cache", std::nullopt},
      {"the User Shell Folders key",
       "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\User Shell Folders]\n" + cache, "Cache",
       std::nullopt},
      {"an expandable string", std::string(kKey) + "\"Cache\"=str(2):\"%USERPROFILE%\\\\x\"\n", "Cache", std::nullopt},
      {"a quote in the value", std::string(kKey) + "\"Cache\"=\"C:\\\\a \\\"b\\\"\"\n", "Cache", "C:\\a \"b\""},
      {"a UTF-16 escape", std::string(kKey) + "\"Cache\"=\"C:\\\\Jos\\x00e9\"\n", "Cache", "C:\\Jos\xc3\xa9"},
      {"an unclosed value", std::string(kKey) + "\"Cache\"=\"C:\\\\a\n", "Cache", std::nullopt},
      {"a backslash at the end", std::string(kKey) + "\"Cache\"=\"C:\\", "Cache", std::nullopt},
      {"the last value wins", std::string(kKey) + "\"Cache\"=\"C:\\\\a\"\n\"Cache\"=\"C:\\\\b\"\n", "Cache", "C:\\b"},
      {"garbage", std::string("\0\xff[\"\\", 5), "Cache", std::nullopt},
      {"an unclosed key", "[Software\\\\Microsoft\n" + cache, "Cache", std::nullopt},
  };
  for (const ValueCase& c : cases) {
    EXPECT_EQ(ShellFolderValue(c.UserReg, c.Name), c.Expected) << c.What;
  }
}

TEST(UserReg, WindowsPathsStayInsideTheirDrive) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"C:\\users\\joe\\INetCache", "/p/dosdevices/c:/users/joe/INetCache"},
      {"d:\\Cache\\\\Content.IE5\\", "/p/dosdevices/d:/Cache/Content.IE5"},
      {"C:\\", "/p/dosdevices/c:"},
      {"C:\\users\\..\\..\\etc", std::nullopt},
      {"C:\\users\\.\\joe", std::nullopt},
      {"C:\\a/b", std::nullopt},
      {"C:\\a\x1b[2Jb", std::nullopt},
      {"\\\\server\\share\\x", std::nullopt},
      {"users\\joe", std::nullopt},
      {"C:users", std::nullopt},
      {"1:\\x", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [windows, expected] : cases) EXPECT_EQ(PrefixPath("/p", windows), expected) << windows;
}

TEST(UserReg, FolderListsSplitAtColons) {
  EXPECT_EQ(SplitFolderList("/a:/b c::/d:"), (std::vector<std::string>{"/a", "/b c", "/d"}));
  EXPECT_TRUE(SplitFolderList("::").empty());
}

// A Wine prefix in a temporary folder, its C: drive linked as Wine links it.
class WinePrefix : public ::testing::Test {
 protected:
  WinePrefix() {
    fs::create_directories(Prefix("drive_c"));
    fs::create_directories(Prefix("dosdevices"));
    fs::create_directory_symlink("../drive_c", Prefix("dosdevices/c:"));
  }
  ~WinePrefix() override {
    unsetenv("TROVEX_WINEPREFIX");
    unsetenv("TROVEX_CACHE");
  }

  std::string Prefix(const std::string& name = "") const {
    return (name.empty() ? temp_.path() / "prefix" : temp_.path() / "prefix" / name).string();
  }
  std::string Temp(const std::string& name) const { return temp_ / name; }

  void AddIndex(const std::string& folder, const std::string& bytes = "index") {
    WriteFile(folder + "/index.dat", bytes);
  }

  std::vector<std::string> Folders() {
    std::vector<std::string> folders;
    for (const CacheContainer& container : WinePrefixContainers(Prefix())) {
      EXPECT_EQ(container.WinePrefix, Prefix());
      folders.push_back(container.Folder);
    }
    return folders;
  }

 private:
  TempFolder temp_;
};

TEST_F(WinePrefix, FindsTheFoldersUserRegNamesInWinesOrder) {
  WriteFile(Prefix("user.reg"), std::string("WINE REGISTRY Version 2\n\n") + kKey +
                                    "\"Cache\"=\"C:\\\\Caches\\\\Web\"\n"
                                    "\"Cookies\"=\"c:\\\\Caches\\\\Crumbs\"\n"
                                    "\"History\"=\"C:\\\\Caches\\\\Past\"\n");
  std::string c = Prefix("dosdevices/c:");
  AddIndex(Prefix("drive_c/Caches/Web/Content.IE5"));
  AddIndex(Prefix("drive_c/Caches/Crumbs"));
  AddIndex(Prefix("drive_c/Caches/Past/History.IE5"));
  // The standard folders are not looked at once user.reg names any.
  AddIndex(Prefix("drive_c/users/joe/AppData/Local/Microsoft/Windows/INetCookies"));
  EXPECT_EQ(Folders(), (std::vector<std::string>{c + "/Caches/Crumbs", c + "/Caches/Past/History.IE5",
                                                 c + "/Caches/Web/Content.IE5"}));
}

TEST_F(WinePrefix, FallsBackToEveryUsersStandardFoldersAndLeavesOutEmptyOnes) {
  WriteFile(Prefix("user.reg"), "garbage\n[unclosed\n\"Cache\"=\"C:\\\\x\"\n");
  std::string joe = Prefix("drive_c/users/joe/AppData/Local/Microsoft/Windows");
  std::string ann = Prefix("drive_c/users/ann/AppData/Local/Microsoft/Windows");
  AddIndex(joe + "/INetCache/Content.IE5");
  AddIndex(joe + "/History/History.IE5");
  AddIndex(ann + "/INetCookies");
  fs::create_directories(ann + "/INetCache/Content.IE5");  // no index yet
  EXPECT_EQ(Folders(), (std::vector<std::string>{ann + "/INetCookies", joe + "/History/History.IE5",
                                                 joe + "/INetCache/Content.IE5"}));
}

TEST_F(WinePrefix, NamedFoldersFollowThePrefixAndEachProblemIsSaid) {
  std::string cookies = Prefix("drive_c/users/joe/AppData/Local/Microsoft/Windows/INetCookies");
  AddIndex(cookies, std::string(0x4080, 'x'));
  AddIndex(Temp("copy/Content.IE5"), "too short");
  fs::create_directories(Temp("empty"));
  setenv("TROVEX_WINEPREFIX", Prefix().c_str(), 1);
  setenv("TROVEX_CACHE", (Temp("copy/Content.IE5") + ":" + Temp("empty") + ":" + Temp("copy/Content.IE5/")).c_str(), 1);

  ASSERT_TRUE(ContainersConfigured());
  std::vector<std::string> folders;
  for (const CacheContainer& container : ConfiguredContainers()) folders.push_back(container.Folder);
  EXPECT_EQ(folders, (std::vector<std::string>{cookies, Temp("copy/Content.IE5"), Temp("copy/Content.IE5")}));

  std::vector<std::string> problems = ContainerProblems();
  ASSERT_EQ(problems.size(), 4u) << testing::PrintToString(problems);
  EXPECT_EQ(problems[0], Temp("empty") + ": no index.dat in it");
  EXPECT_TRUE(problems[1].starts_with(cookies + "/index.dat: ")) << problems[1];
  EXPECT_TRUE(problems[2].starts_with(Temp("copy/Content.IE5") + "/index.dat: ")) << problems[2];

  setenv("TROVEX_WINEPREFIX", Temp("nowhere").c_str(), 1);
  unsetenv("TROVEX_CACHE");
  EXPECT_EQ(ContainerProblems(), std::vector<std::string>{Temp("nowhere") + ": no such Wine prefix"});
  unsetenv("TROVEX_WINEPREFIX");
  EXPECT_FALSE(ContainersConfigured());
}

// "link/.." is the link's target's parent, whatever the text reads as; the
// containers are handed out under their real paths, dosdevices/c: followed.
TEST_F(WinePrefix, FoldersAreResolvedByTheFileSystemNotByTheirText) {
  WriteFile(Prefix("user.reg"), std::string(kKey) + "\"Cookies\"=\"C:\\\\Caches\\\\Crumbs\"\n");
  AddIndex(Prefix("drive_c/Caches/Crumbs"));
  AddIndex(Temp("deep/copy"));
  AddIndex(Temp("copy"));  // what the text of "link/../copy" names
  fs::create_directories(Temp("deep/inner"));
  fs::create_directory_symlink(Temp("deep/inner"), Temp("link"));
  fs::create_directory_symlink(Prefix("drive_c"), Temp("deep/inner/prefixlink"));
  // The text of this one names link itself, which holds no prefix.
  setenv("TROVEX_WINEPREFIX", Temp("link/prefixlink/..").c_str(), 1);
  setenv("TROVEX_CACHE", Temp("link/../copy").c_str(), 1);

  std::vector<CacheContainer> containers = ConfiguredContainers();
  ASSERT_EQ(containers.size(), 2u);
  EXPECT_EQ(containers[0].Folder, fs::canonical(Prefix("drive_c/Caches/Crumbs")).string());
  EXPECT_EQ(containers[0].WinePrefix, fs::canonical(Prefix()).string());
  EXPECT_EQ(containers[1].Folder, fs::canonical(Temp("deep/copy")).string());
}

TEST_F(WinePrefix, TheServerLockLiesWhereTheWineserverTakesIt) {
  struct stat info;
  ASSERT_EQ(stat(Prefix().c_str(), &info), 0);
  char server[64];
  std::snprintf(server, sizeof server, "/server-%llx-%llx/lock", static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"wine-Ab3_x\n", "/tmp/wine-Ab3_x"},
      {"../../etc", "/tmp/.wine-" + std::to_string(getuid())},
      {"..", "/tmp/.wine-" + std::to_string(getuid())},
      {"", "/tmp/.wine-" + std::to_string(getuid())},
  };
  for (const auto& [tag, base] : cases) {
    WriteFile(Prefix("wineserver"), tag);
    EXPECT_EQ(WineServerLockPath(Prefix()), base + server) << tag;
  }
  EXPECT_EQ(WineServerLockPath(Temp("nowhere")), "");
}

// A child process that holds the wineserver's lock byte the way a running
// wineserver does, until it is told to let go.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(release_) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(release_[1]);
      int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_len = 1;
      char byte = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
      if (write(ready[1], &byte, 1) != 1 || read(release_[0], &byte, 1) < 0) _exit(1);
      _exit(0);
    }
    close(release_[0]);
    char byte = 'n';
    held_ = read(ready[0], &byte, 1) == 1 && byte == 'y';
    close(ready[0]);
    close(ready[1]);
  }
  ~LockHolder() {
    close(release_[1]);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool Held() const { return held_; }

 private:
  int release_[2];
  pid_t pid_ = -1;
  bool held_ = false;
};

TEST_F(WinePrefix, AChangeIsRefusedWhileAWineserverHoldsItsLock) {
  std::string tag = "trovex-test-" + std::to_string(getpid());
  WriteFile(Prefix("wineserver"), tag);
  CacheContainer container{Prefix("drive_c/users/joe/AppData/Local/Microsoft/Windows/INetCookies"), Prefix()};
  std::string lock = WineServerLockPath(Prefix());
  {
    ContainerLock free(container);
    EXPECT_TRUE(free.Held()) << free.Error();
    struct stat info;
    ASSERT_EQ(stat(fs::path(lock).parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
  }
  {
    LockHolder wineserver(lock);
    ASSERT_TRUE(wineserver.Held());
    ContainerLock refused(container);
    EXPECT_FALSE(refused.Held());
    EXPECT_EQ(refused.Error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(ContainerLock(container).Held());
  std::error_code ignored;
  fs::remove_all("/tmp/" + tag, ignored);
}

TEST_F(WinePrefix, ANamedFolderIsLockedOutsideItself) {
  std::string runtime = Temp("runtime");
  fs::create_directories(runtime);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  std::string folder = Temp("copy/Content.IE5");
  fs::create_directories(folder);
  std::string lock = NamedContainerLockPath(folder);
  EXPECT_TRUE(lock.starts_with(runtime + "/trovex-cache-")) << lock;
  EXPECT_EQ(NamedContainerLockPath(folder + "/"), lock);
  EXPECT_NE(NamedContainerLockPath(Temp("copy/Cookies")), lock);
  {
    LockHolder other(lock);
    ASSERT_TRUE(other.Held());
    EXPECT_EQ(ContainerLock({folder, ""}).Error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(ContainerLock({folder, ""}).Held());
  EXPECT_FALSE(fs::exists(folder + "/index.dat.lock"));
  EXPECT_TRUE(fs::is_empty(folder));
  unsetenv("XDG_RUNTIME_DIR");
}

// Named containers serve the cache instead of the text store, in the order
// given; a deletion reaches the container that holds the URL, under its lock.
TEST_F(WinePrefix, NamedContainersServeTheCacheCallsInTheirOrder) {
  std::string samples = TROVEX_INDEXDAT_SAMPLES;
  std::string content = Temp("copy/Content.IE5"), history = Temp("copy/History.IE5");
  fs::create_directories(Temp("copy"));
  fs::copy(samples + "/greendale/Content.IE5", content);
  fs::copy(samples + "/greendale/History.IE5", history);
  WriteFile(Temp("system/urlcache.txt"), "0x00000001\thttp://text.example.com/\t\n");
  setenv("TROVEX_SYSTEM", Temp("system").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", Temp("").c_str(), 1);
  ASSERT_EQ(EnumeratedUrls(), std::vector<std::string>{"http://text.example.com/"});

  setenv("TROVEX_CACHE", (history + ":" + content).c_str(), 1);
  std::vector<std::string> urls = EnumeratedUrls();
  ASSERT_EQ(urls.size(), 15u + 21u);
  EXPECT_TRUE(urls.front().starts_with("Visited: ")) << urls.front();
  EXPECT_TRUE(urls.back().starts_with("http")) << urls.back();
  std::string doomed = urls.back();

  EXPECT_FALSE(DeleteUrlCacheEntryA("http://text.example.com/"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  std::string before = ReadFile(content + "/index.dat");
  {
    LockHolder other(NamedContainerLockPath(content));
    ASSERT_TRUE(other.Held());
    EXPECT_FALSE(DeleteUrlCacheEntryA(doomed.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ReadFile(content + "/index.dat"), before);
  }
  EXPECT_TRUE(DeleteUrlCacheEntryA(doomed.c_str())) << GetLastError();
  urls.pop_back();
  EXPECT_EQ(EnumeratedUrls(), urls);
  EXPECT_EQ(ReadFile(Temp("system/urlcache.txt")), "0x00000001\thttp://text.example.com/\t\n");
  unsetenv("TROVEX_SYSTEM");
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
