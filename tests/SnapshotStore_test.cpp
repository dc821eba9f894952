#include "cache/SnapshotStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
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

TEST(FirstIndex, TheFirstPositionOfAKeyStays) {
  // Keys repeat at once (k0 k1 k2 k0 ...) and after the table has grown.
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back("k" + std::to_string(i % 1000 < 10 ? i % 3 : i % 1000));
  auto keys = [&names](uint32_t position) { return std::string_view(names[position]); };
  FirstIndex index;
  EXPECT_EQ(index.Find("k0", keys), std::nullopt);
  // Key kN first appears at position N.
  for (uint32_t p = 0; p < names.size(); ++p) ASSERT_EQ(index.Add(keys(p), p, keys), std::stoul(names[p].substr(1)));
  for (const std::string& key : names) ASSERT_EQ(index.Find(key, keys), std::stoul(key.substr(1))) << key;
  EXPECT_EQ(index.Find("k1000", keys), std::nullopt);
  EXPECT_EQ(index.Find("k", keys), std::nullopt);
}

namespace {

std::vector<std::string> LinesOf(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// The most names whose hashes in the index agree in their low bits: how
// many keys at most want one slot of a table of mask + 1 slots.
size_t MostSharingASlot(const std::vector<std::string>& names, uint32_t mask) {
  FirstIndex index;
  std::map<uint32_t, size_t> sharing;
  size_t most = 0;
  for (const std::string& name : names) most = std::max(most, ++sharing[index.HashOf(name) & mask]);
  return most;
}

// Every name found under its own position.
void ExpectEachFound(const std::vector<std::string>& names) {
  auto keys = [&names](uint32_t p) { return std::string_view(names[p]); };
  FirstIndex index;
  for (uint32_t p = 0; p < names.size(); ++p) index.Add(names[p], p, keys);
  for (uint32_t p = 0; p < names.size(); ++p) ASSERT_EQ(index.Find(names[p], keys), p) << names[p];
}

}  // namespace

TEST(FirstIndex, NamesThatShareASlotUnderAKnownKeySpreadInTheIndex) {
  // Twenty names whose hashes under a key a site could know agree in their
  // low eight bits: in a table of at most 256 slots they all want one.
  const HashKey known{1, 2};
  std::vector<std::string> crafted;
  for (uint32_t i = 0; crafted.size() < 20; ++i) {
    std::string name = "h" + std::to_string(i) + ".flood.example";
    if ((static_cast<uint32_t>(KeyedHash(name, known)) & 0xFF) == 0) crafted.push_back(name);
  }
  EXPECT_LT(MostSharingASlot(crafted, 0xFF), 8u);
  ExpectEachFound(crafted);
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
  // The index holds 1024 keys in 2048 slots.
  EXPECT_LT(MostSharingASlot(crafted, 0x7FF), 16u);
  ExpectEachFound(crafted);
}
