// CompareNoCase, which merges folder names: input is a length byte, then the
// first text (that long, at most what is left) and the second (the rest).
//
// It is antisymmetric, a text equals itself with its ASCII letters' case
// swapped, and on texts without NUL bytes it is the difference of the first
// differing bytes folded to upper case, an end counting as a zero byte.
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "support/SysUtils1.h"

using namespace trovex;

namespace {

unsigned char Upper(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

std::string SwapCase(std::string_view text) {
  std::string swapped(text);
  for (char& c : swapped) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return swapped;
}

int Reference(std::string_view a, std::string_view b) {
  for (size_t i = 0;; ++i) {
    int x = i < a.size() ? Upper(a[i]) : 0;
    int y = i < b.size() ? Upper(b[i]) : 0;
    if (x != y) return x - y;
    if (x == 0) return 0;
  }
}

int Sign(int n) {
  return (n > 0) - (n < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  size_t length = input.Byte();
  std::string_view rest = input.Rest();
  std::string_view a = rest.substr(0, length);
  std::string_view b = rest.substr(a.size());

  int32_t ab = CompareNoCase(a, b);
  FUZZ_CHECK(Sign(ab) == -Sign(CompareNoCase(b, a)));
  FUZZ_CHECK(CompareNoCase(a, a) == 0);
  FUZZ_CHECK(CompareNoCase(a, SwapCase(a)) == 0);
  if (a.find('\0') == std::string_view::npos && b.find('\0') == std::string_view::npos)
    FUZZ_CHECK(ab == Reference(a, b));
  return 0;
}
