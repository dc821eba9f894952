#include "formats/ese/Drop.h"

namespace trovex::ese {

namespace {

constexpr DropReason kReasons[] = {
    {"page", "pages", "outside the file"},
    {"page", "pages", "bad checksum"},
    {"page", "pages", "never written"},
    {"page", "pages", "bad tag"},
    {"page", "pages", "bad flags"},
    {"page", "pages", "of another tree"},
    {"page", "pages", "reached twice"},
    {"page", "pages", "too deep"},
    {"node", "nodes", "malformed"},
    {"record", "records", "malformed"},
    {"catalog entry", "catalog entries", "malformed"},
    {"catalog entry", "catalog entries", "duplicate"},
    {"long value", "long values", "not found"},
    {"long value", "long values", "broken chunks"},
    {"value", "values", "malformed"},
    {"value", "values", "unsupported compression"},
    {"value", "values", "encrypted"},
};

static_assert(std::size(kReasons) == static_cast<size_t>(Drop::kValueEncrypted) + 1);

}  // namespace

std::span<const DropReason> DropReasons() { return kReasons; }

}  // namespace trovex::ese
