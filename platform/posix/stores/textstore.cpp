// The text store's two paths: the snapshot an enumeration reads (the parsed
// store, parsedstore.h, less the deletions in its record beside it,
// deletionrecord.h) and the deletion of one entry.
//
// The deleter keeps the parsed store and an index of its URLs while the file
// is unchanged, follows the record as other processes append to it, and
// folds the record into the store when it would outgrow a sixteenth of it,
// so that a deletion costs the same however large the store.
#include "platform/posix/stores/textstore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/KeyedHash.h"
#include "platform/posix/stores/cachefiles.h"
#include "platform/posix/stores/deletionrecord.h"
#include "platform/posix/shared/fileio.h"
#include "platform/posix/stores/parsedstore.h"
#include "platform/posix/shared/sysfolder.h"
#include "platform/posix/shared/win32error.h"

namespace trovex {

using namespace textstore;

namespace {

// The entries of a store that its record leaves.
class Remaining final : public UrlSnapshot {
 public:
  Remaining(std::shared_ptr<const Store> store, std::vector<uint32_t> entries)
      : store_(std::move(store)), entries_(std::move(entries)) {}

  size_t Count() const override { return entries_.size(); }
  std::string_view Url(size_t i) const override { return store_->Url(entries_[i]); }
  size_t RecordSize(size_t i) const override { return store_->RecordSize(entries_[i]); }
  void WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* out) const override {
    store_->WriteRecord(entries_[i], out);
  }
  std::string_view Folder() const override { return store_->folder; }

 private:
  std::shared_ptr<const Store> store_;
  std::vector<uint32_t> entries_;
};

// ---- Applying the record -------------------------------------------------

// The record beside the store, or an empty text when there is none or it
// cannot be read.
std::string ReadRecord(const std::string& storePath) {
  std::string record;
  if (!ReadWholeFile(DeletionRecordPath(storePath), record)) record.clear();
  return record;
}

constexpr size_t kLengthsApart = 4096;

// The store as its record leaves it: each recorded URL takes the first entry
// of that URL that is left. Since deletions of different URLs never meet, the
// first n entries of a URL recorded n times go, wherever they lie.
std::shared_ptr<const UrlSnapshot> ApplyRecord(std::shared_ptr<const Store> store, std::string_view record) {
  size_t at = 0;
  std::optional<RecordHeader> header = ReadRecordHeader(record, at);
  if (!header || !store->Matches(*header)) return store;
  std::unordered_map<std::string_view, uint32_t, KeyedStringHash> deletions;
  // Entries whose URL is as long as no recorded one are passed over unhashed;
  // lengths from kLengthsApart on count as one.
  std::vector<bool> recordedLength(kLengthsApart + 1);
  ForEachRecordedUrl(record, at, [&](std::string_view url) {
    ++deletions[url];
    recordedLength[std::min(url.size(), kLengthsApart)] = true;
  });
  if (deletions.empty()) return store;
  std::vector<uint32_t> remaining;
  remaining.reserve(store->Count());
  for (size_t i = 0; i < store->Count(); ++i) {
    std::string_view url = store->Url(i);
    auto found = recordedLength[std::min(url.size(), kLengthsApart)] ? deletions.find(url) : deletions.end();
    if (found != deletions.end() && found->second > 0) {
      --found->second;
      continue;
    }
    remaining.push_back(static_cast<uint32_t>(i));
  }
  return std::make_shared<Remaining>(std::move(store), std::move(remaining));
}

// ---- The deleter ----------------------------------------------------------

constexpr uint32_t kNoEntry = UINT32_MAX;
constexpr size_t kMaxRecordRead = size_t{1} << 30;

// The entries of one store by URL, as the record leaves them: the first left
// of each URL, and after each entry the next of the same URL.
class UrlIndex {
 public:
  // Walks the store from its end, so that each URL's slot ends at its first
  // entry with the later ones chained behind it.
  explicit UrlIndex(const Store& store) : next_(store.Count(), kNoEntry), removed_(store.Count()) {
    first_.reserve(store.Count());
    for (size_t i = store.Count(); i-- > 0;) {
      auto [slot, added] = first_.try_emplace(store.Url(i), static_cast<uint32_t>(i));
      if (!added) {
        next_[i] = slot->second;
        slot->second = static_cast<uint32_t>(i);
      }
    }
  }

  // The entry a deletion of url takes now; kNoEntry when none is left.
  uint32_t First(std::string_view url) const {
    auto found = first_.find(url);
    return found == first_.end() ? kNoEntry : found->second;
  }

