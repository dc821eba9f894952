// What the other services need of the file calls. Internal to platform/posix.
#ifndef TROVEX_PLATFORM_POSIX_FILES_H
#define TROVEX_PLATFORM_POSIX_FILES_H

#include "sysapi.h"

namespace trovex {

// Closes a handle of CreateFileA; false when `handle` is none.
bool CloseFileHandle(HANDLE handle);

}  // namespace trovex

#endif
