// Hashes of names that come from the URL cache. A web site chooses those
// names, and a site that could compute their hashes could choose names that
// all land in one place of a table, making every look-up walk past all of
// them. So they are hashed with SipHash-1-3 under a key drawn at random when
// the library loads, which no site can learn.
#ifndef TROVEX_SUPPORT_KEYEDHASH_H
#define TROVEX_SUPPORT_KEYEDHASH_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace trovex {

struct HashKey {
  uint64_t K0 = 0;
  uint64_t K1 = 0;
};

// A fresh random key from the system's source of randomness; from the clock
// and the library's place in memory when that source fails.
HashKey RandomHashKey();

// The key of this load of the library: drawn once, when first asked for, and
// the same from then on, so that hashes kept in tables stay valid.
const HashKey& LoadKey();

// SipHash-1-3 of bytes under key.
uint64_t KeyedHash(std::string_view bytes, const HashKey& key = LoadKey());

// KeyedHash of bytes with the ASCII letters folded to upper case, so that
// names equal but for the case of ASCII letters hash alike.
uint64_t KeyedHashNoCase(std::string_view bytes, const HashKey& key = LoadKey());

// A quick hash of bytes under no key, which anyone can compute: only for a
// table that names chosen to collide can slow by a bounded amount, never
// for one whose probes such names lengthen.
uint64_t QuickHash(std::string_view bytes);

// SipHash-2-4, the function's standard strength, made of the same parts; it
// lets those parts be checked against the published values.
uint64_t SipHash24(std::string_view bytes, const HashKey& key);

// A hash of a whole file's bytes under `key`, which a record stored beside
// the file keeps to tell whether the file is still the one it applies to.
// Four independent lanes, so that a file of hundreds of megabytes hashes at
// memory speed; a different key gives unrelated hashes. Stored hashes depend
// on it: it never changes.
uint64_t ContentHash(std::string_view bytes, uint64_t key);

// KeyedHash under the load's key, for the standard containers.
struct KeyedStringHash {
  size_t operator()(std::string_view text) const;
};

}  // namespace trovex

#endif
