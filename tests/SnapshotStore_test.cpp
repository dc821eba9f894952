#include "cache/SnapshotStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(TextBlocks, KeptTextsStayWholeAsMoreIsKept) {
  TextBlocks blocks;
  std::vector<std::pair<const char*, std::string>> kept;
  for (int i = 0; i < 5000; ++i) {
    std::string first = std::to_string(i) + std::string(static_cast<size_t>(i % 300), 'a');
    std::string second = i % 3 == 0 ? "" : "/" + std::to_string(i * 7);
    if (i == 2500) first = std::string(3 << 20, 'L');  // larger than any block
    kept.emplace_back(blocks.Keep(first, second), first + second);
  }
  kept.emplace_back(blocks.Keep("", ""), "");
  for (const auto& [at, text] : kept) ASSERT_EQ(std::string(at, text.size()), text);
  blocks.Clear();
  EXPECT_EQ(std::string(blocks.Keep("after", " clear"), 11), "after clear");
}

TEST(FirstIndex, TheFirstPositionOfAKeyStaysWhetherAddedOneByOneOrAllAtOnce) {
  // Repeats within a batch of the bulk add (k0 k1 k2 k0 ...) and across it.
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back("k" + std::to_string(i % 1000 < 10 ? i % 3 : i % 1000));
  auto keys = [&names](uint32_t position) { return std::string_view(names[position]); };
  FirstIndex oneByOne;
  FirstIndex allAtOnce;
  // Key kN first appears at position N.
  for (uint32_t p = 0; p < 1500; ++p) ASSERT_EQ(oneByOne.Add(keys(p), p, keys), std::stoul(names[p].substr(1)));
  allAtOnce.AddAll(0, 1500, keys);
  allAtOnce.AddAll(1500, 3000, keys);
  for (uint32_t p = 1500; p < 3000; ++p) oneByOne.Add(keys(p), p, keys);
  for (const std::string& key : names) {
    ASSERT_EQ(oneByOne.Find(key, keys), allAtOnce.Find(key, keys)) << key;
  }
  EXPECT_EQ(allAtOnce.Find("k0", keys), 0u);
  EXPECT_EQ(allAtOnce.Find("k2", keys), 2u);
  EXPECT_EQ(allAtOnce.Find("k999", keys), 999u);
  EXPECT_EQ(allAtOnce.Find("k1000", keys), std::nullopt);
  allAtOnce.Clear();
  EXPECT_EQ(allAtOnce.Find("k0", keys), std::nullopt);
}
