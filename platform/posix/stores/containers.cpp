// Finds the URL cache's containers. A Wine prefix keeps the folders of its
// caches in user.reg, Wine's registry file, whose text came with the prefix
// and may be anything: it is read up to a bounded size, by the reader of
// formats/userreg.
#include "platform/posix/stores/containers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/posix/shared/fileio.h"
#include "formats/userreg/UserReg.h"
#include "platform/posix/stores/indexdat.h"
#include "platform/posix/stores/urlstore.h"
#include "platform/posix/stores/webcache.h"
#include "base/Ascii.h"
#include "base/Utf.h"

namespace trovex {

namespace {

// A user.reg of a working prefix is well under a megabyte; one larger than
// this is not read.
constexpr off_t kLargestUserReg = 64 << 20;

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder as the file system resolves it, its links and each ".." after
// one followed: "link/.." is the link's target's parent, which a text cut
// would take for the folder holding the link. A folder that is not there
// keeps its absolute form, for the line that says so.
std::string ResolvedFolder(const std::string& folder) {
  if (std::string real = RealPath(folder); !real.empty()) return real;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(folder, error);
  return WithoutTrailingSlashes(error ? folder : absolute.string());
}

std::string ReadUserReg(const std::string& prefix) {
  std::string text;
  struct stat info;
  std::string path = prefix + "/user.reg";
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kLargestUserReg) return text;
  if (!ReadWholeFile(path, text)) text.clear();
  return text;
}

// The prefix's containers as its user.reg names them; none when it names
// none of the three folders.
std::vector<std::string> RegisteredFolders(const std::string& prefix) {
  std::string userReg = ReadUserReg(prefix);
  struct Place {
    const char* Value;
    const char* Below;
  };
  // Wine's order of enumeration: Cookies, History, Content.
  static constexpr Place kPlaces[] = {{"Cookies", ""}, {"History", "\\History.IE5"}, {"Cache", "\\Content.IE5"}};
  std::vector<std::string> folders;
  for (const Place& place : kPlaces) {
    std::optional<std::string> value = ShellFolderValue(userReg, place.Value);
    if (!value) continue;
    if (std::optional<std::string> folder = PrefixPath(prefix, *value + place.Below)) folders.push_back(*folder);
  }
  return folders;
}

// The standard folders of every user of the prefix, users in name order.
std::vector<std::string> StandardFolders(const std::string& prefix) {
  std::vector<std::string> users;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(prefix + "/drive_c/users", error), end; !error && entry != end;
       entry.increment(error)) {
    users.push_back(entry->path().string());
  }
  std::sort(users.begin(), users.end());
  std::vector<std::string> folders;
  for (const std::string& user : users) {
    std::string windows = user + "/AppData/Local/Microsoft/Windows";
    for (const char* below : {"/INetCookies", "/History/History.IE5", "/INetCache/Content.IE5"}) {
      folders.push_back(windows + below);
    }
  }
  return folders;
}

// A named store file stands for its folder: the file of a store kind's own
// name, such as WebCacheV01.dat picked in a disk copy.
std::string NamedFolder(const std::string& named) {
  struct stat info;
  if (stat(named.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return named;
  std::string_view name = std::string_view(named).substr(named.rfind('/') + 1);
  for (std::string_view store : {std::string_view(kIndexDatName), std::string_view(kWebCacheName),
                                 std::string_view(kWebCacheOldName)}) {
    if (name == store) return ParentFolder(named);
  }
  return named;
}

// The folders named one by one, each in a variable of its own (any path,
// ':' included), then those of the ':'-separated list.
std::vector<std::string> NamedFolders() {
  std::vector<std::string> named;
  for (int number = 1;; ++number) {
    const char* folder = std::getenv((std::string(kCacheFolderVariable) + "_" + std::to_string(number)).c_str());
    if (folder == nullptr || *folder == '\0') break;
    named.emplace_back(folder);
  }
  const char* list = std::getenv(kCacheFolderVariable);
  for (std::string& folder : SplitFolderList(list != nullptr ? list : "")) named.push_back(std::move(folder));
  std::vector<std::string> folders;
  for (const std::string& folder : named) folders.push_back(ResolvedFolder(NamedFolder(folder)));
  return folders;
}

std::optional<std::string> ConfiguredPrefix() {
  const char* prefix = std::getenv("TROVEX_WINEPREFIX");
  if (prefix == nullptr || *prefix == '\0') return std::nullopt;
  return ResolvedFolder(prefix);
}

}  // namespace

std::vector<std::string> SplitFolderList(std::string_view list) {
  std::vector<std::string> folders;
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string_view part = list.substr(0, colon);
    if (!part.empty()) folders.emplace_back(part);
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return folders;
}

std::vector<CacheContainer> WinePrefixContainers(const std::string& folder) {
  std::string prefix = WithoutTrailingSlashes(folder);
  std::vector<std::string> folders = RegisteredFolders(prefix);
  if (folders.empty()) folders = StandardFolders(prefix);
  std::vector<CacheContainer> containers;
  for (const std::string& folder : folders) {
    if (StoreKindOf(folder) != nullptr) containers.push_back({folder, prefix});
  }
  return containers;
}

bool ContainersConfigured() {
  return ConfiguredPrefix().has_value() || !NamedFolders().empty();
}

std::vector<CacheContainer> ConfiguredContainers() {
  std::vector<CacheContainer> containers;
  if (std::optional<std::string> prefix = ConfiguredPrefix()) {
    for (CacheContainer& container : WinePrefixContainers(*prefix)) {
      container.Folder = ResolvedFolder(container.Folder);
      containers.push_back(std::move(container));
    }
  }
  for (const std::string& folder : NamedFolders()) {
    if (StoreKindOf(folder) != nullptr) containers.push_back({folder, {}});
  }
  return containers;
}

std::vector<std::string> SourceProblems() {
  std::vector<std::string> problems;
  if (std::optional<std::string> prefix = ConfiguredPrefix()) {
    if (!IsFolder(*prefix)) {
      problems.push_back(*prefix + ": no such Wine prefix");
    } else if (WinePrefixContainers(*prefix).empty()) {
      problems.push_back(*prefix + ": no " + kIndexDatName + " in its cache folders");
    }
  }
  for (const std::string& folder : NamedFolders()) {
    if (StoreKindOf(folder) == nullptr) problems.push_back(folder + ": no cache index in it");
  }
  return problems;
}

}  // namespace trovex
