#include "cache/SiteGroups.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "base/KeyedHash.h"

namespace trovex {

namespace {

// The ids of host names seen lately, one name a slot of a small table that
// an unkeyed hash of the name picks. The entries of one host are many, so
// most entries find their host here, without the keyed hash and the look-up
// in a table larger than the processor's caches. A slot holds the name
// itself, so that a look-up reads one cache line; longer names are not kept
// and always take the keyed look-up. Names a site made to share a slot only
// push each other out: such an entry is found in the keyed table as any
// other.
class RecentHosts {
 public:
  // The id of host, whose QuickHash is hash.
  std::optional<uint32_t> Find(std::string_view host, uint64_t hash) const {
    const Slot& slot = slots_[SlotOf(hash)];
    if (slot.hash != hash || slot.length != host.size() || slot.id == kNone) return std::nullopt;
    if (std::memcmp(slot.name, host.data(), host.size()) != 0) return std::nullopt;
    return slot.id;
  }

  void Remember(std::string_view host, uint64_t hash, uint32_t id) {
    if (host.size() > kNameRoom) return;
    Slot& slot = slots_[SlotOf(hash)];
    slot.hash = hash;
    slot.id = id;
    slot.length = static_cast<uint32_t>(host.size());
    std::memcpy(slot.name, host.data(), host.size());
  }

 private:
  static constexpr int kSlotBits = 12;
  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr size_t kNameRoom = 48;
  // One cache line; the table fits the second-level cache.
  struct alignas(64) Slot {
    uint64_t hash = 0;
    uint32_t id = kNone;
    uint32_t length = 0;
    char name[kNameRoom];
  };

  static size_t SlotOf(uint64_t hash) { return static_cast<size_t>(hash >> (64 - kSlotBits)); }

