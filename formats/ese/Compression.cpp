#include "formats/ese/Compression.h"

#include <cstdint>

namespace trovex::ese {

namespace {

enum Scheme : uint8_t {
  kSevenBitAscii = 1,
  kSevenBitUnicode = 2,
  kXpress = 3,
  kScrubbed = 4,
  kXpress9 = 5,
  kXpress10 = 6,
  kLz4 = 7,
};

Decoded SevenBit(ByteView bytes, bool unicode, std::string& out) {
  if (bytes.Size() < 2) return Decoded::kCorrupt;
  uint64_t usedInLast = (bytes.U8(0) & 7) + 1;
  uint64_t count = ((bytes.Size() - 2) * 8 + usedInLast) / 7;
  out.clear();
  out.reserve(unicode ? 2 * count : count);
  uint32_t buffer = 0, bits = 0;
  uint64_t at = 1;
  for (uint64_t i = 0; i < count; ++i) {
    while (bits < 7) {
      buffer |= uint32_t{bytes.U8(at++)} << bits;
      bits += 8;
    }
    out.push_back(static_cast<char>(buffer & 0x7F));
    if (unicode) out.push_back('\0');
    buffer >>= 7;
    bits -= 7;
  }
  return Decoded::kOk;
}

// Copies `length` bytes from `distance` back, byte by byte: the source may
// overlap what is being written.
bool CopyMatch(std::string& out, uint64_t distance, uint64_t length) {
  if (distance == 0 || distance > out.size()) return false;
  uint64_t from = out.size() - distance;
  for (uint64_t i = 0; i < length; ++i) out.push_back(out[from + i]);
  return true;
}

class Xpress {
 public:
  Xpress(ByteView input, uint64_t size) : in_(input), size_(size) {}

  Decoded Run(std::string& out) {
    out.clear();
    out.reserve(size_);
    uint32_t flags = 0, flagBits = 0;
    while (out.size() < size_) {
      if (flagBits == 0) {
        if (!in_.Holds(at_, 4)) return Decoded::kCorrupt;
        flags = in_.U32(at_);
        at_ += 4;
        flagBits = 32;
      }
      --flagBits;
      if ((flags >> flagBits & 1) == 0) {
        if (!in_.Holds(at_, 1)) return Decoded::kCorrupt;
        out.push_back(static_cast<char>(in_.U8(at_++)));
        continue;
      }
      uint64_t length = 0, distance = 0;
      if (!Match(length, distance)) return Decoded::kCorrupt;
      if (length > size_ - out.size() || !CopyMatch(out, distance, length)) return Decoded::kCorrupt;
    }
    return Decoded::kOk;
  }

 private:
  bool Match(uint64_t& length, uint64_t& distance) {
    if (!in_.Holds(at_, 2)) return false;
    uint16_t token = in_.U16(at_);
    at_ += 2;
    distance = (token >> 3) + 1;
    length = token & 7;
    if (length == 7) {
      // Two extended matches share one byte, a nibble each.
      if (halfByte_ == 0) {
        if (!in_.Holds(at_, 1)) return false;
        halfByte_ = at_++;
        length = in_.U8(halfByte_) & 0xF;
      } else {
        length = in_.U8(halfByte_) >> 4;
        halfByte_ = 0;
      }
      if (length == 15) {
        if (!in_.Holds(at_, 1)) return false;
        length = in_.U8(at_++);
        if (length == 255) {
          if (!in_.Holds(at_, 2)) return false;
          length = in_.U16(at_);
          at_ += 2;
          if (length < 22) return false;
          length -= 22;
        }
        length += 15;
      }
      length += 7;
    }
    length += 3;
    return true;
  }

  ByteView in_;
  uint64_t size_;
  uint64_t at_ = 0;
  uint64_t halfByte_ = 0;  // where the pending nibble is; 0 for none
};

// A run length of LZ4: 15 in the token continues in bytes while they are 255.
bool Lz4Length(ByteView in, uint64_t& at, uint64_t& length) {
  if (length != 15) return true;
  for (uint8_t more = 255; more == 255;) {
    if (!in.Holds(at, 1)) return false;
    more = in.U8(at++);
    length += more;
  }
  return true;
}

Decoded Lz4(ByteView in, uint64_t size, std::string& out) {
  out.clear();
  out.reserve(size);
  uint64_t at = 0;
  while (at < in.Size()) {
    uint8_t token = in.U8(at++);
    uint64_t literals = token >> 4;
    if (!Lz4Length(in, at, literals) || !in.Holds(at, literals) || literals > size - out.size())
      return Decoded::kCorrupt;
    out += in.Text(at, literals);
    at += literals;
    if (at == in.Size()) break;
    if (!in.Holds(at, 2)) return Decoded::kCorrupt;
    uint64_t distance = in.U16(at);
    at += 2;
    uint64_t length = token & 0xF;
    if (!Lz4Length(in, at, length)) return Decoded::kCorrupt;
    length += 4;
    if (length > size - out.size() || !CopyMatch(out, distance, length)) return Decoded::kCorrupt;
  }
  return out.size() == size ? Decoded::kOk : Decoded::kCorrupt;
}

}  // namespace

Decoded Decompress(ByteView bytes, std::string& out) {
  if (bytes.Empty()) return Decoded::kCorrupt;
  switch (bytes.U8(0) >> 3) {
    case kSevenBitAscii: return SevenBit(bytes, false, out);
    case kSevenBitUnicode: return SevenBit(bytes, true, out);
    case kXpress:
      if (bytes.Size() < 3) return Decoded::kCorrupt;
      return Xpress(bytes.From(3), bytes.U16(1)).Run(out);
    case kLz4:
      if (bytes.Size() < 3) return Decoded::kCorrupt;
      return Lz4(bytes.From(3), bytes.U16(1), out);
    case kScrubbed:
    case kXpress9:
    case kXpress10:
    default: return Decoded::kUnsupported;
  }
}

}  // namespace trovex::ese
