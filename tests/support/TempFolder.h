// A fresh temporary folder for one test or benchmark, removed with
// everything in it, and small helpers to fill it.
#ifndef TROVEX_TESTS_SUPPORT_TEMPFOLDER_H
#define TROVEX_TESTS_SUPPORT_TEMPFOLDER_H

#include <filesystem>
#include <string>

namespace trovex {

class TempFolder {
 public:
  // A new folder in parent; throws std::runtime_error when none can be made.
  explicit TempFolder(const std::filesystem::path& parent = std::filesystem::temp_directory_path());
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Writes bytes to path, making the folders on the way.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace trovex

#endif
