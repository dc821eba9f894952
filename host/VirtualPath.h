// Places in the virtual tree and the two ways to write them: the plug-in's
// own form ("\site\host\URL", the root "\") and a form without backslashes
// ("site/host/URL", split at the first two slashes only, so that a URL keeps
// its own slashes; "/" or nothing is the root).
#ifndef TROVEX_HOST_VIRTUALPATH_H
#define TROVEX_HOST_VIRTUALPATH_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trovex {

// Levels of the tree: the number of parts a path has.
constexpr size_t kRootLevel = 0;
constexpr size_t kSiteLevel = 1;
constexpr size_t kHostLevel = 2;
constexpr size_t kEntryLevel = 3;

// A place in the tree: no parts for the root, then the site, the host and
// the entry's URL. Only a URL may be empty or hold a backslash.
struct VirtualPath {
  std::vector<std::string> Parts;

  size_t Level() const { return Parts.size(); }
  bool IsRoot() const { return Parts.empty(); }
  // The last part; empty for the root.
  std::string Name() const { return Parts.empty() ? std::string() : Parts.back(); }
  // The plug-in's form: "\", "\site", "\site\host", "\site\host\URL".
  std::string HostForm() const;
  // The folder one level up; the root for the root.
  VirtualPath Parent() const;
  // The path of the item name inside this folder.
  VirtualPath Child(const std::string& name) const;

  bool operator==(const VirtualPath&) const = default;
  auto operator<=>(const VirtualPath&) const = default;
};

// Reads text in either form. Text that begins with "\" or "/" names a place
// from the root; other text names one below the folder base, where leading
// ".." and "." parts step up or stay. nullopt when a site or host part is
// empty or holds a backslash, or ".." climbs above the root.
std::optional<VirtualPath> ParseVirtualPath(std::string_view text, const VirtualPath& base = {});

}  // namespace trovex

#endif
