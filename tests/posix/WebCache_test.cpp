// The WebCache store of the Linux URL cache, through the Win32 calls, on a
// real WebCacheV01.dat of Windows 10 (too large and under a licence of its
// own, so read where it lies; the tests that need it are skipped without
// it). The expected values are what Debian's libesedb-utils prints for the
// same file:
//
//   esedbexport -t /tmp/out WebCacheV01.dat
//
// one tab-separated file per table (out.export/Container_N.*), rows in the
// table's key order.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/ByteView.h"
#include "formats/ese/Database.h"
#include "platform/posix/stores/webcache.h"
#include "platform/system.h"
#include "platform/win32api.h"
#include "tests/support/EnumeratedUrls.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFolder.h"

using namespace trovex;

namespace fs = std::filesystem;

namespace {

constexpr char kSample[] = TROVEX_WEBCACHE_SAMPLE;
constexpr char kLayout[] = "Users/John/AppData/Local/Microsoft/Windows/WebCache";
constexpr uint32_t kPageSize = 32768;

// One enumerated entry, its record copied out.
struct Listed {
  std::string url, file, headers;
  INTERNET_CACHE_ENTRY_INFOA record{};
};

std::vector<Listed> Enumerate() {
  std::vector<Listed> listed;
  std::vector<char> buffer(1 << 16);
  auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  DWORD size = static_cast<DWORD>(buffer.size());
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, record, &size);
  if (handle == nullptr) return listed;
  do {
    Listed& entry = listed.emplace_back();
    entry.record = *record;
    entry.url = record->lpszSourceUrlName;
    if (record->lpszLocalFileName != nullptr) entry.file = record->lpszLocalFileName;
    if (record->lpHeaderInfo != nullptr) entry.headers.assign(record->lpHeaderInfo, record->dwHeaderInfoSize);
    size = static_cast<DWORD>(buffer.size());
  } while (FindNextUrlCacheEntryA(handle, record, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  FindCloseUrlCache(handle);
  return listed;
}

// A FILETIME as esedbexport prints it: "Feb 24, 2023 13:32:16.895728600".
std::string Printed(const FILETIME& time) {
  using namespace std::chrono;
  uint64_t ticks = uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
  sys_seconds epoch = sys_days(year{1601} / January / 1);
  sys_seconds at = epoch + seconds(ticks / 10000000);
  sys_days day = floor<days>(at);
  year_month_day date(day);
  hh_mm_ss<seconds> clock(at - day);
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s %02u, %d %02ld:%02ld:%02ld.%07llu00", kMonths[unsigned(date.month()) - 1],
                unsigned(date.day()), int(date.year()), long(clock.hours().count()), long(clock.minutes().count()),
                long(clock.seconds().count()), static_cast<unsigned long long>(ticks % 10000000));
  return text;
}

class WebCacheSample : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSample)) GTEST_SKIP() << "no sample database at " << kSample;
    fs::create_directories(Folder());
  }
  void TearDown() override {
    unsetenv("TROVEX_CACHE");
    unsetenv("TROVEX_INETCACHE");
  }

  // The database's folder as a disk copy lays it out.
  std::string Folder() const { return temp_ / kLayout; }
  std::string AppData() const { return temp_ / "Users/John/AppData"; }
  std::string Database() const { return Folder() + "/" + kWebCacheName; }

  void LinkSample() { fs::create_symlink(kSample, Database()); }

  // The options that name the caches to trovex.
  virtual std::vector<std::string> CacheOptions() const { return {"--cache", Folder()}; }

  // Runs trovex on the sample, in a system folder of the test's.
  Result Trovex(const std::vector<std::string>& arguments) {
    fs::create_directories(temp_.path() / "system");
    fs::create_directories(temp_.path() / "run");
    std::vector<std::string> all = {"--plugin", TROVEX_PLUGIN_PATH, "--system", temp_ / "system"};
    for (const std::string& option : CacheOptions()) all.push_back(option);
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProgram(TROVEX_EXE, all, temp_ / "run");
  }

  // After LayOutINetCache: get copies the content entry's file, and not the
  // Low entry's, whose file is a link out.
  void ExpectTheFileCopiedAndTheLinkNot() {
    Result copied =
        Trovex({"get", "windows.com/maps.windows.com/https://maps.windows.com/windows-app-web-link", temp_ / "copies"});
    EXPECT_EQ(copied.Status, 0) << copied.Err;
    EXPECT_EQ(ReadFile(temp_ / "copies/https%3A%2F%2Fmaps.windows.com%2Fwindows-app-web-link"), "{\"app\":1}");
    Result linked = Trovex(
        {"get", "btloader.com/btloader.com/https://btloader.com/tag?o=6208086025961472&upapi=true", temp_ / "linked"});
    EXPECT_EQ(linked.Status, 1) << linked.Err;
    EXPECT_FALSE(fs::exists(temp_ / "linked/https%3A%2F%2Fbtloader.com%2Ftag%3Fo%3D6208086025961472%26upapi%3Dtrue"));
  }

  // An INetCache folder of our own making: the first content entry's file,
  // and the Low entry's file as a link out to a file of the test's.
  void LayOutINetCache(const std::string& inetCache) {
    fs::create_directories(inetCache + "/IE/USS0JDTC");
    fs::create_directories(inetCache + "/Low/IE/K5GEJ1O4");
    WriteFile(inetCache + "/IE/USS0JDTC/windows-app-web-link[1].json", "{\"app\":1}");
    WriteFile(temp_ / "secret", "not the cache's");
    fs::create_symlink(temp_ / "secret", inetCache + "/Low/IE/K5GEJ1O4/tag[1].js");
  }
  void CopySample() { fs::copy_file(kSample, Database()); }
  void Name(const std::string& sources) { setenv("TROVEX_CACHE", sources.c_str(), 1); }

  TempFolder temp_;
};

