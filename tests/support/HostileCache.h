// URL caches as a web site can fill them to confuse the virtual tree: URLs
// longer than the host's names that share their first 259 bytes, host names
// holding a backslash, host names in two letter cases, site and host names
// over 259 bytes, and names the host reads as something else ("." and "..",
// the RereadEntry's). One store per way, and one with them all. Each
// entry's local file holds its own URL, so a copy tells which entry it was.
#ifndef TROVEX_TESTS_SUPPORT_HOSTILECACHE_H
#define TROVEX_TESTS_SUPPORT_HOSTILECACHE_H

#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace trovex {

struct HostileStore {
  std::string Name;
  std::vector<std::string> Urls;  // in store order, every one shown
};

inline const std::string kSharedStart = "http://www.example.com/" + std::string(300, 's');
inline const std::string kPlainUrl = "http://www.example.com/plain";

inline std::vector<HostileStore> HostileStores() {
  std::vector<HostileStore> stores = {
      {"shared_start", {kSharedStart + "/1", kSharedStart + "/2", kPlainUrl}},
      {"backslash_host", {"http://evil\\www.example.com/x", "http://www.example.com/real", "http://a\\b\\c.example.com/"}},
      {"two_case_host", {"http://www.example.com/lower", "http://WWW.Example.com/upper", "http://www.EXAMPLE.com/3"}},
      {"long_names",
       {"http://" + std::string(300, 'h') + ".example.com/x", "http://www." + std::string(300, 'w') + ".com/y",
        "http://www." + std::string(300, 'w') + ".com/z"}},
      {"misread_names",
       {"http://(Reread)/", "http://(REREAD CACHE)/", "http://../x", "http://./y", "http://www.example.com/Case",
        "http://www.example.com/CASE"}},
  };
  HostileStore mixed{"mixed", {}};
  for (const HostileStore& store : stores) mixed.Urls.insert(mixed.Urls.end(), store.Urls.begin(), store.Urls.end());
  stores.push_back(mixed);
  return stores;
}

// The store's urlcache.txt: entry i keeps its data in cache/hostile<i>.
inline std::string HostileStoreText(const HostileStore& store) {
  std::string text;
  for (size_t i = 0; i < store.Urls.size(); ++i) {
    text += "0x00000001\t" + store.Urls[i] + "\tcache/hostile" + std::to_string(i) + "\n";
  }
  return text;
}

// Writes the store and its entries' local files into the system folder.
inline void WriteHostileStore(const std::string& systemFolder, const HostileStore& store) {
  WriteFile(systemFolder + "/urlcache.txt", HostileStoreText(store));
  for (size_t i = 0; i < store.Urls.size(); ++i) {
    WriteFile(systemFolder + "/cache/hostile" + std::to_string(i), store.Urls[i]);
  }
}

}  // namespace trovex

#endif
