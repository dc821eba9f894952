#include "support/IniFile.h"

#include <vector>

#include "base/Ascii.h"
#include "base/Hex.h"
#include "platform/system.h"
#include "support/SysUtils1.h"

namespace trovex {

TROVEX_MODULE_STATE std::string IniFileName;

namespace {

constexpr DWORD kStringBufferSize = 5121;
constexpr DWORD kIntegerBufferSize = 11;

std::string ReadProfile(const std::string& section, const std::string& key,
                        const std::string& fallback, const std::string& fileName, DWORD bufferSize) {
  // No name is no file: the system would look for a relative name elsewhere.
  if (fileName.empty()) return fallback.substr(0, bufferSize - 1);
  std::vector<char> buffer(bufferSize, '\0');
  GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(), bufferSize,
                           fileName.c_str());
  buffer.back() = '\0';
  return std::string(buffer.data());
}

// The length of the hexadecimal marker at the start of text: "$", "x", "X",
// "0x" or "0X"; 0 when there is none.
size_t HexMarkerLength(std::string_view text) {
  if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) return 1;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return 2;
  return 0;
}

// Any number of digits, leading zeros included, up to 0xFFFFFFFF.
bool ParseHexWord(std::string_view digits, int32_t& value) {
  if (digits.empty()) return false;
  uint64_t result = 0;
  for (char c : digits) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    result = result * 16 + static_cast<uint64_t>(digit);
    if (result > 0xFFFFFFFFull) return false;
  }
  value = static_cast<int32_t>(static_cast<uint32_t>(result));
  return true;
}

bool ParseDecimal(std::string_view text, int32_t& value) {
  bool negative = false;
  if (text.starts_with('+') || text.starts_with('-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  int64_t result = 0;
  for (char c : text) {
    if (!IsDecimalDigit(c)) return false;
    result = result * 10 + (c - '0');
    if (result > 2147483648LL) return false;
  }
  if (negative) result = -result;
  if (result > 2147483647LL) return false;
  value = static_cast<int32_t>(result);
  return true;
}

}  // namespace

void IniFileFinalize() {
  IniFileName.clear();
  IniFileName.shrink_to_fit();
}

std::string IniReadStringFrom(const std::string& section, const std::string& key,
                              const std::string& fallback, const std::string& fileName) {
  return ReadProfile(section, key, fallback, fileName, kStringBufferSize);
}

std::string IniReadString(const std::string& section, const std::string& key,
                          const std::string& fallback) {
  return IniReadStringFrom(section, key, fallback, IniFileName);
}

int32_t IniReadInteger(const std::string& section, const std::string& key, int32_t fallback) {
  std::string text = ReadProfile(section, key, IntToText(fallback), IniFileName, kIntegerBufferSize);
  return TextToIntDef(text, 0);
}

int32_t TextToIntDef(std::string_view text, int32_t fallback) {
  size_t blanks = text.find_first_not_of(' ');
  if (blanks == std::string_view::npos) return fallback;
  text.remove_prefix(blanks);
  int32_t value = 0;
  size_t marker = HexMarkerLength(text);
  bool parsed = marker > 0 ? ParseHexWord(text.substr(marker), value) : ParseDecimal(text, value);
  return parsed ? value : fallback;
}

}  // namespace trovex
