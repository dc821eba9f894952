#include "bench/Reference.h"

#include <cstdio>
#include <vector>

#include "platform/win32api.h"

namespace trovex {

namespace {

const std::string kCachePrefix = "Cookie:";
const std::string kSkipDomainsList = ",com,org,net,gov,edu,priv,co,or,ne,gv,ac,";

char FoldUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
}

bool SameNoCase(const std::string& a, const std::string& b) {
  for (size_t i = 0;; ++i) {
    char x = i < a.size() ? FoldUpper(a[i]) : '\0';
    char y = i < b.size() ? FoldUpper(b[i]) : '\0';
    if (x != y) return false;
    if (i >= a.size()) return true;
  }
}

void AddUnique(std::vector<ReferenceItem>& items, const std::string& name, uint32_t size) {
  for (const ReferenceItem& item : items) {
    if (SameNoCase(item.name, name)) return;
  }
  items.push_back({name, size});
}

// A file name the listing cannot give as it is: cut, and ending in '~' and
// the FNV-1a 64 hash of the whole name.
std::string Changed(const std::string& name) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return name.substr(0, 242) + "~" + digits;
}

// A host folder's entry: each URL once; a URL too long, or equal but for case
// to one listed before it, is listed changed.
void AddEntry(std::vector<ReferenceItem>& items, std::vector<std::string>& urls, const std::string& url,
              uint32_t size) {
  bool clashes = url.size() > 259;
  for (const std::string& listed : urls) {
    if (listed == url) return;
    clashes = clashes || SameNoCase(listed, url);
  }
  urls.push_back(url);
  items.push_back({clashes ? Changed(url) : url, size});
}

void DeleteThrough(std::string& s, const std::string& marker) {
  size_t at = s.find(marker);
  if (at != std::string::npos) s.erase(0, at + marker.size());
}

void DeleteFrom(std::string& s, char marker) {
  size_t at = s.find(marker);
  if (at != std::string::npos) s.erase(at);
}

void SplitUrl(const std::string& url, std::string& site, std::string& host) {
  site.clear();
  host.clear();
  if (url.empty()) return;
  std::string s = url;
  if (s.compare(0, kCachePrefix.size(), kCachePrefix) == 0 && s.find('@') != std::string::npos) {
    DeleteThrough(s, "@");
  }
  DeleteThrough(s, "://");
  DeleteFrom(s, '/');
  host = s;
  DeleteFrom(s, ':');
  if (s.empty()) return;
  if (s.back() >= '0' && s.back() <= '9') {
    site = s;
    return;
  }
  size_t d1 = s.rfind('.');
  size_t d2 = d1 == std::string::npos || d1 == 0 ? std::string::npos : s.rfind('.', d1 - 1);
  if (d2 != std::string::npos &&
      kSkipDomainsList.find(std::string(",").append(s, d2 + 1, d1 - d2 - 1) + ",") != std::string::npos) {
    d2 = d2 == 0 ? std::string::npos : s.rfind('.', d2 - 1);
  }
  if (d2 != std::string::npos) s.erase(0, d2 + 1);
  site = s;
}

uint32_t FileSize(const std::string& path) {
  if (path.empty()) return 0;
  WIN32_FIND_DATAA record{};
  HANDLE search = FindFirstFileA(path.c_str(), &record);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return record.nFileSizeLow;
}

}  // namespace

std::vector<ReferenceEntry> ReferenceFill(uint32_t hiddenTypes) {
  std::vector<ReferenceEntry> snapshot;
  auto add = [&](const std::vector<char>& buffer) {
    auto* record = reinterpret_cast<const INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    if ((record->CacheEntryType & hiddenTypes) != 0) return;
    snapshot.push_back({record->lpszSourceUrlName,
                        record->lpszLocalFileName != nullptr ? record->lpszLocalFileName : ""});
  };
  DWORD size = 0;
  FindFirstUrlCacheEntryA(nullptr, nullptr, &size);
  std::vector<char> first(size);
  HANDLE enumeration =
      FindFirstUrlCacheEntryA(nullptr, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(first.data()), &size);
  if (enumeration == nullptr) return snapshot;
  add(first);
  for (;;) {
    size = 0;
    FindNextUrlCacheEntryA(enumeration, nullptr, &size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    std::vector<char> buffer(size);
    if (!FindNextUrlCacheEntryA(enumeration, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data()), &size))
      break;
    add(buffer);
  }
  FindCloseUrlCache(enumeration);
  return snapshot;
}

std::vector<ReferenceItem> ReferenceBuild(const std::vector<ReferenceEntry>& snapshot, int level,
                                          std::string_view folder) {
  std::vector<ReferenceItem> items;
  std::vector<std::string> urls;
  std::string site, host;
  std::string name(folder);
  // A host folder lies in the site folder of its name's site.
  std::string folderSite, folderHost;
  SplitUrl("http://" + name + "/", folderSite, folderHost);
  for (const ReferenceEntry& entry : snapshot) {
    SplitUrl(entry.url, site, host);
    if (site.empty() || host.empty()) continue;
    if (level == 0) {
      AddUnique(items, site, 0);
    } else if (level == 1 && SameNoCase(site, name)) {
      AddUnique(items, host, 0);
    } else if (level == 2 && SameNoCase(host, name) && SameNoCase(site, folderSite)) {
      AddEntry(items, urls, entry.url, FileSize(entry.localFile));
    }
  }
  return items;
}

std::string ReferenceFindLocalFile(const std::vector<ReferenceEntry>& snapshot, std::string_view url) {
  for (const ReferenceEntry& entry : snapshot) {
    if (entry.url == url) return entry.localFile;
  }
  return {};
}

}  // namespace trovex
