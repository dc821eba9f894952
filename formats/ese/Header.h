// The database file header of an ESE database and the page geometry it
// gives.
#ifndef TROVEX_FORMATS_ESE_HEADER_H
#define TROVEX_FORMATS_ESE_HEADER_H

#include <cstdint>
#include <optional>
#include <string>

#include "formats/ByteView.h"
#include "formats/ese/Image.h"

namespace trovex::ese {

enum class DbState : uint32_t { kJustCreated = 1, kDirty = 2, kClean = 3, kBeingConverted = 4, kForceDetach = 5 };

struct Header {
  uint32_t version = 0;   // always 0x620
  uint32_t revision = 0;  // the engine's format revision, e.g. 0x14, 0x6E
  uint32_t state = 0;     // a DbState
  uint32_t pageSize = 0;
  uint32_t pageCount = 0;  // database pages 1 … pageCount
  uint32_t osMajor = 0, osMinor = 0, osBuild = 0;
  bool fromShadow = false;  // the primary copy failed and its shadow was read

  bool Dirty() const { return state == static_cast<uint32_t>(DbState::kDirty); }
};

// The header of `image`, from its primary copy or, when that fails its
// checksum or checks, from the shadow copy one page later. Nothing when
// neither copy holds, the file is not a database of a known format and
// page size, or it was never completed; `why` then names the reason.
std::optional<Header> ReadHeader(const Image& image, std::string* why);

// The 32-bit XOR of the words of `bytes` from `at` to its end (whole
// words only).
uint32_t XorWords(ByteView bytes, uint64_t at);

}  // namespace trovex::ese

#endif
