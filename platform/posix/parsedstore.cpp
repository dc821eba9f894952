#include "parsedstore.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "fileio.h"
#include "hextext.h"
#include "sysfolder.h"
#include "text.h"

namespace textstore {

namespace {

std::mutex sharedMutex;
Version sharedVersion;
std::weak_ptr<const Store> sharedStore;

// "0x0010_0000"-style types are not accepted: one to eight hex digits,
// optionally after 0x.
std::optional<uint32_t> ParseType(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  return ParseHex(text, 8);
}

// Where c first is in [from, to), or to.
const char* Find(const char* from, const char* to, char c) {
  const void* found = std::memchr(from, c, static_cast<size_t>(to - from));
  return found != nullptr ? static_cast<const char*>(found) : to;
}

// Parses the line [start, end) (without its '\n') of text; false for blank,
// comment and malformed lines. Each search covers only the part of the line
// its field can lie in; the search for the line's end has just brought the
// line into the processor's cache.
bool ParseLine(const char* text, size_t start, size_t end, Entry& entry) {
  const char* line = text + start;
  const char* stop = text + end;
  if (stop > line && stop[-1] == '\r') --stop;
  if (stop == line || line[0] == '#') return false;
  if (static_cast<size_t>(stop - line) > std::numeric_limits<uint32_t>::max() / 4) return false;
  if (Find(line, stop, '\0') != stop) return false;
  // "0x" and eight digits at most before the first tab
  const char* typeLimit = std::min(stop, line + 11);
  const char* tab1 = Find(line, typeLimit, '\t');
  if (tab1 == typeLimit) return false;
  const char* tab2 = Find(tab1 + 1, stop, '\t');
  if (tab2 == stop || tab2 == tab1 + 1) return false;
  if (Find(tab2 + 1, stop, '\t') != stop) return false;
  std::optional<uint32_t> type = ParseType(std::string_view(line, static_cast<size_t>(tab1 - line)));
  if (!type) return false;
  entry.url = static_cast<size_t>(tab1 + 1 - text);
  entry.urlLength = static_cast<uint32_t>(tab2 - tab1 - 1);
  entry.fileLength = static_cast<uint32_t>(stop - tab2 - 1);
  entry.type = *type;
  entry.typeLength = static_cast<uint8_t>(tab1 - line);
  entry.relative = entry.fileLength > 0 && tab2[1] != '/';
  return true;
}

// Calls visit(entry, lineStart, lineEnd) for every entry of `text`, in order;
// lineEnd is past the line's '\n'. Stops early when visit returns false.
template <typename Visit>
void ForEachEntry(std::string_view text, Visit visit) {
  const char* begin = text.data();
  const char* finish = begin + text.size();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = static_cast<size_t>(Find(begin + start, finish, '\n') - begin);
    size_t next = end < text.size() ? end + 1 : end;
    Entry entry;
    if (ParseLine(begin, start, end, entry) && !visit(entry, start, next)) return;
    start = next;
  }
}

std::shared_ptr<const Store> ReadStore(const std::string& path) {
  auto store = std::make_shared<Store>();
  struct stat info {};
  if (!ReadWholeFile(path, store->text, &info)) return nullptr;
  store->version = VersionOf(path, info);
  store->folder = WithoutTrailingSlashes(SystemFolder());
  store->entries.reserve(store->text.size() / 64);
  ForEachEntry(store->text.View(), [&](const Entry& entry, size_t, size_t) {
    store->entries.push_back(entry);
    return true;
  });
  store->entries.shrink_to_fit();
  return store;
}

}  // namespace

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
  std::shared_ptr<const Store> store = ReadStore(path);
  if (store) {
    sharedVersion = store->version;
    sharedStore = store;
  }
  return store;
}

std::string_view Store::Url(size_t i) const {
  return text.View().substr(entries[i].url, entries[i].urlLength);
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
  StartRecord(record);
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
    out = Append(out, text.View().substr(entry.File(), entry.fileLength));
    *out++ = '\0';
  }
}

uint64_t Store::Hash(uint64_t key) const {
  std::lock_guard<std::mutex> hold(hashMutex_);
  if (!hashed_ || hashed_->key != key) hashed_ = RecordHeader{key, KeyedHash(key, text.View())};
  return hashed_->storeHash;
}

std::string Store::TextWithout(const std::vector<bool>& removed) const {
  std::string kept;
  kept.reserve(text.size());
  size_t from = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!removed[i]) continue;
    size_t end = entries[i].File() + entries[i].fileLength;
    if (end < text.size() && text.data()[end] == '\r') ++end;
    if (end < text.size() && text.data()[end] == '\n') ++end;
    kept.append(text.View().substr(from, entries[i].LineStart() - from));
    from = end;
  }
  kept.append(text.View().substr(from));
  return kept;
}

std::string LocalFileOf(const Store& store, size_t i) {
  const Entry& entry = store.entries[i];
  std::string file(store.text.View().substr(entry.File(), entry.fileLength));
  return entry.relative ? store.folder + "/" + file : file;
}

}  // namespace textstore
