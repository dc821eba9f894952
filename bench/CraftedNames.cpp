#include "bench/CraftedNames.h"

#include <cstring>
#include <functional>
#include <stdexcept>

namespace trovex {

namespace {

constexpr uint64_t kMul = (uint64_t{0xc6a4a793} << 32) + 0x5bd1e995;
constexpr uint64_t kSeed = 0xc70f6907;
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz012345";  // 32 characters
// Six of them give 2^30 candidates: enough for every name of a million-entry
// cache to have its own, so no two crafted names are equal.

uint64_t ShiftMix(uint64_t v) {
  return v ^ (v >> 47);
}

uint64_t LoadBlock(const char* p) {
  uint64_t v = 0;
  for (size_t i = 8; i-- > 0;) v = (v << 8) + static_cast<unsigned char>(p[i]);
  return v;
}

uint64_t LoadTail(const char* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = n; i-- > 0;) v = (v << 8) + static_cast<unsigned char>(p[i]);
  return v;
}

// The hash's state is the seed and the length, then each whole block of 8
// bytes mixed in; the last bytes and two final mixes end it.
uint64_t Start(size_t length) {
  return kSeed ^ (length * kMul);
}

uint64_t MixBlock(uint64_t state, uint64_t block) {
  return (state ^ (ShiftMix(block * kMul) * kMul)) * kMul;
}

uint64_t MixBlocks(uint64_t state, std::string_view whole) {
  for (size_t at = 0; at + 8 <= whole.size(); at += 8) state = MixBlock(state, LoadBlock(whole.data() + at));
  return state;
}

uint64_t Finish(uint64_t state, std::string_view rest) {
  if (!rest.empty()) state = (state ^ LoadTail(rest.data(), rest.size())) * kMul;
  return ShiftMix(ShiftMix(state) * kMul);
}

uint64_t OldHash64(std::string_view text) {
  size_t whole = text.size() & ~size_t{7};
  return Finish(MixBlocks(Start(text.size()), text.substr(0, whole)), text.substr(whole));
}

}  // namespace

uint32_t OldIndexHash(std::string_view text) {
  return static_cast<uint32_t>(OldHash64(text));
}

NameCrafter::NameCrafter(uint32_t clearBits) : clearBits_(clearBits) {
  std::string probe;
  for (int i = 0; i < 64; ++i) {
    if (OldHash64(probe) != std::hash<std::string_view>()(probe)) {
      throw std::logic_error("the model of the old index hash does not match this system's");
    }
    probe += static_cast<char>('a' + (i * 7) % 26);
  }
}

std::string NameCrafter::Craft(std::string_view head, std::string_view tail) {
  // The whole blocks of head are mixed once; each candidate costs the few
  // blocks from there on.
  size_t length = head.size() + kCraftedLength + tail.size();
  size_t headWhole = head.size() & ~size_t{7};
  uint64_t before = MixBlocks(Start(length), head.substr(0, headWhole));
  std::string rest(head.substr(headWhole));
  size_t at = rest.size();
  rest.append(kCraftedLength, ' ').append(tail);
  size_t restWhole = rest.size() & ~size_t{7};
  std::string_view last = std::string_view(rest).substr(restWhole);
  for (;; ++next_) {
    for (size_t i = 0; i < kCraftedLength; ++i) rest[at + i] = kAlphabet[(next_ >> (5 * i)) & 31];
    uint64_t state = MixBlocks(before, std::string_view(rest).substr(0, restWhole));
    if ((static_cast<uint32_t>(Finish(state, last)) & clearBits_) == 0) break;
  }
  ++next_;
  std::string name = std::string(head.substr(0, headWhole)) + rest;
  if ((static_cast<uint32_t>(std::hash<std::string_view>()(name)) & clearBits_) != 0) {
    throw std::logic_error("a crafted name misses the window");
  }
  return name;
}

}  // namespace trovex
