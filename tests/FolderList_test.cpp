#include "cache/FolderList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/ListedNames.h"

using namespace trovex;

TEST(FoldedNamesAddUnique, MergesAsciiCaseAndKeepsTheFirstSpelling) {
  FoldedNames names;
  EXPECT_EQ(names.AddUnique("www.example.com", 10), 10u);
  EXPECT_EQ(names.AddUnique("WWW.Example.COM", 20), 10u);
  EXPECT_EQ(names.AddUnique("www.example.com.", 30), 30u);
  EXPECT_EQ(names.Find("www.EXAMPLE.com"), 10u);
  EXPECT_EQ(names.Find("www.example.co"), std::nullopt);
}

TEST(FoldedNamesAddUnique, KeepsNonAsciiCaseApart) {
  FoldedNames names;
  EXPECT_EQ(names.AddUnique("\xE4", 0), 0u);
  EXPECT_EQ(names.AddUnique("\xC4", 1), 1u);
  EXPECT_EQ(names.Find("\xC4"), 1u);
}

TEST(FoldedNamesAddUnique, KeepsTheFirstIdOfManyNames) {
  std::vector<std::string> lower;
  std::vector<std::string> upper;
  for (uint32_t i = 0; i < 1000; ++i) {
    lower.push_back("site" + std::to_string(i));
    upper.push_back("SITE" + std::to_string(i));
  }
  FoldedNames names;
  for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(names.AddUnique(lower[i], i), i);
  for (uint32_t i = 1000; i-- > 0;) ASSERT_EQ(names.AddUnique(upper[i], 5000 + i), i);
  EXPECT_EQ(names.Find("Site999"), 999u);
}

TEST(CountChar, CountsEveryOccurrence) {
  EXPECT_EQ(CountChar("\\", '\\'), 1);
  EXPECT_EQ(CountChar("", '\\'), 0);
  EXPECT_EQ(CountChar("\\a\\b\\http://x\\y", '\\'), 4);
}
