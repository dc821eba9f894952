// What the ESE reader leaves out of a database, and why.
#ifndef TROVEX_FORMATS_ESE_DROP_H
#define TROVEX_FORMATS_ESE_DROP_H

#include <span>

#include "formats/Drops.h"

namespace trovex::ese {

enum class Drop {
  kPageOutside,
  kPageChecksum,
  kPageUnwritten,
  kPageTags,
  kPageFlags,
  kPageOwner,
  kPageCycle,
  kPageDepth,
  kNodeShape,
  kRecordShape,
  kCatalogShape,
  kCatalogDuplicate,
  kLongValueMissing,
  kLongValueBroken,
  kValueShape,
  kValueCompression,
  kValueEncrypted,
};

// The reasons, indexed by Drop.
std::span<const DropReason> DropReasons();

// An empty report of this reader.
inline Drops NewDrops() { return Drops(DropReasons()); }

}  // namespace trovex::ese

#endif
