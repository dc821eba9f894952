// The URL cache store, urlcache.txt, and its record of deletions, as any
// program (or a damaged disk) may leave them. Input: a byte that picks the
// enumeration pattern, a byte whose low six bits pick the entry to delete and
// whose high two bits pick the record (none; the bytes after the store's
// first NUL as they are; or those bytes after a header that matches the
// store), then the store.
//
// The enumeration hands out, in the size protocol, exactly the entries a
// plain reading of the line format finds, less those a matching record takes
// (each whole line the first entry left with that URL), each record's
// strings inside the buffer it was given. Deleting an entry's URL takes the
// first entry left with it: the store file keeps its bytes or loses exactly
// the lines of the entries taken, and no file outside the cache folder, no
// file of the system folder itself and no store is deleted.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Ascii.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzRecords.h"
#include "fuzz/FuzzSystem.h"
#include "base/KeyedHash.h"
#include "platform/posix/stores/deletionrecord.h"
#include "platform/win32api.h"

using namespace trovex;

namespace {

struct Entry {
  DWORD type = 0;
  std::string url;
  std::optional<std::string> file;
  size_t lineStart = 0, lineEnd = 0;  // the line in the file, with its '\n'

  bool operator==(const Entry& other) const {
    return type == other.type && url == other.url && file == other.file;
  }
};

// ---- The line format, read plainly --------------------------------------

std::optional<DWORD> ReadType(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty() || text.size() > 8 ||
      text.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
    return std::nullopt;
  return static_cast<DWORD>(std::stoul(std::string(text), nullptr, 16));
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (size_t tab; (tab = line.find('\t')) != std::string_view::npos; line.remove_prefix(tab + 1))
    fields.push_back(line.substr(0, tab));
  fields.push_back(line);
  return fields;
}

std::optional<Entry> ReadLine(std::string_view line, const std::string& folder) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty() || line[0] == '#' || line.find('\0') != std::string_view::npos) return std::nullopt;
  std::vector<std::string_view> fields = Fields(line);
  if (fields.size() != 3 || fields[1].empty()) return std::nullopt;
  std::optional<DWORD> type = ReadType(fields[0]);
  if (!type) return std::nullopt;
  Entry entry;
  entry.type = *type;
  entry.url = fields[1];
  if (!fields[2].empty())
    entry.file = fields[2][0] == '/' ? std::string(fields[2]) : folder + "/" + std::string(fields[2]);
  return entry;
}

std::vector<Entry> ReadEntries(std::string_view text, const std::string& folder) {
  std::vector<Entry> entries;
  for (size_t start = 0; start < text.size();) {
    size_t newline = text.find('\n', start);
    size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    std::string_view line = text.substr(start, (newline == std::string_view::npos ? end : newline) - start);
    if (std::optional<Entry> entry = ReadLine(line, folder)) {
      entry->lineStart = start;
      entry->lineEnd = end;
      entries.push_back(std::move(*entry));
    }
    start = end;
  }
  return entries;
}

// ---- The enumeration -------------------------------------------------------

Entry FromRecord(const std::vector<char>& buffer) {
  auto* record = reinterpret_cast<const INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  FUZZ_CHECK(record->dwStructSize == sizeof *record);
  Entry entry;
  entry.type = record->CacheEntryType;
  entry.url = StringIn(buffer, record->lpszSourceUrlName);
  if (record->lpszLocalFileName != nullptr) entry.file = StringIn(buffer, record->lpszLocalFileName);
  return entry;
}

std::vector<Entry> Enumerate(const char* pattern) {
  std::vector<Entry> entries;
  ForEachEnumeratedRecord(pattern, [&](const std::vector<char>& buffer) { entries.push_back(FromRecord(buffer)); });
  return entries;
}

// Takes from `entries` what each whole line of a record body takes.
void ApplyRecordBody(std::string_view body, std::vector<Entry>& entries) {
  ForEachRecordedUrl(body, 0, [&](std::string_view url) {
    for (auto at = entries.begin(); at != entries.end(); ++at) {
      if (at->url != url) continue;
      entries.erase(at);
      break;
    }
  });
}

// The text without the lines of `gone`.
std::string Without(const std::string& text, const std::vector<Entry>& all, const std::vector<Entry>& left) {
  std::string kept;
  size_t from = 0, next = 0;
  for (const Entry& entry : all) {
    bool stays = next < left.size() && left[next].lineStart == entry.lineStart;
    if (stays) {
      ++next;
      continue;
    }
    kept.append(text, from, entry.lineStart - from);
    from = entry.lineEnd;
  }
  return kept.append(text, from);
}

const char* Pattern(uint8_t choice) {
  switch (choice % 4) {
    case 0: return nullptr;
    case 1: return "*";
    case 2: return "cookie:";
    default: return "HTTP://";
  }
}

// The system folder, with links that lead out of it.
struct World {
  World() { folder.AddWaysOut(); }
  FuzzSystemFolder folder;
};

const FuzzSystemFolder& Folder() {
  static World world;
  return world.folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const char* pattern = Pattern(input.Byte());
  uint8_t choice = input.Byte();
  size_t victim = choice & 63;
  int recordKind = choice >> 6;
  std::string text(recordKind == 0 ? input.Rest() : input.Part('\0'));
  std::string body(input.Rest());
  const FuzzSystemFolder& folder = Folder();
  folder.Put("urlcache.txt", text);
  std::string record = recordKind >= 2 ? HeaderLine({0x5eed, ContentHash(text, 0x5eed)}) + body : body;
  folder.Put("urlcache.txt.deleted", recordKind == 0 ? "" : record);
  folder.Put("a", "local file");
  folder.Put("d/b", "local file");
  DeletionGuard guard(folder);

  std::vector<Entry> all = ReadEntries(text, folder.Path());
  std::vector<Entry> expected = all;
  if (recordKind >= 2) ApplyRecordBody(body, expected);
  std::vector<Entry> selected;
  for (const Entry& entry : expected)
    if (pattern == nullptr || std::strcmp(pattern, "*") == 0 || StartsWithNoCase(entry.url, pattern))
      selected.push_back(entry);
  FUZZ_CHECK(Enumerate(pattern) == selected);
  if (expected.empty()) return 0;

  const Entry& doomed = expected[victim % expected.size()];
  size_t first = 0;
  while (expected[first].url != doomed.url) ++first;
  std::optional<std::string> file = expected[first].file;
  FUZZ_CHECK(DeleteUrlCacheEntryA(doomed.url.c_str()));
  expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(first));
  std::string after = folder.Read("urlcache.txt");
  FUZZ_CHECK(after == text || after == Without(text, all, expected));
  if (file == folder.File("d/b")) FUZZ_CHECK(!folder.Exists("d/b"));
  FUZZ_CHECK(folder.Exists("a") && folder.Exists("out-file") && folder.Exists("out/keep"));
  FUZZ_CHECK(Enumerate(nullptr) == expected);
  return 0;
}
