// ItemNameFromPath on any path a host can pass: the result is the path's end
// after its first three backslashes (or after all of them, when it has fewer).
#include <string>
#include <string_view>

#include "cache/CacheObj.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "plugin/Listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view path = FuzzInput(data, size).Rest();
  std::string name = ItemNameFromPath(path);

  FUZZ_CHECK(path.ends_with(name));
  int32_t separators = CountChar(path, '\\');
  int32_t removed = separators < 3 ? separators : 3;
  FUZZ_CHECK(CountChar(name, '\\') == separators - removed);
  // What went is the removed separators and what lay between them.
  std::string_view gone = path.substr(0, path.size() - name.size());
  FUZZ_CHECK(CountChar(gone, '\\') == removed);
  FUZZ_CHECK(gone.empty() || gone.back() == '\\');
  return 0;
}
