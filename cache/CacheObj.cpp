#include "cache/CacheObj.h"

#include <algorithm>

#include "platform/system.h"
#include "support/FProc.h"
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

// A size query that keeps failing with an unexpected error is given up after
// this many tries, as if the enumeration had ended.
constexpr int kMaxFailedSizeQueries = 16;

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

void CacheList::Add(const INTERNET_CACHE_ENTRY_INFOA* record) {
  if (record == nullptr || (record->CacheEntryType & HiddenTypeMask) != 0) return;
  const char* url = record->lpszSourceUrlName;
  const char* local = record->lpszLocalFileName;
  entries_.push_back(CacheEntry{url != nullptr ? url : "", local != nullptr ? local : ""});
}

void CacheList::Clear() {
  std::vector<CacheEntry>().swap(entries_);
}

std::string CacheList::FindLocalFile(std::string_view url) const {
  auto match = std::find_if(entries_.begin(), entries_.end(),
                            [url](const CacheEntry& e) { return e.SourceUrl == url; });
  return match != entries_.end() ? match->LocalFileName : std::string();
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
  auto sized = [&buffer](DWORD size) {
    buffer.assign(size, 0);
    return size != 0 ? reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data()) : nullptr;
  };

  DWORD size = 0;
  CacheEnumeration sizeQuery(FindFirstUrlCacheEntryA(nullptr, nullptr, &size));
  INTERNET_CACHE_ENTRY_INFOA* record = sized(size);
  CacheEnumeration enumeration(FindFirstUrlCacheEntryA(nullptr, record, &size));
  if (enumeration.get() == nullptr) return;
  Add(record);

  for (int failures = 0; failures < kMaxFailedSizeQueries;) {
    size = 0;
    FindNextUrlCacheEntryA(enumeration.get(), nullptr, &size);
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error != ERROR_INSUFFICIENT_BUFFER) {
      ++failures;
      continue;
    }
    failures = 0;
    record = sized(size);
    if (!FindNextUrlCacheEntryA(enumeration.get(), record, &size)) break;
    Add(record);
  }
}

// ---- Site and host names ----

namespace {

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

// Splits URLs under one set of grouping settings, read once.
class UrlSplitter {
 public:
  UrlSplitter() : prefix_(CachePrefix), skip_(SkipDomains), labels_("," + SkipDomainsList + ",") {}

  UrlParts Split(std::string_view url) const {
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

 private:
  // Cookie URLs read "<prefix><user>@<host>/<path>".
  void DropCookieUser(std::string_view& s) const {
    if (prefix_.empty() || !s.starts_with(prefix_)) return;
    size_t at = s.find('@');
    if (at != std::string_view::npos) s.remove_prefix(at + 1);
  }

  static void DropBefore(std::string_view& s, std::string_view marker) {
    size_t found = s.find(marker);
    if (found != std::string_view::npos) s.remove_prefix(found + marker.size());
  }

  static size_t LastDotBefore(std::string_view s, size_t end) {
    if (end == std::string_view::npos || end == 0) return std::string_view::npos;
    return s.rfind('.', end - 1);
  }

  // The last two labels of host, or three when the second-to-last is one of
  // the listed second-level labels.
  std::string_view RegistrablePart(std::string_view host) const {
    size_t d1 = host.rfind('.');
    size_t d2 = LastDotBefore(host, d1);
    if (skip_ && d2 != std::string_view::npos && IsListedLabel(host.substr(d2 + 1, d1 - d2 - 1))) {
      d2 = LastDotBefore(host, d2);
    }
    return d2 == std::string_view::npos ? host : host.substr(d2 + 1);
  }

  // True when "," label "," occurs in "," SkipDomainsList ",".
  bool IsListedLabel(std::string_view label) const {
    std::string_view haystack = labels_;
    for (size_t at = haystack.find(label, 1); at != std::string_view::npos;
         at = haystack.find(label, at + 1)) {
      size_t end = at + label.size();
      if (haystack[at - 1] == ',' && end < haystack.size() && haystack[end] == ',') return true;
    }
    return false;
  }

  std::string_view prefix_;
  bool skip_;
  std::string labels_;
};

}  // namespace

UrlParts SplitUrl(std::string_view url) {
  return UrlSplitter().Split(url);
}

int32_t CountChar(std::string_view s, char c) {
  return static_cast<int32_t>(std::count(s.begin(), s.end(), c));
}

// ---- FolderList ----

namespace {

unsigned char FoldUpper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 0x20) : c;
}

}  // namespace

size_t FolderList::NameHash::operator()(std::string_view name) const {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a over the folded bytes
  for (char c : name) {
    hash ^= FoldUpper(static_cast<unsigned char>(c));
    hash *= 1099511628211ull;
  }
  return static_cast<size_t>(hash);
}

bool FolderList::SameNameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

FolderList::FolderList() : index_(0, NameHash{&items_}, NameEqual{&items_}) {}

void FolderList::Clear() {
  index_.clear();
  std::vector<FolderItem>().swap(items_);
}

void FolderList::AddUnique(std::string_view name, uint32_t size) {
  if (index_.find(name) != index_.end()) return;
  items_.push_back(FolderItem{std::string(name), size});
  index_.insert(items_.size() - 1);
}

void FolderList::Build(int32_t level, std::string_view folderName) {
  Clear();
  if (level < 0 || level > 2) return;
  UrlSplitter splitter;
  for (const CacheEntry& entry : TheCacheList.Entries()) {
    UrlParts parts = splitter.Split(entry.SourceUrl);
    if (parts.Site.empty() || parts.Host.empty()) continue;
    if (level == 0) {
      AddUnique(parts.Site, 0);
    } else if (level == 1 && parts.Site == folderName) {
      AddUnique(parts.Host, 0);
    } else if (level == 2 && parts.Host == folderName) {
      AddUnique(entry.SourceUrl, FileSizeOf(entry.LocalFileName));
    }
  }
}
