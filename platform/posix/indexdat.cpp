// The index.dat store: reading a container into a snapshot, and deleting one
// entry the way Wine's wininet does, so that Wine keeps using the container
// afterwards. The file format and its checks are in indexdatformat.h.
//
// A snapshot holds the whole index file (at most 16 MiB) and, per entry, the
// offsets of its strings in it; records are written from those bytes.
//
// A deletion works on the file under an exclusive flock of index.dat itself,
// so that no lock file is left in a folder that Windows or Wine own. The new
// index is written whole to a temporary file and renamed into place; the
// entry's local file is removed only after that, through handles on the
// container's folders that follow no link.
#include "indexdat.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "fileio.h"
#include "indexdatformat.h"
#include "text.h"
#include "win32error.h"

using namespace indexdat;

namespace {

// The container's folder as an absolute path without a trailing slash: the
// start of every local file's path.
std::string ContainerFolder(const std::string& folder) {
  std::error_code error;
  std::string absolute = std::filesystem::absolute(folder, error).string();
  if (error) absolute = folder;
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}

std::string IndexPath(const std::string& folder) {
  return folder + "/" + kIndexDatName;
}

// One listed entry: its checked record and the length of its local file's
// full path (0 without one).
struct Entry {
  UrlRecord record;
  uint32_t pathLength = 0;
};

// Field by field: the reader has just written from's fields one by one, and
// a copy of the whole record read them back in wider pieces, which the
// processor could not forward from those writes.
void CopyRecord(UrlRecord& to, const UrlRecord& from) {
  to.offset = from.offset;
  to.blocks = from.blocks;
  to.url = from.url;
  to.fileName = from.fileName;
  to.header = from.header;
  to.extension = from.extension;
  to.subfolder = from.subfolder;
}

size_t Aligned(size_t size) {
  return (size + 3) & ~size_t{3};
}

class Container final : public UrlSnapshot {
 public:
  Container(std::string folder, FileText image, const Header& header);

  size_t Count() const override { return entries_.size(); }
  std::string_view Url(size_t i) const override { return Bytes(entries_[i].record.url); }
  size_t RecordSize(size_t i) const override;
  void WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* record) const override;

 private:
  std::string_view Bytes(const Text& text) const { return image_.View().substr(text.at, text.length); }
  char* WriteText(char* out, const Text& text) const;
  char* WritePath(char* out, const Entry& entry) const;
  void WriteFields(const UrlRecord& entry, INTERNET_CACHE_ENTRY_INFOA* record) const;

  std::string folder_;
  FileText image_;
  Header header_;
  std::vector<Entry> entries_;
};

Container::Container(std::string folder, FileText image, const Header& header)
    : folder_(std::move(folder)), image_(std::move(image)), header_(header) {
  // Every record takes a block at least: room for as many as the blocks in
  // use, so that the entries are not moved as they are found. The snapshot
  // lives as long as an enumeration, so the room left over is not trimmed.
  entries_.reserve(std::min<size_t>(header_.blocksInUse, image_.size() / kBlockSize));
  ForEachRecord(image_.View(), header_, [&](const UrlRecord& record) {
    Entry& entry = entries_.emplace_back();
    CopyRecord(entry.record, record);
    if (record.fileName.Present()) {
      size_t length = folder_.size() + 1 + Utf8Length(Bytes(record.fileName));
      if (record.subfolder != kNoSubfolder) length += header_.subfolders[record.subfolder].size() + 1;
      entry.pathLength = static_cast<uint32_t>(length);
    }
  });
}

// The record is followed by its strings, each NUL-terminated and starting on
// a four-byte boundary: URL, local file path, header data, extension.
size_t Container::RecordSize(size_t i) const {
  const Entry& entry = entries_[i];
  size_t size = sizeof(INTERNET_CACHE_ENTRY_INFOA) + Aligned(entry.record.url.length + 1);
  if (entry.pathLength > 0) size += Aligned(entry.pathLength + 1);
  if (entry.record.header.Present()) size += Aligned(entry.record.header.length + 1);
  if (entry.record.extension.Present()) size += Aligned(entry.record.extension.length + 1);
  return size;
}

char* PadToAlignment(char* start, char* out) {
  while ((out - start) % 4 != 0) *out++ = '\0';
  return out;
}

