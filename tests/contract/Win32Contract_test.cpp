// The contract of platform/win32api.h, checked the same way on both halves:
// built natively against our Linux layer, and with mingw-w64 against the
// system's own functions (run under Wine). A case where the halves are known
// to differ is marked with KnownDifference and its reason: it must fail on
// the half named, and is reported when it no longer does.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"
#include "platform/win32api.h"
#include "tests/contract/ContractSystem.h"

using namespace trovex;

namespace {

// Set in the environment of a copy of this program started by a test: the
// copy writes its arguments there and ends.
const char kRecordVariable[] = "TROVEX_CONTRACT_RECORD";

// Runs the checks; on `half` they are expected to fail, for the reason given.
template <typename Checks>
void KnownDifference(Half half, const char* reason, Checks checks) {
  if (ThisHalf() != half) {
    checks();
    return;
  }
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter capture(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    checks();
  }
  if (failures.size() == 0) {
    ADD_FAILURE() << "no longer differs on " << HalfName(half) << ": " << reason;
  } else {
    std::printf("known difference on %s: %s\n", HalfName(half), reason);
  }
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// ---- URL cache ------------------------------------------------------------

struct Entry {
  std::string url;
  DWORD type;
  std::optional<std::string> bytes;  // the local file's, when it has one
  bool operator<(const Entry& other) const { return url < other.url; }
  bool operator==(const Entry& other) const {
    return url == other.url && type == other.type && bytes == other.bytes;
  }
};

// The type bits both halves keep as they were stored.
const DWORD kTypeBits = NORMAL_CACHE_ENTRY | STICKY_CACHE_ENTRY | COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY;

INTERNET_CACHE_ENTRY_INFOA* AsRecord(std::vector<char>& buffer) {
  return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
}

Entry FromRecord(const INTERNET_CACHE_ENTRY_INFOA* record) {
  Entry entry{record->lpszSourceUrlName, record->CacheEntryType & kTypeBits, std::nullopt};
  if (record->lpszLocalFileName != nullptr && record->lpszLocalFileName[0] != '\0')
    entry.bytes = ReadBytes(record->lpszLocalFileName);
  return entry;
}

// The whole enumeration as a caller must do it: each record's size asked
// first, then fetched in a buffer of exactly that size.
std::vector<Entry> Enumerate(const char* pattern = nullptr) {
  std::vector<Entry> entries;
  DWORD size = 0;
  EXPECT_EQ(FindFirstUrlCacheEntryA(pattern, nullptr, &size), nullptr);
  if (GetLastError() == ERROR_NO_MORE_ITEMS) return entries;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<char> buffer(size);
  HANDLE handle = FindFirstUrlCacheEntryA(pattern, AsRecord(buffer), &size);
  if (handle == nullptr) {
    ADD_FAILURE() << "no handle with a buffer of the size asked for; error " << GetLastError();
    return entries;
  }
  for (;;) {
    entries.push_back(FromRecord(AsRecord(buffer)));
    size = 0;
    if (FindNextUrlCacheEntryA(handle, nullptr, &size)) break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    buffer.assign(size, '\0');
    if (!FindNextUrlCacheEntryA(handle, AsRecord(buffer), &size)) break;
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(FindCloseUrlCache(handle));
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::vector<std::string> Urls(const std::vector<Entry>& entries) {
  std::vector<std::string> urls;
  for (const Entry& entry : entries) urls.push_back(entry.url);
  return urls;
}

class UrlCache : public ::testing::Test {
 protected:
  ContractSystem system;
  const std::vector<Entry> seeds{
      {"http://www.example.com/a.gif", NORMAL_CACHE_ENTRY, std::string("GIF89a\0\r\n\x1a", 10)},
      {"http://static.example.org/s.css", NORMAL_CACHE_ENTRY | STICKY_CACHE_ENTRY, "body{}"},
      {"Cookie:user@www.example.com/", COOKIE_CACHE_ENTRY, "id\n42\n"},
      {"Visited: user@http://history.example.net/", URLHISTORY_CACHE_ENTRY, std::nullopt},
  };

  void Seed() {
    for (const Entry& entry : seeds) system.AddCacheEntry(entry.url, entry.type, entry.bytes);
  }
};

TEST_F(UrlCache, EmptyCacheGivesNoHandleAndNoMoreItems) {
  DWORD size = 0;
  EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, nullptr, &size), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  std::vector<char> buffer(4096);
  size = 4096;
  EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, AsRecord(buffer), &size), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(UrlCache, EnumerationGivesEveryRecordWithItsTypeAndFile) {
  Seed();
  std::vector<Entry> expected = seeds;
  std::sort(expected.begin(), expected.end());
  std::vector<Entry> seen = Enumerate();
  ASSERT_EQ(Urls(seen), Urls(expected));
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].type, expected[i].type) << seen[i].url;
    EXPECT_EQ(seen[i].bytes, expected[i].bytes) << seen[i].url;
  }
}

