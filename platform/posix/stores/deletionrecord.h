// The record of deletions beside a text store: urlcache.txt.deleted. Internal
// to platform/posix.
//
// Deleting an entry appends its URL to the record instead of rewriting the
// whole store, so that a deletion costs the same in a store of any size; now
// and then the record is folded into the store. The record's first line names
// the store it applies to by a keyed hash of the store's bytes:
//
//   trovex-deletions KEY HASH\n      (KEY and HASH: 16 hexadecimal digits each)
//   URL\n                            (one per deletion, in order)
//
// A record whose header does not match the store beside it (the store was
// replaced, or folded and the record not yet emptied) deletes nothing. Each
// deletion removes the first remaining entry of its URL. A last line without
// its '\n' is a write that never finished, and is not a deletion.
#ifndef TROVEX_PLATFORM_POSIX_DELETIONRECORD_H
#define TROVEX_PLATFORM_POSIX_DELETIONRECORD_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trovex {

// The record's file name beside the store file `store`.
std::string DeletionRecordPath(const std::string& store);

// The length of a header line, with its '\n'.
constexpr size_t kHeaderLineLength = 51;

struct RecordHeader {
  uint64_t key = 0;
  uint64_t storeHash = 0;
};

// The header line, with its '\n', for a store whose bytes hash to storeHash
// under key.
std::string HeaderLine(const RecordHeader& header);

// The header at the start of `record` and the offset just past its line;
// nullopt when the record does not start with a whole, well-formed header.
std::optional<RecordHeader> ReadRecordHeader(std::string_view record, size_t& end);

// Calls visit(url) for every whole line of `record` from offset `from` on,
// and returns the offset past the last whole line.
template <typename Visit>
size_t ForEachRecordedUrl(std::string_view record, size_t from, Visit visit) {
  while (from < record.size()) {
    size_t newline = record.find('\n', from);
    if (newline == std::string_view::npos) break;
    visit(record.substr(from, newline - from));
    from = newline + 1;
  }
  return from;
}

}  // namespace trovex

#endif
