// Hexadecimal digits in and out. Free of system calls, so that every layer
// uses these.
#ifndef TROVEX_BASE_HEX_H
#define TROVEX_BASE_HEX_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trovex {

// The value of one hexadecimal digit, either case; -1 for any other byte.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The number that text spells in one to maxDigits hexadecimal digits (at most
// sixteen); nullopt for anything else.
inline std::optional<uint64_t> ParseHex(std::string_view text, size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits || maxDigits > 16) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return value;
}

enum class HexCase { kLower, kUpper };

// `value` in exactly `digits` hexadecimal digits (its low 4 * digits bits).
inline std::string HexText(uint64_t value, size_t digits, HexCase letters = HexCase::kLower) {
  const char* alphabet = letters == HexCase::kLower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text(digits, '0');
  for (size_t i = digits; i-- > 0; value >>= 4) text[i] = alphabet[value & 0xF];
  return text;
}

// Each byte of `bytes` in two hexadecimal digits.
inline std::string HexBytes(std::string_view bytes, HexCase letters = HexCase::kLower) {
  const char* alphabet = letters == HexCase::kLower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    hex += alphabet[byte >> 4];
    hex += alphabet[byte & 0xF];
  }
  return hex;
}

}  // namespace trovex

#endif