struct ContainerCase {
  uint64_t Id;
  size_t Count;
  const char* First;
  const char* Last;
};

// Container_N's rows, in the Containers table's order; ids 19, 23 and 24
// have no table.
const ContainerCase kContainers[] = {
    {1, 22, "https://maps.windows.com/windows-app-web-link",
     "https://logincdn.msauth.net/shared/1.0/content/js/oneDs_641b1cf809bdc17b42ab.js"},
    {2, 20,
     "Visited: John@https://www.bing.com/search?q=download+archlinux+iso&src=IE-SearchBox&FORM=IESR4A&pc=EUPP_",
     "Visited: John@https://login.live.com/oauth20_desktop.srf?lc=1043"},
    {3, 0, nullptr, nullptr},
    {4, 0, nullptr, nullptr},
    {5, 0, nullptr, nullptr},
    {6, 0, nullptr, nullptr},
    {7, 15, "https://th.bing.com/th?id=OHR.RichmondParkDuck_ROW0196597210_1920x1080.jpg&w=392&h=221&c=1&rs=1&p=0",
     "https://fp-vs-nocache.azureedge.net/apc/trans.gif?972eb167be907c7bef6357c80b04fbd6"},
    {8, 1, "DOMStore:https://www.bing.com/", "DOMStore:https://www.bing.com/"},
    {15, 18, ":2023022420230225: John@https://github.com/fox-it/dissect", ":2023022420230225: John@:Host: www.msn.com"},
    {16, 4, ":BackgroundTransferApi:87E89635-3E6A-40A5-9412-82A747AE48EES",
     ":BackgroundTransferApi:949c6d3f-4ca4-45b9-bf86-a73c71fa17b4C"},
    {17, 1, "iecompat:|initialized", "iecompat:|initialized"},
    {18, 17, "iecompatua:F12 Internet Explorer 7", "iecompatua:F12 Bing Bot"},
    {20, 21, "Visited: John@https://www.bing.com/orgid/idtoken/conditional",
     "Visited: John@https://www.microsoft.com/nl-nl/edge/?form=MA13DL&OCID=MA13DL"},
    {21, 339, "https://btloader.com/tag?o=6208086025961472&upapi=true",
     "https://stackpath.bootstrapcdn.com/font-awesome/4.7.0/css/font-awesome.min.css"},
    {22, 1, "DOMStore:https://www.msn.com/", "DOMStore:https://www.msn.com/"},
    {25, 1, "iedownload:{247CB5D6-B448-11ED-B458-000C293AD312}", "iedownload:{247CB5D6-B448-11ED-B458-000C293AD312}"},
};
constexpr size_t kEntries = 460;

