// Where the Linux URL cache finds its containers, and the lock a change to
// one is made under.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/stores/cachelock.h"
#include "platform/posix/stores/containers.h"
#include "platform/system.h"
#include "platform/win32api.h"
#include "tests/support/EnumeratedUrls.h"
#include "tests/support/TempFolder.h"

using namespace trovex;

namespace fs = std::filesystem;

namespace {

constexpr char kKey[] = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1700000000\n";

TEST(NamedFolders, FolderListsSplitAtColons) {
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
    for (const char* name : {"TROVEX_CACHE_1", "TROVEX_CACHE_2", "TROVEX_CACHE_4"}) unsetenv(name);
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

  std::vector<std::string> problems = DescribeCacheSources().Skipped;
  ASSERT_EQ(problems.size(), 4u) << testing::PrintToString(problems);
  EXPECT_EQ(problems[0], Temp("empty") + ": no cache index in it");
  EXPECT_TRUE(problems[1].starts_with(cookies + "/index.dat: ")) << problems[1];
  EXPECT_TRUE(problems[2].starts_with(Temp("copy/Content.IE5") + "/index.dat: ")) << problems[2];

  setenv("TROVEX_WINEPREFIX", Temp("nowhere").c_str(), 1);
  unsetenv("TROVEX_CACHE");
  CacheSources none = DescribeCacheSources();
  EXPECT_EQ(none.Skipped, std::vector<std::string>{Temp("nowhere") + ": no such Wine prefix"});
  EXPECT_TRUE(none.NoneRead);
  unsetenv("TROVEX_WINEPREFIX");
  EXPECT_FALSE(ContainersConfigured());
}

// TROVEX_CACHE_1, _2, ... name a folder each, ':' and all, up to the first
// unset or empty one, before the folders of TROVEX_CACHE.
TEST_F(WinePrefix, NumberedVariablesNameAFolderEachBeforeTheList) {
  AddIndex(Temp("disk:c/Content.IE5"));
  AddIndex(Temp("plain"));
  AddIndex(Temp("last"));
  setenv("TROVEX_CACHE_1", Temp("disk:c/Content.IE5").c_str(), 1);
  setenv("TROVEX_CACHE_2", Temp("plain").c_str(), 1);
  setenv("TROVEX_CACHE_4", Temp("last").c_str(), 1);  // after a gap: not read
  setenv("TROVEX_CACHE", Temp("last").c_str(), 1);

  ASSERT_TRUE(ContainersConfigured());
  std::vector<std::string> folders;
  for (const CacheContainer& container : ConfiguredContainers()) folders.push_back(container.Folder);
  EXPECT_EQ(folders, (std::vector<std::string>{Temp("disk:c/Content.IE5"), Temp("plain"), Temp("last")}));

  setenv("TROVEX_CACHE_2", "", 1);
  unsetenv("TROVEX_CACHE");
  folders.clear();
  for (const CacheContainer& container : ConfiguredContainers()) folders.push_back(container.Folder);
  EXPECT_EQ(folders, (std::vector<std::string>{Temp("disk:c/Content.IE5")}));
  unsetenv("TROVEX_CACHE_1");
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


// Restores an environment variable's value, or its absence, when it ends.
class EnvironmentScope {
 public:
  explicit EnvironmentScope(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) old_ = value;
  }
  ~EnvironmentScope() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  EnvironmentScope(const EnvironmentScope&) = delete;
  EnvironmentScope& operator=(const EnvironmentScope&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(WinePrefix, TheServerLockLiesWhereverTheWineserverMayTakeIt) {
  EnvironmentScope tmpdir("TMPDIR");
  struct stat info;
  ASSERT_EQ(stat(Prefix().c_str(), &info), 0);
  char server[64];
  std::snprintf(server, sizeof server, "/server-%llx-%llx/lock", static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  std::string upstream = "/tmp/.wine-" + std::to_string(getuid()) + server;
  std::string perUser = "/tmp/user/" + std::to_string(getuid());
  std::string tail = fs::exists(perUser) ? perUser + "/wine-Ab3_x" + server : "";
  struct Row {
    const char* Tag;
    std::optional<std::string> Tmpdir;
    std::vector<std::string> Expected;
  };
  const std::vector<Row> rows = {
      {"wine-Ab3_x\n", std::nullopt, {"/tmp/wine-Ab3_x" + std::string(server)}},
      {"wine-Ab3_x", Temp("tmp/"), {Temp("tmp") + "/wine-Ab3_x" + server, "/tmp/wine-Ab3_x" + std::string(server)}},
      {"wine-Ab3_x", "/tmp", {"/tmp/wine-Ab3_x" + std::string(server)}},
      // The wineserver takes a relative or empty $TMPDIR from the prefix.
      {"wine-Ab3_x", "rel", {Prefix("rel/wine-Ab3_x") + server, "/tmp/wine-Ab3_x" + std::string(server)}},
      {"wine-Ab3_x", "", {Prefix("wine-Ab3_x") + server, "/tmp/wine-Ab3_x" + std::string(server)}},
      {"../../etc", Temp("tmp"), {upstream}},
      {"..", std::nullopt, {upstream}},
      {"", std::nullopt, {upstream}},
  };
  for (const Row& row : rows) {
    WriteFile(Prefix("wineserver"), row.Tag);
    if (row.Tmpdir) {
      setenv("TMPDIR", row.Tmpdir->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::vector<std::string> expected = row.Expected;
    if (!tail.empty() && expected.front() != upstream) expected.push_back(tail);
    EXPECT_EQ(WineServerLockPaths(Prefix()), expected) << row.Tag << " " << row.Tmpdir.value_or("(unset)");
  }
  EXPECT_TRUE(WineServerLockPaths(Temp("nowhere")).empty());
}

// A child process that holds byte 0 of a lock file the way a running
// wineserver does, until it is told to let go or the time given is up.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path, int releaseAfterMs = -1) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(release_) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(release_[1]);
      mkdir(fs::path(path).parent_path().c_str(), 0700);
      int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_len = 1;
      char byte = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
      if (write(ready[1], &byte, 1) != 1) _exit(1);
      pollfd release{release_[0], POLLIN, 0};
      poll(&release, 1, releaseAfterMs);
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

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A wineserver holds its lock for hours: a change is refused at once, in
// whichever of the places it may keep its folder it runs.
TEST_F(WinePrefix, AChangeIsRefusedWhileAWineserverHoldsItsLock) {
  EnvironmentScope tmpdir("TMPDIR"), runtime("XDG_RUNTIME_DIR");
  fs::create_directories(Temp("tmp"));
  fs::create_directories(Temp("runtime"));
  setenv("TMPDIR", Temp("tmp").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", Temp("runtime").c_str(), 1);
  std::string tag = "trovex-test-" + std::to_string(getpid());
  WriteFile(Prefix("wineserver"), tag);
  CacheContainer container{Prefix("drive_c/users/joe/AppData/Local/Microsoft/Windows/INetCookies"), Prefix()};
  std::vector<std::string> locks = WineServerLockPaths(Prefix());
  ASSERT_GE(locks.size(), 2u);
  {
    ContainerLock free(container);
    EXPECT_TRUE(free.Held()) << free.Error();
    struct stat info;
    ASSERT_EQ(stat(fs::path(locks[0]).parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
  }
  for (const std::string& lock : locks) {
    LockHolder wineserver(lock);
    ASSERT_TRUE(wineserver.Held());
    auto start = std::chrono::steady_clock::now();
    ContainerLock refused(container);
    EXPECT_FALSE(refused.Held()) << lock;
    EXPECT_EQ(refused.Error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << lock;
    EXPECT_LT(SecondsSince(start), 1.0) << "a wineserver is not waited for";
  }
  EXPECT_TRUE(ContainerLock(container).Held());
  std::error_code ignored;
  fs::remove_all("/tmp/" + tag, ignored);
}

// The real wineserver, where one is installed: with $TMPDIR set it keeps its
// folder there, and a change is refused while it runs.
TEST_F(WinePrefix, AChangeIsRefusedWhileARealWineserverRunsWithTmpdirSet) {
  if (std::system("command -v wineserver >/dev/null 2>&1") != 0) GTEST_SKIP() << "no wineserver installed";
  EnvironmentScope tmpdir("TMPDIR"), runtime("XDG_RUNTIME_DIR"), prefix("WINEPREFIX");
  fs::create_directories(Temp("tmp"));
  fs::permissions(Temp("tmp"), fs::perms::owner_all);
  fs::create_directories(Temp("runtime"));
  setenv("TMPDIR", Temp("tmp").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", Temp("runtime").c_str(), 1);
  setenv("WINEPREFIX", Prefix().c_str(), 1);
  ASSERT_EQ(std::system("wineserver -p 30"), 0);
  CacheContainer container{Prefix("drive_c/users/joe/AppData/Local/Microsoft/Windows/INetCookies"), Prefix()};
  DWORD error = ERROR_SUCCESS;
  for (int i = 0; i < 200 && error == ERROR_SUCCESS; ++i) {
    // The wineserver writes its folder's name into the prefix as it starts.
    if (fs::exists(Prefix("wineserver"))) error = ContainerLock(container).Error();
    usleep(20'000);
  }
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(std::system("wineserver -k"), 0);
  ASSERT_EQ(std::system("wineserver -w"), 0);
  EXPECT_TRUE(ContainerLock(container).Held());
  std::string tag = ReadFile(Prefix("wineserver"));
  std::error_code ignored;
  if (!tag.empty() && tag.find('/') == std::string::npos) fs::remove_all("/tmp/" + tag, ignored);
}

TEST_F(WinePrefix, DeletersLockInAFolderOfTheirUsersAlone) {
  EnvironmentScope runtime("XDG_RUNTIME_DIR");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(DeleterLockFolder(), "/tmp/trovex-" + std::to_string(getuid()));
  setenv("XDG_RUNTIME_DIR", Temp("runtime/").c_str(), 1);
  EXPECT_EQ(DeleterLockFolder(), Temp("runtime") + "/trovex");
  std::string folder = Temp("copy/Content.IE5");
  fs::create_directories(folder);
  CacheContainer container{folder, ""};
  std::string lock = DeleterLockPath(container);
  EXPECT_TRUE(lock.starts_with(Temp("runtime") + "/trovex/")) << lock;
  EXPECT_EQ(DeleterLockPath({folder + "/", ""}), lock);
  EXPECT_NE(DeleterLockPath({Temp("copy"), ""}), lock);

  // What another user could have planted in the lock's place, or its folder's.
  struct Row {
    const char* What;
    std::function<void()> Plant;
    bool NeedsRoot;
  };
  const std::string other = Temp("elsewhere");
  const std::vector<Row> rows = {
      {"the folder a link", [&] { fs::create_directory_symlink(other, Temp("runtime/trovex")); }, false},
      {"the folder open to others",
       [&] {
         fs::create_directory(Temp("runtime/trovex"));
         chmod(Temp("runtime/trovex").c_str(), 0777);
       },
       false},
      {"the folder another's",
       [&] {
         fs::create_directory(Temp("runtime/trovex"), Temp("runtime"));
         chmod(Temp("runtime/trovex").c_str(), 0700);
         if (chown(Temp("runtime/trovex").c_str(), 4242, 4242) != 0) std::abort();
       },
       true},
      {"the lock a link",
       [&] {
         fs::create_directory(Temp("runtime/trovex"));
         chmod(Temp("runtime/trovex").c_str(), 0700);
         fs::create_symlink(other + "/lock", lock);
       },
       false},
      {"the lock another's",
       [&] {
         fs::create_directory(Temp("runtime/trovex"));
         chmod(Temp("runtime/trovex").c_str(), 0700);
         WriteFile(lock, "");
         chmod(lock.c_str(), 0666);
         if (chown(lock.c_str(), 4242, 4242) != 0) std::abort();
       },
       true},
      {"the lock a folder",
       [&] {
         fs::create_directories(lock);
         chmod(Temp("runtime/trovex").c_str(), 0700);
       },
       false},
  };
  for (const Row& row : rows) {
    if (row.NeedsRoot && geteuid() != 0) continue;  // no other owner can be given
    fs::remove_all(Temp("runtime"));
    fs::create_directories(Temp("runtime"));
    fs::create_directories(other);
    row.Plant();
    ContainerLock refused(container);
    EXPECT_FALSE(refused.Held()) << row.What;
    EXPECT_EQ(refused.Error(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << row.What;
    EXPECT_FALSE(fs::exists(other + "/lock")) << row.What;
  }
  fs::remove_all(Temp("runtime"));
  fs::create_directories(Temp("runtime"));
  EXPECT_TRUE(ContainerLock(container).Held());
  EXPECT_TRUE(fs::is_empty(folder));
}

// Another deleter is waited for, a few seconds at most; then the refusal says
// it was a deleter, not Wine.
TEST_F(WinePrefix, ADeleterWaitsForAnotherForAFewSeconds) {
  EnvironmentScope runtime("XDG_RUNTIME_DIR");
  setenv("XDG_RUNTIME_DIR", Temp("").c_str(), 1);
  std::string folder = Temp("copy/Content.IE5");
  fs::create_directories(folder);
  CacheContainer container{folder, ""};
  ASSERT_TRUE(ContainerLock(container).Held());
  {
    LockHolder other(DeleterLockPath(container), 300);
    ASSERT_TRUE(other.Held());
    ContainerLock waited(container);
    EXPECT_TRUE(waited.Held()) << waited.Error();
  }
  {
    LockHolder other(DeleterLockPath(container));
    ASSERT_TRUE(other.Held());
    auto start = std::chrono::steady_clock::now();
    ContainerLock refused(container);
    EXPECT_EQ(refused.Error(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_LT(SecondsSince(start), 30.0);
  }
  EXPECT_TRUE(fs::is_empty(folder));
}

// Two deleters that each take the lock again as soon as they let go of it
// take turns: neither is shut out.
TEST_F(WinePrefix, TwoDeletersAtOnceTakeTurns) {
  EnvironmentScope runtime("XDG_RUNTIME_DIR");
  setenv("XDG_RUNTIME_DIR", Temp("").c_str(), 1);
  std::string folder = Temp("copy/Content.IE5");
  fs::create_directories(folder);
  const int kRounds = 200;
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int refused = 0;
      for (int i = 0; i < kRounds; ++i) {
        ContainerLock lock({folder, ""});
        refused += lock.Held() ? 0 : 1;
        usleep(1000);  // a deletion's work
      }
      _exit(refused > 0 ? 1 : 0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a deleter was refused";
  }
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
    LockHolder other(DeleterLockPath({content, ""}));
    ASSERT_TRUE(other.Held());
    EXPECT_FALSE(DeleteUrlCacheEntryA(doomed.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(ReadFile(content + "/index.dat"), before);
  }
  EXPECT_TRUE(DeleteUrlCacheEntryA(doomed.c_str())) << GetLastError();
  urls.pop_back();
  EXPECT_EQ(EnumeratedUrls(), urls);
  EXPECT_EQ(ReadFile(Temp("system/urlcache.txt")), "0x00000001\thttp://text.example.com/\t\n");
  unsetenv("TROVEX_SYSTEM");
  unsetenv("XDG_RUNTIME_DIR");
}

// Two copies of one container share every URL; each entry still says which
// copy it came from.
TEST_F(WinePrefix, EachEntryNamesTheContainerItCameFrom) {
  std::string samples = TROVEX_INDEXDAT_SAMPLES;
  std::string first = Temp("first/History.IE5"), second = Temp("second/History.IE5");
  fs::create_directories(Temp("first"));
  fs::create_directories(Temp("second"));
  fs::copy(samples + "/greendale/History.IE5", first);
  fs::copy(samples + "/greendale/History.IE5", second);
  setenv("TROVEX_CACHE", (first + ":" + second).c_str(), 1);

  std::vector<std::pair<std::string, std::string>> seen;
  std::vector<char> buffer(1 << 16);
  auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  DWORD size = static_cast<DWORD>(buffer.size());
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, record, &size);
  ASSERT_NE(handle, nullptr);
  do {
    seen.emplace_back(record->lpszSourceUrlName, EntryContainer(handle));
    size = static_cast<DWORD>(buffer.size());
  } while (FindNextUrlCacheEntryA(handle, record, &size));
  FindCloseUrlCache(handle);
  EXPECT_EQ(EntryContainer(handle), "");

  ASSERT_EQ(seen.size(), 2u * 15u);
  for (size_t i = 0; i < 15; ++i) {
    EXPECT_EQ(seen[i].first, seen[15 + i].first);
    EXPECT_EQ(seen[i].second, first) << i;
    EXPECT_EQ(seen[15 + i].second, second) << i;
  }
}

}  // namespace
