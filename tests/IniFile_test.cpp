#include "support/IniFile.h"

#include <gtest/gtest.h>

#include "tests/support/TempFolder.h"

using namespace trovex;

TEST(TextToIntDef, ParsesDecimalAndHexadecimalNumbers) {
  struct Row {
    const char* text;
    int32_t expected;
  };
  const Row rows[] = {
      {"0", 0},           {"1", 1},           {"-1", -1},          {"+7", 7},
      {"  42", 42},       {"007", 7},         {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},             {"$FF", 255},        {"$10", 16},
      {"x1f", 31},        {"X1F", 31},        {"0x10", 16},        {"0XfF", 255},
      {"$FFFFFFFF", -1},  {"$80000000", INT32_MIN},                {"$000000001", 1},
  };
  for (const Row& row : rows) EXPECT_EQ(TextToIntDef(row.text, -99), row.expected) << row.text;
}

TEST(TextToIntDef, FallsBackOnAnythingElse) {
  const char* rows[] = {"",    "   ",   "-",          "+",           "$",    "0x",     "x",
                        "1 ",  "1 2",   "true",       "2147483648",  "-2147483649",
                        "$100000000",   "-$1",        "+0x1",        "1.5",  "\t1",    "99999999999999999999",
                        "0x1g"};
  for (const char* text : rows) EXPECT_EQ(TextToIntDef(text, -99), -99) << '"' << text << '"';
}

class IniReading : public ::testing::Test {
 protected:
  void SetUp() override { IniFileName = folder_ / "Trovex.ini"; }
  void TearDown() override { IniFileFinalize(); }
  void Write(const std::string& text) { WriteFile(IniFileName, text); }

  TempFolder folder_;
};

TEST_F(IniReading, IntegersUseTheDefaultOnlyWhenTheKeyIsMissing) {
  Write("[Options]\nZero=0\nWord=true\nEmpty=\nTenDigits=00000000001\nBlank=1 2\nHex=$10\n");
  EXPECT_EQ(IniReadInteger("Options", "Missing", 1), 1);
  EXPECT_EQ(IniReadInteger("Nowhere", "Zero", 5), 5);
  EXPECT_EQ(IniReadInteger("Options", "Zero", 1), 0);
  EXPECT_EQ(IniReadInteger("Options", "Word", 1), 0);
  EXPECT_EQ(IniReadInteger("Options", "Empty", 1), 0);
  EXPECT_EQ(IniReadInteger("Options", "TenDigits", 1), 0) << "cut to ten characters";
  EXPECT_EQ(IniReadInteger("Options", "Blank", 1), 0);
  EXPECT_EQ(IniReadInteger("Options", "Hex", 1), 16);
  // The default travels as text through the same ten-character cut.
  EXPECT_EQ(IniReadInteger("Options", "Missing", INT32_MIN), -214748364);
}

TEST_F(IniReading, StringsAreCutTo5120Bytes) {
  Write("[Options]\nLong=" + std::string(6000, 'v') + "\nShort=value\n");
  EXPECT_EQ(IniReadString("Options", "Long", ""), std::string(5120, 'v'));
  EXPECT_EQ(IniReadString("Options", "Short", "fallback"), "value");
  EXPECT_EQ(IniReadString("Options", "Missing", "fallback"), "fallback");
  EXPECT_EQ(IniReadStringFrom("Options", "Short", "fallback", folder_ / "missing.ini"), "fallback");
}
