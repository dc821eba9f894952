#include "platform/system.h"

#include <dlfcn.h>

namespace trovex {

namespace {
// Any address inside this module identifies it to dladdr.
const char kModuleMarker = 0;
}  // namespace

HMODULE ThisModule() {
  return reinterpret_cast<HMODULE>(const_cast<char*>(&kModuleMarker));
}

bool IsDirSeparator(char c) {
  return c == '/' || c == '\\';
}

// The process is started without a shell: the parameters arrive as one
// argument just as they are.
std::string QuoteArgument(std::string_view argument) {
  return std::string(argument);
}

}  // namespace trovex
