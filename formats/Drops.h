// What a reader of a file left out, and why: each reader keeps a table of
// its reasons and counts the things it dropped against them, so that every
// format reports the same way ("3 records (2 outside the file, 1 bad URL),
// 1 hash table (1 damaged)").
#ifndef TROVEX_FORMATS_DROPS_H
#define TROVEX_FORMATS_DROPS_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace trovex {

// One reason to drop a thing: the thing, in the singular and the plural,
// and why it went. Reasons of the same thing are described together, in the
// order of the table; the strings live as long as the program.
struct DropReason {
  const char* one;
  const char* many;
  const char* why;
};

class Drops {
 public:
  // `reasons` is the reader's table; its entries are named by their index,
  // or by an enumeration whose values are those indexes.
  explicit Drops(std::span<const DropReason> reasons) : reasons_(reasons), counts_(reasons.size()) {}

  template <typename Reason>
  void Add(Reason reason, uint32_t count = 1) {
    counts_.at(Index(reason)) += count;
  }
  template <typename Reason>
  uint32_t Of(Reason reason) const {
    return counts_.at(Index(reason));
  }
  uint32_t Total() const;
  // Adds every count of `other`, a report of the same reader.
  void Merge(const Drops& other);

  // The things dropped, grouped by thing: "2 pages (1 bad checksum, 1 bad
  // tag)"; empty when nothing was dropped.
  std::string Describe() const;

 private:
  template <typename Reason>
  static size_t Index(Reason reason) {
    if constexpr (std::is_enum_v<Reason>)
      return static_cast<size_t>(reason);
    else
      return reason;
  }

  std::span<const DropReason> reasons_;
  std::vector<uint32_t> counts_;
};

}  // namespace trovex

#endif
