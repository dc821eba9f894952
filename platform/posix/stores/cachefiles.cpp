// A cache entry's local file is named by a stranger (the web site chose the
// URL the file is cached for, and anything may have written the store), so it
// is removed, and read for a copy, only through folder handles opened from
// the store's folder down, none of them through a symbolic link: a folder on
// the way that is swapped for a link while this runs makes the removal or the
// copy fail instead of leading it outside.
#include "platform/posix/stores/cachefiles.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/stores/containers.h"
#include "platform/posix/stores/webcache.h"
#include "platform/posix/shared/fileio.h"
#include "platform/win32api.h"
#include "platform/posix/shared/sysfolder.h"

namespace trovex {

namespace {

constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The folder as the prefix of the paths below it: without any trailing
// slash, so that the root folder is the empty text.
std::string AsPrefix(std::string folder) {
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder;
}

// The text of the registry's "Cache" value; nullopt when it is missing, empty
// or no text.
std::optional<std::string> RegisteredCacheFolder() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  std::optional<std::string> folder;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, "Cache", nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::string data(size, '\0');
    if (RegQueryValueExA(key, "Cache", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
      data.resize(std::min<size_t>(size, data.size()));
      data.resize(data.find('\0') == std::string::npos ? data.size() : data.find('\0'));
      if (!data.empty()) folder = data;
    }
  }
  RegCloseKey(key);
  return folder;
}

// The names on the way from `root` (without a trailing slash) down to
// `path`; nullopt when path does not begin with root and a slash, names no
// file below it, or steps up with "..".
std::optional<std::vector<std::string>> NamesBelow(std::string_view root, std::string_view path) {
  if (path.size() <= root.size() || !path.starts_with(root) || path[root.size()] != '/') return std::nullopt;
  std::vector<std::string> names;
  std::string_view rest = path.substr(root.size());
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view name = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (name == "..") return std::nullopt;
    if (!name.empty() && name != ".") names.emplace_back(name);
  }
  if (names.empty()) return std::nullopt;
  return names;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the folder `name` inside `dir` only when it is a folder itself, not
// a link to one; a link is refused with EACCES.
UniqueFd OpenFolderIn(int dir, const std::string& name) {
  UniqueFd folder(openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!folder.Valid() && errno == ENOTDIR && fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(info.st_mode))
    errno = EACCES;
  return folder;
}

// Opens the folder that holds the last of `names`, walking down from the
// folder `root` through folders that are no links; invalid with errno when
// the way is missing or leads through a link.
UniqueFd OpenFolderAbove(const std::string& root, const std::vector<std::string>& names) {
  // The store's folder itself is the system's own choice: links in its path
  // are followed.
  UniqueFd dir(open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  for (size_t i = 0; dir.Valid() && i + 1 < names.size(); ++i) dir = OpenFolderIn(dir.Get(), names[i]);
  return dir;
}

// Walks `names` down from the folder `root` and removes the last one when it
// is a regular file whose folder is not the system folder.
void RemoveBelow(const std::string& root, const std::vector<std::string>& names) {
  struct stat system {};
  if (stat(SystemFolder().c_str(), &system) != 0) return;
  UniqueFd dir = OpenFolderAbove(root, names);
  struct stat folder {}, file {};
  if (!dir.Valid() || fstat(dir.Get(), &folder) != 0 || SameFile(folder, system)) return;
  if (fstatat(dir.Get(), names.back().c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(file.st_mode)) return;
  // Should the name be swapped for a link or a folder after the check, the
  // removal takes the link itself or fails: it never leaves this folder.
  unlinkat(dir.Get(), names.back().c_str(), 0);
}

// The cache folder as the prefix of the paths below it; nullopt when the
// registry names a relative one, which names no folder.
std::optional<std::string> CacheFolderPrefix() {
  std::optional<std::string> registered = RegisteredCacheFolder();
  if (registered && (*registered)[0] != '/') return std::nullopt;
  return AsPrefix(registered ? *registered : SystemFolder());
}

// The names on the way from `root` down to `file`, or from the root's real
// path when `file` names it so; `root` is set to the one it lies below.
std::optional<std::vector<std::string>> NamesBelowEither(std::string& root, const std::string& file) {
  std::optional<std::vector<std::string>> names = NamesBelow(root, file);
  if (!names) {
    std::string real = AsPrefix(RealPath(root.empty() ? "/" : root));
    names = NamesBelow(real, file);
    if (names) root = real;
  }
  return names;
}

// Whether `path` begins with the folder `root` (a prefix, without its
// trailing slash) and a slash, however it goes on.
bool StartsBelow(std::string_view root, std::string_view path) {
  return path.size() > root.size() + 1 && path.starts_with(root) && path[root.size()] == '/';
}

// The folders that hold the stores' local files, as prefixes: the text
// store's cache folder, the INetCache folder named for WebCache databases,
// every container folder and, for a WebCache database, the folder its files
// are placed below, which lies above the database's own.
std::vector<std::string> StoreFolders() {
  std::vector<std::string> folders;
  if (std::optional<std::string> cache = CacheFolderPrefix()) folders.push_back(*cache);
  if (std::string inetCache = NamedINetCache(); !inetCache.empty()) folders.push_back(AsPrefix(inetCache));
  if (ContainersConfigured()) {
    for (const CacheContainer& container : ConfiguredContainers()) {
      std::error_code error;
      std::string absolute = std::filesystem::absolute(container.Folder, error).string();
      std::string folder = error ? container.Folder : absolute;
      folders.push_back(AsPrefix(folder));
      if (std::string files = WebCacheFilesFolder(folder); !files.empty()) folders.push_back(AsPrefix(files));
    }
  }
  return folders;
}

// Opens the regular file the last of `names` is in the folder `dir`, no link
// followed and no pipe waited on; invalid with errno otherwise (EACCES for a
// link or anything but a regular file).
UniqueFd OpenRegularIn(int dir, const std::string& name) {
  UniqueFd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (!fd.Valid()) {
    if (errno == ELOOP) errno = EACCES;
    return fd;
  }
  if (fstat(fd.Get(), &info) != 0) return UniqueFd();
  if (!S_ISREG(info.st_mode)) {
    errno = EACCES;
    return UniqueFd();
  }
  return fd;
}

}  // namespace

void DeleteCacheFile(const std::string& file) {
  int saved = errno;
  std::optional<std::string> root = CacheFolderPrefix();
  std::optional<std::vector<std::string>> names = root ? NamesBelowEither(*root, file) : std::nullopt;
  if (names) RemoveBelow(root->empty() ? "/" : *root, *names);
  errno = saved;
}

StoreFileOpen OpenStoreFile(const std::string& file, UniqueFd& fd) {
  std::error_code error;
  std::string path = std::filesystem::absolute(file, error).string();
  if (error) path = file;
  for (std::string root : StoreFolders()) {
    std::string given = root;
    std::optional<std::vector<std::string>> names = NamesBelowEither(root, path);
    if (!names) {
      // Below the folder in its text, yet stepping up or naming no file in it.
      if (!StartsBelow(given, path)) continue;
      errno = EACCES;
      return StoreFileOpen::kRefused;
    }
    UniqueFd dir = OpenFolderAbove(root.empty() ? "/" : root, *names);
    if (!dir.Valid()) return StoreFileOpen::kRefused;
    fd = OpenRegularIn(dir.Get(), names->back());
    return fd.Valid() ? StoreFileOpen::kOpened : StoreFileOpen::kRefused;
  }
  return StoreFileOpen::kOutside;
}

}  // namespace trovex
