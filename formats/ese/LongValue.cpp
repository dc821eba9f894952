#include "formats/ese/LongValue.h"

#include <algorithm>

#include "formats/ese/BTree.h"
#include "formats/ese/Compression.h"

namespace trovex::ese {

namespace {

constexpr uint32_t kDeletedReferences = 0xFFFFFFFF;
constexpr uint64_t kLid64Bit = uint64_t{1} << 63;

uint64_t BigEndian(std::string_view bytes) {
  uint64_t value = 0;
  for (char byte : bytes) value = value << 8 | static_cast<uint8_t>(byte);
  return value;
}

// Sorts a tree node into the index by its key: a root or a chunk of a
// 32- or 64-bit id.
bool AddNode(LongValueIndex& index, const Node& node) {
  std::string key = node.Key();
  bool lid64 = !key.empty() && (static_cast<uint8_t>(key[0]) & 0x80);
  bool root = key.size() == 4 || (key.size() == 8 && lid64);
  bool chunk = key.size() == 12 || (key.size() == 8 && !lid64);
  if (!root && !chunk) return false;
  size_t idSize = (key.size() == 4 || (key.size() == 8 && !lid64)) ? 4 : 8;
  uint64_t id = BigEndian(std::string_view(key).substr(0, idSize));
  if (idSize == 8 && !(id & kLid64Bit)) return false;
  LongValueIndex::Entry& entry = index.entries[id];
  if (root) {
    if (node.data.Size() < 8) return false;
    entry.root = node.data.U32(0) != kDeletedReferences;
    entry.size = node.data.U32(4);
  } else {
    entry.chunks.emplace_back(static_cast<uint32_t>(BigEndian(std::string_view(key).substr(idSize))), node.data);
  }
  return true;
}

}  // namespace

uint32_t DefaultChunkSize(uint32_t pageSize) {
  if (pageSize == 16384) return 4050;
  if (pageSize == 32768) return 8150;
  return pageSize - 82;
}

LongValueIndex IndexLongValues(const Image& image, const Geometry& geometry, uint32_t root, Drops& drops) {
  LongValueIndex index;
  index.complete = WalkTree(image, geometry, root, 0, TreeKind::kLongValue, drops, [&](const Node& node) {
    if (!AddNode(index, node)) drops.Add(Drop::kNodeShape);
    return true;
  });
  for (auto& [id, entry] : index.entries)
    std::stable_sort(entry.chunks.begin(), entry.chunks.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  return index;
}

uint64_t LongValueId(ByteView bytes) {
  if (bytes.Size() == 4) return bytes.U32(0);
  if (bytes.Size() == 8 && (bytes.U64(0) & kLid64Bit)) return bytes.U64(0);
  return 0;
}

Assembled AssembleLongValue(const LongValueIndex& index, uint64_t id, uint32_t chunkSize, uint64_t limit,
                            std::string& out) {
  out.clear();
  auto found = index.entries.find(id);
  if (id == 0 || found == index.entries.end() || !found->second.root) return Assembled::kMissing;
  const LongValueIndex::Entry& entry = found->second;
  uint64_t total = entry.size;
  uint64_t wanted = std::min(total, limit);
  std::string chunk;
  for (const auto& [offset, data] : entry.chunks) {
    if (out.size() >= wanted) break;
    if (offset != out.size() || offset >= total) return Assembled::kBroken;
    uint64_t expected = std::min<uint64_t>(chunkSize, total - offset);
    if (data.Size() > expected) return Assembled::kBroken;
    if (data.Size() == expected) {
      out += data.Bytes();
      continue;
    }
    Decoded decoded = Decompress(data, chunk);
    if (decoded == Decoded::kUnsupported) return Assembled::kUnsupported;
    if (decoded != Decoded::kOk || chunk.size() > expected) return Assembled::kBroken;
    out += chunk;
  }
  if (out.size() > wanted) out.resize(wanted);
  if (out.size() < wanted) return Assembled::kBroken;
  return wanted < total ? Assembled::kTruncated : Assembled::kOk;
}

}  // namespace trovex::ese
