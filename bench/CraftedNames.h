// Names made to slow an index down: what a web site can put into the URL
// cache when it knows the hash function of the table that indexes the cache.
// The model here is the function Trovex's URL index and grouping used before
// they were keyed, the standard library's string hash (libstdc++, 64-bit)
// cut to 32 bits; it lives in the benchmark only, as the attacker's tool.
#ifndef TROVEX_BENCH_CRAFTEDNAMES_H
#define TROVEX_BENCH_CRAFTEDNAMES_H

#include <cstdint>
#include <string>
#include <string_view>

namespace trovex {

// The old index hash of text.
uint32_t OldIndexHash(std::string_view text);

// The hash bits a crafted name has clear. kWindowBits puts a name in the
// same 2^14 slots of every table of 2^14 to 2^22 slots, so that a linearly
// probed table of such keys becomes one long run; kSameSlotBits puts it in
// the very first slot of every table of up to 2^16 slots.
constexpr uint32_t kWindowBits = 0xFFu << 14;
constexpr uint32_t kSameSlotBits = 0xFFFFu;

// The characters a crafted name holds beyond its head and tail.
constexpr size_t kCraftedLength = 6;

// Finds names head + kCraftedLength characters + tail whose old index hash
// has the chosen bits clear; the characters are lowercase letters and
// digits, so the name stays a valid host label or URL path.
class NameCrafter {
 public:
  // Throws std::logic_error when the model differs from the standard
  // library's hash on this system, since the names would then attack nothing.
  explicit NameCrafter(uint32_t clearBits = kWindowBits);

  std::string Craft(std::string_view head, std::string_view tail);

 private:
  uint32_t clearBits_;
  uint64_t next_ = 0;  // the next candidate's number, never reused
};

}  // namespace trovex

#endif
