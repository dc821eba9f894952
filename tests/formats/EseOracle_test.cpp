// The ESE reader against Debian's esedbexport (libesedb 20181229), run here
// on each sample into a fresh folder: the same tables, columns and row
// counts, and the same values wherever that tool is known to be right.
// Skipped when esedbexport is not installed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "formats/ese/Database.h"

namespace trovex::ese {
namespace {

namespace fs = std::filesystem;

struct Sample {
  std::string path;
  bool oracleRefuses;  // esedbexport rejects it; only our reader can speak for it
};

// Names the sample in the test's listing rather than dumping its bytes.
void PrintTo(const Sample& sample, std::ostream* out) { *out << sample.path; }

std::string SampleFolder() {
  std::string here = __FILE__;
  return here.substr(0, here.find_last_of("/\\") + 1) + "../data/ese/";
}

std::vector<Sample> Samples() {
  std::vector<Sample> samples = {
      {SampleFolder() + "esedb-basic__dissect-esedb.edb", false},
      {SampleFolder() + "esedb-binary__dissect-esedb.edb", false},
      {SampleFolder() + "esedb-multi__dissect-esedb.edb", false},
      // Its header checksum covers the whole page; esedbexport checks only
      // the first 668 bytes and refuses the file.
      {SampleFolder() + "qmgr__go-ese.db", true},
  };
#ifdef TROVEX_WEBCACHE_SAMPLE
  samples.push_back({TROVEX_WEBCACHE_SAMPLE, false});
#endif
  return samples;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool OracleInstalled() { return std::system("command -v esedbexport >/dev/null 2>&1") == 0; }

// A fresh folder, removed with everything in it at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "trovex-eseoracle-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

using Lines = std::vector<std::vector<std::string>>;  // [line][field]

Lines SplitTsv(const std::string& text) {
  Lines lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> fields;
    size_t field = at;
    for (size_t tab; (tab = text.find('\t', field)) < end; field = tab + 1) fields.push_back(text.substr(field, tab - field));
    fields.push_back(text.substr(field, end - field));
    lines.push_back(std::move(fields));
    at = end + 1;
  }
  return lines;
}

// esedbexport writes OUT.export/<table>.<n> per table; the tables by name.
std::map<std::string, Lines> RunOracle(const std::string& database, const fs::path& scratch, int* status) {
  std::string command = "esedbexport -t '" + (scratch / "out").string() + "' '" + database + "' >/dev/null 2>&1";
  *status = std::system(command.c_str());
  std::map<std::string, Lines> tables;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch / "out.export", error)) {
    std::string name = entry.path().filename().string();
    tables[name.substr(0, name.rfind('.'))] = SplitTsv(ReadFile(entry.path()));
  }
  return tables;
}

template <typename T>
T Number(const std::string& bytes) {
  T value{};
  std::memcpy(&value, bytes.data(), std::min(sizeof value, bytes.size()));
  return value;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) (hex += kDigits[byte >> 4]) += kDigits[byte & 15];
  return hex;
}

