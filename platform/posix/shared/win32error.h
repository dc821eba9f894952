// The Win32 error codes that stand for errno values. Internal to
// platform/posix.
#ifndef TROVEX_PLATFORM_POSIX_WIN32ERROR_H
#define TROVEX_PLATFORM_POSIX_WIN32ERROR_H

#include "sysapi.h"

namespace trovex {

// The Win32 error code that stands for the errno value `err`.
DWORD Win32Error(int err);

// Sets the last error from errno and returns the code set.
DWORD LastErrorFromErrno();

// Sets the last error to `code` and returns FALSE, as a failing call does.
BOOL Fail(DWORD code);

}  // namespace trovex

#endif
