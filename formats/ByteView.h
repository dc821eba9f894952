// Bytes read from a file that a stranger wrote. The view knows its bounds:
// every read checks them, with offsets in 64 bits so that no field a file
// holds can lead a read outside it or overflow on the way. A read past the
// end gives zero, or an empty view; callers that must tell a zero from a
// missing field ask Holds first.
#ifndef TROVEX_FORMATS_BYTEVIEW_H
#define TROVEX_FORMATS_BYTEVIEW_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

  // Little-endian numbers at `at`; zero when they do not fit the view. One
  // load each, once the bounds hold: readers of large files call these for
  // every field.
  uint8_t U8(uint64_t at) const { return Holds(at, 1) ? static_cast<uint8_t>(bytes_[at]) : 0; }
  uint16_t U16(uint64_t at) const { return Load<uint16_t>(at); }
  uint32_t U32(uint64_t at) const { return Load<uint32_t>(at); }
  uint64_t U64(uint64_t at) const { return Load<uint64_t>(at); }

  // The `length` bytes from `at`; empty when they do not fit the view.
  ByteView Sub(uint64_t at, uint64_t length) const {
    return Holds(at, length) ? ByteView(bytes_.substr(at, length)) : ByteView();
  }
  // Everything from `at` on; empty past the end.
  ByteView From(uint64_t at) const { return at <= bytes_.size() ? ByteView(bytes_.substr(at)) : ByteView(); }
  // The same, as text.
  std::string_view Text(uint64_t at, uint64_t length) const { return Sub(at, length).bytes_; }

 private:
  template <typename Number>
  Number Load(uint64_t at) const {
    Number value = 0;
    if (!Holds(at, sizeof value)) return 0;
    std::memcpy(&value, bytes_.data() + at, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
      Number swapped = 0;
      for (size_t i = 0; i < sizeof value; ++i) swapped = static_cast<Number>(swapped << 8 | ((value >> (8 * i)) & 0xFF));
      value = swapped;
    }
    return value;
  }

  std::string_view bytes_;
};

}  // namespace trovex

#endif
