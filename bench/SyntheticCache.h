// A synthetic URL cache for the benchmark: urlcache.txt in a system folder of
// its own, shaped like a long-used browser cache.
#ifndef TROVEX_BENCH_SYNTHETICCACHE_H
#define TROVEX_BENCH_SYNTHETICCACHE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trovex {

// What the benchmark needs to know about a generated cache.
struct SyntheticCache {
  size_t entries = 0;
  uint64_t nameBytes = 0;   // bytes of every URL and local file name in the cache
  uint64_t storeBytes = 0;  // size of urlcache.txt
  size_t sites = 0;
  std::string largestSite;  // the site folder with the most entries
  std::string copySite;     // the site of the two hosts below
  std::string copyHost;     // kSpecialHostEntries entries, each with a local file
  std::string bareHost;     // kSpecialHostEntries entries without a local file
  std::vector<std::string> copyUrls;   // the URLs of copyHost, in cache order
  std::vector<std::string> copyFiles;  // their local files, in the same order
  std::vector<std::string> bareUrls;   // the URLs of bareHost, in cache order
};

constexpr size_t kSpecialHostEntries = 1000;

// Ordinary names, or names an attacker crafted so that the old index hash
// puts them in the same slots (bench/CraftedNames.h): every site, host and
// visible URL but those of the two special hosts, none spelled with capitals.
enum class Names { Ordinary, Crafted };

// Writes a cache of `entries` entries into systemFolder/urlcache.txt, and the
// local files of copyHost into copyFolder. About one site per
// 20 entries, a Zipf share of entries per site, one to five hosts per site,
// URLs of 40 to 200 bytes, a few per cent cookie and history entries, and a
// few per cent host names spelled with capitals. The same size and names
// always give the same cache.
SyntheticCache WriteSyntheticCache(const std::string& systemFolder, const std::string& copyFolder,
                                   size_t entries, Names names = Names::Ordinary);

}  // namespace trovex

#endif
