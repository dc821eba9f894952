// A hash that is the same on every system and in every run: FNV-1a over 64
// bits. It names things that must be found again later (a changed listed
// name, a local file name, a lock file), so it takes no key; a table that
// holds names a stranger chose hashes them with a keyed hash instead. Free of
// system calls, so that every layer may use it.
#ifndef TROVEX_PLATFORM_STABLEHASH_H
#define TROVEX_PLATFORM_STABLEHASH_H

#include <cstdint>
#include <string_view>

namespace trovex {

constexpr uint64_t kStableHashStart = 0xcbf29ce484222325ull;

// FNV-1a of bytes, continuing from hash (kStableHashStart for a fresh one).
inline uint64_t StableHash(std::string_view bytes, uint64_t hash = kStableHashStart) {
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  return hash;
}

}  // namespace trovex

#endif
