#include "host/EntryRecord.h"

#include <cstring>
#include <filesystem>
#include <utility>

#include "base/Ascii.h"
#include "base/Hex.h"
#include "host/HostError.h"
#include "platform/system.h"

namespace trovex {

namespace {

constexpr size_t kFirstBufferSize = 4096;

uint64_t Ticks(const FILETIME& time) {
  return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// The NUL-terminated string at p when it lies inside the record's bytes;
// a pointer elsewhere, or a string without its NUL there, gives none.
std::optional<std::string> StringInside(const std::vector<char>& buffer, size_t used, const char* p) {
  if (p == nullptr || p < buffer.data() || p >= buffer.data() + used) return std::nullopt;
  size_t room = static_cast<size_t>(buffer.data() + used - p);
  const void* end = std::memchr(p, '\0', room);
  if (end == nullptr) return std::nullopt;
  return std::string(p, static_cast<const char*>(end));
}

// The header's dwHeaderInfoSize bytes, as many of them as lie in the record.
std::string HeaderInside(const std::vector<char>& buffer, size_t used, const char* p, DWORD size) {
  if (p == nullptr || p < buffer.data() || p >= buffer.data() + used) return {};
  size_t room = static_cast<size_t>(buffer.data() + used - p);
  std::string_view header(p, std::min<size_t>(size, room));
  // The size may count the header's terminating NUL.
  if (!header.empty() && header.back() == '\0') header.remove_suffix(1);
  return std::string(header);
}

// A container's cache subfolder: eight ASCII capitals and digits.
bool IsCacheSubfolderName(std::string_view name) {
  if (name.size() != 8) return false;
  for (char c : name) {
    if (!IsDecimalDigit(c) && (c < 'A' || c > 'Z')) return false;
  }
  return true;
}

// Windows's wininet does not say which container an entry is of. An entry's
// local file lies in one of the container's cache subfolders or, as cookies
// do, in the container's folder itself.
std::string ContainerFromLocalFile(const std::optional<std::string>& file) {
  if (!file) return {};
  size_t nameStart = file->size();
  while (nameStart > 0 && !IsDirSeparator((*file)[nameStart - 1])) --nameStart;
  if (nameStart == 0) return {};
  size_t folderEnd = nameStart - 1;
  size_t folderStart = folderEnd;
  while (folderStart > 0 && !IsDirSeparator((*file)[folderStart - 1])) --folderStart;
  std::string_view folder = std::string_view(*file).substr(folderStart, folderEnd - folderStart);
  if (folderStart > 0 && IsCacheSubfolderName(folder)) return file->substr(0, folderStart - 1);
  return file->substr(0, folderEnd);
}

void CopyRecord(const std::vector<char>& buffer, size_t used, HANDLE handle, EntryRecord& out) {
  const auto* record = reinterpret_cast<const INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  out.Url = StringInside(buffer, used, record->lpszSourceUrlName).value_or("");
  out.LocalFile = StringInside(buffer, used, record->lpszLocalFileName);
  out.Type = record->CacheEntryType;
  out.UseCount = record->dwUseCount;
  out.Hits = record->dwHitRate;
  out.Size = uint64_t{record->dwSizeHigh} << 32 | record->dwSizeLow;
  out.Modified = Ticks(record->LastModifiedTime);
  out.Expires = Ticks(record->ExpireTime);
  out.Accessed = Ticks(record->LastAccessTime);
  out.Synced = Ticks(record->LastSyncTime);
  out.Header = HeaderInside(buffer, used, record->lpHeaderInfo, record->dwHeaderInfoSize);
  out.Extension = StringInside(buffer, used, record->lpszFileExtension);
  out.ExemptDelta = record->dwExemptDelta;
  out.Container = EntryContainer(handle);
  if (out.Container.empty()) out.Container = ContainerFromLocalFile(out.LocalFile);
}

struct TypeFlag {
  uint32_t Bit;
  const char* Name;
};

constexpr TypeFlag kTypeFlags[] = {
    {NORMAL_CACHE_ENTRY, "NORMAL_CACHE_ENTRY"},
    {STICKY_CACHE_ENTRY, "STICKY_CACHE_ENTRY"},
    {EDITED_CACHE_ENTRY, "EDITED_CACHE_ENTRY"},
    {TRACK_OFFLINE_CACHE_ENTRY, "TRACK_OFFLINE_CACHE_ENTRY"},
    {TRACK_ONLINE_CACHE_ENTRY, "TRACK_ONLINE_CACHE_ENTRY"},
    {SPARSE_CACHE_ENTRY, "SPARSE_CACHE_ENTRY"},
    {COOKIE_CACHE_ENTRY, "COOKIE_CACHE_ENTRY"},
    {URLHISTORY_CACHE_ENTRY, "URLHISTORY_CACHE_ENTRY"},
};

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

struct CivilDate {
  int64_t Year;
  unsigned Month;
  unsigned Day;
};

// The proleptic Gregorian date of a day counted from 1970-01-01.
CivilDate DateOfDay(int64_t days) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  unsigned shifted = (5 * dayOfYear + 2) / 153;
  unsigned day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  unsigned month = shifted < 10 ? shifted + 3 : shifted - 9;
  int64_t year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
  return CivilDate{year, month, day};
}

// Writes value as `digits` decimal digits, with leading zeros, ending
// before end; returns where they start.
char* DigitsBefore(char* end, uint64_t value, int digits) {
  for (int i = 0; i < digits; ++i, value /= 10) *--end = static_cast<char>('0' + value % 10);
  return end;
}

}  // namespace

CacheEnumeration::CacheEnumeration() : buffer_(kFirstBufferSize) {}

CacheEnumeration::~CacheEnumeration() {
  if (handle_ != nullptr) FindCloseUrlCache(handle_);
}

// One call of the enumeration into the buffer; a record larger than the
// buffer is asked for again with a buffer of the size the cache reports.
bool CacheEnumeration::Call(bool first) {
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer_.size());
    auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer_.data());
    bool read = false;
    if (first) {
      handle_ = FindFirstUrlCacheEntryA(nullptr, record, &size);
      read = handle_ != nullptr;
    } else {
      read = FindNextUrlCacheEntryA(handle_, record, &size) != FALSE;
    }
    if (read) return true;
    DWORD error = GetLastError();
    if (error == ERROR_INSUFFICIENT_BUFFER && size > buffer_.size()) {
      buffer_.resize(size);
      continue;
    }
    if (error != ERROR_NO_MORE_ITEMS) error_ = error == 0 ? ERROR_GEN_FAILURE : error;
    return false;
  }
}

