// Fills and lists the URL cache of a Windows system through wininet itself,
// for the end-to-end run of the plug-in under Wine.
//
//   seedcache seed MANIFEST   one entry per line: TYPE <tab> URL <tab> DATAFILE
//                             TYPE: normal, sticky, cookie or history;
//                             DATAFILE: the entry's bytes, or "-" for none
//   seedcache list            one line per entry: TYPE-HEX <tab> URL <tab> LOCALFILE
//   seedcache delete URL...   deletes each entry through DeleteUrlCacheEntryA
//   seedcache bulk N PREFIX   commits N normal entries without files, URLs
//                             PREFIX0, PREFIX1, ... (for measurements)
//
// Exit status 0 when every entry was stored or listed; otherwise 1, with the
// entry and the system's error code on stderr.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct SeedLine {
  DWORD Type = 0;
  std::string Url;
  std::string DataFile;
};

std::optional<DWORD> EntryType(const std::string& name) {
  if (name == "normal") return NORMAL_CACHE_ENTRY;
  if (name == "sticky") return NORMAL_CACHE_ENTRY | STICKY_CACHE_ENTRY;
  if (name == "cookie") return COOKIE_CACHE_ENTRY;
  if (name == "history") return URLHISTORY_CACHE_ENTRY;
  return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

// Reports what went wrong with the system's reason; always false.
bool Fail(const std::string& what) {
  std::fprintf(stderr, "seedcache: %s (error %lu)\n", what.c_str(), GetLastError());
  return false;
}

std::optional<SeedLine> ParseLine(const std::string& line) {
  std::istringstream fields(line);
  std::string type;
  SeedLine seed;
  if (!std::getline(fields, type, '\t') || !std::getline(fields, seed.Url, '\t') ||
      !std::getline(fields, seed.DataFile)) {
    return std::nullopt;
  }
  std::optional<DWORD> bits = EntryType(type);
  if (!bits || seed.Url.empty()) return std::nullopt;
  seed.Type = *bits;
  return seed;
}

// Creates the entry's local file in the cache, writes the bytes into it and
// commits it; an entry without data is committed without a file.
bool StoreEntry(const SeedLine& seed) {
  FILETIME never{};
  if (seed.DataFile == "-") {
    if (CommitUrlCacheEntryA(seed.Url.c_str(), nullptr, never, never, seed.Type, nullptr, 0,
                             nullptr, nullptr)) {
      return true;
    }
    return Fail("cannot commit " + seed.Url);
  }
  std::optional<std::string> bytes = ReadWholeFile(seed.DataFile);
  if (!bytes) return Fail("cannot read " + seed.DataFile);
  char localFile[MAX_PATH] = {};
  if (!CreateUrlCacheEntryA(seed.Url.c_str(), static_cast<DWORD>(bytes->size()), "", localFile, 0)) {
    return Fail("cannot create " + seed.Url);
  }
  if (!WriteWholeFile(localFile, *bytes)) return Fail(std::string("cannot write ") + localFile);
  if (!CommitUrlCacheEntryA(seed.Url.c_str(), localFile, never, never, seed.Type, nullptr, 0,
                            nullptr, nullptr)) {
    return Fail("cannot commit " + seed.Url);
  }
  return true;
}

int Seed(const std::string& manifestPath) {
  std::optional<std::string> manifest = ReadWholeFile(manifestPath);
  if (!manifest) {
    Fail("cannot read " + manifestPath);
    return 1;
  }
  std::istringstream lines(*manifest);
  std::string line;
  int stored = 0;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::optional<SeedLine> seed = ParseLine(line);
    if (!seed) {
      std::fprintf(stderr, "seedcache: not TYPE<tab>URL<tab>DATAFILE: %s\n", line.c_str());
      return 1;
    }
    if (!StoreEntry(*seed)) return 1;
    ++stored;
  }
  std::printf("stored %d entries\n", stored);
  return 0;
}

// An enumeration handle, closed when it goes out of scope.
class CacheEnumeration {
 public:
  CacheEnumeration() = default;
  ~CacheEnumeration() {
    if (handle_ != nullptr) FindCloseUrlCache(handle_);
  }
  CacheEnumeration(const CacheEnumeration&) = delete;
  CacheEnumeration& operator=(const CacheEnumeration&) = delete;

  // The next record, or none at the end; the buffer grows to the size the
  // cache asks for through ERROR_INSUFFICIENT_BUFFER.
  const INTERNET_CACHE_ENTRY_INFOA* Next() {
    for (;;) {
      DWORD size = static_cast<DWORD>(buffer_.size());
      auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer_.data());
      bool ok = false;
      if (handle_ == nullptr) {
        handle_ = FindFirstUrlCacheEntryA(nullptr, record, &size);
        ok = handle_ != nullptr;
      } else {
        ok = FindNextUrlCacheEntryA(handle_, record, &size) != FALSE;
      }
      if (ok) return record;
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return nullptr;
      buffer_.resize(size);
    }
  }

 private:
  HANDLE handle_ = nullptr;
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(4096);
};

int List() {
  CacheEnumeration entries;
  while (const INTERNET_CACHE_ENTRY_INFOA* record = entries.Next()) {
    std::printf("%08lx\t%s\t%s\n", record->CacheEntryType, record->lpszSourceUrlName,
                record->lpszLocalFileName != nullptr ? record->lpszLocalFileName : "");
  }
  if (GetLastError() == ERROR_NO_MORE_ITEMS) return 0;
  Fail("the enumeration ended early");
  return 1;
}

int Delete(const std::vector<std::string>& urls) {
  for (const std::string& url : urls) {
    if (!DeleteUrlCacheEntryA(url.c_str())) {
      Fail("cannot delete " + url);
      return 1;
    }
  }
  return 0;
}

int Bulk(const std::string& count, const std::string& prefix) {
  unsigned long entries = std::strtoul(count.c_str(), nullptr, 10);
  FILETIME never{};
  for (unsigned long i = 0; i < entries; ++i) {
    std::string url = prefix + std::to_string(i);
    if (!CommitUrlCacheEntryA(url.c_str(), nullptr, never, never, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr,
                              nullptr)) {
      Fail("cannot commit " + url);
      return 1;
    }
  }
  std::printf("stored %lu entries\n", entries);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "seed") return Seed(args[1]);
  if (args.size() == 1 && args[0] == "list") return List();
  if (args.size() >= 2 && args[0] == "delete") return Delete({args.begin() + 1, args.end()});
  if (args.size() == 3 && args[0] == "bulk") return Bulk(args[1], args[2]);
  std::fprintf(stderr, "usage: seedcache seed MANIFEST | list | delete URL... | bulk N PREFIX\n");
  return 2;
}
