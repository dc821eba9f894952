#include "formats/ese/Record.h"

namespace trovex::ese {

namespace {

Field Present(ByteView bytes, uint8_t header = 0) { return {Field::Kind::kPresent, bytes, header}; }
Field OfKind(Field::Kind kind) { return {kind, {}, 0}; }

}  // namespace

bool Record::Parse(ByteView bytes, bool largePage) {
  bytes_ = bytes;
  large_ = largePage;
  fixedLast_ = bytes.U8(0);
  varLast_ = bytes.U8(1);
  fixedEnd_ = bytes.U16(2);
  if (bytes.Size() < 4 || fixedEnd_ < 4 || fixedEnd_ > bytes.Size()) return false;
  if (fixedLast_ > 127 || varLast_ < 127) return false;
  if ((fixedLast_ + 7) / 8 > fixedEnd_ - 4) return false;
  uint64_t varCount = varLast_ - 127;
  varData_ = fixedEnd_ + 2 * varCount;
  if (varData_ > bytes.Size()) return false;
  uint32_t end = 0;
  for (uint64_t k = 0; k < varCount; ++k) {
    uint16_t entry = bytes.U16(fixedEnd_ + 2 * k);
    uint32_t next = entry & 0x7FFF;
    if (next < end || ((entry & 0x8000) && next != end)) return false;
    end = next;
  }
  if (varData_ + end > bytes.Size()) return false;
  tagged_ = bytes.From(varData_ + end);
  return true;
}

Field Record::Find(const Column& column) const {
  if (column.Fixed()) return Fixed(column);
  if (column.Variable()) return Variable(column.id);
  return Tagged(column.id);
}

Field Record::Fixed(const Column& column) const {
  if (column.id > fixedLast_) return OfKind(Field::Kind::kAbsent);
  uint32_t bitmap = fixedEnd_ - (fixedLast_ + 7) / 8;
  if (bytes_.U8(bitmap + (column.id - 1) / 8) >> ((column.id - 1) % 8) & 1) return OfKind(Field::Kind::kNull);
  uint32_t size = FixedSize(column);
  if (column.recordOffset < 4 || uint64_t{column.recordOffset} + size > bitmap)
    return OfKind(Field::Kind::kMalformed);
  return Present(bytes_.Sub(column.recordOffset, size));
}

Field Record::Variable(uint32_t id) const {
  if (id > varLast_) return OfKind(Field::Kind::kAbsent);
  uint64_t k = id - 128;
  uint16_t entry = bytes_.U16(fixedEnd_ + 2 * k);
  if (entry & 0x8000) return OfKind(Field::Kind::kNull);
  uint32_t start = k == 0 ? 0 : bytes_.U16(fixedEnd_ + 2 * (k - 1)) & 0x7FFF;
  return Present(bytes_.Sub(varData_ + start, (entry & 0x7FFF) - start));
}

Field Record::Tagged(uint32_t id) const {
  if (tagged_.Empty()) return OfKind(Field::Kind::kAbsent);
  uint16_t mask = large_ ? 0x7FFF : 0x1FFF;
  uint32_t first = tagged_.U16(2) & mask;
  if (first < 4 || first % 4 != 0 || first > tagged_.Size()) return OfKind(Field::Kind::kMalformed);
  uint32_t count = first / 4;
  uint32_t previous = first;
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t fid = tagged_.U16(4 * i);
    uint16_t ib = tagged_.U16(4 * i + 2);
    uint32_t start = ib & mask;
    uint64_t end = i + 1 < count ? tagged_.U16(4 * (i + 1) + 2) & mask : tagged_.Size();
    if (start < previous || end < start || end > tagged_.Size()) return OfKind(Field::Kind::kMalformed);
    previous = start;
    // Inherited columns may sort apart from the table's own, so look at all.
    if (fid != id) continue;
    ByteView value = tagged_.Sub(start, end - start);
    bool hasHeader = large_ || (ib & 0x4000);
    if (!large_ && (ib & 0x2000)) return OfKind(Field::Kind::kNull);
    if (!hasHeader) return Present(value);
    if (value.Empty()) return large_ ? Present(value) : OfKind(Field::Kind::kMalformed);
    uint8_t header = value.U8(0);
    if (header & kTaggedNull) return OfKind(Field::Kind::kNull);
    return Present(value.From(1), header);
  }
  return OfKind(Field::Kind::kAbsent);
}

bool SplitInstances(const Field& field, std::vector<Instance>& instances) {
  instances.clear();
  ByteView value = field.bytes;
  bool compressed = (field.header & kTaggedCompressed) != 0;
  if (!(field.header & kTaggedMulti)) {
    instances.push_back({value, (field.header & kTaggedSeparated) != 0, compressed});
    return true;
  }
  if (field.header & kTaggedTwoValues) {
    uint64_t first = value.U8(0);
    if (value.Empty() || 1 + first > value.Size()) return false;
    instances.push_back({value.Sub(1, first), false, compressed});
    instances.push_back({value.From(1 + first), false, false});
    return true;
  }
  uint32_t first = value.U16(0) & 0x7FFF;
  if (first < 4 || first % 2 != 0 || first > value.Size()) return false;
  uint32_t count = first / 2;
  for (uint32_t j = 0; j < count; ++j) {
    uint16_t entry = value.U16(2 * j);
    uint32_t start = entry & 0x7FFF;
    uint64_t end = j + 1 < count ? value.U16(2 * (j + 1)) & 0x7FFF : value.Size();
    if (start < first || end < start || end > value.Size()) return false;
    instances.push_back({value.Sub(start, end - start), (entry & 0x8000) != 0, compressed && j == 0});
  }
  return true;
}

}  // namespace trovex::ese