bool CacheEnumeration::Next(EntryRecord& record) {
  if (ended_) return false;
  bool first = !started_;
  started_ = true;
  if (!Call(first)) {
    ended_ = true;
    return false;
  }
  CopyRecord(buffer_, buffer_.size(), handle_, record);
  return true;
}

uint32_t ForEachRecord(const std::function<void(const EntryRecord&)>& visit) {
  CacheEnumeration enumeration;
  EntryRecord record;
  while (enumeration.Next(record)) visit(record);
  return enumeration.Error();
}

std::vector<EntryRecord> RecordsOfUrl(std::string_view url) {
  std::vector<EntryRecord> found;
  uint32_t error = ForEachRecord([&](const EntryRecord& record) {
    if (record.Url == url) found.push_back(record);
  });
  if (error != 0) throw HostError(kExitFailed, "the URL cache's enumeration failed: error " + std::to_string(error));
  return found;
}

std::vector<std::string> TypeNames(uint32_t type) {
  std::vector<std::string> names;
  uint32_t known = 0;
  for (const TypeFlag& flag : kTypeFlags) {
    known |= flag.Bit;
    if (type & flag.Bit) names.emplace_back(flag.Name);
  }
  for (uint32_t bit = 1; bit != 0; bit <<= 1) {
    if ((type & bit) && !(known & bit)) names.push_back("0x" + HexText(bit, 8));
  }
  return names;
}

// Written into a buffer of its own, not through strings: an export writes
// four times a record.
void AppendIsoTime(std::string& out, uint64_t ticks) {
  if (ticks == 0) return;
  auto seconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  auto fraction = static_cast<unsigned>(ticks % kTicksPerSecond);
  int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  auto ofDay = static_cast<unsigned>(seconds - days * 86400);
  CivilDate date = DateOfDay(days);
  // The years of FILETIME ticks run from 1601 to 60056: four or five digits.
  char text[32];
  char* end = text + sizeof text;
  char* at = end;
  *--at = 'Z';
  if (fraction != 0) {
    int digits = 7;
    for (; fraction % 10 == 0; fraction /= 10) --digits;
    at = DigitsBefore(at, fraction, digits);
    *--at = '.';
  }
  at = DigitsBefore(at, ofDay % 60, 2);
  *--at = ':';
  at = DigitsBefore(at, ofDay / 60 % 60, 2);
  *--at = ':';
  at = DigitsBefore(at, ofDay / 3600, 2);
  *--at = 'T';
  at = DigitsBefore(at, date.Day, 2);
  *--at = '-';
  at = DigitsBefore(at, date.Month, 2);
  *--at = '-';
  auto year = static_cast<uint64_t>(date.Year);
  at = DigitsBefore(at, year, year >= 10000 ? 5 : 4);
  out.append(at, end);
}

std::string IsoTime(uint64_t ticks) {
  std::string text;
  AppendIsoTime(text, ticks);
  return text;
}

int64_t UnixSeconds(uint64_t ticks) {
  int64_t seconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  return ticks == 0 || seconds < 0 ? 0 : seconds;
}

int64_t UnixMicroseconds(uint64_t ticks) {
  return static_cast<int64_t>(ticks / 10) - kSecondsFrom1601To1970 * 1000000;
}

LocalFileState LocalFileOf(const EntryRecord& record) {
  LocalFileState state;
  if (!record.LocalFile || record.LocalFile->empty()) return state;
  std::error_code error;
  std::filesystem::path path(*record.LocalFile);
  if (!std::filesystem::is_regular_file(path, error)) return state;
  uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return state;
  state.Present = true;
  state.Size = size;
  return state;
}

}  // namespace trovex