TEST_F(UrlCache, ShortBufferReportsTheSizeAndDoesNotAdvance) {
  const std::string url = "http://www.example.com/" + std::string(300, 'p');
  system.AddCacheEntry(url, NORMAL_CACHE_ENTRY, "x");
  system.AddCacheEntry("http://www.example.com/b", NORMAL_CACHE_ENTRY, "y");
  DWORD needed = 0;
  ASSERT_EQ(FindFirstUrlCacheEntryA(nullptr, nullptr, &needed), nullptr);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(needed, sizeof(INTERNET_CACHE_ENTRY_INFOA));

  // The size asked for is enough for the record and the strings it points
  // to, all inside the caller's buffer; one byte less is not.
  std::vector<char> buffer(needed);
  DWORD size = needed;
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, AsRecord(buffer), &size);
  ASSERT_NE(handle, nullptr) << GetLastError();
  const INTERNET_CACHE_ENTRY_INFOA* record = AsRecord(buffer);
  std::string first = record->lpszSourceUrlName;
  EXPECT_GE(record->lpszSourceUrlName, buffer.data());
  EXPECT_LE(record->lpszSourceUrlName + first.size() + 1, buffer.data() + buffer.size());

  std::vector<char> next(4096);
  size = 1;
  EXPECT_FALSE(FindNextUrlCacheEntryA(handle, AsRecord(next), &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  DWORD nextNeeded = size;
  size = nextNeeded - 1;
  EXPECT_FALSE(FindNextUrlCacheEntryA(handle, AsRecord(next), &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, nextNeeded);
  size = nextNeeded;
  ASSERT_TRUE(FindNextUrlCacheEntryA(handle, AsRecord(next), &size)) << GetLastError();
  std::set<std::string> both{first, AsRecord(next)->lpszSourceUrlName};
  EXPECT_EQ(both, (std::set<std::string>{url, "http://www.example.com/b"}));
  size = 4096;
  EXPECT_FALSE(FindNextUrlCacheEntryA(handle, AsRecord(next), &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(FindCloseUrlCache(handle));
}

TEST_F(UrlCache, DeletionTakesExactlyTheEntryNamed) {
  Seed();
  ASSERT_TRUE(DeleteUrlCacheEntryA("http://www.example.com/a.gif")) << GetLastError();
  ASSERT_TRUE(DeleteUrlCacheEntryA("Cookie:user@www.example.com/")) << GetLastError();
  EXPECT_EQ(Urls(Enumerate()),
            (std::vector<std::string>{"Visited: user@http://history.example.net/", "http://static.example.org/s.css"}));

  const char* absent[] = {"http://www.example.com/a.gif", "http://nowhere.example/", "http://static.example.org/",
                          "HTTP://STATIC.EXAMPLE.ORG/S.CSS"};
  for (const char* url : absent) {
    EXPECT_FALSE(DeleteUrlCacheEntryA(url)) << url;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << url;
  }
  EXPECT_EQ(Enumerate().size(), 2u);
}

TEST_F(UrlCache, AHandleEnumeratesTheCacheAsItWasWhenOpened) {
  Seed();
  std::vector<char> buffer(4096);
  DWORD size = 4096;
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, AsRecord(buffer), &size);
  ASSERT_NE(handle, nullptr) << GetLastError();
  std::set<std::string> seen{AsRecord(buffer)->lpszSourceUrlName};
  system.AddCacheEntry("http://late.example.com/", NORMAL_CACHE_ENTRY, "late");
  for (const Entry& entry : seeds) {
    if (seen.count(entry.url) == 0) {
      EXPECT_TRUE(DeleteUrlCacheEntryA(entry.url.c_str())) << entry.url;
    }
  }
  for (size = 4096; FindNextUrlCacheEntryA(handle, AsRecord(buffer), &size); size = 4096)
    seen.insert(AsRecord(buffer)->lpszSourceUrlName);
  EXPECT_TRUE(FindCloseUrlCache(handle));
  std::set<std::string> expected;
  for (const Entry& entry : seeds) expected.insert(entry.url);
  KnownDifference(Half::Windows,
                  "Wine reads its index as it is at each call, so entries deleted or added meanwhile show or not "
                  "by their place in it; ours keeps the store as it was when the handle was opened",
                  [&] { EXPECT_EQ(seen, expected); });
}

// A search pattern names the part of the cache to enumerate: every entry, or
// the cookies or the history, by the prefix their URLs share.
TEST_F(UrlCache, SearchPatternSelectsCookiesOrHistory) {
  Seed();
  struct Case {
    const char* pattern;
    std::vector<std::string> urls;
  } cases[] = {
      {nullptr, Urls(Enumerate())},
      {"Cookie:", {"Cookie:user@www.example.com/"}},
      {"Visited:", {"Visited: user@http://history.example.net/"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Urls(Enumerate(c.pattern)), c.urls) << (c.pattern ? c.pattern : "null");
}

TEST_F(UrlCache, SearchPatternIgnoresCase) {
  Seed();
  KnownDifference(Half::Windows,
                  "Wine compares the pattern with its containers' prefixes (Cookie:, Visited:) byte for byte; "
                  "Windows documents the lower-case forms, and our half ignores ASCII case",
                  [&] {
                    EXPECT_EQ(Urls(Enumerate("cookie:")), std::vector<std::string>{"Cookie:user@www.example.com/"});
                    EXPECT_EQ(Urls(Enumerate("visited:")),
                              std::vector<std::string>{"Visited: user@http://history.example.net/"});
                  });
}

TEST_F(UrlCache, StarPatternIsEveryEntry) {
  Seed();
  KnownDifference(Half::Windows,
                  "Wine takes a pattern only as the prefix of one of its containers, and no container is named *; "
                  "our half takes * as every entry",
                  [&] { EXPECT_EQ(Enumerate("*").size(), seeds.size()); });
}

// ---- Registry -------------------------------------------------------------

class Registry : public ::testing::Test {
 protected:
  ContractSystem system;

  HKEY Create(const std::string& subKey, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_WRITE | KEY_QUERY_VALUE, nullptr, &key, disposition);
    EXPECT_EQ(status, ERROR_SUCCESS) << subKey;
    return key;
  }
  void Set(HKEY key, const char* name, DWORD type, const std::string& data) {
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS)
        << (name ? name : "null");
  }
};

TEST_F(Registry, KeysAreCreatedOnceAndOpenedWithoutRegardToCase) {
  DWORD disposition = 0;
  HKEY key = Create(system.RegistryKey() + "\\Inner", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  key = Create(system.RegistryKey() + "\\Inner", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (system.RegistryKey() + "\\INNER").c_str(), 0, KEY_QUERY_VALUE, &opened),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (system.RegistryKey() + "\\Absent").c_str(), 0, KEY_QUERY_VALUE, &opened),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ValuesReportTypeAndSizeAndRefuseShortBuffers) {
  HKEY key = Create(system.RegistryKey());
  Set(key, "Version", REG_SZ, std::string("11.0\0", 5));
  Set(key, "Empty", REG_SZ, std::string("\0", 1));
  Set(key, "Path", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 10));
  Set(key, "Offline", REG_DWORD, std::string("\x01\0\0\0", 4));
  Set(key, "", REG_SZ, std::string("C:\\browser.exe\0", 15));

  struct Case {
    const char* name;
    LSTATUS status;
    DWORD type;
    std::string data;
  } cases[] = {
      {"Version", ERROR_SUCCESS, REG_SZ, std::string("11.0\0", 5)},
      {"VERSION", ERROR_SUCCESS, REG_SZ, std::string("11.0\0", 5)},
      {"Empty", ERROR_SUCCESS, REG_SZ, std::string("\0", 1)},
      {"Path", ERROR_SUCCESS, REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 10)},
      {"Offline", ERROR_SUCCESS, REG_DWORD, std::string("\x01\0\0\0", 4)},
      {"", ERROR_SUCCESS, REG_SZ, std::string("C:\\browser.exe\0", 15)},
      {nullptr, ERROR_SUCCESS, REG_SZ, std::string("C:\\browser.exe\0", 15)},
      {"Absent", ERROR_FILE_NOT_FOUND, 0, ""},
  };
  for (const Case& c : cases) {
    const char* name = c.name ? c.name : "null";
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, nullptr, &size), c.status) << name;
    if (c.status != ERROR_SUCCESS) continue;
    EXPECT_EQ(type, c.type) << name;
    EXPECT_EQ(size, c.data.size()) << name;
    std::string data(size, '?');
    if (size > 0) {
      DWORD shortSize = size - 1;
      EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &shortSize),
                ERROR_MORE_DATA)
          << name;
      EXPECT_EQ(shortSize, size) << name;
    }
    EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size),
              ERROR_SUCCESS)
        << name;
    EXPECT_EQ(data, c.data) << name;
  }
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// ---- Profiles (ini files) -------------------------------------------------

