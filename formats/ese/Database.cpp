#include "formats/ese/Database.h"

#include "formats/ese/BTree.h"
#include "formats/ese/Catalog.h"
#include "formats/ese/Compression.h"

namespace trovex::ese {

namespace {

Value Of(ValueState state, std::string bytes = {}) { return Value{state, std::move(bytes)}; }

}  // namespace

std::optional<Database> Database::Open(std::string_view bytes, std::string* why) {
  return Open(std::make_unique<MemoryImage>(ByteView(bytes)), why);
}

std::optional<Database> Database::Open(std::unique_ptr<const Image> image, std::string* why) {
  std::optional<Header> header = ReadHeader(*image, why);
  if (!header) return std::nullopt;
  Database database(std::move(image), *header);
  database.tables_ = ReadCatalog(*database.image_, database.geometry_, database.catalogDrops_,
                                 database.catalogComplete_);
  return database;
}

const Table* Database::FindTable(std::string_view name) const {
  for (const Table& table : tables_)
    if (table.name == name) return &table;
  return nullptr;
}

bool Database::ForEachRow(const Table& table, Drops& drops, const std::function<bool(const Row&)>& visit) const {
  uint32_t before = drops.Total();
  Row row(*this, table, drops);
  bool complete = WalkTree(*image_, geometry_, table.root, table.objid, TreeKind::kData, drops, [&](const Node& node) {
    if (!row.record_.Parse(node.data, geometry_.large)) {
      drops.Add(Drop::kRecordShape);
      return true;
    }
    return visit(row);
  });
  if (table.longValueRoot != 0 && !LongValuesOf(table, drops).complete) complete = false;
  return complete && drops.Total() == before;
}

const LongValueIndex& Database::LongValuesOf(const Table& table, Drops& drops) const {
  auto found = longValues_.find(table.objid);
  if (found != longValues_.end()) return found->second;
  LongValueIndex index;
  if (table.longValueRoot != 0) index = IndexLongValues(*image_, geometry_, table.longValueRoot, drops);
  return longValues_.emplace(table.objid, std::move(index)).first->second;
}

std::vector<Value> Row::GetAll(const Column& column) const {
  std::vector<Value> values;
  Field field = record_.Find(column);
  switch (field.kind) {
    case Field::Kind::kAbsent:
      if ((column.flags & kColumnDefault) && !column.defaultValue.empty())
        values.push_back(Of(ValueState::kPresent, column.defaultValue));
      return values;
    case Field::Kind::kNull: return values;
    case Field::Kind::kMalformed:
      drops_.Add(Drop::kValueShape);
      values.push_back(Of(ValueState::kMalformed));
      return values;
    case Field::Kind::kPresent: break;
  }
  if (field.header & kTaggedEncrypted) {
    drops_.Add(Drop::kValueEncrypted);
    values.push_back(Of(ValueState::kUnsupported));
    return values;
  }
  std::vector<Instance> instances;
  if (!SplitInstances(field, instances)) {
    drops_.Add(Drop::kValueShape);
    values.push_back(Of(ValueState::kMalformed));
    return values;
  }
  for (const Instance& instance : instances) values.push_back(Resolve(instance, column));
  return values;
}

Value Row::Get(const Column& column) const {
  // A single value, neither multi-valued nor encrypted, is its one instance.
  Field field = record_.Find(column);
  if (field.kind == Field::Kind::kPresent && !(field.header & (kTaggedMulti | kTaggedEncrypted))) {
    bool separated = (field.header & kTaggedSeparated) != 0, compressed = (field.header & kTaggedCompressed) != 0;
    return Resolve(Instance{field.bytes, separated, compressed}, column);
  }
  std::vector<Value> values = GetAll(column);
  if (values.empty()) return Of(ValueState::kNull);
  return std::move(values.front());
}

Value Row::Resolve(const Instance& instance, const Column& column) const {
  std::string bytes;
  if (instance.separated) {
    uint64_t limit = column.spaceUsage != 0 ? column.spaceUsage : Database::kLongValueLimit;
    const LongValueIndex& index = database_.LongValuesOf(table_, drops_);
    uint32_t chunkSize = table_.chunkSize != 0 ? table_.chunkSize : DefaultChunkSize(database_.geometry_.pageSize);
    switch (AssembleLongValue(index, LongValueId(instance.bytes), chunkSize, limit, bytes)) {
      case Assembled::kOk: return Of(ValueState::kPresent, std::move(bytes));
      case Assembled::kTruncated: return Of(ValueState::kTruncated, std::move(bytes));
      case Assembled::kMissing: drops_.Add(Drop::kLongValueMissing); return Of(ValueState::kUnavailable);
      case Assembled::kBroken: drops_.Add(Drop::kLongValueBroken); return Of(ValueState::kUnavailable);
      case Assembled::kUnsupported: drops_.Add(Drop::kValueCompression); return Of(ValueState::kUnsupported);
    }
  }
  if (!instance.compressed) return Of(ValueState::kPresent, std::string(instance.bytes.Bytes()));
  switch (Decompress(instance.bytes, bytes)) {
    case Decoded::kOk: return Of(ValueState::kPresent, std::move(bytes));
    case Decoded::kUnsupported: drops_.Add(Drop::kValueCompression); return Of(ValueState::kUnsupported);
    case Decoded::kCorrupt: break;
  }
  drops_.Add(Drop::kValueShape);
  return Of(ValueState::kMalformed);
}

}  // namespace trovex::ese
