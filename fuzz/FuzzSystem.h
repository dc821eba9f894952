// The system folder of one fuzzing process, and the guard on deletions.
//
// The folder lies in memory (/dev/shm) where the system has it, since the
// stores are written with a flush to disk on every change. TROVEX_SYSTEM
// points to it while the object lives.
//
// While a DeletionGuard lives, a file deleted through unlink() outside the
// system folder, or one of the stores themselves, stops the run as a
// finding: a cache entry must never take such a file with it.
#ifndef TROVEX_FUZZ_FUZZSYSTEM_H
#define TROVEX_FUZZ_FUZZSYSTEM_H

#include <string>
#include <string_view>

namespace trovex {

class FuzzSystemFolder {
 public:
  FuzzSystemFolder();
  ~FuzzSystemFolder();
  FuzzSystemFolder(const FuzzSystemFolder&) = delete;
  FuzzSystemFolder& operator=(const FuzzSystemFolder&) = delete;

  // The folder's real path, without a trailing slash.
  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

  // A new file with these bytes takes the place of name (a new inode, so
  // that nothing can take it for the file it replaces); parent folders are
  // created. Stops the run when it cannot be written.
  void Put(std::string_view name, std::string_view bytes) const;

  // The bytes of name; empty when it cannot be read.
  std::string Read(std::string_view name) const;

  bool Exists(std::string_view name) const;

  // A folder outside the system folder, with a file "keep" in it, and links
  // from inside the system folder to both: "out" to the folder and
  // "out-file" to the file.
  void AddWaysOut();

 private:
  std::string path_;
};

// The process's one system folder with its ways out, made at the first call
// and kept for every input after it.
const FuzzSystemFolder& FolderWithWaysOut();

class DeletionGuard {
 public:
  explicit DeletionGuard(const FuzzSystemFolder& folder);
  ~DeletionGuard();
  DeletionGuard(const DeletionGuard&) = delete;
  DeletionGuard& operator=(const DeletionGuard&) = delete;
};

}  // namespace trovex

#endif