TEST_F(WebCacheSample, EveryContainerComesInTableOrderWithTheOraclesRows) {
  LinkSample();
  Name(Folder());
  std::vector<std::string> urls = EnumeratedUrls();
  ASSERT_EQ(urls.size(), kEntries);
  size_t at = 0;
  for (const ContainerCase& c : kContainers) {
    if (c.Count > 0) {
      EXPECT_EQ(urls[at], c.First) << "Container_" << c.Id;
      EXPECT_EQ(urls[at + c.Count - 1], c.Last) << "Container_" << c.Id;
    }
    at += c.Count;
  }
  CacheSources sources = DescribeCacheSources();
  EXPECT_EQ(sources.InUse, std::vector<std::string>{Folder()});
  EXPECT_TRUE(sources.Partial.empty()) << sources.Partial[0];
}

struct FieldCase {
  size_t Index;  // in the enumeration
  const char* Url;
  const char* File;  // below AppData; "" for none
  DWORD Type, Hits, Size, HeaderSize;
  const char* HeaderStart;
  const char* Modified;
  const char* Expires;
  const char* Accessed;
  const char* Synced;
};

TEST_F(WebCacheSample, FieldsAreTheOraclesAndFilesLieBelowTheProfile) {
  LinkSample();
  Name(Folder());
  const std::vector<FieldCase> cases = {
      {0, "https://maps.windows.com/windows-app-web-link",
       "Local/Microsoft/Windows/INetCache/IE/USS0JDTC/windows-app-web-link[1].json", 0x41, 1, 98, 231,
       "HTTP/1.1 200 \r\n", "Jan 01, 1601 00:00:00.000000000", "Jan 01, 1601 00:00:00.000000000",
       "Feb 24, 2023 13:32:16.895728600", "Feb 24, 2023 13:32:16.895728600"},
      {22, kContainers[1].First, "", 0x200001, 7, 0, 563, "O\x01\0\0", "Feb 24, 2023 13:35:06.652723700",
       "Mar 22, 2023 13:27:57.156517100", "Feb 24, 2023 13:35:06.668202000", "Feb 24, 2023 13:35:06.668202000"},
      {119, kContainers[13].First, "Local/Microsoft/Windows/INetCache/Low/IE/K5GEJ1O4/tag[1].js", 0x141, 1, 13972,
       510, "HTTP/1.1 200 \r\n", "Feb 24, 2023 13:17:59.000000000", "Feb 24, 2023 12:34:21.116804400",
       "Feb 24, 2023 13:34:21.116804400", "Feb 24, 2023 13:34:21.116804400"},
      {458, kContainers[14].First, "LocalLow/Microsoft/Internet Explorer/DOMStore/WZIE7QPY/www.msn[1].xml", 1, 1, 13,
       0, "", "Jan 01, 1601 00:00:00.000000000", "Jan 01, 1601 00:00:00.000000000",
       "Feb 24, 2023 13:34:17.516722200", "Feb 24, 2023 13:34:17.516722200"},
  };
  std::vector<Listed> listed = Enumerate();
  ASSERT_EQ(listed.size(), kEntries);
  for (const FieldCase& c : cases) {
    const Listed& entry = listed[c.Index];
    SCOPED_TRACE(c.Url);
    EXPECT_EQ(entry.url, c.Url);
    EXPECT_EQ(entry.file, *c.File ? AppData() + "/" + c.File : "");
    EXPECT_EQ(entry.record.CacheEntryType, c.Type);
    EXPECT_EQ(entry.record.dwHitRate, c.Hits);
    EXPECT_EQ(entry.record.dwSizeLow, c.Size);
    EXPECT_EQ(entry.record.dwSizeHigh, 0u);
    EXPECT_EQ(entry.record.dwHeaderInfoSize, c.HeaderSize);
    EXPECT_EQ(entry.headers.substr(0, 4), std::string(c.HeaderStart, c.HeaderSize ? 4 : 0));
    EXPECT_EQ(Printed(entry.record.LastModifiedTime), c.Modified);
    EXPECT_EQ(Printed(entry.record.ExpireTime), c.Expires);
    EXPECT_EQ(Printed(entry.record.LastAccessTime), c.Accessed);
    EXPECT_EQ(Printed(entry.record.LastSyncTime), c.Synced);
  }
  for (const Listed& entry : listed) {
    if (!entry.file.empty()) {
      EXPECT_EQ(entry.file.rfind(AppData() + "/", 0), 0u) << entry.file;
    }
  }
}

