// The URL cache calls: enumeration with its size queries, and deletion, over
// the stores of urlstore.h. An enumeration takes a snapshot of every store
// when it opens and hands out their entries in order, the stores one after
// the other.
//
// Deletions from index.dat containers between BeginCacheChanges and
// EndCacheChanges are made in memory: the container that holds the entry
// stays locked and read, each deletion edits its image, and it is written
// once, when the run ends or a deletion needs another container (one
// thread holds one container's lock at a time). Containers examined on the
// way are remembered while their index is unchanged.
#include <sys/stat.h>

#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/stores/cachelock.h"
#include "platform/posix/stores/containers.h"
#include "platform/posix/shared/handles.h"
#include "platform/posix/stores/indexdat.h"
#include "platform/posix/stores/indexdatedit.h"
#include "platform/system.h"
#include "platform/win32api.h"
#include "base/Ascii.h"
#include "base/Utf.h"
#include "platform/posix/stores/textstore.h"
#include "platform/posix/stores/urlstore.h"
#include "platform/posix/shared/win32error.h"

namespace trovex {

namespace {

struct Enumeration {
  Snapshots stores;
  std::string prefix;  // only URLs that begin with it, ASCII case ignored; empty: all
  size_t store = 0;    // the store it stands in
  size_t next = 0;     // the entry of that store it stands at
};

TROVEX_MODULE_STATE HandleTable<Enumeration> enumerations;

// The snapshots a failed size query of FindFirstUrlCacheEntryA read, kept
// for the call with a buffer that follows it, so that the stores are not
// read twice.
std::mutex heldMutex;
Snapshots heldForNextCall;

// Moves the enumeration to its next entry that matches; false at the end.
bool SeekMatch(Enumeration& enumeration) {
  for (; enumeration.store < enumeration.stores.size(); ++enumeration.store, enumeration.next = 0) {
    const UrlSnapshot& store = *enumeration.stores[enumeration.store];
    // Without a prefix every entry matches: no URL need be looked at.
    if (enumeration.prefix.empty() && enumeration.next < store.Count()) return true;
    for (; enumeration.next < store.Count(); ++enumeration.next) {
      if (StartsWithNoCase(store.Url(enumeration.next), enumeration.prefix)) return true;
    }
  }
  return false;
}

// Writes the record and its strings into the caller's buffer; a buffer that
// is missing or too small fails with ERROR_INSUFFICIENT_BUFFER and the size
// needed in *size.
bool WriteRecord(const UrlSnapshot& store, size_t entry, INTERNET_CACHE_ENTRY_INFOA* record, DWORD* size) {
  size_t needed = store.RecordSize(entry);
  if (needed > std::numeric_limits<DWORD>::max()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (record == nullptr || *size < needed) {
    *size = static_cast<DWORD>(needed);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  store.WriteRecord(entry, record);
  *size = static_cast<DWORD>(needed);
  return true;
}

// Hands out the entry the enumeration stands at and moves past it; the
// position stays when the record does not fit.
bool Advance(Enumeration& enumeration, INTERNET_CACHE_ENTRY_INFOA* record, DWORD* size) {
  if (!SeekMatch(enumeration)) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  if (!WriteRecord(*enumeration.stores[enumeration.store], enumeration.next, record, size)) return false;
  ++enumeration.next;
  return true;
}

bool Holds(const UrlSnapshot& store, std::string_view url) {
  for (size_t i = 0; i < store.Count(); ++i) {
    if (store.Url(i) == url) return true;
  }
  return false;
}

void HoldForNextCall(Snapshots stores) {
  std::lock_guard<std::mutex> hold(heldMutex);
  heldForNextCall = std::move(stores);
}

}  // namespace

namespace {

// A container examined for a URL it did not hold, and what it holds.
struct Examined {
  std::string folder;
  std::unique_ptr<IndexDatEdit> edit;  // released: its URLs only
};

// The run of changes: whether one is open, the container held for it, and
// the containers examined.
struct Changes {
  bool open = false;
  std::optional<std::vector<CacheContainer>> containers;  // as the run found them
  std::string folder;
  std::optional<ContainerLock> lock;
  std::unique_ptr<IndexDatEdit> edit;
  std::vector<Examined> examined;
};

std::mutex changesMutex;
Changes changes;

bool SameStatus(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Whether the container was examined and its index, still unchanged, does
// not hold url.
bool KnownWithout(const std::string& folder, std::string_view url) {
  for (auto each = changes.examined.begin(); each != changes.examined.end(); ++each) {
    if (each->folder != folder) continue;
    struct stat now {};
    if (stat((folder + "/" + kIndexDatName).c_str(), &now) == 0 && SameStatus(now, each->edit->Status()))
      return !each->edit->Holds(url);
    changes.examined.erase(each);
    return false;
  }
  return false;
}

// Writes the held container and lets it go; the result of its commit.
BOOL CommitHeld() {
  if (!changes.edit) return TRUE;
  BOOL committed = changes.edit->Commit();
  DWORD error = GetLastError();
  changes.edit.reset();
  changes.lock.reset();
  changes.folder.clear();
  if (!committed) SetLastError(error);
  return committed;
}

// A container whose lock or index is not to be had now: a deletion of a URL
// it holds is refused with `error`, one it does not hold looks further.
std::optional<BOOL> ExamineUnlocked(const CacheContainer& container, std::string_view url, DWORD error) {
  std::shared_ptr<const UrlSnapshot> index = IndexDatSnapshot(container.Folder);
  if (index && Holds(*index, url)) return Fail(error);
  return std::nullopt;
}

// Takes the container's locks and reads it; when it holds url, it becomes
// the held container and the deletion is made. Nothing when it does not.
std::optional<BOOL> Examine(const CacheContainer& container, std::string_view url) {
  ContainerLock lock(container);
  if (!lock.Held()) return ExamineUnlocked(container, url, lock.Error());
  DWORD error = ERROR_SUCCESS;
  std::unique_ptr<IndexDatEdit> edit = IndexDatEdit::Open(container.Folder, &error);
  if (!edit) {
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
    return ExamineUnlocked(container, url, error);
  }
  if (!edit->Holds(url)) {
    edit->Release();
    changes.examined.push_back({container.Folder, std::move(edit)});
    return std::nullopt;
  }
  changes.folder = container.Folder;
  changes.lock.emplace(std::move(lock));
  changes.edit = std::move(edit);
  return changes.edit->Delete(url);
}

const std::vector<CacheContainer>& Containers() {
  if (!changes.containers) changes.containers = ConfiguredContainers();
  return *changes.containers;
}

// The first container that holds url deletes it; a lock is taken only to
// examine a container, so that a URL no container holds is never refused
// for one.
BOOL DeleteFromContainers(std::string_view url) {
  for (const CacheContainer& container : Containers()) {
    if (changes.edit && changes.folder == container.Folder) {
      if (changes.edit->Holds(url)) return changes.edit->Delete(url);
      continue;
    }
    if (KnownWithout(container.Folder, url)) continue;
    CommitHeld();
    if (std::optional<BOOL> deleted = Examine(container, url)) return *deleted;
  }
  return Fail(ERROR_FILE_NOT_FOUND);
}

// Outside a run nothing is held or remembered between two calls.
void EndRun() {
  changes.examined.clear();
  changes.containers.reset();
}

}  // namespace

BOOL DeleteFromStores(const char* url) {
  if (!ContainersConfigured()) return DeleteFromTextStore(url);
  std::lock_guard<std::mutex> hold(changesMutex);
  BOOL deleted = DeleteFromContainers(url);
  if (changes.open) return deleted;
  DWORD error = GetLastError();
  BOOL committed = CommitHeld();
  EndRun();
  if (!deleted) SetLastError(error);
  return deleted && committed;
}

void BeginCacheChanges() {
  std::lock_guard<std::mutex> hold(changesMutex);
  changes.open = true;
}

void EndCacheChanges() {
  std::lock_guard<std::mutex> hold(changesMutex);
  CommitHeld();
  EndRun();
  changes.open = false;
}

namespace {

// A host that unloads the library inside a run has been told its deletions
// were made: they are written then, and the container's locks let go, so
// that a wineserver waiting for them can start.
struct CommitAtUnload {
  ~CommitAtUnload() { EndCacheChanges(); }
} commitAtUnload;

}  // namespace

// The index.dat containers when the environment names any, else the text
// store. A container whose index fails the reader's checks is left out.
Snapshots CurrentSnapshots() {
  {
    // Every deletion reported is in the stores an enumeration reads.
    std::lock_guard<std::mutex> hold(changesMutex);
    CommitHeld();
  }
  Snapshots stores;
  if (!ContainersConfigured()) {
    if (std::shared_ptr<const UrlSnapshot> text = TextStoreSnapshot()) stores.push_back(std::move(text));
    return stores;
  }
  for (const CacheContainer& container : ConfiguredContainers()) {
    if (std::shared_ptr<const UrlSnapshot> index = IndexDatSnapshot(container.Folder)) stores.push_back(std::move(index));
  }
  return stores;
}

}  // namespace trovex

using namespace trovex;

HANDLE FindFirstUrlCacheEntryA(LPCSTR pattern, LPINTERNET_CACHE_ENTRY_INFOA record, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto enumeration = std::make_unique<Enumeration>();
  enumeration->stores = CurrentSnapshots();
  if (enumeration->stores.empty()) {
    HoldForNextCall({});
    SetLastError(ERROR_NO_MORE_ITEMS);
    return nullptr;
  }
  if (pattern != nullptr && std::strcmp(pattern, "*") != 0) enumeration->prefix = pattern;
  bool advanced = Advance(*enumeration, record, size);
  DWORD error = GetLastError();
  HoldForNextCall(advanced || error != ERROR_INSUFFICIENT_BUFFER ? Snapshots{} : enumeration->stores);
  SetLastError(error);
  if (!advanced) return nullptr;
  return enumerations.Add(std::move(enumeration));
}

BOOL FindNextUrlCacheEntryA(HANDLE handle, LPINTERNET_CACHE_ENTRY_INFOA record, LPDWORD size) {
  std::shared_ptr<Enumeration> enumeration = enumerations.Find(handle);
  if (!enumeration) return Fail(ERROR_INVALID_HANDLE);
  if (size == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return Advance(*enumeration, record, size) ? TRUE : FALSE;
}

BOOL FindCloseUrlCache(HANDLE handle) {
  return enumerations.Remove(handle) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL DeleteUrlCacheEntryA(LPCSTR url) {
  if (url == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return DeleteFromStores(url);
}
