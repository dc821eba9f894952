#include "bench/SyntheticIndex.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace trovex {

namespace {

constexpr uint32_t kHeader = 0x4000;
constexpr uint32_t kBlock = 128;
constexpr uint32_t kMaxBlocks = (kHeader - 0x250) * 8;
constexpr uint32_t kTableBlocks = 32;
constexpr uint32_t kSlotsUsed = 448;
constexpr uint32_t kRecordBlocks = 2;
constexpr const char* kSubfolders[] = {"PX5LEG91", "LPR8AXDF", "XDXBKK07", "T5JYH04M"};
// 2026-12-08 17:57:00 UTC as FAT (date low, time high) and in seconds since 1970.
constexpr uint32_t kFatTime = 0x8F205D88;
constexpr time_t kUnixTime = 1796752620;

void Put32(std::string& image, size_t at, uint32_t value) {
  std::memcpy(image.data() + at, &value, 4);
}

void Put64(std::string& image, size_t at, uint64_t value) {
  std::memcpy(image.data() + at, &value, 8);
}

void Allocate(std::string& image, uint32_t first, uint32_t count) {
  for (uint32_t block = first; block < first + count; ++block) image[0x250 + block / 8] |= static_cast<char>(1 << (block % 8));
}

// Wine's new files hold 128 blocks and double when full, up to the bitmap's end.
uint32_t Capacity(uint32_t needed) {
  uint32_t capacity = 128;
  while (capacity < needed) capacity *= 2;
  if (std::min(capacity, kMaxBlocks) < needed) throw std::invalid_argument("too many entries for one index");
  return std::min(capacity, kMaxBlocks);
}

void WriteHeader(std::string& image, uint32_t capacity, uint32_t inUse, uint64_t usage) {
  std::memcpy(image.data(), "WINE URLCache Ver 0.2012001", 28);
  Put32(image, 0x1C, static_cast<uint32_t>(image.size()));
  Put32(image, 0x20, kHeader);
  Put32(image, 0x24, capacity);
  Put32(image, 0x28, inUse);
  Put64(image, 0x30, 0x07FF5400);
  Put64(image, 0x38, usage);
  Put32(image, 0x48, 4);
  for (int i = 0; i < 4; ++i) std::memcpy(image.data() + 0x4C + 12 * i + 4, kSubfolders[i], 8);
}

void WriteTable(std::string& image, uint32_t table, uint32_t tables) {
  size_t at = kHeader + size_t{table} * kTableBlocks * kBlock;
  std::memcpy(image.data() + at, "HASH", 4);
  Put32(image, at + 4, kTableBlocks);
  Put32(image, at + 8, table + 1 < tables ? static_cast<uint32_t>(at + kTableBlocks * kBlock) : 0);
  Put32(image, at + 12, table);
  for (uint32_t slot = 0; slot < (kTableBlocks * kBlock - 16) / 8; ++slot) {
    uint32_t value = slot < kSlotsUsed ? 3 : 0xDEADBEEF;
    Put32(image, at + 16 + 8 * slot, value);
    Put32(image, at + 20 + 8 * slot, value);
  }
}

void WriteRecord(std::string& image, uint32_t at, const std::string& url, const std::string& name, uint8_t subfolder) {
  std::memcpy(image.data() + at, "URL ", 4);
  Put32(image, at + 4, kRecordBlocks);
  Put64(image, at + 8, 0x1dd873d85e33e00);
  Put64(image, at + 16, 0x1dd873d85e33e01);
  Put32(image, at + 24, kFatTime);
  Put64(image, at + 32, 6);
  Put32(image, at + 48, 0x60);
  Put32(image, at + 52, 0x68);
  image[at + 56] = static_cast<char>(subfolder);
  image.replace(at + 57, 3, std::string("\x00\x10\x10", 3));
  uint32_t nameAt = static_cast<uint32_t>(0x68 + ((url.size() + 4) & ~size_t{3}));
  Put32(image, at + 60, nameAt);
  Put32(image, at + 64, 1);
  Put32(image, at + 80, kFatTime);
  Put32(image, at + 84, 1);
  Put32(image, at + 92, kFatTime);
  image.replace(at + 0x68, url.size(), url);
  image.replace(at + nameAt, name.size(), name);
}

}  // namespace

SyntheticIndex MakeSyntheticIndex(size_t entries) {
  auto count = static_cast<uint32_t>(entries);
  uint32_t tables = std::max<uint32_t>(1, (count + kSlotsUsed - 1) / kSlotsUsed);
  uint32_t capacity = Capacity(tables * kTableBlocks + count * kRecordBlocks);
  SyntheticIndex index;
  index.image.assign(kHeader + size_t{kBlock} * capacity, '\0');
  for (uint32_t table = 0; table < tables; ++table) WriteTable(index.image, table, tables);
  Allocate(index.image, 0, tables * kTableBlocks);
  uint32_t perFolder[4] = {};
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t block = tables * kTableBlocks + i * kRecordBlocks;
    uint32_t at = kHeader + block * kBlock;
    auto subfolder = static_cast<uint8_t>(i % 4);
    std::string url = "http://h" + std::to_string(i % 97) + ".bench.example/page/item?id=" + std::to_string(i);
    std::string name = "item" + std::to_string(i) + "[0]";
    WriteRecord(index.image, at, url, name, subfolder);
    Allocate(index.image, block, kRecordBlocks);
    size_t slot = kHeader + size_t{i / kSlotsUsed} * kTableBlocks * kBlock + 16 + 8 * (i % kSlotsUsed);
    uint32_t key = ((i + 1) * 0x9E3779B1u) & ~0x3Fu;
    Put32(index.image, slot, key == at ? key + 0x40 : key);
    Put32(index.image, slot + 4, at);
    ++perFolder[subfolder];
    index.urls.push_back(url);
    index.files.push_back(std::string(kSubfolders[subfolder]) + "/" + name);
  }
  for (int i = 0; i < 4; ++i) Put32(index.image, 0x4C + 12 * i, perFolder[i]);
  WriteHeader(index.image, capacity, tables * kTableBlocks + count * kRecordBlocks, uint64_t{6} * count);
  return index;
}

void WriteLocalFile(const std::string& folder, const std::string& file) {
  std::string path = folder + "/" + file;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << "cached";
  struct timespec times[2] = {{kUnixTime, 0}, {kUnixTime, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace trovex
