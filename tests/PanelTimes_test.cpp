// The times a listing hands out under ShowTimes, and the history entries
// ShowHistory brings in, through the built plug-in on an index.dat cache:
// the text store holds no times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tests/support/PluginFixture.h"
#include "tests/support/TimedIndex.h"

using namespace trovex;

namespace {

uint64_t Ticks(const FILETIME& time) {
  return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// Find-record times, named for what the panel shows.
struct Times {
  uint64_t write = 0, creation = 0, access = 0;
  bool operator==(const Times&) const = default;
};

void PrintTo(const Times& times, std::ostream* out) {
  *out << "{write " << times.write << ", creation " << times.creation << ", access " << times.access << "}";
}

constexpr uint64_t kDay = 864'000'000'000;
constexpr uint64_t kBase = 0x01DA'0000'0000'0000;
// FAT times (date low, time high) of 2024-03-01 10:00:00 and 2024-03-02.
constexpr uint32_t kSync1 = 0x50005861;
constexpr uint32_t kSync2 = 0x50005862;

constexpr char kOld[] = "http://www.example.com/old.htm";
constexpr char kNew[] = "http://www.example.com/new.htm";
constexpr char kCaps[] = "http://WWW.example.com/caps.gif";
constexpr char kImage[] = "http://img.example.com/a.png";
constexpr char kHistory[] = "Visited: joe@http://www.example.com/seen.htm";
constexpr char kCookie[] = "Cookie:joe@www.example.com/";
constexpr char kUntimed[] = "http://www.example.org/untimed";

// Accessed last of the visible ones: img.example.com's entry, then
// www.example.com's spelled with capitals. A later copy of kNew and the
// history entry are newer still, yet neither is listed by default.
const std::vector<TimedEntry> kEntries = {
    {.url = kOld, .modified = kBase, .accessed = kBase + 1 * kDay, .synced = kSync1},
    {.url = kNew, .modified = kBase + 1, .accessed = kBase + 3 * kDay, .synced = kSync2},
    {.url = kImage, .modified = kBase + 2, .accessed = kBase + 5 * kDay, .synced = kSync1},
    {.url = kCaps, .modified = kBase + 3, .accessed = kBase + 4 * kDay},
    {.url = kNew, .modified = kBase + 4, .accessed = kBase + 9 * kDay, .synced = kSync1},
    {.url = kHistory, .type = URLHISTORY_CACHE_ENTRY, .accessed = kBase + 8 * kDay},
    {.url = kCookie, .type = COOKIE_CACHE_ENTRY, .accessed = kBase + 2 * kDay},
    {.url = kUntimed},
};

// The index's times of each URL's first entry, as the cache hands them out.
std::map<std::string, Times> CacheRecords() {
  std::map<std::string, Times> records;
  std::vector<char> buffer(8192);
  auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  DWORD size = static_cast<DWORD>(buffer.size());
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, record, &size);
  for (bool more = handle != nullptr; more; more = FindNextUrlCacheEntryA(handle, record, &size)) {
    records.emplace(record->lpszSourceUrlName,
                    Times{Ticks(record->LastAccessTime), Ticks(record->LastModifiedTime), Ticks(record->LastSyncTime)});
    size = static_cast<DWORD>(buffer.size());
  }
  if (handle != nullptr) FindCloseUrlCache(handle);
  return records;
}

class PanelTimes : public PluginTest {
 protected:
  void SetUp() override {
    std::string container = Temp("Content.IE5");
    std::filesystem::create_directories(container);
    WriteTimedIndex(container, kEntries);
    if (const char* old = std::getenv("TROVEX_CACHE")) oldCache_ = old;
    setenv("TROVEX_CACHE", container.c_str(), 1);
  }
  void TearDown() override {
    if (oldCache_) {
      setenv("TROVEX_CACHE", oldCache_->c_str(), 1);
    } else {
      unsetenv("TROVEX_CACHE");
    }
  }

  // Each item of the listing of path by name, with its times.
  std::map<std::string, Times> Listed(const std::string& path) {
    std::map<std::string, Times> items;
    WIN32_FIND_DATAA record{};
    HANDLE handle = plugin().FsFindFirst(path.c_str(), &record);
    if (handle == INVALID_HANDLE_VALUE) return items;
    do {
      items[record.cFileName] =
          Times{Ticks(record.ftLastWriteTime), Ticks(record.ftCreationTime), Ticks(record.ftLastAccessTime)};
    } while (plugin().FsFindNext(handle, &record) == kFsTrue);
    plugin().FsFindClose(handle);
    return items;
  }

