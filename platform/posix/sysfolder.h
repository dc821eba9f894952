// The system folder: where this system keeps the stores that stand in for the
// Windows services (registry.reg, urlcache.txt), and the file helpers the
// services share. Internal to platform/posix.
//
// The folder is $TROVEX_SYSTEM, read at each call, or
// $HOME/.local/share/trovex/system when that is unset. A missing folder or
// store reads as empty. Every change to a store is a read-modify-write under
// StoreLock that ends in ReplaceFile, so readers never need a lock and a crash
// leaves the old or the new file whole.
#ifndef TROVEX_PLATFORM_POSIX_SYSFOLDER_H
#define TROVEX_PLATFORM_POSIX_SYSFOLDER_H

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "sysapi.h"

// An open file descriptor, closed by the destructor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// An exclusive flock on `store` + ".lock", held until destruction. The lock
// lives on its own file so that renaming a new store into place keeps it.
// Once it is held, the temporary files that writers killed mid-write left
// beside the store are removed.
class StoreLock {
 public:
  // Blocks until the lock is held; Held() is false when the lock file cannot
  // be opened (errno says why).
  explicit StoreLock(const std::string& store);
  bool Held() const { return fd_.Valid(); }

 private:
  UniqueFd fd_;
};

// Removes the temporary files that ReplaceFile calls killed mid-write left
// beside `store`; call it only while holding the store's lock, so that no
// live writer has one.
void RemoveAbandonedTemporaries(const std::string& store);

// The absolute path of the system folder; never fails (a relative
// $TROVEX_SYSTEM is taken from the working folder).
std::string SystemFolder();

// The path of `name` inside the system folder.
std::string SystemFile(std::string_view name);

// Creates `folder` and its missing parents; false with errno on failure.
bool MakeFolders(const std::string& folder);

// Reads the whole file into `contents`, and its status into `*info` when
// given. False with errno when it cannot be opened or read (a missing file is
// ENOENT, a folder EISDIR, anything else that is no regular file EINVAL, a
// file over 1 GiB EFBIG).
bool ReadWholeFile(const std::string& path, std::string& contents, struct stat* info = nullptr);

// Replaces `path` with `contents` through a temporary file in the same folder
// (written, flushed to disk and renamed over `path`); an existing file's mode
// is kept. False with errno on failure, and then `path` is as it was and no
// temporary file remains.
bool ReplaceFile(const std::string& path, std::string_view contents);

// The Win32 error code that stands for the errno value `err`.
DWORD Win32Error(int err);

// Sets the last error from errno and returns the code set.
DWORD LastErrorFromErrno();

#endif
