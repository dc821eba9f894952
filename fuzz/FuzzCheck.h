// The fuzz targets' oracle: a property that fails stops the run with its
// text on stderr, which the fuzzer records as a finding.
#ifndef TROVEX_FUZZ_FUZZCHECK_H
#define TROVEX_FUZZ_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                   \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);     \
      std::abort();                                                                             \
    }                                                                                           \
  } while (false)

namespace trovex {

// The string at p, which must lie, with its NUL, inside the buffer: a record
// the code under test wrote points its strings into the buffer it was given.
inline std::string StringIn(const std::vector<char>& buffer, const char* p) {
  FUZZ_CHECK(p >= buffer.data() && p < buffer.data() + buffer.size());
  size_t room = static_cast<size_t>(buffer.data() + buffer.size() - p);
  const void* nul = std::memchr(p, '\0', room);
  FUZZ_CHECK(nul != nullptr);
  return std::string(p, static_cast<const char*>(nul));
}

}  // namespace trovex

#endif
