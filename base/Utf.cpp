#include "base/Utf.h"

namespace trovex {

namespace {

void AppendUtf16(std::string& out, uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

// The characters Windows-1252 puts at 0x80-0x9F.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32_t Windows1252CodePoint(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    Utf8Char c = DecodeUtf8(text, at);
    if (c.Length == 0) return false;
    at += c.Length;
  }
  return true;
}

void AppendCodePoint(std::string& out, uint32_t code) {
  char bytes[4];
  out.append(bytes, static_cast<size_t>(EncodeUtf8(bytes, code) - bytes));
}

std::string Utf16ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
  };
  size_t units = bytes.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    // Most text in a cache is ASCII: a run of it is written at once.
    size_t run = i;
    while (run < units && unit(run) < 0x80) ++run;
    if (run > i) {
      size_t start = out.size();
      out.resize(start + (run - i));
      for (size_t k = i; k < run; ++k) out[start + (k - i)] = static_cast<char>(bytes[2 * k]);
      i = run - 1;
      continue;
    }
    uint32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    AppendCodePoint(out, code);
  }
  return out;
}

std::string Utf8ToUtf16(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size();) {
    Utf8Char c = DecodeUtf8(text, i);
    if (c.Length == 0) c = {static_cast<unsigned char>(text[i]), 1};
    if (c.CodePoint >= 0x10000) {
      AppendUtf16(out, 0xD800 + ((c.CodePoint - 0x10000) >> 10));
      AppendUtf16(out, 0xDC00 + ((c.CodePoint - 0x10000) & 0x3FF));
    } else {
      AppendUtf16(out, c.CodePoint);
    }
    i += c.Length;
  }
  return out;
}

char* CopyWindows1252AsUtf8(char* out, std::string_view text) {
  for (char c : text) out = EncodeUtf8(out, Windows1252CodePoint(static_cast<unsigned char>(c)));
  return out;
}

size_t Windows1252Utf8Size(std::string_view text) {
  size_t size = 0;
  for (char c : text) size += Utf8Size(Windows1252CodePoint(static_cast<unsigned char>(c)));
  return size;
}

std::string Windows1252ToUtf8(std::string_view text) {
  std::string out(Windows1252Utf8Size(text), '\0');
  CopyWindows1252AsUtf8(out.data(), text);
  return out;
}

}  // namespace trovex