char* Container::WriteText(char* out, const Text& text) const {
  std::memcpy(out, image_.data() + text.at, text.length);
  out[text.length] = '\0';
  return out + text.length + 1;
}

char* Container::WritePath(char* out, const Entry& entry) const {
  out = Append(out, folder_);
  *out++ = '/';
  if (entry.record.subfolder != kNoSubfolder) {
    out = Append(out, header_.subfolders[entry.record.subfolder]);
    *out++ = '/';
  }
  out = CopyUtf8(out, Bytes(entry.record.fileName));
  *out++ = '\0';
  return out;
}

void Container::WriteFields(const UrlRecord& entry, INTERNET_CACHE_ENTRY_INFOA* record) const {
  const RecordLayout& layout = LayoutOf(header_.format);
  auto field = [&](uint32_t at) { return U32(image_.View(), uint64_t{entry.offset} + at); };
  auto filetime = [](FILETIME& out, uint64_t value) {
    out.dwLowDateTime = static_cast<DWORD>(value);
    out.dwHighDateTime = static_cast<DWORD>(value >> 32);
  };
  uint64_t size = layout.sizeIs64 ? U64(image_.View(), uint64_t{entry.offset} + layout.size) : field(layout.size);
  record->CacheEntryType = field(layout.type);
  record->dwUseCount = field(layout.useCount);
  record->dwHitRate = field(layout.hits);
  record->dwSizeLow = static_cast<DWORD>(size);
  record->dwSizeHigh = static_cast<DWORD>(size >> 32);
  filetime(record->LastModifiedTime, U64(image_.View(), uint64_t{entry.offset} + 8));
  filetime(record->LastAccessTime, U64(image_.View(), uint64_t{entry.offset} + 16));
  filetime(record->ExpireTime, layout.expiryIsFiletime ? U64(image_.View(), uint64_t{entry.offset} + layout.expiry)
                                                       : FatToFiletime(field(layout.expiry)));
  filetime(record->LastSyncTime, FatToFiletime(field(layout.lastSync)));
  record->dwHeaderInfoSize = entry.header.length;
  record->dwExemptDelta = field(layout.exemptDelta);
}

void Container::WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* record) const {
  const Entry& entry = entries_[i];
  StartRecord(record);
  WriteFields(entry.record, record);
  char* start = reinterpret_cast<char*>(record);
  char* out = start + sizeof *record;
  record->lpszSourceUrlName = out;
  out = PadToAlignment(start, WriteText(out, entry.record.url));
  if (entry.pathLength > 0) {
    record->lpszLocalFileName = out;
    out = PadToAlignment(start, WritePath(out, entry));
  }
  if (entry.record.header.Present()) {
    record->lpHeaderInfo = out;
    out = PadToAlignment(start, WriteText(out, entry.record.header));
  }
  if (entry.record.extension.Present()) {
    record->lpszFileExtension = out;
    PadToAlignment(start, WriteText(out, entry.record.extension));
  }
}

// Reads the index file whole, refusing early what cannot be one; into a
// FileText to read it, a string to change it.
template <typename Image>
bool ReadIndex(const std::string& path, Image& image, std::string* problem) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > kMaxFileSize) {
    if (problem != nullptr) *problem = "too large for an index file";
    return false;
  }
  if (ReadWholeFile(path, image)) return true;
  if (problem != nullptr) *problem = std::strerror(errno);
  return false;
}


// ---- Deletion ----------------------------------------------------------------

// A store that cannot be written is shared with its owner (a mounted image,
// another user's Wine prefix): the deletion is refused as Windows refuses one
// on a file in use.
BOOL FailFromErrno() {
  if (errno == EACCES || errno == EPERM || errno == EROFS || errno == EWOULDBLOCK)
    return Fail(ERROR_SHARING_VIOLATION);
  return Fail(Win32Error(errno));
}

constexpr int kLockAttempts = 100;
constexpr useconds_t kLockPause = 20'000;

// An exclusive flock on the index file itself, held until destruction.
// Another deleter renames a new file into place, so a lock on a file that no
// longer has the name is taken again on the one that has it.
class IndexLock {
 public:
  explicit IndexLock(const std::string& path) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
      UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
      if (!fd.Valid()) return;
      if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return;
        usleep(kLockPause);
        continue;
      }
      struct stat held {}, named {};
      if (fstat(fd.Get(), &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        fd_ = std::move(fd);
        return;
      }
    }
    errno = EWOULDBLOCK;
  }
  bool Held() const { return fd_.Valid(); }

 private:
  UniqueFd fd_;
};

