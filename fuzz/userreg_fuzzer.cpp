// A Wine prefix's user.reg as a stranger may have written it: the Shell
// Folders values read from it, and the Linux paths made of them, which must
// stay below the prefix's dosdevices folder, name no "." or ".." and hold no
// control characters.
#include <optional>
#include <string>
#include <string_view>

#include "formats/userreg/UserReg.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"

using namespace trovex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view userReg = FuzzInput(data, size).Rest();
  for (const char* name : {"Cache", "Cookies", "History"}) {
    std::optional<std::string> value = ShellFolderValue(userReg, name);
    if (!value) continue;
    std::optional<std::string> path = PrefixPath("/p", *value);
    if (!path) continue;
    FUZZ_CHECK(path->starts_with("/p/dosdevices/"));
    std::string below = path->substr(std::string_view("/p/dosdevices/").size()) + "/";
    FUZZ_CHECK(below.find("/./") == std::string::npos && below.find("/../") == std::string::npos);
    FUZZ_CHECK(below.find("//") == std::string::npos);
    for (char c : *path) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
  }
  return 0;
}
