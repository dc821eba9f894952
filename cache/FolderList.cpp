#include "cache/FolderList.h"

#include <algorithm>
#include <optional>
#include <span>

#include "cache/CacheList.h"
#include "cache/FolderTree.h"
#include "support/FProc.h"
#include "base/KeyedHash.h"
#include "support/SysUtils1.h"

namespace trovex {

// Keyed, since the names are a web site's choice.
size_t FolderList::NameHash::operator()(std::string_view name) const {
  return static_cast<size_t>(KeyedHashNoCase(name));
}

bool FolderList::SameNameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

FolderList::FolderList() : index_(0, NameHash{&items_}, NameEqual{&items_}) {}

void FolderList::Clear() {
  index_.clear();
  indexed_ = 0;
  std::vector<FolderItem>().swap(items_);
}

void FolderList::AddUnique(std::string_view name, uint64_t size) {
  if (Contains(name)) return;
  items_.push_back(FolderItem{std::string(name), size});
  index_.insert(items_.size() - 1);
  indexed_ = items_.size();
}

void FolderList::Append(std::string_view name, uint64_t size) {
  items_.push_back(FolderItem{std::string(name), size});
}

bool FolderList::Contains(std::string_view name) const {
  // In item order, so that of names equal but for case the first is found.
  for (; indexed_ < items_.size(); ++indexed_) index_.insert(indexed_);
  return index_.find(name) != index_.end();
}

// The names of a folder differ from each other without regard to case, so
// they go in without a look-up.
void FolderList::Build(const FolderPath& folder, const FolderTree& tree, const CacheList& snapshot) {
  Clear();
  if (folder.Level < 0 || folder.Level > 2) return;
  if (folder.Level == 0) {
    items_.reserve(tree.SiteCount());
    for (uint32_t site = 0; site < tree.SiteCount(); ++site) Append(tree.SiteName(site), 0);
    return;
  }
  std::optional<uint32_t> site = tree.FindSite(folder.Site);
  if (!site) return;
  if (folder.Level == 1) {
    for (uint32_t host : tree.HostsOf(*site)) Append(tree.HostName(host), 0);
    return;
  }
  std::optional<uint32_t> host = tree.FindHost(*site, folder.Host);
  if (!host) return;
  std::span<const uint32_t> entries = tree.EntriesOf(*host);
  items_.reserve(entries.size());
  for (uint32_t item = 0; item < entries.size(); ++item) {
    CacheEntry entry = snapshot.Entry(static_cast<int32_t>(entries[item]));
    Append(tree.EntryName(*host, item), FileSizeOf(std::string(entry.LocalFileName)));
  }
}

int32_t CountChar(std::string_view s, char c) {
  return static_cast<int32_t>(std::count(s.begin(), s.end(), c));
}

}  // namespace trovex
