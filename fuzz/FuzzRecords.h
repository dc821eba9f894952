// Every record of a URL cache enumeration, each asked for as a careful
// caller of the system asks: first without a buffer, for the size, then
// with a buffer of exactly that size.
#ifndef TROVEX_FUZZ_FUZZRECORDS_H
#define TROVEX_FUZZ_FUZZRECORDS_H

#include <vector>

#include "fuzz/FuzzCheck.h"
#include "platform/win32api.h"

namespace trovex {

namespace fuzz_records {

// One record through call(record, size); false at the end.
template <typename Call, typename Visit>
bool Fetch(Call call, Visit visit) {
  DWORD size = 0;
  FUZZ_CHECK(!call(nullptr, &size));
  if (GetLastError() == ERROR_NO_MORE_ITEMS) return false;
  FUZZ_CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER && size >= sizeof(INTERNET_CACHE_ENTRY_INFOA));
  std::vector<char> buffer(size);
  FUZZ_CHECK(call(reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data()), &size));
  FUZZ_CHECK(size == buffer.size());
  visit(buffer);
  return true;
}

}  // namespace fuzz_records

// Calls visit(buffer) for each record of the enumeration of pattern (null
// for every entry), the record at the buffer's start.
template <typename Visit>
void ForEachEnumeratedRecord(const char* pattern, Visit visit) {
  HANDLE handle = nullptr;
  auto first = [&](INTERNET_CACHE_ENTRY_INFOA* record, DWORD* size) {
    handle = FindFirstUrlCacheEntryA(pattern, record, size);
    return handle != nullptr;
  };
  if (!fuzz_records::Fetch(first, visit)) return;
  auto next = [&](INTERNET_CACHE_ENTRY_INFOA* record, DWORD* size) {
    return FindNextUrlCacheEntryA(handle, record, size) != FALSE;
  };
  while (fuzz_records::Fetch(next, visit)) {
  }
  FUZZ_CHECK(FindCloseUrlCache(handle));
}

}  // namespace trovex

#endif
