// An index.dat container written here, laid out as Wine writes one, whose
// entries carry the times a test chooses: the text store has no room for
// times. The entries have no local files.
#ifndef TROVEX_TESTS_SUPPORT_TIMEDINDEX_H
#define TROVEX_TESTS_SUPPORT_TIMEDINDEX_H

#include <cstdint>
#include <string>
#include <vector>

namespace trovex {

struct TimedEntry {
  std::string url;
  uint32_t type = 1;       // NORMAL_CACHE_ENTRY
  uint64_t modified = 0;   // FILETIME ticks; 0 is none
  uint64_t accessed = 0;   // FILETIME ticks; 0 is none
  uint32_t synced = 0;     // a FAT time, date in the low half; 0 is none
};

// Writes folder/index.dat (folder must exist) holding entries, which the
// cache enumerates in this order; at most 400 of them.
void WriteTimedIndex(const std::string& folder, const std::vector<TimedEntry>& entries);

}  // namespace trovex

#endif
