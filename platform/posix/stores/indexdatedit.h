// A run of deletions from one container's index.dat, made the way Wine's
// wininet deletes so that Wine keeps using the container afterwards.
// Internal to platform/posix.
//
// The container's folder is opened once, without following a link at its
// last component, and every later step goes through that handle: the lock,
// the clean-up of temporary files, the read, the access check, the local
// files, the new index and its rename. A folder renamed meanwhile, with a
// link put in its place, is therefore never left for the link's target.
//
// The index is read once, under an exclusive flock of index.dat itself (no
// lock file is left in a folder that Windows or Wine own), and each deletion
// edits the image in memory. Commit writes the new index whole to a
// temporary file, flushes it and renames it into place, so that a kill at
// any moment leaves the old index or the new one; only then are the deleted
// entries' local files removed.
#ifndef TROVEX_PLATFORM_POSIX_INDEXDATEDIT_H
#define TROVEX_PLATFORM_POSIX_INDEXDATEDIT_H

#include <sys/stat.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/shared/fileio.h"
#include "formats/indexdat/IndexDatFormat.h"
#include "sysapi.h"

namespace trovex {

class IndexDatEdit {
 public:
  // Opens the container, takes its index's lock and reads it; null with
  // *error (ERROR_FILE_NOT_FOUND without a readable index, else as
  // DeleteFromIndexDat says) when it cannot.
  static std::unique_ptr<IndexDatEdit> Open(const std::string& folder, DWORD* error);

  // Whether the index read holds url, found by its exact bytes.
  bool Holds(std::string_view url) const { return records_.count(url) != 0; }

  // Deletes url's entry from the image. FALSE with the last error, as
  // DeleteFromIndexDat gives it, for a refusal, which changes nothing.
  BOOL Delete(std::string_view url);

  // Puts the edited index in place of the one read, unless nothing was
  // deleted, then removes the deleted entries' local files; it ends the
  // edit. FALSE with the last error when the index cannot be written or is
  // no longer the one read, and then nothing changed.
  BOOL Commit();

  // Gives up the container's lock and handles; Holds still answers from the
  // index read, and nothing else may be called.
  void Release();

  // The index as it was read.
  const struct stat& Status() const { return status_; }

  // An entry's local file that goes once the new index is in place.
  struct DoomedFile {
    uint8_t subfolder;
    std::string name;
    uint32_t notedTime;  // its last-write time as the entry noted it
  };

 private:
  using Records = std::unordered_map<std::string_view, indexdat::UrlRecord>;

  IndexDatEdit() = default;
  bool Load(const std::string& folder, DWORD* error);
  void Index();
  int SubfolderHandle(uint8_t subfolder);
  uint32_t NotedTime(const indexdat::UrlRecord& record) const;
  std::optional<DoomedFile> LocalFileOf(const indexdat::UrlRecord& record, bool* leak);
  void ForgetRecord(Records::iterator found);

  UniqueFd folder_;
  UniqueFd index_;  // holds the flock
  struct stat status_ {};
  std::string image_;
  indexdat::Header header_;
  DWORD refusal_ = ERROR_SUCCESS;  // what every deletion from this index meets
  int unwritable_ = 0;             // errno of the access check of the folder
  Records records_;  // by URL (views into image_), the first record of each
  std::unordered_map<std::string_view, std::vector<indexdat::UrlRecord>> twins_;  // the later ones, in order
  std::unordered_map<uint32_t, std::vector<indexdat::Slot>> slots_;     // by record offset
  std::array<UniqueFd, indexdat::kMaxSubfolders> subfolders_;
  std::vector<DoomedFile> doomed_;
  bool changed_ = false;
};

}  // namespace trovex

#endif
