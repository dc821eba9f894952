// The items of one virtual folder, copied out of the folder tree so that a
// listing outlives the snapshot it was built from.
#ifndef TROVEX_CACHE_FOLDERLIST_H
#define TROVEX_CACHE_FOLDERLIST_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cache/CacheList.h"

namespace trovex {

class FolderTree;

// One item of a virtual folder.
struct FolderItem {
  std::string Name;
  uint64_t Size = 0;  // the local file's size for a file item, 0 for a folder
  // A file item's times; a folder's Accessed is the newest of the entries
  // it lists, its other times 0. All 0 when the list was built without.
  EntryTimes Times;
};

// A folder of the virtual tree, by the names it is listed under: the root
// (level 0), site folder Site (level 1) or host folder Host of site folder
// Site (level 2).
struct FolderPath {
  int32_t Level = 0;
  std::string_view Site;
  std::string_view Host;
};

// The items of one virtual folder, in order of first appearance; no two
// names are equal without regard to ASCII case.
class FolderList {
 public:
  FolderList();
  FolderList(const FolderList&) = delete;
  FolderList& operator=(const FolderList&) = delete;

  // Empties the list.
  void Clear();

  // Empties the list and adds the items of one folder of tree, a tree of
  // snapshot, under the names they are listed by: at level 0 every site, at
  // level 1 the hosts of the site, at level 2 the URLs of the host with
  // their local files' sizes. A folder that is not there, or any other
  // level, gives an empty list. The tree keeps the names apart without
  // regard to case (FoldedNames, ListedNames). withTimes gives the items
  // their times.
  void Build(const FolderPath& folder, const FolderTree& tree, const CacheList& snapshot, bool withTimes = false);

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Item at position 1 .. Count().
  const FolderItem& Item(int32_t position) const { return items_[static_cast<size_t>(position - 1)]; }

 private:
  void Append(std::string_view name, uint64_t size, const EntryTimes& times);

  std::vector<FolderItem> items_;
};

// The number of positions of s that hold c.
int32_t CountChar(std::string_view s, char c);

}  // namespace trovex

#endif
