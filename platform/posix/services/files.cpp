// Directory searches, file copies and files opened for writing.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/stores/cachefiles.h"
#include "platform/posix/shared/fileio.h"
#include "platform/posix/services/files.h"
#include "platform/posix/shared/handles.h"
#include "platform/win32api.h"
#include "platform/posix/shared/win32error.h"

using namespace trovex;

namespace {

// ---- Directory searches ---------------------------------------------------

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

struct Search {
  std::unique_ptr<DIR, DirCloser> dir;  // null for a search of one named path
  std::string pattern;
};

TROVEX_MODULE_STATE HandleTable<Search> searches;

// '*' any run of bytes, '?' any one byte; "*.*" matches every name, as on
// Windows.
bool Matches(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

FILETIME ToFileTime(const timespec& time) {
  // 100 ns intervals since 1601-01-01; times before then are given as 0.
  const int64_t kEpochDifference = 11644473600LL;
  int64_t seconds = static_cast<int64_t>(time.tv_sec) + kEpochDifference;
  uint64_t ticks = seconds < 0 ? 0
                               : static_cast<uint64_t>(seconds) * 10000000u +
                                     static_cast<uint64_t>(time.tv_nsec) / 100u;
  return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const struct stat& info) {
  DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (S_ISLNK(info.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  // Read-only is a property of the file, not of who asks: no write bit at all.
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

void FillRecord(const struct stat& info, std::string_view name, WIN32_FIND_DATAA* record) {
  std::memset(record, 0, sizeof *record);
  record->dwFileAttributes = AttributesOf(info);
  uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
  record->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  record->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  record->ftCreationTime = ToFileTime(info.st_ctim);
  record->ftLastAccessTime = ToFileTime(info.st_atim);
  record->ftLastWriteTime = ToFileTime(info.st_mtim);
  size_t n = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
  std::memcpy(record->cFileName, name.data(), n);
}

// The status of `name` in the folder `dir`: the file a link leads to, or the
// link itself when it leads nowhere.
bool StatEntry(int dir, const char* name, struct stat& info) {
  return fstatat(dir, name, &info, 0) == 0 || fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// Moves the search to its next matching name and fills the record.
bool NextMatch(Search& search, WIN32_FIND_DATAA* record) {
  while (dirent* entry = readdir(search.dir.get())) {
    std::string_view name = entry->d_name;
    if (name == "." || name == ".." || !Matches(search.pattern, name)) continue;
    struct stat info {};
    if (!StatEntry(dirfd(search.dir.get()), entry->d_name, info)) continue;  // gone meanwhile
    FillRecord(info, name, record);
    return true;
  }
  return false;
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

// A pattern without wildcards names one file or folder.
HANDLE FindPath(const std::string& path, std::string_view name, WIN32_FIND_DATAA* record) {
  struct stat info {};
  if (name.empty() || !StatEntry(AT_FDCWD, path.c_str(), info)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  FillRecord(info, name, record);
  return searches.Add(std::make_unique<Search>());
}

// ---- Copies ---------------------------------------------------------------

bool CopyWithReadWrite(int from, int to) {
  char chunk[65536];
  for (;;) {
    ssize_t n = read(from, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    if (!WriteAll(to, std::string_view(chunk, static_cast<size_t>(n)))) return false;
  }
}

// The kernel copies without the bytes passing through here where it can;
// otherwise, and across file systems that refuse, read and write. Files that
// claim no size (as in /proc) are read, since the kernel copy sees them empty.
bool CopyBytes(int from, int to, off_t size) {
  if (size == 0) return CopyWithReadWrite(from, to);
  bool started = false;
  for (;;) {
    ssize_t n = copy_file_range(from, nullptr, to, nullptr, size_t{1} << 30, 0);
    if (n > 0) {
      started = true;
      continue;
    }
    if (n == 0) return true;
    if (errno == EINTR) continue;
    bool unsupported = errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                       errno == EOPNOTSUPP || errno == EBADF;
    if (!unsupported || started) return false;
    return CopyWithReadWrite(from, to);
  }
}

// Puts the finished copy in the target's place: over an existing target, or
// only where no target exists yet, atomically either way.
bool PlaceCopy(TempFile& copy, const std::string& target, bool replace) {
  if (replace) {
    if (rename(copy.Path().c_str(), target.c_str()) != 0) return false;
  } else if (renameat2(AT_FDCWD, copy.Path().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (link(copy.Path().c_str(), target.c_str()) != 0) return false;
    return true;  // the pending name is removed with the copy object
  }
  copy.Placed();
  return true;
}

// A source below a store's folder is an entry's local file, named by a
// stranger: it is opened only as a regular file reached through no link
// (cachefiles.h). Non-blocking, so that a pipe given as the source is refused,
// not waited on.
bool OpenSource(const char* source, UniqueFd& fd, struct stat& info) {
  StoreFileOpen inStore = OpenStoreFile(source, fd);
  if (inStore == StoreFileOpen::kRefused) return false;
  if (inStore == StoreFileOpen::kOutside) fd.Reset(open(source, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid() || fstat(fd.Get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  return fcntl(fd.Get(), F_SETFL, 0) == 0;
}

bool Exists(const char* path) {
  struct stat info {};
  return lstat(path, &info) == 0;
}

// ---- Files opened for writing ---------------------------------------------

struct OpenFile {
  UniqueFd fd;
};

TROVEX_MODULE_STATE HandleTable<OpenFile> openFiles;

HANDLE FailHandle(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

// Opens without blocking, so that a pipe is refused rather than waited on,
// and keeps only a regular file.
UniqueFd OpenRegularForWriting(const char* name, DWORD creation, DWORD flags) {
  int mode = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (creation == CREATE_NEW) mode |= O_EXCL;
  if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) mode |= O_NOFOLLOW;
  UniqueFd fd(open(name, mode, 0666));
  struct stat info {};
  if (!fd.Valid() || fstat(fd.Get(), &info) != 0) return UniqueFd();
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return UniqueFd();
  }
  // Emptied only once it is known to be a file.
  if ((creation == CREATE_ALWAYS && ftruncate(fd.Get(), 0) != 0) || fcntl(fd.Get(), F_SETFL, 0) != 0) return UniqueFd();
  return fd;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA record) {
  if (pattern == nullptr || record == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path(pattern);
  size_t slash = path.rfind('/');
  std::string folder = ParentFolder(path);
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!HasWildcards(last)) return FindPath(path, last, record);

  auto search = std::make_unique<Search>();
  search->dir.reset(opendir(folder.c_str()));
  search->pattern = last;
  if (!search->dir || !NextMatch(*search, record)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return searches.Add(std::move(search));
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA record) {
  std::shared_ptr<Search> search = searches.Find(handle);
  if (!search) return Fail(ERROR_INVALID_HANDLE);
  if (record == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!search->dir || !NextMatch(*search, record)) return Fail(ERROR_NO_MORE_FILES);
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  return searches.Remove(handle) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL CopyFileA(LPCSTR source, LPCSTR target, BOOL failIfExists) {
  if (source == nullptr || target == nullptr || source[0] == '\0' || target[0] == '\0')
    return Fail(ERROR_INVALID_PARAMETER);
  UniqueFd from;
  struct stat info {};
  if (!OpenSource(source, from, info)) return Fail(LastErrorFromErrno());
  if (failIfExists && Exists(target)) return Fail(ERROR_FILE_EXISTS);

  std::string targetPath(target);
  // A short name of its own, so that a target name near the length limit
  // still leaves room for it.
  TempFile copy(ParentFolder(targetPath) + "/.trovex-copy.XXXXXX");
  if (!copy.Valid()) return Fail(LastErrorFromErrno());
  if (!CopyBytes(from.Get(), copy.Fd(), info.st_size)) return Fail(LastErrorFromErrno());
  // The copy keeps the source's modification time, as on Windows.
  const timespec times[2] = {info.st_atim, info.st_mtim};
  if (fchmod(copy.Fd(), info.st_mode & 0666) != 0 || futimens(copy.Fd(), times) != 0)
    return Fail(LastErrorFromErrno());
  if (!PlaceCopy(copy, targetPath, failIfExists == FALSE)) {
    if (errno == EEXIST) return Fail(ERROR_FILE_EXISTS);
    return Fail(LastErrorFromErrno());
  }
  return TRUE;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, void*, DWORD creation, DWORD flags, HANDLE) {
  if (name == nullptr || name[0] == '\0' || (access & GENERIC_WRITE) == 0 ||
      (creation != CREATE_NEW && creation != CREATE_ALWAYS))
    return FailHandle(ERROR_INVALID_PARAMETER);
  auto file = std::make_unique<OpenFile>();
  file->fd = OpenRegularForWriting(name, creation, flags);
  if (!file->fd.Valid()) {
    // A link not followed, and a pipe without a reader, are refused access.
    if (errno == ELOOP || errno == ENXIO) return FailHandle(ERROR_ACCESS_DENIED);
    return FailHandle(LastErrorFromErrno());
  }
  return openFiles.Add(std::move(file));
}

BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written, void*) {
  std::shared_ptr<OpenFile> file = openFiles.Find(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  if (written != nullptr) *written = 0;
  if (data == nullptr && size > 0) return Fail(ERROR_INVALID_PARAMETER);
  size_t done = 0;
  bool whole = WriteAll(file->fd.Get(), std::string_view(static_cast<const char*>(data), size), &done);
  if (written != nullptr) *written = static_cast<DWORD>(done);
  if (whole) return TRUE;
  // A write that made no progress is the device's fault, not a system error.
  return Fail(errno == EIO ? ERROR_WRITE_FAULT : LastErrorFromErrno());
}

DWORD GetFileAttributesA(LPCSTR name) {
  struct stat info {};
  if (name == nullptr || name[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (lstat(name, &info) != 0) {
    LastErrorFromErrno();
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(info);
}

namespace trovex {

bool CloseFileHandle(HANDLE handle) {
  return openFiles.Remove(handle);
}

}  // namespace trovex
