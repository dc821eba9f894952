#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32api.h"
#include "tests/support/StartingGate.h"
#include "tests/support/SystemFolder.h"

using namespace trovex;

namespace {

struct Seen {
  DWORD type;
  std::string url;
  std::optional<std::string> localFile;
};

std::vector<char> Buffer(DWORD size) {
  return std::vector<char>(size);
}

INTERNET_CACHE_ENTRY_INFOA* AsRecord(std::vector<char>& buffer) {
  return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
}

Seen ToSeen(const INTERNET_CACHE_ENTRY_INFOA* record) {
  std::optional<std::string> local;
  if (record->lpszLocalFileName != nullptr) local = record->lpszLocalFileName;
  return {record->CacheEntryType, record->lpszSourceUrlName, local};
}

// Reads one entry the way a caller must: ask the size, then fetch.
bool Next(HANDLE handle, std::vector<Seen>& seen) {
  DWORD size = 0;
  if (FindNextUrlCacheEntryA(handle, nullptr, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return false;
  std::vector<char> buffer = Buffer(size);
  if (!FindNextUrlCacheEntryA(handle, AsRecord(buffer), &size)) return false;
  seen.push_back(ToSeen(AsRecord(buffer)));
  return true;
}

std::vector<Seen> EnumerateAll(const char* pattern = nullptr) {
  std::vector<Seen> seen;
  DWORD size = 0;
  if (FindFirstUrlCacheEntryA(pattern, nullptr, &size) != nullptr) return {};
  std::vector<char> buffer = Buffer(size);
  HANDLE handle = FindFirstUrlCacheEntryA(pattern, AsRecord(buffer), &size);
  if (handle == nullptr) return {};
  seen.push_back(ToSeen(AsRecord(buffer)));
  while (Next(handle, seen)) {
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(FindCloseUrlCache(handle));
  return seen;
}

// Every URL of the cache, read into one buffer of 4 KB.
std::vector<std::string> UrlsInOneBuffer() {
  std::vector<std::string> urls;
  std::vector<char> buffer = Buffer(4096);
  DWORD size = 4096;
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, AsRecord(buffer), &size);
  if (handle == nullptr) return urls;
  do {
    urls.emplace_back(AsRecord(buffer)->lpszSourceUrlName);
    size = 4096;
  } while (FindNextUrlCacheEntryA(handle, AsRecord(buffer), &size));
  FindCloseUrlCache(handle);
  return urls;
}

std::vector<std::string> Urls(const std::vector<Seen>& seen) {
  std::vector<std::string> urls;
  for (const Seen& each : seen) urls.push_back(each.url);
  return urls;
}

class UrlCache : public ::testing::Test {
 protected:
  TempSystemFolder folder;
};

TEST_F(UrlCache, SizeQueryReportsRecordAndStringsWithoutAdvancing) {
  folder.Write("urlcache.txt", "0x00000001\thttp://a.example/\tdata/a.bin\n0x1\thttp://b.example/\t\n");
  std::string local = folder.File("data/a.bin");
  DWORD expected = sizeof(INTERNET_CACHE_ENTRY_INFOA) + sizeof "http://a.example/" + local.size() + 1;

  DWORD size = 0;
  EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, nullptr, &size), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, expected);

  std::vector<char> buffer = Buffer(size);
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, AsRecord(buffer), &size);
  ASSERT_NE(handle, nullptr);
  const INTERNET_CACHE_ENTRY_INFOA* record = AsRecord(buffer);
  EXPECT_EQ(record->dwStructSize, sizeof(INTERNET_CACHE_ENTRY_INFOA));
  EXPECT_STREQ(record->lpszSourceUrlName, "http://a.example/");
  EXPECT_EQ(record->lpszLocalFileName, record->lpszSourceUrlName + sizeof "http://a.example/");
  EXPECT_EQ(record->lpszLocalFileName, local);

