// The layout of a WinINet index.dat and the checks that make its bytes safe
// to follow: a file of a 16 KiB header (counters, subfolder table, block
// bitmap) and 128-byte blocks holding hash tables and URL, REDR and LEAK
// records. Everything here reads a whole file image held in memory through a
// ByteView, whose every load checks its bounds: the checks below decide what
// is dropped and why, and the view keeps any read they miss inside the file.
// Reading costs time and room in proportion to the file's size, whatever its
// fields point at. Free of system calls: the Linux layer's
// index.dat store, the tests and the fuzz target read it alike.
#ifndef TROVEX_FORMATS_INDEXDAT_INDEXDATFORMAT_H
#define TROVEX_FORMATS_INDEXDAT_INDEXDATFORMAT_H

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/ByteView.h"
#include "formats/Drops.h"

namespace trovex {

namespace indexdat {

constexpr uint32_t kHeaderSize = 0x4000;
constexpr uint32_t kBlockSize = 128;
constexpr uint32_t kBitmapAt = 0x250;
// As many blocks as the bitmap has bits.
constexpr uint32_t kMaxBlocks = (kHeaderSize - kBitmapAt) * 8;
constexpr uint64_t kMaxFileSize = kHeaderSize + uint64_t{kBlockSize} * kMaxBlocks;

// Header fields.
constexpr uint32_t kFileSizeAt = 0x1C;
constexpr uint32_t kFirstHashAt = 0x20;
constexpr uint32_t kCapacityAt = 0x24;
constexpr uint32_t kBlocksInUseAt = 0x28;
constexpr uint32_t kCacheUsageAt = 0x38;
constexpr uint32_t kExemptUsageAt = 0x40;
constexpr uint32_t kSubfolderCountAt = 0x48;
constexpr uint32_t kSubfoldersAt = 0x4C;  // 12 bytes each: file count, 8-byte name
constexpr uint32_t kSubfolderEntrySize = 12;
constexpr uint32_t kMaxSubfolders = 32;
constexpr uint32_t kLeakRootAt = 0x224;

// A record's subfolder index for "directly in the container folder".
constexpr uint8_t kNoSubfolder = 0xFE;
constexpr uint8_t kNoSubfolderToo = 0xFF;

// Record fields shared by every layout.
constexpr uint32_t kLeakNextAt = 44;  // a LEAK record's link, where 5.2 keeps the exempt delta
constexpr uint32_t kSmallestRecord = 104;

// Whole keys of slots that list nothing.
constexpr uint32_t kSlotDeleted = 1;  // the record went; the offset is stale
constexpr uint32_t kSlotFree = 3;
// Slots a hash table's walk reads: Windows and Wine use 64 buckets of 7 and
// leave the rest of a 32-block table as filler.
constexpr uint64_t kSlotsWalked = 448;
// The low bits of other keys: flags beside the hash.
constexpr uint32_t kSlotFlagMask = 0x3F;
constexpr uint32_t kSlotLocked = 2;
constexpr uint32_t kSlotRedirect = 5;

enum class Format { kVersion52, kWine, kVersion47 };

// Where a URL record keeps its fields; format 4.7 has an eight-byte expiry
// and a four-byte size, and everything after them sits four bytes later.
struct RecordLayout {
  uint32_t expiry;
  bool expiryIsFiletime;
  uint32_t size;
  bool sizeIs64;
  uint32_t exemptDelta;
  uint32_t url;
  uint32_t subfolder;
  uint32_t fileName;
  uint32_t type;
  uint32_t headerData;
  uint32_t headerSize;
  uint32_t extension;
  uint32_t lastSync;
  uint32_t hits;
  uint32_t useCount;
  uint32_t fileTime;     // the local file's last-write time (FAT), as the writer saw it
  uint32_t firstString;  // string offsets below this are damage
};

const RecordLayout& LayoutOf(Format format);

// Writes into an image read whole, little-endian. A write that does not fit
// the image is not made and gives false; an edit writes only at offsets the
// reader checked, inside the image, so it has no other outcome to handle.
bool PutBytes(std::string& image, uint64_t at, std::string_view bytes);
bool PutU8(std::string& image, uint64_t at, uint8_t value);
bool PutU32(std::string& image, uint64_t at, uint32_t value);
bool PutU64(std::string& image, uint64_t at, uint64_t value);

// Where blocks start: past the header, every 128 bytes.
inline bool IsBlockStart(uint64_t offset) {
  return offset >= kHeaderSize && offset % kBlockSize == 0;
}

// The header's values, once checked.
struct Header {
  Format format = Format::kVersion52;
  uint32_t firstHash = 0;
  uint32_t capacity = 0;  // blocks
  uint32_t blocksInUse = 0;
  uint32_t subfolderCount = 0;
  // The bytes the header gives the file (its size field), and the part of
  // them the file holds: less when it was cut short, in whole blocks. What
  // lies past the size field (a cluster's padding) is not part of the file.
  uint64_t declaredSize = 0;
  uint64_t size = 0;
  // Subfolder i's name, or empty when it is not eight letters and digits.
  std::string subfolders[kMaxSubfolders];
};

// Checks the file's length and header; nullopt with a one-line *problem when
// they do not hold.
std::optional<Header> ReadHeader(std::string_view image, std::string* problem);

// Whether the bitmap marks block `block` allocated (and it lies within the
// capacity).
inline bool BlockAllocated(ByteView image, const Header& header, uint64_t block) {
  if (block >= header.capacity) return false;
  return (image.U8(kBitmapAt + block / 8) >> (block % 8)) & 1;
}

// A string field of a record: where it starts in the file and its length
// without the NUL. `at` is 0 when the field is absent or damaged.
struct Text {
  uint32_t at = 0;
  uint32_t length = 0;

