// The cache model: an in-memory snapshot of the URL cache, the derivation of
// site and host names from URLs, and the items of one virtual folder.
#ifndef TROVEX_CACHE_CACHEOBJ_H
#define TROVEX_CACHE_CACHEOBJ_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "cache/SnapshotStore.h"
#include "platform/win32api.h"

class FolderTree;
class SiteGroups;

// One entry of the snapshot, as views into it: valid until the snapshot is
// next emptied or filled.
struct CacheEntry {
  std::string_view SourceUrl;
  std::string_view LocalFileName;  // empty when the cache gives none
};

// The snapshot: cache entries in the order the system enumerates them,
// duplicates kept, never sorted.
class CacheList {
 public:
  CacheList();
  ~CacheList();
  CacheList(const CacheList&) = delete;
  CacheList& operator=(const CacheList&) = delete;

  // Appends the record's URL and local file unless record is null or its
  // type has a bit in common with HiddenTypeMask.
  void Add(const INTERNET_CACHE_ENTRY_INFOA* record);

  // Empties the snapshot.
  void Clear();

  // The local file of the first entry whose URL equals url byte for byte;
  // empty when none does.
  std::string FindLocalFile(std::string_view url) const;

  // The position of the first entry whose URL equals url byte for byte.
  std::optional<uint32_t> FirstPositionOf(std::string_view url) const;

  // Empties the snapshot and reads the whole URL cache into it. Never fails:
  // whatever could be read stays.
  void Fill();

  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  CacheEntry Entry(int32_t index) const;

  // The snapshot grouped by site and host under the current CachePrefix,
  // SkipDomains and SkipDomainsList; valid until the next call of any
  // non-const member or of Groups itself.
  const SiteGroups& Groups() const;

  // The virtual folders of the snapshot as Groups groups it, the root
  // listing rootReserved beside its sites; valid as long as Groups.
  const FolderTree& Folders(std::string_view rootReserved) const;

  // The entry listed as name in the host folder host of the site folder
  // site, each given as listed; none when they lead to no entry.
  std::optional<CacheEntry> FindListedEntry(std::string_view site, std::string_view host, std::string_view name,
                                            std::string_view rootReserved) const;

 private:
  // An entry's URL, followed directly by its local file name, in texts_.
  struct Slot {
    const char* Text;
    uint32_t UrlLength;
    uint32_t FileLength;
  };

  // The folders as Groups groups them, their root not yet named.
  FolderTree& Tree() const;
  std::string_view UrlAt(uint32_t index) const { return {entries_[index].Text, entries_[index].UrlLength}; }
  // Brings urls_ up to date with the entries added since it last was.
  void IndexUrls() const;

  TextBlocks texts_;
  std::vector<Slot> entries_;
  // Positions in entries_ by URL, the first entry of a URL only, so that
  // FindLocalFile need not scan; it covers the first indexed_ entries.
  mutable FirstIndex urls_;
  mutable uint32_t indexed_ = 0;
  // Derived from the entries on demand; see Groups and Folders. The tree
  // refers to the groups: declared after them, it is destroyed first.
  mutable std::unique_ptr<SiteGroups> groups_;
  mutable std::unique_ptr<FolderTree> tree_;
};

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

  // Empties the list and adds the items of one folder of the snapshot,
  // under the names they are listed by: at level 0 every site (the root
  // lists rootReserved beside them), at level 1 the hosts of the site, at
  // level 2 the URLs of the host with their local files' sizes. A folder
  // that is not there, or any other level, gives an empty list.
  void Build(const FolderPath& folder, std::string_view rootReserved = {});

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

// Site and host name of a source URL; either may be empty, and both are
// views into url.
struct UrlParts {
  std::string_view Site;
  std::string_view Host;
};

// Splits URLs under the CachePrefix, SkipDomains and SkipDomainsList that
// are current when it is made, however they change later.
class UrlSplitter {
 public:
  UrlSplitter();
  UrlParts Split(std::string_view url) const;

 private:
  void DropCookieUser(std::string_view& s) const;
  std::string_view RegistrablePart(std::string_view host) const;
  bool IsListedLabel(std::string_view label) const;

  std::string prefix_;
  bool skip_;
  std::string labels_;  // SkipDomainsList between commas
};

// Splits url into its site and host name under the current CachePrefix,
// SkipDomains and SkipDomainsList.
UrlParts SplitUrl(std::string_view url);

// The number of positions of s that hold c.
int32_t CountChar(std::string_view s, char c);

// Module state.
extern CacheList TheCacheList;        // the snapshot
extern uint32_t HiddenTypeMask;       // entry types left out of the snapshot
extern std::string CachePrefix;       // how cookie URLs begin
extern bool SkipDomains;              // keep a third label after a listed second-level one
extern std::string SkipDomainsList;   // the second-level labels, separated by ','

// Sets the module state to its values at load and reads CachePrefix from the
// registry; runs when the library loads.
void CacheObjInitialize();

// Empties the snapshot and releases the texts; runs when the library unloads.
void CacheObjFinalize();

#endif