  // A too small buffer leaves the position where it was.
  DWORD small = sizeof(INTERNET_CACHE_ENTRY_INFOA);
  EXPECT_FALSE(FindNextUrlCacheEntryA(handle, AsRecord(buffer), &small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<Seen> seen;
  ASSERT_TRUE(Next(handle, seen));
  EXPECT_EQ(seen[0].url, "http://b.example/");
  EXPECT_FALSE(Next(handle, seen));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(FindCloseUrlCache(handle));
  EXPECT_FALSE(FindCloseUrlCache(handle));
}

TEST_F(UrlCache, EmptyOrMissingCacheGivesNoHandle) {
  for (const char* contents : {static_cast<const char*>(nullptr), "", "# only a comment\n\n"}) {
    if (contents != nullptr) folder.Write("urlcache.txt", contents);
    DWORD size = 0;
    EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, nullptr, &size), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  }
}

TEST_F(UrlCache, LocalFilesAreAbsoluteOrAbsent) {
  folder.Write("urlcache.txt",
               "1\thttp://rel/\tcache/x.gif\r\n"
               "1\thttp://abs/\t/var/tmp/y.htm\r\n"
               "1\thttp://none/\t\r\n");
  std::vector<Seen> seen = EnumerateAll();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].localFile, folder.File("cache/x.gif"));
  EXPECT_EQ(seen[1].localFile, "/var/tmp/y.htm");
  EXPECT_EQ(seen[2].localFile, std::nullopt);
}

TEST_F(UrlCache, MalformedLinesAreSkipped) {
  folder.Write("urlcache.txt",
               "0x00100000\tCookie:user@good.example/\t\n"
               "no tabs at all\n"
               "1\tonly-one-tab\n"
               "zz\thttp://bad-type/\t\n"
               "0x123456789\thttp://type-too-long/\t\n"
               "1\t\tempty-url\n"
               "1\thttp://extra/\ta\tb\n"
               "# 1\thttp://commented/\t\n"
               "\n"
               "0x00200001\thttp://last.example/\tf\n");
  std::vector<Seen> seen = EnumerateAll();
  ASSERT_EQ(Urls(seen), (std::vector<std::string>{"Cookie:user@good.example/", "http://last.example/"}));
  EXPECT_EQ(seen[0].type, COOKIE_CACHE_ENTRY);
  EXPECT_EQ(seen[1].type, URLHISTORY_CACHE_ENTRY | NORMAL_CACHE_ENTRY);
}

// A store of lines of every length, well formed or not, spread over many
// reads: a line, its separators and its end fall anywhere in a read and in
// the sixteen bytes looked at together. What is enumerated must be what a
// plain split of the text into lines and fields finds.
struct StoreLines {
  std::string text;
  std::vector<Seen> expected;
};

bool ValidType(std::string_view type, DWORD& value) {
  if (type.size() > 2 && type[0] == '0' && (type[1] == 'x' || type[1] == 'X')) type.remove_prefix(2);
  if (type.empty() || type.size() > 8) return false;
  if (type.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) return false;
  value = static_cast<DWORD>(std::stoul(std::string(type), nullptr, 16));
  return true;
}

// The entry a line is, split the plain way; nullopt for none.
std::optional<Seen> LineEntry(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line[0] == '#' || line.find('\0') != std::string_view::npos) return std::nullopt;
  size_t tab1 = line.find('\t');
  size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
  if (tab2 == std::string_view::npos || tab2 == tab1 + 1) return std::nullopt;
  if (line.find('\t', tab2 + 1) != std::string_view::npos) return std::nullopt;
  DWORD type = 0;
  if (!ValidType(line.substr(0, tab1), type)) return std::nullopt;
  std::string_view file = line.substr(tab2 + 1);
  std::optional<std::string> local;
  if (!file.empty()) local = std::string(file);
  return Seen{type, std::string(line.substr(tab1 + 1, tab2 - tab1 - 1)), local};
}

