// The columns of one record (the data of a table's leaf node): fixed,
// variable and tagged, with the instances of multi-valued columns.
#ifndef TROVEX_FORMATS_ESE_RECORD_H
#define TROVEX_FORMATS_ESE_RECORD_H

#include <cstdint>
#include <vector>

#include "formats/ByteView.h"
#include "formats/ese/Schema.h"

namespace trovex::ese {

// Bits of the byte that leads a tagged value.
enum TaggedFlag : uint8_t {
  kTaggedLongValue = 0x01,
  kTaggedCompressed = 0x02,
  kTaggedSeparated = 0x04,
  kTaggedMulti = 0x08,
  kTaggedTwoValues = 0x10,
  kTaggedNull = 0x20,
  kTaggedEncrypted = 0x40,
};

struct Field {
  enum class Kind { kAbsent, kNull, kPresent, kMalformed };
  Kind kind = Kind::kAbsent;
  ByteView bytes;      // after the tagged header byte, if any
  uint8_t header = 0;  // TaggedFlag bits; 0 for fixed and variable columns
};

// One value of a field: multi-valued fields have several.
struct Instance {
  ByteView bytes;
  bool separated = false;  // the bytes are a long-value id
  bool compressed = false;
};

class Record {
 public:
  // Takes the record's bytes; false when its header or variable offsets
  // do not hold. `largePage` selects the tagged layout of large pages.
  bool Parse(ByteView bytes, bool largePage);

  // Where `column` lies in the record: absent when the record predates it,
  // NULL, present, or malformed when it reaches outside the record.
  Field Find(const Column& column) const;

 private:
  Field Fixed(const Column& column) const;
  Field Variable(uint32_t id) const;
  Field Tagged(uint32_t id) const;

  ByteView bytes_;
  bool large_ = false;
  uint32_t fixedLast_ = 0, varLast_ = 0, fixedEnd_ = 0;
  uint64_t varData_ = 0;
  ByteView tagged_;
};

// The instances of a present field in order: one, or several for a
// multi-valued field. False when its multi-value layout is broken.
bool SplitInstances(const Field& field, std::vector<Instance>& instances);

}  // namespace trovex::ese

#endif
