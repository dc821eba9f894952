#include "text.h"

#include "platform/visibletext.h"

namespace {

void AppendUtf16(std::string& out, uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t code) {
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
    uint32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    AppendUtf8(out, code);
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