  // Takes the first entry left of url; nothing when none is left.
  void Remove(std::string_view url) {
    auto found = first_.find(url);
    if (found == first_.end() || found->second == kNoEntry) return;
    removed_[found->second] = true;
    found->second = next_[found->second];
    touched_ = true;
  }

  const std::vector<bool>& Removed() const { return removed_; }
  bool Touched() const { return touched_; }

 private:
  std::unordered_map<std::string_view, uint32_t, KeyedStringHash> first_;
  std::vector<uint32_t> next_;
  std::vector<bool> removed_;
  bool touched_ = false;
};

// What this process knows of the store and its record between deletions;
// rebuilt when another writer replaced either.
struct Deleter {
  std::shared_ptr<const Store> store;
  std::unique_ptr<UrlIndex> index;
  bool recordKnown = false;  // the record below was read
  dev_t recordDevice = 0;
  ino_t recordInode = 0;
  size_t recordEnd = 0;     // past the last whole line of the record read so far
  bool recordLive = false;  // the record applies to this store

  // Forgets the record: the index as the store alone has it.
  void ForgetRecord() {
    if (index->Touched()) index = std::make_unique<UrlIndex>(*store);
    recordKnown = recordLive = false;
    recordEnd = 0;
  }
};

std::mutex deleterMutex;
std::unique_ptr<Deleter> deleter;

// Reads `count` bytes from `offset` of fd into `out`; a record that ends
// first shrank while held under the lock, and is not ours (EIO).
bool ReadAt(int fd, size_t offset, size_t count, std::string& out) {
  out.resize(count);
  return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0 && ReadAll(fd, out.data(), count);
}

bool WriteAt(int fd, size_t offset, std::string_view bytes) {
  return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0 && WriteAll(fd, bytes);
}

// Brings the deleter up to the store file as it is now; false with errno.
// The parsed store tells whether the file changed, by its status or, for one
// written within a clock tick, by its bytes: a parse it no longer hands out
// is not the file's.
bool FollowStore(Deleter& state) {
  std::shared_ptr<const Store> current = CurrentStore();
  if (!current) return false;
  if (current == state.store) return true;
  state = Deleter();
  state.store = std::move(current);
  state.index = std::make_unique<UrlIndex>(*state.store);
  return true;
}

// Brings the deleter up to the record as it is now: what other processes
// appended since, or the whole record when it was replaced. `record` is the
// open record, or invalid when there is none. False with errno.
bool FollowRecord(Deleter& state, const UniqueFd& record) {
  if (!record.Valid()) {
    state.ForgetRecord();
    return true;
  }
  struct stat info {};
  if (fstat(record.Get(), &info) != 0) return false;
  size_t size = static_cast<size_t>(info.st_size);
  bool known = state.recordKnown && info.st_dev == state.recordDevice && info.st_ino == state.recordInode &&
               size >= state.recordEnd;
  if (!known) {
    state.ForgetRecord();
    state.recordKnown = true;
    state.recordDevice = info.st_dev;
    state.recordInode = info.st_ino;
  }
  if (size - state.recordEnd > kMaxRecordRead) {
    errno = EFBIG;  // no fold lets a record grow near this
    return false;
  }
  std::string tail;
  if (!ReadAt(record.Get(), state.recordEnd, size - state.recordEnd, tail)) return false;
  size_t at = 0;
  if (!known) {
    std::optional<RecordHeader> header = ReadRecordHeader(tail, at);
    state.recordLive = header && state.store->Matches(*header);
    if (!state.recordLive) {
      state.recordEnd = size;  // replaced before it is added to
      return true;
    }
  }
  if (!state.recordLive) return true;
  state.recordEnd += ForEachRecordedUrl(tail, at, [&](std::string_view url) { state.index->Remove(url); });
  return true;
}

// The record's size once it holds the deletion of url too.
size_t RecordSizeWith(const Deleter& state, std::string_view url) {
  return (state.recordLive ? state.recordEnd : kHeaderLineLength) + url.size() + 1;
}

// Adds the deletion of url to the record and flushes it to disk: after the
// last whole line of a live record, or as a new record. False with errno;
// then the record holds what it held before, or a torn last line.
bool Record(Deleter& state, UniqueFd& record, const std::string& recordPath, std::string_view url) {
  std::string line = std::string(url) + "\n";
  if (!state.recordLive) {
    RecordHeader header{RandomHashKey().K0, 0};
    header.storeHash = state.store->Hash(header.key);
    std::string fresh = HeaderLine(header) + line;
    if (!ReplaceFile(recordPath, fresh)) return false;
    record.Reset(open(recordPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!record.Valid() || fstat(record.Get(), &info) != 0) return false;
    state.recordKnown = state.recordLive = true;
    state.recordDevice = info.st_dev;
    state.recordInode = info.st_ino;
    state.recordEnd = fresh.size();
    return true;
  }
  // What follows the last whole line is a write that a killed writer never
  // finished; the new line goes in its place.
  if (ftruncate(record.Get(), static_cast<off_t>(state.recordEnd)) != 0) return false;
  if (!WriteAt(record.Get(), state.recordEnd, line) || fdatasync(record.Get()) != 0) return false;
  state.recordEnd += line.size();
  return true;
}

// Writes the store again without the entries the index took, and empties the
// record. A crash between the two leaves a record that no longer matches the
// store, and so deletes nothing. False with errno; then the store is as it
// was.
bool Fold(Deleter& state, const UniqueFd& record, const std::string& path) {
  if (!ReplaceFile(path, state.store->TextWithout(state.index->Removed()))) return false;
  if (record.Valid() && ftruncate(record.Get(), 0) != 0) {
    // a record that does not match the new store deletes nothing
  }
  state = Deleter();
  return true;
}

// Opens the record, without following a link or waiting on a pipe, into
// `record`; left invalid when there is none. False with errno when something
// else than a file is there or it cannot be opened.
bool OpenRecord(const std::string& recordPath, UniqueFd& record) {
  record.Reset(open(recordPath.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!record.Valid()) return errno == ENOENT;
  struct stat info {};
  if (fstat(record.Get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return false;
  }
  return true;
}

// Runs one step of a deletion; on failure the deleter starts afresh next time
// and the last error says why.
template <typename Step>
bool Done(Deleter& state, Step step) {
  if (step()) return true;
  LastErrorFromErrno();
  int error = errno;
  state = Deleter();
  errno = error;
  return false;
}

}  // namespace

std::shared_ptr<const UrlSnapshot> TextStoreSnapshot() {
  std::string path = SystemFile(kTextStoreName);
  // The record before the store: a fold that comes between the two leaves a
  // record that no longer matches, and the store already without its entries.
  std::string record = ReadRecord(path);
  std::shared_ptr<const Store> store = CurrentStore();
  if (!store || record.empty()) return store;
  return ApplyRecord(std::move(store), record);
}

BOOL DeleteFromTextStore(const char* url) {
  std::string path = SystemFile(kTextStoreName);
  std::string recordPath = DeletionRecordPath(path);
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Fail(ERROR_FILE_NOT_FOUND);

  StoreLock lock(path);
  if (!lock.Held()) return Fail(LastErrorFromErrno());
  RemoveAbandonedTemporaries(recordPath);
  std::lock_guard<std::mutex> hold(deleterMutex);
  if (!deleter) deleter = std::make_unique<Deleter>();
  Deleter& state = *deleter;
  UniqueFd record;
  if (!Done(state, [&] { return OpenRecord(recordPath, record); }) ||
      !Done(state, [&] { return FollowStore(state) && FollowRecord(state, record); }))
    return FALSE;

  uint32_t entry = state.index->First(url);
  if (entry == kNoEntry) return Fail(ERROR_FILE_NOT_FOUND);
  std::string localFile = LocalFileOf(*state.store, entry);
  // A record that would outgrow a sixteenth of the store is folded into it
  // instead, so a small store is simply written again.
  bool fold = RecordSizeWith(state, url) > state.store->text.size() / 16;
  state.index->Remove(url);
  if (!Done(state, [&] { return fold ? Fold(state, record, path) : Record(state, record, recordPath, url); }))
    return FALSE;
  if (!localFile.empty()) DeleteCacheFile(localFile);
  return TRUE;
}

namespace {

bool IsSystemFolder(const std::string&) {
  return true;
}

StoreReading ReadTextStore(const CacheContainer&) {
  return {TextStoreSnapshot(), {}};
}

std::optional<BOOL> DeleteFromTextStoreOf(const CacheContainer&, std::string_view url) {
  std::string text(url);
  if (DeleteFromTextStore(text.c_str())) return TRUE;
  if (GetLastError() == ERROR_FILE_NOT_FOUND) return std::nullopt;
  return FALSE;
}

// Each deletion is on disk when it returns: nothing is kept.
BOOL NothingKept() {
  return TRUE;
}

void NothingRemembered() {}

}  // namespace

const UrlStore kTextStore = {kTextStoreName, IsSystemFolder, ReadTextStore, DeleteFromTextStoreOf, NothingKept,
                             NothingRemembered};

}  // namespace trovex
