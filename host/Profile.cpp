#include "host/Profile.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "base/Ascii.h"
#include "host/HostError.h"

namespace trovex {

namespace fs = std::filesystem;

namespace {

enum class Kind { Index, WebCache, History };

struct Place {
  std::string_view Path;  // below the profile, '/'-separated
  Kind Of;
};

// In the order the containers are read: cookies, history, content, WebCache.
constexpr Place kPlaces[] = {
    {"Cookies", Kind::Index},
    {"AppData/Roaming/Microsoft/Windows/Cookies", Kind::Index},
    {"AppData/Roaming/Microsoft/Windows/Cookies/Low", Kind::Index},
    {"AppData/Local/Microsoft/Windows/INetCookies", Kind::Index},
    {"AppData/Local/Microsoft/Windows/INetCookies/Low", Kind::Index},
    {"Local Settings/History/History.IE5", Kind::History},
    {"AppData/Local/Microsoft/Windows/History/History.IE5", Kind::History},
    {"AppData/Local/Microsoft/Windows/History/Low/History.IE5", Kind::History},
    {"AppData/Local/Microsoft/Windows/History", Kind::Index},
    {"Local Settings/Temporary Internet Files/Content.IE5", Kind::Index},
    {"AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5", Kind::Index},
    {"AppData/Local/Microsoft/Windows/Temporary Internet Files/Low/Content.IE5", Kind::Index},
    {"AppData/Local/Microsoft/Windows/INetCache/Content.IE5", Kind::Index},
    {"AppData/Local/Microsoft/Windows/INetCache/Low/Content.IE5", Kind::Index},
    {"AppData/Local/Microsoft/Windows/WebCache", Kind::WebCache},
};

constexpr std::string_view kIndexFile = "index.dat";
constexpr std::string_view kWebCacheFiles[] = {"WebCacheV01.dat", "WebCacheV24.dat"};
constexpr std::string_view kDailyPrefix = "MSHist01";

class ProfileWalk {
 public:
  explicit ProfileWalk(fs::path root) : root_(std::move(root)) {}

  void Take(const Place& place) {
    for (const fs::path& folder : Reach(place.Path)) {
      if (place.Of == Kind::WebCache) {
        if (HoldsAny(folder, kWebCacheFiles)) Add(folder);
        continue;
      }
      if (HoldsAny(folder, {&kIndexFile, 1})) Add(folder);
      if (place.Of == Kind::History) TakeDailies(folder);
    }
  }

  std::vector<std::string> Found() const { return found_; }

 private:
  // The real path of path when it stays below the profile's.
  std::optional<fs::path> Inside(const fs::path& path) const {
    std::error_code error;
    fs::path real = fs::canonical(path, error);
    if (error) return std::nullopt;
    auto [end, unused] = std::mismatch(root_.begin(), root_.end(), real.begin(), real.end());
    if (end != root_.end()) return std::nullopt;
    return real;
  }

  // The folders in folder whose names pass keep, by name.
  template <typename Keep>
  std::vector<fs::path> Children(const fs::path& folder, Keep keep) const {
    std::vector<fs::path> children;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
      if (!keep(entry->path().filename().string())) continue;
      std::optional<fs::path> real = Inside(entry->path());
      if (real && fs::is_directory(*real, error)) children.push_back(*real);
    }
    std::sort(children.begin(), children.end());
    return children;
  }

  // Every folder that relative names below the profile, each part matched
  // without regard to ASCII case.
  std::vector<fs::path> Reach(std::string_view relative) const {
    std::vector<fs::path> folders = {root_};
    while (!relative.empty()) {
      size_t slash = relative.find('/');
      std::string_view part = relative.substr(0, slash);
      relative = slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
      std::vector<fs::path> next;
      for (const fs::path& folder : folders) {
        for (fs::path& child : Children(folder, [&](const std::string& name) { return EqualNoCase(name, part); })) {
          next.push_back(std::move(child));
        }
      }
      folders = std::move(next);
    }
    return folders;
  }

  // True when folder holds one of names as a regular file that stays below
  // the profile.
  bool HoldsAny(const fs::path& folder, std::span<const std::string_view> names) const {
    std::error_code error;
    for (std::string_view name : names) {
      std::optional<fs::path> real = Inside(folder / name);
      if (real && fs::is_regular_file(*real, error)) return true;
    }
    return false;
  }

  void TakeDailies(const fs::path& history) {
    auto daily = [](const std::string& name) {
      return EqualNoCase(std::string_view(name).substr(0, kDailyPrefix.size()), kDailyPrefix);
    };
    for (const fs::path& folder : Children(history, daily)) {
      if (HoldsAny(folder, {&kIndexFile, 1})) Add(folder);
    }
  }

  void Add(const fs::path& folder) {
    if (seen_.insert(folder.string()).second) found_.push_back(folder.string());
  }

  fs::path root_;
  std::set<std::string> seen_;
  std::vector<std::string> found_;
};

}  // namespace

std::vector<std::string> ProfileContainers(const std::string& profile) {
  std::error_code error;
  fs::path root = fs::canonical(profile, error);
  if (error || !fs::is_directory(root, error)) throw HostError(kExitUsage, "no such profile folder: " + profile);
  ProfileWalk walk(root);
  for (const Place& place : kPlaces) walk.Take(place);
  std::vector<std::string> found = walk.Found();
  if (found.empty()) {
    throw HostError(kExitUsage, "no cache container (a folder with its index.dat or WebCacheV01.dat) in the profile " +
                                    profile);
  }
  return found;
}

}  // namespace trovex
