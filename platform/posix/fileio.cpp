#include "fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "sysfolder.h"

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

std::string FolderOf(const std::string& path) {
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
  std::string name = NameOf(store);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(FolderOf(store).c_str()), closedir);
  if (!dir) return;
  while (dirent* entry = readdir(dir.get())) {
    if (IsTemporaryOf(entry->d_name, name)) unlinkat(dirfd(dir.get()), entry->d_name, 0);
  }
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
  std::string parent = FolderOf(folder);
  if (parent != folder && !MakeFolders(parent)) return false;
  return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

namespace {

// Opens path for a whole read and checks it is a regular file of a size
// that may be read; the open file, or an invalid one with errno set.
UniqueFd OpenWhole(const std::string& path, struct stat& status) {
  // Non-blocking, so that a store replaced by a pipe cannot hang the caller.
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return fd;
  if (fstat(fd.Get(), &status) != 0) return UniqueFd();
  if (!S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return UniqueFd();
  }
  if (static_cast<uint64_t>(status.st_size) > kMaxFileSize) {
    errno = EFBIG;
    return UniqueFd();
  }
  return fd;
}

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

bool ReadWholeFile(const std::string& path, std::string& contents, struct stat* info) {
  contents.clear();
  size_t used = 0;
  bool read = ReadWhole(
      path, info, SIZE_MAX, used,
      [&contents](size_t capacity) {
        contents.resize(capacity);
        return contents.data();
      },
      [](const char*, size_t) {});
  contents.resize(read ? used : 0);
  return read;
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
  SyncFolder(FolderOf(path));
  return true;
}

