// The items of one virtual folder, copied out of the folder tree so that a
// listing outlives the snapshot it was built from.
#ifndef TROVEX_CACHE_FOLDERLIST_H
#define TROVEX_CACHE_FOLDERLIST_H

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace trovex {

class CacheList;
class FolderTree;

// One item of a virtual folder.
struct FolderItem {
  std::string Name;
  uint64_t Size = 0;  // the local file's size for a file item, 0 for a folder
};

// A folder of the virtual tree, by the names it is listed under: the root
// (level 0), site folder Site (level 1) or host folder Host of site folder
// Site (level 2).
struct FolderPath {
  int32_t Level = 0;
  std::string_view Site;
  std::string_view Host;
};

// The items of one virtual folder, in order of first appearance, names
// merged without regard to ASCII case.
class FolderList {
 public:
  FolderList();
  FolderList(const FolderList&) = delete;
  FolderList& operator=(const FolderList&) = delete;

  // Empties the list.
  void Clear();

  // Appends (name, size) unless an item's name equals name without regard to
  // ASCII case; that item then stays as it was, size included.
  void AddUnique(std::string_view name, uint64_t size);

  // Empties the list and adds the items of one folder of tree, a tree of
  // snapshot, under the names they are listed by: at level 0 every site, at
  // level 1 the hosts of the site, at level 2 the URLs of the host with
  // their local files' sizes. A folder that is not there, or any other
  // level, gives an empty list.
  void Build(const FolderPath& folder, const FolderTree& tree, const CacheList& snapshot);

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Item at position 1 .. Count().
  const FolderItem& Item(int32_t position) const { return items_[static_cast<size_t>(position - 1)]; }

 private:
  struct NameHash {
    using is_transparent = void;
    const std::vector<FolderItem>* items;
    size_t operator()(size_t index) const { return (*this)((*items)[index].Name); }
    size_t operator()(std::string_view name) const;
  };
  struct NameEqual {
    using is_transparent = void;
    const std::vector<FolderItem>* items;
    std::string_view NameOf(size_t index) const { return (*items)[index].Name; }
    std::string_view NameOf(std::string_view name) const { return name; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return SameNameNoCase(NameOf(a), NameOf(b));
    }
  };
  static bool SameNameNoCase(std::string_view a, std::string_view b);
  // True when an item's name equals name without regard to ASCII case.
  bool Contains(std::string_view name) const;
  // Appends an item known to differ from every other without regard to
  // case. The index catches up with it only when a name is looked up, so a
  // folder that is only listed never pays for it.
  void Append(std::string_view name, uint64_t size);

  std::vector<FolderItem> items_;
  // Positions in items_ 0 .. indexed_ - 1, hashed and compared by name
  // without regard to ASCII case, so that AddUnique need not scan.
  mutable std::unordered_set<size_t, NameHash, NameEqual> index_;
  mutable size_t indexed_ = 0;
};

// The number of positions of s that hold c.
int32_t CountChar(std::string_view s, char c);

}  // namespace trovex

#endif
