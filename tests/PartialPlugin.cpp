// A plug-in library that exports only six of the nine entry points, for the
// host's check that it names the missing ones.
#include "plugin/fsplugin.h"

using namespace trovex;

extern "C" {

int32_t WINAPI FsInit(int32_t, FsProgressCallback, FsLogCallback, FsRequestCallback) {
  return 0;
}

void WINAPI FsGetDefRootName(char* name, int32_t maxLength) {
  if (name != nullptr && maxLength > 0) name[0] = '\0';
}

void WINAPI FsStatusInfo(const char*, int32_t, int32_t) {}

HANDLE WINAPI FsFindFirst(const char*, WIN32_FIND_DATAA*) {
  return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FsFindNext(HANDLE, WIN32_FIND_DATAA*) {
  return kFsFalse;
}

int32_t WINAPI FsFindClose(HANDLE) {
  return 0;
}

}  // extern "C"
