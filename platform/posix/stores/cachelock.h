// The lock a change to a container's index.dat is made under. Internal to
// platform/posix.
//
// Deleters of this program take a lock of their own first, a file in a
// folder of this user's that no one else can write to ($XDG_RUNTIME_DIR/trovex,
// else /tmp/trovex-<uid>), one for each prefix or container named alone, so
// that a container folder, which may be read-only, is never written to. A
// deleter waits a few seconds for another; a turnstile byte in the same file
// keeps one that takes the lock again at once from shutting the other out.
//
// A container of a Wine prefix is also locked through the wineserver's own
// lock: every wineserver holds an fcntl write lock on byte 0 of the "lock"
// file in its server folder for as long as it runs, and a wineserver that
// starts while another process holds it waits. Holding it in every place a
// wineserver of the prefix may keep its folder therefore proves that no Wine
// process uses the prefix, and keeps one from starting meanwhile. Since the
// deleters' own lock is held by then, a holder of it is a wineserver, which may
// run for hours: that is refused at once. An in-process mutex keeps the
// threads of this process apart, since fcntl locks do not.
#ifndef TROVEX_PLATFORM_POSIX_CACHELOCK_H
#define TROVEX_PLATFORM_POSIX_CACHELOCK_H

#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/stores/containers.h"
#include "platform/posix/shared/fileio.h"
#include "sysapi.h"

namespace trovex {

class ContainerLock {
 public:
  explicit ContainerLock(const CacheContainer& container);
  // True when the container may be changed now.
  bool Held() const { return error_ == ERROR_SUCCESS; }
  // Why not: ERROR_SHARING_VIOLATION when a wineserver runs in the prefix,
  // ERROR_LOCK_VIOLATION when another deleter held it for the whole wait,
  // ERROR_ACCESS_DENIED when a lock file or its folder cannot be made or is
  // not this user's alone.
  DWORD Error() const { return error_; }

 private:
  DWORD LockWine(const std::string& prefix);

  std::unique_lock<std::timed_mutex> threads_;
  UniqueFd own_;
  std::vector<UniqueFd> wine_;
  DWORD error_ = ERROR_SUCCESS;
};

// The lock files a wineserver serving the prefix may hold:
// <base>/server-<dev>-<inode>/lock. Debian's Wine keeps a name in the
// prefix's "wineserver" file and puts its base folder of that name in $TMPDIR
// when set (relative to the prefix), else in /tmp; since the Wine that runs
// may have another $TMPDIR than this process, /tmp and the user's folder that
// libpam-tmpdir gives (/tmp/user/<uid>, when it exists) count too. Without
// that file the base is /tmp/.wine-<uid>, as upstream Wine has it. Empty when
// the prefix cannot be examined.
std::vector<std::string> WineServerLockPaths(const std::string& prefix);

// The folder of the deleters' own locks.
std::string DeleterLockFolder();

// The deleters' own lock file for a container: one per Wine prefix, or per
// folder named alone, told apart by device and inode. Empty when the folder
// cannot be examined.
std::string DeleterLockPath(const CacheContainer& container);

}  // namespace trovex

#endif
