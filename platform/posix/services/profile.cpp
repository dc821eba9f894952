// Ini files, read the way Windows reads them: section and key names without
// regard to ASCII case, blanks around names and values dropped, one pair of
// matching quotes around a value dropped, ';' lines are comments, and the
// first matching section and key win. Lines that are none of these are
// skipped. Keys before the first section header form a nameless section,
// which an empty section name finds; a header with an empty name ("[]")
// starts a section that no name finds.
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/posix/shared/fileio.h"
#include "platform/win32api.h"
#include "platform/posix/shared/sysfolder.h"
#include "base/Ascii.h"
#include "base/Utf.h"

using namespace trovex;

namespace {

struct Pair {
  std::string_view key;
  std::string_view value;
};

struct Section {
  std::string_view name;
  std::vector<Pair> pairs;
  bool headed = true;  // false for the keys before the first header
};

std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// The next line of `text` from `pos` on; CRLF, LF and CR all end a line.
std::string_view NextLine(std::string_view text, size_t& pos) {
  size_t start = pos;
  size_t end = text.find_first_of("\r\n", start);
  if (end == std::string_view::npos) {
    pos = text.size();
    return text.substr(start);
  }
  pos = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  return text.substr(start, end - start);
}

// The sections of the file in order; the views point into `text`.
std::vector<Section> ParseProfile(std::string_view text) {
  std::vector<Section> sections;
  for (size_t pos = 0; pos < text.size();) {
    std::string_view line = Trim(NextLine(text, pos));
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      sections.push_back({Trim(line.substr(1, close == std::string_view::npos ? close : close - 1)), {}});
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (sections.empty()) sections.push_back({{}, {}, false});
    std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) continue;
    sections.back().pairs.push_back({key, Unquoted(Trim(line.substr(equals + 1)))});
  }
  return sections;
}

const Section* FindSection(const std::vector<Section>& sections, std::string_view name) {
  for (const Section& section : sections)
    if (EqualNoCase(section.name, name) && section.headed != name.empty()) return &section;
  return nullptr;
}

const Pair* FindPair(const Section& section, std::string_view key) {
  for (const Pair& pair : section.pairs)
    if (EqualNoCase(pair.key, key)) return &pair;
  return nullptr;
}

// Names in order of first appearance, each once without regard to ASCII
// case. The lower-case spellings seen are hashed: a file of many names would
// otherwise be compared name by name with all before it.
class UniqueNames {
 public:
  void Add(std::string_view name) {
    if (seen_.insert(LowerAscii(name)).second) names_.push_back(name);
  }
  const std::vector<std::string_view>& Names() const { return names_; }

 private:
  std::vector<std::string_view> names_;
  std::unordered_set<std::string> seen_;
};

DWORD CopyValue(LPSTR buffer, DWORD size, std::string_view value) {
  size_t n = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

// Names each followed by a NUL, and one more NUL at the end. A list that does
// not fit is cut, still ends in two NULs, and counts size - 2.
DWORD CopyList(LPSTR buffer, DWORD size, const std::vector<std::string_view>& names) {
  std::string list;
  for (std::string_view name : names) {
    list += name;
    list += '\0';
  }
  if (list.empty()) list += '\0';
  list += '\0';
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  if (list.size() <= size) {
    std::memcpy(buffer, list.data(), list.size());
    return names.empty() ? 0 : static_cast<DWORD>(list.size() - 1);
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

// A bare file name is looked for in the system folder, as Windows looks for
// one in its own folder.
std::string ProfilePath(std::string_view fileName) {
  if (fileName.find('/') == std::string_view::npos) return SystemFile(fileName);
  return std::string(fileName);
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD size, LPCSTR fileName) {
  if (buffer == nullptr || size == 0) return 0;
  std::string text;
  if (fileName != nullptr && fileName[0] != '\0') ReadWholeFile(ProfilePath(fileName), text);
  std::vector<Section> sections = ParseProfile(text);

  UniqueNames names;
  if (section == nullptr) {
    for (const Section& each : sections)
      if (each.headed) names.Add(each.name);
    return CopyList(buffer, size, names.Names());
  }
  const Section* found = FindSection(sections, section);
  if (key == nullptr) {
    if (found != nullptr)
      for (const Pair& pair : found->pairs) names.Add(pair.key);
    return CopyList(buffer, size, names.Names());
  }
  const Pair* pair = found != nullptr ? FindPair(*found, key) : nullptr;
  if (pair != nullptr) return CopyValue(buffer, size, pair->value);
  // As on Windows, a default loses its trailing blanks.
  std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
  fallback = TrimRight(fallback);
  return CopyValue(buffer, size, fallback);
}