const UrlRecord* FindUrl(const std::vector<UrlRecord>& records, std::string_view image, std::string_view url) {
  for (const UrlRecord& record : records)
    if (image.substr(record.url.at, record.url.length) == url) return &record;
  return nullptr;
}

// The slots that list the record at `offset`.
std::vector<Slot> SlotsOf(std::string_view image, const Header& header, uint32_t offset) {
  std::vector<Slot> slots;
  WalkHashChain(
      image, header, [](uint32_t, uint32_t) {},
      [&](const Slot& slot) {
        if (slot.offset == offset) slots.push_back(slot);
      });
  return slots;
}

// Whether the hash tables and the listed records each own their blocks: an
// edit of one must not change another.
bool StructuresApart(std::string_view image, const Header& header, const std::vector<UrlRecord>& records) {
  std::vector<bool> owned(header.capacity);
  bool apart = true;
  auto own = [&](uint32_t offset, uint32_t blocks) {
    for (uint64_t block = (offset - kHeaderSize) / kBlockSize, end = block + blocks; block < end; ++block) {
      apart = apart && !owned[block];
      owned[block] = true;
    }
  };
  WalkHashChain(image, header, own, [](const Slot&) {});
  for (const UrlRecord& record : records) own(record.offset, record.blocks);
  return apart;
}

bool Locked(std::string_view image, const Header& header, const UrlRecord& record, const std::vector<Slot>& slots) {
  for (const Slot& slot : slots)
    if ((slot.key & kSlotFlagMask) == kSlotLocked) return true;
  return U32(image, uint64_t{record.offset} + LayoutOf(header.format).useCount) != 0;
}

enum class Fate { kNone, kRemove, kLeak };

// The entry's local file, reached through handles on the container's folders
// that follow no link.
struct LocalFile {
  UniqueFd folder;
  std::string name;
  Fate fate = Fate::kNone;
};

