// Long values: values kept apart from their record in a table's long-value
// tree, as a root (reference count, size) and chunks keyed by offset.
#ifndef TROVEX_FORMATS_ESE_LONGVALUE_H
#define TROVEX_FORMATS_ESE_LONGVALUE_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/ByteView.h"
#include "formats/Drops.h"
#include "formats/ese/Page.h"

namespace trovex::ese {

// The long values of one tree, by id. 32-bit ids keep their value; 64-bit
// ids have their top bit set, so the two never meet.
struct LongValueIndex {
  struct Entry {
    bool root = false;
    uint32_t size = 0;
    std::vector<std::pair<uint32_t, ByteView>> chunks;  // by offset
  };
  std::unordered_map<uint64_t, Entry> entries;
  bool complete = true;
};

// Walks the long-value tree at `root` once; pages it cannot read are
// counted in `drops` and leave `complete` false.
LongValueIndex IndexLongValues(const Image& image, const Geometry& geometry, uint32_t root, Drops& drops);

// The long-value id a record holds: 4 bytes, or 8 with the top bit set;
// 0 for anything else.
uint64_t LongValueId(ByteView bytes);

enum class Assembled { kOk, kMissing, kTruncated, kBroken, kUnsupported };

// Joins the chunks of long value `id` in `out`, decompressing short chunks.
// At most `limit` bytes: a longer value is cut there and truncated. Missing
// when the id or its root is not in the tree; broken when chunks leave a
// gap, overlap or fail to decompress.
Assembled AssembleLongValue(const LongValueIndex& index, uint64_t id, uint32_t chunkSize, uint64_t limit,
                            std::string& out);

// The chunk size of long values on pages of `pageSize` bytes.
uint32_t DefaultChunkSize(uint32_t pageSize);

}  // namespace trovex::ese

#endif
