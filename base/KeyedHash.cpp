#include "base/KeyedHash.h"

#include <bit>
#include <chrono>
#include <cstring>
#include <exception>
#include <random>

namespace trovex {

namespace {

uint64_t RotateLeft(uint64_t x, int bits) {
  return (x << bits) | (x >> (64 - bits));
}

// Eight bytes in little-endian order, as the function defines its words,
// whatever the processor's order.
uint64_t LoadWord(const char* p) {
  uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The bytes from `whole` to the end (fewer than eight) as a word whose upper
// bytes are zero. Taken from one load of the last eight bytes when there are
// eight: a copy of fewer bytes onto the stack and a load of the whole word
// after it makes the processor wait for the copy to land.
uint64_t LoadTail(std::string_view bytes, size_t whole) {
  size_t count = bytes.size() - whole;
  if (count == 0) return 0;
  if (bytes.size() >= 8) return LoadWord(bytes.data() + bytes.size() - 8) >> (8 * (8 - count));
  uint64_t word = 0;
  for (size_t i = 0; i < count; ++i) word |= uint64_t{static_cast<unsigned char>(bytes[whole + i])} << (8 * i);
  return word;
}

// The eight bytes of word with 'a' to 'z' turned into 'A' to 'Z', all at
// once: a byte's high bit marks it as at least 'a', at most 'z' and ASCII.
uint64_t FoldUpper(uint64_t word) {
  constexpr uint64_t kEachByte = 0x0101010101010101;
  uint64_t low7 = word & (0x7F * kEachByte);
  uint64_t fromA = low7 + (0x80 - 'a') * kEachByte;
  uint64_t pastZ = low7 + (0x80 - 'z' - 1) * kEachByte;
  uint64_t lower = fromA & ~pastZ & ~word & (0x80 * kEachByte);
  return word - (lower >> 2);  // 0x80 >> 2 is the 0x20 between the cases
}

// The finaliser of MurmurHash3: every input bit reaches every output bit.
uint64_t MixBits(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

class SipState {
 public:
  explicit SipState(const HashKey& key)
      : v0_(key.K0 ^ 0x736f6d6570736575), v1_(key.K1 ^ 0x646f72616e646f6d),
        v2_(key.K0 ^ 0x6c7967656e657261), v3_(key.K1 ^ 0x7465646279746573) {}

  void Absorb(uint64_t word, int rounds) {
    v3_ ^= word;
    for (int i = 0; i < rounds; ++i) Round();
    v0_ ^= word;
  }

  uint64_t Finish(int rounds) {
    v2_ ^= 0xFF;
    for (int i = 0; i < rounds; ++i) Round();
    return v0_ ^ v1_ ^ v2_ ^ v3_;
  }

 private:
  void Round() {
    v0_ += v1_;
    v1_ = RotateLeft(v1_, 13) ^ v0_;
    v0_ = RotateLeft(v0_, 32);
    v2_ += v3_;
    v3_ = RotateLeft(v3_, 16) ^ v2_;
    v0_ += v3_;
    v3_ = RotateLeft(v3_, 21) ^ v0_;
    v2_ += v1_;
    v1_ = RotateLeft(v1_, 17) ^ v2_;
    v2_ = RotateLeft(v2_, 32);
  }

  uint64_t v0_, v1_, v2_, v3_;
};

template <int CompressionRounds, int FinalRounds, bool FoldCase>
uint64_t SipHash(std::string_view bytes, const HashKey& key) {
  auto prepared = [](uint64_t word) { return FoldCase ? FoldUpper(word) : word; };
  SipState state(key);
  size_t whole = bytes.size() & ~size_t{7};
  for (size_t at = 0; at < whole; at += 8) state.Absorb(prepared(LoadWord(bytes.data() + at)), CompressionRounds);
  // The last word holds the bytes left over and, in its top byte, the length.
  uint64_t last = prepared(LoadTail(bytes, whole));
  state.Absorb(last | (static_cast<uint64_t>(bytes.size()) << 56), CompressionRounds);
  return state.Finish(FinalRounds);
}

// Mixes the bits of a value that an attacker may partly know, so that each
// of them reaches the whole key.
uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9e3779b97f4a7c15);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
  z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
  return z ^ (z >> 31);
}

// Without a source of randomness the key is still unknown to a web site:
// it cannot read the clock to the nanosecond or the address at which the
// library was loaded.
HashKey KeyFromClockAndPlace() {
  static int place;
  uint64_t state = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  state ^= static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) * 0x9e3779b97f4a7c15;
  state ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&place));
  HashKey key;
  key.K0 = SplitMix(state);
  key.K1 = SplitMix(state);
  return key;
}

}  // namespace

HashKey RandomHashKey() {
  try {
    std::random_device source;
    auto word = [&source] { return (static_cast<uint64_t>(source()) << 32) | source(); };
    HashKey key;
    key.K0 = word();
    key.K1 = word();
    return key;
  } catch (const std::exception&) {
    return KeyFromClockAndPlace();
  }
}

const HashKey& LoadKey() {
  static const HashKey key = RandomHashKey();
  return key;
}

uint64_t KeyedHash(std::string_view bytes, const HashKey& key) {
  return SipHash<1, 3, false>(bytes, key);
}

uint64_t QuickHash(std::string_view bytes) {
  constexpr uint64_t kMix = 0x9E3779B97F4A7C15;
  uint64_t hash = bytes.size() * kMix;
  size_t whole = bytes.size() & ~size_t{7};
  for (size_t at = 0; at < whole; at += 8) hash = (hash ^ LoadWord(bytes.data() + at)) * kMix;
  hash = (hash ^ LoadTail(bytes, whole)) * kMix;
  return hash ^ (hash >> 29);
}

uint64_t KeyedHashNoCase(std::string_view bytes, const HashKey& key) {
  return SipHash<1, 3, true>(bytes, key);
}

uint64_t SipHash24(std::string_view bytes, const HashKey& key) {
  return SipHash<2, 4, false>(bytes, key);
}

uint64_t ContentHash(std::string_view bytes, uint64_t key) {
  constexpr uint64_t kPrime1 = 0x9E3779B97F4A7C15ull;
  constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
  uint64_t lanes[4] = {key ^ kPrime1, RotateLeft(key, 16) ^ kPrime2, RotateLeft(key, 32) + kPrime1,
                       RotateLeft(key, 48) - kPrime2};
  const char* p = bytes.data();
  size_t n = bytes.size();
  for (; n >= 32; p += 32, n -= 32) {
    for (int lane = 0; lane < 4; ++lane) lanes[lane] = RotateLeft(lanes[lane] ^ LoadWord(p + 8 * lane), 29) * kPrime1;
  }
  uint64_t h = MixBits(key ^ bytes.size());
  for (uint64_t lane : lanes) h = (RotateLeft(h, 27) ^ MixBits(lane)) * kPrime2;
  for (; n >= 8; p += 8, n -= 8) h = (RotateLeft(h, 27) ^ MixBits(LoadWord(p) ^ key)) * kPrime1;
  for (; n > 0; ++p, --n) h = (RotateLeft(h, 11) ^ static_cast<unsigned char>(*p)) * kPrime2;
  return MixBits(h);
}

size_t KeyedStringHash::operator()(std::string_view text) const {
  return static_cast<size_t>(KeyedHash(text));
}

}  // namespace trovex
