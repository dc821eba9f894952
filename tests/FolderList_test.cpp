#include "cache/FolderList.h"

#include <gtest/gtest.h>

#include <string>

using namespace trovex;

TEST(FolderListAddUnique, MergesAsciiCaseAndKeepsTheFirstSpelling) {
  FolderList list;
  list.AddUnique("www.example.com", 10);
  list.AddUnique("WWW.Example.COM", 20);
  list.AddUnique("www.example.com.", 30);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(1).Name, "www.example.com");
  EXPECT_EQ(list.Item(1).Size, 10u);
  EXPECT_EQ(list.Item(2).Size, 30u);
}

TEST(FolderListAddUnique, KeepsNonAsciiCaseApart) {
  FolderList list;
  list.AddUnique("\xE4", 0);
  list.AddUnique("\xC4", 0);
  EXPECT_EQ(list.Count(), 2);
}

TEST(FolderListAddUnique, ListsManyDistinctNamesInOrder) {
  FolderList list;
  for (int i = 0; i < 1000; ++i) list.AddUnique("site" + std::to_string(i), 0);
  for (int i = 999; i >= 0; --i) list.AddUnique("SITE" + std::to_string(i), 1);
  ASSERT_EQ(list.Count(), 1000);
  EXPECT_EQ(list.Item(1).Name, "site0");
  EXPECT_EQ(list.Item(1000).Name, "site999");
  EXPECT_EQ(list.Item(500).Size, 0u);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  list.AddUnique("SITE1", 5);
  EXPECT_EQ(list.Item(1).Name, "SITE1");
}

TEST(CountChar, CountsEveryOccurrence) {
  EXPECT_EQ(CountChar("\\", '\\'), 1);
  EXPECT_EQ(CountChar("", '\\'), 0);
  EXPECT_EQ(CountChar("\\a\\b\\http://x\\y", '\\'), 4);
}
