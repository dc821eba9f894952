// The names under which one virtual folder lists its items. The host cuts a
// name to 259 bytes, splits paths at backslashes, takes "." and ".." as
// steps up and down, and compares names without regard to case; an item's
// own name that would not come back from the host whole and as its own is
// listed changed instead: its first bytes, each backslash made '_', then '~'
// and the FNV-1a 64 hash of the whole name in 16 hexadecimal digits
// (ChangedName). An own name of that form is changed too, so that the host
// can tell a changed name from an own one by its form.
#ifndef TROVEX_CACHE_LISTEDNAMES_H
#define TROVEX_CACHE_LISTEDNAMES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cache/ChangedName.h"
#include "cache/SnapshotStore.h"

namespace trovex {

// Hashes and compares names without regard to ASCII case, with a key chosen
// at start-up, so that names a web site picks cannot be aimed at one slot.
struct FoldedHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const;
};
struct FoldedEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// Names merged without regard to ASCII case, each under the id it was first
// added with: the site folders of the root, or the host folders of a site.
// The names are views, kept alive by their owner.
class FoldedNames {
 public:
  // The id of the name equal to name without regard to ASCII case; when
  // there is none, name is added under id, and id is the result. A name
  // once added keeps its spelling and its id.
  uint32_t AddUnique(std::string_view name, uint32_t id);

  // The id of the name equal to name without regard to ASCII case.
  std::optional<uint32_t> Find(std::string_view name) const;

 private:
  std::unordered_map<std::string_view, uint32_t, FoldedHash, FoldedEqual> ids_;
};

class ListedNames {
 public:
  ListedNames() = default;

  // Names the items whose own names are names, in listing order. An item
  // keeps its own name when that fits, holds no backslash (unless it ends a
  // path, as an entry's URL does), is neither "." nor ".." nor of the
  // changed form, and equals, without regard to case, neither reserved
  // (another name the folder lists) nor the name of an item kept before
  // it; the others are changed, to names that clash with none and are no
  // item's own.
  ListedNames(const std::vector<std::string_view>& names, std::string_view reserved, bool endsPath);

  // The name item (own name own) is listed under.
  std::string_view NameOf(uint32_t item, std::string_view own) const;

  // The item listed under the changed name listed, byte for byte; none when
  // listed is no changed name of this folder.
  std::optional<uint32_t> FindChanged(std::string_view listed) const;

 private:
  struct Changed {
    std::vector<uint32_t> items;     // ascending
    std::vector<std::string> names;  // the changed name of items[i]
    FirstIndex byName;               // positions in names
  };
  std::unique_ptr<Changed> changed_;  // none when every item keeps its name
};

}  // namespace trovex

#endif
