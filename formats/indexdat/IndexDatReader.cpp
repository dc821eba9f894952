// Reading the records an index.dat's slots name, and counting what is left
// out. The cost is bounded by the file's size whatever the slots and records
// point at; see RecordReader in indexdatformat.h.
#include <bit>
#include <cstring>

#include "formats/indexdat/IndexDatFormat.h"

namespace trovex {

namespace indexdat {

namespace {

constexpr uint32_t kNoNul = UINT32_MAX;
// A record of up to this many blocks has its bits looked up one by one.
constexpr uint64_t kBitsLookedUp = 16;

uint64_t BlockOf(uint64_t offset) {
  return (offset - kHeaderSize) / kBlockSize;
}

// Header data is bytes with a stored length, not a string.
Text DataField(ByteView image, uint64_t record, uint64_t recordSize, const RecordLayout& layout) {
  uint32_t at = image.U32(record + layout.headerData);
  uint32_t size = image.U32(record + layout.headerSize);
  if (at == 0 || at < layout.firstString || at >= recordSize || size > recordSize - at) return {};
  return {static_cast<uint32_t>(record + at), size};
}

// A local file name becomes the last part of a host path: nothing that could
// name another folder or escape this one.
bool IsSafeFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

}  // namespace

const DropReason kDropReasons[9] = {
    {"record", "records", "outside the file"}, {"record", "records", "on free blocks"},
    {"record", "records", "of unknown kind"},  {"record", "records", "bad size"},
    {"record", "records", "bad URL"},          {"record", "records", "sharing blocks"},
    {"slot", "slots", "naming no block"},      {"hash table", "hash tables", "outside the file"},
    {"hash table", "hash tables", "damaged"}};

BlockSet::BlockSet(uint64_t blocks) : words_((blocks + 63) / 64), summary_((words_.size() + 63) / 64) {}

void BlockSet::Add(uint64_t first, uint64_t count) {
  uint64_t end = std::min(first + count, uint64_t{words_.size()} * 64);
  for (uint64_t block = first; block < end;) {
    uint64_t word = block / 64, bits = std::min<uint64_t>(64 - block % 64, end - block);
    words_[word] |= (bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1) << (block % 64);
    summary_[word / 64] |= uint64_t{1} << (word % 64);
    block += bits;
  }
}

bool BlockSet::AnyIn(uint64_t first, uint64_t count) const {
  uint64_t end = first + count, word = first / 64;
  if (count == 0 || word >= words_.size()) return false;
  // Most records take a block or two: the words that hold them answer.
  if ((end - 1) / 64 == word) {
    uint64_t bits = count == 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
    return (words_[word] & (bits << (first % 64))) != 0;
  }
  return NextFrom(first) < end;
}

uint64_t BlockSet::NextFrom(uint64_t from) const {
  uint64_t word = from / 64;
  if (word >= words_.size()) return UINT64_MAX;
  if (uint64_t bits = words_[word] & (~uint64_t{0} << (from % 64)); bits != 0)
    return word * 64 + static_cast<uint64_t>(std::countr_zero(bits));
  // The summary has a bit per word: at most words/64 steps, 31 for the
  // largest file.
  for (uint64_t next = word + 1; next / 64 < summary_.size(); next = (next / 64 + 1) * 64) {
    uint64_t bits = summary_[next / 64] & (~uint64_t{0} << (next % 64));
    if (bits == 0) continue;
    uint64_t found = next / 64 * 64 + static_cast<uint64_t>(std::countr_zero(bits));
    return found * 64 + static_cast<uint64_t>(std::countr_zero(words_[found]));
  }
  return UINT64_MAX;
}

RecordReader::RecordReader(ByteView image, const Header& header)
    : image_(Trusted(image, header)),
      header_(header),
      examined_(header.capacity),
      nul_(image_.Size() > kHeaderSize ? (image_.Size() - kHeaderSize) / kBlockSize : 0),
      free_(header.capacity),
      held_(header.capacity) {
  std::optional<Drop> end = WalkHashTables(image_, header_, [&](uint32_t offset, uint32_t blocks) {
    tables_.emplace_back(offset, blocks);
    held_.Add(BlockOf(offset), blocks);
  });
  if (end) drops_.Add(*end);
}

// Where the first NUL of the `length` bytes from `at` lies in the file;
// kNoNul when there is none, or the bytes are not all in the file.
uint64_t RecordReader::NulIn(uint64_t at, uint64_t length) const {
  if (!image_.Holds(at, length)) return kNoNul;
  const char* start = image_.Bytes().data();
  const void* nul = std::memchr(start + at, '\0', length);
  return nul == nullptr ? kNoNul : static_cast<uint64_t>(static_cast<const char*>(nul) - start);
}

// The first NUL at or after the start of `block`, or the end of the file:
// each block is searched once, and the answer noted for every block that
// led to it.
uint64_t RecordReader::NulFromBlock(uint64_t block) {
  uint64_t last = block, found = kNoNul;
  for (; last < nul_.size(); ++last) {
    if (nul_[last] != 0) {
      found = nul_[last];
      break;
    }
    uint64_t start = kHeaderSize + last * kBlockSize;
    steps_ += kBlockSize;
    if (uint64_t nul = NulIn(start, kBlockSize); nul != kNoNul) {
      found = static_cast<uint32_t>(nul);
      break;
    }
  }
  for (uint64_t each = block; each < last && each < nul_.size(); ++each) nul_[each] = static_cast<uint32_t>(found);
  if (last < nul_.size()) nul_[last] = static_cast<uint32_t>(found);
  return found == kNoNul ? image_.Size() : found;
}

// The first NUL in [from, end), or end: the bytes of from's block and the
// next are searched (most strings end there), the rest is found from the
// blocks' notes.
uint64_t RecordReader::FindNul(uint64_t from, uint64_t end) {
  uint64_t blockEnd = std::min(end, kHeaderSize + (BlockOf(from) + 2) * kBlockSize);
  steps_ += blockEnd - from;
  if (uint64_t nul = NulIn(from, blockEnd - from); nul != kNoNul) return nul;
  if (blockEnd >= end) return end;
  return std::min(end, NulFromBlock(BlockOf(blockEnd)));
}

// The first block from `block` on that the bitmap marks free, found as
// NulFromBlock finds a NUL.
uint64_t RecordReader::FreeFromBlock(uint64_t block) {
  if (free_[block] != 0) return free_[block] - 1;
  uint64_t last = block;
  for (; last < free_.size() && free_[last] == 0 && BlockAllocated(image_, header_, last); ++last) ++steps_;
  uint64_t found = last < free_.size() && free_[last] != 0 ? free_[last] - 1 : last;
  for (uint64_t each = block; each <= last && each < free_.size(); ++each)
    free_[each] = static_cast<uint32_t>(found + 1);
  return found;
}

// Whether the bitmap marks all `count` blocks from `first` allocated: a
// short record's bits are looked up, a long one's from the notes.
bool RecordReader::Allocated(uint64_t first, uint64_t count) {
  if (count > kBitsLookedUp) return FreeFromBlock(first) >= first + count;
  steps_ += count;
  for (uint64_t block = first + 1; block < first + count; ++block)
    if (!BlockAllocated(image_, header_, block)) return false;
  return true;
}

// The NUL-terminated string at record offset `field` points to, searched for
// only inside the record.
Text RecordReader::StringField(uint64_t record, uint64_t recordSize, uint32_t field, uint32_t firstString) {
  uint32_t at = image_.U32(record + field);
  if (at == 0 || at < firstString || at >= recordSize) return {};
  uint64_t nul = FindNul(record + at, record + recordSize);
  if (nul == record + recordSize) return {};
  return {static_cast<uint32_t>(record + at), static_cast<uint32_t>(nul - record - at)};
}

// The checks of a record that cost a step each, in the order that names the
// worst damage; false when it is no URL record to list.
bool RecordReader::Check(uint32_t offset, uint32_t& blocks) {
  uint64_t first = BlockOf(offset);
  auto drop = [&](Drop why) {
    drops_.Add(why);
    return false;
  };
  if (uint64_t{offset} + kBlockSize > image_.Size()) return drop(Drop::kRecordOutside);
  if (!BlockAllocated(image_, header_, first)) return drop(Drop::kRecordFree);
  std::string_view signature = image_.Text(offset, 4);
  if (signature == "REDR" || signature == "LEAK") return false;
  if (signature != "URL ") return drop(Drop::kRecordKind);
  blocks = image_.U32(offset + 4);
  uint64_t size = uint64_t{kBlockSize} * blocks;
  if (blocks == 0 || size < kSmallestRecord) return drop(Drop::kRecordSize);
  if (offset + size > image_.Size()) return drop(Drop::kRecordOutside);
  if (!Allocated(first, blocks)) return drop(Drop::kRecordFree);
  if (held_.AnyIn(first, blocks)) return drop(Drop::kRecordShared);
  return true;
}

bool RecordReader::ReadStrings(uint32_t offset, uint32_t blocks, UrlRecord& record) {
  const RecordLayout& layout = LayoutOf(header_.format);
  uint64_t size = uint64_t{kBlockSize} * blocks;
  // Field by field: an assignment of a fresh record was built on the stack
  // and read back in pieces the processor could not forward.
  record.offset = offset;
  record.blocks = blocks;
  record.url = StringField(offset, size, layout.url, layout.firstString);
  if (!record.url.Present() || record.url.length == 0) return false;
  record.header = DataField(image_, offset, size, layout);
  record.extension = StringField(offset, size, layout.extension, layout.firstString);
  record.fileName = Text{};
  record.subfolder = kNoSubfolder;
  uint8_t subfolder = image_.U8(uint64_t{offset} + layout.subfolder);
  bool inFolder = subfolder == kNoSubfolder || subfolder == kNoSubfolderToo;
  bool inSubfolder = subfolder < header_.subfolderCount && !header_.subfolders[subfolder].empty();
  if (!inFolder && !inSubfolder) return true;
  Text name = StringField(offset, size, layout.fileName, layout.firstString);
  if (!name.Present() || !IsSafeFileName(image_.Text(name.at, name.length))) return true;
  record.fileName = name;
  record.subfolder = inSubfolder ? subfolder : kNoSubfolder;
  return true;
}

bool RecordReader::Read(uint32_t offset, UrlRecord& record) {
  ++steps_;
  if (!IsBlockStart(offset) || BlockOf(offset) >= header_.capacity) {
    drops_.Add(Drop::kSlotOffset);
    return false;
  }
  uint64_t first = BlockOf(offset);
  if (examined_[first]) return false;
  examined_[first] = true;
  uint32_t blocks = 0;
  if (!Check(offset, blocks)) return false;
  if (!ReadStrings(offset, blocks, record)) {
    drops_.Add(Drop::kRecordUrl);
    return false;
  }
  held_.Add(first, blocks);
  return true;
}

}  // namespace indexdat

}  // namespace trovex