StoreLines MixedStore(unsigned seed) {
  std::mt19937 random(seed);
  auto pick = [&random](size_t n) { return static_cast<size_t>(random() % n); };
  auto filler = [&](size_t length) {
    std::string bytes;
    for (size_t i = 0; i < length; ++i) bytes += static_cast<char>('a' + pick(26));
    return bytes;
  };
  const char* types[] = {"1", "0x00100000", "0X2", "00000001", "0x123456789", "zz", "0x", "123456789"};
  StoreLines store;
  while (store.text.size() < 3 * 1024 * 1024) {
    // Mostly short lines, some around a read's size.
    size_t length = pick(50) == 0 ? 200000 + pick(200000) : pick(400);
    std::string url = "http://h" + std::to_string(pick(90)) + ".example/" + filler(length);
    std::string file = pick(3) == 0 ? "" : "/cache/" + filler(pick(40));
    std::string line = std::string(types[pick(std::size(types))]) + "\t" + url + "\t" + file;
    switch (pick(12)) {
      case 0: line[pick(line.size())] = '\0'; break;
      case 1: line.insert(pick(line.size()), "\t"); break;
      case 2: line = "# " + line; break;
      case 3: line.clear(); break;
      case 4: line += "\r"; break;
      default: break;
    }
    store.text += line + "\n";
  }
  store.text += "1\thttp://last.example/no-newline\t/cache/x";
  for (size_t start = 0; start < store.text.size();) {
    size_t end = std::min(store.text.find('\n', start), store.text.size());
    if (std::optional<Seen> entry = LineEntry(std::string_view(store.text).substr(start, end - start))) {
      store.expected.push_back(*entry);
    }
    start = end + 1;
  }
  return store;
}

TEST_F(UrlCache, LongStoresReadInPiecesGiveEveryLineAsAPlainSplitDoes) {
  for (unsigned seed : {1u, 2u, 3u}) {
    StoreLines store = MixedStore(seed);
    folder.Write("urlcache.txt", store.text);
    std::vector<Seen> seen = EnumerateAll();
    ASSERT_EQ(seen.size(), store.expected.size()) << "seed " << seed;
    for (size_t i = 0; i < seen.size(); ++i) {
      ASSERT_EQ(seen[i].url, store.expected[i].url) << "seed " << seed << ", entry " << i;
      EXPECT_EQ(seen[i].type, store.expected[i].type) << "seed " << seed << ", entry " << i;
      EXPECT_EQ(seen[i].localFile, store.expected[i].localFile) << "seed " << seed << ", entry " << i;
    }
  }
}

TEST_F(UrlCache, PatternSelectsUrlsByPrefix) {
  folder.Write("urlcache.txt", "1\thttp://a/\t\n0x100000\tCookie:u@a/\t\n1\thttp://b/\t\n");
  EXPECT_EQ(Urls(EnumerateAll("cookie:")), std::vector<std::string>{"Cookie:u@a/"});
  EXPECT_EQ(EnumerateAll("*").size(), 3u);
}

TEST_F(UrlCache, HandleEnumeratesTheCacheAsItWasWhenOpened) {
  folder.Write("urlcache.txt", "1\thttp://one/\t\n1\thttp://two/\t\n1\thttp://three/\t\n");
  DWORD size = 4096;
  std::vector<char> buffer = Buffer(size);
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, AsRecord(buffer), &size);
  ASSERT_NE(handle, nullptr);

  ASSERT_TRUE(DeleteUrlCacheEntryA("http://two/"));
  ASSERT_TRUE(DeleteUrlCacheEntryA("http://three/"));
  std::vector<Seen> seen;
  while (Next(handle, seen)) {
  }
  EXPECT_EQ(Urls(seen), (std::vector<std::string>{"http://two/", "http://three/"}));
  EXPECT_TRUE(FindCloseUrlCache(handle));
  EXPECT_EQ(Urls(EnumerateAll()), std::vector<std::string>{"http://one/"});
}