class Profile : public ::testing::Test {
 protected:
  ContractSystem system;
  std::string ini = system.File("Trovex.ini");

  // The value and the count returned, read with a buffer of `size` bytes.
  std::pair<std::string, DWORD> Read(const char* section, const char* key, const char* fallback, DWORD size) {
    std::vector<char> buffer(size + 1, '#');
    DWORD count = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, ini.c_str());
    EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
    return {std::string(buffer.data(), count), count};
  }
};

TEST_F(Profile, ValuesFallBackAndAreCutToTheBuffer) {
  WriteBytes(ini,
             "; settings\r\n"
             "[Options]\r\n"
             "Language = Deutsch \r\n"
             "ConfirmOpen=1\r\n"
             "ConfirmOpen=0\r\n"
             "Quoted=\"a b\"\r\n"
             "Blank=\r\n"
             "[1033]\r\n"
             "1=Open this address?\r\n");
  struct Case {
    const char* section;
    const char* key;
    const char* fallback;
    DWORD size;
    std::string value;
  } cases[] = {
      {"Options", "Language", "x", 64, "Deutsch"},
      {"OPTIONS", "language", "x", 64, "Deutsch"},
      {"Options", "ConfirmOpen", "x", 64, "1"},
      {"Options", "Quoted", "x", 64, "a b"},
      {"Options", "Blank", "x", 64, ""},
      {"Options", "Absent", "fallback", 64, "fallback"},
      {"Absent", "Language", "fallback", 64, "fallback"},
      {"1033", "1", "", 64, "Open this address?"},
      {"Options", "Language", "x", 4, "Deu"},
      {"Options", "Absent", "fallback", 4, "fal"},
      {"Options", "Language", "x", 1, ""},
  };
  for (const Case& c : cases) {
    std::pair<std::string, DWORD> read = Read(c.section, c.key, c.fallback, c.size);
    EXPECT_EQ(read.first, c.value) << c.section << "/" << c.key << " in " << c.size;
    EXPECT_EQ(read.second, c.value.size()) << c.section << "/" << c.key << " in " << c.size;
  }
}