TEST_F(WebCacheSample, TheDatabaseFileNamedStandsForItsFolder) {
  LinkSample();
  Name(Database());
  EXPECT_EQ(EnumeratedUrls().size(), kEntries);
  EXPECT_EQ(DescribeCacheSources().InUse, std::vector<std::string>{Folder()});
}

TEST_F(WebCacheSample, AKeptReadingGivesWayToADatabaseReplaced) {
  LinkSample();
  Name(Folder());
  EXPECT_EQ(EnumeratedUrls().size(), kEntries);
  EXPECT_EQ(EnumeratedUrls().size(), kEntries);
  // The sample cut down to its Containers table and Container_1.
  fs::remove(Database());
  fs::create_symlink(TROVEX_WEBCACHE_CUT, Database());
  std::vector<std::string> urls = EnumeratedUrls();
  ASSERT_EQ(urls.size(), kContainers[0].Count);
  EXPECT_EQ(urls.front(), kContainers[0].First);
  EXPECT_EQ(urls.back(), kContainers[0].Last);
}

// The pgno of the page holding `offset`, after its checksums are made to
// hold again: the XOR half of its 8 KiB block's and of block 0's, which
// covers the others'.
void ResealLargePage(std::string& image, uint64_t offset) {
  uint64_t page = offset / kPageSize * kPageSize;
  uint32_t pgno = static_cast<uint32_t>(page / kPageSize - 1);
  auto xorOf = [&](uint64_t from, uint64_t to) {
    uint32_t sum = pgno;
    for (uint64_t i = from; i < to; i += 4) sum ^= ByteView(image).U32(i);
    return sum;
  };
  constexpr uint64_t kBlock = kPageSize / 4;
  uint64_t block = (offset - page) / kBlock;
  if (block > 0) {
    uint32_t sum = xorOf(page + block * kBlock, page + (block + 1) * kBlock);
    for (int i = 0; i < 4; ++i) image[page + 40 + 8 * (block - 1) + i] = static_cast<char>(sum >> (8 * i));
  }
  uint32_t sum = xorOf(page + 8, page + kBlock);
  for (int i = 0; i < 4; ++i) image[page + i] = static_cast<char>(sum >> (8 * i));
}

std::string Utf16(std::string_view text) {
  std::string bytes;
  for (char c : text) bytes += {c, '\0'};
  return bytes;
}

// Puts `hostile`, padded with 'x' to its length, in the place of a stored
// file name.
void ReplaceName(std::string& image, std::string_view name, std::string hostile) {
  ASSERT_LE(hostile.size(), name.size());
  hostile.resize(name.size(), 'x');
  size_t at = image.find(Utf16(name));
  ASSERT_NE(at, std::string::npos) << name;
  image.replace(at, name.size() * 2, Utf16(hostile));
  ResealLargePage(image, at);
}

TEST_F(WebCacheSample, HostileFileNamesGiveNoLocalFile) {
  std::string image = ReadFile(kSample);
  ReplaceName(image, "windows-app-web-link[1].json", "..\\..\\..\\..\\etc\\passwd");
  ReplaceName(image, "font-awesome.min[1].css", "/etc/passwd");
  WriteFile(Database(), image);
  Name(Folder());
  std::vector<Listed> listed = Enumerate();
  ASSERT_EQ(listed.size(), kEntries);
  EXPECT_EQ(listed[0].url, kContainers[0].First);
  EXPECT_EQ(listed[0].file, "");
  EXPECT_EQ(listed[kEntries - 3].url, kContainers[13].Last);
  EXPECT_EQ(listed[kEntries - 3].file, "");
  EXPECT_NE(listed[1].file, "");
  CacheSources sources = DescribeCacheSources();
  ASSERT_EQ(sources.Partial.size(), 1u);
  EXPECT_EQ(sources.Partial[0], Database() + ": dropped 2 local files (2 unsafe name)");
}

