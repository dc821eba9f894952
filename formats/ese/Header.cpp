#include "formats/ese/Header.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace trovex::ese {

namespace {

constexpr uint32_t kSignature = 0x89ABCDEF;
constexpr uint32_t kVersion = 0x620;

bool KnownPageSize(uint32_t size) {
  return size == 2048 || size == 4096 || size == 8192 || size == 16384 || size == 32768;
}

uint32_t StoredPageSize(ByteView copy) {
  uint32_t size = copy.U32(236);
  return size == 0 ? 4096 : size;
}

// A copy is good when its signature and checksum hold and it names the page
// size at which it was found (the shadow sits one page in).
bool GoodCopy(const Image& image, uint64_t at, uint32_t expectedPageSize) {
  ByteView copy = image.Read(at, 4096);
  if (copy.Empty() || copy.U32(4) != kSignature) return false;
  uint32_t pageSize = StoredPageSize(copy);
  if (!KnownPageSize(pageSize) || (expectedPageSize != 0 && pageSize != expectedPageSize)) return false;
  ByteView page = image.Read(at, pageSize);
  if (page.Empty()) return false;
  return page.U32(0) == (kSignature ^ XorWords(page, 4));
}

}  // namespace

uint32_t XorWords(ByteView bytes, uint64_t at) {
  uint32_t sum = 0;
  std::string_view raw = bytes.Bytes();
  uint64_t i = at;
  if constexpr (std::endian::native == std::endian::little) {
    // Every page is summed: two words at a time, folded at the end.
    uint64_t pairs = 0;
    for (; i + 8 <= raw.size(); i += 8) {
      uint64_t pair;
      std::memcpy(&pair, raw.data() + i, sizeof pair);
      pairs ^= pair;
    }
    sum = static_cast<uint32_t>(pairs) ^ static_cast<uint32_t>(pairs >> 32);
  }
  for (; i + 4 <= raw.size(); i += 4) {
    sum ^= uint32_t{static_cast<uint8_t>(raw[i])} | uint32_t{static_cast<uint8_t>(raw[i + 1])} << 8 |
           uint32_t{static_cast<uint8_t>(raw[i + 2])} << 16 | uint32_t{static_cast<uint8_t>(raw[i + 3])} << 24;
  }
  return sum;
}

std::optional<Header> ReadHeader(const Image& image, std::string* why) {
  auto fail = [why](const char* reason) -> std::optional<Header> {
    if (why != nullptr) *why = reason;
    return std::nullopt;
  };
  uint64_t at = 0;
  bool shadow = false;
  if (!GoodCopy(image, 0, 0)) {
    // The primary's page size cannot be trusted; try the shadow at each.
    at = 0;
    for (uint32_t size = 2048; size <= 32768 && at == 0; size *= 2)
      if (GoodCopy(image, size, size)) at = size;
    if (at == 0)
      return fail(image.Read(0, 8).U32(4) == kSignature ? "both copies of the database header are damaged"
                                                        : "not an ESE database");
    shadow = true;
  }
  ByteView copy = image.Read(at, 4096);
  Header header;
  header.version = copy.U32(8);
  header.revision = copy.U32(232);
  header.state = copy.U32(52);
  header.pageSize = StoredPageSize(copy);
  header.osMajor = copy.U32(216);
  header.osMinor = copy.U32(220);
  header.osBuild = copy.U32(224);
  header.fromShadow = shadow;
  if (header.version != kVersion) return fail("unsupported ESE format version");
  if (header.state == static_cast<uint32_t>(DbState::kJustCreated) ||
      header.state == static_cast<uint32_t>(DbState::kBeingConverted))
    return fail("the database was never completed");
  if (header.state < 1 || header.state > 5) return fail("unknown database state");
  uint64_t pages = image.Size() / header.pageSize;
  if (pages < 3) return fail("the file is shorter than its header and one page");
  header.pageCount = static_cast<uint32_t>(std::min<uint64_t>(pages - 2, UINT32_MAX));
  return header;
}

}  // namespace trovex::ese
