#include "tests/support/SystemFolder.h"

#include <stdlib.h>

#include <fstream>

namespace trovex {

namespace {

// The whole lines of text, without their '\n'; a last line without one is left out.
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  for (size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1))
    lines.emplace_back(text.substr(0, end));
  return lines;
}

}  // namespace

SystemFolderScope::SystemFolderScope(const std::string& folder) {
  const char* old = getenv("TROVEX_SYSTEM");
  had_ = old != nullptr;
  if (had_) old_ = old;
  setenv("TROVEX_SYSTEM", folder.c_str(), 1);
}

SystemFolderScope::~SystemFolderScope() {
  if (had_) {
    setenv("TROVEX_SYSTEM", old_.c_str(), 1);
  } else {
    unsetenv("TROVEX_SYSTEM");
  }
}

void TempSystemFolder::WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempSystemFolder::ReadBytes(const std::string& path) {
  return ReadFile(path);
}

std::vector<std::string> TempSystemFolder::UrlsOfLines(std::string_view text) {
  std::vector<std::string> urls;
  for (std::string_view line : Lines(text)) {
    size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
    if (!line.starts_with('#') && tab2 != std::string_view::npos) urls.emplace_back(line.substr(tab1 + 1, tab2 - tab1 - 1));
  }
  return urls;
}

std::vector<std::string> TempSystemFolder::RecordedUrls() const {
  std::vector<std::string> lines = Lines(Read("urlcache.txt.deleted"));
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

std::vector<std::string> TempSystemFolder::UrlsAsStored() const {
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

}  // namespace trovex