// With no key, the names of a section's keys; with no section, the names of
// the sections: each followed by a NUL, the list by one more. A list that
// does not fit is cut and still ends in two NULs, and counts size - 2.
TEST_F(Profile, ListsKeysAndSections) {
  WriteBytes(ini, "[Options]\nLanguage=English\nShowCookies=1\n[1033]\n1=One\n");
  struct Case {
    const char* section;
    DWORD size;
    std::string list;
    DWORD count;
  } cases[] = {
      {"Options", 64, std::string("Language\0ShowCookies\0\0", 22), 21},
      {"options", 64, std::string("Language\0ShowCookies\0\0", 22), 21},
      {"1033", 64, std::string("1\0\0", 3), 2},
      {"Options", 12, std::string("Language\0S\0\0", 12), 10},
      {nullptr, 64, std::string("Options\0" "1033\0\0", 14), 13},
      {nullptr, 8, std::string("Option\0\0", 8), 6},
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(c.size, '#');
    DWORD count = GetPrivateProfileStringA(c.section, nullptr, "", buffer.data(), c.size, ini.c_str());
    const char* name = c.section ? c.section : "null";
    EXPECT_EQ(count, c.count) << name << " in " << c.size;
    EXPECT_EQ(std::string(buffer.data(), c.list.size() - 1), c.list.substr(0, c.list.size() - 1))
        << name << " in " << c.size;
    if (count + 2 != c.size) continue;
    KnownDifference(Half::Windows,
                    "a cut list: Wine leaves the buffer's last byte as it was, our half ends the list with a "
                    "second NUL there",
                    [&] { EXPECT_EQ(buffer[c.size - 1], '\0') << name << " in " << c.size; });
  }
}

