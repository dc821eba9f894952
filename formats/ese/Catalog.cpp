#include "formats/ese/Catalog.h"

#include <algorithm>
#include <set>
#include <string>

#include "formats/ese/BTree.h"
#include "formats/ese/Record.h"

namespace trovex::ese {

namespace {

constexpr uint32_t kCatalogRoot = 4;
constexpr uint32_t kShadowCatalogRoot = 24;

enum ObjectType : uint16_t { kTableObject = 1, kColumnObject = 2, kIndexObject = 3, kLongValueObject = 4 };

// The catalog's own layout is fixed: its records describe it with offsets
// that do not fit, so it cannot be read from itself.
Column CatalogColumn(uint32_t id, ColumnType type, uint32_t offset) {
  Column column;
  column.id = id;
  column.type = type;
  column.recordOffset = offset;
  return column;
}

const Column kObjidTable = CatalogColumn(1, ColumnType::kLong, 4);
const Column kType = CatalogColumn(2, ColumnType::kShort, 8);
const Column kId = CatalogColumn(3, ColumnType::kLong, 10);
const Column kColtypOrPgnoFdp = CatalogColumn(4, ColumnType::kLong, 14);
const Column kSpaceUsage = CatalogColumn(5, ColumnType::kLong, 18);
const Column kFlags = CatalogColumn(6, ColumnType::kLong, 22);
const Column kPagesOrLocale = CatalogColumn(7, ColumnType::kLong, 26);
const Column kRecordOffset = CatalogColumn(9, ColumnType::kShort, 31);
const Column kLvChunkMax = CatalogColumn(12, ColumnType::kLong, 39);
const Column kName = CatalogColumn(128, ColumnType::kText, 0);
const Column kTemplateTable = CatalogColumn(130, ColumnType::kText, 0);
const Column kDefaultValue = CatalogColumn(131, ColumnType::kBinary, 0);

uint32_t NumberOf(const Record& record, const Column& column) {
  Field field = record.Find(column);
  if (field.kind != Field::Kind::kPresent) return 0;
  return column.type == ColumnType::kShort ? field.bytes.U16(0) : field.bytes.U32(0);
}

std::string TextOf(const Record& record, const Column& column) {
  Field field = record.Find(column);
  return field.kind == Field::Kind::kPresent ? std::string(field.bytes.Bytes()) : std::string();
}

bool KnownColumnType(uint32_t type) { return type <= 17 && type != static_cast<uint32_t>(ColumnType::kSlv); }

bool InRange(uint32_t page, const Geometry& geometry) { return page >= 1 && page <= geometry.pageCount; }

class CatalogReader {
 public:
  CatalogReader(const Geometry& geometry, Drops& drops) : geometry_(geometry), drops_(drops) {}

  bool Add(const Node& node) {
    Record record;
    if (!record.Parse(node.data, geometry_.large) || record.Find(kType).kind != Field::Kind::kPresent) {
      drops_.Add(Drop::kCatalogShape);
      return true;
    }
    uint32_t objid = NumberOf(record, kObjidTable);
    uint32_t type = NumberOf(record, kType);
    if (type == kTableObject) {
      AddTable(record, objid);
    } else if (type == kColumnObject || type == kLongValueObject || type == kIndexObject) {
      if (current_ == nullptr || current_->objid != objid) {
        drops_.Add(Drop::kCatalogShape);
      } else if (type == kColumnObject) {
        AddColumn(record);
      } else if (type == kLongValueObject) {
        AddLongValues(record);
      }
    }
    return true;
  }

  std::vector<Table> Finish() {
    for (Table& table : tables_) {
      std::stable_sort(table.columns.begin(), table.columns.end(),
                       [](const Column& a, const Column& b) { return a.id < b.id; });
      PlaceFixedColumns(table);
    }
    InheritTemplates();
    return std::move(tables_);
  }

