// The visible form of text and the UTF-16LE conversion: the forms every
// listing, export and message box show, held against tables and against a
// reference that looks at one character at a time.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/Utf.h"
#include "base/VisibleText.h"

namespace trovex {
namespace {

struct VisibleCase {
  std::string Text;
  std::string Shown;
};

TEST(VisibleText, EscapesWhatATerminalWouldObey) {
  const std::vector<VisibleCase> cases = {
      {"", ""},
      {"http://example.com/a b\"c\\d", "http://example.com/a b\"c\\d"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x1b[2J\r\n\x7f", "\\x1b[2J\\x0d\\x0a\\x7f"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"\xc2\x85", "\\u0085"},                          // C1 control as UTF-8
      {"\x9b" "2J", "\\x9b2J"},                           // C1 control as a raw byte
      {"\xe2\x80\xae" "fdp.exe", "\\u202efdp.exe"},       // right-to-left override
      {"\xff\xe6\x97|", "\\xff\\xe6\\x97|"},              // no valid UTF-8
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},           // outside the BMP, shown
  };
  for (const VisibleCase& c : cases) EXPECT_EQ(VisibleText(c.Text), c.Shown) << "text: " << c.Text;
}

// The visible form one character at a time, without the runs that the
// routine copies at once.
std::string ShownCharByChar(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string shown;
  for (size_t at = 0; at < text.size();) {
    Utf8Char c = DecodeUtf8(text, at);
    if (c.Length == 0) c = {static_cast<unsigned char>(text[at]), 0};
    bool hidden = c.Length == 0 || IsHiddenCodePoint(c.CodePoint);
    if (!hidden) {
      shown.append(text, at, c.Length);
    } else if (c.Length <= 1) {
      shown += std::string("\\x") + kDigits[c.CodePoint >> 4 & 0xF] + kDigits[c.CodePoint & 0xF];
    } else {
      shown += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) shown += kDigits[c.CodePoint >> shift & 0xF];
    }
    at += c.Length == 0 ? 1 : c.Length;
  }
  return shown;
}

// Plain runs of every length around a word's eight bytes, each ended by
// every kind of byte, and random texts mostly plain: the same form as the
// reference's.
TEST(VisibleText, RunsOfAnyLengthEndWhereTheReferenceEndsThem) {
  const std::vector<std::string> enders = {std::string(1, '\0'), "\x1f", "\x7f", "\x80", "\xc2\x85", "\xc3\xa9",
                                           "\xff", " ", "~"};
  for (size_t length = 0; length <= 25; ++length) {
    for (const std::string& ender : enders) {
      std::string text = std::string(length, 'a') + ender + std::string(length % 9, 'z');
      EXPECT_EQ(VisibleText(text), ShownCharByChar(text)) << "run of " << length;
    }
  }
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> byte(0, 255), plain(0x20, 0x7e), pick(0, 9);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int i = pick(random) * 7; i >= 0; --i) text += static_cast<char>(pick(random) < 8 ? plain(random) : byte(random));
    std::string appended = "kept:";
    AppendVisibleText(appended, text);
    ASSERT_EQ(appended, "kept:" + ShownCharByChar(text)) << "round " << round;
  }
}

std::string Utf16(const std::u16string& units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST(Utf16ToUtf8, AsciiRunsAndOtherCharactersInTurn) {
  EXPECT_EQ(Utf16ToUtf8(""), "");
  EXPECT_EQ(Utf16ToUtf8(Utf16(u"http://example.com/")), "http://example.com/");
  EXPECT_EQ(Utf16ToUtf8(Utf16(u"caf\u00e9 ok \u20ac1")), "caf\xc3\xa9 ok \xe2\x82\xac" "1");
  EXPECT_EQ(Utf16ToUtf8(Utf16(u"a\U0001F600b")), "a\xf0\x9f\x98\x80" "b");
  // A lone surrogate becomes U+FFFD; the ASCII around it stays.
  EXPECT_EQ(Utf16ToUtf8(Utf16(std::u16string{u'x', char16_t(0xD800), u'y'})), "x\xef\xbf\xbdy");
  EXPECT_EQ(Utf16ToUtf8(Utf16(std::u16string{char16_t(0xDC00)})), "\xef\xbf\xbd");
  // A byte left over after the last whole unit is not read.
  EXPECT_EQ(Utf16ToUtf8(Utf16(u"ab") + "c"), "ab");
  // A unit whose high byte is set is no ASCII, though its low byte is.
  EXPECT_EQ(Utf16ToUtf8(Utf16(u"a\u0141b")), "a\xc5\x81" "b");
}

}  // namespace
}  // namespace trovex
