// The operating-system boundary: the subset of the Win32 API that Trovex uses.
//
// Every unit above platform/ includes this header and calls the functions by
// their Win32 names. On Windows the declarations are the system's own
// (windows.h, wininet.h, shellapi.h) and the calls reach the real services. On
// other systems platform/posix declares the same names, types and record
// layouts and implements them over one folder, the system folder (see
// platform/posix/shared/sysfolder.h). The build puts the right sysapi.h on
// the include path; nothing above this header asks which system it runs on.
//
// The contracts both implementations keep, service by service. The tests in
// tests/contract check them on both, and mark where the two are known to
// differ.
//
// Last error
//   SetLastError(code) / GetLastError(): the calling thread's last-error code.
//   Every function below that fails leaves its reason there.
//
// Strings
//   lstrcpynA(dst, src, n): copies at most n - 1 bytes of src and a NUL;
//   nothing when n is 0. lstrcpyA(dst, src): the whole of src and its NUL.
//
// URL cache
//   FindFirstUrlCacheEntryA(pattern, record, &size) / FindNextUrlCacheEntryA:
//   a record is INTERNET_CACHE_ENTRY_INFOA followed, in the caller's buffer,
//   by the strings its pointers point to. A buffer smaller than the record
//   needs (or none) fails with ERROR_INSUFFICIENT_BUFFER and stores the size
//   needed in *size; the position does not advance. The end of the
//   enumeration fails with ERROR_NO_MORE_ITEMS; an empty cache gives no handle
//   from the first call. Ours enumerates the cache as it was when the handle
//   was opened; Wine reads its index at each call, so an entry deleted or
//   added meanwhile may or may not show; the plug-in relies on neither.
//   FindCloseUrlCache releases the handle. The pattern is null for every
//   entry, or "Cookie:" or "Visited:" for the cookies or the history alone.
//   Other spellings differ: Wine compares the pattern with those two byte for
//   byte and finds nothing for "*", ours ignores case and takes "*" as every
//   entry.
//   DeleteUrlCacheEntryA(url): removes the entry whose URL equals url byte for
//   byte, or fails with ERROR_FILE_NOT_FOUND.
//
// Registry
//   RegOpenKeyExA opens an existing key (ERROR_FILE_NOT_FOUND when missing);
//   RegCreateKeyExA opens or creates one. RegQueryValueExA with no data buffer
//   reports the type and the size needed (a REG_SZ's size counts its NUL);
//   with a buffer that is too small it fails with ERROR_MORE_DATA. Key and
//   value names compare without regard to ASCII case. RegSetValueExA stores a
//   value; RegCloseKey releases a key. Failures return the error code.
//
// Profiles (ini files)
//   GetPrivateProfileStringA(section, key, default, buffer, size, file): the
//   value, cut to size - 1 bytes and NUL-terminated, or the default when the
//   file, section or key is missing; returns the number of bytes copied.
//   Names compare without regard to ASCII case; the keys before the first
//   section header are found by the empty section name, and a section headed
//   "[]" by no name. With key null the buffer receives the section's key
//   names, with section null the section names: each followed by a NUL, the
//   list by one more; the result counts all but the last NUL. A list that
//   does not fit is cut to size - 2 bytes and a NUL, and the result is
//   size - 2; the buffer's last byte is then unspecified.
//
// Files
//   FindFirstFileA(pattern, record) / FindNextFileA / FindClose: searches a
//   folder for names matching '*' and '?' in the last component of pattern;
//   INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when nothing matches.
//   FindNextFileA gives the next match, or FALSE with ERROR_NO_MORE_FILES.
//   CopyFileA(source, target, failIfExists): copies the bytes; with
//   failIfExists set an existing target fails with ERROR_FILE_EXISTS. A failed
//   copy leaves an existing target unchanged.
//   CreateFileA(name, GENERIC_WRITE, share, nullptr, creation, flags, nullptr):
//   opens a file for writing, CREATE_NEW only where nothing exists yet (else
//   ERROR_FILE_EXISTS), CREATE_ALWAYS emptying an existing file. With
//   FILE_FLAG_OPEN_REPARSE_POINT a symbolic link at the name is never written
//   through: the file it leads to stays as it is. Opening something that
//   cannot hold a file's bytes (a folder, a pipe, a device) fails rather than
//   waits. WriteFile(file, data, size, &written, nullptr) writes at the
//   file's position; CloseHandle releases the file.
//   GetFileAttributesA(name): the attributes of exactly that name (no
//   wildcards; a link's own), or INVALID_FILE_ATTRIBUTES when nothing is there.
//   GetModuleFileNameA(module, buffer, size): the full path of the module's
//   file; returns its length. A path that does not fit fills the buffer, and
//   the result is size with ERROR_INSUFFICIENT_BUFFER; whether the last byte
//   is then a NUL differs (Wine and Windows XP: no), so callers go by the
//   result.
//
// Shell
//   ShellExecuteExA(info): starts info->lpFile with info->lpParameters; FALSE
//   when it cannot be started (ERROR_FILE_NOT_FOUND for a missing file). With
//   SEE_MASK_NOCLOSEPROCESS, info->hProcess is a handle that
//   WaitForSingleObject waits on and CloseHandle releases. Windows splits
//   lpParameters into arguments as a command line; ours passes it as the one
//   argument, as it is. QuoteArgument (platform/system.h) spells an argument
//   so that it arrives whole on both, but an empty one: Windows gives the
//   program one empty argument, ours none.
//
// User interface
//   MessageBoxA(owner, text, caption, type): shows the box and returns the
//   button chosen (IDOK, IDCANCEL).
//
// Modules: the Windows host program's plug-in loader alone uses these, so
// platform/posix declares none of them (the Linux host loads with dlopen).
//   LoadLibraryA(path): the loaded library, or null with the reason left.
//   GetProcAddress(module, name): the exported function, or null.
//   FreeLibrary(module): unloads the library.
//   SetThreadErrorMode(mode, &old): whether load failures show a box.
//   FormatMessageA / LocalFree: the system's text for an error code.
#ifndef TROVEX_PLATFORM_WIN32API_H
#define TROVEX_PLATFORM_WIN32API_H

#include "sysapi.h"

#endif
