// The changed form under which a folder lists a name that the host would
// not give back whole and as its own (see ListedNames): the name's first
// bytes, each backslash made '_', then '~' and the FNV-1a 64 hash of the
// whole name in 16 hexadecimal digits. Free of system calls and of the
// listing's state, so that the host program can tell such a name from a
// URL, and find the changed name of a URL it was given whole.
#ifndef TROVEX_CACHE_CHANGEDNAME_H
#define TROVEX_CACHE_CHANGEDNAME_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/Hex.h"
#include "base/StableHash.h"

namespace trovex {

// The longest name the host's find record holds whole.
constexpr size_t kMaxListedName = 259;

namespace changed_name {

constexpr size_t kHashDigits = 16;
constexpr size_t kSuffixSize = 1 + kHashDigits;  // '~' and the digits

// How many of name's first bytes fit before the suffix, without ending in
// the middle of a UTF-8 sequence.
inline size_t KeptBytes(std::string_view name) {
  size_t keep = std::min(name.size(), kMaxListedName - kSuffixSize);
  if (keep == name.size()) return keep;
  size_t start = keep;
  while (start > 0 && keep - start < 3 && (static_cast<unsigned char>(name[start]) & 0xC0) == 0x80) --start;
  bool cutsSequence = start < keep && (static_cast<unsigned char>(name[start]) & 0xC0) == 0xC0;
  return cutsSequence ? start : keep;
}

}  // namespace changed_name

// The changed form of name; attempt counts the forms already taken, so
// that each attempt gives another name.
inline std::string ChangedName(std::string_view name, uint32_t attempt = 0) {
  uint64_t hash = StableHash(name);
  if (attempt > 0) hash = StableHash("#" + std::to_string(attempt), hash);
  std::string changed(name.substr(0, changed_name::KeptBytes(name)));
  std::replace(changed.begin(), changed.end(), '\\', '_');
  changed += '~';
  changed += HexText(hash, changed_name::kHashDigits);
  return changed;
}

// True when name ends as a changed name does: '~' and 16 lower-case
// hexadecimal digits. A folder lists no own name of this form, so a listed
// name is a changed one exactly when it has it.
inline bool HasChangedForm(std::string_view name) {
  if (name.size() < changed_name::kSuffixSize) return false;
  std::string_view suffix = name.substr(name.size() - changed_name::kSuffixSize);
  return suffix.front() == '~' && std::all_of(suffix.begin() + 1, suffix.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// The name a listed changed name was made from, when it holds that name
// whole: one short enough to keep in full (a name cut to fit keeps all but
// at most three of the bytes there is room for) and without a '_', which
// may have been a backslash. None for any other name.
inline std::optional<std::string_view> WholeNameOf(std::string_view listed) {
  if (!HasChangedForm(listed)) return std::nullopt;
  std::string_view kept = listed.substr(0, listed.size() - changed_name::kSuffixSize);
  if (kept.size() + 3 >= kMaxListedName - changed_name::kSuffixSize) return std::nullopt;
  if (kept.find('_') != std::string_view::npos) return std::nullopt;
  return kept;
}

}  // namespace trovex

#endif
