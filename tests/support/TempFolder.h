// A fresh temporary folder for one test, removed with everything in it, and
// small helpers to fill it.
#ifndef TROVEX_TESTS_SUPPORT_TEMPFOLDER_H
#define TROVEX_TESTS_SUPPORT_TEMPFOLDER_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trovex-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Points the Linux system layer at folder for the life of the object.
class SystemFolderScope {
 public:
  explicit SystemFolderScope(const std::string& folder) {
    const char* old = std::getenv("TROVEX_SYSTEM");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TROVEX_SYSTEM", folder.c_str(), 1);
  }
  ~SystemFolderScope() {
    if (had_) {
      setenv("TROVEX_SYSTEM", old_.c_str(), 1);
    } else {
      unsetenv("TROVEX_SYSTEM");
    }
  }
  SystemFolderScope(const SystemFolderScope&) = delete;
  SystemFolderScope& operator=(const SystemFolderScope&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

#endif