void AppendUtf8(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Text as esedbexport prints it: UTF-8 with `\` doubled. Nothing for text
// it is known to print wrongly or that this test does not convert.
std::optional<std::string> OracleText(const Column& column, const std::string& bytes) {
  std::string utf8;
  if (column.codePage == kCodePageUtf16) {
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
      uint32_t unit = Number<uint16_t>(bytes.substr(at, 2));
      if (unit >= 0xD800 && unit <= 0xDFFF) return std::nullopt;  // it mis-decodes surrogate pairs
      AppendUtf8(unit, utf8);
    }
    while (!utf8.empty() && utf8.back() == '\0') utf8.pop_back();
  } else {
    for (unsigned char byte : bytes)
      if (byte >= 0x80) return std::nullopt;  // a single-byte code page this test does not map
    utf8 = bytes;
  }
  std::string escaped;
  for (char c : utf8) (escaped += c) += c == '\\' ? "\\" : "";
  return escaped;
}

// How esedbexport prints a present value of `column`; nothing where it is
// known to be wrong or prints only a formatting of its own.
std::optional<std::string> OracleForm(const Column& column, const std::string& bytes) {
  switch (column.type) {
    case ColumnType::kBit: return std::string(Number<uint8_t>(bytes) != 0 ? "true" : "false");
    case ColumnType::kUnsignedByte: return std::to_string(Number<uint8_t>(bytes));
    case ColumnType::kShort: return std::to_string(Number<int16_t>(bytes));
    case ColumnType::kUnsignedShort: return std::to_string(Number<uint16_t>(bytes));
    case ColumnType::kLong: return std::to_string(Number<int32_t>(bytes));
    case ColumnType::kUnsignedLong: return std::to_string(Number<uint32_t>(bytes));
    case ColumnType::kLongLong: return std::to_string(Number<int64_t>(bytes));
    case ColumnType::kCurrency: return std::to_string(Number<uint64_t>(bytes));  // it prints Currency unsigned
    case ColumnType::kGuid:
    case ColumnType::kBinary:
    case ColumnType::kLongBinary: return Hex(bytes);
    case ColumnType::kText:
    case ColumnType::kLongText: return OracleText(column, bytes);
    default: return std::nullopt;  // floats and dates: printed in a format of its own
  }
}

bool LooksLikeNumber(const std::string& field) {
  return !field.empty() && (std::isdigit(static_cast<unsigned char>(field[0])) || field[0] == '-');
}

bool LongType(const Column& column) {
  return column.type == ColumnType::kLongBinary || column.type == ColumnType::kLongText;
}

struct Tally {
  size_t compared = 0;
  size_t skipped = 0;
};

void CompareValue(const Column& column, const Value& ours, const std::string& theirs, const std::string& where,
                  Tally& tally) {
  // Values the oracle cannot give; each skip names why.
  bool skip = (column.flags & kColumnMultivalued) != 0  // it prints every instance in one field
              || (column.flags & kColumnCompressed) != 0  // it does not always inflate compressed values
              || (ours.state == ValueState::kNull && column.Fixed())  // it prints the NULL column's filler bytes
              || (ours.Present() && theirs.empty() && !ours.bytes.empty() && LongType(column))  // 64-bit long-value ids and compressed chunks come out empty
              || (column.type == ColumnType::kLongLong && !LooksLikeNumber(theirs) && !theirs.empty());  // FILETIMEs it recognises are printed as dates
  std::optional<std::string> expected;
  if (!skip && ours.state == ValueState::kNull) expected = "";
  if (!skip && ours.Present()) expected = OracleForm(column, ours.bytes);
  EXPECT_TRUE(ours.Present() || ours.state == ValueState::kNull) << where << ": state " << static_cast<int>(ours.state);
  if (!expected) {
    ++tally.skipped;
    return;
  }
  ++tally.compared;
  EXPECT_EQ(*expected, theirs) << where;
}

void CompareTable(const Database& database, const Table& table, const Lines& lines, Tally& tally) {
  ASSERT_FALSE(lines.empty()) << table.name << ": no header line";
  std::vector<std::string> names;
  for (const Column& column : table.columns) names.push_back(column.name);
  ASSERT_EQ(names, lines[0]) << table.name << ": columns";
  Drops drops = NewDrops();
  size_t at = 1;
  bool complete = database.ForEachRow(table, drops, [&](const Row& row) {
    if (at < lines.size() && lines[at].size() == names.size())
      for (size_t i = 0; i < table.columns.size(); ++i)
        CompareValue(table.columns[i], row.Get(table.columns[i]), lines[at][i],
                     table.name + " row " + std::to_string(at - 1) + " " + names[i], tally);
    ++at;
    return true;
  });
  EXPECT_TRUE(complete) << table.name;
  EXPECT_EQ(lines.size(), at) << table.name << ": rows";
}

class EseOracle : public testing::TestWithParam<Sample> {};

TEST_P(EseOracle, TablesColumnsRowsAndValuesMatchEsedbexport) {
  const Sample& sample = GetParam();
  if (!OracleInstalled()) GTEST_SKIP() << "esedbexport (libesedb-utils) is not installed";
  if (!fs::exists(sample.path)) GTEST_SKIP() << "no sample at " << sample.path;
  if (sample.oracleRefuses) GTEST_SKIP() << "esedbexport refuses this file (its header checksum check is short)";

  ScratchFolder scratch;
  ASSERT_FALSE(scratch.Path().empty());
  int status = 0;
  std::map<std::string, Lines> oracle = RunOracle(sample.path, scratch.Path(), &status);
  ASSERT_EQ(0, status) << "esedbexport failed on " << sample.path;

  std::string image = ReadFile(sample.path);
  std::string why;
  std::optional<Database> database = Database::Open(image, &why);
  ASSERT_TRUE(database.has_value()) << why;
  std::set<std::string> ours, theirs;
  for (const Table& table : database->Tables()) ours.insert(table.name);
  for (const auto& [name, lines] : oracle) theirs.insert(name);
  EXPECT_EQ(theirs, ours);

  Tally tally;
  for (const Table& table : database->Tables())
    if (oracle.count(table.name)) CompareTable(*database, table, oracle.at(table.name), tally);
  EXPECT_GT(tally.compared, 0u);
  std::cout << sample.path << ": " << tally.compared << " values compared, " << tally.skipped << " skipped\n";
}

INSTANTIATE_TEST_SUITE_P(Samples, EseOracle, testing::ValuesIn(Samples()), [](const auto& info) {
  std::string name = fs::path(info.param.path).stem().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

}  // namespace
}  // namespace trovex::ese