  std::vector<Slot> slots_ = std::vector<Slot>(size_t{1} << kSlotBits);
};

}  // namespace

SiteGroups::SiteGroups(const CacheList& snapshot, const GroupingSettings& settings) : settings_(settings) {
  std::vector<uint32_t> hostOfEntry;
  std::vector<uint32_t> siteOfHost;
  Name(snapshot, hostOfEntry, siteOfHost);
  ArrangeHosts(siteOfHost);
  ArrangeEntries(hostOfEntry);
}

// Site names are copied out of the snapshot's long URLs, so that look-ups
// and the root listing read them from one compact place.
std::string_view SiteGroups::Keep(std::string_view name) {
  return std::string_view(names_.Keep(name, {}), name.size());
}

void SiteGroups::Name(const CacheList& snapshot, std::vector<uint32_t>& hostOfEntry,
                      std::vector<uint32_t>& siteOfHost) {
  // A batch of entries is split and its host look-ups prepared before any
  // is made: the slots, and then the names they point at, are prefetched,
  // so that the look-ups of a batch wait for memory together.
  constexpr int32_t kBatch = 32;
  struct Split {
    std::string_view url;
    std::string_view host;
    uint64_t recentHash;
    std::optional<uint32_t> recent;  // the host's id, when it was seen lately
    uint32_t hash;
  };
  UrlSplitter splitter(settings_);
  RecentHosts recent;
  Split batch[kBatch];
  std::vector<uint32_t> hostOffsets;
  hostOfEntry.assign(static_cast<size_t>(snapshot.Count()), kNone);
  for (int32_t start = 0; start < snapshot.Count(); start += kBatch) {
    int32_t count = std::min(kBatch, snapshot.Count() - start);
    for (int32_t i = 0; i < count; ++i) {
      Split& split = batch[i];
      split.url = snapshot.Entry(start + i).SourceUrl;
      split.host = splitter.HostOf(split.url);
      split.recentHash = QuickHash(split.host);
      split.recent = recent.Find(split.host, split.recentHash);
      if (split.recent) continue;
      split.hash = hostIds_.HashOf(split.host);
      hostIds_.Prefetch(split.hash);
    }
    for (int32_t i = 0; i < count; ++i) {
      if (batch[i].recent) continue;
      if (std::optional<uint32_t> offset = hostIds_.Hint(batch[i].hash)) {
        __builtin_prefetch(hostRecords_.data() + *offset);
      }
    }
    for (int32_t i = 0; i < count; ++i) {
      // A host without a name before its port has no site: in no folder.
      const Split& split = batch[i];
      if (split.host.empty() || split.host.front() == ':') continue;
      uint32_t host =
          split.recent ? *split.recent : HostId(splitter, split.url, split.host, split.hash, hostOffsets, siteOfHost);
      if (!split.recent) recent.Remember(split.host, split.recentHash, host);
      hostOfEntry[static_cast<size_t>(start + i)] = host;
    }
  }
  // The records are complete: names can point into them now.
  for (uint32_t offset : hostOffsets) hostNames_.push_back(HostAt(offset));
}

uint32_t SiteGroups::HostId(const UrlSplitter& splitter, std::string_view url, std::string_view name, uint32_t hash,
                            std::vector<uint32_t>& hostOffsets, std::vector<uint32_t>& siteOfHost) {
  auto newOffset = static_cast<uint32_t>(hostRecords_.size());
  uint32_t offset = hostIds_.Add(name, hash, newOffset, [this](uint32_t at) { return HostAt(at); });
  if (offset != newOffset) return HostIdAt(offset);
  auto host = static_cast<uint32_t>(hostOffsets.size());
  AppendHostRecord(host, name);
  hostOffsets.push_back(offset);
  // A host's site follows from the host name alone, so it is worked out once,
  // by splitting the host's first entry whole.
  std::string_view siteName = splitter.SplitUrl(url).Site;
  auto newSite = static_cast<uint32_t>(siteNames_.size());
  uint32_t site = siteIds_.Add(siteName, newSite, [this](uint32_t id) { return siteNames_[id]; });
  siteOfHost.push_back(site);
  if (site == newSite) siteNames_.push_back(Keep(siteName));
  return host;
}

void SiteGroups::AppendHostRecord(uint32_t host, std::string_view name) {
  // Offsets are 32-bit and the largest is the index's empty mark.
  if (hostRecords_.size() + kHostRecordHead + name.size() >= UINT32_MAX) throw std::length_error("host names");
  auto length = static_cast<uint32_t>(name.size());
  hostRecords_.append(reinterpret_cast<const char*>(&host), sizeof host);
  hostRecords_.append(reinterpret_cast<const char*>(&length), sizeof length);
  hostRecords_.append(name);
}

std::string_view SiteGroups::HostAt(uint32_t offset) const {
  uint32_t length = 0;
  std::memcpy(&length, hostRecords_.data() + offset + sizeof(uint32_t), sizeof length);
  return std::string_view(hostRecords_.data() + offset + kHostRecordHead, length);
}

uint32_t SiteGroups::HostIdAt(uint32_t offset) const {
  uint32_t host = 0;
  std::memcpy(&host, hostRecords_.data() + offset, sizeof host);
  return host;
}

// Hosts are numbered in order of first appearance, so a stable placement by
// site keeps that order within each site.
void SiteGroups::ArrangeHosts(const std::vector<uint32_t>& siteOfHost) {
  siteStart_.assign(siteNames_.size() + 1, 0);
  for (uint32_t site : siteOfHost) ++siteStart_[site + 1];
  for (size_t s = 1; s < siteStart_.size(); ++s) siteStart_[s] += siteStart_[s - 1];
  std::vector<uint32_t> next(siteStart_.begin(), siteStart_.end() - 1);
  siteHosts_.resize(siteOfHost.size());
  for (size_t host = 0; host < siteOfHost.size(); ++host) siteHosts_[next[siteOfHost[host]]++] = hostNames_[host];
}

void SiteGroups::ArrangeEntries(const std::vector<uint32_t>& hostOfEntry) {
  hostStart_.assign(hostNames_.size() + 1, 0);
  size_t grouped = 0;
  for (uint32_t host : hostOfEntry) {
    if (host == kNone) continue;
    ++hostStart_[host + 1];
    ++grouped;
  }
  for (size_t h = 1; h < hostStart_.size(); ++h) hostStart_[h] += hostStart_[h - 1];
  std::vector<uint32_t> next(hostStart_.begin(), hostStart_.end() - 1);
  hostEntries_.resize(grouped);
  for (size_t entry = 0; entry < hostOfEntry.size(); ++entry) {
    if (hostOfEntry[entry] != kNone) hostEntries_[next[hostOfEntry[entry]]++] = static_cast<uint32_t>(entry);
  }
}

std::span<const std::string_view> SiteGroups::HostsOf(std::string_view site) const {
  std::optional<uint32_t> id = siteIds_.Find(site, [this](uint32_t at) { return siteNames_[at]; });
  if (!id) return {};
  return std::span<const std::string_view>(siteHosts_).subspan(siteStart_[*id], siteStart_[*id + 1] - siteStart_[*id]);
}

std::span<const uint32_t> SiteGroups::EntriesOf(std::string_view host) const {
  std::optional<uint32_t> offset = hostIds_.Find(host, [this](uint32_t at) { return HostAt(at); });
  if (!offset) return {};
  uint32_t id = HostIdAt(*offset);
  return std::span<const uint32_t>(hostEntries_).subspan(hostStart_[id], hostStart_[id + 1] - hostStart_[id]);
}

}  // namespace trovex
