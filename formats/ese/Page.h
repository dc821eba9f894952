// One database page: its checksum, header, tags and nodes.
#ifndef TROVEX_FORMATS_ESE_PAGE_H
#define TROVEX_FORMATS_ESE_PAGE_H

#include <cstdint>
#include <optional>
#include <string>

#include "formats/ByteView.h"
#include "formats/ese/Drop.h"
#include "formats/ese/Header.h"
#include "formats/ese/Image.h"

namespace trovex::ese {

// Page sizes of 16 KiB and more have a longer header, wider tags, node
// flags inside the value and a checksum per quarter page.
struct Geometry {
  uint32_t pageSize = 0;
  uint32_t pageCount = 0;
  bool large = false;
  uint32_t headerSize = 0;
};

Geometry GeometryOf(const Header& header);

enum PageFlag : uint32_t {
  kPageRoot = 0x1,
  kPageLeaf = 0x2,
  kPageParentOfLeaf = 0x4,
  kPageEmpty = 0x8,
  kPageSpaceTree = 0x20,
  kPageIndex = 0x40,
  kPageLongValue = 0x80,
  kPageNewChecksum = 0x2000,
  kPagePreInit = 0x20000,
};

enum NodeFlag : uint8_t { kNodeVersion = 0x1, kNodeDeleted = 0x2, kNodeCompressed = 0x4 };

struct Node {
  uint8_t flags = 0;
  ByteView prefix;  // the leading key bytes shared with the page
  ByteView suffix;  // the rest of the key
  ByteView data;

  std::string Key() const;
};

class Page {
 public:
  uint32_t Number() const { return number_; }
  uint32_t Flags() const { return bytes_.U32(36); }
  uint32_t Owner() const { return bytes_.U32(24); }
  uint32_t Next() const { return bytes_.U32(20); }
  bool Has(PageFlag flag) const { return (Flags() & flag) != 0; }
  // The nodes, after tag 0 and the reserved tags.
  uint32_t NodeCount() const { return tagCount_ - firstNode_; }
  // Node `i`; false when it is malformed.
  bool NodeAt(uint32_t i, Node& node) const;

 private:
  friend std::optional<Drop> LoadPage(const Image&, const Geometry&, uint32_t, Page&);
  ByteView Tag(uint32_t i, uint8_t* flags) const;

  ByteView bytes_;
  ByteView data_;  // between the header and the tag array
  bool large_ = false;
  uint32_t number_ = 0;
  uint32_t tagCount_ = 0;
  uint32_t firstNode_ = 0;
};

// Loads page `number` of `image` into `page` after checking its number,
// checksum and tags; otherwise the reason it cannot be read.
std::optional<Drop> LoadPage(const Image& image, const Geometry& geometry, uint32_t number, Page& page);

}  // namespace trovex::ese

#endif
