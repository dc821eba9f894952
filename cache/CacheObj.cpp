#include "cache/CacheObj.h"

#include <algorithm>
#include <optional>

#include "cache/FolderTree.h"
#include "cache/SiteGroups.h"
#include "platform/system.h"
#include "support/FProc.h"
#include "support/KeyedHash.h"
#include "support/RegProc.h"
#include "support/SysUtils1.h"

TROVEX_MODULE_STATE CacheList TheCacheList;
uint32_t HiddenTypeMask = COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY;
TROVEX_MODULE_STATE std::string CachePrefix;
bool SkipDomains = true;
TROVEX_MODULE_STATE std::string SkipDomainsList;

namespace {

constexpr char kDefaultCachePrefix[] = "Cookie:";
constexpr char kDefaultSkipDomainsList[] = "com,org,net,gov,edu,priv,co,or,ne,gv,ac";
constexpr char kCookiesKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Special Paths\\Cookies";

// A call that keeps failing with an unexpected error is given up after this
// many tries, as if the enumeration had ended.
constexpr int kMaxFailedCalls = 16;

void ReleaseText(std::string& text) {
  std::string().swap(text);
}

}  // namespace

void CacheObjInitialize() {
  HiddenTypeMask = COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY;
  SkipDomains = true;
  SkipDomainsList = kDefaultSkipDomainsList;
  CachePrefix = RegReadString(HKEY_LOCAL_MACHINE, kCookiesKey, "CachePrefix", kDefaultCachePrefix);
  TheCacheList.Clear();
}

void CacheObjFinalize() {
  TheCacheList.Clear();
  ReleaseText(CachePrefix);
  ReleaseText(SkipDomainsList);
}

// ---- CacheList ----

CacheList::CacheList() = default;
CacheList::~CacheList() = default;

void CacheList::Add(const INTERNET_CACHE_ENTRY_INFOA* record) {
  if (record == nullptr || (record->CacheEntryType & HiddenTypeMask) != 0) return;
  std::string_view url = record->lpszSourceUrlName != nullptr ? record->lpszSourceUrlName : "";
  std::string_view local = record->lpszLocalFileName != nullptr ? record->lpszLocalFileName : "";
  const char* text = texts_.Keep(url, local);
  entries_.push_back(Slot{text, static_cast<uint32_t>(url.size()), static_cast<uint32_t>(local.size())});
  tree_.reset();
  groups_.reset();
}

void CacheList::Clear() {
  tree_.reset();
  groups_.reset();
  urls_.Clear();
  indexed_ = 0;
  std::vector<Slot>().swap(entries_);
  texts_.Clear();
}

CacheEntry CacheList::Entry(int32_t index) const {
  const Slot& slot = entries_[static_cast<size_t>(index)];
  return CacheEntry{{slot.Text, slot.UrlLength}, {slot.Text + slot.UrlLength, slot.FileLength}};
}

// In entry order, so that the first of equal URLs keeps its place.
void CacheList::IndexUrls() const {
  auto count = static_cast<uint32_t>(entries_.size());
  urls_.AddAll(indexed_, count, [this](uint32_t at) { return UrlAt(at); });
  indexed_ = count;
}

std::optional<uint32_t> CacheList::FirstPositionOf(std::string_view url) const {
  IndexUrls();
  return urls_.Find(url, [this](uint32_t at) { return UrlAt(at); });
}

std::string CacheList::FindLocalFile(std::string_view url) const {
  std::optional<uint32_t> found = FirstPositionOf(url);
  return found ? std::string(Entry(static_cast<int32_t>(*found)).LocalFileName) : std::string();
}

const SiteGroups& CacheList::Groups() const {
  if (!groups_ || !groups_->MatchesSettings()) {
    tree_.reset();
    groups_.reset();
    groups_ = std::make_unique<SiteGroups>(*this);
  }
  return *groups_;
}

FolderTree& CacheList::Tree() const {
  const SiteGroups& groups = Groups();
  if (!tree_) tree_ = std::make_unique<FolderTree>(*this, groups);
  return *tree_;
}

const FolderTree& CacheList::Folders(std::string_view rootReserved) const {
  FolderTree& tree = Tree();
  tree.ReserveAtRoot(rootReserved);
  return tree;
}

std::optional<CacheEntry> CacheList::FindListedEntry(std::string_view site, std::string_view host,
                                                     std::string_view name, std::string_view rootReserved) const {
  const FolderTree& tree = Folders(rootReserved);
  std::optional<uint32_t> siteFolder = tree.FindSite(site);
  if (!siteFolder) return std::nullopt;
  std::optional<uint32_t> hostFolder = tree.FindHost(*siteFolder, host);
  if (!hostFolder) return std::nullopt;
  std::optional<uint32_t> position = tree.FindEntry(*hostFolder, name);
  if (!position) return std::nullopt;
  return Entry(static_cast<int32_t>(*position));
}

