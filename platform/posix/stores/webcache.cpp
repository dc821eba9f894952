// Reading a WebCache database into a snapshot. The database is walked once,
// its file read page by page as the walk reaches the catalog, the Containers
// table and the Container_N tables: the other tables' pages are never read.
// Every string an entry hands out is converted to UTF-8 into one text of the
// snapshot's own, and the pages read are let go when the walk ends, so a
// snapshot holds no more than what it hands out.
//
// Every name in the database was written by a stranger's machine: where a
// local file may lie is webcachefiles.cpp's to say.
#include "platform/posix/stores/webcache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "base/Utf.h"
#include "formats/Drops.h"
#include "formats/ese/Database.h"
#include "platform/posix/shared/fileio.h"
#include "platform/posix/stores/eseimage.h"

namespace trovex {

namespace {

// A database larger than this is not read: a walk may hold every page of it.
constexpr off_t kLargestDatabase = off_t{2} << 30;

enum class MapDrop { kNoUrl, kUnsafeName, kUnplaced };

constexpr DropReason kMapReasons[] = {
    {"entry", "entries", "without a readable URL"},
    {"local file", "local files", "unsafe name"},
    {"local file", "local files", "not below the folder"},
};

// A string of the snapshot's text: where it starts and its length; absent
// when the entry has none.
struct Piece {
  size_t at = 0;
  uint32_t length = 0;
  bool present = false;
};

struct Entry {
  Piece url, file, header, extension;
  uint32_t type = 0, hits = 0, exemptDelta = 0;
  uint64_t size = 0;
  uint64_t modified = 0, expires = 0, accessed = 0, synced = 0;
};

size_t Aligned(size_t size) {
  return (size + 3) & ~size_t{3};
}

class WebCache final : public UrlSnapshot {
 public:
  explicit WebCache(std::string folder) : folder_(std::move(folder)) {}

  size_t Count() const override { return entries_.size(); }
  std::string_view Url(size_t i) const override { return View(entries_[i].url); }
  size_t RecordSize(size_t i) const override;
  void WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* record) const override;
  std::string Dropped() const override { return dropped_; }
  std::string_view Folder() const override { return folder_; }

  Piece Add(std::string_view bytes) {
    Piece piece{text_.size(), static_cast<uint32_t>(bytes.size()), true};
    text_.append(bytes);
    text_.push_back('\0');
    return piece;
  }
  std::vector<Entry>& Entries() { return entries_; }
  void SetDropped(std::string dropped) { dropped_ = std::move(dropped); }

 private:
  std::string_view View(const Piece& piece) const { return std::string_view(text_).substr(piece.at, piece.length); }

  std::string folder_;
  std::string text_;  // every string, each followed by a NUL
  std::vector<Entry> entries_;
  std::string dropped_;
};

// The record is followed by its strings, each NUL-terminated and starting on
// a four-byte boundary: URL, local file, headers, extension.
size_t WebCache::RecordSize(size_t i) const {
  const Entry& entry = entries_[i];
  size_t size = sizeof(INTERNET_CACHE_ENTRY_INFOA);
  for (const Piece* piece : {&entry.url, &entry.file, &entry.header, &entry.extension}) {
    if (piece->present) size += Aligned(piece->length + 1);
  }
  return size;
}

void SetFiletime(FILETIME& out, uint64_t value) {
  out.dwLowDateTime = static_cast<DWORD>(value);
  out.dwHighDateTime = static_cast<DWORD>(value >> 32);
}

void WebCache::WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* record) const {
  const Entry& entry = entries_[i];
  StartRecord(record);
  record->CacheEntryType = entry.type;
  record->dwHitRate = entry.hits;
  record->dwSizeLow = static_cast<DWORD>(entry.size);
  record->dwSizeHigh = static_cast<DWORD>(entry.size >> 32);
  SetFiletime(record->LastModifiedTime, entry.modified);
  SetFiletime(record->ExpireTime, entry.expires);
  SetFiletime(record->LastAccessTime, entry.accessed);
  SetFiletime(record->LastSyncTime, entry.synced);
  record->dwExemptDelta = entry.exemptDelta;
  char* start = reinterpret_cast<char*>(record);
  char* out = start + sizeof *record;
  auto write = [&](const Piece& piece) {
    char* at = out;
    out = AppendBytes(out, View(piece));
    do *out++ = '\0';
    while ((out - start) % 4 != 0);
    return at;
  };
  record->lpszSourceUrlName = write(entry.url);
  if (entry.file.present) record->lpszLocalFileName = write(entry.file);
  if (entry.header.present) {
    record->dwHeaderInfoSize = entry.header.length;
    record->lpHeaderInfo = write(entry.header);
  }
  if (entry.extension.present) record->lpszFileExtension = write(entry.extension);
}

