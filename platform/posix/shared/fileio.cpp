#include "platform/posix/shared/fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>

#include "platform/posix/shared/sysfolder.h"

namespace trovex {

namespace {

// No file is read whole beyond this: holding a bigger one would put the
// host's memory at risk, and no store or settings file grows near it.
constexpr uint64_t kMaxFileSize = uint64_t{1} << 30;

// Keeps errno across cleanup so that a failure's reason survives the
// destructors that run after it was recorded.
class ErrnoGuard {
 public:
  ErrnoGuard() : saved_(errno) {}
  ~ErrnoGuard() { errno = saved_; }
  ErrnoGuard(const ErrnoGuard&) = delete;
  ErrnoGuard& operator=(const ErrnoGuard&) = delete;

 private:
  int saved_;
};

// ReplaceFile's temporary files for `store` are its name, ".tmp." and six
// characters.
bool IsTemporaryOf(std::string_view name, std::string_view store) {
  return name.size() == store.size() + 11 && name.starts_with(store) &&
         name.substr(store.size(), 5) == ".tmp.";
}

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The rename is only durable once the folder's entry is on disk too.
void SyncFolder(const std::string& folder) {
  UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) fsync(dir.Get());
}

}  // namespace

std::string ParentFolder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view data, size_t* written) {
  if (written != nullptr) *written = 0;
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
    if (written != nullptr) *written += static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, char* data, size_t size) {
  for (size_t done = 0; done < size;) {
    ssize_t n = read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string result(resolved);
  std::free(resolved);
  return result;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

TempFile::TempFile(std::string pattern) : path_(std::move(pattern)) {
  fd_.Reset(mkostemp(path_.data(), O_CLOEXEC));
  if (!fd_.Valid()) path_.clear();
}

TempFile::~TempFile() {
  ErrnoGuard keep;
  fd_.Reset();
  if (!path_.empty()) unlink(path_.c_str());
}

bool TempFile::Commit(const std::string& target) {
  if (fsync(fd_.Get()) != 0 || close(fd_.Release()) != 0) return false;
  if (rename(path_.c_str(), target.c_str()) != 0) return false;
  Placed();
  return true;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

UniqueFd::~UniqueFd() {
  Reset();
}

int UniqueFd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) {
    ErrnoGuard keep;
    close(fd_);
  }
  fd_ = fd;
}

void RemoveAbandonedTemporaries(const std::string& store) {
  ErrnoGuard keep;
  UniqueFd folder(open(ParentFolder(store).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid()) RemoveAbandonedTemporariesAt(folder.Get(), NameOf(store));
}

void RemoveAbandonedTemporariesAt(int folder, const std::string& name) {
  ErrnoGuard keep;
  // The listing reads through a handle of its own, which closedir closes.
  int listed = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listed < 0) return;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(listed), closedir);
  if (!dir) {
    close(listed);
    return;
  }
  while (dirent* entry = readdir(dir.get())) {
    if (IsTemporaryOf(entry->d_name, name)) unlinkat(folder, entry->d_name, 0);
  }
}

