// The URLs the Linux layer's URL cache enumerates now, in order, read through
// the Win32 calls as a caller of the system would; for the tests of the
// stores. Header alone, so that only the tests that read the cache link the
// system layer.
#ifndef TROVEX_TESTS_SUPPORT_ENUMERATEDURLS_H
#define TROVEX_TESTS_SUPPORT_ENUMERATEDURLS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32api.h"

namespace trovex {

inline std::vector<std::string> EnumeratedUrls() {
  std::vector<std::string> urls;
  std::vector<char> buffer(1 << 16);
  auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  DWORD size = static_cast<DWORD>(buffer.size());
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, record, &size);
  if (handle == nullptr) return urls;
  do {
    urls.emplace_back(record->lpszSourceUrlName);
    size = static_cast<DWORD>(buffer.size());
  } while (FindNextUrlCacheEntryA(handle, record, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS)) << "the enumeration ended early";
  FindCloseUrlCache(handle);
  return urls;
}

}  // namespace trovex

#endif
