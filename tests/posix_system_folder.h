// A fresh system folder for one test: a temporary folder that TROVEX_SYSTEM
// points to while the test runs, removed with everything in it afterwards.
#ifndef TROVEX_TESTS_POSIX_SYSTEM_FOLDER_H
#define TROVEX_TESTS_POSIX_SYSTEM_FOLDER_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

class TempSystemFolder {
 public:
  TempSystemFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trovex-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    setenv("TROVEX_SYSTEM", path_.c_str(), 1);
  }
  ~TempSystemFolder() {
    unsetenv("TROVEX_SYSTEM");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempSystemFolder(const TempSystemFolder&) = delete;
  TempSystemFolder& operator=(const TempSystemFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

  void Write(std::string_view name, std::string_view bytes) const { WriteBytes(File(name), bytes); }
  std::string Read(std::string_view name) const { return ReadBytes(File(name)); }

  static void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

#endif
