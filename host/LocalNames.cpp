#include "host/LocalNames.h"

#include <array>
#include <cstdint>

namespace {

// Cut names end in "#" and 16 hex digits, and nothing else has a "#".
constexpr char kHashMark = '#';
constexpr size_t kHashLength = 16;
constexpr size_t kCutLength = kMaxLocalNameLength - 1 - kHashLength;

// Names Windows takes for devices whatever extension follows.
constexpr std::array<std::string_view, 22> kDeviceNames = {
    "CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};

bool IsKeptByte(unsigned char c) {
  if (c >= 0x80) return true;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("-_.~!$&'()+,;=@[]").find(static_cast<char>(c)) != std::string_view::npos;
}

void AppendEscaped(std::string& out, unsigned char c) {
  constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  for (std::string_view device : kDeviceNames) {
    if (SameLetters(stem, device)) return true;
  }
  return false;
}

// Whether the byte at position i must be escaped although it is kept elsewhere.
bool MustEscapeHere(std::string_view name, size_t i) {
  if (name[i] == '.' && (i == 0 || i + 1 == name.size())) return true;
  return i == 0 && IsDeviceName(name);
}

std::string Escape(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (IsKeptByte(c) && !MustEscapeHere(name, i)) {
      out += static_cast<char>(c);
    } else {
      AppendEscaped(out, c);
    }
  }
  return out;
}

uint64_t Fnv1aHash(std::string_view bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string HexDigits(uint64_t value) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string digits(kHashLength, '0');
  for (size_t i = kHashLength; i-- > 0; value >>= 4) digits[i] = kHex[value & 0x0F];
  return digits;
}

// Where to cut escaped text at most limit bytes long without splitting an
// escape or a multi-byte character.
size_t CutPosition(std::string_view escaped, size_t limit) {
  size_t cut = limit;
  if (cut >= 1 && escaped[cut - 1] == '%') {
    cut -= 1;
  } else if (cut >= 2 && escaped[cut - 2] == '%') {
    cut -= 2;
  }
  while (cut > 0 && (static_cast<unsigned char>(escaped[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace

std::string LocalNameFor(std::string_view name) {
  if (name.empty()) return std::string(1, kHashMark);
  std::string escaped = Escape(name);
  if (escaped.size() <= kMaxLocalNameLength) return escaped;
  escaped.resize(CutPosition(escaped, kCutLength));
  return escaped + kHashMark + HexDigits(Fnv1aHash(name));
}
