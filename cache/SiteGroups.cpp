#include "cache/SiteGroups.h"

#include <algorithm>

#include "cache/CacheObj.h"

SiteGroups::SiteGroups(const CacheList& snapshot)
    : prefix_(CachePrefix), skip_(SkipDomains), skipList_(SkipDomainsList) {
  std::vector<uint32_t> hostOfEntry;
  std::vector<uint32_t> siteOfHost;
  Name(snapshot, hostOfEntry, siteOfHost);
  merged_.Clear();
  ArrangeHosts(siteOfHost);
  ArrangeEntries(hostOfEntry);
}

// Names are looked up once for every entry: kept together, apart from the
// snapshot's long URLs, they stay in the processor's caches.
std::string_view SiteGroups::Keep(std::string_view name) {
  return std::string_view(names_.Keep(name, {}), name.size());
}

bool SiteGroups::MatchesSettings() const {
  return prefix_ == CachePrefix && skip_ == SkipDomains && skipList_ == SkipDomainsList;
}

void SiteGroups::Name(const CacheList& snapshot, std::vector<uint32_t>& hostOfEntry,
                      std::vector<uint32_t>& siteOfHost) {
  // Entries are split a batch ahead of their host look-ups, so that the
  // look-ups of a batch wait for memory together.
  constexpr int32_t kBatch = 16;
  struct Split {
    UrlParts parts;
    uint32_t hash;
  };
  UrlSplitter splitter;
  Split batch[kBatch];
  hostOfEntry.assign(static_cast<size_t>(snapshot.Count()), kNone);
  for (int32_t start = 0; start < snapshot.Count(); start += kBatch) {
    int32_t count = std::min(kBatch, snapshot.Count() - start);
    for (int32_t i = 0; i < count; ++i) {
      batch[i].parts = splitter.Split(snapshot.Entry(start + i).SourceUrl);
      batch[i].hash = FirstIndex::HashOf(batch[i].parts.Host);
      hostIds_.Prefetch(batch[i].hash);
    }
    for (int32_t i = 0; i < count; ++i) {
      const UrlParts& parts = batch[i].parts;
      if (parts.Site.empty() || parts.Host.empty()) continue;
      hostOfEntry[static_cast<size_t>(start + i)] = HostId(parts, batch[i].hash, siteOfHost);
    }
  }
}

uint32_t SiteGroups::HostId(const UrlParts& parts, uint32_t hash, std::vector<uint32_t>& siteOfHost) {
  auto newHost = static_cast<uint32_t>(hostNames_.size());
  uint32_t host = hostIds_.Add(parts.Host, hash, newHost, [this](uint32_t id) { return hostNames_[id]; });
  if (host != newHost) return host;
  hostNames_.push_back(Keep(parts.Host));
  // A host's site follows from the host name alone: its first entry names it.
  auto newSite = static_cast<uint32_t>(siteNames_.size());
  uint32_t site = siteIds_.Add(parts.Site, newSite, [this](uint32_t id) { return siteNames_[id]; });
  siteOfHost.push_back(site);
  if (site == newSite) {
    siteNames_.push_back(Keep(parts.Site));
    // Merged as the root folder merges, a new spelling that differs from an
    // earlier one in case alone is not listed.
    int32_t before = merged_.Count();
    merged_.AddUnique(parts.Site, 0);
    if (merged_.Count() > before) sites_.push_back(siteNames_.back());
  }
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
  std::optional<uint32_t> id = hostIds_.Find(host, [this](uint32_t at) { return hostNames_[at]; });
  if (!id) return {};
  return std::span<const uint32_t>(hostEntries_).subspan(hostStart_[*id], hostStart_[*id + 1] - hostStart_[*id]);
}
