#include "cachelock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/stablehash.h"

namespace {

std::mutex containerThreads;

// Debian's Wine names the server's base folder in /tmp after a random word
// kept in the prefix; anything but a plain name there is not used.
std::string ServerBaseTag(const std::string& prefix) {
  std::string tag;
  if (!ReadWholeFile(prefix + "/wineserver", tag) || tag.size() > 64) return {};
  while (!tag.empty() && (tag.back() == '\n' || tag.back() == '\r')) tag.pop_back();
  bool plain = !tag.empty() && tag != "." && tag != ".." && std::all_of(tag.begin(), tag.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
  });
  return plain ? tag : std::string();
}

// Makes `folder` as Wine makes its server folders (0700) when it is missing,
// and checks that it is a folder of this user, not a link.
bool PrivateFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid();
}

// Takes an fcntl write lock on byte 0 of `path`, as the wineserver does,
// without waiting.
DWORD LockByteZero(const std::string& path, UniqueFd& fd) {
  fd.Reset(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.Valid()) return ERROR_ACCESS_DENIED;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  if (fcntl(fd.Get(), F_SETLK, &lock) == 0) return ERROR_SUCCESS;
  DWORD error = errno == EACCES || errno == EAGAIN ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
  fd.Reset();
  return error;
}

}  // namespace

std::string WineServerLockPath(const std::string& prefix) {
  struct stat info;
  if (stat(prefix.c_str(), &info) != 0) return {};
  std::string tag = ServerBaseTag(prefix);
  std::string base = tag.empty() ? "/tmp/.wine-" + std::to_string(getuid()) : "/tmp/" + tag;
  char server[64];
  std::snprintf(server, sizeof server, "/server-%llx-%llx", static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  return base + server + "/lock";
}

std::string NamedContainerLockPath(const std::string& folder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base = runtime != nullptr && *runtime == '/' ? runtime : "/tmp";
  std::error_code error;
  std::filesystem::path real = std::filesystem::weakly_canonical(folder, error);
  char name[64];
  std::snprintf(name, sizeof name, "/trovex-cache-%016llx.lock",
                static_cast<unsigned long long>(StableHash(error ? folder : real.string())));
  return base + name;
}

ContainerLock::ContainerLock(const CacheContainer& container) : threads_(containerThreads) {
  if (container.WinePrefix.empty()) {
    error_ = LockByteZero(NamedContainerLockPath(container.Folder), fd_);
    return;
  }
  std::string path = WineServerLockPath(container.WinePrefix);
  std::filesystem::path server = std::filesystem::path(path).parent_path();
  if (path.empty() || !PrivateFolder(server.parent_path().string()) || !PrivateFolder(server.string())) {
    error_ = ERROR_ACCESS_DENIED;
    return;
  }
  error_ = LockByteZero(path, fd_);
}
