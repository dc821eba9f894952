#include "cache/SiteGroups.h"

#include "cache/CacheObj.h"

SiteGroups::SiteGroups(const CacheList& snapshot)
    : prefix_(CachePrefix), skip_(SkipDomains), skipList_(SkipDomainsList) {
  std::vector<uint32_t> hostOfEntry;
  std::vector<uint32_t> siteOfHost;
  Name(snapshot, hostOfEntry, siteOfHost);
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
  UrlSplitter splitter;
  // Merging each new spelling of a site as the root folder does keeps the
  // first of the spellings that differ in case alone.
  FolderList merged;
  auto siteAt = [this](uint32_t id) { return siteNames_[id]; };
  auto hostAt = [this](uint32_t id) { return hostNames_[id]; };
  hostOfEntry.assign(static_cast<size_t>(snapshot.Count()), kNone);
  for (int32_t i = 0; i < snapshot.Count(); ++i) {
    UrlParts parts = splitter.Split(snapshot.Entry(i).SourceUrl);
    if (parts.Site.empty() || parts.Host.empty()) continue;
    auto newHost = static_cast<uint32_t>(hostNames_.size());
    uint32_t host = hostIds_.Add(parts.Host, newHost, hostAt);
    hostOfEntry[static_cast<size_t>(i)] = host;
    if (host != newHost) continue;
    hostNames_.push_back(Keep(parts.Host));
    // A host's site follows from the host name alone: its first entry names it.
    auto newSite = static_cast<uint32_t>(siteNames_.size());
    uint32_t site = siteIds_.Add(parts.Site, newSite, siteAt);
    siteOfHost.push_back(site);
    if (site != newSite) continue;
    siteNames_.push_back(Keep(parts.Site));
    int32_t before = merged.Count();
    merged.AddUnique(parts.Site, 0);
    if (merged.Count() > before) sites_.push_back(siteNames_.back());
  }
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
