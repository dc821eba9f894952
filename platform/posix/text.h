// The text helpers the posix files share: ASCII case folding, trimming and
// the UTF-8 / UTF-16LE conversions of the text stores. Internal to
// platform/posix.
#ifndef TROVEX_PLATFORM_POSIX_TEXT_H
#define TROVEX_PLATFORM_POSIX_TEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Copies `text` to `out`; returns the end of what it wrote.
inline char* Append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Case is folded for ASCII letters only: the names compared (keys, values,
// sections, prefixes) are matched the way the system matches them, and no
// locale may change that.
inline char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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

// The bytes the code point `code` (at most U+10FFFF) takes in UTF-8.
inline size_t Utf8Size(uint32_t code) {
  return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

// Writes `code` as UTF-8 at `out` (Utf8Size(code) bytes); returns the end of
// what it wrote.
inline char* EncodeUtf8(char* out, uint32_t code) {
  size_t size = Utf8Size(code);
  if (size == 1) {
    *out++ = static_cast<char>(code);
    return out;
  }
  static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (size_t i = size - 1; i > 0; --i) {
    out[i] = static_cast<char>(0x80 | (code & 0x3F));
    code >>= 6;
  }
  out[0] = static_cast<char>(kLead[size] | code);
  return out + size;
}

// Appends the code point `code` (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, uint32_t code);

// UTF-16LE bytes to UTF-8; a lone surrogate becomes U+FFFD, and an odd last
// byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes);

// UTF-8 to UTF-16LE bytes; a byte that starts no UTF-8 sequence is taken as
// the Latin-1 character of the same value.
std::string Utf8ToUtf16(std::string_view text);

#endif