  bool Present() const { return at != 0; }
};

// A URL record that passed every check.
struct UrlRecord {
  uint32_t offset = 0;
  uint32_t blocks = 0;
  Text url;
  Text fileName;  // absent unless the entry has a usable local file
  Text header;
  Text extension;
  uint8_t subfolder = kNoSubfolder;  // below the subfolder count, or kNoSubfolder
};

// One slot of a hash table.
struct Slot {
  uint32_t at = 0;  // where the slot lies in the file
  uint32_t key = 0;
  uint32_t offset = 0;
};

// Why a reader left a record, a slot or a hash table out. Each thing is
// counted once, whatever number of slots name it.
enum class Drop : uint8_t {
  kRecordOutside,  // a record that runs past the end of the file
  kRecordFree,     // a record on blocks the bitmap marks free
  kRecordKind,     // a live slot's record of no known kind
  kRecordSize,     // a record of no blocks, or too small for its fields
  kRecordUrl,      // a URL record without a usable URL
  kRecordShared,   // a record on blocks a hash table or a listed record holds
  kSlotOffset,     // a live slot that names no block of the file
  kTableOutside,   // a hash table that runs past the end of the file
  kTableDamaged,   // a bad signature, size or sequence number, or a loop
};

// The reasons of Drop, in its order.
extern const DropReason kDropReasons[9];

// What a reading left out, counted by Drop:
// "3 records (2 outside the file, 1 bad URL), 1 hash table (1 damaged)".
struct IndexDrops : Drops {
  IndexDrops() : Drops(kDropReasons) {}
};

// Where the hash table at `offset` ends in blocks; 0 when `offset` holds no
// table that fits the file.
uint32_t HashTableBlocks(ByteView image, const Header& header, uint64_t offset);

// Why the hash table at `offset`, for which HashTableBlocks gave 0, is left
// out.
Drop HashTableProblem(ByteView image, const Header& header, uint64_t offset);

// Whether a slot may list a URL record: it is in use and no redirect. Only
// the record's own signature says whether it is one.
bool ListsUrl(uint32_t key, uint32_t offset);

// The part of the file the header vouches for.
inline ByteView Trusted(ByteView image, const Header& header) {
  return image.Sub(0, std::min(header.size, image.Size()));
}

// Walks the hash chain from the header's first table as far as it holds
// (each table once, sequence numbers 0, 1, 2, ...), calling
// table(offset, blocks) for each table in order. Returns why the chain
// stopped before its end, or nullopt when it ended as a chain ends.
template <typename OnTable>
std::optional<Drop> WalkHashTables(ByteView image, const Header& header, OnTable table) {
  image = Trusted(image, header);
  std::vector<bool> seen(header.capacity);
  uint64_t offset = header.firstHash;
  for (uint32_t sequence = 0; offset != 0; ++sequence) {
    uint32_t blocks = HashTableBlocks(image, header, offset);
    if (blocks == 0) return HashTableProblem(image, header, offset);
    uint64_t block = (offset - kHeaderSize) / kBlockSize;
    if (sequence >= header.capacity / blocks || seen[block] || image.U32(offset + 12) != sequence)
      return Drop::kTableDamaged;
    seen[block] = true;
    table(static_cast<uint32_t>(offset), blocks);
    offset = image.U32(offset + 8);
  }
  return std::nullopt;
}

// Calls slot(Slot) for each of the table's first 448 slots that may list a
// URL record, in order.
template <typename OnSlot>
void ForEachSlot(ByteView image, uint32_t offset, uint32_t blocks, OnSlot slot) {
  uint64_t slots = std::min(kSlotsWalked, (uint64_t{blocks} * kBlockSize - 16) / 8);
  for (uint64_t i = 0; i < slots; ++i) {
    uint64_t at = uint64_t{offset} + 16 + 8 * i;
    Slot each{static_cast<uint32_t>(at), image.U32(at), image.U32(at + 4)};
    if (ListsUrl(each.key, each.offset)) slot(each);
  }
}

// WalkHashTables, calling slot(Slot) as ForEachSlot does after each table.
template <typename OnTable, typename OnSlot>
std::optional<Drop> WalkHashChain(ByteView image, const Header& header, OnTable table, OnSlot slot) {
  return WalkHashTables(image, header, [&](uint32_t offset, uint32_t blocks) {
    table(offset, blocks);
    ForEachSlot(image, offset, blocks, slot);
  });
}

// A set of blocks that answers "the first one at or after b" in a bounded
// number of steps: a bit per block and a bit per word of them.
class BlockSet {
 public:
  explicit BlockSet(uint64_t blocks);
  void Add(uint64_t first, uint64_t count);
  // Whether any of the `count` blocks from `first` is in the set.
  bool AnyIn(uint64_t first, uint64_t count) const;
  // The first block of the set at or after `from`; UINT64_MAX when none.
  uint64_t NextFrom(uint64_t from) const;

