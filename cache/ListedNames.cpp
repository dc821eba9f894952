#include "cache/ListedNames.h"

#include <algorithm>
#include <unordered_set>

#include "base/KeyedHash.h"
#include "support/SysUtils1.h"

namespace trovex {

namespace {

// A name of the changed form is changed too, so that a listed name of that
// form is always a changed one, and any other the item's own.
bool KeepsItsName(std::string_view name, bool endsPath) {
  if (name.empty() || name.size() > kMaxListedName || name == "." || name == ".." || HasChangedForm(name)) {
    return false;
  }
  return endsPath || name.find('\\') == std::string_view::npos;
}

}  // namespace

size_t FoldedHash::operator()(std::string_view name) const {
  return static_cast<size_t>(KeyedHashNoCase(name));
}

bool FoldedEqual::operator()(std::string_view a, std::string_view b) const {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

uint32_t FoldedNames::AddUnique(std::string_view name, uint32_t id) {
  return ids_.try_emplace(name, id).first->second;
}

std::optional<uint32_t> FoldedNames::Find(std::string_view name) const {
  auto found = ids_.find(name);
  if (found == ids_.end()) return std::nullopt;
  return found->second;
}

ListedNames::ListedNames(const std::vector<std::string_view>& names, std::string_view reserved, bool endsPath) {
  std::unordered_set<std::string_view, FoldedHash, FoldedEqual> taken;
  taken.reserve(names.size() + 1);
  taken.insert(reserved);
  // Names that need no change are taken first, so that none of them gives
  // way to the changed name of an item listed before it.
  std::vector<uint32_t> pending;
  for (size_t item = 0; item < names.size(); ++item) {
    if (!KeepsItsName(names[item], endsPath) || !taken.insert(names[item]).second) {
      pending.push_back(static_cast<uint32_t>(item));
    }
  }
  if (pending.empty()) return;
  // No changed name is spelled like any item's own name either, so that
  // each own name, listed or not, still leads to its own item.
  for (uint32_t item : pending) taken.insert(names[item]);
  changed_ = std::make_unique<Changed>();
  changed_->items = pending;
  // Reserved, so that the names do not move while taken points into them.
  changed_->names.reserve(pending.size());
  for (uint32_t item : pending) {
    std::string name = ChangedName(names[item]);
    for (uint32_t attempt = 1; taken.contains(name); ++attempt) name = ChangedName(names[item], attempt);
    changed_->names.push_back(std::move(name));
    taken.insert(changed_->names.back());
    auto position = static_cast<uint32_t>(changed_->names.size() - 1);
    changed_->byName.Add(changed_->names.back(), position,
                         [this](uint32_t at) { return std::string_view(changed_->names[at]); });
  }
}

std::string_view ListedNames::NameOf(uint32_t item, std::string_view own) const {
  if (!changed_) return own;
  auto found = std::lower_bound(changed_->items.begin(), changed_->items.end(), item);
  if (found == changed_->items.end() || *found != item) return own;
  return changed_->names[static_cast<size_t>(found - changed_->items.begin())];
}

std::optional<uint32_t> ListedNames::FindChanged(std::string_view listed) const {
  if (!changed_) return std::nullopt;
  std::optional<uint32_t> at =
      changed_->byName.Find(listed, [this](uint32_t position) { return std::string_view(changed_->names[position]); });
  if (!at) return std::nullopt;
  return changed_->items[*at];
}

}  // namespace trovex
