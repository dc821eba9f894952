// The stores that hold the URL cache's entries, behind one interface: the
// text store of the system folder, index.dat containers, and whatever kind
// comes next. Each kind lives in a file of its own and gives a UrlStore;
// the list of kinds (storelist.cpp) picks the kind of each folder the
// environment names. The enumeration calls (services/urlcache.cpp) walk the
// snapshots record by record; a deletion asks the stores in order until one
// holds the URL.
#ifndef TROVEX_PLATFORM_POSIX_URLSTORE_H
#define TROVEX_PLATFORM_POSIX_URLSTORE_H

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/stores/containers.h"
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
  // What reading the store left out and why, in one line ("dropped 2
  // records (2 bad URL)"); empty when nothing.
  virtual std::string Dropped() const { return {}; }
  // The folder the store lies in: a container's, or the system folder.
  virtual std::string_view Folder() const = 0;
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

// What reading one store gives: its snapshot, or why there is none (empty
// when the store is simply not there).
struct StoreReading {
  std::shared_ptr<const UrlSnapshot> Snapshot;
  std::string Problem;
};

// One kind of store. Every function takes the store's source: its folder
// and the Wine prefix it belongs to.
struct UrlStore {
  // What the store is called in a report, after its folder ("index.dat").
  const char* Name;
  // Whether the folder holds a store of this kind.
  bool (*IsIn)(const std::string& folder);
  // The store's entries as they are now.
  StoreReading (*Read)(const CacheContainer& source);
  // Deletes the entry whose URL is url, byte for byte: TRUE; FALSE with the
  // last error when the store refuses; nullopt when it holds no such URL,
  // so that the next store is asked. It takes the locks that the store's
  // other writers respect, and refuses while they hold them. Inside a run
  // (BeginCacheChanges) it may keep its locks and what it changed until
  // Commit.
  std::optional<BOOL> (*Delete)(const CacheContainer& source, std::string_view url);
  // Writes what deletions kept and lets the locks go; FALSE with the last
  // error when the writing failed. TRUE when nothing is kept.
  BOOL (*Commit)();
  // Forgets what a run remembered of the stores it examined.
  void (*EndRun)();
};

// A store the environment names, with its kind.
struct ConfiguredStore {
  const UrlStore* Kind = nullptr;
  CacheContainer Source;
};

// The kind of store the folder holds; null when none.
const UrlStore* StoreKindOf(const std::string& folder);

// The stores of the environment in the order an enumeration visits them:
// the containers of containers.h when it names any, else the system
// folder's text store.
std::vector<ConfiguredStore> ConfiguredStores();

// The stores that serve the URL cache now, each as a snapshot, in the order
// an enumeration visits them; empty when there is no store. A store that
// cannot be read is left out.
Snapshots CurrentSnapshots();

// Deletes the entry whose URL is url, byte for byte, and its local file,
// from the first store that holds it. FALSE with the last error set when no
// store holds it (ERROR_FILE_NOT_FOUND) or the store refuses.
BOOL DeleteFromStores(const char* url);

}  // namespace trovex

#endif
