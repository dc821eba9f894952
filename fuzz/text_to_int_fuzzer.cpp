// TextToIntDef, the reader of every number in the ini file, against a
// reading of the same rules built on std::from_chars: leading spaces, then a
// signed decimal within 32 bits, or after "$", "x" or "0x" at most eight
// significant hexadecimal digits read as signed; the fallback for anything
// else. Input: four bytes of fallback, then the text.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "support/IniFile.h"
#include "support/SysUtils1.h"

using namespace trovex;

namespace {

bool AllOf(std::string_view text, const char* digits) {
  return !text.empty() && text.find_first_not_of(digits) == std::string_view::npos;
}

std::optional<int32_t> ReadHex(std::string_view digits) {
  if (!AllOf(digits, "0123456789abcdefABCDEF")) return std::nullopt;
  uint32_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::optional<int32_t> ReadDecimal(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  if (!AllOf(text, "0123456789")) return std::nullopt;
  std::string signedText = (negative ? "-" : "") + std::string(text);
  int32_t value = 0;
  auto [end, error] = std::from_chars(signedText.data(), signedText.data() + signedText.size(), value);
  if (error != std::errc() || end != signedText.data() + signedText.size()) return std::nullopt;
  return value;
}

std::optional<int32_t> Reference(std::string_view text) {
  text.remove_prefix(std::min(text.size(), text.find_first_not_of(' ')));
  if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) return ReadHex(text.substr(1));
  if (text.starts_with("0x") || text.starts_with("0X")) return ReadHex(text.substr(2));
  return ReadDecimal(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  int32_t fallback = static_cast<int32_t>(input.Word());
  std::string_view text = input.Rest();

  std::optional<int32_t> expected = Reference(text);
  FUZZ_CHECK(TextToIntDef(text, fallback) == expected.value_or(fallback));
  if (expected) FUZZ_CHECK(TextToIntDef(IntToText(*expected), ~*expected) == *expected);
  return 0;
}
