// A fuzzer's input read as the parts a target needs: bytes, numbers and
// texts. Past the end every read gives zeros and empty texts, so that any
// input is a valid one.
#ifndef TROVEX_FUZZ_FUZZINPUT_H
#define TROVEX_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace trovex {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  bool Empty() const { return rest_.empty(); }

  // The next byte; 0 at the end.
  uint8_t Byte() {
    if (rest_.empty()) return 0;
    uint8_t byte = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return byte;
  }

  // The next four bytes, least significant first.
  uint32_t Word() {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(Byte()) << (8 * i);
    return word;
  }

  // The bytes up to the next `end` (which is consumed), or all that is left.
  std::string_view Part(char end = '\0') {
    size_t at = rest_.find(end);
    std::string_view part = rest_.substr(0, at);
    rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + 1);
    return part;
  }

  // Everything that is left.
  std::string_view Rest() {
    std::string_view rest = rest_;
    rest_ = {};
    return rest;
  }

 private:
  std::string_view rest_;
};

}  // namespace trovex

#endif
