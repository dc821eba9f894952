// Hexadecimal numbers in the text stores (registry.reg, urlcache.txt).
// Internal to platform/posix.
#ifndef TROVEX_PLATFORM_POSIX_HEXTEXT_H
#define TROVEX_PLATFORM_POSIX_HEXTEXT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The value of one hexadecimal digit, either case; -1 for any other byte.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The number that text spells in one to maxDigits hexadecimal digits (at most
// eight); nullopt for anything else.
inline std::optional<uint32_t> ParseHex(std::string_view text, size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

#endif
