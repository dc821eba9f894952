// A synthetic index.dat container for the benchmark: an index laid out as
// Wine writes it, its entries each with a local file in one of four
// subfolders.
#ifndef TROVEX_BENCH_SYNTHETICINDEX_H
#define TROVEX_BENCH_SYNTHETICINDEX_H

#include <cstddef>
#include <string>
#include <vector>

namespace trovex {

struct SyntheticIndex {
  std::string image;                // the bytes of index.dat
  std::vector<std::string> urls;    // in the index's order
  std::vector<std::string> files;   // each entry's local file, relative to the container
};

// An index of `entries` entries (at most 60 000, which fill a largest file
// almost to its end), in as many hash tables as they need.
SyntheticIndex MakeSyntheticIndex(size_t entries);

// Writes the local file `file` of the container `folder` with the time its
// entry noted, so that a deletion removes it.
void WriteLocalFile(const std::string& folder, const std::string& file);

}  // namespace trovex

#endif