// An empty section name finds the keys before the first section header, and
// never a section whose header has no name.
TEST_F(Profile, AnEmptySectionNameFindsOnlyTheKeysBeforeAnyHeader) {
  struct Case {
    const char* text;
    const char* section;
    const char* value;
  } cases[] = {
      {"[]\nKey=nameless\n[Options]\nKey=in Options\n", "", "fallback"},
      {"[]\nKey=nameless\n[Options]\nKey=in Options\n", "Options", "in Options"},
      {"[Options]\nA=1\n[]\nKey=nameless\n", "Options", "fallback"},
      {"[ ]\nKey=blank\n", " ", "fallback"},
      {"Key=before any section\n[Options]\nKey=in Options\n", "", "before any section"},
      {"Key=before any section\n[Options]\n", "Options", "fallback"},
  };
  for (const Case& c : cases) {
    WriteBytes(ini, c.text);
    EXPECT_EQ(Read(c.section, "Key", "fallback", 64).first, c.value) << "[" << c.section << "] in " << c.text;
  }
}

TEST_F(Profile, MissingFileGivesTheDefault) {
  ini = system.File("absent.ini");
  EXPECT_EQ(Read("Options", "Language", "English", 64).first, "English");
}

// ---- Files ----------------------------------------------------------------

class Files : public ::testing::Test {
 protected:
  ContractSystem system;

