// A read-only ESE ("JET Blue") database, read through an Image: its tables,
// their columns and rows, and the values of a row's columns. The reader
// makes no system calls; it reads the bytes it is given and nothing else.
// A page or record it cannot read is left out and counted, and the rest is
// read. Not for use by several threads at once.
#ifndef TROVEX_FORMATS_ESE_DATABASE_H
#define TROVEX_FORMATS_ESE_DATABASE_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ByteView.h"
#include "formats/Drops.h"
#include "formats/ese/Drop.h"
#include "formats/ese/Header.h"
#include "formats/ese/Image.h"
#include "formats/ese/LongValue.h"
#include "formats/ese/Page.h"
#include "formats/ese/Record.h"
#include "formats/ese/Schema.h"

namespace trovex::ese {

enum class ValueState {
  kNull,         // absent without a default, or stored as NULL
  kPresent,      // `bytes` is the whole value
  kTruncated,    // `bytes` is the value cut at the reader's limit
  kUnavailable,  // a long value the file has lost, or whose chunks are broken
  kUnsupported,  // compressed by an unknown scheme, or encrypted
  kMalformed,    // the record's bytes for it do not hold together
};

// A column's value as stored: little-endian numbers, text in the column's
// code page (UTF-16LE for kCodePageUtf16), binary as is.
struct Value {
  ValueState state = ValueState::kNull;
  std::string bytes;

  bool Present() const { return state == ValueState::kPresent; }
};

class Database;

class Row {
 public:
  // The column's value; the first one of a multi-valued column.
  Value Get(const Column& column) const;
  // Every value of the column in order; empty when it is NULL.
  std::vector<Value> GetAll(const Column& column) const;

 private:
  friend class Database;
  Row(const Database& database, const Table& table, Drops& drops) : database_(database), table_(table), drops_(drops) {}
  Value Resolve(const Instance& instance, const Column& column) const;

  const Database& database_;
  const Table& table_;
  Drops& drops_;
  Record record_;
};

class Database {
 public:
  // Opens the database image `bytes`, which must outlive the result.
  // Nothing when its header cannot be read; `why` then says why.
  static std::optional<Database> Open(std::string_view bytes, std::string* why);
  // The same for a database read through `image`, which the result keeps.
  static std::optional<Database> Open(std::unique_ptr<const Image> image, std::string* why);

  const Header& FileHeader() const { return header_; }
  const std::vector<Table>& Tables() const { return tables_; }
  // The table named `name`, or nullptr.
  const Table* FindTable(std::string_view name) const;
  // What the catalog left out; whether every catalog page was read.
  const Drops& CatalogDrops() const { return catalogDrops_; }
  bool CatalogComplete() const { return catalogComplete_; }

  // Calls `visit` with each row of `table` in primary-key order until it
  // returns false. Counts what was left out in `drops`; returns false when
  // any page or record of the table (or its long values) was left out.
  bool ForEachRow(const Table& table, Drops& drops, const std::function<bool(const Row&)>& visit) const;

  // The most bytes a long value with no column limit is read to.
  static constexpr uint64_t kLongValueLimit = 16u << 20;

 private:
  friend class Row;
  Database(std::unique_ptr<const Image> image, const Header& header)
      : image_(std::move(image)), header_(header), geometry_(GeometryOf(header)) {}
  const LongValueIndex& LongValuesOf(const Table& table, Drops& drops) const;

  std::unique_ptr<const Image> image_;
  Header header_;
  Geometry geometry_;
  std::vector<Table> tables_;
  Drops catalogDrops_ = NewDrops();
  bool catalogComplete_ = false;
  mutable std::map<uint32_t, LongValueIndex> longValues_;  // by table objid, read when first needed
};

}  // namespace trovex::ese

#endif
