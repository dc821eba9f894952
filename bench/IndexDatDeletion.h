// Deleting entries from an index.dat container in one delete operation, at
// two sizes of index: the cost should be that of the entries deleted, not of
// the index they are deleted from.
#ifndef TROVEX_BENCH_INDEXDATDELETION_H
#define TROVEX_BENCH_INDEXDATDELETION_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trovex {

// Registers DeleteIndexDat/trovex/N for each size N of index: `deletions`
// entries, spread over the index, deleted through the system layer's
// DeleteUrlCacheEntryA between BeginCacheChanges and EndCacheChanges.
void RegisterIndexDatDeletions(const std::vector<size_t>& sizes, size_t deletions);

// Prints each size's figure against the smallest's, with the goal of at most
// twice; `seconds` gives a benchmark's figure by its name.
void PrintIndexDatDeletions(const std::vector<size_t>& sizes, size_t deletions,
                            const std::function<std::optional<double>(const std::string&)>& seconds);

}  // namespace trovex

#endif