 private:
  std::vector<uint64_t> words_;
  std::vector<uint64_t> summary_;  // bit w: words_[w] is not 0
};

// Reads the records the slots of a container name, each block of the file
// examined a bounded number of times whatever the slots point at: a record
// is read once however many slots name it, its blocks are looked up in the
// bitmap once for all records, and a string's end is searched for within
// the block it starts in and the next, then found from what earlier
// searches noted.
// A listed record holds its blocks: a later one on any of them, or on a hash
// table's, is dropped, so that the records listed share no byte.
class RecordReader {
 public:
  // Walks the hash chain, holding the blocks of its tables.
  RecordReader(ByteView image, const Header& header);

  // The tables of the chain, in order: offset and blocks.
  const std::vector<std::pair<uint32_t, uint32_t>>& Tables() const { return tables_; }

  // Reads the URL record at the offset of a live slot into record; false
  // when it is no URL record to list (a redirect, a leak, or damage, counted
  // in Dropped) or was read before.
  bool Read(uint32_t offset, UrlRecord& record);

  const IndexDrops& Dropped() const { return drops_; }

  // The work done so far: bytes searched, bitmap bits looked up, slots taken.
  uint64_t Steps() const { return steps_; }

 private:
  bool Check(uint32_t offset, uint32_t& blocks);
  bool ReadStrings(uint32_t offset, uint32_t blocks, UrlRecord& record);
  Text StringField(uint64_t record, uint64_t recordSize, uint32_t field, uint32_t firstString);
  uint64_t NulIn(uint64_t at, uint64_t length) const;
  uint64_t FindNul(uint64_t from, uint64_t end);
  uint64_t NulFromBlock(uint64_t block);
  uint64_t FreeFromBlock(uint64_t block);
  bool Allocated(uint64_t first, uint64_t count);

  ByteView image_;
  const Header& header_;
  std::vector<std::pair<uint32_t, uint32_t>> tables_;
  std::vector<bool> examined_;   // per block: a record start already read
  std::vector<uint32_t> nul_;    // per block of the file: the first NUL from its start; 0 unknown
  std::vector<uint32_t> free_;   // per block: 1 + the first free block from it; 0 unknown
  BlockSet held_;
  IndexDrops drops_;
  uint64_t steps_ = 0;
};

// Calls visit(UrlRecord) for each live URL record in the container's order,
// each once; what it leaves out is counted in *drops, and the reader's Steps
// put in *steps, when given.
template <typename Visit>
void ForEachRecord(std::string_view image, const Header& header, Visit visit, IndexDrops* drops = nullptr,
                   uint64_t* steps = nullptr) {
  ByteView trusted = Trusted(ByteView(image), header);
  RecordReader reader(trusted, header);
  UrlRecord record;
  for (const auto& [offset, blocks] : reader.Tables()) {
    ForEachSlot(trusted, offset, blocks, [&](const Slot& slot) {
      if (reader.Read(slot.offset, record)) visit(record);
    });
  }
  if (drops != nullptr) *drops = reader.Dropped();
  if (steps != nullptr) *steps = reader.Steps();
}

// The live URL records in the container's order, each once.
std::vector<UrlRecord> ListRecords(std::string_view image, const Header& header, IndexDrops* drops = nullptr);

// The rules under which Wine keeps a container rather than discarding it:
// the size field and the capacity match the length, the bitmap counts the
// blocks in use, and no block past the capacity is marked.
bool KeptByWine(std::string_view image);

// A FAT date (low half) and time (high half) as a FILETIME; 0 when unset or
// not a real moment.
uint64_t FatToFiletime(uint32_t fat);

// A time in seconds since 1970 (UTC) as a FAT date and time; 0 outside the
// years FAT can hold.
uint32_t UnixToFat(int64_t seconds);


}  // namespace indexdat

}  // namespace trovex

#endif