TEST_F(WebCacheSample, DeletionIsRefusedAndChangesNothing) {
  CopySample();
  TempFolder other;
  fs::create_directories(other.path() / "Content.IE5");
  fs::copy_file(fs::path(TROVEX_INDEXDAT_SAMPLES) / "greendale/Content.IE5/index.dat",
                other.path() / "Content.IE5/index.dat");
  Name(Folder() + ":" + (other / "Content.IE5"));
  std::vector<std::string> before = EnumeratedUrls();
  ASSERT_GT(before.size(), kEntries);

  EXPECT_FALSE(DeleteUrlCacheEntryA(kContainers[0].First));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteUrlCacheEntryA("http://nowhere.example/"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A URL only the next store holds is deleted there.
  EXPECT_TRUE(DeleteUrlCacheEntryA(before[kEntries].c_str())) << before[kEntries];

  EXPECT_EQ(ReadFile(Database()), ReadFile(kSample));
  std::vector<std::string> after = EnumeratedUrls();
  ASSERT_EQ(after.size(), before.size() - 1);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + kEntries, after.begin()));
}

// The leaf pages of a table's data tree, by their page headers: its object
// id at 24, the leaf flag (0x2) and no space-tree (0x20), index (0x40) or
// long-value (0x80) flag at 36.
std::vector<uint64_t> LeafPagesOf(const std::string& image, const std::string& table) {
  std::string why;
  std::optional<ese::Database> database = ese::Database::Open(image, &why);
  std::vector<uint64_t> pages;
  if (!database || database->FindTable(table) == nullptr) return pages;
  uint32_t objid = database->FindTable(table)->objid;
  ByteView bytes(image);
  for (uint64_t at = 2 * kPageSize; at + kPageSize <= image.size(); at += kPageSize) {
    uint32_t flags = bytes.U32(at + 36);
    if (bytes.U32(at + 24) == objid && (flags & 0x2) != 0 && (flags & 0xe0) == 0) pages.push_back(at);
  }
  return pages;
}

TEST_F(WebCacheSample, DamagedPagesAreLeftOutAndSaidSo) {
  std::string image = ReadFile(kSample);
  std::vector<uint64_t> leaves = LeafPagesOf(image, "Container_21");
  ASSERT_GE(leaves.size(), 3u);
  image[leaves[1] + 100] ^= 0x40;  // a flipped bit, its checksum left as it was
  std::fill(image.begin() + static_cast<ptrdiff_t>(leaves[2]) + kPageSize / 2,
            image.begin() + static_cast<ptrdiff_t>(leaves[2]) + kPageSize, '\xff');  // a torn write
  WriteFile(Database(), image);
  Name(Folder());

  std::vector<std::string> urls = EnumeratedUrls();
  EXPECT_LT(urls.size(), kEntries);
  EXPECT_GT(urls.size(), kEntries - 339);
  EXPECT_EQ(urls.back(), kContainers[15].Last);  // the containers after it are whole
  CacheSources sources = DescribeCacheSources();
  ASSERT_EQ(sources.Partial.size(), 1u);
  EXPECT_EQ(sources.Partial[0], Database() + ": dropped 2 pages (2 bad checksum)");
}

// ---- Local files, by rule --------------------------------------------------

struct LocalFileCase {
  const char* What;
  const char* Folder;
  const char* Directory;
  const char* Secure;
  uint64_t Pick;
  const char* Name;
  LocalFileFate Fate;
  const char* Path;
};

