// Tables and columns as the catalog of an ESE database describes them.
#ifndef TROVEX_FORMATS_ESE_SCHEMA_H
#define TROVEX_FORMATS_ESE_SCHEMA_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trovex::ese {

enum class ColumnType : uint8_t {
  kNil = 0,
  kBit = 1,
  kUnsignedByte = 2,
  kShort = 3,
  kLong = 4,
  kCurrency = 5,
  kFloat = 6,
  kDouble = 7,
  kDateTime = 8,  // days since 1899-12-30 as a double
  kBinary = 9,
  kText = 10,
  kLongBinary = 11,
  kLongText = 12,
  kSlv = 13,
  kUnsignedLong = 14,
  kLongLong = 15,
  kGuid = 16,
  kUnsignedShort = 17,
};

enum ColumnFlag : uint32_t {
  kColumnAutoincrement = 0x4,
  kColumnMultivalued = 0x8,
  kColumnDefault = 0x10,
  kColumnCompressed = 0x1000,
  kColumnEncrypted = 0x2000,
};

// Text columns name their code page: 1200 is UTF-16LE, others single-byte.
constexpr uint32_t kCodePageUtf16 = 1200;

struct Column {
  uint32_t id = 0;  // 1–127 fixed, 128–255 variable, 256 and up tagged
  std::string name;
  ColumnType type = ColumnType::kNil;
  uint32_t flags = 0;       // ColumnFlag bits
  uint32_t spaceUsage = 0;  // the most bytes a value takes, 0 for no limit
  uint32_t codePage = 0;
  uint32_t recordOffset = 0;  // where a fixed column starts in a record
  std::string defaultValue;   // the raw value of an absent column, if kColumnDefault

  bool Fixed() const { return id >= 1 && id <= 127; }
  bool Variable() const { return id >= 128 && id <= 255; }
  bool Tagged() const { return id >= 256; }
  bool Text() const { return type == ColumnType::kText || type == ColumnType::kLongText; }
};

struct Table {
  uint32_t objid = 0;
  std::string name;
  uint32_t root = 0;           // the root page of its data tree
  uint32_t longValueRoot = 0;  // the root page of its long values, 0 for none
  uint32_t chunkSize = 0;      // the bytes of one long-value chunk, 0 for the page's default
  std::string templateName;    // the table whose columns it inherits, if any
  std::vector<Column> columns;  // in column id order

  // The column named `name`, or nullptr.
  const Column* Find(std::string_view name) const {
    for (const Column& column : columns)
      if (column.name == name) return &column;
    return nullptr;
  }
};

// The bytes a value of a fixed column of `column`'s type takes; 0 for types
// that are not fixed in size.
inline uint32_t FixedSize(const Column& column) {
  switch (column.type) {
    case ColumnType::kBit:
    case ColumnType::kUnsignedByte: return 1;
    case ColumnType::kShort:
    case ColumnType::kUnsignedShort: return 2;
    case ColumnType::kLong:
    case ColumnType::kFloat:
    case ColumnType::kUnsignedLong: return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kLongLong: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kBinary:
    case ColumnType::kText: return column.spaceUsage;
    default: return 0;
  }
}

}  // namespace trovex::ese

#endif
