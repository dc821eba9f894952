#include "cache/SnapshotStore.h"

#include <cstring>

namespace trovex {

namespace {

// Blocks grow from small, for small snapshots, to large enough that the
// allocator hands them back to the system when the snapshot is emptied,
// yet waste little at the end of each.
constexpr size_t kFirstBlockSize = size_t{1} << 14;
constexpr size_t kLastBlockSize = size_t{1} << 20;

}  // namespace

const char* TextBlocks::Keep(std::string_view first, std::string_view second) {
  size_t size = first.size() + second.size();
  if (size > free_) NextBlock(size);
  char* copy = next_;
  if (!first.empty()) std::memcpy(copy, first.data(), first.size());
  if (!second.empty()) std::memcpy(copy + first.size(), second.data(), second.size());
  next_ += size;
  free_ -= size;
  return copy;
}

void TextBlocks::NextBlock(size_t size) {
  size_t next = next_ == nullptr ? 0 : current_ + 1;
  if (next >= blocks_.size() || blocks_[next].size < size) {
    size_t blockSize = next < 6 ? kFirstBlockSize << next : kLastBlockSize;
    if (blockSize < size) blockSize = size;
    blocks_.insert(blocks_.begin() + static_cast<ptrdiff_t>(next),
                   Block{std::make_unique_for_overwrite<char[]>(blockSize), blockSize});
  }
  current_ = next;
  next_ = blocks_[next].bytes.get();
  free_ = blocks_[next].size;
}

void TextBlocks::Clear() {
  std::vector<Block>().swap(blocks_);
  Reuse();
}

void TextBlocks::Reuse() {
  current_ = 0;
  next_ = nullptr;
  free_ = 0;
}

void TextBlocks::ReleaseUnused() {
  size_t used = next_ == nullptr ? 0 : current_ + 1;
  blocks_.erase(blocks_.begin() + static_cast<ptrdiff_t>(used), blocks_.end());
}

void FirstIndex::Resize(size_t slots) {
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(slots, Slot{});
  size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.Position == kEmpty) continue;
    size_t at = slot.Hash & mask;
    while (slots_[at].Position != kEmpty) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

}  // namespace trovex
