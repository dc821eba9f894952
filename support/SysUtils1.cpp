#include "support/SysUtils1.h"

#include "base/Ascii.h"
#include "base/Hex.h"
#include "platform/system.h"

namespace trovex {

namespace {

// The byte at i folded to upper case, with the end of the text read as its
// terminating zero.
unsigned char FoldedByteAt(std::string_view s, size_t i) {
  return i < s.size() ? static_cast<unsigned char>(UpperAscii(s[i])) : 0;
}

// A URL given to the browser is its only argument: a scheme that the
// browser fetches from the network keeps it from being read as an option
// or handed to another program.
constexpr std::string_view kWebSchemes[] = {"http://", "https://", "ftp://"};

}  // namespace

int32_t CompareNoCase(std::string_view a, std::string_view b) {
  for (size_t i = 0; i <= b.size(); ++i) {
    int diff = FoldedByteAt(a, i) - FoldedByteAt(b, i);
    if (diff != 0) return diff;
    if (i >= a.size()) break;
  }
  return 0;
}

std::string ChangeFileName(std::string_view path, std::string_view name) {
  size_t cut = path.size();
  while (cut > 0 && !IsDirSeparator(path[cut - 1])) --cut;
  std::string result(path.substr(0, cut));
  result += name;
  return result;
}

std::string IntToText(int32_t n) {
  return std::to_string(n);
}

void ReplaceAll(std::string& text, std::string_view find, std::string_view replacement) {
  if (find.empty()) return;
  for (size_t at = text.find(find); at != std::string::npos; at = text.find(find)) {
    text.replace(at, find.size(), replacement);
  }
}

std::string FormatArgs(std::string_view format, const std::vector<std::string>& args) {
  std::string result;
  size_t from = 0;
  for (const std::string& arg : args) {
    size_t marker = format.find("%s", from);
    if (marker == std::string_view::npos) break;
    result.append(format.substr(from, marker - from));
    result += arg;
    from = marker + 2;
  }
  result.append(format.substr(from));
  return result;
}

bool IsWebAddress(std::string_view url) {
  for (char c : url) {
    if (IsControlByte(c)) return false;
  }
  for (std::string_view scheme : kWebSchemes) {
    if (StartsWithNoCase(url, scheme)) return true;
  }
  return false;
}

std::string EscapeControlBytes(std::string_view text) {
  std::string visible;
  visible.reserve(text.size());
  for (char c : text) {
    if (IsControlByte(c))
      visible += "\\x" + HexText(static_cast<unsigned char>(c), 2, HexCase::kUpper);
    else
      visible += c;
  }
  return visible;
}

}  // namespace trovex
