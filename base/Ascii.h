// ASCII letter case and blanks. Case is folded for the ASCII letters alone:
// the names compared (hosts, keys, sections, prefixes) are matched the way
// the system matches them, and no locale may change that. Free of system
// calls, so that every layer uses these.
#ifndef TROVEX_BASE_ASCII_H
#define TROVEX_BASE_ASCII_H

#include <cstddef>
#include <string>
#include <string_view>

namespace trovex {

inline char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// A control byte: below 0x20, or DEL.
inline bool IsControlByte(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

inline bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

// An ASCII letter or digit.
inline bool IsAsciiAlnum(char c) {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// `text` without the leading / trailing characters found in `blanks`.
inline std::string_view TrimLeft(std::string_view text, std::string_view blanks = " \t") {
  while (!text.empty() && blanks.find(text.front()) != std::string_view::npos) text.remove_prefix(1);
  return text;
}

inline std::string_view TrimRight(std::string_view text, std::string_view blanks = " \t") {
  while (!text.empty() && blanks.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
  return text;
}

// `text` without leading and trailing spaces and tabs.
inline std::string_view Trim(std::string_view text) {
  return TrimRight(TrimLeft(text));
}

}  // namespace trovex

#endif
