// The WebCache databases as a store of the URL cache. A database is only
// read: changing a live ESE database safely takes its log files, so a
// deletion of an entry it holds is refused and nothing is written. Each
// database's snapshot is kept while its file is unchanged, so that the
// report of the sources, every enumeration and a run of deletions of one
// process read it once; a file changed a moment ago is read each time.
#include <sys/stat.h>

#include <ctime>
#include <map>
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

// A database read: its file's status then, the INetCache folder named then,
// and its snapshot.
struct Kept {
  struct stat status {};
  std::string inetCache;
  std::shared_ptr<const UrlSnapshot> snapshot;
};

TROVEX_MODULE_STATE std::mutex keptMutex;
TROVEX_MODULE_STATE std::map<std::string, Kept> kept;  // by folder

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

// Whether the file was last changed long enough ago that a change from now
// on gives it other times than `status` holds: a file's times advance in
// ticks, and a change within the tick of the reading would go unseen.
bool Settled(const struct stat& status) {
  time_t now = time(nullptr);
  return status.st_mtim.tv_sec < now - 1 && status.st_ctim.tv_sec < now - 1;
}

bool HoldsDatabase(const std::string& folder) {
  return DatabaseStatus(folder).has_value();
}

StoreReading ReadDatabase(const CacheContainer& container) {
  StoreReading reading;
  std::optional<struct stat> status = DatabaseStatus(container.Folder);
  std::string inetCache = NamedINetCache();
  std::lock_guard<std::mutex> hold(keptMutex);
  auto found = kept.find(container.Folder);
  if (status && found != kept.end() && SameStatus(*status, found->second.status) &&
      found->second.inetCache == inetCache) {
    reading.Snapshot = found->second.snapshot;
    return reading;
  }
  if (found != kept.end()) kept.erase(found);
  reading.Snapshot = WebCacheSnapshot(container.Folder, &reading.Problem);
  if (!reading.Snapshot) {
    if (reading.Problem.empty()) reading.Problem = "cannot be read";
    return reading;
  }
  if (status && Settled(*status)) kept[container.Folder] = Kept{*status, std::move(inetCache), reading.Snapshot};
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
  if (!Holds(*reading.Snapshot, url)) return std::nullopt;
  return Fail(ERROR_ACCESS_DENIED);
}

// Nothing is ever kept to be written.
BOOL NothingKept() {
  return TRUE;
}

// A run keeps nothing of its own: the snapshots are kept anyway.
void ForgetRun() {}

}  // namespace

const UrlStore kWebCacheStore = {kWebCacheName, HoldsDatabase, ReadDatabase, RefuseDeletion, NothingKept, ForgetRun};

}  // namespace trovex
