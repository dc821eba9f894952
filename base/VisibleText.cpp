#include "base/VisibleText.h"

#include "base/Hex.h"
#include "base/Utf.h"

namespace trovex {

std::string HexEscape(char kind, uint32_t value, int digits) {
  return std::string{'\\', kind} + HexText(value, static_cast<size_t>(digits));
}

std::string VisibleText(std::string_view text) {
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

}  // namespace trovex
