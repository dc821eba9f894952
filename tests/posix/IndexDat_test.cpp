// The index.dat store: what it lists from real Windows files and from files
// built here the way Wine writes them, what it makes of damaged ones, and
// the bytes a deletion leaves.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempFolder.h"
#include "platform/posix/stores/indexdat.h"
#include "platform/posix/stores/indexdatedit.h"
#include "platform/system.h"
#include "formats/indexdat/IndexDatFormat.h"

// Entries are written with designated initializers that leave the other
// fields at their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace trovex;

namespace {

const std::string kSamples = TROVEX_INDEXDAT_SAMPLES;

// ---- Reading records back ----------------------------------------------------

struct Listed {
  std::string url;
  std::optional<std::string> path;
  DWORD type = 0, hits = 0, useCount = 0, sizeLow = 0, sizeHigh = 0, headerSize = 0, exemptDelta = 0;
  uint64_t modified = 0, accessed = 0, expires = 0, synced = 0;
  std::string header;
  std::optional<std::string> extension;
};

uint64_t Ticks(const FILETIME& time) {
  return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// The string at p, which must lie with its NUL inside the record's bytes.
std::string Inside(const std::vector<char>& buffer, const char* p) {
  EXPECT_TRUE(p >= buffer.data() && p < buffer.data() + buffer.size());
  if (p < buffer.data() || p >= buffer.data() + buffer.size()) return {};
  size_t room = static_cast<size_t>(buffer.data() + buffer.size() - p);
  EXPECT_NE(std::memchr(p, '\0', room), nullptr);
  return std::string(p, strnlen(p, room));
}

std::vector<Listed> List(const UrlSnapshot& snapshot) {
  std::vector<Listed> listed;
  for (size_t i = 0; i < snapshot.Count(); ++i) {
    std::vector<char> buffer(snapshot.RecordSize(i));
    auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    snapshot.WriteRecord(i, record);
    EXPECT_EQ(record->dwStructSize, sizeof *record);
    Listed entry;
    entry.url = Inside(buffer, record->lpszSourceUrlName);
    EXPECT_EQ(entry.url, snapshot.Url(i));
    if (record->lpszLocalFileName != nullptr) entry.path = Inside(buffer, record->lpszLocalFileName);
    if (record->lpHeaderInfo != nullptr) {
      entry.header = Inside(buffer, record->lpHeaderInfo).substr(0, record->dwHeaderInfoSize);
      EXPECT_LE(record->lpHeaderInfo + record->dwHeaderInfoSize, buffer.data() + buffer.size());
    }
    if (record->lpszFileExtension != nullptr) entry.extension = Inside(buffer, record->lpszFileExtension);
    entry.type = record->CacheEntryType;
    entry.hits = record->dwHitRate;
    entry.useCount = record->dwUseCount;
    entry.sizeLow = record->dwSizeLow;
    entry.sizeHigh = record->dwSizeHigh;
    entry.headerSize = record->dwHeaderInfoSize;
    entry.exemptDelta = record->dwExemptDelta;
    entry.modified = Ticks(record->LastModifiedTime);
    entry.accessed = Ticks(record->LastAccessTime);
    entry.expires = Ticks(record->ExpireTime);
    entry.synced = Ticks(record->LastSyncTime);
    listed.push_back(entry);
  }
  return listed;
}

std::vector<std::string> Urls(const std::string& folder) {
  std::vector<std::string> urls;
  std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(folder);
  if (!snapshot) return urls;
  for (size_t i = 0; i < snapshot->Count(); ++i) urls.emplace_back(snapshot->Url(i));
  return urls;
}

// ---- Index files built here, laid out as Wine writes them -----------------

constexpr char kWineSignature[] = "WINE URLCache Ver 0.2012001";
constexpr char kSignature47[] = "Client UrlCache MMF Ver 4.7";
constexpr uint32_t kHash = 0x4000;
constexpr uint32_t kUsedSlots = 448;
constexpr const char* kSubfolders[] = {"PX5LEG91", "LPR8AXDF", "XDXBKK07", "T5JYH04M"};
// 2026-12-08 17:57:00 UTC as FAT (date low, time high), seconds since 1970 and FILETIME.
constexpr uint32_t kFatTime = 0x8F205D88;
constexpr time_t kUnixTime = 1796752620;
constexpr uint64_t kFiletime = 0x1dd873d85e33e00;

uint32_t Get32(const std::string& image, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, image.data() + at, 4);
  return value;
}

uint64_t Get64(const std::string& image, size_t at) {
  return Get32(image, at) | uint64_t{Get32(image, at + 4)} << 32;
}

void SetBit(std::string& image, uint32_t block, bool on) {
  auto byte = static_cast<unsigned char>(image[0x250 + block / 8]);
  byte = on ? byte | (1u << (block % 8)) : byte & ~(1u << (block % 8));
  image[0x250 + block / 8] = static_cast<char>(byte);
}

struct NewEntry {
  std::string url;
  std::string file;           // empty: no local file
  uint8_t subfolder = 3;      // Wine notes no-file entries in subfolder 0
  uint32_t type = NORMAL_CACHE_ENTRY;
  uint64_t size = 5;
  std::string header;
  uint32_t useCount = 0;
  uint32_t slotFlags = 0;
};

// Field offsets of a URL record in the 5.2 layout and in 4.7's.
struct Fields {
  uint32_t size, exempt, url, subfolder, name, type, headerData, headerSize, extension, sync, hits, use, fileTime,
      strings;
};
constexpr Fields k52{32, 44, 52, 56, 60, 64, 68, 72, 76, 80, 84, 88, 92, 0x68};
constexpr Fields k47{32, 48, 56, 60, 64, 68, 72, 76, 80, 84, 88, 92, 96, 0x68};

class Index {
 public:
  explicit Index(const char* signature = kWineSignature, uint32_t capacity = 128)
      : image(0x4000 + 128 * capacity, '\0') {
    std::memcpy(image.data(), signature, 28);
    indexdat::PutU32(image, 0x1C, static_cast<uint32_t>(image.size()));
    indexdat::PutU32(image, 0x20, kHash);
    indexdat::PutU32(image, 0x24, capacity);
    indexdat::PutU64(image, 0x30, 0x07FF5400);
    indexdat::PutU32(image, 0x48, 4);
    for (int i = 0; i < 4; ++i) std::memcpy(image.data() + 0x4C + 12 * i + 4, kSubfolders[i], 8);
    std::memcpy(image.data() + kHash, "HASH", 4);
    indexdat::PutU32(image, kHash + 4, 32);
    for (uint32_t slot = 0; slot < 510; ++slot) {
      uint32_t value = slot < kUsedSlots ? 3 : 0xDEADBEEF;
      indexdat::PutU32(image, kHash + 16 + 8 * slot, value);
      indexdat::PutU32(image, kHash + 20 + 8 * slot, value);
    }
    Allocate(0, 32);
    next_ = 32;
  }

