// The file helpers the posix files share: descriptors, whole-file reads and
// writes, and the lock and temporary files every store change goes through.
// Internal to platform/posix.
//
// Every change to a store is a read-modify-write under StoreLock that ends in
// ReplaceFile, so readers never need a lock and a crash leaves the old or the
// new file whole.
#ifndef TROVEX_PLATFORM_POSIX_FILEIO_H
#define TROVEX_PLATFORM_POSIX_FILEIO_H

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace trovex {

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

// A file being written under a temporary name, removed by the destructor
// unless it was put in its final place.
class TempFile {
 public:
  // Creates the file from `pattern`, a path that ends in "XXXXXX"; Valid()
  // is false when it cannot be created (errno says why).
  explicit TempFile(std::string pattern);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Valid() const { return fd_.Valid(); }
  int Fd() const { return fd_.Get(); }
  const std::string& Path() const { return path_; }

  // The caller has moved the file to its place: it is no longer removed.
  void Placed() { path_.clear(); }

  // Flushes the file to disk, closes it and renames it over `target`; false
  // with errno on failure, and then the file is still removed.
  bool Commit(const std::string& target);

 private:
  std::string path_;
  UniqueFd fd_;
};

// Writes all of `data` to `fd`, retrying interrupted and partial writes.
// False when a write fails (errno says why; EIO for a write that makes no
// progress). `*written`, when given, is what reached the file either way.
bool WriteAll(int fd, std::string_view data, size_t* written = nullptr);

// Reads exactly `size` bytes from `fd` into `data`, retrying interrupted and
// partial reads. False when a read fails (errno says why; EIO when the file
// ends first).
bool ReadAll(int fd, char* data, size_t size);

// `path` without trailing slashes; "/" stays as it is.
std::string WithoutTrailingSlashes(std::string path);

// The path as the file system resolves it, absolute, its links and each
// ".." after one followed; empty when it names nothing.
std::string RealPath(const std::string& path);

// The folder part of `path`: "." for a bare name, "/" for a name at the root.
std::string ParentFolder(const std::string& path);

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

// Removes the temporary files of ReplaceFile that writers killed mid-write
// left beside `file`; call it with the lock that guards the file held, so
// that no live writer has one.
void RemoveAbandonedTemporaries(const std::string& file);

// The same for the temporary files of `name` in the folder open as `folder`.
void RemoveAbandonedTemporariesAt(int folder, const std::string& name);

// Opens the folder at `path` for work through its handle, without following
// a link at its last component; invalid with errno when it cannot.
UniqueFd OpenFolder(const std::string& path);

// Creates `folder` and its missing parents; false with errno on failure.
bool MakeFolders(const std::string& folder);

// Reads the whole file into `contents`, and its status into `*info` when
// given. False with errno when it cannot be opened or read (a missing file is
// ENOENT, a folder EISDIR, anything else that is no regular file EINVAL, a
// file over 1 GiB EFBIG).
bool ReadWholeFile(const std::string& path, std::string& contents, struct stat* info = nullptr);

// The bytes of a file read whole, for the stores, which can run to hundreds
// of megabytes: unlike a string's, its memory is not cleared before the read
// fills it.
class FileText {
 public:
  const char* data() const { return data_.get(); }
  size_t size() const { return size_; }
  std::string_view View() const { return {data_.get(), size_}; }

  // Makes room for capacity bytes, keeping every byte of the room made
  // before; the room.
  char* Reserve(size_t capacity);
  // How many bytes of the room hold the file: at most the room made.
  void SetSize(size_t size) { size_ = size <= capacity_ ? size : capacity_; }
  void Clear();

 private:
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Opens the regular file at path for reading, without blocking on a pipe put
// in its place, and its status in `status`; invalid with errno when it cannot
// be opened or is no regular file of a size that can be read whole.
UniqueFd OpenWhole(const std::string& path, struct stat& status);

// ReadWholeFile of the file open as `fd`, read from its start.
bool ReadWholeFd(int fd, std::string& contents, struct stat* info = nullptr);

// ReadWholeFile into a FileText.
bool ReadWholeFile(const std::string& path, FileText& contents, struct stat* info = nullptr);
// The same, reading at most `piece` bytes at a time (0: no limit) and passing
// the bytes read so far to `arrived` after each read, so that a caller can
// work on them while they are still in the processor's caches. The bytes
// move when the file turns out larger than its size said; what `arrived`
// keeps of them must be offsets.
bool ReadWholeFile(const std::string& path, FileText& contents, struct stat* info, size_t piece,
                   const std::function<void(std::string_view)>& arrived);

// Replaces `path` with `contents` through a temporary file in the same folder
// (written, flushed to disk and renamed over `path`); an existing file's mode
// is kept. False with errno on failure, and then `path` is as it was and no
// temporary file remains.
bool ReplaceFile(const std::string& path, std::string_view contents);

// ReplaceFile for `name` in the folder open as `folder`, every step through
// that handle, the new file given `mode`; but only while `name` is still the
// file `expected` (its device and inode), checked right before the rename:
// otherwise false with errno ESTALE, and nothing changed.
bool ReplaceFileAt(int folder, const std::string& name, std::string_view contents, mode_t mode,
                   const struct stat& expected);

}  // namespace trovex

#endif
