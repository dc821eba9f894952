// Storage of the snapshot: the bytes of its texts in blocks that never move,
// and an index that finds the first of equal keys without a scan.
#ifndef TROVEX_CACHE_SNAPSHOTSTORE_H
#define TROVEX_CACHE_SNAPSHOTSTORE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

// Bytes kept until Clear. A block never moves once written, so views into
// it stay valid while more is kept.
class TextBlocks {
 public:
  // Keeps first and second one after the other; where the copy begins.
  const char* Keep(std::string_view first, std::string_view second);

  // Releases every block.
  void Clear();

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;  // the first free byte of the last block
  size_t free_ = 0;       // the bytes free there
};

// Positions by key, the first position added under each key only. The keys
// stay with their owner, which names the key of a position through keyAt.
class FirstIndex {
 public:
  // The position under key, after adding position under it when it had
  // none.
  template <typename KeyAt>
  uint32_t Add(std::string_view key, uint32_t position, KeyAt keyAt);

  // The position first added under key.
  template <typename KeyAt>
  std::optional<uint32_t> Find(std::string_view key, KeyAt keyAt) const;

  // Forgets every key and releases the table.
  void Clear();

 private:
  struct Slot {
    uint32_t Hash = 0;
    uint32_t Position = kEmpty;
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;

  static uint32_t HashOf(std::string_view key) {
    return static_cast<uint32_t>(std::hash<std::string_view>()(key));
  }
  // Where key is, or the empty slot where it would go.
  template <typename KeyAt>
  size_t Probe(std::string_view key, uint32_t hash, KeyAt keyAt) const;
  // Doubles the table once it is half full, so that probes stay short.
  void Grow();

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
uint32_t FirstIndex::Add(std::string_view key, uint32_t position, KeyAt keyAt) {
  if ((used_ + 1) * 2 > slots_.size()) Grow();
  uint32_t hash = HashOf(key);
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

#endif
