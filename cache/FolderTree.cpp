#include "cache/FolderTree.h"

#include <algorithm>

#include "cache/CacheList.h"
#include "cache/SiteGroups.h"

namespace trovex {

FolderTree::FolderTree(const CacheList& snapshot, const SiteGroups& groups) : snapshot_(snapshot), groups_(groups) {
  GatherSites();
  gathered_.assign(sites_.size(), false);
}

// Sites in order of first appearance: so is each spelling's id.
void FolderTree::GatherSites() {
  for (std::string_view spelling : groups_.SiteSpellings()) {
    auto next = static_cast<uint32_t>(sites_.size());
    uint32_t site = siteIds_.AddUnique(spelling, next);
    if (site == next) sites_.emplace_back();
    sites_[site].spellings.push_back(spelling);
  }
}

const FolderTree::SiteFolder& FolderTree::Gathered(uint32_t site) const {
  if (!gathered_[site]) {
    GatherHosts(site);
    gathered_[site] = true;
  }
  return sites_[site];
}

void FolderTree::GatherHosts(uint32_t site) const {
  sites_[site].hostIds = std::make_unique<FoldedNames>();
  std::vector<uint32_t> hosts;
  for (std::string_view spelling : sites_[site].spellings) {
    for (std::string_view host : groups_.HostsOf(spelling)) AddHostSpelling(site, host, hosts);
  }
  std::sort(hosts.begin(), hosts.end(), [this](uint32_t a, uint32_t b) { return hosts_[a].first < hosts_[b].first; });
  std::vector<std::string_view> own;
  own.reserve(hosts.size());
  for (uint32_t host : hosts) own.push_back(hosts_[host].spellings.front());
  sites_[site].hostNames = std::make_unique<ListedNames>(own, std::string_view(), false);
  for (uint32_t item = 0; item < hosts.size(); ++item) {
    hosts_[hosts[item]].names = sites_[site].hostNames.get();
    hosts_[hosts[item]].item = item;
  }
  sites_[site].hosts = std::move(hosts);
}

// The spelling seen first goes first: it names the folder.
void FolderTree::AddHostSpelling(uint32_t site, std::string_view host, std::vector<uint32_t>& hosts) const {
  std::span<const uint32_t> entries = groups_.EntriesOf(host);
  if (entries.empty()) return;
  uint32_t first = entries.front();
  auto next = static_cast<uint32_t>(hosts_.size());
  uint32_t id = sites_[site].hostIds->AddUnique(host, next);
  if (id == next) {
    hosts_.push_back(HostFolder{{}, first, nullptr, 0, nullptr, std::nullopt});
    hosts.push_back(id);
  }
  HostFolder& folder = hosts_[id];
  folder.spellings.push_back(host);
  if (first < folder.first) {
    folder.first = first;
    std::swap(folder.spellings.front(), folder.spellings.back());
  }
}

void FolderTree::ReserveAtRoot(std::string_view reserved) {
  if (named_ && reserved == reserved_) return;
  std::vector<std::string_view> own;
  own.reserve(sites_.size());
  for (const SiteFolder& site : sites_) own.push_back(site.spellings.front());
  siteNames_ = ListedNames(own, reserved, false);
  reserved_ = reserved;
  named_ = true;
}

std::string_view FolderTree::SiteName(uint32_t site) const {
  return siteNames_.NameOf(site, sites_[site].spellings.front());
}

bool FolderTree::IsSpelling(const std::vector<std::string_view>& spellings, std::string_view name) {
  return std::find(spellings.begin(), spellings.end(), name) != spellings.end();
}

// A changed name first: a name that an item is listed under designates that
// item, whatever other item it might be spelled like.
std::optional<uint32_t> FolderTree::FindSite(std::string_view name) const {
  if (std::optional<uint32_t> site = siteNames_.FindChanged(name)) return site;
  std::optional<uint32_t> site = siteIds_.Find(name);
  if (!site || !IsSpelling(sites_[*site].spellings, name)) return std::nullopt;
  return site;
}

std::string_view FolderTree::HostName(uint32_t host) const {
  const HostFolder& folder = hosts_[host];
  return folder.names->NameOf(folder.item, folder.spellings.front());
}

std::optional<uint32_t> FolderTree::FindHost(uint32_t site, std::string_view name) const {
  const SiteFolder& folder = Gathered(site);
  if (std::optional<uint32_t> item = folder.hostNames->FindChanged(name)) return folder.hosts[*item];
  std::optional<uint32_t> host = folder.hostIds->Find(name);
  if (!host || !IsSpelling(hosts_[*host].spellings, name)) return std::nullopt;
  return host;
}

// Entries of one URL share its host name, so the first of them is among the
// entries of this folder: each folder indexes its own URLs.
const FolderTree::HostEntries& FolderTree::Entries(uint32_t host) const {
  const HostFolder& folder = hosts_[host];
  if (folder.entries) return *folder.entries;
  std::vector<uint32_t> all;
  for (std::string_view spelling : folder.spellings) {
    std::span<const uint32_t> positions = groups_.EntriesOf(spelling);
    all.insert(all.end(), positions.begin(), positions.end());
  }
  if (folder.spellings.size() > 1) std::sort(all.begin(), all.end());
  auto entries = std::make_unique<HostEntries>();
  auto urlAt = [this](uint32_t position) { return UrlAt(position); };
  std::vector<std::string_view> urls;
  for (uint32_t position : all) {
    std::string_view url = urlAt(position);
    if (entries->urls.Add(url, position, urlAt) != position) continue;
    entries->positions.push_back(position);
    urls.push_back(url);
  }
  entries->names = ListedNames(urls, std::string_view(), true);
  folder.entries = std::move(entries);
  return *folder.entries;
}

std::string_view FolderTree::UrlAt(uint32_t position) const {
  return snapshot_.Entry(static_cast<int32_t>(position)).SourceUrl;
}

// The root lists every site: their times are worked out together, straight
// from the groups, without gathering each site's hosts.
uint64_t FolderTree::SiteAccessed(uint32_t site) const {
  if (siteAccessed_.size() != sites_.size()) {
    siteAccessed_.clear();
    siteAccessed_.reserve(sites_.size());
    for (const SiteFolder& folder : sites_) {
      uint64_t newest = 0;
      for (std::string_view spelling : folder.spellings) {
        for (std::string_view host : groups_.HostsOf(spelling)) newest = std::max(newest, SpellingAccessed(host));
      }
      siteAccessed_.push_back(newest);
    }
  }
  return siteAccessed_[site];
}

uint64_t FolderTree::HostAccessed(uint32_t host) const {
  const HostFolder& folder = hosts_[host];
  if (!folder.accessed) {
    uint64_t newest = 0;
    for (std::string_view spelling : folder.spellings) newest = std::max(newest, SpellingAccessed(spelling));
    folder.accessed = newest;
  }
  return *folder.accessed;
}

// A URL is listed by its first entry, so a later entry of it adds nothing.
// The newest entry is nearly always the first of its URL; only when it is
// not are the host's URLs told apart.
uint64_t FolderTree::SpellingAccessed(std::string_view host) const {
  std::span<const uint32_t> positions = groups_.EntriesOf(host);
  uint64_t newest = 0;
  size_t at = 0;
  for (size_t i = 0; i < positions.size(); ++i) {
    uint64_t accessed = snapshot_.Times(static_cast<int32_t>(positions[i])).Accessed;
    if (accessed > newest) {
      newest = accessed;
      at = i;
    }
  }
  if (newest == 0) return 0;
  std::string_view url = UrlAt(positions[at]);
  for (size_t i = 0; i < at; ++i) {
    if (UrlAt(positions[i]) == url) return ListedAccessed(positions);
  }
  return newest;
}

uint64_t FolderTree::ListedAccessed(std::span<const uint32_t> positions) const {
  FirstIndex urls;
  auto urlAt = [this](uint32_t position) { return UrlAt(position); };
  uint64_t newest = 0;
  for (uint32_t position : positions) {
    if (urls.Add(UrlAt(position), position, urlAt) != position) continue;
    newest = std::max(newest, snapshot_.Times(static_cast<int32_t>(position)).Accessed);
  }
  return newest;
}

std::string_view FolderTree::EntryName(uint32_t host, uint32_t item) const {
  const HostEntries& entries = Entries(host);
  return entries.names.NameOf(item, UrlAt(entries.positions[item]));
}

std::optional<uint32_t> FolderTree::FindEntry(uint32_t host, std::string_view name) const {
  const HostEntries& entries = Entries(host);
  if (std::optional<uint32_t> item = entries.names.FindChanged(name)) return entries.positions[*item];
  return entries.urls.Find(name, [this](uint32_t position) { return UrlAt(position); });
}

}  // namespace trovex
