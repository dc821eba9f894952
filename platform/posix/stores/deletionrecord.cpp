#include "platform/posix/stores/deletionrecord.h"

#include <cstdio>
#include <cstring>

#include "base/Hex.h"
#include "platform/posix/shared/sysfolder.h"

namespace trovex {

namespace {

constexpr char kMagic[] = "trovex-deletions ";
constexpr size_t kMagicLength = sizeof kMagic - 1;
constexpr size_t kHeaderLength = kMagicLength + 16 + 1 + 16 + 1;
static_assert(kHeaderLength == kHeaderLineLength);

}  // namespace

std::string DeletionRecordPath(const std::string& store) {
  return store + kDeletionRecordSuffix;
}

std::string HeaderLine(const RecordHeader& header) {
  return std::string(kMagic) + HexText(header.key, 16) + " " + HexText(header.storeHash, 16) + "\n";
}

std::optional<RecordHeader> ReadRecordHeader(std::string_view record, size_t& end) {
  if (record.size() < kHeaderLength || record.substr(0, kMagicLength) != kMagic) return std::nullopt;
  std::string_view fields = record.substr(kMagicLength, kHeaderLength - kMagicLength);
  if (fields[16] != ' ' || fields[33] != '\n') return std::nullopt;
  std::optional<uint64_t> key = ParseHex(fields.substr(0, 16), 16);
  std::optional<uint64_t> hash = ParseHex(fields.substr(17, 16), 16);
  if (!key || !hash) return std::nullopt;
  end = kHeaderLength;
  return RecordHeader{*key, *hash};
}

}  // namespace trovex