  // The names a search finds, sorted; "." and ".." left out.
  std::vector<std::string> Search(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA record{};
    HANDLE search = FindFirstFileA(pattern.c_str(), &record);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      std::string name = record.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &record));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES)) << pattern;
    EXPECT_TRUE(FindClose(search));
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(Files, SearchesMatchTheLastComponent) {
  WriteBytes(system.File("a.txt"), "12345");
  WriteBytes(system.File("b.txt"), "");
  WriteBytes(system.File("c.gif"), "GIF");
  std::filesystem::create_directory(system.File("sub"));
  struct Case {
    std::string pattern;
    std::vector<std::string> names;
  } cases[] = {
      {system.File("*"), {"a.txt", "b.txt", "c.gif", "sub"}},
      {system.File("*.txt"), {"a.txt", "b.txt"}},
      {system.File("?.gif"), {"c.gif"}},
      {system.File("a.txt"), {"a.txt"}},
      {system.File("sub"), {"sub"}},
      {system.File("*.htm"), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Search(c.pattern), c.names) << c.pattern;
}

TEST_F(Files, SearchGivesSizeAndKindAndFailsWhenNothingMatches) {
  WriteBytes(system.File("a.txt"), "12345");
  std::filesystem::create_directory(system.File("sub"));
  WIN32_FIND_DATAA record{};
  HANDLE search = FindFirstFileA(system.File("a.txt").c_str(), &record);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(record.nFileSizeLow, 5u);
  EXPECT_EQ(record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(FindNextFileA(search, &record));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(search));

  search = FindFirstFileA(system.File("sub").c_str(), &record);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_NE(record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_TRUE(FindClose(search));

  EXPECT_EQ(FindFirstFileA(system.File("absent.txt").c_str(), &record), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, CopyKeepsTheBytesAndAnExistingTargetWhenAsked) {
  const std::string bytes("GIF89a\0\r\n\x1a tail", 15);
  std::string source = system.File("source.bin"), target = system.File("target.bin");
  WriteBytes(source, bytes);
  WriteBytes(target, "old");

  EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadBytes(target), "old");

  EXPECT_FALSE(CopyFileA(system.File("absent.bin").c_str(), target.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ReadBytes(target), "old");

  EXPECT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << GetLastError();
  EXPECT_EQ(ReadBytes(target), bytes);
  std::string fresh = system.File("fresh.bin");
  EXPECT_TRUE(CopyFileA(source.c_str(), fresh.c_str(), TRUE)) << GetLastError();
  EXPECT_EQ(ReadBytes(fresh), bytes);
}

TEST(ModuleFile, NamesThisProgramAndIsCutToTheBuffer) {
  char path[4096] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(length, std::strlen(path));
  EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;

  // A path that does not fit fills the buffer and counts its whole size.
  char cut[8];
  std::memset(cut, '#', sizeof cut);
  EXPECT_EQ(GetModuleFileNameA(nullptr, cut, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(cut, 4), std::string(path, 4));
  EXPECT_EQ(cut[5], '#');
  KnownDifference(Half::Windows,
                  "Wine, like Windows XP, fills the buffer with the path's first bytes and no NUL; later Windows "
                  "and our half end the cut path with a NUL",
                  [&] { EXPECT_EQ(cut[4], '\0'); });
}

// ---- Shell ----------------------------------------------------------------

class Shell : public ::testing::Test {
 protected:
  ContractSystem system;
  std::string record = system.File("arguments.txt");

  // Starts this program as the plug-in starts the browser, with the argument
  // quoted for it, waits for it to end, and gives the arguments it received.
  std::optional<std::vector<std::string>> ArgumentsOf(const std::string& argument) {
    char self[4096] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string parameters = QuoteArgument(argument);
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = self;
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOW;
    std::filesystem::remove(record);
    // The environment keeps the very strings it is given.
    static std::string set, cleared = std::string(kRecordVariable) + "=";
    set = cleared + record;
    putenv(set.data());
    BOOL started = ShellExecuteExA(&info);
    putenv(cleared.data());
    EXPECT_TRUE(started) << GetLastError();
    if (!started || info.hProcess == nullptr) return std::nullopt;
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(info.hProcess));
    // The program wrote its arguments before it ended: the wait saw the end.
    if (!std::filesystem::exists(record)) return std::nullopt;
    std::vector<std::string> arguments;
    std::string lines = ReadBytes(record), line;
    for (char c : lines) {
      if (c != '\n') {
        line += c;
        continue;
      }
      arguments.push_back(line);
      line.clear();
    }
    return arguments;
  }
};

TEST_F(Shell, TheProgramReceivesTheQuotedArgumentAsItsOne) {
  const char* arguments[] = {
      "http://www.example.com/a.gif",
      "http://www.example.co.uk/with space/\"quoted\".htm",
      "http://www.example.co.uk/back\\\"slash\\",
      "Cookie:user@www.example.com/ & echo %PATH% $HOME 'x'",
  };
  for (const char* argument : arguments) {
    std::optional<std::vector<std::string>> received = ArgumentsOf(argument);
    ASSERT_TRUE(received.has_value()) << argument << ": the program did not record its arguments";
    EXPECT_EQ(*received, std::vector<std::string>{argument}) << argument;
  }
}

TEST_F(Shell, AnEmptyArgumentArrivesAsOneEmptyArgument) {
  KnownDifference(Half::Linux,
                  "the Linux layer hands lpParameters to the program as its one argument, unsplit, and an empty "
                  "one as none",
                  [&] {
                    std::optional<std::vector<std::string>> received = ArgumentsOf("");
                    ASSERT_TRUE(received.has_value());
                    EXPECT_EQ(*received, std::vector<std::string>{""});
                  });
}

TEST_F(Shell, AProgramThatIsNotThereIsNotStarted) {
  std::string absent = system.File("absent.exe");
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = absent.c_str();
  info.lpParameters = "x";
  info.nShow = SW_SHOW;
  EXPECT_FALSE(ShellExecuteExA(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(info.hProcess, nullptr);
}

// Started by a Shell test: writes each argument on a line of its own.
int RecordArguments(const char* path, int argc, char** argv) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (int i = 1; i < argc; ++i) out << argv[i] << '\n';
  return out ? 0 : 1;
}

}  // namespace

const char* HalfName(Half half) {
  return half == Half::Windows ? "Windows" : "Linux";
}

int main(int argc, char** argv) {
  const char* record = std::getenv(kRecordVariable);
  if (record != nullptr && record[0] != '\0') return RecordArguments(record, argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
