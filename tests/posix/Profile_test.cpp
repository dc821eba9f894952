#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32api.h"
#include "tests/support/SystemFolder.h"

using namespace trovex;

namespace {

const std::string kIni = std::string(
                             "top=before any section\n"
                             "[Options]\r\n"
                             "  Language = English  \r\n"
                             "ShowCookies=0\r"
                             "Quoted=\"  spaced  \"\n"
                             "Single='x'\n"
                             "Unmatched=\"x'\n"
                             "Inner=a \"b\" c\n"
                             "; Commented=1\n"
                             "garbage without equals\n"
                             "language=second wins not\n"
                             "Empty=\n"
                             "\t[ Other ]\n"
                             "Nul=a") +
                         std::string("\0b", 2) +
                         "\n"
                         "[OPTIONS]\n"
                         "Later=from the second Options\n";

class Profile : public ::testing::Test {
 protected:
  TempSystemFolder folder;
  std::string ini = folder.File("Trovex.ini");

  void SetUp() override { folder.Write("Trovex.ini", kIni); }

  std::string Get(const char* section, const char* key, const char* fallback, DWORD size = 256) {
    std::string buffer(size, '#');
    DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, ini.c_str());
    EXPECT_EQ(buffer[n], '\0');
    return buffer.substr(0, n);
  }
};

TEST_F(Profile, ReadsValuesAsWindowsDoes) {
  struct Case {
    const char* section;
    const char* key;
    const char* fallback;
    std::string expected;
  } cases[] = {
      {"Options", "Language", "-", "English"},
      {"options", "LANGUAGE", "-", "English"},
      {"Options", "ShowCookies", "-", "0"},
      {"Options", "Quoted", "-", "  spaced  "},
      {"Options", "Single", "-", "x"},
      {"Options", "Unmatched", "-", "\"x'"},
      {"Options", "Inner", "-", "a \"b\" c"},
      {"Options", "Commented", "dflt", "dflt"},
      {"Options", "garbage without equals", "dflt", "dflt"},
      {"Options", "Empty", "dflt", ""},
      {"Options", "Later", "dflt", "dflt"},
      {"Options", "top", "dflt", "dflt"},
      {"Other", "Nul", "-", std::string("a\0b", 3)},
      {"Missing", "Language", "fallback  ", "fallback"},
      {"Options", "Missing", nullptr, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Get(c.section, c.key, c.fallback), c.expected) << c.section << "/" << c.key;
}

TEST_F(Profile, CutsTheValueToTheBuffer) {
  EXPECT_EQ(Get("Options", "Language", "", 4), "Eng");
  EXPECT_EQ(Get("Options", "Missing", "abcdef", 3), "ab");
  EXPECT_EQ(Get("Options", "Language", "", 1), "");

  char untouched = 'x';
  EXPECT_EQ(GetPrivateProfileStringA("Options", "Language", "", &untouched, 0, ini.c_str()), 0u);
  EXPECT_EQ(untouched, 'x');
  EXPECT_EQ(GetPrivateProfileStringA("Options", "Language", "", nullptr, 10, ini.c_str()), 0u);
}

TEST_F(Profile, MissingFileGivesTheDefault) {
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("Options", "Language", "none", buffer, sizeof buffer,
                                     folder.File("absent.ini").c_str()),
            4u);
  EXPECT_STREQ(buffer, "none");
  EXPECT_EQ(GetPrivateProfileStringA("Options", "Language", nullptr, buffer, sizeof buffer, nullptr), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(Profile, NullSectionOrKeyListsNamesEndingInTwoNuls) {
  EXPECT_EQ(Get(nullptr, nullptr, "-", 64), std::string("Options\0Other\0", 14));
  EXPECT_EQ(Get("Other", nullptr, "-", 64), std::string("Nul\0", 4));
  EXPECT_EQ(Get("Missing", nullptr, "-", 64), "");

  // A list that does not fit is cut and still ends in two NULs.
  char buffer[11];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, ini.c_str()), 9u);
  EXPECT_EQ(std::string(buffer, 11), std::string("Options\0O\0\0", 11));
}

// Each name was compared with every name before it: a file of 200 000 keys
// took the listing beyond any host's patience.
TEST_F(Profile, ListsOfManyNamesNeedNoComparisonOfEachWithAll) {
  const int kKeys = 200000;
  std::string text = "[Many]\n";
  std::string expected;
  for (int i = 0; i < kKeys; ++i) {
    std::string name = "k" + std::to_string(i);
    text += name + "=v\n";
    expected += name + '\0';
  }
  text += "K0=again, not listed twice\n";
  folder.Write("Trovex.ini", text);
  std::vector<char> buffer(expected.size() + 2);
  DWORD n = GetPrivateProfileStringA("many", nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()),
                                     ini.c_str());
  ASSERT_EQ(n, expected.size());
  EXPECT_EQ(std::string(buffer.data(), n), expected);
}

}  // namespace
