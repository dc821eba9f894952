// The Linux system layer pointed at a folder: for a while (SystemFolderScope),
// or at a fresh temporary folder for one test (TempSystemFolder), removed
// with everything in it afterwards.
#ifndef TROVEX_TESTS_SUPPORT_SYSTEMFOLDER_H
#define TROVEX_TESTS_SUPPORT_SYSTEMFOLDER_H

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/TempFolder.h"

namespace trovex {

// Points TROVEX_SYSTEM at folder for the life of the object, and gives it
// back its old value, or none, afterwards.
class SystemFolderScope {
 public:
  explicit SystemFolderScope(const std::string& folder);
  ~SystemFolderScope();
  SystemFolderScope(const SystemFolderScope&) = delete;
  SystemFolderScope& operator=(const SystemFolderScope&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

class TempSystemFolder {
 public:
  TempSystemFolder() : path_(folder_.path().string()), scope_(path_) {}

  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

  void Write(std::string_view name, std::string_view bytes) const { WriteBytes(File(name), bytes); }
  std::string Read(std::string_view name) const { return ReadBytes(File(name)); }

  static void WriteBytes(const std::string& path, std::string_view bytes);
  static std::string ReadBytes(const std::string& path);

  // The URLs of a store text's entry lines, in order.
  static std::vector<std::string> UrlsOfLines(std::string_view text);

  // The URLs that the record of deletions beside urlcache.txt names: its
  // whole lines after the first, in order.
  std::vector<std::string> RecordedUrls() const;

  // The URLs of the store as a reader sees it, for a record that belongs to
  // the store beside it: each recorded URL takes the first line left with it.
  std::vector<std::string> UrlsAsStored() const;

 private:
  // Declared in this order so that the scope ends before the folder goes.
  TempFolder folder_;
  std::string path_;
  SystemFolderScope scope_;
};

}  // namespace trovex

#endif
