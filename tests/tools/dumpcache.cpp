// The Linux URL cache as the system layer's Win32 calls give it, for the
// tests that hold it against Wine and other readers:
//
//   dumpcache list         one line per entry, in enumeration order:
//                          TYPE-HEX <tab> URL <tab> LOCALFILE
//   dumpcache delete URL   deletes one entry through DeleteUrlCacheEntryA
//
// The caches are the environment's (TROVEX_WINEPREFIX, TROVEX_CACHE,
// TROVEX_SYSTEM). Exit status 0 on success; 1 with the error code on stderr.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32api.h"

namespace {

int List() {
  std::vector<char> buffer(4096);
  HANDLE handle = nullptr;
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    bool ok = handle == nullptr ? (handle = FindFirstUrlCacheEntryA(nullptr, record, &size)) != nullptr
                                : FindNextUrlCacheEntryA(handle, record, &size) != FALSE;
    if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      buffer.resize(size);
      continue;
    }
    if (!ok) break;
    std::printf("%08lx\t%s\t%s\n", static_cast<unsigned long>(record->CacheEntryType), record->lpszSourceUrlName,
                record->lpszLocalFileName != nullptr ? record->lpszLocalFileName : "");
  }
  DWORD error = GetLastError();
  if (handle != nullptr) FindCloseUrlCache(handle);
  if (error == ERROR_NO_MORE_ITEMS) return 0;
  std::fprintf(stderr, "dumpcache: the enumeration ended early (error %lu)\n", static_cast<unsigned long>(error));
  return 1;
}

int Delete(const std::string& url) {
  if (DeleteUrlCacheEntryA(url.c_str())) return 0;
  std::fprintf(stderr, "dumpcache: cannot delete (error %lu)\n", static_cast<unsigned long>(GetLastError()));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "list") return List();
  if (args.size() == 2 && args[0] == "delete") return Delete(args[1]);
  std::fprintf(stderr, "usage: dumpcache list | dumpcache delete URL\n");
  return 2;
}
