// Bytes read from a file that a stranger wrote. The view knows its bounds:
// every read checks them, with offsets in 64 bits so that no field a file
// holds can lead a read outside it or overflow on the way. A read past the
// end gives zero, or an empty view; callers that must tell a zero from a
// missing field ask Holds first.
#ifndef TROVEX_FORMATS_BYTEVIEW_H
#define TROVEX_FORMATS_BYTEVIEW_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace trovex {

class ByteView {
 public:
  ByteView() = default;
  explicit ByteView(std::string_view bytes) : bytes_(bytes) {}

  uint64_t Size() const { return bytes_.size(); }
  bool Empty() const { return bytes_.empty(); }
  std::string_view Bytes() const { return bytes_; }

  // Whether the view holds `length` bytes from `at`.
  bool Holds(uint64_t at, uint64_t length) const { return at <= bytes_.size() && length <= bytes_.size() - at; }

  // Little-endian numbers at `at`; zero when they do not fit the view.
  uint8_t U8(uint64_t at) const { return Holds(at, 1) ? Byte(at) : 0; }
  uint16_t U16(uint64_t at) const {
    return Holds(at, 2) ? static_cast<uint16_t>(Byte(at) | Byte(at + 1) << 8) : 0;
  }
  uint32_t U32(uint64_t at) const {
    if (!Holds(at, 4)) return 0;
    return uint32_t{Byte(at)} | uint32_t{Byte(at + 1)} << 8 | uint32_t{Byte(at + 2)} << 16 |
           uint32_t{Byte(at + 3)} << 24;
  }
  uint64_t U64(uint64_t at) const {
    if (!Holds(at, 8)) return 0;
    return U32(at) | uint64_t{U32(at + 4)} << 32;
  }

  // The `length` bytes from `at`; empty when they do not fit the view.
  ByteView Sub(uint64_t at, uint64_t length) const {
    return Holds(at, length) ? ByteView(bytes_.substr(at, length)) : ByteView();
  }
  // Everything from `at` on; empty past the end.
  ByteView From(uint64_t at) const { return at <= bytes_.size() ? ByteView(bytes_.substr(at)) : ByteView(); }
  // The same, as text.
  std::string_view Text(uint64_t at, uint64_t length) const { return Sub(at, length).bytes_; }

 private:
  uint8_t Byte(uint64_t at) const { return static_cast<uint8_t>(bytes_[at]); }

  std::string_view bytes_;
};

}  // namespace trovex

#endif
