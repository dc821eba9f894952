#include "host/LocalNames.h"

#include <cstdint>

#include "base/Ascii.h"
#include "base/Hex.h"
#include "base/StableHash.h"

namespace trovex {

namespace {

// Cut names end in "#" and 16 hex digits, and nothing else has a "#".
constexpr char kHashMark = '#';
constexpr size_t kHashLength = 16;
constexpr size_t kCutLength = kMaxLocalNameLength - 1 - kHashLength;

// Names Windows takes for devices whatever extension follows, the ports
// also with the superscript digits 1 to 3 (in UTF-8 and in Windows-1252).
constexpr std::string_view kDeviceNames[] = {
    "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
    "COM0", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
    "LPT0", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
    "COM\xc2\xb9", "COM\xc2\xb2", "COM\xc2\xb3", "LPT\xc2\xb9", "LPT\xc2\xb2", "LPT\xc2\xb3",
    "COM\xb9", "COM\xb2", "COM\xb3", "LPT\xb9", "LPT\xb2", "LPT\xb3"};

// Bytes from 0x80 up are escaped too: a file system that ignores letter
// case folds non-ASCII letters by rules of its own, and one that normalizes
// Unicode merges differently spelled forms; in ASCII alone, names that
// differ keep differing.
bool IsKeptByte(unsigned char c) {
  if (IsAsciiAlnum(static_cast<char>(c))) return true;
  return std::string_view("-_.~!$&'()+,;=@[]").find(static_cast<char>(c)) != std::string_view::npos;
}

void AppendEscaped(std::string& out, unsigned char c) {
  out += '%';
  out += HexText(c, 2, HexCase::kUpper);
}

bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  for (std::string_view device : kDeviceNames) {
    if (EqualNoCase(stem, device)) return true;
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

// Whether the escape at escaped[at] stands for a UTF-8 continuation byte
// (0x80 to 0xBF).
bool EscapesContinuationByte(std::string_view escaped, size_t at) {
  if (at + 2 >= escaped.size() || escaped[at] != '%') return false;
  return std::string_view("89AB").find(escaped[at + 1]) != std::string_view::npos;
}

// Where to cut escaped text at most limit bytes long without splitting an
// escape or the escapes of one multi-byte character.
size_t CutPosition(std::string_view escaped, size_t limit) {
  size_t cut = limit;
  if (cut >= 1 && escaped[cut - 1] == '%') {
    cut -= 1;
  } else if (cut >= 2 && escaped[cut - 2] == '%') {
    cut -= 2;
  }
  while (cut >= 3 && EscapesContinuationByte(escaped, cut)) cut -= 3;
  return cut;
}

}  // namespace

std::string LocalNameFor(std::string_view name) {
  if (name.empty()) return std::string(1, kHashMark);
  std::string escaped = Escape(name);
  if (escaped.size() <= kMaxLocalNameLength) return escaped;
  escaped.resize(CutPosition(escaped, kCutLength));
  return escaped + kHashMark + HexText(StableHash(name), kHashLength);
}

}  // namespace trovex