  uint32_t Add(const NewEntry& entry) {
    const Fields& f = Is47() ? k47 : k52;
    std::string strings = Padded(entry.url + '\0');
    uint32_t nameAt = entry.file.empty() ? 0 : f.strings + static_cast<uint32_t>(strings.size());
    if (!entry.file.empty()) strings += Padded(entry.file + '\0');
    uint32_t headerAt = entry.header.empty() ? 0 : f.strings + static_cast<uint32_t>(strings.size());
    strings += Padded(entry.header);
    uint32_t blocks = (f.strings + static_cast<uint32_t>(strings.size()) + 127) / 128;
    uint32_t at = 0x4000 + 128 * next_;
    for (uint32_t i = 0; i < blocks * 32; ++i) indexdat::PutU32(image, at + 4 * i, 0xDEADBEEF);
    std::memcpy(image.data() + at, "URL ", 4);
    indexdat::PutU32(image, at + 4, blocks);
    indexdat::PutU64(image, at + 8, kFiletime);
    indexdat::PutU64(image, at + 16, kFiletime + 1);
    if (Is47()) {
      indexdat::PutU64(image, at + 24, kFiletime + 2);
      indexdat::PutU32(image, at + f.size, static_cast<uint32_t>(entry.size));
    } else {
      indexdat::PutU32(image, at + 24, kFatTime);
      indexdat::PutU64(image, at + f.size, entry.size);
      indexdat::PutU32(image, at + 40, 0);
    }
    indexdat::PutU32(image, at + f.exempt, entry.type & STICKY_CACHE_ENTRY ? 86400 : 0);
    indexdat::PutU32(image, at + f.exempt + 4, 0x60);
    indexdat::PutU32(image, at + f.url, f.strings);
    image[at + f.subfolder] = static_cast<char>(entry.subfolder);
    image.replace(at + f.subfolder + 1, 3, std::string("\x00\x10\x10", 3));
    indexdat::PutU32(image, at + f.name, nameAt);
    indexdat::PutU32(image, at + f.type, entry.type);
    indexdat::PutU32(image, at + f.headerData, headerAt);
    indexdat::PutU32(image, at + f.headerSize, static_cast<uint32_t>(entry.header.size()));
    indexdat::PutU32(image, at + f.extension, 0);
    indexdat::PutU32(image, at + f.sync, kFatTime);
    indexdat::PutU32(image, at + f.hits, 1);
    indexdat::PutU32(image, at + f.use, entry.useCount);
    indexdat::PutU32(image, at + f.fileTime, kFatTime);
    image.replace(at + f.strings, strings.size(), strings);

    Allocate(next_, blocks);
    next_ += blocks;
    uint32_t slot = slots_++;
    indexdat::PutU32(image, SlotAt(slot), 0x1447DA00 + 0x40 * slot + entry.slotFlags);
    indexdat::PutU32(image, SlotAt(slot) + 4, at);
    if (entry.subfolder < 4) indexdat::PutU32(image, 0x4C + 12 * entry.subfolder, Get32(image, 0x4C + 12 * entry.subfolder) + 1);
    size_t usage = entry.type & STICKY_CACHE_ENTRY ? 0x40 : 0x38;
    indexdat::PutU64(image, usage, Get64(image, usage) + entry.size);
    return at;
  }

  static uint32_t SlotAt(uint32_t slot) { return kHash + 16 + 8 * slot; }

  void Write(const std::string& folder) const { WriteFile(folder + "/index.dat", image); }

  std::string image;

 private:
  bool Is47() const { return image.compare(0, 27, kSignature47) == 0; }

  static std::string Padded(std::string text) {
    text.resize((text.size() + 3) & ~size_t{3}, '\0');
    return text;
  }

  void Allocate(uint32_t first, uint32_t count) {
    for (uint32_t block = first; block < first + count; ++block) SetBit(image, block, true);
    indexdat::PutU32(image, 0x28, Get32(image, 0x28) + count);
  }

