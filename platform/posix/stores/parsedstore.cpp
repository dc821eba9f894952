#include "platform/posix/stores/parsedstore.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <ctime>
#include <limits>

#include "base/KeyedHash.h"
#include "platform/posix/shared/fileio.h"
#include "base/Hex.h"
#include "platform/posix/shared/sysfolder.h"
#include "base/Ascii.h"
#include "base/Utf.h"

namespace trovex {

namespace textstore {

namespace {

std::mutex sharedMutex;
Version sharedVersion;
timespec sharedReadAt{};  // when the read of the shared store began
std::weak_ptr<const Store> sharedStore;

// A file's times move in ticks of its file system's clock, as coarse as 2 s
// (FAT), and a write through a mapping may not move them at all for a while:
// a file rewritten at the same size within a tick of being read keeps its
// status. Its bytes are compared before its parse is used again.
constexpr int64_t kClockTick = 2'000'000'000;  // ns

int64_t Nanoseconds(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

timespec Now() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

// Whether the file of `version`, read from `readAt` on, may have been
// written again since without its status showing it.
bool MayHaveChangedUnseen(const Version& version, const timespec& readAt) {
  int64_t latest = std::max(Nanoseconds(version.modified), Nanoseconds(version.changed));
  return Nanoseconds(readAt) - latest < kClockTick;
}

// Whether the file at `path` still holds the store's bytes; when it does,
// `readAt` moves to the start of this read.
bool StillHolds(const std::string& path, const Store& store, timespec& readAt) {
  timespec started = Now();
  FileText text;
  struct stat info {};
  if (!ReadWholeFile(path, text, &info) || !(VersionOf(path, info) == store.version) ||
      text.View() != store.text.View())
    return false;
  readAt = started;
  return true;
}

// "0x0010_0000"-style types are not accepted: one to eight hex digits,
// optionally after 0x.
std::optional<uint32_t> ParseType(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  return ParseHex(text, 8);
}

// The first '\n', '\t' or NUL in [from, to), or to: the bytes a line is split
// at. One walk over the line finds them all, sixteen bytes a step; a search
// per field cost a library call each, five a line.
const char* FindSeparator(const char* from, const char* to) {
  using Bytes = char __attribute__((vector_size(16)));
  for (; to - from >= 16; from += 16) {
    Bytes bytes;
    std::memcpy(&bytes, from, sizeof bytes);
    Bytes found = (bytes == '\n') | (bytes == '\t') | (bytes == '\0');
    uint64_t half[2];
    std::memcpy(half, &found, sizeof half);
    if ((half[0] | half[1]) == 0) continue;
    // The found bytes are all ones: the first is the first set bit in
    // memory order.
    auto firstIn = [](uint64_t word) {
      return (std::endian::native == std::endian::little ? std::countr_zero(word) : std::countl_zero(word)) / 8;
    };
    return from + (half[0] != 0 ? firstIn(half[0]) : 8 + firstIn(half[1]));
  }
  for (; from != to; ++from) {
    if (*from == '\n' || *from == '\t' || *from == '\0') return from;
  }
  return to;
}

// A line's separators: where its first two tabs are, and whether it holds a
// third tab or a NUL, which make it no entry.
struct Separators {
  size_t tabs[2] = {0, 0};
  int tabCount = 0;
  bool clean = true;

  void Take(char separator, size_t at) {
    if (separator == '\0' || tabCount == 2) {
      clean = false;
    } else {
      tabs[tabCount++] = at;
    }
  }
};

// Parses the line [start, end) (without its '\n') of text, whose separators
// are found; false for blank, comment and malformed lines.
bool ParseLine(const char* text, size_t start, size_t end, const Separators& found, Entry& entry) {
  const char* line = text + start;
  const char* stop = text + end;
  if (stop > line && stop[-1] == '\r') --stop;
  if (stop == line || line[0] == '#') return false;
  if (static_cast<size_t>(stop - line) > std::numeric_limits<uint32_t>::max() / 4) return false;
  if (!found.clean || found.tabCount < 2) return false;
  const char* tab1 = text + found.tabs[0];
  const char* tab2 = text + found.tabs[1];
  // "0x" and eight digits at most before the first tab
  if (tab1 - line > 10 || tab2 == tab1 + 1) return false;
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

// Parses the store's text as it arrives, line by line. Positions are offsets,
// as the text may move while it is read; a line read in part is taken up
// where its scan stopped.
class LineParser {
 public:
  explicit LineParser(std::vector<Entry>& entries) : entries_(entries) {}

  // Parses the lines that end in text, which holds every byte seen before.
  void Feed(std::string_view text) {
    const char* begin = text.data();
    const char* finish = begin + text.size();
    for (const char* at = FindSeparator(begin + scanned_, finish); at != finish;
         at = FindSeparator(begin + scanned_, finish)) {
      scanned_ = static_cast<size_t>(at - begin) + 1;
      if (*at == '\n') {
        EndLine(begin, static_cast<size_t>(at - begin));
      } else {
        found_.Take(*at, static_cast<size_t>(at - begin));
      }
    }
    scanned_ = text.size();
  }

  // Parses the last line, which no '\n' ends.
  void Finish(std::string_view text) {
    Feed(text);
    if (lineStart_ < text.size()) EndLine(text.data(), text.size());
  }

 private:
  void EndLine(const char* text, size_t end) {
    Entry entry;
    if (ParseLine(text, lineStart_, end, found_, entry)) entries_.push_back(entry);
    lineStart_ = end + 1;
    found_ = Separators();
  }

  std::vector<Entry>& entries_;
  size_t lineStart_ = 0;
  size_t scanned_ = 0;
  Separators found_;
};

// The store is read in pieces that fit the processor's second-level cache,
// each parsed before the next is read.
constexpr size_t kReadPiece = 256 * 1024;

std::shared_ptr<const Store> ReadStore(const std::string& path) {
  auto store = std::make_shared<Store>();
  struct stat info {};
  std::vector<Entry>& entries = store->entries;
  LineParser parser(entries);
  // The file's size is known once it is open, before the first piece.
  auto arrived = [&](std::string_view text) {
    if (entries.capacity() == 0) entries.reserve(static_cast<size_t>(std::max<off_t>(info.st_size, 0)) / 64);
    parser.Feed(text);
  };
  if (!ReadWholeFile(path, store->text, &info, kReadPiece, arrived)) return nullptr;
  parser.Finish(store->text.View());
  store->version = VersionOf(path, info);
  store->folder = WithoutTrailingSlashes(SystemFolder());
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
  if (shared && sharedVersion == VersionOf(path, info) &&
      (!MayHaveChangedUnseen(sharedVersion, sharedReadAt) || StillHolds(path, *shared, sharedReadAt)))
    return shared;
  shared.reset();
  sharedStore.reset();
  timespec readAt = Now();
  std::shared_ptr<const Store> store = ReadStore(path);
  if (store) {
    sharedVersion = store->version;
    sharedReadAt = readAt;
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
  out = AppendBytes(out, Url(i));
  *out++ = '\0';
  if (entry.fileLength > 0) {
    record->lpszLocalFileName = out;
    if (entry.relative) {
      out = AppendBytes(out, folder);
      *out++ = '/';
    }
    out = AppendBytes(out, text.View().substr(entry.File(), entry.fileLength));
    *out++ = '\0';
  }
}

uint64_t Store::Hash(uint64_t key) const {
  std::lock_guard<std::mutex> hold(hashMutex_);
  if (!hashed_ || hashed_->key != key) hashed_ = RecordHeader{key, ContentHash(text.View(), key)};
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

}  // namespace trovex
