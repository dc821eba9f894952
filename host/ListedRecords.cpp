#include "host/ListedRecords.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "cache/ChangedName.h"
#include "host/HostError.h"

namespace trovex {

namespace {

constexpr char kCookiesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Special Paths\\Cookies";
constexpr char kDefaultCookiePrefix[] = "Cookie:";

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// The text cookie URLs begin with, as the plug-in reads it from the
// registry: a REG_SZ value, else "Cookie:".
std::string CookiePrefix() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCookiesKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return kDefaultCookiePrefix;
  }
  std::string prefix = kDefaultCookiePrefix;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, "CachePrefix", nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::vector<char> data(size + 1, '\0');
    DWORD room = size;
    if (RegQueryValueExA(key, "CachePrefix", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &room) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
      size_t length = std::min<size_t>(room, size);
      const void* zero = std::memchr(data.data(), 0, length);
      if (zero != nullptr) length = static_cast<size_t>(static_cast<const char*>(zero) - data.data());
      prefix.assign(data.data(), length);
    }
  }
  RegCloseKey(key);
  return prefix;
}

// Entries whose listed name does not hold their URL, by that name.
std::unordered_map<std::string, std::vector<size_t>> ByChangedName(const std::vector<Node>& entries) {
  std::unordered_map<std::string, std::vector<size_t>> byName;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].Url) byName[entries[i].Path.Name()].push_back(i);
  }
  return byName;
}

}  // namespace

std::string HostNameOf(std::string_view url, std::string_view cookiePrefix) {
  std::string_view s = url;
  if (!cookiePrefix.empty() && s.starts_with(cookiePrefix)) {
    size_t at = s.find('@');
    if (at != std::string_view::npos) s.remove_prefix(at + 1);
  }
  size_t scheme = s.find("://");
  if (scheme != std::string_view::npos) s.remove_prefix(scheme + 3);
  return std::string(s.substr(0, s.find('/')));
}

// A changed name stands for the first URL that takes it; one taken twice is
// made again with a count, which only a hash collision calls for.
bool RecordIsOf(const Node& entry, const EntryRecord& record) {
  if (entry.Url) return record.Url == *entry.Url;
  return ChangedName(record.Url) == entry.Path.Name();
}

std::vector<std::vector<EntryRecord>> RecordsOfEntries(const std::vector<Node>& entries) {
  std::vector<std::vector<EntryRecord>> found(entries.size());
  std::unordered_map<std::string, std::vector<size_t>> byUrl;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].Url) byUrl[*entries[i].Url].push_back(i);
  }
  std::unordered_map<std::string, std::vector<size_t>> byName = ByChangedName(entries);
  uint32_t error = ForEachRecord([&](const EntryRecord& record) {
    if (auto at = byUrl.find(record.Url); at != byUrl.end()) {
      for (size_t i : at->second) found[i].push_back(record);
    }
    if (byName.empty()) return;
    if (auto at = byName.find(ChangedName(record.Url)); at != byName.end()) {
      for (size_t i : at->second) found[i].push_back(record);
    }
  });
  if (error != 0) throw HostError(kExitFailed, "the URL cache's enumeration failed: error " + std::to_string(error));
  return found;
}

UnlistedUrls CountUnlistedUrls(const PlaceFilter& filter, const std::vector<Node>& entries) {
  std::unordered_set<std::string> listed;
  std::unordered_set<std::string> changedNames;
  for (const Node& entry : entries) {
    if (entry.Url) {
      listed.insert(*entry.Url);
    } else {
      changedNames.insert(entry.Path.Name());
    }
  }
  std::unordered_set<std::string> unlisted;
  UnlistedUrls result;
  result.Error = ForEachRecord([&](const EntryRecord& record) {
    if (!filter.Keeps(record) || listed.count(record.Url) != 0) return;
    if (!changedNames.empty() && changedNames.count(ChangedName(record.Url)) != 0) return;
    unlisted.insert(record.Url);
  });
  result.Count = unlisted.size();
  return result;
}

std::map<std::string, std::vector<EntryRecord>> RecordsOfListedEntries(Plugin& plugin, const Node& place) {
  std::vector<Node> entries;
  if (place.Kind == NodeKind::Entry) {
    entries.push_back(place);
  } else if (place.Kind == NodeKind::Host) {
    entries = ChildrenOf(plugin, place, false);
  }
  std::vector<std::vector<EntryRecord>> records = RecordsOfEntries(entries);
  std::map<std::string, std::vector<EntryRecord>> byName;
  for (size_t i = 0; i < entries.size(); ++i) byName[entries[i].Path.Name()] = std::move(records[i]);
  return byName;
}

PlaceFilter::PlaceFilter(Plugin& plugin, const Node& place) : place_(place) {
  if (place.Kind != NodeKind::Site && place.Kind != NodeKind::Host) return;
  cookiePrefix_ = CookiePrefix();
  std::vector<std::string> names;
  if (place.Kind == NodeKind::Host) {
    names.push_back(place.Path.Name());
  } else {
    std::optional<std::vector<Node>> hosts = ListChildren(plugin, place, false);
    if (!hosts) throw HostError(kExitFailed, "the plug-in refused to list " + place.Path.HostForm());
    for (const Node& host : *hosts) names.push_back(host.Path.Name());
  }
  for (const std::string& name : names) {
    if (HasChangedForm(name)) {
      changedHosts_.push_back(name);
    } else {
      hosts_.insert(UpperAscii(name));
    }
  }
}

bool PlaceFilter::HostIsListed(const std::string& host) const {
  if (hosts_.count(UpperAscii(host)) != 0) return true;
  if (changedHosts_.empty()) return false;
  std::string changed = ChangedName(host);
  return std::find(changedHosts_.begin(), changedHosts_.end(), changed) != changedHosts_.end();
}

bool PlaceFilter::Keeps(const EntryRecord& record) const {
  switch (place_.Kind) {
    case NodeKind::Site:
    case NodeKind::Host: return HostIsListed(HostNameOf(record.Url, cookiePrefix_));
    case NodeKind::Entry: return RecordIsOf(place_, record);
    case NodeKind::Root: return true;
    default: return false;  // the reread entry stands for no record
  }
}

}  // namespace trovex
