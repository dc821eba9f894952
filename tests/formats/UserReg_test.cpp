// The values a Wine prefix's user.reg gives for the folders of its caches.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "formats/userreg/UserReg.h"

namespace trovex {
namespace {

constexpr char kKey[] = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1700000000\n";

struct ValueCase {
  const char* What;
  std::string UserReg;
  const char* Name;
  std::optional<std::string> Expected;
};

TEST(UserReg, ReadsOnlyPlainStringsOfTheShellFoldersKey) {
  const std::string cache = "\"Cache\"=\"C:\\\\users\\\\joe\\\\INetCache\"\n";
  const std::vector<ValueCase> cases = {
      {"escaped backslashes", std::string(kKey) + cache, "Cache", "C:\\users\\joe\\INetCache"},
      {"names ignore case", std::string(kKey) + cache, "cache", "C:\\users\\joe\\INetCache"},
      {"key ignores case", "[software\\\\microsoft\\\\windows\\\\currentversion\\\\explorer\\\\shell folders]\n" + cache,
       "Cache", "C:\\users\\joe\\INetCache"},
      {"CR LF lines", std::string("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders]\r\n") +
                          "\"Cache\"=\"C:\\\\a\"\r\n",
       "Cache", "C:\\a"},
      {"another key's value", "[Software\\\\Other]\n" + cache, "Cache", std::nullopt},
      {"the key after it", std::string(kKey) + "[Software\\\\Other]\n" + cache, "Cache", std::nullopt},
      {"the User Shell Folders key",
       "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\User Shell Folders]\n" + cache, "Cache",
       std::nullopt},
      {"an expandable string", std::string(kKey) + "\"Cache\"=str(2):\"%USERPROFILE%\\\\x\"\n", "Cache", std::nullopt},
      {"a quote in the value", std::string(kKey) + "\"Cache\"=\"C:\\\\a \\\"b\\\"\"\n", "Cache", "C:\\a \"b\""},
      {"a UTF-16 escape", std::string(kKey) + "\"Cache\"=\"C:\\\\Jos\\x00e9\"\n", "Cache", "C:\\Jos\xc3\xa9"},
      {"an unclosed value", std::string(kKey) + "\"Cache\"=\"C:\\\\a\n", "Cache", std::nullopt},
      {"a backslash at the end", std::string(kKey) + "\"Cache\"=\"C:\\", "Cache", std::nullopt},
      {"the last value wins", std::string(kKey) + "\"Cache\"=\"C:\\\\a\"\n\"Cache\"=\"C:\\\\b\"\n", "Cache", "C:\\b"},
      {"garbage", std::string("\0\xff[\"\\", 5), "Cache", std::nullopt},
      {"an unclosed key", "[Software\\\\Microsoft\n" + cache, "Cache", std::nullopt},
  };
  for (const ValueCase& c : cases) {
    EXPECT_EQ(ShellFolderValue(c.UserReg, c.Name), c.Expected) << c.What;
  }
}

TEST(UserReg, WindowsPathsStayInsideTheirDrive) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"C:\\users\\joe\\INetCache", "/p/dosdevices/c:/users/joe/INetCache"},
      {"d:\\Cache\\\\Content.IE5\\", "/p/dosdevices/d:/Cache/Content.IE5"},
      {"C:\\", "/p/dosdevices/c:"},
      {"C:\\users\\..\\..\\etc", std::nullopt},
      {"C:\\users\\.\\joe", std::nullopt},
      {"C:\\a/b", std::nullopt},
      {"C:\\a\x1b[2Jb", std::nullopt},
      {"\\\\server\\share\\x", std::nullopt},
      {"users\\joe", std::nullopt},
      {"C:users", std::nullopt},
      {"1:\\x", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [windows, expected] : cases) EXPECT_EQ(PrefixPath("/p", windows), expected) << windows;
}

}  // namespace
}  // namespace trovex
