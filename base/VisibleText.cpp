#include "base/VisibleText.h"

#include "base/Hex.h"
#include "base/Utf.h"

namespace trovex {

namespace {

void AppendHexEscape(std::string& out, char kind, uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += '\\';
  out += kind;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

// Printable ASCII, which is shown as it is.
bool IsPlain(char c) { return c >= 0x20 && c < 0x7F; }

}  // namespace

std::string HexEscape(char kind, uint32_t value, int digits) {
  return std::string{'\\', kind} + HexText(value, static_cast<size_t>(digits));
}

std::string VisibleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    // Cache texts are mostly printable ASCII: such a run is copied at once.
    size_t plain = at;
    while (plain < text.size() && IsPlain(text[plain])) ++plain;
    if (plain > at) {
      shown.append(text, at, plain - at);
      at = plain;
      continue;
    }
    Utf8Char c = DecodeUtf8(text, at);
    if (c.Length == 0) {
      AppendHexEscape(shown, 'x', static_cast<unsigned char>(text[at]), 2);
      at += 1;
      continue;
    }
    if (!IsHiddenCodePoint(c.CodePoint)) {
      shown.append(text, at, c.Length);
    } else if (c.Length == 1) {
      AppendHexEscape(shown, 'x', c.CodePoint, 2);
    } else {
      AppendHexEscape(shown, 'u', c.CodePoint, 4);
    }
    at += c.Length;
  }
  return shown;
}

}  // namespace trovex
