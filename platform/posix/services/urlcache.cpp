// The URL cache calls: enumeration with its size queries, and deletion, over
// the stores of urlstore.h. An enumeration takes a snapshot of every store
// when it opens and hands out their entries in order, the stores one after
// the other.
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "base/Ascii.h"
#include "platform/posix/shared/handles.h"
#include "platform/posix/shared/win32error.h"
#include "platform/posix/stores/urlstore.h"
#include "platform/system.h"
#include "platform/win32api.h"

namespace trovex {

namespace {

struct Enumeration {
  Snapshots stores;
  std::string prefix;  // only URLs that begin with it, ASCII case ignored; empty: all
  size_t store = 0;    // the store it stands in
  size_t next = 0;     // the entry of that store it stands at
  std::string lastFolder;  // the folder of the store of the entry handed out last
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
  enumeration.lastFolder = enumeration.stores[enumeration.store]->Folder();
  ++enumeration.next;
  return true;
}

void HoldForNextCall(Snapshots stores) {
  std::lock_guard<std::mutex> hold(heldMutex);
  heldForNextCall = std::move(stores);
}

}  // namespace

std::string EntryContainer(HANDLE enumeration) {
  std::shared_ptr<Enumeration> found = enumerations.Find(enumeration);
  return found ? found->lastFolder : std::string();
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
