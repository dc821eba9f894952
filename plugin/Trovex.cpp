// The exported entry points, and the order in which the units start when the
// library loads and stop when it unloads.
#include <exception>

#include "cache/CacheObj.h"
#include "platform/system.h"
#include "plugin/Commands.h"
#include "plugin/FileOps.h"
#include "plugin/Listing.h"
#include "plugin/Settings.h"
#include "plugin/TrovexState.h"
#include "support/IniFile.h"

namespace trovex {
namespace {

constexpr char kRootName[] = "Trovex";

// A listing's handle as the host holds it, and back; the two are as wide.
ListingHandle ListingOf(HANDLE handle) {
  return reinterpret_cast<ListingHandle>(handle);
}
HANDLE HostHandleOf(ListingHandle listing) {
  return reinterpret_cast<HANDLE>(listing);
}

// Runs an entry point's work; the host is not C++, so an exception ends the
// call with the entry point's failure result instead of crossing into it.
template <typename Result, typename Work>
Result Guarded(Result failure, Work work) noexcept {
  try {
    return work();
  } catch (...) {
    return failure;
  }
}

// The units start in the order they depend on each other and stop in the
// reverse order. An exception at load would end the host inside its loader,
// so start-up stops at a failure as an entry point's work does.
struct LibraryLifetime {
  LibraryLifetime() {
    Guarded(0, [] {
      CacheObjInitialize();
      TrovexInitialize();
      return 0;
    });
  }
  ~LibraryLifetime() {
    CloseAllListings();
    TrovexFinalize();
    IniFileFinalize();
    CacheObjFinalize();
  }
};
LibraryLifetime Lifetime;

}  // namespace
}  // namespace trovex

using namespace trovex;

extern "C" {

int32_t WINAPI FsInit(int32_t pluginNumber, FsProgressCallback progress, FsLogCallback,
                      FsRequestCallback) {
  return Guarded<int32_t>(0, [&] {
    PluginNumber = pluginNumber;
    ProgressCallback = progress;
    LoadSettings();
    RefillCache();
    return 0;
  });
}

void WINAPI FsGetDefRootName(char* name, int32_t maxLength) {
  if (name == nullptr) return;
  lstrcpynA(name, kRootName, maxLength);
}

// A delete operation is one run of cache changes; at its end the changes
// are put in place and the snapshot follows the cache.
void WINAPI FsStatusInfo(const char*, int32_t startEnd, int32_t operation) {
  if (operation != kFsOperationDelete || (startEnd != kFsStatusStart && startEnd != kFsStatusEnd)) return;
  Guarded<int>(0, [&] {
    if (startEnd == kFsStatusStart) {
      BeginCacheChanges();
      return 0;
    }
    EndCacheChanges();
    RefillCache();
    return 0;
  });
}

HANDLE WINAPI FsFindFirst(const char* path, WIN32_FIND_DATAA* record) {
  ListingHandle listing = Guarded<ListingHandle>(-1, [&] {
    if (path == nullptr || record == nullptr) {
      SetLastError(ERROR_INVALID_FUNCTION);
      return ListingHandle{-1};
    }
    return OpenListing(path, *record);
  });
  if (listing < 0) SetLastError(ERROR_INVALID_FUNCTION);
  return HostHandleOf(listing);
}

BOOL WINAPI FsFindNext(HANDLE handle, WIN32_FIND_DATAA* record) {
  if (record == nullptr) return kFsFalse;
  ListingHandle listing = ListingOf(handle);
  return Guarded<BOOL>(kFsFalse, [&] { return NextListingItem(listing, *record) ? kFsTrue : kFsFalse; });
}

int32_t WINAPI FsFindClose(HANDLE handle) {
  CloseListing(ListingOf(handle));
  return 0;
}

int32_t WINAPI FsGetFile(const char* remoteName, char* localName, int32_t copyFlags, void*) {
  if (remoteName == nullptr || localName == nullptr) return kFsCopyFailed;
  return Guarded<int32_t>(kFsCopyFailed, [&] { return CopyEntryOut(remoteName, localName, copyFlags); });
}

BOOL WINAPI FsDeleteFile(const char* remoteName) {
  if (remoteName == nullptr) return kFsFalse;
  return Guarded<BOOL>(kFsFalse, [&] { return DeleteEntry(remoteName) ? kFsTrue : kFsFalse; });
}

int32_t WINAPI FsExecuteFile(HWND mainWindow, char* remoteName, const char* verb) {
  if (remoteName == nullptr || verb == nullptr) return kFsExecError;
  return Guarded<int32_t>(kFsExecError, [&] { return ExecuteCommand(mainWindow, remoteName, verb); });
}

}  // extern "C"