// ---- Values ---------------------------------------------------------------

// A number column's value, little-endian; 0 when absent or unreadable.
uint64_t NumberOf(const ese::Row& row, const ese::Column* column) {
  if (column == nullptr) return 0;
  ese::Value value = row.Get(*column);
  if (!value.Present()) return 0;
  uint64_t number = 0;
  for (size_t i = std::min<size_t>(value.bytes.size(), 8); i-- > 0;) {
    number = number << 8 | static_cast<unsigned char>(value.bytes[i]);
  }
  return number;
}

// A FILETIME column: negative values are no time.
uint64_t TimeOf(const ese::Row& row, const ese::Column* column) {
  uint64_t time = NumberOf(row, column);
  return static_cast<int64_t>(time) < 0 ? 0 : time;
}

// A UTF-16 text column as UTF-8 without its stored terminating NUL; empty
// when NULL; nullopt when its value cannot be read whole.
std::optional<std::string> TextOf(const ese::Row& row, const ese::Column* column) {
  if (column == nullptr) return std::string();
  ese::Value value = row.Get(*column);
  if (value.state == ese::ValueState::kNull) return std::string();
  if (!value.Present() || value.bytes.size() % 2 != 0) return std::nullopt;
  std::string_view bytes = value.bytes;
  if (bytes.size() >= 2 && bytes[bytes.size() - 1] == '\0' && bytes[bytes.size() - 2] == '\0')
    bytes.remove_suffix(2);
  return Utf16ToUtf8(bytes);
}

// ---- The walk -------------------------------------------------------------

// The columns of a Container_N table that become an entry's fields.
struct EntryColumns {
  const ese::Column *url, *file, *extension, *headers, *secure, *size, *type, *hits, *exempt;
  const ese::Column *modified, *expires, *accessed, *synced;

  explicit EntryColumns(const ese::Table& table)
      : url(table.Find("Url")), file(table.Find("Filename")), extension(table.Find("FileExtension")),
        headers(table.Find("ResponseHeaders")), secure(table.Find("SecureDirectory")), size(table.Find("FileSize")),
        type(table.Find("Type")), hits(table.Find("AccessCount")), exempt(table.Find("ExemptionDelta")),
        modified(table.Find("ModifiedTime")), expires(table.Find("ExpiryTime")),
        accessed(table.Find("AccessedTime")), synced(table.Find("SyncTime")) {}
};

// What an entry's local file is built from: its container's folders.
struct ContainerPlace {
  std::string directory;
  std::string secureNames;
};

class Walk {
 public:
  Walk(const ese::Database& database, WebCache& cache, std::string inetCache)
      : database_(database), cache_(cache), inetCache_(std::move(inetCache)) {
    eseDrops_.Merge(database.CatalogDrops());
  }

  // Reads every container the Containers table lists, in its order.
  void ReadContainers(const ese::Table& containers) {
    const ese::Column* id = containers.Find("ContainerId");
    const ese::Column* directory = containers.Find("Directory");
    const ese::Column* secure = containers.Find("SecureDirectories");
    std::vector<std::pair<uint64_t, ContainerPlace>> listed;
    database_.ForEachRow(containers, eseDrops_, [&](const ese::Row& row) {
      listed.emplace_back(NumberOf(row, id), ContainerPlace{TextOf(row, directory).value_or(""),
                                                            TextOf(row, secure).value_or("")});
      return true;
    });
    std::set<uint64_t> read;
    for (const auto& [number, place] : listed) {
      // A container may have no table of its own: it has no entries. One
      // listed twice is read once.
      if (!read.insert(number).second) continue;
      if (const ese::Table* table = database_.FindTable("Container_" + std::to_string(number)))
        ReadEntries(*table, place);
    }
  }

  std::string Describe() const {
    std::string dropped;
    if (database_.FileHeader().Dirty()) dropped = "dirty, the changes in its logs not read";
    std::string ese = eseDrops_.Describe();
    std::string mapped = mapDrops_.Describe();
    std::string lost = ese.empty() ? mapped : mapped.empty() ? ese : ese + ", " + mapped;
    if (!lost.empty()) dropped += (dropped.empty() ? "dropped " : "; dropped ") + lost;
    return dropped;
  }

 private:
  void ReadEntries(const ese::Table& table, const ContainerPlace& place) {
    EntryColumns columns(table);
    database_.ForEachRow(table, eseDrops_, [&](const ese::Row& row) {
      AddEntry(row, columns, place);
      return true;
    });
  }

