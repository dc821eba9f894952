#include "formats/Drops.h"

#include <string_view>

namespace trovex {

uint32_t Drops::Total() const {
  uint32_t total = 0;
  for (uint32_t count : counts_) total += count;
  return total;
}

void Drops::Merge(const Drops& other) {
  for (size_t i = 0; i < counts_.size() && i < other.counts_.size(); ++i) counts_[i] += other.counts_[i];
}

std::string Drops::Describe() const {
  std::string text;
  std::vector<bool> described(counts_.size());
  for (size_t first = 0; first < counts_.size(); ++first) {
    if (described[first]) continue;
    std::string_view thing = reasons_[first].one;
    uint32_t total = 0;
    std::string why;
    for (size_t i = first; i < counts_.size(); ++i) {
      if (thing != reasons_[i].one) continue;
      described[i] = true;
      if (counts_[i] == 0) continue;
      total += counts_[i];
      why += (why.empty() ? "" : ", ") + std::to_string(counts_[i]) + " " + reasons_[i].why;
    }
    if (total == 0) continue;
    text += (text.empty() ? "" : ", ") + std::to_string(total) + " " +
            (total == 1 ? reasons_[first].one : reasons_[first].many) + " (" + why + ")";
  }
  return text;
}

}  // namespace trovex