  uint32_t next_ = 0;
  uint32_t slots_ = 0;
};

// Three entries: a cached page in subfolder 3, a sticky one in subfolder 1,
// and one without a file.
Index ThreeEntries(uint32_t* first = nullptr) {
  Index index;
  uint32_t at = index.Add({.url = "http://sp.example.com/a b\"c", .file = "a b_c[0]_", .header = "HTTP/1.1 200 OK\r\n"});
  if (first != nullptr) *first = at;
  index.Add({.url = "http://example.org/s.css", .file = "s[0].css", .subfolder = 1,
             .type = NORMAL_CACHE_ENTRY | STICKY_CACHE_ENTRY, .size = 700});
  index.Add({.url = "http://example.net/nofile", .subfolder = 0, .size = 0});
  return index;
}

// ---- Real files ------------------------------------------------------------

struct SampleRow {
  const char* folder;
  size_t count;
  const char* firstUrl;
  DWORD firstType;
  const char* firstFile;  // relative to the container; "" for none
};

TEST(IndexDatSample, ListsTheLiveUrlRecordsInSlotOrder) {
  const SampleRow rows[] = {
      {"greendale/Content.IE5", 21, "https://ieonline.microsoft.com/favicon.ico", 0x45, "5ZBG4UOD/favicon[1].ico"},
      {"greendale/History.IE5", 15,
       "Visited: gold_administrator@http://www.microsoft.com/de-ch/download/internet-explorer.aspx", 0x00200001, ""},
      {"daily-history", 23, ":2013031020130311: -@http://code.google.com/p/libmsiecf", 0x00200004, ""},
  };
  for (const SampleRow& row : rows) {
    std::string folder = kSamples + "/" + row.folder;
    std::string problem = "unset";
    std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(folder, &problem);
    ASSERT_NE(snapshot, nullptr) << row.folder << ": " << problem;
    std::vector<Listed> listed = List(*snapshot);
    ASSERT_EQ(listed.size(), row.count) << row.folder;
    EXPECT_EQ(listed[0].url, row.firstUrl) << row.folder;
    EXPECT_EQ(listed[0].type, row.firstType) << row.folder;
    if (row.firstFile[0] == '\0') {
      EXPECT_FALSE(listed[0].path.has_value()) << row.folder;
    } else {
      EXPECT_EQ(listed[0].path, std::filesystem::absolute(folder).string() + "/" + row.firstFile) << row.folder;
    }
    std::vector<std::string> urls;
    for (const Listed& entry : listed) urls.push_back(entry.url);
    std::sort(urls.begin(), urls.end());
    EXPECT_EQ(std::adjacent_find(urls.begin(), urls.end()), urls.end()) << row.folder << ": an entry twice";
  }
}

TEST(IndexDatSample, FillsARecordAsTheSystemDoes) {
  std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(kSamples + "/greendale/Content.IE5");
  ASSERT_NE(snapshot, nullptr);
  std::vector<Listed> listed = List(*snapshot);
  auto bing = std::find_if(listed.begin(), listed.end(),
                           [](const Listed& entry) { return entry.url == "http://www.bing.com/favicon.ico"; });
  ASSERT_NE(bing, listed.end());
  EXPECT_EQ(bing->type, 0x41u);
  EXPECT_EQ(bing->hits, 3u);
  EXPECT_EQ(bing->sizeLow, 1150u);
  EXPECT_EQ(bing->sizeHigh, 0u);
  EXPECT_EQ(bing->headerSize, 93u);
  EXPECT_EQ(bing->header.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(bing->expires, 0x1d16c97ca478000u);  // 2016-02-21 11:05:36
  EXPECT_EQ(bing->synced, 0x1d0df25f7ec8000u);   // 2015-08-25 11:05:36
  EXPECT_NE(bing->modified, 0u);
  EXPECT_NE(bing->accessed, 0u);
  ASSERT_TRUE(bing->path.has_value());
  EXPECT_TRUE(bing->path->ends_with("/greendale/Content.IE5/5F9C7HL9/favicon[1].ico")) << *bing->path;
}

TEST(IndexDatSample, DamagedFilesGiveWhatCanBeTrusted) {
  const std::pair<const char*, size_t> rows[] = {{"crash-a.dat", 21}, {"hang-a.dat", 21}};
  for (const auto& [name, count] : rows) {
    TempFolder folder;
    std::filesystem::copy_file(kSamples + "/damaged/" + name, folder / "index.dat");
    std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(folder.path().string());
    ASSERT_NE(snapshot, nullptr) << name;
    EXPECT_EQ(List(*snapshot).size(), count) << name;
  }
}

TEST(IndexDatSample, MissingOrForeignIndexGivesNoSnapshotAndSaysWhy) {
  TempFolder folder;
  std::string problem;
  EXPECT_EQ(IndexDatSnapshot(folder.path().string(), &problem), nullptr);
  EXPECT_FALSE(problem.empty());
  Index index;
  std::memcpy(index.image.data(), "Client UrlCache MMF Ver 9.9", 27);
  index.Write(folder.path().string());
  EXPECT_EQ(IndexDatSnapshot(folder.path().string(), &problem), nullptr);
  EXPECT_EQ(problem, "unknown signature");
}

// ---- Files built here --------------------------------------------------------

TEST(IndexDatWine, ListsEveryFieldWhereWineKeepsIt) {
  TempFolder folder;
  ThreeEntries().Write(folder.path().string());
  std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(folder.path().string());
  ASSERT_NE(snapshot, nullptr);
  std::vector<Listed> listed = List(*snapshot);
  ASSERT_EQ(listed.size(), 3u);
  const Listed& page = listed[0];
  EXPECT_EQ(page.url, "http://sp.example.com/a b\"c");
  EXPECT_EQ(page.path, folder.path().string() + "/T5JYH04M/a b_c[0]_");
  EXPECT_EQ(page.header, "HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(page.headerSize, 17u);
  EXPECT_EQ(page.sizeLow, 5u);
  EXPECT_EQ(page.hits, 1u);
  EXPECT_EQ(page.modified, kFiletime);
  EXPECT_EQ(page.accessed, kFiletime + 1);
  EXPECT_EQ(page.expires, kFiletime);
  EXPECT_EQ(page.synced, kFiletime);
  EXPECT_FALSE(page.extension.has_value());
  EXPECT_EQ(listed[1].type, NORMAL_CACHE_ENTRY | STICKY_CACHE_ENTRY);
  EXPECT_EQ(listed[1].exemptDelta, 86400u);
  EXPECT_EQ(listed[1].path, folder.path().string() + "/LPR8AXDF/s[0].css");
  EXPECT_FALSE(listed[2].path.has_value());
}

TEST(IndexDatWine, ReadsTheOlderLayout) {
  TempFolder folder;
  Index index(kSignature47);
  index.Add({.url = "http://old.example/", .file = "old[1].htm", .subfolder = 2, .size = 1234, .useCount = 1});
  index.Write(folder.path().string());
  std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(folder.path().string());
  ASSERT_NE(snapshot, nullptr);
  std::vector<Listed> listed = List(*snapshot);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].url, "http://old.example/");
  EXPECT_EQ(listed[0].path, folder.path().string() + "/XDXBKK07/old[1].htm");
  EXPECT_EQ(listed[0].sizeLow, 1234u);
  EXPECT_EQ(listed[0].expires, kFiletime + 2);  // a FILETIME, not a FAT date, in this layout
  EXPECT_EQ(listed[0].useCount, 1u);
}

TEST(IndexDatWine, ConvertsLocalFileNamesFromTheAnsiCodePage) {
  TempFolder folder;
  Index index;
  index.Add({.url = "http://example.com/euro", .file = "\x80-caf\xE9-\x81.txt", .subfolder = 0});
  index.Write(folder.path().string());
  std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(folder.path().string());
  ASSERT_NE(snapshot, nullptr);
  EXPECT_EQ(List(*snapshot).at(0).path, folder.path().string() + "/PX5LEG91/\xE2\x82\xAC-caf\xC3\xA9-\xC2\x81.txt");
}

TEST(IndexDatWine, TurnsFatDatesIntoFiletimesOrNothing) {
  const std::pair<uint32_t, uint64_t> rows[] = {
      {kFatTime, kFiletime},
      {0, 0},
      {0x8F205D80, 0},                    // day 0
      {0x8F205D08 | 13u << 5, 0},         // month 13
      {(24u << 11) << 16 | 0x5D88, 0},    // hour 24
      {0x5D88 & ~(15u << 5), 0},          // month 0, no time
      {0x00005A5D, 0},                    // 29 February 2025 does not exist
      {0x00005858, 0x1da66b468d84000u},   // 2024-02-24 00:00:00
  };
  for (const auto& [fat, expected] : rows) {
    TempFolder folder;
    Index index;
    uint32_t at = index.Add({.url = "http://example.com/"});
    indexdat::PutU32(index.image, at + 24, fat);
    index.Write(folder.path().string());
    std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(folder.path().string());
    ASSERT_NE(snapshot, nullptr);
    EXPECT_EQ(List(*snapshot).at(0).expires, expected) << std::hex << "FAT " << fat;
  }
}

// One damage to a file of two entries, and what must be listed of it.
struct DamageRow {
  const char* what;
  void (*damage)(std::string& image, uint32_t first, uint32_t second);
  int listed;              // entries listed; -1: no snapshot at all
  bool firstHasPath = true;
  DWORD firstHeaderSize = 0;
};

void SetU32(std::string& image, size_t at, uint32_t value) {
  indexdat::PutU32(image, at, value);
}

const DamageRow kDamage[] = {
    {"nothing", [](std::string&, uint32_t, uint32_t) {}, 2},
    // The file and its header.
    {"too short", [](std::string& i, uint32_t, uint32_t) { i.resize(0x4000 + 64); SetU32(i, 0x1C, 0x4040); }, -1},
    {"ragged length", [](std::string& i, uint32_t, uint32_t) { i.resize(i.size() - 1); SetU32(i, 0x1C, uint32_t(i.size())); }, -1},
    {"over the largest size", [](std::string& i, uint32_t, uint32_t) { i.resize(0x4000 + 128 * 126337); SetU32(i, 0x1C, uint32_t(i.size())); }, -1},
    {"signature", [](std::string& i, uint32_t, uint32_t) { i[0] = 'X'; }, -1},
    {"size field past the file", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x1C, 0x8080); }, 2},
    {"size field not a length", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x1C, 0x8001); }, -1},
    {"capacity past the file", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x24, 129); }, -1},
    {"capacity past the bitmap", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x24, 0xFFFFFFFF); }, -1},
    {"blocks in use past the capacity", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x28, 129); }, -1},
    {"subfolder count", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x48, 33); }, -1},
    {"subfolder name with a slash", [](std::string& i, uint32_t, uint32_t) { i[0x4C + 36 + 4] = '/'; }, 2, false},
    {"subfolder name with dots", [](std::string& i, uint32_t, uint32_t) { i.replace(0x4C + 36 + 4, 8, "..\0\0\0\0\0\0", 8); }, 2, false},
    // The hash chain.
    {"no hash table", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x20, 0); }, 0},
    {"hash table off a block", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x20, 0x4010); }, 0},
    {"hash table in the header", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x20, 0x80); }, 0},
    {"hash table past the end", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x20, 0x8000); }, 0},
    {"hash signature", [](std::string& i, uint32_t, uint32_t) { i[kHash] = 'h'; }, 0},
    {"hash of no blocks", [](std::string& i, uint32_t, uint32_t) { SetU32(i, kHash + 4, 0); }, 0},
    {"hash past the end", [](std::string& i, uint32_t, uint32_t) { SetU32(i, kHash + 4, 129); }, 0},
    {"hash chained to itself", [](std::string& i, uint32_t, uint32_t) { SetU32(i, kHash + 8, kHash); }, 2},
    {"hash sequence not 0", [](std::string& i, uint32_t, uint32_t) { SetU32(i, kHash + 12, 1); }, 0},
    {"hash chained to the header", [](std::string& i, uint32_t, uint32_t) { SetU32(i, kHash + 8, 0x100); }, 2},
    // The slots.
    {"slot off a block", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, Index::SlotAt(0) + 4, f + 8); }, 1},
    {"slot into the header", [](std::string& i, uint32_t, uint32_t) { SetU32(i, Index::SlotAt(0) + 4, 0x200); }, 1},
    {"slot past the end", [](std::string& i, uint32_t, uint32_t) { SetU32(i, Index::SlotAt(0) + 4, 0x8000); }, 1},
    {"slot on a free block", [](std::string& i, uint32_t f, uint32_t) { SetBit(i, (f - 0x4000) / 128, false); }, 1},
    {"slot deleted", [](std::string& i, uint32_t, uint32_t) { SetU32(i, Index::SlotAt(0), 1); }, 1},
    {"slot filler", [](std::string& i, uint32_t, uint32_t) { SetU32(i, Index::SlotAt(0), 0x0BADF00D); }, 1},
    {"slot of a redirect", [](std::string& i, uint32_t, uint32_t) { SetU32(i, Index::SlotAt(0), 0x1447DA05); }, 1},
    {"two slots, one record", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, Index::SlotAt(5), 0x1447DA80); SetU32(i, Index::SlotAt(5) + 4, f); }, 2},
    {"slot past the walked ones", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, Index::SlotAt(448), 0x1447DA80); SetU32(i, Index::SlotAt(448) + 4, f); SetU32(i, Index::SlotAt(0), 3); SetU32(i, Index::SlotAt(0) + 4, 3); }, 1},
    {"last slot walked", [](std::string& i, uint32_t, uint32_t s) { SetU32(i, Index::SlotAt(447), 0x1447DA80); SetU32(i, Index::SlotAt(447) + 4, s); SetU32(i, Index::SlotAt(1), 3); SetU32(i, Index::SlotAt(1) + 4, 3); }, 2},
    // The records.
    {"record of no blocks", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 4, 0); }, 1},
    {"record past the end", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 4, 0x40000000); }, 1},
    {"record over a free block", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 4, 5); }, 1},
    {"record signature", [](std::string& i, uint32_t f, uint32_t) { std::memcpy(i.data() + f, "LEAK", 4); }, 1},
    // The strings.
    {"URL absent", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 52, 0); }, 1},
    {"URL in the fields", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 52, 0x20); }, 1},
    {"URL past the record", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 52, 0x100); }, 1},
    {"URL without its end", [](std::string& i, uint32_t f, uint32_t) { std::memset(i.data() + f + 0x68, 'a', 256 - 0x68); }, 1},
    {"URL empty", [](std::string& i, uint32_t f, uint32_t) { i[f + 0x68] = '\0'; }, 1},
    {"header data in its record", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 68, 0x68); SetU32(i, f + 72, 4); }, 2, true, 4},
    {"header data longer than its record", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 68, 0x68); SetU32(i, f + 72, 0x1000); }, 2},
    {"header data past its record", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 68, 0x100); SetU32(i, f + 72, 0); }, 2},
    // The local file.
    {"subfolder index past the count", [](std::string& i, uint32_t f, uint32_t) { i[f + 56] = 7; }, 2, false},
    {"file name absent", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 60, 0); }, 2, false},
    {"file name with a slash", [](std::string& i, uint32_t f, uint32_t) { i[f + Get32(i, f + 60)] = '/'; }, 2, false},
    {"file name with a backslash", [](std::string& i, uint32_t f, uint32_t) { i[f + Get32(i, f + 60)] = '\\'; }, 2, false},
    {"file name with a colon", [](std::string& i, uint32_t f, uint32_t) { i[f + Get32(i, f + 60)] = ':'; }, 2, false},
    {"file name with a control", [](std::string& i, uint32_t f, uint32_t) { i[f + Get32(i, f + 60)] = '\n'; }, 2, false},
    {"file name ..", [](std::string& i, uint32_t f, uint32_t) { i.replace(f + Get32(i, f + 60), 3, "..\0", 3); }, 2, false},
    {"file name empty", [](std::string& i, uint32_t f, uint32_t) { i[f + Get32(i, f + 60)] = '\0'; }, 2, false},
};