UniqueFd OpenFolder(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

StoreLock::StoreLock(const std::string& store) {
  std::string path = store + kLockSuffix;
  fd_.Reset(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd_.Valid()) return;
  while (flock(fd_.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      fd_.Reset();
      return;
    }
  }
  RemoveAbandonedTemporaries(store);
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat info {};
  if (stat(folder.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  std::string parent = ParentFolder(folder);
  if (parent != folder && !MakeFolders(parent)) return false;
  return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

namespace {

// Whether a file of this status may be read whole; false with errno if not.
bool ReadableWhole(const struct stat& status) {
  if (!S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (static_cast<uint64_t>(status.st_size) > kMaxFileSize) {
    errno = EFBIG;
    return false;
  }
  return true;
}

// Opens path for a whole read and checks it is a regular file of a size
// that may be read; the open file, or an invalid one with errno set.

// The read loop of every ReadWholeFile: reads fd to its end into room that
// room(capacity) makes, as a file may grow while it is read, at most piece
// bytes a call, telling arrived(buffer, used) after each; false with errno on
// failure. One spare byte beyond the size lets the read that finds the end
// need no second buffer.
template <typename Room, typename Arrived>
bool ReadToEnd(int fd, const struct stat& status, size_t& used, size_t piece, Room room, Arrived arrived) {
  size_t capacity = status.st_size > 0 ? static_cast<size_t>(status.st_size) + 1 : 4096;
  char* buffer = room(capacity);
  if (buffer == nullptr) return false;
  used = 0;
  for (;;) {
    if (used == capacity) {
      if (used > kMaxFileSize) {  // it grew while being read
        errno = EFBIG;
        return false;
      }
      capacity *= 2;
      if ((buffer = room(capacity)) == nullptr) return false;
    }
    ssize_t n = read(fd, buffer + used, std::min(capacity - used, piece));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    used += static_cast<size_t>(n);
    arrived(static_cast<const char*>(buffer), used);
  }
}

// Opens path and reads it to its end as ReadToEnd does; false with errno on
// failure. The file's status goes to *info, when given, once it is open.
template <typename Room, typename Arrived>
bool ReadWhole(const std::string& path, struct stat* info, size_t piece, size_t& used, Room room, Arrived arrived) {
  struct stat status {};
  UniqueFd fd = OpenWhole(path, status);
  if (!fd.Valid()) return false;
  if (info != nullptr) *info = status;
  return ReadToEnd(fd.Get(), status, used, piece, room, arrived);
}

}  // namespace

UniqueFd OpenWhole(const std::string& path, struct stat& status) {
  // Non-blocking, so that a store replaced by a pipe cannot hang the caller.
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return fd;
  if (fstat(fd.Get(), &status) != 0 || !ReadableWhole(status)) return UniqueFd();
  return fd;
}

bool ReadWholeFd(int fd, std::string& contents, struct stat* info) {
  contents.clear();
  struct stat status {};
  if (fstat(fd, &status) != 0 || !ReadableWhole(status) || lseek(fd, 0, SEEK_SET) != 0) return false;
  if (info != nullptr) *info = status;
  size_t used = 0;
  bool read = ReadToEnd(
      fd, status, used, SIZE_MAX,
      [&contents](size_t capacity) {
        contents.resize(capacity);
        return contents.data();
      },
      [](const char*, size_t) {});
  contents.resize(read ? used : 0);
  return read;
}

bool ReadWholeFile(const std::string& path, std::string& contents, struct stat* info) {
  contents.clear();
  struct stat status {};
  UniqueFd fd = OpenWhole(path, status);
  return fd.Valid() && ReadWholeFd(fd.Get(), contents, info);
}

void FileText::Clear() {
  data_.reset();
  size_ = capacity_ = 0;
}

char* FileText::Reserve(size_t capacity) {
  if (capacity <= capacity_) return data_.get();
  auto memory = std::make_unique_for_overwrite<char[]>(capacity);
  if (capacity_ > 0) std::memcpy(memory.get(), data_.get(), capacity_);
  data_ = std::move(memory);
  capacity_ = capacity;
  return data_.get();
}

bool ReadWholeFile(const std::string& path, FileText& contents, struct stat* info) {
  return ReadWholeFile(path, contents, info, 0, [](std::string_view) {});
}

bool ReadWholeFile(const std::string& path, FileText& contents, struct stat* info, size_t piece,
                   const std::function<void(std::string_view)>& arrived) {
  contents.Clear();
  size_t used = 0;
  bool read = ReadWhole(
      path, info, piece > 0 ? piece : SIZE_MAX, used,
      [&contents](size_t capacity) { return contents.Reserve(capacity); },
      [&arrived](const char* buffer, size_t size) { arrived(std::string_view(buffer, size)); });
  if (!read) {
    contents.Clear();
    return false;
  }
  contents.SetSize(used);
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view contents) {
  mode_t mode = 0644;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;
  TempFile temp(path + ".tmp.XXXXXX");
  if (!temp.Valid()) return false;
  if (fchmod(temp.Fd(), mode) != 0 || !WriteAll(temp.Fd(), contents)) return false;
  if (!temp.Commit(path)) return false;
  SyncFolder(ParentFolder(path));
  return true;
}

namespace {

constexpr int kTemporaryAttempts = 100;

// A name ReplaceFile's temporaries have: `name`, ".tmp." and six letters or
// digits, random so that no other process can plant the file beforehand.
std::string TemporaryName(const std::string& name) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6] = {};
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    uint64_t mixed = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15u ^ static_cast<uint64_t>(clock());
    std::memcpy(random, &mixed, sizeof random);
  }
  std::string temporary = name + ".tmp.";
  for (unsigned char byte : random) temporary += kLetters[byte % (sizeof kLetters - 1)];
  return temporary;
}

// A new file of ours in `folder`: created, never one that was there.
UniqueFd CreateTemporaryAt(int folder, const std::string& name, std::string& temporary, mode_t mode) {
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    temporary = TemporaryName(name);
    UniqueFd fd(openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.Valid() || errno != EEXIST) {
      if (fd.Valid() && fchmod(fd.Get(), mode) != 0) {
        unlinkat(folder, temporary.c_str(), 0);
        return UniqueFd();
      }
      return fd;
    }
  }
  return UniqueFd();
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool PlaceTemporaryAt(int folder, const std::string& temporary, UniqueFd fd, const std::string& name,
                      const struct stat& expected) {
  if (fsync(fd.Get()) != 0 || close(fd.Release()) != 0) return false;
  struct stat named {};
  if (fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!SameFile(named, expected)) {
    errno = ESTALE;
    return false;
  }
  if (renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) return false;
  fsync(folder);
  return true;
}

}  // namespace

bool ReplaceFileAt(int folder, const std::string& name, std::string_view contents, mode_t mode,
                   const struct stat& expected) {
  std::string temporary;
  UniqueFd fd = CreateTemporaryAt(folder, name, temporary, mode);
  if (!fd.Valid()) return false;
  if (WriteAll(fd.Get(), contents) && PlaceTemporaryAt(folder, temporary, std::move(fd), name, expected)) return true;
  ErrnoGuard keep;
  unlinkat(folder, temporary.c_str(), 0);
  return false;
}

}  // namespace trovex
