#include "cache/CacheObj.h"

#include "cache/FolderTree.h"
#include "cache/SiteGroups.h"
#include "platform/system.h"
#include "support/RegProc.h"

namespace trovex {

TROVEX_MODULE_STATE CacheList TheCacheList;
TROVEX_MODULE_STATE FolderView TheFolderView(TheCacheList);

namespace {

constexpr char kDefaultCachePrefix[] = "Cookie:";
constexpr char kDefaultSkipDomainsList[] = "com,org,net,gov,edu,priv,co,or,ne,gv,ac";
constexpr char kCookiesKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Special Paths\\Cookies";

void ReleaseText(std::string& text) {
  std::string().swap(text);
}

// Whether CachePrefix was read since the library loaded.
bool CachePrefixRead = false;

// The prefix groups the entries of the snapshot, which the first refill
// fills: read then, once, and not while the library loads, when the
// system's loader may not be asked to open registry keys.
void ReadCachePrefixOnce() {
  if (CachePrefixRead) return;
  CachePrefixRead = true;
  TheGrouping.CachePrefix = RegReadString(HKEY_LOCAL_MACHINE, kCookiesKey, "CachePrefix", kDefaultCachePrefix);
}

}  // namespace

void CacheObjInitialize() {
  HiddenTypeMask = COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY;
  TheGrouping.SkipDomains = true;
  TheGrouping.SkipDomainsList = kDefaultSkipDomainsList;
  TheGrouping.CachePrefix = kDefaultCachePrefix;
  CachePrefixRead = false;
  TheFolderView.Release();
  TheCacheList.Clear();
}

void CacheObjFinalize() {
  TheFolderView.Release();
  TheCacheList.Clear();
  ReleaseText(TheGrouping.CachePrefix);
  ReleaseText(TheGrouping.SkipDomainsList);
}

// What was derived from the old entries goes first, so that it and the new
// entries are never held at once.
void RefillCache() {
  ReadCachePrefixOnce();
  TheFolderView.Release();
  TheCacheList.Fill();
  TheFolderView.Prepare();
}

FolderView::FolderView(const CacheList& snapshot) : snapshot_(snapshot) {}
FolderView::~FolderView() = default;

void FolderView::Release() {
  tree_.reset();
  groups_.reset();
}

const SiteGroups& FolderView::Groups() const {
  if (!groups_ || derivedFrom_ != snapshot_.Generation() || !groups_->MatchesSettings(TheGrouping)) {
    tree_.reset();
    groups_.reset();
    groups_ = std::make_unique<SiteGroups>(snapshot_, TheGrouping);
    derivedFrom_ = snapshot_.Generation();
  }
  return *groups_;
}

FolderTree& FolderView::Tree() const {
  const SiteGroups& groups = Groups();
  if (!tree_) tree_ = std::make_unique<FolderTree>(snapshot_, groups);
  return *tree_;
}

const FolderTree& FolderView::Folders(std::string_view rootReserved) const {
  FolderTree& tree = Tree();
  tree.ReserveAtRoot(rootReserved);
  return tree;
}

std::optional<CacheEntry> FolderView::FindListedEntry(std::string_view site, std::string_view host,
                                                      std::string_view name, std::string_view rootReserved) const {
  const FolderTree& tree = Folders(rootReserved);
  std::optional<uint32_t> siteFolder = tree.FindSite(site);
  if (!siteFolder) return std::nullopt;
  std::optional<uint32_t> hostFolder = tree.FindHost(*siteFolder, host);
  if (!hostFolder) return std::nullopt;
  std::optional<uint32_t> position = tree.FindEntry(*hostFolder, name);
  if (!position) return std::nullopt;
  return snapshot_.Entry(static_cast<int32_t>(*position));
}

std::string FolderView::FindLocalFile(std::string_view site, std::string_view host, std::string_view name,
                                      std::string_view rootReserved) const {
  std::optional<CacheEntry> entry = FindListedEntry(site, host, name, rootReserved);
  return entry ? std::string(entry->LocalFileName) : std::string();
}

void FolderView::Build(FolderList& list, const FolderPath& folder, std::string_view rootReserved,
                       bool withTimes) const {
  list.Build(folder, Folders(rootReserved), snapshot_, withTimes);
}

}  // namespace trovex
