#include "cache/CacheList.h"

#include "platform/system.h"

namespace trovex {

uint32_t HiddenTypeMask = COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY;

namespace {

// A call that keeps failing with an unexpected error is given up after this
// many tries, as if the enumeration had ended.
constexpr int kMaxFailedCalls = 16;

// The buffer first offered for records: it holds the record of a URL and a
// local file path of a few hundred bytes each with room to spare.
constexpr DWORD kFirstBufferSize = 4096;

uint64_t Ticks(const FILETIME& time) {
  return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// An open enumeration of the URL cache, closed when it goes.
class CacheEnumeration {
 public:
  explicit CacheEnumeration(HANDLE handle) : handle_(handle) {}
  ~CacheEnumeration() {
    if (handle_ != nullptr) FindCloseUrlCache(handle_);
  }
  CacheEnumeration(const CacheEnumeration&) = delete;
  CacheEnumeration& operator=(const CacheEnumeration&) = delete;

  HANDLE get() const { return handle_; }
  void Reset(HANDLE handle) {
    if (handle_ != nullptr) FindCloseUrlCache(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

}  // namespace

CacheList::CacheList() = default;
CacheList::~CacheList() = default;

void CacheList::Add(const INTERNET_CACHE_ENTRY_INFOA* record) {
  if (record == nullptr || (record->CacheEntryType & HiddenTypeMask) != 0) return;
  std::string_view url = record->lpszSourceUrlName != nullptr ? record->lpszSourceUrlName : "";
  std::string_view local = record->lpszLocalFileName != nullptr ? record->lpszLocalFileName : "";
  const char* text = texts_.Keep(url, local);
  entries_.push_back(Slot{text, static_cast<uint32_t>(url.size()), static_cast<uint32_t>(local.size())});
  times_.push_back(EntryTimes{Ticks(record->LastModifiedTime), Ticks(record->LastAccessTime),
                              Ticks(record->LastSyncTime)});
  ++generation_;
}

void CacheList::Clear() {
  ForgetEntries();
  std::vector<Slot>().swap(entries_);
  std::vector<EntryTimes>().swap(times_);
  texts_.Clear();
}

void CacheList::ForgetEntries() {
  ++generation_;
  entries_.clear();
  times_.clear();
}

CacheEntry CacheList::Entry(int32_t index) const {
  const Slot& slot = entries_[static_cast<size_t>(index)];
  return CacheEntry{{slot.Text, slot.UrlLength}, {slot.Text + slot.UrlLength, slot.FileLength}};
}

// The memory of the entries it replaces is written again, and what is left
// of it released at the end.
void CacheList::Fill() {
  ForgetEntries();
  texts_.Reuse();
  ReadEnumeration();
  texts_.ReleaseUnused();
  // The room of a much larger snapshot before is not kept.
  if (entries_.capacity() > 2 * entries_.size()) {
    entries_.shrink_to_fit();
    times_.shrink_to_fit();
  }
}

void CacheList::ReadEnumeration() {
  std::vector<char> buffer;
  auto fitting = [&buffer](DWORD size) {
    if (buffer.size() < size) buffer.resize(size);
    return buffer.empty() ? nullptr : reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  };

  // A first record that fits the buffer needs no size query: the system
  // reads the cache once per call that opens an enumeration.
  DWORD size = kFirstBufferSize;
  INTERNET_CACHE_ENTRY_INFOA* record = fitting(size);
  CacheEnumeration enumeration(FindFirstUrlCacheEntryA(nullptr, record, &size));
  if (enumeration.get() == nullptr) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    record = fitting(size);
    enumeration.Reset(FindFirstUrlCacheEntryA(nullptr, record, &size));
    if (enumeration.get() == nullptr) return;
  }
  Add(record);

  for (int failures = 0; failures < kMaxFailedCalls;) {
    // The buffer of the records so far is offered first: only a record
    // larger than all of them needs the size query and a second call.
    size = static_cast<DWORD>(buffer.size());
    if (FindNextUrlCacheEntryA(enumeration.get(), record, &size)) {
      failures = 0;
      Add(record);
      continue;
    }
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error != ERROR_INSUFFICIENT_BUFFER) {
      ++failures;
      continue;
    }
    failures = 0;
    record = fitting(size);
    if (!FindNextUrlCacheEntryA(enumeration.get(), record, &size)) break;
    Add(record);
  }
}

}  // namespace trovex
