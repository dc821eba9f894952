#include "host/Output.h"

#include <iostream>

void ReportError(std::string_view message) {
  std::cout.flush();
  std::cerr << "trovex: " << Shown(message) << '\n';
}

namespace {

// The length of the UTF-8 sequence of a printable character at text[i], or
// 0 when none starts there.
size_t PrintableSequence(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  if (lead >= 0x20 && lead < 0x7F) return 1;
  size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  if (lead == 0xC2 && byte(i + 1) < 0xA0) return 0;  // C1 controls
  if (lead == 0xE0 && byte(i + 1) < 0xA0) return 0;  // overlong
  if (lead == 0xED && byte(i + 1) >= 0xA0) return 0;  // surrogates
  if (lead == 0xF0 && byte(i + 1) < 0x90) return 0;  // overlong
  if (lead == 0xF4 && byte(i + 1) >= 0x90) return 0;  // past U+10FFFF
  return length;
}

}  // namespace

std::string Shown(std::string_view text) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (size_t length = PrintableSequence(text, i)) {
      shown.append(text.substr(i, length));
      i += length;
      continue;
    }
    auto byte = static_cast<unsigned char>(text[i++]);
    shown += "\\x";
    shown += kHex[byte >> 4];
    shown += kHex[byte & 0x0F];
  }
  return shown;
}

std::string CountOf(uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string JsonString(std::string_view text) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string json = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': json += "\\\""; break;
      case '\\': json += "\\\\"; break;
      case '\n': json += "\\n"; break;
      case '\r': json += "\\r"; break;
      case '\t': json += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          json += "\\u00";
          json += kHex[byte >> 4];
          json += kHex[byte & 0x0F];
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}