  // Every item of the three levels, by its path.
  std::map<std::string, Times> EveryItem() {
    std::map<std::string, Times> all;
    for (const auto& [site, siteTimes] : Listed("\\")) {
      all["\\" + site] = siteTimes;
      for (const auto& [host, hostTimes] : Listed("\\" + site)) {
        all["\\" + site + "\\" + host] = hostTimes;
        for (const auto& [url, times] : Listed("\\" + site + "\\" + host)) all[url] = times;
      }
    }
    return all;
  }

 private:
  std::optional<std::string> oldCache_;
};

}  // namespace

TEST_F(PanelTimes, EntriesCarryTheCacheRecordsTimes) {
  WriteIni("Language=English\nShowTimes=1\n");
  Load();
  std::map<std::string, Times> records = CacheRecords();
  // The cache hands out what the index holds, so a comparison with it means
  // something.
  ASSERT_EQ(records[kOld].write, kBase + kDay);
  ASSERT_EQ(records[kOld].creation, kBase);
  ASSERT_NE(records[kOld].access, 0u);
  ASSERT_NE(records[kNew].access, records[kOld].access);

  std::map<std::string, Times> host = Listed("\\example.com\\www.example.com");
  for (const char* url : {kOld, kNew, kCaps, kCookie}) {
    ASSERT_TRUE(host.contains(url)) << url;
    EXPECT_EQ(host[url], records[url]) << url;
  }
  EXPECT_EQ(host[kNew].write, kBase + 3 * kDay) << "the first entry of a URL is the one listed";
  EXPECT_EQ(Listed("\\example.com\\img.example.com")[kImage], records[kImage]);
  // A time the cache left unset stays unset.
  EXPECT_EQ(host[kCaps].access, 0u);
  EXPECT_EQ(Listed("\\example.org\\www.example.org")[kUntimed], Times{});
}

TEST_F(PanelTimes, FoldersCarryTheNewestAccessOfWhatTheyList) {
  struct Case {
    const char* settings;
    const char* path;
    uint64_t newest;
  };
  const Case cases[] = {
      // Over every host of the site; not the later copy of kNew, nor the
      // hidden history entry.
      {"ShowTimes=1\n", "\\example.com", kBase + 5 * kDay},
      {"ShowTimes=1\n", "\\example.com\\img.example.com", kBase + 5 * kDay},
      // Over every spelling of the host.
      {"ShowTimes=1\n", "\\example.com\\www.example.com", kBase + 4 * kDay},
      {"ShowTimes=1\n", "\\example.org", 0},
      {"ShowTimes=1\n", "\\example.org\\www.example.org", 0},
      {"ShowTimes=1\n", "\\(Reread)", 0},
      // Listed history counts.
      {"ShowTimes=1\nShowHistory=1\n", "\\example.com", kBase + 8 * kDay},
      {"ShowTimes=1\nShowHistory=1\n", "\\example.com\\www.example.com", kBase + 8 * kDay},
  };
  for (const Case& c : cases) {
    WriteIni(std::string("Language=English\n") + c.settings);
    Load();
    EXPECT_EQ(EveryItem()[c.path], (Times{c.newest, 0, 0})) << c.settings << c.path;
  }
}

TEST_F(PanelTimes, WithoutShowTimesEveryTimeIsZero) {
  for (const char* settings : {"", "ShowTimes=0\n", "ShowTimes=256\n"}) {
    WriteIni(std::string("Language=English\nShowHistory=1\n") + settings);
    Load();
    std::map<std::string, Times> all = EveryItem();
    ASSERT_TRUE(all.contains(kOld)) << settings;
    for (const auto& [path, times] : all) EXPECT_EQ(times, Times{}) << settings << path;
  }
}

TEST_F(PanelTimes, ShowHistoryListsTheHistoryEntries) {
  struct Case {
    const char* settings;
    bool history;
    bool cookie;
  };
  const Case cases[] = {
      {"", false, true},
      {"ShowHistory=0\n", false, true},
      {"ShowHistory=1\n", true, true},
      {"ShowHistory=1\nShowCookies=0\n", true, false},
      {"ShowHistory=0\nShowCookies=0\n", false, false},
  };
  for (const Case& c : cases) {
    WriteIni(std::string("Language=English\n") + c.settings);
    Load();
    std::map<std::string, Times> host = Listed("\\example.com\\www.example.com");
    EXPECT_TRUE(host.contains(kOld)) << c.settings;
    EXPECT_EQ(host.contains(kHistory), c.history) << c.settings;
    EXPECT_EQ(host.contains(kCookie), c.cookie) << c.settings;
  }
}