TEST(WebCacheLocalFile, NamesFromTheDatabaseNeverLeaveTheirFolder) {
  const char* const kDisk = "/m/Users/J/AppData/Local/Microsoft/Windows/WebCache";
  const char* const kIe = "C:\\Users\\J\\AppData\\Local\\Microsoft\\Windows\\INetCache\\IE\\";
  const char* const kNames = "AAAAAAAABBBBBBBB";
  const std::vector<LocalFileCase> cases = {
      {"a disk copy", kDisk, kIe, kNames, 2, "a[1].js", LocalFileFate::kMapped,
       "/m/Users/J/AppData/Local/Microsoft/Windows/INetCache/IE/BBBBBBBB/a[1].js"},
      {"letter case of AppData", kDisk, "D:\\users\\j\\APPDATA\\LocalLow\\x\\", kNames, 1, "b", LocalFileFate::kMapped,
       "/m/Users/J/AppData/LocalLow/x/AAAAAAAA/b"},
      {"a folder copied alone", "/c/Windows/WebCache", kIe, kNames, 1, "a", LocalFileFate::kMapped,
       "/c/Windows/INetCache/IE/AAAAAAAA/a"},
      {"no file", kDisk, kIe, kNames, 0, "a", LocalFileFate::kNone, ""},
      {"no name", kDisk, kIe, kNames, 1, "", LocalFileFate::kNone, ""},
      {"a parent in the name", kDisk, kIe, kNames, 1, "..\\x", LocalFileFate::kUnsafe, ""},
      {"the parent as name", kDisk, kIe, kNames, 1, "..", LocalFileFate::kUnsafe, ""},
      {"an absolute name", kDisk, kIe, kNames, 1, "/etc/passwd", LocalFileFate::kUnsafe, ""},
      {"a drive in the name", kDisk, kIe, kNames, 1, "C:\\x", LocalFileFate::kUnsafe, ""},
      {"a control character", kDisk, kIe, kNames, 1, "a\x1b[2J", LocalFileFate::kUnsafe, ""},
      {"a pick past the names", kDisk, kIe, kNames, 3, "a", LocalFileFate::kUnsafe, ""},
      {"a secure name of dots", kDisk, kIe, "../../..", 1, "a", LocalFileFate::kUnsafe, ""},
      {"a short list of names", kDisk, kIe, "AAAA", 1, "a", LocalFileFate::kUnsafe, ""},
      {"a parent in the folder", kDisk, "C:\\Users\\J\\AppData\\..\\..\\x\\", kNames, 1, "a", LocalFileFate::kUnsafe,
       ""},
      {"a slash in the folder", kDisk, "C:\\Users\\J\\AppData\\a/../../b\\", kNames, 1, "a", LocalFileFate::kUnsafe,
       ""},
      {"a folder outside AppData", kDisk, "C:\\Windows\\Temp\\", kNames, 1, "a", LocalFileFate::kUnplaced, ""},
      {"alone, another folder", "/c/Windows/WebCache", "C:\\Temp\\", kNames, 1, "a", LocalFileFate::kUnplaced, ""},
  };
  for (const LocalFileCase& c : cases) {
    LocalFile file = WebCacheLocalFile({c.Folder, ""}, c.Directory, c.Secure, c.Pick, c.Name);
    EXPECT_EQ(file.fate, c.Fate) << c.What;
    EXPECT_EQ(file.path, c.Path) << c.What;
  }
}

struct NamedINetCacheCase {
  const char* What;
  const char* Directory;
  const char* Name;
  LocalFileFate Fate;
  const char* Path;
};

