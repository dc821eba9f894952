// A fresh system folder for one test: a temporary folder that TROVEX_SYSTEM
// points to while the test runs, removed with everything in it afterwards.
#ifndef TROVEX_TESTS_SUPPORT_SYSTEMFOLDER_H
#define TROVEX_TESTS_SUPPORT_SYSTEMFOLDER_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

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

 // The URLs of a store text's entry lines, in order.
  static std::vector<std::string> UrlsOfLines(std::string_view text) {
    std::vector<std::string> urls;
    for (std::string_view line : Lines(text)) {
      size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
      if (!line.starts_with('#') && tab2 != std::string_view::npos) urls.emplace_back(line.substr(tab1 + 1, tab2 - tab1 - 1));
    }
    return urls;
  }

  // The URLs that the record of deletions beside urlcache.txt names: its
  // whole lines after the first, in order.
  std::vector<std::string> RecordedUrls() const {
    std::vector<std::string> lines = Lines(Read("urlcache.txt.deleted"));
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
  }

  // The URLs of the store as a reader sees it, for a record that belongs to
  // the store beside it: each recorded URL takes the first line left with it.
  std::vector<std::string> UrlsAsStored() const {
    std::vector<std::string> urls = UrlsOfLines(Read("urlcache.txt"));
    for (const std::string& gone : RecordedUrls()) {
      for (auto at = urls.begin(); at != urls.end(); ++at) {
        if (*at != gone) continue;
        urls.erase(at);
        break;
      }
    }
    return urls;
  }

 private:
  // The whole lines of text, without their '\n'; a last line without one is left out.
  static std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    for (size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1))
      lines.emplace_back(text.substr(0, end));
    return lines;
  }

  std::string path_;
};

#endif
