// The straightforward algorithms that the plug-in's own are measured against,
// run in the benchmark itself: a snapshot of string pairs read one record
// buffer at a time, a site and host split that works on copies, a scan of the
// whole snapshot for every folder with a linear merge of the names, and a
// linear look-up for every copy.
#ifndef TROVEX_BENCH_REFERENCE_H
#define TROVEX_BENCH_REFERENCE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trovex {

struct ReferenceEntry {
  std::string url;
  std::string localFile;
};

struct ReferenceItem {
  std::string name;
  uint32_t size = 0;
};

// The whole URL cache, but for the entries of a type in hiddenTypes.
std::vector<ReferenceEntry> ReferenceFill(uint32_t hiddenTypes);

// The items of one folder at level 0, 1 or 2, under the default grouping
// settings: site and host folders gather every spelling of their name.
std::vector<ReferenceItem> ReferenceBuild(const std::vector<ReferenceEntry>& snapshot, int level,
                                          std::string_view folder);

// The local file of the first entry whose URL is url; empty when none is.
std::string ReferenceFindLocalFile(const std::vector<ReferenceEntry>& snapshot, std::string_view url);

}  // namespace trovex

#endif