namespace {

// An open enumeration of the URL cache, closed when it goes.
class CacheEnumeration {
 public:
  explicit CacheEnumeration(HANDLE handle) : handle_(handle) {}
  ~CacheEnumeration() {
    if (handle_ != nullptr) FindCloseUrlCache(handle_);
  }
  CacheEnumeration(const CacheEnumeration&) = delete;
  CacheEnumeration& operator=(const CacheEnumeration&) = delete;

  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

void CacheList::Fill() {
  Clear();
  std::vector<char> buffer;
  auto fitting = [&buffer](DWORD size) {
    if (buffer.size() < size) buffer.resize(size);
    return buffer.empty() ? nullptr : reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  };

  DWORD size = 0;
  CacheEnumeration sizeQuery(FindFirstUrlCacheEntryA(nullptr, nullptr, &size));
  INTERNET_CACHE_ENTRY_INFOA* record = fitting(size);
  CacheEnumeration enumeration(FindFirstUrlCacheEntryA(nullptr, record, &size));
  if (enumeration.get() == nullptr) return;
  Add(record);

  for (int failures = 0; failures < kMaxFailedCalls;) {
    // The buffer of the records so far is offered first: only a record
    // larger than all of them needs the size query and a second call.
    size = static_cast<DWORD>(buffer.size());
    if (FindNextUrlCacheEntryA(enumeration.get(), record, &size)) {
      failures = 0;
      Add(record);
      continue;
    }
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error != ERROR_INSUFFICIENT_BUFFER) {
      ++failures;
      continue;
    }
    failures = 0;
    record = fitting(size);
    if (!FindNextUrlCacheEntryA(enumeration.get(), record, &size)) break;
    Add(record);
  }
  // Derived once, now, so that no listing or copy waits for it.
  IndexUrls();
  Tree();
}

// ---- Site and host names ----

namespace {

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

void DropBefore(std::string_view& s, std::string_view marker) {
  size_t found = s.find(marker);
  if (found != std::string_view::npos) s.remove_prefix(found + marker.size());
}

size_t LastDotBefore(std::string_view s, size_t end) {
  if (end == std::string_view::npos || end == 0) return std::string_view::npos;
  return s.rfind('.', end - 1);
}

}  // namespace

UrlSplitter::UrlSplitter()
    : prefix_(CachePrefix), skip_(SkipDomains), labels_(std::string(",").append(SkipDomainsList).append(",")) {}

UrlParts UrlSplitter::Split(std::string_view url) const {
  UrlParts parts;
  if (url.empty()) return parts;
  std::string_view s = url;
  DropCookieUser(s);
  DropBefore(s, "://");
  s = s.substr(0, s.find('/'));
  parts.Host = s;
  s = s.substr(0, s.find(':'));
  if (s.empty()) return parts;
  parts.Site = IsDecimalDigit(s.back()) ? s : RegistrablePart(s);
  return parts;
}

// Cookie URLs read "<prefix><user>@<host>/<path>".
void UrlSplitter::DropCookieUser(std::string_view& s) const {
  if (prefix_.empty() || !s.starts_with(prefix_)) return;
  size_t at = s.find('@');
  if (at != std::string_view::npos) s.remove_prefix(at + 1);
}

// The last two labels of host, or three when the second-to-last is one of
// the listed second-level labels.
std::string_view UrlSplitter::RegistrablePart(std::string_view host) const {
  size_t d1 = host.rfind('.');
  size_t d2 = LastDotBefore(host, d1);
  if (skip_ && d2 != std::string_view::npos && IsListedLabel(host.substr(d2 + 1, d1 - d2 - 1))) {
    d2 = LastDotBefore(host, d2);
  }
  return d2 == std::string_view::npos ? host : host.substr(d2 + 1);
}

// True when "," label "," occurs in "," SkipDomainsList ",".
bool UrlSplitter::IsListedLabel(std::string_view label) const {
  std::string_view haystack = labels_;
  for (size_t at = haystack.find(label, 1); at != std::string_view::npos; at = haystack.find(label, at + 1)) {
    size_t end = at + label.size();
    if (haystack[at - 1] == ',' && end < haystack.size() && haystack[end] == ',') return true;
  }
  return false;
}

UrlParts SplitUrl(std::string_view url) {
  return UrlSplitter().Split(url);
}

int32_t CountChar(std::string_view s, char c) {
  return static_cast<int32_t>(std::count(s.begin(), s.end(), c));
}

// ---- FolderList ----

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
void FolderList::Build(const FolderPath& folder, std::string_view rootReserved) {
  Clear();
  if (folder.Level < 0 || folder.Level > 2) return;
  const FolderTree& tree = TheCacheList.Folders(rootReserved);
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
    CacheEntry entry = TheCacheList.Entry(static_cast<int32_t>(entries[item]));
    Append(tree.EntryName(*host, item), FileSizeOf(std::string(entry.LocalFileName)));
  }
}
