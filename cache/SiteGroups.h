// The snapshot grouped the way the virtual folders show it: its sites, the
// hosts of each site and the entries of each host, each in order of first
// appearance. Deriving the names is the costly part of a listing, so it is
// done once per snapshot and grouping settings, not once per listing.
#ifndef TROVEX_CACHE_SITEGROUPS_H
#define TROVEX_CACHE_SITEGROUPS_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cache/CacheList.h"
#include "cache/SnapshotStore.h"
#include "cache/UrlSplitter.h"

namespace trovex {

class SiteGroups {
 public:
  // Groups the entries of snapshot under settings, as the snapshot is now.
  SiteGroups(const CacheList& snapshot, const GroupingSettings& settings);

  // True when current are the settings the groups were made under.
  bool MatchesSettings(const GroupingSettings& current) const { return settings_ == current; }

  // Every site name, each byte-exact spelling once, in order of first
  // appearance. Names are views into the groups, valid while they are.
  const std::vector<std::string_view>& SiteSpellings() const { return siteNames_; }

  // The host names of the entries whose site name is site byte for byte,
  // each spelling once, in order of first appearance.
  std::span<const std::string_view> HostsOf(std::string_view site) const;

  // The positions in the snapshot of the entries whose host name is host
  // byte for byte, in snapshot order.
  std::span<const uint32_t> EntriesOf(std::string_view host) const;

 private:
  // Gives every byte-exact site and host name an id, in order of first
  // appearance; hostOfEntry and siteOfHost receive the ids of each entry's
  // host (kNone: in no folder) and of each host's site.
  void Name(const CacheList& snapshot, std::vector<uint32_t>& hostOfEntry, std::vector<uint32_t>& siteOfHost);
  // The id of the host name of the entry with URL url, naming the host and
  // its site when new.
  uint32_t HostId(const UrlSplitter& splitter, std::string_view url, std::string_view name, uint32_t hash,
                  std::vector<uint32_t>& hostOffsets, std::vector<uint32_t>& siteOfHost);
  void AppendHostRecord(uint32_t host, std::string_view name);
  std::string_view Keep(std::string_view name);
  // A host's record in hostRecords_, at offset: its id, its name's length
  // and its name, so that a look-up that finds the offset reads one place.
  std::string_view HostAt(uint32_t offset) const;
  uint32_t HostIdAt(uint32_t offset) const;
  void ArrangeHosts(const std::vector<uint32_t>& siteOfHost);
  void ArrangeEntries(const std::vector<uint32_t>& hostOfEntry);

  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr size_t kHostRecordHead = 2 * sizeof(uint32_t);

  // The settings the groups were made under.
  GroupingSettings settings_;

  TextBlocks names_;
  std::vector<std::string_view> siteNames_;  // by id
  std::vector<std::string_view> hostNames_;  // by id, into hostRecords_
  std::string hostRecords_;
  FirstIndex siteIds_;   // site ids by name
  FirstIndex hostIds_;   // offsets of host records by name
  // The hosts of site s are siteHosts_[siteStart_[s] .. siteStart_[s + 1]),
  // the entries of host h hostEntries_[hostStart_[h] .. hostStart_[h + 1]).
  std::vector<uint32_t> siteStart_;
  std::vector<std::string_view> siteHosts_;
  std::vector<uint32_t> hostStart_;
  std::vector<uint32_t> hostEntries_;
};

}  // namespace trovex

#endif
