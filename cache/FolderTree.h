// The virtual folders of the snapshot as the host sees them: site folders
// at the root, host folders in each, entries in each host folder, every one
// under the name it is listed by (see ListedNames), and each found again
// from that name. Site and host names are compared without regard to ASCII
// case: a folder gathers every spelling of its name, and is listed under the
// spelling seen first.
//
// A refill of the snapshot makes a new tree, and the host lists the folder
// it shows: one folder, seldom more. So the tree gathers its sites at once,
// and the hosts of a site and the entries of a host only when first asked
// for.
#ifndef TROVEX_CACHE_FOLDERTREE_H
#define TROVEX_CACHE_FOLDERTREE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cache/ListedNames.h"
#include "cache/SnapshotStore.h"

namespace trovex {

class CacheList;
class SiteGroups;

class FolderTree {
 public:
  // The folders of snapshot as grouped by groups; valid while both are.
  FolderTree(const CacheList& snapshot, const SiteGroups& groups);
  FolderTree(const FolderTree&) = delete;
  FolderTree& operator=(const FolderTree&) = delete;

  // Names the sites so that none is listed under reserved, the other name
  // the root lists; a reserved name like the last one changes nothing.
  void ReserveAtRoot(std::string_view reserved);

  // Site folders are numbered 0 .. SiteCount() - 1 in order of appearance.
  uint32_t SiteCount() const { return static_cast<uint32_t>(sites_.size()); }
  std::string_view SiteName(uint32_t site) const;
  // The site listed under name, or whose name is spelled name byte for byte.
  std::optional<uint32_t> FindSite(std::string_view name) const;

  // The host folders of site, in order of appearance.
  std::span<const uint32_t> HostsOf(uint32_t site) const { return Gathered(site).hosts; }
  std::string_view HostName(uint32_t host) const;
  // The host of site listed under name, or whose name is spelled name.
  std::optional<uint32_t> FindHost(uint32_t site, std::string_view name) const;

  // The newest last-access time of the entries site lists, over all its
  // hosts, and of those host lists; 0 when the cache noted none.
  uint64_t SiteAccessed(uint32_t site) const;
  uint64_t HostAccessed(uint32_t host) const;

  // The snapshot positions of the entries host lists: the first entry of
  // each URL among the entries of every spelling, in snapshot order.
  std::span<const uint32_t> EntriesOf(uint32_t host) const { return Entries(host).positions; }
  // The name the item-th entry of host is listed under.
  std::string_view EntryName(uint32_t host, uint32_t item) const;
  // The snapshot position of the entry of host listed under name, or whose
  // URL is name byte for byte.
  std::optional<uint32_t> FindEntry(uint32_t host, std::string_view name) const;

 private:
  struct SiteFolder {
    std::vector<std::string_view> spellings;  // the first is the one listed
    std::vector<uint32_t> hosts;               // once gathered
    std::unique_ptr<ListedNames> hostNames;    // once gathered
    std::unique_ptr<FoldedNames> hostIds;      // its hosts by name, once gathered
  };
  struct HostEntries {
    std::vector<uint32_t> positions;  // ascending
    ListedNames names;
    FirstIndex urls;  // the positions by URL
  };
  struct HostFolder {
    std::vector<std::string_view> spellings;  // the first is the one listed
    uint32_t first;                            // the snapshot position of its first entry
    const ListedNames* names;                  // the names of its site's hosts
    uint32_t item;                             // its place among them
    mutable std::unique_ptr<HostEntries> entries;  // gathered when first asked for
    mutable std::optional<uint64_t> accessed;      // once worked out
  };

  void GatherSites();
  // The site, its hosts gathered.
  const SiteFolder& Gathered(uint32_t site) const;
  void GatherHosts(uint32_t site) const;
  void AddHostSpelling(uint32_t site, std::string_view host, std::vector<uint32_t>& hosts) const;
  const HostEntries& Entries(uint32_t host) const;
  std::string_view UrlAt(uint32_t position) const;
  // The newest last-access time of the entries listed of those of host
  // name host, byte for byte; of positions, their snapshot positions.
  uint64_t SpellingAccessed(std::string_view host) const;
  uint64_t ListedAccessed(std::span<const uint32_t> positions) const;
  static bool IsSpelling(const std::vector<std::string_view>& spellings, std::string_view name);

  const CacheList& snapshot_;
  const SiteGroups& groups_;
  // Hosts are gathered a site at a time, by the const calls that first need
  // them; sites_ itself never grows after construction.
  mutable std::vector<SiteFolder> sites_;
  mutable std::vector<bool> gathered_;  // by site
  mutable std::vector<HostFolder> hosts_;
  mutable std::vector<uint64_t> siteAccessed_;  // by site, worked out for all at once
  FoldedNames siteIds_;
  ListedNames siteNames_;
  std::string reserved_;
  bool named_ = false;
};

}  // namespace trovex

#endif
