#include "formats/ese/Page.h"

namespace trovex::ese {

namespace {

bool AllZero(ByteView bytes) { return bytes.Bytes().find_first_not_of('\0') == std::string_view::npos; }

bool ChecksumHolds(ByteView page, const Geometry& geometry, uint32_t number, uint32_t flags) {
  if (!geometry.large) {
    if ((flags & kPageNewChecksum) == 0)
      return page.U32(0) == (0x89ABCDEF ^ XorWords(page, 4)) && page.U32(4) == number;
    return page.U32(0) == (XorWords(page, 8) ^ number);
  }
  uint32_t block = geometry.pageSize / 4;
  if (page.U32(0) != (XorWords(page.Sub(0, block), 8) ^ number) || page.U32(64) != number) return false;
  for (uint32_t i = 1; i < 4; ++i)
    if (page.U32(40 + 8 * (i - 1)) != (XorWords(page.Sub(i * block, block), 0) ^ number)) return false;
  return true;
}

}  // namespace

Geometry GeometryOf(const Header& header) {
  Geometry geometry;
  geometry.pageSize = header.pageSize;
  geometry.pageCount = header.pageCount;
  geometry.large = header.pageSize > 8192;
  geometry.headerSize = geometry.large ? 80 : 40;
  return geometry;
}

std::string Node::Key() const {
  std::string key(prefix.Bytes());
  key += suffix.Bytes();
  return key;
}

ByteView Page::Tag(uint32_t i, uint8_t* flags) const {
  uint64_t at = bytes_.Size() - 4 * (uint64_t{i} + 1);
  uint16_t cb = bytes_.U16(at), ib = bytes_.U16(at + 2);
  uint16_t mask = large_ ? 0x7FFF : 0x1FFF;
  ByteView value = data_.Sub(ib & mask, cb & mask);
  if (flags != nullptr) *flags = static_cast<uint8_t>(large_ ? value.U16(0) >> 13 : ib >> 13);
  return value;
}

bool Page::NodeAt(uint32_t i, Node& node) const {
  ByteView value = Tag(firstNode_ + i, &node.flags);
  uint64_t at = 0;
  uint16_t prefix = 0;
  if (node.flags & kNodeCompressed) {
    prefix = value.U16(0) & 0x1FFF;
    at = 2;
  }
  uint16_t suffix = value.U16(at) & 0x1FFF;
  at += 2;
  if (at + suffix >= value.Size()) return false;
  ByteView external = Tag(0, nullptr);
  if (prefix > external.Size() || (prefix > 0 && Has(kPageRoot))) return false;
  node.prefix = external.Sub(0, prefix);
  node.suffix = value.Sub(at, suffix);
  node.data = value.From(at + suffix);
  return true;
}

std::optional<Drop> LoadPage(const Image& image, const Geometry& geometry, uint32_t number, Page& page) {
  if (number < 1 || number > geometry.pageCount) return Drop::kPageOutside;
  ByteView bytes = image.Read((uint64_t{number} + 1) * geometry.pageSize, geometry.pageSize);
  if (bytes.Empty()) return Drop::kPageOutside;
  uint32_t flags = bytes.U32(36);
  if (AllZero(bytes.Sub(0, geometry.headerSize))) return Drop::kPageUnwritten;
  if (!ChecksumHolds(bytes, geometry, number, flags)) return Drop::kPageChecksum;
  if ((flags & (kPageEmpty | kPagePreInit)) != 0) return Drop::kPageFlags;
  uint16_t state = bytes.U16(34);
  uint32_t count = state & 0x0FFF;
  uint32_t reserved = (state >> 12) & 7;
  if (reserved == 0) reserved = 1;
  uint64_t room = geometry.pageSize - geometry.headerSize;
  if (4ull * count > room || (count > 0 && reserved > count)) return Drop::kPageTags;
  page.bytes_ = bytes;
  page.large_ = geometry.large;
  page.number_ = number;
  page.data_ = bytes.Sub(geometry.headerSize, room - 4ull * count);
  page.tagCount_ = count;
  page.firstNode_ = count == 0 ? 0 : reserved;
  uint16_t mask = geometry.large ? 0x7FFF : 0x1FFF;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = geometry.pageSize - 4 * (uint64_t{i} + 1);
    if (!page.data_.Holds(bytes.U16(at + 2) & mask, bytes.U16(at) & mask)) return Drop::kPageTags;
  }
  return std::nullopt;
}

}  // namespace trovex::ese
