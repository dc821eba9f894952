#include "deletionrecord.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "hextext.h"
#include "sysfolder.h"

namespace {

constexpr char kMagic[] = "trovex-deletions ";
constexpr size_t kMagicLength = sizeof kMagic - 1;
constexpr size_t kHeaderLength = kMagicLength + 16 + 1 + 16 + 1;
static_assert(kHeaderLength == kHeaderLineLength);

constexpr uint64_t kPrime1 = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

uint64_t RotateLeft(uint64_t x, int bits) {
  return (x << bits) | (x >> (64 - bits));
}

uint64_t Finish(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

uint64_t Word(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Exactly sixteen hexadecimal digits.
std::optional<uint64_t> ParseHex64(std::string_view text) {
  std::optional<uint32_t> high = ParseHex(text.substr(0, 8), 8), low = ParseHex(text.substr(8), 8);
  if (text.size() != 16 || !high || !low) return std::nullopt;
  return static_cast<uint64_t>(*high) << 32 | *low;
}

std::string Hex16(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::string DeletionRecordPath(const std::string& store) {
  return store + kDeletionRecordSuffix;
}

// Four independent lanes, so that a store of hundreds of megabytes hashes at
// memory speed.
uint64_t KeyedHash(uint64_t key, std::string_view bytes) {
  uint64_t lanes[4] = {key ^ kPrime1, RotateLeft(key, 16) ^ kPrime2, RotateLeft(key, 32) + kPrime1,
                       RotateLeft(key, 48) - kPrime2};
  const char* p = bytes.data();
  size_t n = bytes.size();
  for (; n >= 32; p += 32, n -= 32) {
    for (int lane = 0; lane < 4; ++lane) lanes[lane] = RotateLeft(lanes[lane] ^ Word(p + 8 * lane), 29) * kPrime1;
  }
  uint64_t h = Finish(key ^ bytes.size());
  for (uint64_t lane : lanes) h = (RotateLeft(h, 27) ^ Finish(lane)) * kPrime2;
  for (; n >= 8; p += 8, n -= 8) h = (RotateLeft(h, 27) ^ Finish(Word(p) ^ key)) * kPrime1;
  for (; n > 0; ++p, --n) h = (RotateLeft(h, 11) ^ static_cast<unsigned char>(*p)) * kPrime2;
  return Finish(h);
}

uint64_t RandomKey() {
  uint64_t key = 0;
  if (getrandom(&key, sizeof key, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof key)) return key;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return Finish(static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec) << 32 ^
                static_cast<uint64_t>(getpid()) ^ reinterpret_cast<uintptr_t>(&key));
}

size_t KeyedStringHash::operator()(std::string_view text) const {
  static const uint64_t key = RandomKey();
  return static_cast<size_t>(KeyedHash(key, text));
}

std::string HeaderLine(const RecordHeader& header) {
  return std::string(kMagic) + Hex16(header.key) + " " + Hex16(header.storeHash) + "\n";
}

std::optional<RecordHeader> ReadHeader(std::string_view record, size_t& end) {
  if (record.size() < kHeaderLength || record.substr(0, kMagicLength) != kMagic) return std::nullopt;
  std::string_view fields = record.substr(kMagicLength, kHeaderLength - kMagicLength);
  if (fields[16] != ' ' || fields[33] != '\n') return std::nullopt;
  std::optional<uint64_t> key = ParseHex64(fields.substr(0, 16));
  std::optional<uint64_t> hash = ParseHex64(fields.substr(17, 16));
  if (!key || !hash) return std::nullopt;
  end = kHeaderLength;
  return RecordHeader{*key, *hash};
}
