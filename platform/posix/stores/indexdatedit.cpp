#include "platform/posix/stores/indexdatedit.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "formats/ByteView.h"
#include "platform/posix/stores/indexdat.h"
#include "platform/posix/shared/win32error.h"
#include "base/Utf.h"

namespace trovex {

using namespace indexdat;

namespace {

// A store that cannot be written is shared with its owner (a mounted image,
// another user's Wine prefix), and a container that is a link, or whose
// index changed under the lock, is not the one that was named and read:
// each is refused as Windows refuses a change of a file in use.
DWORD ErrorOf(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EWOULDBLOCK:
    case ELOOP:
    case ESTALE: return ERROR_SHARING_VIOLATION;
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    default: return Win32Error(error);
  }
}

constexpr int kLockAttempts = 100;
constexpr useconds_t kLockPause = 20'000;

// An exclusive flock on the index file in `folder`. Another deleter renames
// a new file into place, so a lock on a file that no longer has the name is
// taken again on the one that has it. Invalid with errno when it cannot be
// held.
UniqueFd LockIndex(int folder, struct stat& held) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    UniqueFd fd(openat(folder, kIndexDatName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return fd;
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) return UniqueFd();
      usleep(kLockPause);
      continue;
    }
    struct stat named {};
    if (fstat(fd.Get(), &held) == 0 && fstatat(folder, kIndexDatName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
      return fd;
  }
  errno = EWOULDBLOCK;
  return UniqueFd();
}

// Whether the hash tables and the listed records each own their blocks: an
// edit of one must not change another.
bool StructuresApart(ByteView image, const Header& header, const std::vector<UrlRecord>& records) {
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

bool Locked(ByteView image, const Header& header, const UrlRecord& record, const std::vector<Slot>& slots) {
  for (const Slot& slot : slots)
    if ((slot.key & kSlotFlagMask) == kSlotLocked) return true;
  return image.U32(uint64_t{record.offset} + LayoutOf(header.format).useCount) != 0;
}

constexpr uint64_t kFiletimeTicksPerSecond = 10'000'000;
constexpr uint64_t kFiletimeAt1970 = 11'644'473'600 * kFiletimeTicksPerSecond;
constexpr uint64_t kDay = 24 * 60 * 60 * kFiletimeTicksPerSecond;
constexpr uint32_t kAccessTimeAt = 16;

uint64_t FiletimeNow() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return kFiletimeAt1970 + static_cast<uint64_t>(now.tv_sec) * kFiletimeTicksPerSecond +
         static_cast<uint64_t>(now.tv_nsec) / 100;
}

// Wine takes an entry locked for more than a day, by its last access, as
// one whose locker died; an access time in the future proves nothing.
bool LockedLongAgo(ByteView image, const UrlRecord& record) {
  uint64_t accessed = image.U64(uint64_t{record.offset} + kAccessTimeAt);
  uint64_t now = FiletimeNow();
  return accessed <= now && now - accessed > kDay;
}

enum class Fate { kNone, kRemove, kLeak };

// Wine removes a local file only while its last-write time is the one the
// entry noted, and keeps the record as a LEAK when the removal would fail:
// for a folder in its place, a file without write permission (read-only to
// Windows) or a folder that cannot be changed.
Fate FateOf(int folder, const std::string& name, uint32_t notedTime) {
  struct stat info {};
  if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return Fate::kNone;
  if (UnixToFat(info.st_mtim.tv_sec) != notedTime) return Fate::kNone;
  if (S_ISDIR(info.st_mode)) return Fate::kLeak;
  if (!S_ISLNK(info.st_mode) && (info.st_mode & 0222) == 0) return Fate::kLeak;
  if (faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) return Fate::kLeak;
  return Fate::kRemove;
}

// The edits below write at the offsets of records and slots the reader
// checked, inside the image: no write of theirs falls outside it.

// The record stays, renamed LEAK and put at the head of the chain of records
// whose files are still to be removed; its blocks and the counters stay.
void MakeLeak(std::string& image, const UrlRecord& record) {
  PutBytes(image, record.offset, "LEAK");
  PutU32(image, uint64_t{record.offset} + kLeakNextAt, ByteView(image).U32(kLeakRootAt));
  PutU32(image, kLeakRootAt, record.offset);
}

void Subtract(std::string& image, uint32_t at, uint64_t amount) {
  uint64_t value = ByteView(image).U64(at);
  PutU64(image, at, value > amount ? value - amount : 0);
}

// Frees the record's blocks (the bitmap and its count change together) and
// takes it off its subfolder's file count and the cache's usage.
void FreeRecord(std::string& image, Header& header, const UrlRecord& record) {
  uint64_t first = (record.offset - kHeaderSize) / kBlockSize;
  for (uint64_t block = first; block < first + record.blocks; ++block) {
    uint64_t at = kBitmapAt + block / 8;
    PutU8(image, at, static_cast<uint8_t>(ByteView(image).U8(at) & ~(1 << (block % 8))));
  }
  header.blocksInUse -= record.blocks;
  PutU32(image, kBlocksInUseAt, header.blocksInUse);

  const RecordLayout& layout = LayoutOf(header.format);
  ByteView fields = ByteView(image).Sub(record.offset, uint64_t{kBlockSize} * record.blocks);
  uint8_t subfolder = fields.U8(layout.subfolder);
  uint64_t countAt = kSubfoldersAt + uint64_t{subfolder} * kSubfolderEntrySize;
  uint32_t count = ByteView(image).U32(countAt);
  if (subfolder < header.subfolderCount && count > 0) PutU32(image, countAt, count - 1);

  uint64_t size = fields.U64(layout.size);
  bool sticky = (fields.U32(layout.type) & STICKY_CACHE_ENTRY) != 0;
  Subtract(image, sticky ? kExemptUsageAt : kCacheUsageAt, size);
}

}  // namespace

