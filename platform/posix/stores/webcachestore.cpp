// The WebCache databases as a store of the URL cache. A database is only
// read: changing a live ESE database safely takes its log files, so a
// deletion of an entry it holds is refused and nothing is written. The last
// snapshot read is shared while its file is unchanged, so that the report
// of the sources, the enumeration and a run of deletions read it once.
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/shared/win32error.h"
#include "platform/posix/stores/urlstore.h"
#include "platform/posix/stores/webcache.h"
#include "platform/system.h"

namespace trovex {

namespace {

// The last database read: its folder, its file's status then, and the
// snapshot, held for as long as someone uses it, or a run of deletions
// asked about it.
struct Shared {
  std::string folder;
  struct stat status {};
  std::weak_ptr<const UrlSnapshot> snapshot;
  std::shared_ptr<const UrlSnapshot> heldForRun;
};

TROVEX_MODULE_STATE std::mutex sharedMutex;
TROVEX_MODULE_STATE Shared shared;

std::optional<struct stat> DatabaseStatus(const std::string& folder) {
  for (const char* name : {kWebCacheName, kWebCacheOldName}) {
    struct stat info {};
    if (stat((folder + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info;
  }
  return std::nullopt;
}

bool SameStatus(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

bool HoldsDatabase(const std::string& folder) {
  return DatabaseStatus(folder).has_value();
}

StoreReading ReadDatabase(const CacheContainer& container) {
  StoreReading reading;
  std::optional<struct stat> status = DatabaseStatus(container.Folder);
  std::lock_guard<std::mutex> hold(sharedMutex);
  if (status && shared.folder == container.Folder && SameStatus(*status, shared.status)) {
    if ((reading.Snapshot = shared.snapshot.lock())) return reading;
  }
  reading.Snapshot = WebCacheSnapshot(container.Folder, &reading.Problem);
  if (!reading.Snapshot) {
    if (reading.Problem.empty()) reading.Problem = "cannot be read";
    return reading;
  }
  if (status) {
    shared.folder = container.Folder;
    shared.status = *status;
    shared.snapshot = reading.Snapshot;
    shared.heldForRun.reset();
  }
  return reading;
}

bool Holds(const UrlSnapshot& store, std::string_view url) {
  for (size_t i = 0; i < store.Count(); ++i) {
    if (store.Url(i) == url) return true;
  }
  return false;
}

std::optional<BOOL> RefuseDeletion(const CacheContainer& container, std::string_view url) {
  StoreReading reading = ReadDatabase(container);
  if (!reading.Snapshot) return std::nullopt;
  {
    std::lock_guard<std::mutex> hold(sharedMutex);
    if (shared.snapshot.lock() == reading.Snapshot) shared.heldForRun = reading.Snapshot;
  }
  if (!Holds(*reading.Snapshot, url)) return std::nullopt;
  return Fail(ERROR_ACCESS_DENIED);
}

// Nothing is ever kept to be written.
BOOL NothingKept() {
  return TRUE;
}

void ForgetRun() {
  std::lock_guard<std::mutex> hold(sharedMutex);
  shared.heldForRun.reset();
}

}  // namespace

const UrlStore kWebCacheStore = {kWebCacheName, HoldsDatabase, ReadDatabase, RefuseDeletion, NothingKept, ForgetRun};

}  // namespace trovex
