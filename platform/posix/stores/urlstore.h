// What the URL cache calls of this system read and change: the stores that
// hold cache entries. The enumeration calls (urlcache.cpp) walk a store's
// snapshot record by record; deletion goes to the store that holds the URL.
// Each kind of store lives in a file of its own. Internal to platform/posix.
#ifndef TROVEX_PLATFORM_POSIX_URLSTORE_H
#define TROVEX_PLATFORM_POSIX_URLSTORE_H

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "sysapi.h"

namespace trovex {

// The entries of one store as they were when an enumeration opened it; it
// never changes afterwards, whatever happens to the store's files.
class UrlSnapshot {
 public:
  virtual ~UrlSnapshot() = default;

  virtual size_t Count() const = 0;
  // The source URL of entry i (i < Count()).
  virtual std::string_view Url(size_t i) const = 0;
  // The bytes entry i takes as an INTERNET_CACHE_ENTRY_INFOA followed by its
  // strings.
  virtual size_t RecordSize(size_t i) const = 0;
  // Writes entry i into out, which holds at least RecordSize(i) bytes; the
  // record's string pointers point into out.
  virtual void WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* out) const = 0;
};

using Snapshots = std::vector<std::shared_ptr<const UrlSnapshot>>;

// Makes record an empty record of its own size. Field by field: a clear of
// the whole struct compiles to a string instruction whose start-up, paid for
// every record handed out, costs a third of writing the record.
inline void StartRecord(INTERNET_CACHE_ENTRY_INFOA* record) {
  const FILETIME never{0, 0};
  record->dwStructSize = sizeof *record;
  record->lpszSourceUrlName = nullptr;
  record->lpszLocalFileName = nullptr;
  record->CacheEntryType = 0;
  record->dwUseCount = 0;
  record->dwHitRate = 0;
  record->dwSizeLow = 0;
  record->dwSizeHigh = 0;
  record->LastModifiedTime = never;
  record->ExpireTime = never;
  record->LastAccessTime = never;
  record->LastSyncTime = never;
  record->lpHeaderInfo = nullptr;
  record->dwHeaderInfoSize = 0;
  record->lpszFileExtension = nullptr;
  record->dwReserved = 0;
}

// The stores that serve the URL cache now, each as a snapshot, in the order
// an enumeration visits them; empty when there is no store.
Snapshots CurrentSnapshots();

// Deletes the entry whose URL is url, byte for byte, and its local file.
// FALSE with the last error set when no store holds it or the store refuses.
BOOL DeleteFromStores(const char* url);

}  // namespace trovex

#endif
