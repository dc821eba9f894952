// The index.dat containers as a store of the URL cache. Deletions between
// BeginCacheChanges and EndCacheChanges are made in memory: the container
// that holds the entry stays locked and read, each deletion edits its
// image, and it is written once, when the run ends or a deletion needs
// another container (one thread holds one container's lock at a time).
// Containers examined on the way are remembered while their index is
// unchanged. The store list calls these functions one at a time.
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/stores/cachelock.h"
#include "platform/posix/stores/indexdat.h"
#include "platform/posix/stores/indexdatedit.h"
#include "platform/posix/stores/urlstore.h"
#include "platform/posix/shared/win32error.h"
#include "platform/system.h"

namespace trovex {

namespace {

// A container examined for a URL it did not hold, and what it holds.
struct Examined {
  std::string folder;
  std::unique_ptr<IndexDatEdit> edit;  // released: its URLs only
};

// The container held for deletions, and the containers examined.
struct Held {
  std::string folder;
  std::optional<ContainerLock> lock;
  std::unique_ptr<IndexDatEdit> edit;
  std::vector<Examined> examined;
};

TROVEX_MODULE_STATE Held held;

bool SameStatus(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Whether the container was examined and its index, still unchanged, does
// not hold url.
bool KnownWithout(const std::string& folder, std::string_view url) {
  for (auto each = held.examined.begin(); each != held.examined.end(); ++each) {
    if (each->folder != folder) continue;
    struct stat now {};
    if (stat((folder + "/" + kIndexDatName).c_str(), &now) == 0 && SameStatus(now, each->edit->Status()))
      return !each->edit->Holds(url);
    held.examined.erase(each);
    return false;
  }
  return false;
}

bool Holds(const UrlSnapshot& store, std::string_view url) {
  for (size_t i = 0; i < store.Count(); ++i) {
    if (store.Url(i) == url) return true;
  }
  return false;
}

// A container whose lock or index is not to be had now: a deletion of a URL
// it holds is refused with `error`, one it does not hold looks further.
std::optional<BOOL> ExamineUnlocked(const CacheContainer& container, std::string_view url, DWORD error) {
  std::shared_ptr<const UrlSnapshot> index = IndexDatSnapshot(container.Folder);
  if (index && Holds(*index, url)) return Fail(error);
  return std::nullopt;
}

// Takes the container's locks and reads it; when it holds url, it becomes
// the held container and the deletion is made. Nothing when it does not.
std::optional<BOOL> Examine(const CacheContainer& container, std::string_view url) {
  ContainerLock lock(container);
  if (!lock.Held()) return ExamineUnlocked(container, url, lock.Error());
  DWORD error = ERROR_SUCCESS;
  std::unique_ptr<IndexDatEdit> edit = IndexDatEdit::Open(container.Folder, &error);
  if (!edit) {
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
    return ExamineUnlocked(container, url, error);
  }
  if (!edit->Holds(url)) {
    edit->Release();
    held.examined.push_back({container.Folder, std::move(edit)});
    return std::nullopt;
  }
  held.folder = container.Folder;
  held.lock.emplace(std::move(lock));
  held.edit = std::move(edit);
  return held.edit->Delete(url);
}

BOOL CommitHeld() {
  if (!held.edit) return TRUE;
  BOOL committed = held.edit->Commit();
  DWORD error = GetLastError();
  held.edit.reset();
  held.lock.reset();
  held.folder.clear();
  if (!committed) SetLastError(error);
  return committed;
}

// A lock is taken only to examine a container, so that a URL no container
// holds is never refused for one.
std::optional<BOOL> DeleteFromContainer(const CacheContainer& container, std::string_view url) {
  if (held.edit && held.folder == container.Folder) {
    if (held.edit->Holds(url)) return held.edit->Delete(url);
    return std::nullopt;
  }
  if (KnownWithout(container.Folder, url)) return std::nullopt;
  CommitHeld();
  return Examine(container, url);
}

bool HoldsIndex(const std::string& folder) {
  struct stat info {};
  return stat((folder + "/" + kIndexDatName).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

StoreReading ReadContainer(const CacheContainer& container) {
  StoreReading reading;
  reading.Snapshot = IndexDatSnapshot(container.Folder, &reading.Problem);
  if (!reading.Snapshot && reading.Problem.empty()) reading.Problem = "cannot be read";
  return reading;
}

void ForgetExamined() {
  held.examined.clear();
}

}  // namespace

const UrlStore kIndexDatStore = {kIndexDatName, HoldsIndex, ReadContainer, DeleteFromContainer, CommitHeld,
                                 ForgetExamined};

}  // namespace trovex
