// The cache model: the snapshot of the URL cache, and the virtual folders
// derived from it under the grouping settings. This unit composes the
// pieces; each lives in its own header, included here.
#ifndef TROVEX_CACHE_CACHEOBJ_H
#define TROVEX_CACHE_CACHEOBJ_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cache/CacheList.h"
#include "cache/FolderList.h"
#include "cache/UrlSplitter.h"

namespace trovex {

class FolderTree;
class SiteGroups;

// The virtual folders of a snapshot: its groups under the current grouping
// settings and the tree made of them, derived when first asked for and again
// once the snapshot or the settings have changed.
class FolderView {
 public:
  explicit FolderView(const CacheList& snapshot);
  ~FolderView();
  FolderView(const FolderView&) = delete;
  FolderView& operator=(const FolderView&) = delete;

  // The snapshot grouped by site and host under TheGrouping; valid until
  // the snapshot or the settings change and Groups is called again.
  const SiteGroups& Groups() const;

  // The virtual folders as Groups groups them, the root listing
  // rootReserved beside its sites; valid as long as Groups.
  const FolderTree& Folders(std::string_view rootReserved) const;

  // The entry listed as name in the host folder host of the site folder
  // site, each given as listed; none when they lead to no entry.
  std::optional<CacheEntry> FindListedEntry(std::string_view site, std::string_view host, std::string_view name,
                                            std::string_view rootReserved) const;

  // The local file of that entry, the first of its URL; empty when they lead
  // to no entry or the cache gave the entry no file.
  std::string FindLocalFile(std::string_view site, std::string_view host, std::string_view name,
                            std::string_view rootReserved) const;

  // Fills list with the items of folder, the root listing rootReserved
  // beside its sites, with their times when withTimes; see
  // FolderList::Build.
  void Build(FolderList& list, const FolderPath& folder, std::string_view rootReserved = {},
             bool withTimes = false) const;

  // Derives the folders now, so that no listing or copy waits for them.
  void Prepare() const { Tree(); }

  // Lets go of everything derived.
  void Release();

 private:
  // The folders as Groups groups them, their root not yet named.
  FolderTree& Tree() const;

  const CacheList& snapshot_;
  mutable uint64_t derivedFrom_ = 0;  // the snapshot's generation
  // The tree refers to the groups: declared after them, it is destroyed first.
  mutable std::unique_ptr<SiteGroups> groups_;
  mutable std::unique_ptr<FolderTree> tree_;
};

// Module state.
extern CacheList TheCacheList;     // the snapshot
extern FolderView TheFolderView;   // the folders of TheCacheList

// Empties the snapshot, reads the whole URL cache into it and derives its
// folders; the first time since the library loaded (at FsInit), reads
// CachePrefix from the registry before. Never fails: whatever could be read
// stays.
void RefillCache();

// Sets the module state to its values at load, CachePrefix to its default
// until the first RefillCache reads it; runs when the library loads, and
// touches no registry.
void CacheObjInitialize();

// Empties the snapshot and releases the texts; runs when the library unloads.
void CacheObjFinalize();

}  // namespace trovex

#endif