std::unique_ptr<IndexDatEdit> IndexDatEdit::Open(const std::string& folder, DWORD* error) {
  std::unique_ptr<IndexDatEdit> edit(new IndexDatEdit);
  if (!edit->Load(folder, error)) return nullptr;
  return edit;
}

bool IndexDatEdit::Load(const std::string& folder, DWORD* error) {
  // A trailing slash would make the open follow a link at the last component.
  folder_ = OpenFolder(WithoutTrailingSlashes(folder));
  if (folder_.Valid()) index_ = LockIndex(folder_.Get(), status_);
  if (!index_.Valid()) {
    *error = ErrorOf(errno);
    return false;
  }
  RemoveAbandonedTemporariesAt(folder_.Get(), kIndexDatName);
  std::optional<Header> header;
  if (static_cast<uint64_t>(status_.st_size) <= kMaxFileSize && ReadWholeFd(index_.Get(), image_, &status_))
    header = ReadHeader(image_, nullptr);
  if (!header) {
    *error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  header_ = std::move(*header);
  Index();
  if (faccessat(folder_.Get(), ".", W_OK, AT_EACCESS) != 0) unwritable_ = errno;
  return true;
}

// The records by URL and their slots by record offset, so that each deletion
// of a run costs what one entry costs. An index that no edit may touch is
// noted: format 4.7 is read only, as no writer of it is known to check an
// edit; Wine discards a container whose counts disagree, and an index that
// already breaks its rules, or whose structures share blocks (the reader
// leaves out a record on another's blocks), is left alone.
void IndexDatEdit::Index() {
  indexdat::IndexDrops drops;
  std::vector<UrlRecord> records = ListRecords(image_, header_, &drops);
  if (header_.format == Format::kVersion47) {
    refusal_ = ERROR_SHARING_VIOLATION;
  } else if (!KeptByWine(image_) || drops.Of(Drop::kRecordShared) > 0 ||
             !StructuresApart(ByteView(image_), header_, records)) {
    refusal_ = ERROR_INVALID_DATA;
  }
  records_.reserve(records.size());
  for (const UrlRecord& record : records) {
    std::string_view url = ByteView(image_).Text(record.url.at, record.url.length);
    if (!records_.emplace(url, record).second) twins_[url].push_back(record);
  }
  WalkHashChain(
      ByteView(image_), header_, [](uint32_t, uint32_t) {},
      [&](const Slot& slot) { slots_[slot.offset].push_back(slot); });
}

void IndexDatEdit::Release() {
  for (UniqueFd& handle : subfolders_) handle.Reset();
  index_.Reset();
  folder_.Reset();
}

int IndexDatEdit::SubfolderHandle(uint8_t subfolder) {
  if (subfolder == kNoSubfolder) return folder_.Get();
  UniqueFd& handle = subfolders_[subfolder];
  if (!handle.Valid()) {
    const std::string& name = header_.subfolders[subfolder];
    handle.Reset(openat(folder_.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return handle.Get();
}

uint32_t IndexDatEdit::NotedTime(const UrlRecord& record) const {
  return ByteView(image_).U32(uint64_t{record.offset} + LayoutOf(header_.format).fileTime);
}

// The entry's local file when Wine would remove it; *leak when Wine would
// keep the record because the removal would fail. The index's own files are
// never an entry's.
std::optional<IndexDatEdit::DoomedFile> IndexDatEdit::LocalFileOf(const UrlRecord& record, bool* leak) {
  if (!record.fileName.Present()) return std::nullopt;
  DoomedFile file{record.subfolder, {}, NotedTime(record)};
  file.name += Windows1252ToUtf8(ByteView(image_).Text(record.fileName.at, record.fileName.length));
  int folder = SubfolderHandle(record.subfolder);
  if (IsContainerOwnName(file.name) || folder < 0) return std::nullopt;
  Fate fate = FateOf(folder, file.name, file.notedTime);
  *leak = fate == Fate::kLeak;
  if (fate != Fate::kRemove) return std::nullopt;
  return file;
}

// A locked entry is refused unless Wine would take its lock for a dead one;
// then the lock goes, as Wine clears it, with the use count.
BOOL IndexDatEdit::Delete(std::string_view url) {
  auto found = records_.find(url);
  if (found == records_.end()) return Fail(ERROR_FILE_NOT_FOUND);
  if (refusal_ != ERROR_SUCCESS) return Fail(refusal_);
  const UrlRecord record = found->second;
  std::vector<Slot>& slots = slots_[record.offset];
  bool locked = Locked(ByteView(image_), header_, record, slots);
  if (locked && !LockedLongAgo(ByteView(image_), record)) return Fail(ERROR_SHARING_VIOLATION);
  if (unwritable_ != 0) return Fail(ErrorOf(unwritable_));

  bool leak = false;
  std::optional<DoomedFile> file = LocalFileOf(record, &leak);
  if (locked) PutU32(image_, uint64_t{record.offset} + LayoutOf(header_.format).useCount, 0);
  for (const Slot& slot : slots) PutU32(image_, slot.at, kSlotDeleted);
  if (leak) {
    MakeLeak(image_, record);
  } else {
    FreeRecord(image_, header_, record);
  }
  if (file) doomed_.push_back(std::move(*file));
  slots_.erase(record.offset);
  ForgetRecord(found);
  changed_ = true;
  return TRUE;
}

// A URL that several records hold is next found in the one after.
void IndexDatEdit::ForgetRecord(Records::iterator found) {
  auto twins = twins_.find(found->first);
  if (twins == twins_.end()) {
    records_.erase(found);
    return;
  }
  found->second = twins->second.front();
  twins->second.erase(twins->second.begin());
  if (twins->second.empty()) twins_.erase(twins);
}

// A local file is removed only while it still has the time its entry noted:
// a file rewritten since the deletion belongs to whoever rewrote it.
BOOL IndexDatEdit::Commit() {
  if (!changed_) return TRUE;
  changed_ = false;
  if (!ReplaceFileAt(folder_.Get(), kIndexDatName, image_, status_.st_mode & 07777, status_))
    return Fail(ErrorOf(errno));
  for (const DoomedFile& file : doomed_) {
    int folder = SubfolderHandle(file.subfolder);
    // An orphan file that cannot be removed harms nothing; the entry is gone.
    if (folder >= 0 && FateOf(folder, file.name, file.notedTime) == Fate::kRemove)
      unlinkat(folder, file.name.c_str(), 0);
  }
  doomed_.clear();
  return TRUE;
}

BOOL DeleteFromIndexDat(const std::string& folder, const char* url) {
  if (url == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  DWORD error = ERROR_SUCCESS;
  std::unique_ptr<IndexDatEdit> edit = IndexDatEdit::Open(folder, &error);
  if (!edit) return Fail(error);
  if (!edit->Delete(url)) return FALSE;
  return edit->Commit();
}

}  // namespace trovex
