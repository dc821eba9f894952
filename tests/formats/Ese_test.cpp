// The ESE reader on real databases, on copies of them damaged in memory,
// and on hand-made compressed data. Expected values come from Debian's
// esedbexport (libesedb 20181229), run as `esedbexport -t OUT FILE` on the
// same files, except where that tool is known to be wrong: it prints the
// filler bytes of NULL fixed columns, cannot read 64-bit long-value ids,
// does not inflate compressed long-value chunks and refuses qmgr.db (its
// header checksum stops short of the header's end).
#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/ese/Compression.h"
#include "formats/ese/Database.h"

namespace trovex::ese {
namespace {

// The samples lie beside the tests, in tests/data/ese.
std::string Sample(const std::string& name) {
  std::string here = __FILE__;
  std::string folder = here.substr(0, here.find_last_of("/\\") + 1) + "../data/ese/";
  std::ifstream in(folder + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << folder + name;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string kBasic = "esedb-basic__dissect-esedb.edb";
const std::string kBinary = "esedb-binary__dissect-esedb.edb";
const std::string kMulti = "esedb-multi__dissect-esedb.edb";
const std::string kQmgr = "qmgr__go-ese.db";

Database Open(const std::string& image) {
  std::string why;
  std::optional<Database> database = Database::Open(image, &why);
  EXPECT_TRUE(database.has_value()) << why;
  if (!database) std::abort();
  return std::move(*database);
}

struct Rows {
  std::vector<std::vector<Value>> values;  // [row][column]: the first value
  bool complete = false;
  Drops drops = NewDrops();
};

Rows ReadTable(const Database& database, const std::string& name) {
  Rows rows;
  const Table* table = database.FindTable(name);
  if (table == nullptr) return rows;
  rows.complete = database.ForEachRow(*table, rows.drops, [&](const Row& row) {
    rows.values.emplace_back();
    for (const Column& column : table->columns) rows.values.back().push_back(row.Get(column));
    return true;
  });
  return rows;
}

std::vector<std::string> AllValues(const Database& database, const std::string& table, const std::string& column,
                                   size_t rowIndex) {
  std::vector<std::string> texts;
  const Table* found = database.FindTable(table);
  const Column* wanted = found->Find(column);
  size_t at = 0;
  Drops drops = NewDrops();
  database.ForEachRow(*found, drops, [&](const Row& row) {
    if (at++ == rowIndex)
      for (const Value& value : row.GetAll(*wanted)) texts.push_back(value.bytes);
    return true;
  });
  return texts;
}

Value ValueOf(const Database& database, const std::string& table, const std::string& column, size_t row) {
  const Table* found = database.FindTable(table);
  Rows rows = ReadTable(database, table);
  for (size_t i = 0; i < found->columns.size(); ++i)
    if (found->columns[i].name == column && row < rows.values.size()) return rows.values[row][i];
  ADD_FAILURE() << "no " << table << "." << column << " row " << row;
  return {};
}

std::string Le(uint64_t value, int bytes) {
  std::string text;
  for (int i = 0; i < bytes; ++i) text.push_back(static_cast<char>(value >> (8 * i)));
  return text;
}

std::string Utf16(std::string_view ascii) {
  std::string text;
  for (char c : ascii) text += {c, '\0'};
  return text;
}

// Writes a little-endian number into an image.
void Put(std::string& image, uint64_t at, uint64_t value, int bytes) { image.replace(at, bytes, Le(value, bytes)); }

uint32_t Xor(const std::string& image, uint64_t from, uint64_t to) {
  uint32_t sum = 0;
  for (uint64_t i = from; i < to; i += 4) sum ^= ByteView(image).U32(i);
  return sum;
}

uint64_t PageAt(uint32_t page, uint32_t pageSize) { return (uint64_t{page} + 1) * pageSize; }

// Gives a changed small page a checksum that holds again.
void Reseal(std::string& image, uint32_t page, uint32_t pageSize) {
  uint64_t at = PageAt(page, pageSize);
  Put(image, at, Xor(image, at + 8, at + pageSize) ^ page, 4);
}

TEST(EseSamples, TablesAndRowCountsMatchTheOracle) {
  struct Case {
    std::string file;
    std::vector<std::pair<std::string, size_t>> tables;
  };
  const Case cases[] = {
      {kBasic, {{"MSysObjects", 87}, {"MSysObjectsShadow", 87}, {"MSysObjids", 7}, {"MSysLocales", 7}, {"basic", 2}}},
      {kBinary, {{"MSysObjects", 87}, {"MSysObjectsShadow", 87}, {"MSysObjids", 8}, {"MSysLocales", 7}, {"binary", 1}}},
      {kMulti, {{"MSysObjects", 97}, {"MSysObjectsShadow", 97}, {"MSysObjids", 8}, {"MSysLocales", 7}, {"multi", 2}}},
  };
  for (const Case& c : cases) {
    std::string image = Sample(c.file);
    Database database = Open(image);
    ASSERT_EQ(database.Tables().size(), c.tables.size()) << c.file;
    EXPECT_TRUE(database.CatalogComplete()) << c.file;
    for (size_t i = 0; i < c.tables.size(); ++i) {
      EXPECT_EQ(database.Tables()[i].name, c.tables[i].first) << c.file;
      Rows rows = ReadTable(database, c.tables[i].first);
      EXPECT_EQ(rows.values.size(), c.tables[i].second) << c.file << " " << c.tables[i].first;
      EXPECT_TRUE(rows.complete) << c.file << " " << c.tables[i].first << ": " << rows.drops.Describe();
    }
  }
}

TEST(EseValues, FixedColumnsOfEveryTypeMatchTheOracle) {
  std::string image = Sample(kBasic);
  Database database = Open(image);
  // esedbexport: 1 false 213 -1337 -13371337 1337133713371337 … 13371337 -13371337 f10a363f… 1337
  const std::pair<std::string, std::string> row0[] = {
      {"Id", Le(1, 4)},
      {"Bit", Le(0, 1)},
      {"UnsignedByte", Le(213, 1)},
      {"Short", Le(static_cast<uint16_t>(-1337), 2)},
      {"Long", Le(static_cast<uint32_t>(-13371337), 4)},
      {"Currency", Le(1337133713371337, 8)},
      {"UnsignedLong", Le(13371337, 4)},
      {"LongLong", Le(static_cast<uint64_t>(-13371337), 8)},
      {"GUID", "\xf1\x0a\x36\x3f\x66\x67\xdc\x46\x9a\xf2\x0d\xac\xf2\x95\xc2\xa1"},
      {"UnsignedShort", Le(1337, 2)},
  };
  for (const auto& [column, expected] : row0) {
    Value value = ValueOf(database, "basic", column, 0);
    EXPECT_EQ(value.state, ValueState::kPresent) << column;
    EXPECT_EQ(value.bytes, expected) << column;
  }
  // The second row sets only its first columns; esedbexport leaves the rest empty.
  EXPECT_EQ(ValueOf(database, "basic", "Short", 1).bytes, Le(1339, 2));
  for (const char* column : {"UnsignedLong", "LongLong", "GUID", "UnsignedShort"})
    EXPECT_EQ(ValueOf(database, "basic", column, 1).state, ValueState::kNull) << column;
}

TEST(EseValues, NullFixedColumnIsNullNotItsFiller) {
  std::string image = Sample(kBinary);
  Database database = Open(image);
  // esedbexport prints the filler, 2a2a…, for it: the null bitmap marks it NULL.
  EXPECT_EQ(ValueOf(database, "binary", "NullableFixedBinary", 0).state, ValueState::kNull);
  EXPECT_EQ(ValueOf(database, "binary", "Binary", 0).bytes, "test binary data");
  EXPECT_EQ(ValueOf(database, "binary", "TaggedBinary", 0).bytes, "test tagged binary data");
}

TEST(EseValues, CompressedLongValueChunksAreInflated) {
  std::string image = Sample(kBinary);
  Database database = Open(image);
  // esedbexport gives the plain one; it writes the compressed one empty.
  EXPECT_EQ(ValueOf(database, "binary", "LongBinary", 0).bytes, "test long binary data " + std::string(1000, 'a'));
  Value compressed = ValueOf(database, "binary", "LongCompressedBinary", 0);
  EXPECT_EQ(compressed.state, ValueState::kPresent);
  EXPECT_EQ(compressed.bytes, "test long compressed binary data " + std::string(1000, 'a'));
}

TEST(EseValues, MultiValuesComeInOrder) {
  std::string image = Sample(kMulti);
  Database database = Open(image);
  std::string value = "Some ASCII text that has multiple values, this is value ";
  EXPECT_EQ(AllValues(database, "multi", "ASCII", 0),
            (std::vector<std::string>{value + "1", value + "2", value + "3"}));
  EXPECT_EQ(AllValues(database, "multi", "LongASCII", 1), (std::vector<std::string>{"Tiny ASCII 1", "Tiny ASCII 2"}));
  // Only the first instance is compressed; esedbexport shows all three.
  EXPECT_EQ(AllValues(database, "multi", "LongCompressedASCII", 1),
            (std::vector<std::string>{std::string(41, 'a'), std::string(40, 'b'), std::string(35, 'c')}));
  EXPECT_EQ(AllValues(database, "multi", "UnsignedShort", 0), (std::vector<std::string>{Le(0, 2), Le(65535, 2)}));
  EXPECT_TRUE(AllValues(database, "multi", "UnsignedShort", 1).empty());
}

TEST(EseValues, DirtyLargePageDatabaseWithLongIdsIsRead) {
  std::string image = Sample(kQmgr);
  Database database = Open(image);
  EXPECT_EQ(database.FileHeader().pageSize, 16384u);
  EXPECT_EQ(database.FileHeader().revision, 0x12Cu);
  EXPECT_TRUE(database.FileHeader().Dirty());
  Value blob = ValueOf(database, "Jobs", "Blob", 0);
  ASSERT_EQ(blob.state, ValueState::kPresent);
  EXPECT_NE(blob.bytes.find(Utf16("Edge Component Updater")), std::string::npos);
  EXPECT_EQ(ReadTable(database, "Files").values.size(), 1u);
}

TEST(EseDamage, PageFailingItsChecksumIsDroppedAndTheRestRead) {
  std::string image = Sample(kQmgr);
  uint32_t longValues = 0;
  {
    Database whole = Open(image);
    const Table* jobs = whole.FindTable("Jobs");
    ASSERT_NE(jobs, nullptr);
    longValues = jobs->longValueRoot;
  }
  ASSERT_NE(longValues, 0u);
  image[PageAt(longValues, 16384) + 16384 - 100] ^= 0x10;  // a torn last block

  Database database = Open(image);
  Rows rows = ReadTable(database, "Jobs");
  ASSERT_EQ(rows.values.size(), 1u);
  EXPECT_FALSE(rows.complete);
  EXPECT_EQ(rows.drops.Of(Drop::kPageChecksum), 1u);
  EXPECT_EQ(rows.values[0][1].state, ValueState::kUnavailable);
  EXPECT_EQ(rows.drops.Describe(), "1 page (1 bad checksum), 1 long value (1 not found)");
  EXPECT_TRUE(ReadTable(database, "Files").complete);
}

TEST(EseHeader, DamagedPrimaryFallsBackToTheShadow) {
  std::string image = Sample(kBasic);
  image[300] ^= 1;
  Database database = Open(image);
  EXPECT_TRUE(database.FileHeader().fromShadow);
  EXPECT_EQ(ReadTable(database, "basic").values.size(), 2u);

  image[4096 + 300] ^= 1;
  std::string why;
  EXPECT_FALSE(Database::Open(image, &why).has_value());
  EXPECT_EQ(why, "both copies of the database header are damaged");
}

TEST(EseHeader, FilesThatAreNoCompleteDatabaseAreRefused) {
  std::string basic = Sample(kBasic);
  auto withState = [&](uint32_t state) {
    std::string image = basic;
    for (uint64_t copy : {0, 4096}) {
      Put(image, copy + 52, state, 4);
      Put(image, copy, 0x89ABCDEF ^ Xor(image, copy + 4, copy + 4096), 4);
    }
    return image;
  };
  const std::pair<std::string, std::string> cases[] = {
      {std::string(1 << 16, '\0'), "not an ESE database"},
      {basic.substr(0, 3 * 4096 - 1), "the file is shorter than its header and one page"},
      {withState(1), "the database was never completed"},
      {withState(4), "the database was never completed"},
  };
  for (const auto& [image, reason] : cases) {
    std::string why;
    EXPECT_FALSE(Database::Open(image, &why).has_value()) << reason;
    EXPECT_EQ(why, reason);
  }
  EXPECT_TRUE(Database::Open(withState(2), nullptr).has_value());
}

// Turns the basic table's root leaf into a branch with one child.
void MakeBranch(std::string& image, uint32_t root, uint32_t child) {
  uint64_t page = PageAt(root, 4096);
  Put(image, page + 36, ByteView(image).U32(page + 36) & ~uint32_t{kPageLeaf}, 4);
  Put(image, page + 34, 2, 2);                    // tag 0 and one node
  Put(image, page + 40, uint64_t{child} << 16, 6);         // no key, then the child's number
  Put(image, page + 4096 - 8, 6, 2);              // tag 1: 6 bytes at 0
  Put(image, page + 4096 - 6, 0, 2);
}

TEST(EseDamage, HostilePagesAreDroppedWithTheirReason) {
  std::string basic = Sample(kBasic);
  uint32_t root = Open(basic).FindTable("basic")->root;
  uint64_t page = PageAt(root, 4096);
  struct Case {
    const char* what;
    void (*change)(std::string&, uint32_t, uint64_t);
    Drop reason;
  };
  const Case cases[] = {
      {"huge tag count", [](std::string& image, uint32_t, uint64_t at) { Put(image, at + 34, 0x0FFF, 2); },
       Drop::kPageTags},
      {"tag past the data", [](std::string& image, uint32_t, uint64_t at) { Put(image, at + 4096 - 6, 0x1FF0, 2); },
       Drop::kPageTags},
      {"child is its parent", [](std::string& image, uint32_t number, uint64_t) { MakeBranch(image, number, number); },
       Drop::kPageCycle},
      {"child past the end", [](std::string& image, uint32_t number, uint64_t) { MakeBranch(image, number, 1u << 20); },
       Drop::kPageOutside},
      {"child of another tree", [](std::string& image, uint32_t number, uint64_t) { MakeBranch(image, number, 4); },
       Drop::kPageOwner},
  };
  for (const Case& c : cases) {
    std::string image = basic;
    c.change(image, root, page);
    Reseal(image, root, 4096);
    Database database = Open(image);
    Rows rows = ReadTable(database, "basic");
    EXPECT_TRUE(rows.values.empty()) << c.what;
    EXPECT_FALSE(rows.complete) << c.what;
    EXPECT_EQ(rows.drops.Of(c.reason), 1u) << c.what << ": " << rows.drops.Describe();
    EXPECT_EQ(ReadTable(database, "MSysObjids").values.size(), 7u) << c.what;
  }
}

TEST(EseDamage, TruncatedFileLosesOnlyWhatIsGone) {
  std::string image = Sample(kMulti).substr(0, 40 * 4096);
  Database database = Open(image);
  EXPECT_EQ(database.FileHeader().pageCount, 38u);
  EXPECT_EQ(ReadTable(database, "MSysObjects").values.size(), 97u);
  Rows rows = ReadTable(database, "multi");
  EXPECT_FALSE(rows.complete);
  EXPECT_GT(rows.drops.Of(Drop::kPageOutside), 0u);
}

TEST(EseCompression, SchemesDecodeOrAreRefused) {
  struct Case {
    const char* what;
    std::string input;
    Decoded result;
    std::string output;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"7-bit ASCII", "\x0C\x61\xF1\x18"s, Decoded::kOk, "abc"},
      {"7-bit Unicode", "\x14\x61\xF1\x18"s, Decoded::kOk, "a\0b\0c\0"s},
      {"7-bit without data", "\x0C"s, Decoded::kCorrupt, ""},
      {"Xpress literals and a match", "\x18\x09\x00\x00\x00\x00\x10"s + "abc" + "\x13\x00"s, Decoded::kOk,
       "abcabcabc"},
      {"Xpress long match", "\x18\x2C\x01\x00\x00\x00\x40"s + "a" + "\x07\x00\x0F\xFF\x28\x01"s, Decoded::kOk,
       std::string(300, 'a')},
      {"Xpress cut short", "\x18\x09\x00\x00\x00\x00\x10"s + "abc", Decoded::kCorrupt, ""},
      {"Xpress match before the start", "\x18\x09\x00\x00\x00\x00\x10"s + "abc" + "\x1B\x00"s, Decoded::kCorrupt,
       ""},
      {"Xpress match past the size", "\x18\x05\x00\x00\x00\x00\x10"s + "abc" + "\x13\x00"s, Decoded::kCorrupt, ""},
      {"LZ4 literals and a match", "\x38\x09\x00\x32"s + "abc" + "\x03\x00"s, Decoded::kOk, "abcabcabc"},
      {"LZ4 match at distance 0", "\x38\x09\x00\x32"s + "abc" + "\x00\x00"s, Decoded::kCorrupt, ""},
      {"LZ4 short of its size", "\x38\x0A\x00\x32"s + "abc" + "\x03\x00"s, Decoded::kCorrupt, ""},
      {"Xpress9", "\x28\x00\x00\x00\x00"s, Decoded::kUnsupported, ""},
      {"Xpress10", "\x30\x00\x00"s, Decoded::kUnsupported, ""},
      {"scrubbed", "\x20"s, Decoded::kUnsupported, ""},
  };
  for (const Case& c : cases) {
    std::string output;
    EXPECT_EQ(Decompress(ByteView(c.input), output), c.result) << c.what;
    if (c.result == Decoded::kOk) {
      EXPECT_EQ(output, c.output) << c.what;
    }
  }
}

}  // namespace
}  // namespace trovex::ese
