// Last error, string copies and module names.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/shared/fileio.h"
#include "platform/win32api.h"

DWORD GetLastError() {
  return static_cast<DWORD>(errno);
}

void SetLastError(DWORD code) {
  errno = static_cast<int>(code);
}

LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int maxLength) {
  if (dst == nullptr || maxLength <= 0) return dst;
  if (src == nullptr) src = "";
  size_t n = strnlen(src, static_cast<size_t>(maxLength) - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
  return dst;
}

LPSTR lstrcpyA(LPSTR dst, LPCSTR src) {
  if (dst == nullptr) return dst;
  return std::strcpy(dst, src == nullptr ? "" : src);
}

namespace {

// The program's own file. readlink cuts silently, so a link that fills the
// buffer is read again into a larger one.
std::string ProgramFile() {
  for (size_t size = PATH_MAX; size <= 16 * PATH_MAX; size *= 2) {
    std::string path(size, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), size);
    if (n <= 0) return {};
    if (static_cast<size_t>(n) < size) return path.substr(0, static_cast<size_t>(n));
  }
  return {};
}

std::string ModuleFile(HMODULE module) {
  if (module == nullptr) return ProgramFile();
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(module), &info) == 0 || info.dli_fname == nullptr) return {};
  std::string absolute = trovex::RealPath(info.dli_fname);
  return absolute.empty() ? std::string(info.dli_fname) : absolute;
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::string path = ModuleFile(module);
  if (path.empty()) {
    buffer[0] = '\0';
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  // As on Windows: a path that does not fit is cut, and the result is the
  // whole buffer with ERROR_INSUFFICIENT_BUFFER.
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}