TEST(IndexDatDamage, EachCheckKeepsWhatCanBeTrusted) {
  for (const DamageRow& row : kDamage) {
    TempFolder folder;
    Index index;
    uint32_t first = index.Add({.url = "http://one.example/", .file = "one[0]"});
    uint32_t second = index.Add({.url = "http://two.example/", .file = "two[0]"});
    row.damage(index.image, first, second);
    index.Write(folder.path().string());
    std::string problem;
    std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(folder.path().string(), &problem);
    if (row.listed < 0) {
      EXPECT_EQ(snapshot, nullptr) << row.what;
      EXPECT_FALSE(problem.empty()) << row.what;
      continue;
    }
    ASSERT_NE(snapshot, nullptr) << row.what << ": " << problem;
    std::vector<Listed> listed = List(*snapshot);
    ASSERT_EQ(listed.size(), static_cast<size_t>(row.listed)) << row.what;
    if (row.listed == 2) {
      EXPECT_EQ(listed[0].url, "http://one.example/") << row.what;
      EXPECT_EQ(listed[0].path.has_value(), row.firstHasPath) << row.what;
      EXPECT_EQ(listed[0].headerSize, row.firstHeaderSize) << row.what;
      EXPECT_EQ(listed[0].header.size(), row.firstHeaderSize) << row.what;
    }
    if (row.listed == 1) {
      EXPECT_EQ(listed[0].url, "http://two.example/") << row.what;
    }
  }
}

// ---- Deletion ------------------------------------------------------------------

