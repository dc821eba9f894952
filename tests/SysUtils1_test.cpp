#include "support/SysUtils1.h"

#include <gtest/gtest.h>

using namespace trovex;

TEST(CompareNoCase, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(CompareNoCase("WWW.Example.COM", "www.example.com"), 0);
  EXPECT_NE(CompareNoCase("\xE4", "\xC4"), 0);
  // Folding is to upper case, so '_' (0x5F) sorts after the letters.
  EXPECT_GT(CompareNoCase("_", "a"), 0);
  EXPECT_EQ(CompareNoCase("\xFF", "a"), 0xFF - 'A');
}

TEST(CompareNoCase, APrefixSortsFirst) {
  EXPECT_LT(CompareNoCase("abc", "ABCD"), 0);
  EXPECT_GT(CompareNoCase("ABCD", "abc"), 0);
  EXPECT_EQ(CompareNoCase("", ""), 0);
  EXPECT_LT(CompareNoCase("", "a"), 0);
}

TEST(ChangeFileName, ReplacesTheNameAfterTheLastSeparator) {
  EXPECT_EQ(ChangeFileName("C:\\Tools\\Plugins\\trovex.dll", "Trovex.ini"), "C:\\Tools\\Plugins\\Trovex.ini");
  EXPECT_EQ(ChangeFileName("C:\\Tools\\", "Trovex.ini"), "C:\\Tools\\Trovex.ini");
  EXPECT_EQ(ChangeFileName("trovex.dll", "Trovex.ini"), "Trovex.ini");
  EXPECT_EQ(ChangeFileName("", "Trovex.lng"), "Trovex.lng");
  EXPECT_EQ(ChangeFileName("/opt/trovex/lib/Trovex.so", "Trovex.lng"), "/opt/trovex/lib/Trovex.lng");
}

TEST(IntToText, CoversTheWholeRange) {
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(-15), "-15");
  EXPECT_EQ(IntToText(2147483647), "2147483647");
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
}

TEST(ReplaceAll, ReplacesEveryOccurrence) {
  std::string text = "a\\nb\\n";
  ReplaceAll(text, "\\n", "\r");
  EXPECT_EQ(text, "a\rb\r");

  std::string untouched = "no markers";
  ReplaceAll(untouched, "\\n", "\r");
  EXPECT_EQ(untouched, "no markers");

  std::string emptyFind = "abc";
  ReplaceAll(emptyFind, "", "x");
  EXPECT_EQ(emptyFind, "abc");
}

TEST(ReplaceAll, FindsWhatAReplacementFormsWithItsNeighbours) {
  std::string text = "aab";
  ReplaceAll(text, "ab", "b");
  EXPECT_EQ(text, "b");
}

TEST(FormatArgs, FillsMarkersLeftToRight) {
  struct Row {
    const char* format;
    std::vector<std::string> args;
    const char* expected;
  };
  const Row rows[] = {
      {"%s and %s", {"one", "two"}, "one and two"},
      {"%s and %s", {"one"}, "one and %s"},
      {"%s and %s", {"one", "two", "three"}, "one and two"},
      {"plain %d %", {}, "plain %d %"},
      {"%s", {}, "%s"},
      {"100%s", {"%"}, "100%"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatArgs(row.format, row.args), row.expected) << "format: " << row.format;
  }
}

TEST(FormatArgs, NeverFillsMarkersInsideAnArgument) {
  EXPECT_EQ(FormatArgs("%s|%s|%s", {"1.1.0", "C:\\%s\\cache", "x"}), "1.1.0|C:\\%s\\cache|x");
  EXPECT_EQ(FormatArgs("Open %s?", {"http://a/%s"}), "Open http://a/%s?");
}

TEST(IsWebAddress, AcceptsOnlyWebSchemesWithoutControlBytes) {
  struct Row {
    std::string url;
    bool accepted;
  };
  const Row rows[] = {
      {"http://www.example.com/", true},
      {"https://shop.example.net:8443/cart", true},
      {"ftp://ftp.example.org/pub/file.zip", true},
      {"HTTP://WWW.EXAMPLE.COM/", true},
      {"hTtPs://example.com", true},
      {"Ftp://example.com/", true},
      {"http://www.example.com/a b\"c.htm", true},
      {"http://www.example.com/caf\xE9\x80\xFF", true},
      {"http://", true},
      {"-new-instance", false},
      {"--gpu-launcher=xcalc http://x/", false},
      {" http://www.example.com/", false},
      {"file://server/share/x.hta", false},
      {"javascript:alert(document.cookie)", false},
      {"ms-msdt:/id PCWDiagnostic", false},
      {"Cookie:user@www.example.com/", false},
      {"http:/www.example.com/", false},
      {"http:www.example.com", false},
      {"https:", false},
      {"httpx://example.com/", false},
      {"ftps://example.com/", false},
      {"", false},
      {"http://example.com/\x1b]8;;http://bank.example.com\x07", false},
      {"http://example.com/\rforged", false},
      {"http://example.com/\nforged", false},
      {"http://example.com/\tx", false},
      {"http://example.com/\x7F", false},
      {std::string("http://example.com/\0x", 21), false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsWebAddress(row.url), row.accepted) << "row " << (&row - rows);
  }
}

TEST(EscapeControlBytes, WritesControlBytesAsHexadecimalEscapes) {
  struct Row {
    std::string text;
    std::string expected;
  };
  const Row rows[] = {
      {"http://www.example.com/a b", "http://www.example.com/a b"},
      {"\x1b[2J", "\\x1B[2J"},
      {"a\rb\nc\td", "a\\x0Db\\x0Ac\\x09d"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"\x7F\x1F ", "\\x7F\\x1F "},
      {"caf\xC3\xA9 \x80\xFF", "caf\xC3\xA9 \x80\xFF"},
      {"C:\\x1B\\cache", "C:\\x1B\\cache"},
      {"", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EscapeControlBytes(row.text), row.expected) << "expected: " << row.expected;
  }
}
