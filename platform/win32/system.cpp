#include "platform/system.h"

namespace trovex {

namespace {
// Any address inside this module identifies it to GetModuleHandleExA.
const char kModuleMarker = 0;

// Appends count backslashes to text.
void AppendBackslashes(std::string& text, size_t count) {
  text.append(count, '\\');
}
}  // namespace

HMODULE ThisModule() {
  HMODULE module = nullptr;
  // Without a reference of its own the handle stays valid exactly as long as
  // the code asking for it is loaded. Should the lookup fail, the null handle
  // names the program's own file, which still has a folder to look in.
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     &kModuleMarker, &module);
  return module;
}

bool IsDirSeparator(char c) {
  return c == '\\';
}

void BeginCacheChanges() {}

void EndCacheChanges() {}

// A started program splits its command line the way CommandLineToArgvW and
// the C runtime do: a double quote opens or closes a quoted run, a backslash
// escapes a quote, and 2n backslashes before a quote stand for n of them.
// Backslashes elsewhere are taken literally. So the whole argument goes in one
// quoted run, each quote gets a backslash, and every backslash run that ends
// at a quote or at the closing quote is doubled.
std::string QuoteArgument(std::string_view argument) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      AppendBackslashes(quoted, 2 * backslashes + 1);
    } else {
      AppendBackslashes(quoted, backslashes);
    }
    backslashes = 0;
    quoted += c;
  }
  AppendBackslashes(quoted, 2 * backslashes);
  quoted += '"';
  return quoted;
}

CacheSources DescribeCacheSources() {
  return {};
}

std::string EntryContainer(HANDLE) {
  return {};
}

}  // namespace trovex