  void AddEntry(const ese::Row& row, const EntryColumns& columns, const ContainerPlace& place) {
    std::optional<std::string> url = TextOf(row, columns.url);
    if (!url || url->empty() || url->find('\0') != std::string::npos) {
      mapDrops_.Add(MapDrop::kNoUrl);
      return;
    }
    Entry entry;
    entry.url = cache_.Add(*url);
    AddLocalFile(entry, row, columns, place);
    if (columns.headers != nullptr) {
      if (ese::Value headers = row.Get(*columns.headers); headers.Present()) entry.header = cache_.Add(headers.bytes);
    }
    if (std::optional<std::string> extension = TextOf(row, columns.extension); extension && !extension->empty())
      entry.extension = cache_.Add(*extension);
    entry.type = static_cast<uint32_t>(NumberOf(row, columns.type));
    entry.hits = static_cast<uint32_t>(NumberOf(row, columns.hits));
    entry.exemptDelta = static_cast<uint32_t>(NumberOf(row, columns.exempt));
    uint64_t size = NumberOf(row, columns.size);
    entry.size = static_cast<int64_t>(size) < 0 ? 0 : size;
    entry.modified = TimeOf(row, columns.modified);
    entry.expires = TimeOf(row, columns.expires);
    entry.accessed = TimeOf(row, columns.accessed);
    entry.synced = TimeOf(row, columns.synced);
    cache_.Entries().push_back(entry);
  }

  void AddLocalFile(Entry& entry, const ese::Row& row, const EntryColumns& columns, const ContainerPlace& place) {
    uint64_t secure = NumberOf(row, columns.secure);
    if (secure == 0) return;
    std::optional<std::string> name = TextOf(row, columns.file);
    if (!name) {
      mapDrops_.Add(MapDrop::kUnsafeName);
      return;
    }
    LocalFile file =
        WebCacheLocalFile({cache_.Folder(), inetCache_}, place.directory, place.secureNames, secure, *name);
    switch (file.fate) {
      case LocalFileFate::kNone: break;
      case LocalFileFate::kMapped: entry.file = cache_.Add(file.path); break;
      case LocalFileFate::kUnsafe: mapDrops_.Add(MapDrop::kUnsafeName); break;
      case LocalFileFate::kUnplaced: mapDrops_.Add(MapDrop::kUnplaced); break;
    }
  }

  const ese::Database& database_;
  WebCache& cache_;
  std::string inetCache_;
  Drops eseDrops_ = ese::NewDrops();
  Drops mapDrops_{kMapReasons};
};

// The database's path in the folder: the first of its names there.
std::optional<std::string> DatabasePath(const std::string& folder) {
  for (const char* name : {kWebCacheName, kWebCacheOldName}) {
    std::string path = folder + "/" + name;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return path;
  }
  return std::nullopt;
}

// The folder as an absolute path without a trailing slash: the start of
// every local file's path.
std::string AbsoluteFolder(const std::string& folder) {
  std::error_code error;
  std::string absolute = std::filesystem::absolute(folder, error).string();
  return WithoutTrailingSlashes(error ? folder : absolute);
}

std::unique_ptr<FileEseImage> OpenDatabase(const std::string& path, std::string* problem) {
  std::unique_ptr<FileEseImage> image = FileEseImage::Open(path);
  std::string why;
  if (!image) {
    why = std::strerror(errno);
  } else if (image->Size() > static_cast<uint64_t>(kLargestDatabase)) {
    why = "too large to be read";
    image.reset();
  }
  if (!image && problem != nullptr) *problem = why;
  return image;
}

}  // namespace

std::shared_ptr<const UrlSnapshot> WebCacheSnapshot(const std::string& folder, std::string* problem) {
  std::string absolute = AbsoluteFolder(folder);
  std::optional<std::string> path = DatabasePath(absolute);
  std::unique_ptr<FileEseImage> image = path ? OpenDatabase(*path, problem) : nullptr;
  if (!image) return nullptr;
  std::string why;
  std::optional<ese::Database> database = ese::Database::Open(std::move(image), &why);
  const ese::Table* containers = database ? database->FindTable("Containers") : nullptr;
  if (containers == nullptr) {
    if (problem != nullptr) *problem = database ? "no Containers table" : why;
    return nullptr;
  }
  auto cache = std::make_shared<WebCache>(std::move(absolute));
  Walk walk(*database, *cache, NamedINetCache());
  walk.ReadContainers(*containers);
  cache->SetDropped(walk.Describe());
  return cache;
}

}  // namespace trovex
