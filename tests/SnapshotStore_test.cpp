#include "cache/SnapshotStore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace trovex;

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

// A refill writes into the blocks of the snapshot it replaces: texts of other
// sizes, one larger than every block among them, must each land whole and
// stay so, however the old blocks are laid out.
TEST(TextBlocks, ReusedBlocksHoldTheNewTextsWhole) {
  TextBlocks blocks;
  for (int i = 0; i < 3000; ++i) blocks.Keep(std::string(static_cast<size_t>(i % 500), 'o'), "ld");
  for (int round = 0; round < 3; ++round) {
    blocks.Reuse();
    std::vector<std::pair<const char*, std::string>> kept;
    size_t count = round == 1 ? 200 : 4000;  // fewer texts, then more again
    for (size_t i = 0; i < count; ++i) {
      std::string first = std::to_string(round) + ":" + std::to_string(i) + std::string(i % 700, 'n');
      if (i == 100) first = std::string(2 << 20, 'B');
      kept.emplace_back(blocks.Keep(first, "/x"), first + "/x");
    }
    blocks.ReleaseUnused();
    for (const auto& [at, text] : kept) ASSERT_EQ(std::string(at, text.size()), text) << "round " << round;
  }
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

namespace {

std::vector<std::string> LinesOf(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// An index of names, each under its position.
struct NameIndex {
  explicit NameIndex(std::vector<std::string> all, const HashKey& key) : names(std::move(all)), index(key) {
    for (uint32_t p = 0; p < names.size(); ++p) index.Add(names[p], p, keys);
  }
  std::vector<std::string> names;
  std::function<std::string_view(uint32_t)> keys = [this](uint32_t p) { return std::string_view(names[p]); };
  FirstIndex index;
};

}  // namespace

TEST(FirstIndex, NamesThatShareASlotUnderOneKeySpreadUnderAnother) {
  const HashKey known{1, 2};
  const HashKey secret{0x243f6a8885a308d3, 0x13198a2e03707344};
  // Twenty names whose hashes under the known key agree in their low eight
  // bits: in a table of at most 256 slots they all want the same one.
  std::vector<std::string> crafted;
  for (uint32_t i = 0; crafted.size() < 20; ++i) {
    std::string name = "h" + std::to_string(i) + ".flood.example";
    if ((FirstIndex(known).HashOf(name) & 0xFF) == 0) crafted.push_back(name);
  }
  EXPECT_EQ(NameIndex(crafted, known).index.LongestProbe(), 19u);
  NameIndex spread(crafted, secret);
  EXPECT_LT(spread.index.LongestProbe(), 8u);
  for (uint32_t p = 0; p < crafted.size(); ++p) EXPECT_EQ(spread.index.Find(crafted[p], spread.keys), p);
}

TEST(FirstIndex, NamesCraftedAgainstAnUnkeyedHashSpreadOut) {
  // Host names whose hashes under the standard library's string hash
  // (libstdc++, 64 bits) have their low 16 bits clear, the index's hash
  // before it was keyed: under it they all wanted the first slot.
  std::vector<std::string> crafted = LinesOf(TROVEX_TEST_DATA "/crafted_hosts.txt");
  ASSERT_EQ(crafted.size(), 1024u);
  if (sizeof(size_t) == 8) {
    for (const std::string& name : crafted) ASSERT_EQ(std::hash<std::string_view>()(name) & 0xFFFF, 0u) << name;
  }
  for (const HashKey& key : {HashKey{1, 2}, HashKey{0x243f6a8885a308d3, 0x13198a2e03707344}, LoadKey()}) {
    NameIndex index(crafted, key);
    EXPECT_LT(index.index.LongestProbe(), 64u) << key.K0;
    for (uint32_t p = 0; p < crafted.size(); ++p) ASSERT_EQ(index.index.Find(crafted[p], index.keys), p);
  }
}
