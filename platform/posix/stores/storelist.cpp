// The list of the kinds of store, and the calls that loop over the stores
// the environment names: snapshots for an enumeration, deletions, the run
// of changes and the report of what is read. A new kind of store adds its
// file and a line to kStoreKinds.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/stores/containers.h"
#include "platform/posix/stores/indexdat.h"
#include "platform/posix/stores/textstore.h"
#include "platform/posix/stores/urlstore.h"
#include "platform/posix/stores/webcache.h"
#include "platform/posix/shared/fileio.h"
#include "platform/posix/shared/sysfolder.h"
#include "platform/posix/shared/win32error.h"
#include "platform/system.h"

namespace trovex {

namespace {

// The kinds of store a named folder may hold, in the order they are tried.
// The text store is not among them: it serves when no folder is named.
const UrlStore* const kStoreKinds[] = {&kIndexDatStore, &kWebCacheStore};

// The run of changes: whether one is open, and the stores as it found them.
struct Run {
  bool open = false;
  std::optional<std::vector<ConfiguredStore>> stores;
};

TROVEX_MODULE_STATE std::mutex runMutex;
TROVEX_MODULE_STATE Run run;

const std::vector<ConfiguredStore>& RunStores() {
  if (!run.stores) run.stores = ConfiguredStores();
  return *run.stores;
}

// Every kind's kept deletions are written: the result of the first that
// fails, with its last error.
BOOL CommitAll() {
  BOOL committed = TRUE;
  DWORD error = ERROR_SUCCESS;
  for (const UrlStore* kind : kStoreKinds) {
    if (!kind->Commit() && committed) {
      committed = FALSE;
      error = GetLastError();
    }
  }
  if (!kTextStore.Commit() && committed) {
    committed = FALSE;
    error = GetLastError();
  }
  if (!committed) SetLastError(error);
  return committed;
}

void EndRun() {
  for (const UrlStore* kind : kStoreKinds) kind->EndRun();
  kTextStore.EndRun();
  run.stores.reset();
}

BOOL DeleteFromFirstHolder(std::string_view url) {
  for (const ConfiguredStore& store : RunStores()) {
    if (std::optional<BOOL> deleted = store.Kind->Delete(store.Source, url)) return *deleted;
  }
  return Fail(ERROR_FILE_NOT_FOUND);
}

// A host that unloads the library inside a run has been told its deletions
// were made: they are written then, and the stores' locks let go, so that a
// wineserver waiting for them can start.
struct CommitAtUnload {
  ~CommitAtUnload() { EndCacheChanges(); }
} commitAtUnload;

std::string Label(const ConfiguredStore& store) {
  return store.Source.Folder + "/" + store.Kind->Name;
}

}  // namespace

const UrlStore* StoreKindOf(const std::string& folder) {
  for (const UrlStore* kind : kStoreKinds) {
    if (kind->IsIn(folder)) return kind;
  }
  return nullptr;
}

std::vector<ConfiguredStore> ConfiguredStores() {
  std::vector<ConfiguredStore> stores;
  if (!ContainersConfigured()) {
    stores.push_back({&kTextStore, {WithoutTrailingSlashes(SystemFolder()), {}}});
    return stores;
  }
  for (CacheContainer& container : ConfiguredContainers()) {
    if (const UrlStore* kind = StoreKindOf(container.Folder)) stores.push_back({kind, std::move(container)});
  }
  return stores;
}

Snapshots CurrentSnapshots() {
  {
    // Every deletion reported is in the stores an enumeration reads.
    std::lock_guard<std::mutex> hold(runMutex);
    CommitAll();
  }
  Snapshots snapshots;
  for (const ConfiguredStore& store : ConfiguredStores()) {
    if (StoreReading reading = store.Kind->Read(store.Source); reading.Snapshot)
      snapshots.push_back(std::move(reading.Snapshot));
  }
  return snapshots;
}

BOOL DeleteFromStores(const char* url) {
  std::lock_guard<std::mutex> hold(runMutex);
  BOOL deleted = DeleteFromFirstHolder(url);
  if (run.open) return deleted;
  DWORD error = GetLastError();
  BOOL committed = CommitAll();
  EndRun();
  if (!deleted) SetLastError(error);
  return deleted && committed;
}

void BeginCacheChanges() {
  std::lock_guard<std::mutex> hold(runMutex);
  run.open = true;
}

void EndCacheChanges() {
  std::lock_guard<std::mutex> hold(runMutex);
  CommitAll();
  EndRun();
  run.open = false;
}

CacheSources DescribeCacheSources() {
  CacheSources sources;
  sources.Skipped = SourceProblems();
  for (const ConfiguredStore& store : ConfiguredStores()) {
    // The system folder's own store is the system's cache: nothing to say.
    if (store.Kind == &kTextStore) continue;
    StoreReading reading = store.Kind->Read(store.Source);
    if (!reading.Snapshot) {
      if (!reading.Problem.empty()) sources.Skipped.push_back(Label(store) + ": " + reading.Problem);
      continue;
    }
    sources.InUse.push_back(store.Source.Folder);
    if (std::string dropped = reading.Snapshot->Dropped(); !dropped.empty())
      sources.Partial.push_back(Label(store) + ": " + dropped);
  }
  sources.NoneRead = ContainersConfigured() && sources.InUse.empty();
  return sources;
}

}  // namespace trovex