TEST_F(UrlCache, DeleteRemovesFirstMatchAndKeepsOtherLinesByteForByte) {
  std::filesystem::create_directory(folder.File("data"));
  folder.Write("data/x.bin", "x");
  std::string before =
      "# cache\r\n"
      "1\thttp://x/\tdata/x.bin\r\n"
      "garbage line\n"
      "1\thttp://x/\tdata/second.bin\n"
      "1\thttp://y/\t\n";
  folder.Write("urlcache.txt", before);

  ASSERT_TRUE(DeleteUrlCacheEntryA("http://x/"));
  EXPECT_EQ(folder.Read("urlcache.txt"),
            "# cache\r\ngarbage line\n1\thttp://x/\tdata/second.bin\n1\thttp://y/\t\n");
  EXPECT_FALSE(std::filesystem::exists(folder.File("data/x.bin")));

  EXPECT_FALSE(DeleteUrlCacheEntryA("http://X/"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(UrlCache, DeleteNeverRemovesAFileOutsideTheSystemFolder) {
  TempSystemFolder outside;  // a second temporary folder, not the system folder
  std::filesystem::path outsideFile = outside.File("keep.txt");
  TempSystemFolder::WriteBytes(outsideFile, "precious");
  setenv("TROVEX_SYSTEM", folder.Path().c_str(), 1);
  std::filesystem::create_directory(folder.File("data"));
  std::filesystem::create_symlink(outsideFile, folder.File("data/link.bin"));
  std::filesystem::create_directory_symlink(outside.Path(), folder.File("linked-dir"));
  std::string upward = "data/../../" + std::filesystem::path(outside.Path()).filename().string() + "/keep.txt";
  folder.Write("urlcache.txt", "1\thttp://dots/\t" + upward + "\n1\thttp://link/\tdata/link.bin\n" +
                                   "1\thttp://dir/\tlinked-dir/keep.txt\n1\thttp://abs/\t" +
                                   outsideFile.string() + "\n");

  for (const char* url : {"http://dots/", "http://link/", "http://dir/", "http://abs/"}) {
    EXPECT_TRUE(DeleteUrlCacheEntryA(url)) << url;
    EXPECT_TRUE(std::filesystem::exists(outsideFile)) << url;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(folder.File("data/link.bin")));
  EXPECT_EQ(folder.Read("urlcache.txt"), "");
}

// A folder beside the system folder whose name begins with the system
// folder's, and the stores themselves, reached by a link or by name.
TEST_F(UrlCache, DeleteNeverRemovesANeighbourWithTheSameNamePrefixOrAStore) {
  std::string sibling = folder.Path() + "-sibling";
  std::filesystem::create_directory(sibling);
  TempSystemFolder::WriteBytes(sibling + "/keep.txt", "precious");
  std::string name = std::filesystem::path(folder.Path()).filename().string();
  std::filesystem::create_symlink(folder.File("registry.reg"), folder.File("to-store"));
  folder.Write("registry.reg", "Windows Registry Editor Version 5.00\n");
  folder.Write("urlcache.txt", "1\thttp://sibling/\t../" + name + "-sibling/keep.txt\n" +
                                   "1\thttp://link/\tto-store\n1\thttp://store/\t./urlcache.txt\n" +
                                   "1\thttp://lock/\turlcache.txt.lock\n1\thttp://self/\t.\n" +
                                   "1\thttp://last/\t\n");

  for (const char* url : {"http://sibling/", "http://link/", "http://store/", "http://lock/", "http://self/"})
    EXPECT_TRUE(DeleteUrlCacheEntryA(url)) << url;
  EXPECT_TRUE(std::filesystem::exists(sibling + "/keep.txt"));
  EXPECT_EQ(folder.Read("registry.reg"), "Windows Registry Editor Version 5.00\n");
  EXPECT_EQ(folder.Read("urlcache.txt"), "1\thttp://last/\t\n");
  EXPECT_TRUE(std::filesystem::exists(folder.File("urlcache.txt.lock")));
  std::filesystem::remove_all(sibling);
}

size_t CountOf(const std::vector<std::string>& urls, const std::string& url) {
  return static_cast<size_t>(std::count(urls.begin(), urls.end(), url));
}

// In a store of some size, deletions go to the record beside it, which every
// reader applies, until the record would outgrow a sixteenth of the store and
// is folded into it.
TEST_F(UrlCache, DeletionsGoToARecordThatReadersApplyAndThatIsFolded) {
  std::string text = "# kept\n";
  for (int i = 0; i < 200; ++i) text += "1\thttp://e" + std::to_string(i) + "/\t\n";
  text += "1\thttp://dup/\tfirst\n1\thttp://dup/\tsecond\n1\thttp://dup/\tthird\n";
  folder.Write("urlcache.txt", text);
  for (const char* url : {"http://dup/", "http://e7/", "http://dup/"}) ASSERT_TRUE(DeleteUrlCacheEntryA(url)) << url;
  EXPECT_EQ(folder.Read("urlcache.txt"), text);
  EXPECT_EQ(folder.RecordedUrls(), (std::vector<std::string>{"http://dup/", "http://e7/", "http://dup/"}));
  std::vector<Seen> seen = EnumerateAll();
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_EQ(CountOf(Urls(seen), "http://e7/"), 0u);
  EXPECT_EQ(seen.back().localFile, folder.File("third"));

  // A last line that a killed writer left torn is no deletion, and the next
  // deletion takes its place.
  TempSystemFolder::WriteBytes(folder.File("urlcache.txt.deleted"), folder.Read("urlcache.txt.deleted") + "http://e8");
  EXPECT_EQ(CountOf(Urls(EnumerateAll()), "http://e8/"), 1u);
  ASSERT_TRUE(DeleteUrlCacheEntryA("http://e9/"));
  EXPECT_EQ(folder.RecordedUrls(), (std::vector<std::string>{"http://dup/", "http://e7/", "http://dup/", "http://e9/"}));
  EXPECT_EQ(EnumerateAll().size(), 199u);

  // A record left beside another store deletes nothing there.
  folder.Write("urlcache.txt", text + "1\thttp://new/\t\n");
  EXPECT_EQ(EnumerateAll().size(), 204u);
  ASSERT_TRUE(DeleteUrlCacheEntryA("http://dup/"));
  EXPECT_EQ(folder.RecordedUrls(), std::vector<std::string>{"http://dup/"});
  EXPECT_EQ(CountOf(Urls(EnumerateAll()), "http://dup/"), 2u);

  // Enough deletions fold the record into the store, its other lines kept.
  for (int i = 0; i < 150; ++i) ASSERT_TRUE(DeleteUrlCacheEntryA(("http://e" + std::to_string(i) + "/").c_str())) << i;
  std::string store = folder.Read("urlcache.txt");
  EXPECT_TRUE(store.starts_with("# kept\n"));
  EXPECT_LT(store.size(), text.size() / 2);
  EXPECT_EQ(folder.UrlsAsStored(), Urls(EnumerateAll()));
  EXPECT_EQ(EnumerateAll().size(), 53u);
  EXPECT_FALSE(DeleteUrlCacheEntryA("http://e0/"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Readers pass over entries by the length of their URL before they compare
// them with the record; lengths from a few kilobytes on count as one.
TEST_F(UrlCache, TheRecordTakesEntriesOfEveryUrlLength) {
  std::string text;
  std::vector<std::string> urls;
  for (size_t length : {4095u, 4096u, 4097u, 9000u}) {
    for (char c : {'a', 'b'}) urls.push_back("http://long/" + std::string(length - 12, c));
  }
  for (int i = 0; i < 40000; ++i) text += "1\thttp://e" + std::to_string(i) + "/\t\n";
  for (const std::string& url : urls) text += "1\t" + url + "\t\n";
  folder.Write("urlcache.txt", text);
  for (size_t i = 0; i < urls.size(); i += 2) ASSERT_TRUE(DeleteUrlCacheEntryA(urls[i].c_str())) << urls[i].size();
  EXPECT_EQ(folder.Read("urlcache.txt"), text);
  std::vector<std::string> left = Urls(EnumerateAll());
  ASSERT_EQ(left.size(), 40000u + urls.size() / 2);
  for (size_t i = 0; i < urls.size(); ++i) EXPECT_EQ(CountOf(left, urls[i]), i % 2) << urls[i].size();
}

void WriteCacheFolderValue(const TempSystemFolder& folder, const std::string& value) {
  folder.Write("registry.reg",
               "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\n"
               "\"Cache\"=\"" + value + "\"\n");
}

// Which local files go with their entries: only those inside the cache
// folder that the registry names, or inside the system folder's subfolders
// when it names none; never the system folder's own files.
TEST_F(UrlCache, DeleteRemovesLocalFilesOnlyInsideTheCacheFolder) {
  struct Row {
    const char* cacheValue;  // "@" stands for the system folder; nullptr: no value
    const char* localFile;   // relative to the system folder
    bool removed;
  };
  const Row rows[] = {
      {"@/cache", "cache/in.bin", true},
      {"@/cache/", "cache/sub/in.bin", true},
      {"@/cache", "browser.sh", false},
      {"@/cache", "other/x.bin", false},
      {"@/cache", "cache/../browser.sh", false},
      {"@/cache", "cache/../other/x.bin", false},
      {"@", "browser.sh", false},
      {"@", "cache/in.bin", true},
      {"cache", "cache/in.bin", false},  // a relative folder names none
      {nullptr, "browser.sh", false},
      {nullptr, "cache/in.bin", true},
      {nullptr, "other/x.bin", true},
  };
  for (const Row& row : rows) {
    std::filesystem::remove(folder.File("registry.reg"));
    if (row.cacheValue != nullptr) {
      std::string value = row.cacheValue;
      if (value[0] == '@') value = folder.Path() + value.substr(1);
      WriteCacheFolderValue(folder, value);
    }
    for (const char* file : {"browser.sh", "cache/in.bin", "cache/sub/in.bin", "other/x.bin"}) {
      std::filesystem::create_directories(std::filesystem::path(folder.File(file)).parent_path());
      folder.Write(file, "data");
    }
    folder.Write("urlcache.txt", std::string("1\thttp://a/\t") + row.localFile + "\n1\thttp://abs/\t" +
                                     folder.File(row.localFile) + "\n");
    std::string where = std::string(row.cacheValue ? row.cacheValue : "(none)") + " " + row.localFile;
    EXPECT_TRUE(DeleteUrlCacheEntryA("http://a/")) << where;
    EXPECT_EQ(std::filesystem::exists(folder.File(row.localFile)), !row.removed) << where;
    folder.Write(row.localFile, "data");
    EXPECT_TRUE(DeleteUrlCacheEntryA("http://abs/")) << where << " (absolute)";
    EXPECT_EQ(std::filesystem::exists(folder.File(row.localFile)), !row.removed) << where << " (absolute)";
  }
}

// A folder on the way to the local file is swapped again and again with a
// link to a folder outside while entries are deleted: the file outside stays.
TEST_F(UrlCache, DeleteNeverFollowsAFolderSwappedForALink) {
  TempSystemFolder outside;
  setenv("TROVEX_SYSTEM", folder.Path().c_str(), 1);
  TempSystemFolder::WriteBytes(outside.File("victim"), "precious");
  std::filesystem::create_directories(folder.File("cache/sub"));
  std::filesystem::create_directory_symlink(outside.Path(), folder.File("cache/swap"));
  int inside = open(folder.File("cache/sub").c_str(), O_PATH | O_DIRECTORY);  // wherever it moves
  ASSERT_GE(inside, 0);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) renameat2(AT_FDCWD, folder.File("cache/sub").c_str(), AT_FDCWD, folder.File("cache/swap").c_str(),
                            RENAME_EXCHANGE);
  });
  const int kTries = 300;
  int removedInside = 0;
  for (int i = 0; i < kTries && std::filesystem::exists(outside.File("victim")); ++i) {
    close(openat(inside, "victim", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    folder.Write("urlcache.txt", "1\thttp://race/\tcache/sub/victim\n");
    EXPECT_TRUE(DeleteUrlCacheEntryA("http://race/"));
    removedInside += faccessat(inside, "victim", F_OK, 0) != 0 ? 1 : 0;
  }
  stop = true;
  swapper.join();
  close(inside);
  EXPECT_EQ(TempSystemFolder::ReadBytes(outside.File("victim")), "precious");
  EXPECT_GT(removedInside, 0) << "the race never let a deletion through";
}

// True when every entry of `seen` is one of `all`, in the same order.
bool IsInOrderPartOf(const std::vector<std::string>& seen, const std::vector<std::string>& all) {
  size_t at = 0;
  for (const std::string& url : seen) {
    while (at < all.size() && all[at] != url) ++at;
    if (at++ == all.size()) return false;
  }
  return true;
}

TEST_F(UrlCache, ConcurrentDeletesFromSeveralProcessesLoseNone) {
  const int kDeleters = 4, kPerDeleter = 25;
  std::vector<std::string> all, stays;
  std::string text;
  for (int i = 0; i < kDeleters * kPerDeleter + 10; ++i) {
    all.push_back("http://e" + std::to_string(i) + "/");
    if (i >= kDeleters * kPerDeleter) stays.push_back(all.back());
    text += "1\t" + all.back() + "\t\n";
  }
  folder.Write("urlcache.txt", text);

  StartingGate gate;
  std::vector<pid_t> deleters;
  for (int d = 0; d < kDeleters; ++d) {
    deleters.push_back(gate.Start([&, d] {
      bool ok = true;
      for (int i = d; i < kDeleters * kPerDeleter; i += kDeleters) ok = DeleteUrlCacheEntryA(all[i].c_str()) && ok;
      return ok;
    }));
  }
  // Reads while they delete: every snapshot is whole lines of the original,
  // in order, the entries that stay among them. The buffer fits any entry,
  // so that no size query can be outdated by a deletion before the call
  // that follows it.
  pid_t reader = gate.Start([&] {
    for (int read = 0; read < 200; ++read) {
      std::vector<std::string> seen = UrlsInOneBuffer();
      if (!IsInOrderPartOf(seen, all) || !IsInOrderPartOf(stays, seen)) return false;
    }
    return true;
  });
  gate.Open();

  for (pid_t deleter : deleters) EXPECT_TRUE(Succeeded(deleter)) << "a deletion failed";
  EXPECT_TRUE(Succeeded(reader)) << "a reader saw a broken cache";
  EXPECT_EQ(Urls(EnumerateAll()), stays);
  EXPECT_EQ(folder.UrlsAsStored(), stays) << "the store and its record of deletions disagree";
}

bool SameStatus(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// A store written again at the same size within one tick of its file
// system's clock keeps its status. A write through a mapping, which leaves
// the times as they are while the page stays writable, stands in for it
// here: an enumeration, and then the deleter, must see the new bytes.
TEST_F(UrlCache, ARewriteThatKeepsTheStoresStatusIsSeen) {
  const std::string first = "1\thttp://aa/\t\n1\thttp://cc/\t\n", second = "1\thttp://bb/\t\n1\thttp://cc/\t\n";
  folder.Write("urlcache.txt", first);
  int fd = open(folder.File("urlcache.txt").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  void* map = mmap(nullptr, first.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED);
  auto rewrite = [&](const std::string& text) { std::memcpy(map, text.data(), text.size()); };
  struct stat written {}, now {};
  rewrite(first);  // makes the page writable: the writes after it move no time
  ASSERT_EQ(fstat(fd, &written), 0);

  // An open enumeration keeps the parse of the store alive.
  std::vector<char> buffer = Buffer(4096);
  DWORD size = 4096;
  HANDLE held = FindFirstUrlCacheEntryA(nullptr, AsRecord(buffer), &size);
  ASSERT_NE(held, nullptr);
  EXPECT_STREQ(AsRecord(buffer)->lpszSourceUrlName, "http://aa/");
  rewrite(second);
  ASSERT_EQ(fstat(fd, &now), 0);
  if (!SameStatus(written, now)) GTEST_SKIP() << "a write through a mapping moved the store's times here";
  EXPECT_EQ(Urls(EnumerateAll()), (std::vector<std::string>{"http://bb/", "http://cc/"}));
  EXPECT_TRUE(FindCloseUrlCache(held));

  rewrite(first);
  EXPECT_FALSE(DeleteUrlCacheEntryA("http://none/"));  // the deleter has read the store
  rewrite(second);
  ASSERT_EQ(fstat(fd, &now), 0);
  ASSERT_TRUE(SameStatus(written, now));
  EXPECT_TRUE(DeleteUrlCacheEntryA("http://bb/")) << GetLastError();
  EXPECT_FALSE(DeleteUrlCacheEntryA("http://aa/"));
  munmap(map, first.size());
  close(fd);
  EXPECT_EQ(Urls(EnumerateAll()), std::vector<std::string>{"http://cc/"});
}

TEST_F(UrlCache, BadArgumentsFailCleanly) {
  folder.Write("urlcache.txt", "1\thttp://a/\t\n");
  DWORD size = 0;
  EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, nullptr, nullptr), nullptr);
  EXPECT_FALSE(FindNextUrlCacheEntryA(reinterpret_cast<HANDLE>(&size), nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(DeleteUrlCacheEntryA(nullptr));
}

}  // namespace