// Wine removes a local file only while its last-write time is the one the
// entry noted, and keeps the record as a LEAK when the removal would fail:
// for a folder in its place, a file without write permission (read-only to
// Windows) or a folder that cannot be changed.
Fate FateOf(const LocalFile& file, uint32_t notedTime) {
  struct stat info {};
  if (fstatat(file.folder.Get(), file.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return Fate::kNone;
  if (UnixToFat(info.st_mtim.tv_sec) != notedTime) return Fate::kNone;
  if (S_ISDIR(info.st_mode)) return Fate::kLeak;
  if (!S_ISLNK(info.st_mode) && (info.st_mode & 0222) == 0) return Fate::kLeak;
  if (faccessat(file.folder.Get(), ".", W_OK | X_OK, AT_EACCESS) != 0) return Fate::kLeak;
  return Fate::kRemove;
}

LocalFile FindLocalFile(const std::string& folder, std::string_view image, const Header& header,
                        const UrlRecord& record) {
  LocalFile file;
  if (!record.fileName.Present()) return file;
  file.folder.Reset(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (file.folder.Valid() && record.subfolder != kNoSubfolder) {
    const std::string& subfolder = header.subfolders[record.subfolder];
    file.folder.Reset(openat(file.folder.Get(), subfolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  if (!file.folder.Valid()) return file;
  AppendUtf8(file.name, image.substr(record.fileName.at, record.fileName.length));
  file.fate = FateOf(file, U32(image, uint64_t{record.offset} + LayoutOf(header.format).fileTime));
  return file;
}

// The record stays, renamed LEAK and put at the head of the chain of records
// whose files are still to be removed; its blocks and the counters stay.
void MakeLeak(std::string& image, const UrlRecord& record) {
  image.replace(record.offset, 4, "LEAK");
  PutU32(image, uint64_t{record.offset} + kLeakNextAt, U32(image, kLeakRootAt));
  PutU32(image, kLeakRootAt, record.offset);
}

void Subtract(std::string& image, uint32_t at, uint64_t amount) {
  uint64_t value = U64(image, at);
  PutU64(image, at, value > amount ? value - amount : 0);
}

// Frees the record's blocks (the bitmap and its count change together) and
// takes it off its subfolder's file count and the cache's usage.
void FreeRecord(std::string& image, const Header& header, const UrlRecord& record) {
  uint64_t first = (record.offset - kHeaderSize) / kBlockSize;
  for (uint64_t block = first; block < first + record.blocks; ++block)
    image[kBitmapAt + block / 8] = static_cast<char>(image[kBitmapAt + block / 8] & ~(1 << (block % 8)));
  PutU32(image, kBlocksInUseAt, header.blocksInUse - record.blocks);

  const RecordLayout& layout = LayoutOf(header.format);
  auto subfolder = static_cast<uint8_t>(image[record.offset + layout.subfolder]);
  uint64_t countAt = kSubfoldersAt + uint64_t{subfolder} * kSubfolderEntrySize;
  if (subfolder < header.subfolderCount && U32(image, countAt) > 0) PutU32(image, countAt, U32(image, countAt) - 1);

  uint64_t size = U64(image, uint64_t{record.offset} + layout.size);
  bool sticky = (U32(image, uint64_t{record.offset} + layout.type) & STICKY_CACHE_ENTRY) != 0;
  Subtract(image, sticky ? kExemptUsageAt : kCacheUsageAt, size);
}

// The edited index: the record unhooked from every slot (the key marks it
// deleted, the offset stays) and either freed or kept as a LEAK.
std::string EditedIndex(std::string image, const Header& header, const UrlRecord& record,
                        const std::vector<Slot>& slots, Fate fate) {
  for (const Slot& slot : slots) PutU32(image, slot.at, kSlotDeleted);
  if (fate == Fate::kLeak) {
    MakeLeak(image, record);
  } else {
    FreeRecord(image, header, record);
  }
  return image;
}

}  // namespace

std::shared_ptr<const UrlSnapshot> IndexDatSnapshot(const std::string& folder, std::string* problem) {
  std::string container = ContainerFolder(folder);
  FileText image;
  if (!ReadIndex(IndexPath(container), image, problem)) return nullptr;
  std::optional<Header> header = ReadHeader(image.View(), problem);
  if (!header) return nullptr;
  return std::make_shared<Container>(std::move(container), std::move(image), *header);
}

BOOL DeleteFromIndexDat(const std::string& folder, const char* url) {
  if (url == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::string container = ContainerFolder(folder);
  std::string path = IndexPath(container);
  IndexLock lock(path);
  if (!lock.Held()) return errno == ENOENT ? Fail(ERROR_FILE_NOT_FOUND) : FailFromErrno();
  RemoveAbandonedTemporaries(path);

  std::string image;
  if (!ReadIndex(path, image, nullptr)) return FailFromErrno();
  std::optional<Header> header = ReadHeader(image, nullptr);
  if (!header) return Fail(ERROR_FILE_NOT_FOUND);
  Drops drops;
  std::vector<UrlRecord> records = ListRecords(image, *header, &drops);
  const UrlRecord* record = FindUrl(records, image, url);
  if (record == nullptr) return Fail(ERROR_FILE_NOT_FOUND);

  // Format 4.7 is read only: no writer of it is known to check an edit.
  if (header->format == Format::kVersion47) return Fail(ERROR_SHARING_VIOLATION);
  // Wine discards a container whose counts disagree; an index that already
  // breaks its rules, or whose structures share blocks (the reader leaves
  // out a record on another's blocks), is left alone.
  if (!KeptByWine(image) || drops.Of(Drop::kRecordShared) > 0 || !StructuresApart(image, *header, records))
    return Fail(ERROR_INVALID_DATA);
  std::vector<Slot> slots = SlotsOf(image, *header, record->offset);
  if (Locked(image, *header, *record, slots)) return Fail(ERROR_SHARING_VIOLATION);
  if (faccessat(AT_FDCWD, container.c_str(), W_OK, AT_EACCESS) != 0) return FailFromErrno();

  LocalFile file = FindLocalFile(container, image, *header, *record);
  if (!ReplaceFile(path, EditedIndex(image, *header, *record, slots, file.fate))) return FailFromErrno();
  // An orphan file that cannot be removed harms nothing; the entry is gone.
  if (file.fate == Fate::kRemove) unlinkat(file.folder.Get(), file.name.c_str(), 0);
  return TRUE;
}
