// Text encodings: UTF-8, UTF-16LE (the registry's and the ESE database's
// text) and Windows-1252 (the code page that names local files of a cache).
// Free of system calls, so that every layer uses these.
#ifndef TROVEX_BASE_UTF_H
#define TROVEX_BASE_UTF_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace trovex {

// One character read from UTF-8 text: its code point and its length in
// bytes; Length 0 when the bytes there are no valid UTF-8 (overlong forms,
// surrogates, code points above U+10FFFF and cut sequences included).
struct Utf8Char {
  uint32_t CodePoint = 0;
  size_t Length = 0;
};

// The character that starts at text[at], at < text.size().
inline Utf8Char DecodeUtf8(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  uint32_t least = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    least = 0x80;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    least = 0x800;
    code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    least = 0x10000;
    code = lead & 0x07u;
  } else {
    return {};
  }
  if (text.size() - at < length) return {};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {};
    code = (code << 6) | (byte(at + i) & 0x3Fu);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
  return {code, length};
}

// True when every byte of text belongs to a valid UTF-8 character.
bool IsValidUtf8(std::string_view text);

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
void AppendCodePoint(std::string& out, uint32_t code);

// Copies `text` to `out`; returns the end of what it wrote.
inline char* AppendBytes(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// UTF-16LE bytes to UTF-8; a lone surrogate becomes U+FFFD, and an odd last
// byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes);

// UTF-8 to UTF-16LE bytes; a byte that starts no UTF-8 sequence is taken as
// the Latin-1 character of the same value.
std::string Utf8ToUtf16(std::string_view text);

// Windows-1252 text as UTF-8. Its five unassigned bytes keep their own code
// points, as the system's conversion does.
std::string Windows1252ToUtf8(std::string_view text);
// The same, written to `out` (Windows1252Utf8Size bytes); returns the end of
// what it wrote.
char* CopyWindows1252AsUtf8(char* out, std::string_view text);
// The bytes `text` takes once converted.
size_t Windows1252Utf8Size(std::string_view text);

}  // namespace trovex

#endif
