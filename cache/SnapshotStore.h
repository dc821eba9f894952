// Storage of the snapshot: the bytes of its texts in blocks that never move,
// and an index that finds the first of equal keys without a scan.
#ifndef TROVEX_CACHE_SNAPSHOTSTORE_H
#define TROVEX_CACHE_SNAPSHOTSTORE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/KeyedHash.h"

namespace trovex {

// Bytes kept until Clear. A block never moves once written, so views into
// it stay valid while more is kept.
class TextBlocks {
 public:
  // Keeps first and second one after the other; where the copy begins.
  const char* Keep(std::string_view first, std::string_view second);

  // Releases every block.
  void Clear();

  // Forgets every byte kept but keeps the blocks, to be written again: a
  // refill then writes into memory the process already has instead of
  // memory the system must first map and clear.
  void Reuse();
  // Releases the blocks not written again since Reuse.
  void ReleaseUnused();

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    size_t size;
  };
  // Moves on to a block that holds size bytes: the next one kept, or a new
  // one put before it.
  void NextBlock(size_t size);

  std::vector<Block> blocks_;
  size_t current_ = 0;    // the block being written, when any is
  char* next_ = nullptr;  // the first free byte of that block
  size_t free_ = 0;       // the bytes free there
};

// Positions by key, the first position added under each key only. The keys
// stay with their owner, which names the key of a position through keyAt.
// Keys are hashed under this load's secret key, so that names a web site
// chose cannot be made to share slots.
class FirstIndex {
 public:
  // The position under key, after adding position under it when it had
  // none.
  template <typename KeyAt>
  uint32_t Add(std::string_view key, uint32_t position, KeyAt keyAt) {
    return Add(key, HashOf(key), position, keyAt);
  }

  // Add, with key's HashOf known beforehand.
  template <typename KeyAt>
  uint32_t Add(std::string_view key, uint32_t hash, uint32_t position, KeyAt keyAt);

  // Asks the processor to fetch where a key of this hash goes, so that a
  // batch of lookups waits for memory once instead of once each.
  void Prefetch(uint32_t hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
  }

  // The position in the slot where a key of this hash is looked for first,
  // when that slot holds a key of the same hash: most likely the key's own,
  // so its owner can prefetch the key before the look-up compares it.
  std::optional<uint32_t> Hint(uint32_t hash) const {
    if (slots_.empty()) return std::nullopt;
    const Slot& slot = slots_[hash & (slots_.size() - 1)];
    if (slot.Position == kEmpty || slot.Hash != hash) return std::nullopt;
    return slot.Position;
  }

  // The key is drawn at the first hash, not when the library loads and
  // constructs its indexes: the system's loader may not be asked for
  // randomness then.
  uint32_t HashOf(std::string_view key) const { return static_cast<uint32_t>(KeyedHash(key, LoadKey())); }

  // The position first added under key.
  template <typename KeyAt>
  std::optional<uint32_t> Find(std::string_view key, KeyAt keyAt) const;

 private:
  struct Slot {
    uint32_t Hash = 0;
    uint32_t Position = kEmpty;
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;

  // Where key is, or the empty slot where it would go.
  template <typename KeyAt>
  size_t Probe(std::string_view key, uint32_t hash, KeyAt keyAt) const;
  // Doubles the table once it is half full, so that probes stay short.
  void Grow() { Resize(slots_.empty() ? 16 : slots_.size() * 2); }
  void Resize(size_t slots);

  std::vector<Slot> slots_;
  size_t used_ = 0;
};

template <typename KeyAt>
size_t FirstIndex::Probe(std::string_view key, uint32_t hash, KeyAt keyAt) const {
  size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.Position == kEmpty || (slot.Hash == hash && keyAt(slot.Position) == key)) return at;
  }
}

template <typename KeyAt>
uint32_t FirstIndex::Add(std::string_view key, uint32_t hash, uint32_t position, KeyAt keyAt) {
  if ((used_ + 1) * 2 > slots_.size()) Grow();
  Slot& slot = slots_[Probe(key, hash, keyAt)];
  if (slot.Position != kEmpty) return slot.Position;
  slot = Slot{hash, position};
  ++used_;
  return position;
}

template <typename KeyAt>
std::optional<uint32_t> FirstIndex::Find(std::string_view key, KeyAt keyAt) const {
  if (slots_.empty()) return std::nullopt;
  const Slot& slot = slots_[Probe(key, HashOf(key), keyAt)];
  if (slot.Position == kEmpty) return std::nullopt;
  return slot.Position;
}

}  // namespace trovex

#endif
