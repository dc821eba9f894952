// ReplaceAll. The plug-in turns each "\n" of a language file's message into
// a carriage return: with bit 0 of the first byte clear, the rest of the
// input is such a message, and the result must be what one pass from left to
// right makes of it. With bit 0 set, the input is find, a NUL, replacement,
// a NUL and the text; inputs outside the contract (a replacement holding
// find) or that could grow without end (a replacement longer than find) are
// skipped. Afterwards find never occurs in the text.
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "support/SysUtils1.h"

using namespace trovex;

namespace {

std::string OnePass(std::string_view text, std::string_view find, std::string_view replacement) {
  std::string result;
  for (size_t at = 0; at < text.size();) {
    if (text.substr(at).starts_with(find)) {
      result += replacement;
      at += find.size();
    } else {
      result += text[at++];
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  if ((input.Byte() & 1) == 0) {
    std::string text(input.Rest());
    std::string expected = OnePass(text, "\\n", "\r");
    ReplaceAll(text, "\\n", "\r");
    FUZZ_CHECK(text == expected);
    return 0;
  }
  std::string_view find = input.Part();
  std::string_view replacement = input.Part();
  std::string text(input.Rest());
  if (find.empty() || replacement.size() > find.size() ||
      replacement.find(find) != std::string_view::npos)
    return 0;
  size_t before = text.size();
  ReplaceAll(text, find, replacement);
  FUZZ_CHECK(text.find(find) == std::string::npos);
  FUZZ_CHECK(text.size() <= before);
  return 0;
}
