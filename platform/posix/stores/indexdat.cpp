// The index.dat store: reading a container into a snapshot, and deleting one
// entry the way Wine's wininet does, so that Wine keeps using the container
// afterwards. The file format and its checks are in indexdatformat.h.
//
// A snapshot holds the whole index file (at most 16 MiB) and, per entry, the
// offsets of its strings in it; records are written from those bytes.
// Deletion is in indexdatedit.h.
#include "platform/posix/stores/indexdat.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/posix/shared/fileio.h"
#include "formats/ByteView.h"
#include "formats/indexdat/IndexDatFormat.h"
#include "base/Ascii.h"
#include "base/Utf.h"

namespace trovex {

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
  std::string Dropped() const override;
  std::string_view Folder() const override { return folder_; }

 private:
  ByteView Image() const { return ByteView(image_.View()); }
  std::string_view Bytes(const Text& text) const { return Image().Text(text.at, text.length); }
  char* WriteText(char* out, const Text& text) const;
  char* WritePath(char* out, const Entry& entry) const;
  void WriteFields(const UrlRecord& entry, INTERNET_CACHE_ENTRY_INFOA* record) const;

  std::string folder_;
  FileText image_;
  Header header_;
  std::vector<Entry> entries_;
  IndexDrops drops_;
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
    if (record.fileName.Present() && !IsContainerOwnName(Bytes(record.fileName))) {
      size_t length = folder_.size() + 1 + Windows1252Utf8Size(Bytes(record.fileName));
      if (record.subfolder != kNoSubfolder) length += header_.subfolders[record.subfolder].size() + 1;
      entry.pathLength = static_cast<uint32_t>(length);
    }
  }, &drops_);
}

std::string Container::Dropped() const {
  std::string dropped;
  if (header_.size < header_.declaredSize)
    dropped = "cut short, " + std::to_string(header_.size) + " of " + std::to_string(header_.declaredSize) + " bytes";
  if (std::string records = drops_.Describe(); !records.empty())
    dropped += (dropped.empty() ? "dropped " : "; dropped ") + records;
  return dropped;
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

// The reader checked that the text lies in the file; were it not, it would
// be written empty, in less room than RecordSize gives it.
char* Container::WriteText(char* out, const Text& text) const {
  std::string_view bytes = Bytes(text);
  std::memcpy(out, bytes.data(), bytes.size());
  out[bytes.size()] = '\0';
  return out + bytes.size() + 1;
}

char* Container::WritePath(char* out, const Entry& entry) const {
  out = AppendBytes(out, folder_);
  *out++ = '/';
  if (entry.record.subfolder != kNoSubfolder) {
    out = AppendBytes(out, header_.subfolders[entry.record.subfolder]);
    *out++ = '/';
  }
  out = CopyWindows1252AsUtf8(out, Bytes(entry.record.fileName));
  *out++ = '\0';
  return out;
}

void Container::WriteFields(const UrlRecord& entry, INTERNET_CACHE_ENTRY_INFOA* record) const {
  const RecordLayout& layout = LayoutOf(header_.format);
  ByteView fields = Image().Sub(entry.offset, uint64_t{kBlockSize} * entry.blocks);
  auto field = [&](uint32_t at) { return fields.U32(at); };
  auto filetime = [](FILETIME& out, uint64_t value) {
    out.dwLowDateTime = static_cast<DWORD>(value);
    out.dwHighDateTime = static_cast<DWORD>(value >> 32);
  };
  uint64_t size = layout.sizeIs64 ? fields.U64(layout.size) : field(layout.size);
  record->CacheEntryType = field(layout.type);
  record->dwUseCount = field(layout.useCount);
  record->dwHitRate = field(layout.hits);
  record->dwSizeLow = static_cast<DWORD>(size);
  record->dwSizeHigh = static_cast<DWORD>(size >> 32);
  filetime(record->LastModifiedTime, fields.U64(8));
  filetime(record->LastAccessTime, fields.U64(16));
  filetime(record->ExpireTime,
           layout.expiryIsFiletime ? fields.U64(layout.expiry) : FatToFiletime(field(layout.expiry)));
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

}  // namespace

// Wine and Windows name cached files after the URL with "[n]" before the
// extension, so no cached file begins so; on a file system that ignores
// letter case, any spelling of it is the index.
bool IsContainerOwnName(std::string_view name) {
  constexpr std::string_view kOwn = kIndexDatName;
  return name.size() >= kOwn.size() && StartsWithNoCase(name, kOwn);
}

std::shared_ptr<const UrlSnapshot> IndexDatSnapshot(const std::string& folder, std::string* problem) {
  std::string container = ContainerFolder(folder);
  FileText image;
  if (!ReadIndex(IndexPath(container), image, problem)) return nullptr;
  std::optional<Header> header = ReadHeader(image.View(), problem);
  if (!header) return nullptr;
  return std::make_shared<Container>(std::move(container), std::move(image), *header);
}

}  // namespace trovex
