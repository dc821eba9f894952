#include "tests/support/TimedIndex.h"

#include <cstring>
#include <stdexcept>

#include "tests/support/TempFolder.h"
#include "formats/indexdat/IndexDatFormat.h"

namespace trovex {

namespace {

constexpr uint32_t kHashTable = 0x4000;
constexpr uint32_t kBlock = 128;
constexpr uint32_t kTableBlocks = 32;
constexpr uint32_t kSlots = 510;
constexpr uint32_t kUsedSlots = 448;  // Wine marks the rest as never used
constexpr size_t kMostEntries = 400;
constexpr uint32_t kCapacity = 4096;  // blocks
constexpr uint32_t kStrings = 0x68;   // where a record's strings start
constexpr const char* kSubfolders[] = {"PX5LEG91", "LPR8AXDF", "XDXBKK07", "T5JYH04M"};

void Allocate(std::string& image, uint32_t first, uint32_t count) {
  for (uint32_t block = first; block < first + count; ++block) {
    image[0x250 + block / 8] = static_cast<char>(image[0x250 + block / 8] | (1 << (block % 8)));
  }
}

void WriteHeader(std::string& image) {
  std::memcpy(image.data(), "WINE URLCache Ver 0.2012001", 28);
  indexdat::PutU32(image, 0x1C, static_cast<uint32_t>(image.size()));
  indexdat::PutU32(image, 0x20, kHashTable);
  indexdat::PutU32(image, 0x24, kCapacity);
  indexdat::PutU64(image, 0x30, 0x07FF5400);
  indexdat::PutU32(image, 0x48, 4);
  for (int i = 0; i < 4; ++i) std::memcpy(image.data() + 0x4C + 12 * i + 4, kSubfolders[i], 8);
  std::memcpy(image.data() + kHashTable, "HASH", 4);
  indexdat::PutU32(image, kHashTable + 4, kTableBlocks);
  for (uint32_t slot = 0; slot < kSlots; ++slot) {
    uint32_t value = slot < kUsedSlots ? 3 : 0xDEADBEEF;
    indexdat::PutU32(image, kHashTable + 16 + 8 * slot, value);
    indexdat::PutU32(image, kHashTable + 20 + 8 * slot, value);
  }
  Allocate(image, 0, kTableBlocks);
}

// The record at `at`, in the layout of format 5.2, which Wine's is.
uint32_t WriteRecord(std::string& image, uint32_t at, const TimedEntry& entry) {
  std::string url = entry.url + '\0';
  url.resize((url.size() + 3) & ~size_t{3}, '\0');
  uint32_t blocks = (kStrings + static_cast<uint32_t>(url.size()) + kBlock - 1) / kBlock;
  std::memcpy(image.data() + at, "URL ", 4);
  indexdat::PutU32(image, at + 4, blocks);
  indexdat::PutU64(image, at + 8, entry.modified);
  indexdat::PutU64(image, at + 16, entry.accessed);
  indexdat::PutU32(image, at + 48, 0x60);
  indexdat::PutU32(image, at + 52, kStrings);
  indexdat::PutU32(image, at + 64, entry.type);
  indexdat::PutU32(image, at + 80, entry.synced);
  indexdat::PutU32(image, at + 84, 1);
  image.replace(at + kStrings, url.size(), url);
  return blocks;
}

}  // namespace

void WriteTimedIndex(const std::string& folder, const std::vector<TimedEntry>& entries) {
  if (entries.size() > kMostEntries) throw std::invalid_argument("too many entries for one hash table");
  std::string image(kHashTable + size_t{kBlock} * kCapacity, '\0');
  WriteHeader(image);
  uint32_t next = kTableBlocks;
  for (uint32_t slot = 0; slot < entries.size(); ++slot) {
    uint32_t at = kHashTable + kBlock * next;
    uint32_t blocks = WriteRecord(image, at, entries[slot]);
    if (next + blocks > kCapacity) throw std::invalid_argument("entries too long for the index");
    Allocate(image, next, blocks);
    next += blocks;
    indexdat::PutU32(image, kHashTable + 16 + 8 * slot, 0x1447DA00 + 0x40 * slot);
    indexdat::PutU32(image, kHashTable + 20 + 8 * slot, at);
  }
  indexdat::PutU32(image, 0x28, next);
  WriteFile(folder + "/index.dat", image);
}

}  // namespace trovex