void MakeLocalFile(const std::string& path, time_t modified = kUnixTime) {
  WriteFile(path, "cached");
  struct timespec times[2] = {{modified, 0}, {modified, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// The bytes Wine leaves when it deletes the record at `at`, of `blocks`
// blocks, that slot `slot` lists: the slot marked deleted with its offset
// kept, the blocks freed and their count lowered, the subfolder's file count
// and the usage lowered.
std::string WineDeleted(std::string image, uint32_t slot, uint32_t at) {
  uint32_t blocks = Get32(image, at + 4);
  indexdat::PutU32(image, Index::SlotAt(slot), 1);
  for (uint32_t block = (at - 0x4000) / 128; block < (at - 0x4000) / 128 + blocks; ++block) SetBit(image, block, false);
  indexdat::PutU32(image, 0x28, Get32(image, 0x28) - blocks);
  uint8_t subfolder = static_cast<uint8_t>(image[at + 56]);
  if (subfolder < 4) indexdat::PutU32(image, 0x4C + 12 * subfolder, Get32(image, 0x4C + 12 * subfolder) - 1);
  size_t usage = Get32(image, at + 64) & STICKY_CACHE_ENTRY ? 0x40 : 0x38;
  indexdat::PutU64(image, usage, Get64(image, usage) - Get64(image, at + 32));
  return image;
}

struct DeletionRow {
  const char* what;
  size_t entry;  // of ThreeEntries
  const char* file;
};

TEST(IndexDatDelete, LeavesTheBytesWineLeaves) {
  const DeletionRow rows[] = {
      {"normal", 0, "T5JYH04M/a b_c[0]_"},
      {"sticky", 1, "LPR8AXDF/s[0].css"},
      {"no file", 2, ""},
  };
  for (const DeletionRow& row : rows) {
    TempFolder folder;
    std::string path = folder.path().string();
    Index index = ThreeEntries();
    index.Write(path);
    MakeLocalFile(folder / "T5JYH04M/a b_c[0]_");
    MakeLocalFile(folder / "LPR8AXDF/s[0].css");
    std::vector<std::string> before = Urls(path);
    uint32_t at = Get32(index.image, Index::SlotAt(static_cast<uint32_t>(row.entry)) + 4);

    ASSERT_TRUE(DeleteFromIndexDat(path, before[row.entry].c_str())) << row.what << ": " << GetLastError();
    EXPECT_EQ(ReadFile(folder / "index.dat"), WineDeleted(index.image, static_cast<uint32_t>(row.entry), at)) << row.what;
    if (row.file[0] != '\0') {
      EXPECT_FALSE(std::filesystem::exists(folder / row.file)) << row.what;
    }
    before.erase(before.begin() + static_cast<ptrdiff_t>(row.entry));
    EXPECT_EQ(Urls(path), before) << row.what;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 3) << row.what;
  }
}

TEST(IndexDatDelete, KeepsARecordAsLeakWhenItsFileCannotGo) {
  // A file without write permission is read-only to Windows programs, and a
  // folder in the file's place cannot be deleted as a file: both hold for
  // root too.
  const char* rows[] = {"read-only file", "folder"};
  for (const char* what : rows) {
    TempFolder folder;
    std::string path = folder.path().string();
    uint32_t at = 0;
    Index index = ThreeEntries(&at);
    indexdat::PutU32(index.image, 0x224, 0x6000);  // an earlier leak
    index.Write(path);
    std::string local = folder / "T5JYH04M/a b_c[0]_";
    if (std::string(what) == "folder") {
      std::filesystem::create_directories(local + "/inner");
      struct timespec times[2] = {{kUnixTime, 0}, {kUnixTime, 0}};
      utimensat(AT_FDCWD, local.c_str(), times, 0);
    } else {
      MakeLocalFile(local);
      chmod(local.c_str(), 0444);
    }

    ASSERT_TRUE(DeleteFromIndexDat(path, "http://sp.example.com/a b\"c")) << what;
    std::string expected = index.image;
    indexdat::PutU32(expected, Index::SlotAt(0), 1);
    std::memcpy(expected.data() + at, "LEAK", 4);
    indexdat::PutU32(expected, at + 44, 0x6000);
    indexdat::PutU32(expected, 0x224, at);
    EXPECT_EQ(ReadFile(folder / "index.dat"), expected) << what;
    EXPECT_TRUE(std::filesystem::exists(local)) << what;
    EXPECT_EQ(Urls(path).size(), 2u) << what;
  }
}

TEST(IndexDatDelete, LeavesAFileChangedSinceItWasCached) {
  TempFolder folder;
  std::string path = folder.path().string();
  Index index = ThreeEntries();
  index.Write(path);
  MakeLocalFile(folder / "T5JYH04M/a b_c[0]_", kUnixTime + 60);
  ASSERT_TRUE(DeleteFromIndexDat(path, "http://sp.example.com/a b\"c"));
  EXPECT_EQ(ReadFile(folder / "index.dat"), WineDeleted(index.image, 0, Get32(index.image, Index::SlotAt(0) + 4)));
  EXPECT_TRUE(std::filesystem::exists(folder / "T5JYH04M/a b_c[0]_"));
}

TEST(IndexDatDelete, NeverRemovesAFileOutsideTheContainer) {
  // The subfolder is a link to a folder outside, or the file is a link to a
  // file outside: the entry goes, the outside files stay.
  const char* rows[] = {"linked subfolder", "linked file"};
  for (const char* what : rows) {
    TempFolder folder, outside;
    std::string path = folder.path().string();
    ThreeEntries().Write(path);
    MakeLocalFile(outside / "a b_c[0]_");
    if (std::string(what) == "linked subfolder") {
      std::filesystem::create_directory_symlink(outside.path(), folder / "T5JYH04M");
    } else {
      std::filesystem::create_directories(folder / "T5JYH04M");
      std::filesystem::create_symlink(outside / "a b_c[0]_", folder / "T5JYH04M/a b_c[0]_");
    }
    ASSERT_TRUE(DeleteFromIndexDat(path, "http://sp.example.com/a b\"c")) << what;
    EXPECT_TRUE(std::filesystem::exists(outside / "a b_c[0]_")) << what;
    EXPECT_EQ(Urls(path).size(), 2u) << what;
  }
}

TEST(IndexDatDelete, FindsTheEntryByItsExactUrl) {
  TempFolder folder;
  std::string path = folder.path().string();
  Index index;
  index.Add({.url = "http://example.com/A", .subfolder = 0});
  index.Add({.url = "http://example.com/a", .subfolder = 0});
  index.Add({.url = "http://example.com/a/", .subfolder = 0});
  index.Write(path);
  EXPECT_FALSE(DeleteFromIndexDat(path, "http://example.com/"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(DeleteFromIndexDat(path, "http://example.com/a"));
  EXPECT_EQ(Urls(path), (std::vector<std::string>{"http://example.com/A", "http://example.com/a/"}));
}

uint64_t FiletimeHoursAgo(int hours) {
  return (static_cast<uint64_t>(std::time(nullptr) - hours * 3600) + 11644473600u) * 10000000u;
}

// Locks the first entry of the index as Wine does (the slot's flag, the use
// count) and sets its last access.
void LockFirst(Index& index, bool slotFlag, uint32_t useCount, uint64_t accessed) {
  uint32_t at = Get32(index.image, Index::SlotAt(0) + 4);
  if (slotFlag) indexdat::PutU32(index.image, Index::SlotAt(0), Get32(index.image, Index::SlotAt(0)) | 2);
  indexdat::PutU32(index.image, at + 88, useCount);
  indexdat::PutU64(index.image, at + 16, accessed);
}

// A refusal, and the error it gives; the index must stay as it was.
struct RefusalRow {
  const char* what;
  void (*prepare)(Index& index, const std::string& folder);
  DWORD error;
};

const RefusalRow kRefusals[] = {
    {"no such URL", [](Index&, const std::string&) {}, ERROR_FILE_NOT_FOUND},
    {"locked slot", [](Index& i, const std::string&) { LockFirst(i, true, 0, FiletimeHoursAgo(0)); }, ERROR_SHARING_VIOLATION},
    {"entry in use", [](Index& i, const std::string&) { LockFirst(i, false, 1, FiletimeHoursAgo(0)); }, ERROR_SHARING_VIOLATION},
    {"locked a day ago", [](Index& i, const std::string&) { LockFirst(i, true, 1, FiletimeHoursAgo(23)); }, ERROR_SHARING_VIOLATION},
    {"locked, accessed in the future", [](Index& i, const std::string&) { LockFirst(i, true, 1, FiletimeHoursAgo(-100)); }, ERROR_SHARING_VIOLATION},
    {"older format", [](Index& i, const std::string&) { i = Index(kSignature47); i.Add({.url = "http://sp.example.com/a b\"c", .file = "a b_c[0]_"}); }, ERROR_SHARING_VIOLATION},
    {"bitmap and count disagree", [](Index& i, const std::string&) { indexdat::PutU32(i.image, 0x28, Get32(i.image, 0x28) - 1); }, ERROR_INVALID_DATA},
    {"capacity short of the file", [](Index& i, const std::string&) { indexdat::PutU32(i.image, 0x24, 127); }, ERROR_INVALID_DATA},
    {"block past the capacity", [](Index& i, const std::string&) { SetBit(i.image, 200, true); indexdat::PutU32(i.image, 0x28, Get32(i.image, 0x28) + 1); }, ERROR_INVALID_DATA},
    {"record inside the hash table", [](Index& i, const std::string&) { indexdat::PutU32(i.image, Index::SlotAt(1) + 4, 0x4000 + 128 * 8); std::memcpy(i.image.data() + 0x4000 + 128 * 8, i.image.data() + Get32(i.image, Index::SlotAt(0) + 4), 256); }, ERROR_INVALID_DATA},
};

TEST(IndexDatDelete, RefusesAndChangesNothing) {
  for (const RefusalRow& row : kRefusals) {
    TempFolder folder;
    std::string path = folder.path().string();
    Index index = ThreeEntries();
    row.prepare(index, path);
    index.Write(path);
    MakeLocalFile(folder / "T5JYH04M/a b_c[0]_");
    const char* url = row.error == ERROR_FILE_NOT_FOUND ? "http://sp.example.com/" : "http://sp.example.com/a b\"c";
    EXPECT_FALSE(DeleteFromIndexDat(path, url)) << row.what;
    EXPECT_EQ(GetLastError(), row.error) << row.what;
    EXPECT_EQ(ReadFile(folder / "index.dat"), index.image) << row.what;
    EXPECT_TRUE(std::filesystem::exists(folder / "T5JYH04M/a b_c[0]_")) << row.what;
  }
}

TEST(IndexDatDelete, RefusesAFolderThatCannotBeWritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into any folder; a read-only mount needs privileges to make";
  TempFolder folder;
  std::string path = folder.path().string();
  Index index = ThreeEntries();
  index.Write(path);
  chmod(path.c_str(), 0555);
  EXPECT_FALSE(DeleteFromIndexDat(path, "http://sp.example.com/a b\"c"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  chmod(path.c_str(), 0755);
  EXPECT_EQ(ReadFile(folder / "index.dat"), index.image);
}

TEST(IndexDatDelete, KeepsTheModeAndClearsWhatAKilledWriterLeft) {
  TempFolder folder;
  std::string path = folder.path().string();
  ThreeEntries().Write(path);
  chmod((folder / "index.dat").c_str(), 0640);
  WriteFile(folder / "index.dat.tmp.Ab12Cd", "half an index");
  EXPECT_FALSE(DeleteFromIndexDat(path + "/missing", "http://example.net/nofile"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(DeleteFromIndexDat(path, "http://example.net/nofile"));
  struct stat info {};
  ASSERT_EQ(stat((folder / "index.dat").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_FALSE(std::filesystem::exists(folder / "index.dat.tmp.Ab12Cd"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(IndexDatDelete, KeepsAWindowsFileUsableByWine) {
  TempFolder folder;
  std::string path = folder.path().string();
  std::filesystem::copy_file(kSamples + "/greendale/Content.IE5/index.dat", folder / "index.dat");
  std::vector<std::string> before = Urls(path);
  ASSERT_EQ(before.size(), 21u);
  for (size_t i = 0; i < 5; ++i) {
    ASSERT_TRUE(DeleteFromIndexDat(path, before[i * 4].c_str())) << before[i * 4];
  }
  std::string image = ReadFile(folder / "index.dat");
  uint32_t bits = 0;
  for (size_t byte = 0x250; byte < 0x4000; ++byte) bits += static_cast<uint32_t>(__builtin_popcount(static_cast<unsigned char>(image[byte])));
  EXPECT_EQ(bits, Get32(image, 0x28));
  EXPECT_EQ(Get32(image, 0x1C), image.size());
  std::vector<std::string> after = Urls(path);
  EXPECT_EQ(after.size(), 16u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(std::count(after.begin(), after.end(), before[i * 4]), 0);
}

TEST(IndexDatDelete, TakesALockOfMoreThanADayForADeadOne) {
  // Wine clears the lock and the use count, then deletes as ever.
  for (bool slotFlag : {true, false}) {
    TempFolder folder;
    std::string path = folder.path().string();
    Index index = ThreeEntries();
    LockFirst(index, slotFlag, 1, FiletimeHoursAgo(25));
    index.Write(path);
    MakeLocalFile(folder / "T5JYH04M/a b_c[0]_");
    ASSERT_TRUE(DeleteFromIndexDat(path, "http://sp.example.com/a b\"c")) << slotFlag << ": " << GetLastError();
    uint32_t at = Get32(index.image, Index::SlotAt(0) + 4);
    std::string expected = WineDeleted(index.image, 0, at);
    indexdat::PutU32(expected, at + 88, 0);
    EXPECT_EQ(ReadFile(folder / "index.dat"), expected) << slotFlag;
    EXPECT_FALSE(std::filesystem::exists(folder / "T5JYH04M/a b_c[0]_")) << slotFlag;
  }
}

TEST(IndexDatDelete, NeverTakesTheContainersOwnFilesForAnEntrys) {
  // Kept by an archive, the index has the time its entries noted.
  const char* rows[] = {"index.dat", "INDEX.DAT", "index.dat.lock"};
  for (const char* name : rows) {
    TempFolder folder;
    std::string path = folder.path().string();
    Index index = ThreeEntries();
    index.Add({.url = "http://own.example/", .file = name, .subfolder = 0xFE});
    index.Write(path);
    if (std::string(name) != "index.dat") MakeLocalFile(folder / name);
    struct timespec times[2] = {{kUnixTime, 0}, {kUnixTime, 0}};
    utimensat(AT_FDCWD, (folder / "index.dat").c_str(), times, 0);
    std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(path);
    ASSERT_NE(snapshot, nullptr) << name;
    EXPECT_FALSE(List(*snapshot).at(3).path.has_value()) << name << ": handed out for a copy";
    ASSERT_TRUE(DeleteFromIndexDat(path, "http://own.example/")) << name;
    EXPECT_EQ(Urls(path).size(), 3u) << name << ": the container went";
    EXPECT_TRUE(std::filesystem::exists(folder / name)) << name;
  }
}

TEST(IndexDatDelete, RefusesWhenTheIndexWasReplacedSinceItWasRead) {
  TempFolder folder;
  std::string path = folder.path().string();
  Index index = ThreeEntries();
  index.Write(path);
  MakeLocalFile(folder / "T5JYH04M/a b_c[0]_");
  DWORD error = 0;
  std::unique_ptr<IndexDatEdit> edit = IndexDatEdit::Open(path, &error);
  ASSERT_NE(edit, nullptr) << error;
  ASSERT_TRUE(edit->Delete("http://sp.example.com/a b\"c"));
  WriteFile(folder / "other.dat", "another writer's index");
  std::filesystem::rename(folder / "other.dat", folder / "index.dat");
  EXPECT_FALSE(edit->Commit());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadFile(folder / "index.dat"), "another writer's index");
  EXPECT_TRUE(std::filesystem::exists(folder / "T5JYH04M/a b_c[0]_"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2) << "a temporary file stayed";
}

// Swaps the folder at `link` for a link to `outside` and back, as fast as it
// can, while it runs.
class FolderSwapper {
 public:
  FolderSwapper(std::string folder, std::string outside) : folder_(std::move(folder)), outside_(std::move(outside)) {
    thread_ = std::thread([this] {
      while (running_) {
        if (rename(folder_.c_str(), (folder_ + ".moved").c_str()) != 0) continue;
        symlink(outside_.c_str(), folder_.c_str());
        unlink(folder_.c_str());
        rename((folder_ + ".moved").c_str(), folder_.c_str());
      }
    });
  }
  ~FolderSwapper() {
    running_ = false;
    thread_.join();
  }

 private:
  std::string folder_, outside_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

TEST(IndexDatDelete, AFolderSwappedForALinkNeverLeadsOutside) {
  TempFolder base;
  std::string container = base / "Content.IE5", outside = base / "outside";
  Index index = ThreeEntries();
  index.Write(outside);
  MakeLocalFile(outside + "/T5JYH04M/a b_c[0]_");
  int deleted = 0;
  for (int attempt = 0; attempt < 200; ++attempt) {
    index.Write(container);
    MakeLocalFile(container + "/T5JYH04M/a b_c[0]_");
    {
      FolderSwapper swapper(container, outside);
      deleted += DeleteFromIndexDat(container, "http://sp.example.com/a b\"c") ? 1 : 0;
    }
    ASSERT_TRUE(ReadFile(outside + "/index.dat") == index.image) << "the index outside changed, attempt " << attempt;
    ASSERT_TRUE(std::filesystem::exists(outside + "/T5JYH04M/a b_c[0]_")) << "attempt " << attempt;
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(outside), {}), 2) << "attempt " << attempt;
  }
  EXPECT_GT(deleted, 0) << "no deletion went ahead: the race was never run";
}

// ---- A run of deletions ---------------------------------------------------------

// Points TROVEX_CACHE at one container for a test.
class CacheVariable {
 public:
  explicit CacheVariable(const std::string& folder) { setenv("TROVEX_CACHE", folder.c_str(), 1); }
  ~CacheVariable() { unsetenv("TROVEX_CACHE"); }
};

TEST(IndexDatRun, DeletesInMemoryAndWritesTheIndexOnceAtTheEnd) {
  TempFolder folder;
  std::string path = folder.path().string();
  Index index = ThreeEntries();
  uint32_t locked = index.Add({.url = "http://locked.example/", .subfolder = 0, .slotFlags = 2});
  indexdat::PutU64(index.image, locked + 16, FiletimeHoursAgo(0));
  index.Write(path);
  MakeLocalFile(folder / "T5JYH04M/a b_c[0]_");
  MakeLocalFile(folder / "LPR8AXDF/s[0].css");
  CacheVariable cache(path);

  BeginCacheChanges();
  EXPECT_TRUE(DeleteUrlCacheEntryA("http://sp.example.com/a b\"c"));
  EXPECT_FALSE(DeleteUrlCacheEntryA("http://sp.example.com/a b\"c"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteUrlCacheEntryA("http://locked.example/"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(DeleteUrlCacheEntryA("http://example.org/s.css"));
  EXPECT_EQ(ReadFile(folder / "index.dat"), index.image) << "written before the run ended";
  EXPECT_TRUE(std::filesystem::exists(folder / "T5JYH04M/a b_c[0]_"));
  EndCacheChanges();

  std::string expected = WineDeleted(index.image, 0, Get32(index.image, Index::SlotAt(0) + 4));
  expected = WineDeleted(expected, 1, Get32(index.image, Index::SlotAt(1) + 4));
  EXPECT_EQ(ReadFile(folder / "index.dat"), expected);
  EXPECT_FALSE(std::filesystem::exists(folder / "T5JYH04M/a b_c[0]_"));
  EXPECT_FALSE(std::filesystem::exists(folder / "LPR8AXDF/s[0].css"));
  // Outside a run a deletion is written at once.
  EXPECT_TRUE(DeleteUrlCacheEntryA("http://example.net/nofile"));
  EXPECT_EQ(Urls(path), std::vector<std::string>{"http://locked.example/"});
}

// The host was told the deletion was made: a library unloaded inside a run
// (here, a process that exits in one) still writes it.
TEST(IndexDatRun, WritesWhatItHoldsWhenTheLibraryGoes) {
  TempFolder folder;
  std::string path = folder.path().string();
  ThreeEntries().Write(path);
  CacheVariable cache(path);
  EXPECT_EXIT(
      {
        BeginCacheChanges();
        bool deleted = DeleteUrlCacheEntryA("http://example.org/s.css") != FALSE;
        std::exit(deleted ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  std::vector<std::string> left = Urls(path);
  EXPECT_EQ(std::count(left.begin(), left.end(), "http://example.org/s.css"), 0);
  EXPECT_EQ(left.size(), 2u);
}

// ---- Hostile and damaged files: what the reader drops, and at what cost --------

struct Reading {
  std::vector<indexdat::UrlRecord> records;
  indexdat::IndexDrops drops;
  uint64_t steps = 0;
};

Reading Read(const std::string& image) {
  Reading reading;
  std::optional<indexdat::Header> header = indexdat::ReadHeader(image, nullptr);
  if (!header) return reading;
  indexdat::ForEachRecord(
      image, *header, [&](const indexdat::UrlRecord& record) { reading.records.push_back(record); },
      &reading.drops, &reading.steps);
  return reading;
}

TEST(IndexDatDrops, EachDropIsCountedWithItsReason) {
  const std::pair<const char*, void (*)(std::string&, uint32_t, uint32_t)> rows[] = {
      {"", [](std::string& i, uint32_t, uint32_t) { SetU32(i, Index::SlotAt(0), 1); }},
      {"1 slot (1 naming no block)", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, Index::SlotAt(0) + 4, f + 8); }},
      {"1 record (1 on free blocks)", [](std::string& i, uint32_t f, uint32_t) { SetBit(i, (f - 0x4000) / 128, false); }},
      {"1 record (1 outside the file)", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 4, 0x40000000); }},
      {"1 record (1 of unknown kind)", [](std::string& i, uint32_t f, uint32_t) { std::memcpy(i.data() + f, "XXXX", 4); }},
      {"1 record (1 bad size)", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 4, 0); }},
      {"1 record (1 bad URL)", [](std::string& i, uint32_t f, uint32_t) { SetU32(i, f + 52, 0); }},
      {"1 record (1 sharing blocks)", [](std::string& i, uint32_t f, uint32_t s) { SetU32(i, f + 4, (s - f) / 128 + 1); }},
      {"1 record (1 of unknown kind)", [](std::string& i, uint32_t, uint32_t) { SetU32(i, Index::SlotAt(0) + 4, kHash); }},
      {"1 hash table (1 damaged)", [](std::string& i, uint32_t, uint32_t) { SetU32(i, kHash + 12, 1); }},
      {"1 hash table (1 outside the file)", [](std::string& i, uint32_t, uint32_t) { SetU32(i, 0x20, 0x8000); }},
  };
  for (const auto& [expected, damage] : rows) {
    Index index;
    uint32_t first = index.Add({.url = "http://one.example/", .file = "one[0]"});
    uint32_t second = index.Add({.url = "http://two.example/", .file = "two[0]"});
    damage(index.image, first, second);
    EXPECT_EQ(Read(index.image).drops.Describe(), expected) << expected;
  }
}

// A file of `capacity` blocks, every one allocated, with one hash table
// whose 448 slots name the records at `offsets`.
std::string CraftedIndex(uint32_t capacity, const std::vector<uint32_t>& offsets) {
  Index index(kWineSignature, capacity);
  std::string& image = index.image;
  for (uint32_t block = 32; block < capacity; ++block) SetBit(image, block, true);
  indexdat::PutU32(image, 0x28, capacity);
  for (uint32_t slot = 0; slot < offsets.size(); ++slot) {
    indexdat::PutU32(image, Index::SlotAt(slot), 0x1000 + 0x40 * slot);
    indexdat::PutU32(image, Index::SlotAt(slot) + 4, offsets[slot]);
  }
  return image;
}

// 448 records, one a block, each running to the end of the file, their URLs
// all at one run of letters over its last half: ending in a NUL (`ended`),
// every record's URL is the whole run.
std::string OverlappingRecords(bool ended) {
  constexpr uint32_t kCapacity = 1024, kRun = 0x4000 + 128 * 480;
  std::vector<uint32_t> offsets;
  for (uint32_t block = 32; block < 32 + kUsedSlots; ++block) offsets.push_back(0x4000 + 128 * block);
  std::string image = CraftedIndex(kCapacity, offsets);
  std::fill(image.begin() + 0x4000 + 128 * 32, image.end(), 'a');
  for (uint32_t at : offsets) {
    std::memcpy(image.data() + at, "URL ", 4);
    indexdat::PutU32(image, at + 4, kCapacity - (at - 0x4000) / 128);
    indexdat::PutU32(image, at + 52, kRun - at);
    indexdat::PutU32(image, at + 60, 0);
    image[at + 56] = static_cast<char>(0xFE);
  }
  if (ended) image.back() = '\0';
  return image;
}

// One record over the rest of the file, its last block free, named by every
// slot.
std::string OneBadRecordEverywhere() {
  constexpr uint32_t kCapacity = 1024, kRecord = 0x4000 + 128 * 32;
  std::string image = CraftedIndex(kCapacity, std::vector<uint32_t>(kUsedSlots, kRecord));
  std::memcpy(image.data() + kRecord, "URL ", 4);
  indexdat::PutU32(image, kRecord + 4, kCapacity - 32);
  indexdat::PutU32(image, kRecord + 52, 0x68);
  std::memcpy(image.data() + kRecord + 0x68, "http://x/", 10);
  SetBit(image, kCapacity - 1, false);
  indexdat::PutU32(image, 0x28, kCapacity - 1);
  return image;
}

// However the slots and records overlap, each byte is looked at a bounded
// number of times, and the URLs listed take no more room than the file.
TEST(IndexDatDrops, HostileFilesCostWhatTheirSizeCosts) {
  struct Row {
    const char* what;
    std::string image;
    size_t listed;
    std::string dropped;
  };
  const Row rows[] = {
      {"records without a URL's end", OverlappingRecords(false), 0, "448 records (448 bad URL)"},
      {"records sharing one URL", OverlappingRecords(true), 1, "447 records (447 sharing blocks)"},
      {"one record named by every slot", OneBadRecordEverywhere(), 0, "1 record (1 on free blocks)"},
  };
  for (const Row& row : rows) {
    Reading reading = Read(row.image);
    EXPECT_EQ(reading.records.size(), row.listed) << row.what;
    EXPECT_EQ(reading.drops.Describe(), row.dropped) << row.what;
    EXPECT_LE(reading.steps, 2 * row.image.size()) << row.what;
    uint64_t urlBytes = 0;
    for (const indexdat::UrlRecord& record : reading.records) urlBytes += record.url.length;
    EXPECT_LE(urlBytes, row.image.size()) << row.what;
  }
}

// Zeros after the last block are no part of the file; a cut file gives the
// entries whose record and hash table lie wholly within what is left.
TEST(IndexDatDrops, PaddedAndCutFilesGiveWhatLiesWithin) {
  std::string whole = ReadFile(kSamples + "/greendale/Content.IE5/index.dat");
  Reading full = Read(whole);
  ASSERT_EQ(full.records.size(), 21u);
  EXPECT_EQ(full.drops.Total(), 0u);
  for (size_t padding : {1, 128, 4096}) {
    Reading padded = Read(whole + std::string(padding, '\0'));
    EXPECT_EQ(padded.records.size(), 21u) << padding;
    EXPECT_EQ(padded.drops.Total(), 0u) << padding;
  }
  // The sample's one hash table takes the blocks from 0x5000 to 0x6000.
  Reading noTable = Read(whole.substr(0, 0x5800));
  EXPECT_TRUE(noTable.records.empty());
  EXPECT_EQ(noTable.drops.Describe(), "1 hash table (1 outside the file)");
  for (size_t cut : {size_t{0x6000 + 128 * 60}, size_t{0x6000 + 128 * 60 + 50}, whole.size() - 128}) {
    Reading part = Read(whole.substr(0, cut));
    std::vector<uint32_t> expected, got;
    for (const indexdat::UrlRecord& record : full.records)
      if (record.offset + 128 * record.blocks <= cut) expected.push_back(record.offset);
    for (const indexdat::UrlRecord& record : part.records) got.push_back(record.offset);
    EXPECT_EQ(got, expected) << cut;
    EXPECT_EQ(part.drops.Of(indexdat::Drop::kRecordOutside), 21 - expected.size()) << cut;
  }
  Reading header = Read(whole.substr(0, 0x4000 + 127));
  EXPECT_TRUE(header.records.empty());
}

}  // namespace
