// Where a database's bytes come from: a whole file image in memory, or a
// file read a piece at a time by whoever opened it. A reader asks only for
// the header copies and the pages its walks reach, so a database read from
// a file costs the pages of the tables wanted, not the whole file.
#ifndef TROVEX_FORMATS_ESE_IMAGE_H
#define TROVEX_FORMATS_ESE_IMAGE_H

#include <cstdint>

#include "formats/ByteView.h"

namespace trovex::ese {

class Image {
 public:
  virtual ~Image() = default;

  // The length of the file, as it was when it was opened.
  virtual uint64_t Size() const = 0;
  // The `length` bytes at `at`, valid for as long as the image is; empty
  // when they do not all lie in the file or cannot be read.
  virtual ByteView Read(uint64_t at, uint64_t length) const = 0;
};

// An image held whole in memory by its owner, which keeps it alive.
class MemoryImage final : public Image {
 public:
  explicit MemoryImage(ByteView bytes) : bytes_(bytes) {}

  uint64_t Size() const override { return bytes_.Size(); }
  ByteView Read(uint64_t at, uint64_t length) const override { return bytes_.Sub(at, length); }

 private:
  ByteView bytes_;
};

}  // namespace trovex::ese

#endif
