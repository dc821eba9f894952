// The exported entry points and the plug-in's state from load to unload.
#include "plugin/Trovex.h"

#include <exception>

#include "cache/CacheObj.h"
#include "plugin/Commands.h"
#include "plugin/FileOps.h"
#include "plugin/Listing.h"
#include "plugin/Settings.h"
#include "support/IniFile.h"

namespace {

constexpr char kRootName[] = "Trovex";

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
    TrovexFinalize();
    IniFileFinalize();
    CacheObjFinalize();
  }
};
LibraryLifetime Lifetime;

}  // namespace

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

void WINAPI FsStatusInfo(const char*, int32_t startEnd, int32_t operation) {
  if (startEnd != kFsStatusEnd || operation != kFsOperationDelete) return;
  Guarded<int>(0, [] {
    RefillCache();
    return 0;
  });
}

HANDLE WINAPI FsFindFirst(const char* path, WIN32_FIND_DATAA* record) {
  int32_t position = Guarded<int32_t>(-1, [&] {
    if (path == nullptr || record == nullptr) {
      SetLastError(ERROR_INVALID_FUNCTION);
      return -1;
    }
    return OpenListing(path, *record);
  });
  if (position < 0) SetLastError(ERROR_INVALID_FUNCTION);
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(position));
}

BOOL WINAPI FsFindNext(HANDLE handle, WIN32_FIND_DATAA* record) {
  if (record == nullptr) return kFsFalse;
  int64_t listing = reinterpret_cast<intptr_t>(handle);
  return Guarded<BOOL>(kFsFalse, [&] { return NextListingItem(listing, *record) ? kFsTrue : kFsFalse; });
}

int32_t WINAPI FsFindClose(HANDLE handle) {
  CloseListing(reinterpret_cast<intptr_t>(handle));
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
