#include "base/KeyedHash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace trovex;

namespace {

// The key of the function's published values: bytes 0 to 15.
const HashKey kCountingKey{0x0706050403020100, 0x0f0e0d0c0b0a0908};

std::string CountingBytes(size_t count) {
  std::string bytes;
  for (size_t i = 0; i < count; ++i) bytes += static_cast<char>(i);
  return bytes;
}

}  // namespace

TEST(KeyedHash, RoundsMatchThePublishedValues) {
  // Message i is the bytes 0 to i - 1; a whole word, a partial one and none.
  const struct {
    size_t length;
    uint64_t hash;
  } rows[] = {
      {0, 0x726fdb47dd0e0e31},
      {1, 0x74f839c593dc67fd},
      {8, 0x93f5f5799a932462},
      {15, 0xa129ca6149be45e5},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(SipHash24(CountingBytes(row.length), kCountingKey), row.hash) << "length " << row.length;
  }
}

TEST(KeyedHash, TheSameNamesHashApartUnderAnotherKey) {
  const HashKey other{0x0706050403020101, 0x0f0e0d0c0b0a0908};
  std::vector<std::string> names = {"", "www.example.com", "http://www.example.com/dir/page.htm",
                                    "Cookie:user@www.example.com/", CountingBytes(64)};
  for (const std::string& name : names) {
    EXPECT_NE(KeyedHash(name, kCountingKey), KeyedHash(name, other)) << name;
    EXPECT_NE(KeyedHashNoCase(name, kCountingKey), KeyedHashNoCase(name, other)) << name;
    // A table's slot comes from the low bits: they move too.
    EXPECT_NE(KeyedHash(name, kCountingKey) & 0xFFFF, KeyedHash(name, other) & 0xFFFF) << name;
  }
}

TEST(KeyedHash, EachLoadDrawsAKeyOfItsOwn) {
  HashKey first = RandomHashKey();
  HashKey second = RandomHashKey();
  EXPECT_FALSE(first.K0 == second.K0 && first.K1 == second.K1);
  // Within one load the key stays, or hashes kept in tables would go stale.
  EXPECT_EQ(&LoadKey(), &LoadKey());
  EXPECT_EQ(KeyedHash("www.example.com"), KeyedHash("www.example.com", LoadKey()));
}

TEST(KeyedHashNoCase, HashesANameAsItsAsciiUpperCase) {
  const struct {
    const char* name;
    const char* folded;
  } rows[] = {
      {"www.example.com", "WWW.EXAMPLE.COM"},
      {"abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},  // across words and a partial one
      {"MiXeD.Example.co.uk:8080", "MIXED.EXAMPLE.CO.UK:8080"},
      // The neighbours of the letters, and bytes above ASCII whose low seven
      // bits spell a letter, stay as they are.
      {"@[`{", "@[`{"},
      {"\xE1\xFA\xC1\xDA\xE9", "\xE1\xFA\xC1\xDA\xE9"},
      {"a\xE1z\xFA", "A\xE1Z\xFA"},
      {"", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(KeyedHashNoCase(row.name, kCountingKey), KeyedHash(row.folded, kCountingKey)) << row.name;
    EXPECT_EQ(KeyedHashNoCase(row.folded, kCountingKey), KeyedHash(row.folded, kCountingKey)) << row.folded;
  }
  EXPECT_NE(KeyedHashNoCase("www.example.com", kCountingKey), KeyedHashNoCase("www.example.con", kCountingKey));
}
