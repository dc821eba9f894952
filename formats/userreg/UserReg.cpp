#include "formats/userreg/UserReg.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "base/Ascii.h"
#include "base/Hex.h"
#include "base/Utf.h"

namespace trovex {

namespace {

constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The character after a backslash in Wine's quoted strings: \\ \" and the C
// letters, \x with up to four hex digits (a UTF-16 unit), \ with up to three
// octal digits. Advances `at` past the escape.
void AppendEscape(std::string_view text, size_t& at, std::string& out) {
  char c = text[at++];
  static constexpr std::string_view kLetters = "abtnvfre";
  static constexpr std::string_view kCodes = "\a\b\t\n\v\f\r\x1b";
  if (size_t letter = kLetters.find(c); letter != std::string_view::npos) {
    out += kCodes[letter];
  } else if (c == 'x') {
    uint32_t code = 0;
    for (int digits = 0; digits < 4 && at < text.size() && HexDigit(text[at]) >= 0; ++digits) {
      code = code * 16 + static_cast<uint32_t>(HexDigit(text[at++]));
    }
    AppendCodePoint(out, code);
  } else if (c >= '0' && c <= '7') {
    uint32_t code = static_cast<uint32_t>(c - '0');
    for (int digits = 1; digits < 3 && at < text.size() && text[at] >= '0' && text[at] <= '7'; ++digits) {
      code = code * 8 + static_cast<uint32_t>(text[at++] - '0');
    }
    AppendCodePoint(out, code);
  } else {
    out += c;
  }
}

// Reads the text up to the unescaped `end` character from `at`, unescaped;
// nullopt when the line ends first. Advances `at` past `end`.
std::optional<std::string> ReadUntil(std::string_view line, size_t& at, char end) {
  std::string out;
  while (at < line.size()) {
    char c = line[at++];
    if (c == end) return out;
    if (c == '\\') {
      if (at >= line.size()) return std::nullopt;
      AppendEscape(line, at, out);
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

// The key a "[key] time" line opens, unescaped; nullopt for any other line.
std::optional<std::string> SectionName(std::string_view line) {
  if (line.empty() || line.front() != '[') return std::nullopt;
  size_t at = 1;
  return ReadUntil(line, at, ']');
}

// The name and value of a `"name"="value"` line; nullopt for any other line,
// also for values of another type (str(2):, hex:, dword:).
std::optional<std::pair<std::string, std::string>> StringValue(std::string_view line) {
  if (line.empty() || line.front() != '"') return std::nullopt;
  size_t at = 1;
  std::optional<std::string> name = ReadUntil(line, at, '"');
  if (!name || line.substr(at, 2) != "=\"") return std::nullopt;
  at += 2;
  std::optional<std::string> value = ReadUntil(line, at, '"');
  if (!value) return std::nullopt;
  return std::make_pair(std::move(*name), std::move(*value));
}

}  // namespace

std::optional<std::string> ShellFolderValue(std::string_view userReg, std::string_view name) {
  bool inKey = false;
  std::optional<std::string> found;
  while (!userReg.empty()) {
    size_t end = userReg.find('\n');
    std::string_view line = userReg.substr(0, end);
    userReg.remove_prefix(end == std::string_view::npos ? userReg.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (std::optional<std::string> section = SectionName(line)) {
      inKey = EqualNoCase(*section, kShellFoldersKey);
    } else if (inKey) {
      std::optional<std::pair<std::string, std::string>> value = StringValue(line);
      // The last one wins, as a registry loaded line by line would have it.
      if (value && EqualNoCase(value->first, name)) found = std::move(value->second);
    }
  }
  return found;
}

std::optional<std::string> PrefixPath(const std::string& prefix, std::string_view windowsPath) {
  if (windowsPath.size() < 3 || windowsPath[1] != ':' || windowsPath[2] != '\\') return std::nullopt;
  char drive = LowerAscii(windowsPath[0]);
  if (drive < 'a' || drive > 'z') return std::nullopt;
  std::string path = prefix + "/dosdevices/" + drive + ":";
  std::string_view rest = windowsPath.substr(3);
  while (!rest.empty()) {
    size_t slash = rest.find('\\');
    std::string_view part = rest.substr(0, slash);
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    if (part.empty()) continue;
    if (part == "." || part == "..") return std::nullopt;
    bool plain = std::none_of(part.begin(), part.end(),
                              [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '/'; });
    if (!plain) return std::nullopt;
    path += '/';
    path += part;
  }
  return path;
}

}  // namespace trovex
