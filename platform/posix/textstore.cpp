// The text store: urlcache.txt in the system folder, one entry per line,
// TYPE<TAB>SOURCE_URL<TAB>LOCAL_FILE, in enumeration order. TYPE is the entry
// type in hexadecimal; LOCAL_FILE is empty, absolute, or relative to the
// system folder. Blank lines, '#' lines and malformed lines are not entries.
//
// A parsed file is shared: every enumeration opened on the same version of
// the file (same inode, size and times) reads one parsed copy, and keeps it
// alive as its snapshot however the file changes later. The copy lives only
// as long as an enumeration (or a size query waiting for the call that
// follows it) uses it: a caller that has read the cache into memory of its
// own must not pay for the store a second time.
#include "textstore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cachefiles.h"
#include "hextext.h"
#include "sysfolder.h"

namespace {

// One entry, as offsets into the text of its store. The local file name
// starts right after the URL and its tab.
struct Entry {
  size_t url = 0;
  uint32_t urlLength = 0;
  uint32_t fileLength = 0;
  uint32_t type = 0;
  bool relative = false;

  size_t File() const { return url + urlLength + 1; }
};

class Store final : public UrlSnapshot {
 public:
  std::string folder;  // the system folder, for relative local files
  std::string text;
  std::vector<Entry> entries;

  size_t Count() const override { return entries.size(); }
  std::string_view Url(size_t i) const override;
  size_t RecordSize(size_t i) const override;
  void WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* record) const override;
};

// What identifies one version of the store file.
struct Version {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const Version& other) const {
    return path == other.path && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

std::mutex sharedMutex;
Version sharedVersion;
std::weak_ptr<const Store> sharedStore;

Version VersionOf(const std::string& path, const struct stat& info) {
  Version version;
  version.path = path;
  version.device = info.st_dev;
  version.inode = info.st_ino;
  version.size = info.st_size;
  version.modified = info.st_mtim;
  version.changed = info.st_ctim;
  return version;
}

// "0x0010_0000"-style types are not accepted: one to eight hex digits,
// optionally after 0x.
std::optional<uint32_t> ParseType(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  return ParseHex(text, 8);
}

// Parses one line (without its '\n') that starts at `offset` in the store's
// text; false for blank, comment and malformed lines.
bool ParseLine(std::string_view line, size_t offset, Entry& entry) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line[0] == '#') return false;
  if (line.size() > std::numeric_limits<uint32_t>::max() / 4) return false;
  if (std::memchr(line.data(), '\0', line.size()) != nullptr) return false;
  size_t tab1 = line.find('\t');
  if (tab1 == std::string_view::npos) return false;
  size_t tab2 = line.find('\t', tab1 + 1);
  if (tab2 == std::string_view::npos || tab2 == tab1 + 1) return false;
  if (line.find('\t', tab2 + 1) != std::string_view::npos) return false;
  std::optional<uint32_t> type = ParseType(line.substr(0, tab1));
  if (!type) return false;
  entry.url = offset + tab1 + 1;
  entry.urlLength = static_cast<uint32_t>(tab2 - tab1 - 1);
  entry.fileLength = static_cast<uint32_t>(line.size() - tab2 - 1);
  entry.type = *type;
  entry.relative = entry.fileLength > 0 && line[tab2 + 1] != '/';
  return true;
}

// Calls visit(entry, lineStart, lineEnd) for every entry of `text`, in order;
// lineEnd is past the line's '\n'. Stops early when visit returns false.
template <typename Visit>
void ForEachEntry(std::string_view text, Visit visit) {
  size_t start = 0;
  while (start < text.size()) {
    const void* newline = std::memchr(text.data() + start, '\n', text.size() - start);
    size_t end = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - text.data())
                                    : text.size();
    size_t next = newline != nullptr ? end + 1 : end;
    Entry entry;
    if (ParseLine(text.substr(start, end - start), start, entry) && !visit(entry, start, next)) return;
    start = next;
  }
}

