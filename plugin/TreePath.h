// The virtual paths the host hands to the plug-in, read in one place. A
// path is the root ("" or "\"), the RereadEntry ("\" and its text, exactly),
// a site folder ("\site"), a host folder ("\site\host") or an entry
// ("\site\host\name", the name running to the end of the path, backslashes
// and all). A folder's path may end in one backslash. Every part is the name
// its folder or entry is listed under; nothing else is a path.
#ifndef TROVEX_PLUGIN_TREEPATH_H
#define TROVEX_PLUGIN_TREEPATH_H

#include <optional>
#include <string_view>

#include "cache/CacheObj.h"

namespace trovex {

enum class PathKind { None, Root, RereadEntry, Site, Host, Entry };

// What a path designates, with the names it carries as views into it.
struct TreePath {
  PathKind Kind = PathKind::None;
  std::string_view Site;
  std::string_view Host;
  std::string_view Entry;
};

// Reads path, whose RereadEntry is named rereadEntry. Kind None when path
// follows no form above.
TreePath ParseTreePath(std::string_view path, std::string_view rereadEntry);

// The folder path designates, for a listing; none for a file or no path.
std::optional<FolderPath> FolderOf(const TreePath& path);

// The snapshot's entry that path designates, its parts taken as listed
// (the root listing rereadEntry); none when it designates no entry.
std::optional<CacheEntry> EntryOf(const TreePath& path, std::string_view rereadEntry);

}  // namespace trovex

#endif
