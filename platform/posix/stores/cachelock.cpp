#include "platform/posix/stores/cachelock.h"
#include "base/Ascii.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace trovex {

namespace {

using Clock = std::chrono::steady_clock;

std::timed_mutex containerThreads;

// How long a deleter waits for another: a deletion holds the lock for one
// read and rewrite of an index, well under this even at 16 MiB.
constexpr auto kDeleterWait = std::chrono::seconds(3);
constexpr auto kPollPause = std::chrono::milliseconds(2);

// The bytes of the deleters' lock file: the lock itself, and the turnstile a
// deleter passes on its way to it.
constexpr off_t kHeldByte = 0;
constexpr off_t kTurnstileByte = 1;

std::string UserId() {
  return std::to_string(getuid());
}

// Debian's Wine names the server's base folder after a random word kept in
// the prefix; anything but a plain name there is not used.
std::string ServerBaseTag(const std::string& prefix) {
  std::string tag;
  if (!ReadWholeFile(prefix + "/wineserver", tag) || tag.size() > 64) return {};
  while (!tag.empty() && (tag.back() == '\n' || tag.back() == '\r')) tag.pop_back();
  bool plain = !tag.empty() && tag != "." && tag != ".." && std::all_of(tag.begin(), tag.end(), [](char c) {
    return IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.';
  });
  return plain ? tag : std::string();
}

// The folders a wineserver of the prefix may make its base folder in, as
// Debian's Wine picks it: $TMPDIR, taken from the prefix when relative (the
// wineserver works there), then /tmp and libpam-tmpdir's folder.
std::vector<std::string> TemporaryFolders(const std::string& prefix) {
  std::vector<std::string> folders;
  auto add = [&](const std::string& folder) {
    std::string plain = WithoutTrailingSlashes(folder);
    if (std::find(folders.begin(), folders.end(), plain) == folders.end()) folders.push_back(plain);
  };
  if (const char* tmpdir = std::getenv("TMPDIR")) {
    add(*tmpdir == '/' ? std::string(tmpdir) : *tmpdir != '\0' ? prefix + "/" + tmpdir : prefix);
  }
  add("/tmp");
  std::string perUser = "/tmp/user/" + UserId();
  struct stat info {};
  if (stat(perUser.c_str(), &info) == 0) add(perUser);
  return folders;
}

bool PrivateToUs(const struct stat& info) {
  return info.st_uid == getuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Makes `folder` as Wine makes its server folders (0700) when it is missing,
// and checks that it is a folder, no link, of this user's alone.
bool PrivateFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && PrivateToUs(info);
}

// Opens the lock file `path`, made when missing; only a regular file of this
// user's, not reached through a link.
UniqueFd OpenLockFile(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  struct stat info {};
  if (!fd.Valid() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != getuid())
    return UniqueFd();
  return fd;
}

enum class Take { kTaken, kHeld, kFailed };

// Sets an fcntl lock of `type` on one byte of fd, as the wineserver locks
// byte 0, without waiting.
Take TryByte(int fd, off_t byte, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  if (fcntl(fd, F_SETLK, &lock) == 0) return Take::kTaken;
  return errno == EACCES || errno == EAGAIN ? Take::kHeld : Take::kFailed;
}

Take TakeByteBy(int fd, off_t byte, Clock::time_point deadline) {
  for (;;) {
    Take result = TryByte(fd, byte, F_WRLCK);
    if (result != Take::kHeld || Clock::now() >= deadline) return result;
    std::this_thread::sleep_for(kPollPause);
  }
}

// Takes the deleters' lock by the deadline. The turnstile is held while
// waiting for the lock, so that a deleter that lets go and comes back at once
// waits behind the one that waited: two deleters take turns.
DWORD TakeDeleterLock(const std::string& path, UniqueFd& fd, Clock::time_point deadline) {
  if (path.empty() || !PrivateFolder(DeleterLockFolder())) return ERROR_ACCESS_DENIED;
  fd = OpenLockFile(path);
  if (!fd.Valid()) return ERROR_ACCESS_DENIED;
  Take passed = TakeByteBy(fd.Get(), kTurnstileByte, deadline);
  Take held = passed == Take::kTaken ? TakeByteBy(fd.Get(), kHeldByte, deadline) : passed;
  if (passed == Take::kTaken) TryByte(fd.Get(), kTurnstileByte, F_UNLCK);
  if (held == Take::kTaken) return ERROR_SUCCESS;
  fd.Reset();
  return held == Take::kHeld ? ERROR_LOCK_VIOLATION : ERROR_ACCESS_DENIED;
}

// A wineserver cannot start where the folder of its base folder is missing.
bool CanHoldServer(const std::string& lockPath) {
  std::filesystem::path base = std::filesystem::path(lockPath).parent_path().parent_path();
  struct stat info {};
  return stat(base.parent_path().c_str(), &info) == 0 || errno != ENOENT;
}

}  // namespace

std::vector<std::string> WineServerLockPaths(const std::string& prefix) {
  struct stat info {};
  if (stat(prefix.c_str(), &info) != 0) return {};
  char server[64];
  std::snprintf(server, sizeof server, "/server-%llx-%llx/lock", static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  std::string tag = ServerBaseTag(prefix);
  if (tag.empty()) return {"/tmp/.wine-" + UserId() + server};
  std::vector<std::string> paths;
  for (const std::string& folder : TemporaryFolders(prefix)) paths.push_back(folder + "/" + tag + server);
  return paths;
}

std::string DeleterLockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return WithoutTrailingSlashes(runtime) + "/trovex";
  return "/tmp/trovex-" + UserId();
}

std::string DeleterLockPath(const CacheContainer& container) {
  bool prefix = !container.WinePrefix.empty();
  struct stat info {};
  if (stat((prefix ? container.WinePrefix : container.Folder).c_str(), &info) != 0) return {};
  char name[80];
  std::snprintf(name, sizeof name, "/%s-%llx-%llx.lock", prefix ? "prefix" : "container",
                static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
  return DeleterLockFolder() + name;
}

ContainerLock::ContainerLock(const CacheContainer& container) : threads_(containerThreads, std::defer_lock) {
  Clock::time_point deadline = Clock::now() + kDeleterWait;
  if (!threads_.try_lock_until(deadline)) {
    error_ = ERROR_LOCK_VIOLATION;
    return;
  }
  error_ = TakeDeleterLock(DeleterLockPath(container), own_, deadline);
  if (error_ == ERROR_SUCCESS && !container.WinePrefix.empty()) error_ = LockWine(container.WinePrefix);
  if (!Held()) {
    wine_.clear();
    own_.Reset();
  }
}

// Locks every place the prefix's wineserver may hold its lock, without
// waiting: a wineserver found in any refuses, and so does any place that
// cannot be examined.
DWORD ContainerLock::LockWine(const std::string& prefix) {
  std::vector<std::string> paths = WineServerLockPaths(prefix);
  DWORD error = paths.empty() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
  for (const std::string& path : paths) {
    if (!CanHoldServer(path)) continue;
    std::filesystem::path server = std::filesystem::path(path).parent_path();
    UniqueFd fd;
    if (PrivateFolder(server.parent_path().string()) && PrivateFolder(server.string())) fd = OpenLockFile(path);
    Take taken = fd.Valid() ? TryByte(fd.Get(), 0, F_WRLCK) : Take::kFailed;
    if (taken == Take::kHeld) return ERROR_SHARING_VIOLATION;
    if (taken == Take::kFailed) error = ERROR_ACCESS_DENIED;
    if (taken == Take::kTaken) wine_.push_back(std::move(fd));
  }
  return error;
}

}  // namespace trovex
