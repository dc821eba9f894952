// FormatArgs with a message from the language file and arguments that come
// from the registry and the URL cache: input is the format, then the
// arguments, separated by NUL bytes.
//
// Each of the first markers takes one argument in turn and every other byte
// of the format stays: the result is the format with the first
// min(markers, arguments) "%s" replaced, markers counted left to right
// without overlap, and nothing of an argument ever read as a marker.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "support/SysUtils1.h"

using namespace trovex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  std::string format(input.Part());
  std::vector<std::string> args;
  while (!input.Empty() && args.size() < 16) args.emplace_back(input.Part());

  std::string result = FormatArgs(format, args);

  // Walk the format and the result side by side.
  size_t out = 0;
  size_t used = 0;
  for (size_t at = 0; at < format.size();) {
    if (used < args.size() && format.compare(at, 2, "%s") == 0) {
      FUZZ_CHECK(result.compare(out, args[used].size(), args[used]) == 0);
      out += args[used++].size();
      at += 2;
    } else {
      FUZZ_CHECK(out < result.size() && result[out] == format[at]);
      ++out;
      ++at;
    }
  }
  FUZZ_CHECK(out == result.size());
  return 0;
}
