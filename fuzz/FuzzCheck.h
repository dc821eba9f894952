// The fuzz targets' oracle: a property that fails stops the run with its
// text on stderr, which the fuzzer records as a finding.
#ifndef TROVEX_FUZZ_FUZZCHECK_H
#define TROVEX_FUZZ_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                   \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);     \
      std::abort();                                                                             \
    }                                                                                           \
  } while (false)

#endif