std::string WithoutTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::shared_ptr<const Store> ReadStore(const std::string& path, Version& version) {
  auto store = std::make_shared<Store>();
  struct stat info {};
  if (!ReadWholeFile(path, store->text, &info)) return nullptr;
  version = VersionOf(path, info);
  store->folder = WithoutTrailingSlashes(SystemFolder());
  store->entries.reserve(store->text.size() / 64);
  ForEachEntry(store->text, [&](const Entry& entry, size_t, size_t) {
    store->entries.push_back(entry);
    return true;
  });
  store->entries.shrink_to_fit();
  return store;
}

// The parsed store as the file is now; null when there is no file. Reuses the
// last parse while the file is unchanged, so a size query and the call that
// follows it parse once.
std::shared_ptr<const Store> CurrentStore() {
  std::string path = SystemFile(kTextStoreName);
  struct stat info {};
  std::lock_guard<std::mutex> hold(sharedMutex);
  if (stat(path.c_str(), &info) != 0) {
    sharedStore.reset();
    return nullptr;
  }
  std::shared_ptr<const Store> shared = sharedStore.lock();
  if (shared && sharedVersion == VersionOf(path, info)) return shared;
  shared.reset();
  sharedStore.reset();
  Version version;
  std::shared_ptr<const Store> store = ReadStore(path, version);
  if (store) {
    sharedVersion = version;
    sharedStore = store;
  }
  return store;
}

char* Append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

std::string_view Store::Url(size_t i) const {
  return std::string_view(text).substr(entries[i].url, entries[i].urlLength);
}

size_t Store::RecordSize(size_t i) const {
  const Entry& entry = entries[i];
  size_t size = sizeof(INTERNET_CACHE_ENTRY_INFOA) + entry.urlLength + 1;
  if (entry.fileLength > 0) size += entry.fileLength + 1;
  if (entry.relative) size += folder.size() + 1;
  return size;
}

void Store::WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* record) const {
  const Entry& entry = entries[i];
  std::memset(record, 0, sizeof *record);
  record->dwStructSize = sizeof *record;
  record->CacheEntryType = entry.type;
  char* out = reinterpret_cast<char*>(record) + sizeof *record;
  record->lpszSourceUrlName = out;
  out = Append(out, Url(i));
  *out++ = '\0';
  if (entry.fileLength > 0) {
    record->lpszLocalFileName = out;
    if (entry.relative) {
      out = Append(out, folder);
      *out++ = '/';
    }
    out = Append(out, std::string_view(text).substr(entry.File(), entry.fileLength));
    *out++ = '\0';
  }
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace

std::shared_ptr<const UrlSnapshot> TextStoreSnapshot() {
  return CurrentStore();
}

BOOL DeleteFromTextStore(const char* url) {
  std::string folder = WithoutTrailingSlashes(SystemFolder());
  std::string path = SystemFile(kTextStoreName);
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Fail(ERROR_FILE_NOT_FOUND);

  StoreLock lock(path);
  if (!lock.Held()) return Fail(LastErrorFromErrno());
  std::string text;
  if (!ReadWholeFile(path, text)) return Fail(LastErrorFromErrno());

  std::string_view wanted(url);
  std::optional<Entry> found;
  size_t lineStart = 0, lineEnd = 0;
  ForEachEntry(text, [&](const Entry& entry, size_t start, size_t end) {
    if (std::string_view(text).substr(entry.url, entry.urlLength) != wanted) return true;
    found = entry;
    lineStart = start;
    lineEnd = end;
    return false;
  });
  if (!found) return Fail(ERROR_FILE_NOT_FOUND);

  std::string localFile = text.substr(found->File(), found->fileLength);
  if (found->relative) localFile = folder + "/" + localFile;
  text.erase(lineStart, lineEnd - lineStart);
  if (!ReplaceFile(path, text)) return Fail(LastErrorFromErrno());
  if (!localFile.empty()) DeleteCacheFile(localFile);
  return TRUE;
}
