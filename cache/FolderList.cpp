#include "cache/FolderList.h"

#include <algorithm>
#include <optional>
#include <span>

#include "cache/CacheList.h"
#include "cache/FolderTree.h"
#include "support/FProc.h"

namespace trovex {

FolderList::FolderList() = default;

void FolderList::Clear() {
  std::vector<FolderItem>().swap(items_);
}

void FolderList::Append(std::string_view name, uint64_t size, const EntryTimes& times) {
  items_.push_back(FolderItem{std::string(name), size, times});
}

namespace {

// A folder's only time is its newest entry's last access.
EntryTimes FolderTimes(uint64_t accessed) {
  return EntryTimes{0, accessed, 0};
}

}  // namespace

// The names of a folder differ from each other without regard to case, so
// they go in without a look-up.
void FolderList::Build(const FolderPath& folder, const FolderTree& tree, const CacheList& snapshot, bool withTimes) {
  Clear();
  if (folder.Level < 0 || folder.Level > 2) return;
  if (folder.Level == 0) {
    items_.reserve(tree.SiteCount());
    for (uint32_t site = 0; site < tree.SiteCount(); ++site) {
      Append(tree.SiteName(site), 0, withTimes ? FolderTimes(tree.SiteAccessed(site)) : EntryTimes{});
    }
    return;
  }
  std::optional<uint32_t> site = tree.FindSite(folder.Site);
  if (!site) return;
  if (folder.Level == 1) {
    for (uint32_t host : tree.HostsOf(*site)) {
      Append(tree.HostName(host), 0, withTimes ? FolderTimes(tree.HostAccessed(host)) : EntryTimes{});
    }
    return;
  }
  std::optional<uint32_t> host = tree.FindHost(*site, folder.Host);
  if (!host) return;
  std::span<const uint32_t> entries = tree.EntriesOf(*host);
  items_.reserve(entries.size());
  for (uint32_t item = 0; item < entries.size(); ++item) {
    auto position = static_cast<int32_t>(entries[item]);
    CacheEntry entry = snapshot.Entry(position);
    Append(tree.EntryName(*host, item), FileSizeOf(std::string(entry.LocalFileName)),
           withTimes ? snapshot.Times(position) : EntryTimes{});
  }
}

int32_t CountChar(std::string_view s, char c) {
  return static_cast<int32_t>(std::count(s.begin(), s.end(), c));
}

}  // namespace trovex
