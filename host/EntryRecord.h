// The URL cache's records of entries as the host reads them itself, through
// the system's enumeration (FindFirstUrlCacheEntryA and the rest), with no
// filter of the plug-in's settings: history and cookies come too.
#ifndef TROVEX_HOST_ENTRYRECORD_H
#define TROVEX_HOST_ENTRYRECORD_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32api.h"

namespace trovex {

// Every field of one record, its strings copied out of the record's buffer.
// Times are FILETIME ticks (100 ns since 1601-01-01 UTC); 0 is unset.
struct EntryRecord {
  std::string Url;
  std::optional<std::string> LocalFile;  // none when the record names no file
  uint32_t Type = 0;
  uint32_t UseCount = 0;
  uint32_t Hits = 0;
  uint64_t Size = 0;
  uint64_t Modified = 0;
  uint64_t Expires = 0;
  uint64_t Accessed = 0;
  uint64_t Synced = 0;
  std::string Header;
  std::optional<std::string> Extension;
  uint32_t ExemptDelta = 0;
  std::string Container;  // the container's folder; empty when unknown
};

// The local file as the file system has it now.
struct LocalFileState {
  bool Present = false;  // a regular file is there
  uint64_t Size = 0;     // its size on disk when present
};

// An enumeration of the whole cache, one record at a time in one buffer of
// its own, so that reading any number of entries takes the memory of the
// largest one. Closed by the destructor.
class CacheEnumeration {
 public:
  CacheEnumeration();
  ~CacheEnumeration();
  CacheEnumeration(const CacheEnumeration&) = delete;
  CacheEnumeration& operator=(const CacheEnumeration&) = delete;

  // The next record into record; false at the end. Failed() tells an end
  // the system gave for another reason than the last entry.
  bool Next(EntryRecord& record);
  bool Failed() const { return error_ != 0; }
  uint32_t Error() const { return error_; }

 private:
  bool Call(bool first);

  HANDLE handle_ = nullptr;
  bool started_ = false;
  bool ended_ = false;
  uint32_t error_ = 0;
  std::vector<char> buffer_;
};

// Reads every record of the cache through one enumeration and hands each to
// visit, in the enumeration's order, before the next is read: what visit
// keeps is all that stays. The enumeration's error; 0 when it ended at the
// last record. Every reading of the whole cache goes through here.
uint32_t ForEachRecord(const std::function<void(const EntryRecord&)>& visit);

// The records whose URL is url, in enumeration order (one per container
// that holds it). Throws HostError (kExitFailed) when the enumeration fails.
std::vector<EntryRecord> RecordsOfUrl(std::string_view url);

// The names of the type flags set in type, wininet's (NORMAL_CACHE_ENTRY,
// ...) in the order of their values, then each unknown bit as 0x%08x.
std::vector<std::string> TypeNames(uint32_t type);

// "2013-03-10T16:05:42Z", with up to seven digits of fraction when the
// ticks have one; empty for 0. AppendIsoTime appends the same to out.
std::string IsoTime(uint64_t ticks);
void AppendIsoTime(std::string& out, uint64_t ticks);

// Seconds since 1970-01-01 UTC; 0 for 0 and for any time before 1970.
int64_t UnixSeconds(uint64_t ticks);

// Microseconds since 1970-01-01 UTC, negative before it.
int64_t UnixMicroseconds(uint64_t ticks);

LocalFileState LocalFileOf(const EntryRecord& record);

}  // namespace trovex

#endif
