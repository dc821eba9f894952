// The lock a change to a container's index.dat is made under. Internal to
// platform/posix.
//
// A container of a Wine prefix is locked through the wineserver's own lock:
// every wineserver holds an fcntl write lock on byte 0 of the "lock" file in
// its server folder for as long as it runs, and a wineserver that starts
// while another process holds it waits. Holding it therefore proves that no
// Wine process uses the prefix, and keeps one from starting meanwhile. A
// container named alone (a copy from a disk) is locked through a file of its
// own in $XDG_RUNTIME_DIR (else /tmp), so that the container folder, which
// may be read-only, is not written to. Both are taken without waiting; an
// in-process mutex keeps the threads of this process apart, since fcntl
// locks do not.
#ifndef TROVEX_PLATFORM_POSIX_CACHELOCK_H
#define TROVEX_PLATFORM_POSIX_CACHELOCK_H

#include <mutex>
#include <string>

#include "containers.h"
#include "fileio.h"
#include "sysapi.h"

class ContainerLock {
 public:
  explicit ContainerLock(const CacheContainer& container);
  // True when the container may be changed now.
  bool Held() const { return error_ == ERROR_SUCCESS; }
  // ERROR_SHARING_VIOLATION when Wine or another process holds the lock,
  // ERROR_ACCESS_DENIED when the lock file cannot be made.
  DWORD Error() const { return error_; }

 private:
  std::unique_lock<std::mutex> threads_;
  UniqueFd fd_;
  DWORD error_ = ERROR_SUCCESS;
};

// The lock file of the wineserver that serves the prefix:
// <base>/server-<dev>-<inode>/lock, where <base> is /tmp/ and the name in
// the prefix's "wineserver" file when it holds one (Debian's Wine), else
// /tmp/.wine-<uid>. Empty when the prefix cannot be examined.
std::string WineServerLockPath(const std::string& prefix);

// The lock file for a container named alone.
std::string NamedContainerLockPath(const std::string& folder);

#endif
