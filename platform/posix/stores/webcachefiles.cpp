// Where a WebCache entry's local file lies on Linux. Every name involved was
// written by a stranger's machine: a local file is built only from names
// that cannot leave their folder, and a container's Windows folder is placed
// only by what follows its AppData (or the INetCache the user named).
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/Ascii.h"
#include "platform/posix/shared/fileio.h"
#include "platform/posix/stores/webcache.h"

namespace trovex {

namespace {

constexpr size_t kSecureNameLength = 8;

// A name that stays in its folder whatever joins it.
bool IsSafeName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':';
  });
}

bool IsSecureName(std::string_view name) {
  return name.size() == kSecureNameLength && std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
         });
}

// Where `what` starts in `text`, letter case ignored; npos when nowhere.
size_t FindNoCase(std::string_view text, std::string_view what) {
  for (size_t at = 0; at + what.size() <= text.size(); ++at) {
    if (EqualNoCase(text.substr(at, what.size()), what)) return at;
  }
  return std::string_view::npos;
}

// Whether `path` ends in the components `tail`, letter case ignored.
bool EndsWithFolders(std::string_view path, std::string_view tail) {
  return path.size() > tail.size() && path[path.size() - tail.size() - 1] == '/' &&
         EqualNoCase(path.substr(path.size() - tail.size()), tail);
}

// The Linux folder of the Windows folder `directory`: below the INetCache
// folder the user named, for what follows \INetCache\; else, in a disk
// copy's layout, below the AppData folder holding the database's folder;
// else, for a folder copied with its neighbours, below the database folder's
// parent, where the Windows folder's part after \Microsoft\Windows\ lies.
// Nothing when its place is not known or a component could lead elsewhere
// (`*unsafe` then says the latter).
constexpr std::string_view kLayout = "Local/Microsoft/Windows/WebCache";

std::optional<std::string> LinuxFolderOf(const WebCachePlaces& places, std::string_view directory, bool* unsafe) {
  constexpr std::string_view kINetCache = "\\INetCache\\";
  std::string_view folder = places.folder;
  std::string_view marker = "\\AppData\\";
  std::string path;
  if (!places.inetCache.empty() && FindNoCase(directory, kINetCache) != std::string_view::npos) {
    marker = kINetCache;
    path = std::string(places.inetCache);
  } else if (EndsWithFolders(folder, kLayout)) {
    path = std::string(folder.substr(0, folder.size() - kLayout.size() - 1));
  } else {
    marker = "\\Microsoft\\Windows\\";
    path = std::string(folder.substr(0, folder.rfind('/')));
  }
  size_t at = FindNoCase(directory, marker);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = directory.substr(at + marker.size());
  while (!rest.empty()) {
    size_t slash = rest.find('\\');
    std::string_view part = rest.substr(0, slash);
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    if (part.empty()) continue;
    if (!IsSafeName(part)) {
      *unsafe = true;
      return std::nullopt;
    }
    path += '/';
    path += part;
  }
  return path;
}

}  // namespace

LocalFile WebCacheLocalFile(const WebCachePlaces& places, std::string_view directory, std::string_view secureNames,
                            uint64_t secure, std::string_view name) {
  if (secure == 0 || name.empty()) return {};
  if (secure > secureNames.size() / kSecureNameLength) return {LocalFileFate::kUnsafe, {}};
  std::string_view secureName = secureNames.substr((secure - 1) * kSecureNameLength, kSecureNameLength);
  if (!IsSecureName(secureName) || !IsSafeName(name)) return {LocalFileFate::kUnsafe, {}};
  bool unsafe = false;
  std::optional<std::string> path = LinuxFolderOf(places, directory, &unsafe);
  if (!path) return {unsafe ? LocalFileFate::kUnsafe : LocalFileFate::kUnplaced, {}};
  *path += '/';
  *path += secureName;
  *path += '/';
  *path += name;
  return {LocalFileFate::kMapped, std::move(*path)};
}


std::string WebCacheFilesFolder(const std::string& folder) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(folder + "/" + kWebCacheName, error) &&
      !std::filesystem::is_regular_file(folder + "/" + kWebCacheOldName, error)) {
    return {};
  }
  if (EndsWithFolders(folder, kLayout)) return folder.substr(0, folder.size() - kLayout.size() - 1);
  return folder.substr(0, folder.rfind('/'));
}

std::string NamedINetCache() {
  const char* named = std::getenv("TROVEX_INETCACHE");
  if (named == nullptr || *named == '\0') return {};
  std::error_code error;
  std::string absolute = std::filesystem::absolute(named, error).string();
  return WithoutTrailingSlashes(error ? std::string(named) : absolute);
}

}  // namespace trovex
