// The snapshot: an in-memory copy of the URL cache's entries.
#ifndef TROVEX_CACHE_CACHELIST_H
#define TROVEX_CACHE_CACHELIST_H

#include <cstdint>
#include <string_view>
#include <vector>

#include "cache/SnapshotStore.h"
#include "platform/win32api.h"

namespace trovex {

// Entry types left out of the snapshot; module state.
extern uint32_t HiddenTypeMask;

// One entry of the snapshot, as views into it: valid until the snapshot is
// next emptied or filled.
struct CacheEntry {
  std::string_view SourceUrl;
  std::string_view LocalFileName;  // empty when the cache gives none
};

// The times the cache noted for an entry, in FILETIME ticks; 0 where it
// noted none.
struct EntryTimes {
  uint64_t Modified = 0;  // the entry's last-modified time
  uint64_t Accessed = 0;  // its last access
  uint64_t Synced = 0;    // when it was last checked
};

// Cache entries in the order the system enumerates them, duplicates kept,
// never sorted.
class CacheList {
 public:
  CacheList();
  ~CacheList();
  CacheList(const CacheList&) = delete;
  CacheList& operator=(const CacheList&) = delete;

  // Appends the record's URL, local file and times unless record is null or its
  // type has a bit in common with HiddenTypeMask.
  void Add(const INTERNET_CACHE_ENTRY_INFOA* record);

  // Empties the snapshot.
  void Clear();

  // Empties the snapshot and reads the whole URL cache into it. Never fails:
  // whatever could be read stays.
  void Fill();

  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  CacheEntry Entry(int32_t index) const;
  const EntryTimes& Times(int32_t index) const { return times_[static_cast<size_t>(index)]; }

  // Changes with every Add and Clear, so that what was derived from the
  // entries can tell whether they are still those it was derived from.
  uint64_t Generation() const { return generation_; }

 private:
  // An entry's URL, followed directly by its local file name, in texts_.
  struct Slot {
    const char* Text;
    uint32_t UrlLength;
    uint32_t FileLength;
  };

  // Empties the snapshot, keeping the memory of its list.
  void ForgetEntries();
  // Adds every entry the system enumerates.
  void ReadEnumeration();

  TextBlocks texts_;
  std::vector<Slot> entries_;
  std::vector<EntryTimes> times_;  // by entry, beside entries_
  uint64_t generation_ = 0;
};

}  // namespace trovex

#endif
