// On Windows the Win32 declarations are the system's own.
#ifndef TROVEX_PLATFORM_WIN32_SYSAPI_H
#define TROVEX_PLATFORM_WIN32_SYSAPI_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

// Marks the few functions a DLL exports.
#define TROVEX_EXPORT __declspec(dllexport)

#endif
