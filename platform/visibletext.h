// Text from a cache made safe to show on a terminal. The same on every
// system and free of system calls, so that both the Linux message box and
// the host program use this one routine.
//
// The form: a byte that is a control character (below 0x20, or 0x7F) or
// that is not part of valid UTF-8 becomes "\xHH"; a valid UTF-8 character
// that a terminal obeys instead of showing (U+0080 to U+009F, and the
// direction controls U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069)
// becomes "\uHHHH". Hex digits are lower case. A backslash stays as it is:
// the tree's own paths are full of them, and the form is there to be seen,
// not read back.
#ifndef TROVEX_PLATFORM_VISIBLETEXT_H
#define TROVEX_PLATFORM_VISIBLETEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
inline bool IsValidUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    Utf8Char c = DecodeUtf8(text, at);
    if (c.Length == 0) return false;
    at += c.Length;
  }
  return true;
}

// True for the code points a terminal acts on rather than shows: C0
// controls, DEL, C1 controls and the direction controls that reorder what
// follows them.
inline bool IsHiddenCodePoint(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x200E || code == 0x200F ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// "\x" or "\u" (kind) and value in that many lower-case hex digits.
inline std::string HexEscape(char kind, uint32_t value, int digits) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string escape = {'\\', kind};
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) escape += kHex[(value >> shift) & 0x0F];
  return escape;
}

// text with every hidden character and every byte outside valid UTF-8 in
// its escaped form; everything else as it is.
inline std::string VisibleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    Utf8Char c = DecodeUtf8(text, at);
    if (c.Length == 0) {
      shown += HexEscape('x', static_cast<unsigned char>(text[at]), 2);
      at += 1;
      continue;
    }
    if (!IsHiddenCodePoint(c.CodePoint)) {
      shown.append(text, at, c.Length);
    } else if (c.Length == 1) {
      shown += HexEscape('x', c.CodePoint, 2);
    } else {
      shown += HexEscape('u', c.CodePoint, 4);
    }
    at += c.Length;
  }
  return shown;
}

#endif
