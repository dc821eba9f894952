// The host's file-system plug-in interface, as Trovex implements it: the nine
// entry points a host resolves by name, their types and result codes. A host
// includes this header to call them; the plug-in to define them.
#ifndef TROVEX_PLUGIN_FSPLUGIN_H
#define TROVEX_PLUGIN_FSPLUGIN_H

#include <cstdint>

#include "platform/win32api.h"

namespace trovex {

// The host's callbacks. Their roles are fixed (progress, log, request); the
// plug-in keeps the progress callback and never calls any of them.
typedef int32_t(WINAPI* FsProgressCallback)(int32_t pluginNumber, char* source, char* target,
                                            int32_t percentDone);
typedef void(WINAPI* FsLogCallback)(int32_t pluginNumber, int32_t messageType, char* text);
typedef BOOL(WINAPI* FsRequestCallback)(int32_t pluginNumber, int32_t requestType, char* title,
                                        char* text, char* answer, int32_t answerSize);

// FsGetFile results.
constexpr int32_t kFsCopyOk = 0;
constexpr int32_t kFsCopyExists = 1;  // the target exists and overwriting was not asked for
constexpr int32_t kFsCopyFailed = 3;

// FsGetFile copy flags.
constexpr int32_t kFsCopyOverwrite = 1;

// FsExecuteFile results.
constexpr int32_t kFsExecDone = 0;
constexpr int32_t kFsExecError = 1;
constexpr int32_t kFsExecShowFolder = -2;  // the host shows the folder now in the path buffer

// FsStatusInfo arguments.
constexpr int32_t kFsStatusStart = 0;
constexpr int32_t kFsStatusEnd = 1;
constexpr int32_t kFsOperationDelete = 8;

// FsFindNext and FsDeleteFile booleans.
constexpr BOOL kFsTrue = -1;
constexpr BOOL kFsFalse = 0;

// The most listings that can be open at once.
constexpr int32_t kFsMaxOpenListings = 50;

}  // namespace trovex

using trovex::FsProgressCallback;
using trovex::FsLogCallback;
using trovex::FsRequestCallback;

extern "C" {

// Keeps the plug-in number and progress callback, loads the settings and
// reads the URL cache. Always 0.
TROVEX_EXPORT int32_t WINAPI FsInit(int32_t pluginNumber, FsProgressCallback progress,
                                    FsLogCallback log, FsRequestCallback request);

// Copies the root name "Trovex" into name, cut to maxLength - 1 bytes.
TROVEX_EXPORT void WINAPI FsGetDefRootName(char* name, int32_t maxLength);

// Reports the start or end of a host operation; the end of a deletion
// rereads the URL cache.
TROVEX_EXPORT void WINAPI FsStatusInfo(const char* remoteDir, int32_t startEnd, int32_t operation);

// Opens a listing of path and writes its first item; the listing's handle,
// or INVALID_HANDLE_VALUE with last error ERROR_INVALID_FUNCTION.
TROVEX_EXPORT HANDLE WINAPI FsFindFirst(const char* path, WIN32_FIND_DATAA* record);

// Writes the next item of the listing handle names; kFsTrue, or kFsFalse at
// its end or when handle names no open listing.
TROVEX_EXPORT BOOL WINAPI FsFindNext(HANDLE handle, WIN32_FIND_DATAA* record);

// Closes the listing the handle names. Always 0.
TROVEX_EXPORT int32_t WINAPI FsFindClose(HANDLE handle);

// Copies the entry at remoteName to the file localName: kFsCopyOk,
// kFsCopyExists or kFsCopyFailed.
TROVEX_EXPORT int32_t WINAPI FsGetFile(const char* remoteName, char* localName, int32_t copyFlags,
                                       void* remoteInfo);

// Deletes the entry at remoteName from the URL cache: kFsTrue when the cache
// deleted it.
TROVEX_EXPORT BOOL WINAPI FsDeleteFile(const char* remoteName);

// Carries out verb ("open", "properties") on remoteName: kFsExecDone,
// kFsExecError, or kFsExecShowFolder with the folder written to remoteName.
TROVEX_EXPORT int32_t WINAPI FsExecuteFile(HWND mainWindow, char* remoteName, const char* verb);

}  // extern "C"

namespace trovex {

// The entry points' types, for hosts that resolve them at run time.
typedef int32_t(WINAPI* FsInitFunction)(int32_t, FsProgressCallback, FsLogCallback, FsRequestCallback);
typedef void(WINAPI* FsGetDefRootNameFunction)(char*, int32_t);
typedef void(WINAPI* FsStatusInfoFunction)(const char*, int32_t, int32_t);
typedef HANDLE(WINAPI* FsFindFirstFunction)(const char*, WIN32_FIND_DATAA*);
typedef BOOL(WINAPI* FsFindNextFunction)(HANDLE, WIN32_FIND_DATAA*);
typedef int32_t(WINAPI* FsFindCloseFunction)(HANDLE);
typedef int32_t(WINAPI* FsGetFileFunction)(const char*, char*, int32_t, void*);
typedef BOOL(WINAPI* FsDeleteFileFunction)(const char*);
typedef int32_t(WINAPI* FsExecuteFileFunction)(HWND, char*, const char*);

}  // namespace trovex

#endif
