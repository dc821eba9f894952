#include "base/VisibleText.h"

#include <cstring>

#include "base/Hex.h"
#include "base/Utf.h"

namespace trovex {

namespace {

void AppendHexEscape(std::string& out, char kind, uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char escape[6] = {'\\', kind};
  for (int i = 0; i < digits; ++i) escape[2 + i] = kDigits[(value >> (4 * (digits - 1 - i))) & 0xF];
  out.append(escape, static_cast<size_t>(2 + digits));
}

// Printable ASCII, which is shown as it is.
bool IsPlain(char c) { return c >= 0x20 && c < 0x7F; }

// Where the run of printable ASCII that starts at `at` ends. Eight bytes are
// looked at in one word while all of them are plain: no byte below 0x20
// (the word less 0x20 in each byte borrows into a high bit that the byte
// lacked) and none from 0x7F up (the byte plus 1, or the byte itself, has
// its high bit). Either test is exact about whether any byte fails it.
size_t PlainRunEnd(std::string_view text, size_t at) {
  constexpr uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  while (at + 8 <= text.size()) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    uint64_t below = (word - kOnes * 0x20) & ~word & kHighs;
    uint64_t above = ((word + kOnes) | word) & kHighs;
    if ((below | above) != 0) break;
    at += 8;
  }
  while (at < text.size() && IsPlain(text[at])) ++at;
  return at;
}

}  // namespace

std::string HexEscape(char kind, uint32_t value, int digits) {
  return std::string{'\\', kind} + HexText(value, static_cast<size_t>(digits));
}

void AppendVisibleText(std::string& shown, std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    // Cache texts are mostly printable ASCII: such a run is copied at once.
    size_t plain = PlainRunEnd(text, at);
    if (plain > at) {
      shown.append(text, at, plain - at);
      at = plain;
      continue;
    }
    // An ASCII byte that is not plain is a control character.
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      AppendHexEscape(shown, 'x', static_cast<unsigned char>(text[at]), 2);
      at += 1;
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
}

std::string VisibleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  AppendVisibleText(shown, text);
  return shown;
}

}  // namespace trovex