 private:
  void AddTable(const Record& record, uint32_t objid) {
    current_ = nullptr;
    Table table;
    table.objid = objid;
    table.name = TextOf(record, kName);
    table.root = NumberOf(record, kColtypOrPgnoFdp);
    table.templateName = TextOf(record, kTemplateTable);
    if (table.name.empty() || !InRange(table.root, geometry_)) {
      drops_.Add(Drop::kCatalogShape);
      return;
    }
    // Each tree belongs to one table, so that no walk reads a page twice.
    if (!names_.insert(table.name).second || !objids_.insert(objid).second || !roots_.insert(table.root).second) {
      drops_.Add(Drop::kCatalogDuplicate);
      return;
    }
    tables_.push_back(std::move(table));
    current_ = &tables_.back();
  }

  void AddColumn(const Record& record) {
    Column column;
    column.id = NumberOf(record, kId);
    uint32_t type = NumberOf(record, kColtypOrPgnoFdp);
    column.name = TextOf(record, kName);
    column.flags = NumberOf(record, kFlags);
    column.spaceUsage = NumberOf(record, kSpaceUsage);
    column.codePage = NumberOf(record, kPagesOrLocale);
    column.recordOffset = NumberOf(record, kRecordOffset);
    if (column.flags & kColumnDefault) column.defaultValue = TextOf(record, kDefaultValue);
    bool duplicate = std::any_of(current_->columns.begin(), current_->columns.end(),
                                 [&](const Column& other) { return other.id == column.id; });
    if (column.id == 0 || column.id > 0xFFFF || !KnownColumnType(type) || duplicate) {
      drops_.Add(Drop::kCatalogShape);
      return;
    }
    column.type = static_cast<ColumnType>(type);
    current_->columns.push_back(std::move(column));
  }

  void AddLongValues(const Record& record) {
    uint32_t root = NumberOf(record, kColtypOrPgnoFdp);
    if (!InRange(root, geometry_) || !roots_.insert(root).second) {
      drops_.Add(Drop::kCatalogShape);
      return;
    }
    current_->longValueRoot = root;
    current_->chunkSize = NumberOf(record, kLvChunkMax);
  }

  // Fixed columns lie one after another from offset 4 in id order. The
  // catalog's stored offset is not used: the databases read so far store 4
  // for every column of the catalog itself. A table whose fixed column was
  // deleted would place the columns after it wrongly.
  static void PlaceFixedColumns(Table& table) {
    uint32_t offset = 4;
    for (Column& column : table.columns) {
      if (!column.Fixed()) continue;
      column.recordOffset = offset;
      offset += FixedSize(column);
    }
  }

  void InheritTemplates() {
    for (Table& table : tables_) {
      if (table.templateName.empty()) continue;
      auto source = std::find_if(tables_.begin(), tables_.end(),
                                 [&](const Table& other) { return other.name == table.templateName; });
      if (source == tables_.end() || &*source == &table) continue;
      std::vector<Column> columns = source->columns;
      for (Column& own : table.columns)
        if (std::none_of(columns.begin(), columns.end(), [&](const Column& c) { return c.id == own.id; }))
          columns.push_back(std::move(own));
      std::stable_sort(columns.begin(), columns.end(), [](const Column& a, const Column& b) { return a.id < b.id; });
      table.columns = std::move(columns);
    }
  }

  const Geometry& geometry_;
  Drops& drops_;
  std::vector<Table> tables_;
  std::set<std::string> names_;
  std::set<uint32_t> objids_, roots_;
  Table* current_ = nullptr;
};

}  // namespace

std::vector<Table> ReadCatalog(const Image& image, const Geometry& geometry, Drops& drops, bool& complete) {
  for (uint32_t root : {kCatalogRoot, kShadowCatalogRoot}) {
    Page page;
    if (LoadPage(image, geometry, root, page).has_value() || !page.Has(kPageRoot)) continue;
    CatalogReader reader(geometry, drops);
    complete = WalkTree(image, geometry, root, 0, TreeKind::kData, drops, [&](const Node& node) {
      return reader.Add(node);
    });
    return reader.Finish();
  }
  // Neither catalog root can be read: report the first one's fault.
  Page page;
  drops.Add(LoadPage(image, geometry, kCatalogRoot, page).value_or(Drop::kPageFlags));
  complete = false;
  return {};
}

}  // namespace trovex::ese