TEST(WebCacheLocalFile, ANamedINetCacheTakesWhatFollowsItsNameOnly) {
  const WebCachePlaces places{"/m/Users/J/AppData/Local/Microsoft/Windows/WebCache", "/evidence/inet"};
  const std::vector<NamedINetCacheCase> cases = {
      {"its IE folder", "C:\\Users\\J\\AppData\\Local\\Microsoft\\Windows\\INetCache\\IE\\", "a[1].js",
       LocalFileFate::kMapped, "/evidence/inet/IE/AAAAAAAA/a[1].js"},
      {"its Low folder, any case", "C:\\users\\j\\appdata\\local\\microsoft\\windows\\inetcache\\Low\\IE\\",
       "b", LocalFileFate::kMapped, "/evidence/inet/Low/IE/AAAAAAAA/b"},
      {"a folder beside it keeps its place", "C:\\Users\\J\\AppData\\LocalLow\\x\\", "c", LocalFileFate::kMapped,
       "/m/Users/J/AppData/LocalLow/x/AAAAAAAA/c"},
      {"a parent after it", "C:\\x\\INetCache\\..\\..\\etc\\", "d", LocalFileFate::kUnsafe, ""},
      {"a slash after it", "C:\\x\\INetCache\\IE/../..\\", "e", LocalFileFate::kUnsafe, ""},
      {"a parent as the name", "C:\\x\\INetCache\\IE\\", "..", LocalFileFate::kUnsafe, ""},
      {"the name alone is no folder", "C:\\x\\INetCacheIE\\", "f", LocalFileFate::kUnplaced, ""},
  };
  for (const NamedINetCacheCase& c : cases) {
    LocalFile file = WebCacheLocalFile(places, c.Directory, "AAAAAAAA", 1, c.Name);
    EXPECT_EQ(file.fate, c.Fate) << c.What;
    EXPECT_EQ(file.path, c.Path) << c.What;
  }
}

// ---- The program -------------------------------------------------------------

TEST_F(WebCacheSample, TheProgramListsTheSitesOfItsContentEntries) {
  LinkSample();
  fs::create_directories(temp_.path() / "system");
  std::string command = std::string(TROVEX_EXE) + " --plugin " + TROVEX_PLUGIN_PATH + " --system " +
                        (temp_ / "system") + " --cache " + Folder() + " ls >" + (temp_ / "out") + " 2>" +
                        (temp_ / "err") + " </dev/null";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(temp_ / "err");
  std::string out = ReadFile(temp_ / "out");
  EXPECT_NE(out.find("folder  0  bootstrapcdn.com\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Visited"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(temp_ / "err"), "");
}

// The files of a disk copy's layout lie below its AppData folder, above the
// database's own: a copy from there follows no link either.
TEST_F(WebCacheSample, TheProgramCopiesFromTheProfileAndFollowsNoLinkOut) {
  LinkSample();
  LayOutINetCache(AppData() + "/Local/Microsoft/Windows/INetCache");
  ExpectTheFileCopiedAndTheLinkNot();
}

// ---- A named INetCache ---------------------------------------------------------

// An INetCache folder of our own making, laid out apart from the profile.
class NamedINetCache : public WebCacheSample {
 protected:
  void SetUp() override {
    WebCacheSample::SetUp();
    if (IsSkipped()) return;
    LinkSample();
    LayOutINetCache(INetCache());
  }

  std::string INetCache() const { return temp_ / "elsewhere/INetCache"; }

  std::vector<std::string> CacheOptions() const override {
    return {"--cache", Folder(), "--inetcache", INetCache()};
  }
};

TEST_F(NamedINetCache, EntriesBelowItsNameAreLookedForInIt) {
  Name(Folder());
  setenv("TROVEX_INETCACHE", INetCache().c_str(), 1);
  std::vector<Listed> listed = Enumerate();
  ASSERT_EQ(listed.size(), kEntries);
  EXPECT_EQ(listed[0].file, INetCache() + "/IE/USS0JDTC/windows-app-web-link[1].json");
  EXPECT_EQ(listed[119].file, INetCache() + "/Low/IE/K5GEJ1O4/tag[1].js");
  // LocalLow lies beside the INetCache, not in it: its place stays the profile's.
  EXPECT_EQ(listed[458].file, AppData() + "/LocalLow/Microsoft/Internet Explorer/DOMStore/WZIE7QPY/www.msn[1].xml");
  unsetenv("TROVEX_INETCACHE");
  EXPECT_EQ(Enumerate()[0].file, AppData() + "/Local/Microsoft/Windows/INetCache/IE/USS0JDTC/windows-app-web-link[1].json");
}

TEST_F(NamedINetCache, TheProgramCopiesFromItAndFollowsNoLinkOut) {
  ExpectTheFileCopiedAndTheLinkNot();
  EXPECT_EQ(Trovex({"--inetcache", temp_ / "missing", "about"}).Status, 2);
}

}  // namespace
