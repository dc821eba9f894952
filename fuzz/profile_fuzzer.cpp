// The ini reader (GetPrivateProfileStringA) on any file: input is a byte
// that picks the size of the caller's buffer, the section name, a '\n', the
// key name, a '\n', then the file.
//
// A value never overruns the buffer and ends in a NUL at the count
// returned; a list of names ends in two NULs, even when cut; a key whose value is found is
// also among the section's key names, and its section among the sections.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/Ascii.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSystem.h"
#include "platform/win32api.h"

using namespace trovex;

namespace {

constexpr char kAbsent[] = "\x01 absent \x02";

const FuzzSystemFolder& Folder() {
  static FuzzSystemFolder folder;
  return folder;
}

DWORD BufferSize(uint8_t choice) {
  static const DWORD kSizes[] = {1, 2, 3, 4, 8, 11, 64, 5121};
  return kSizes[choice % 8];
}

// A value read into a buffer of exactly size bytes, so that the sanitizer
// sees any byte written past it.
std::string ReadValue(const char* section, const char* key, DWORD size, const std::string& file) {
  std::vector<char> buffer(size, '\x7f');
  DWORD count = GetPrivateProfileStringA(section, key, kAbsent, buffer.data(), size, file.c_str());
  FUZZ_CHECK(count < size && buffer[count] == '\0');
  return std::string(buffer.data(), count);
}

// A list of names; an exact-size buffer as above.
std::vector<std::string> ReadNames(const char* section, DWORD size, const std::string& file) {
  std::vector<char> buffer(size, '\x7f');
  DWORD count = GetPrivateProfileStringA(section, nullptr, kAbsent, buffer.data(), size, file.c_str());
  std::vector<std::string> names;
  if (size < 2) {
    FUZZ_CHECK(count == 0 && buffer[0] == '\0');
    return names;
  }
  // Each name ends in a NUL and one more closes the list; a list cut to fit
  // still ends in two.
  FUZZ_CHECK(count < size && buffer[count] == '\0');
  bool whole = count == 0 ? buffer[1] == '\0' : buffer[count - 1] == '\0';
  bool cut = count == size - 2 && buffer[count + 1] == '\0';
  FUZZ_CHECK(whole || cut);
  for (size_t at = 0; at < count;) {
    names.emplace_back(buffer.data() + at);
    at += names.back().size() + 1;
  }
  return names;
}

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  for (const std::string& each : names)
    if (EqualNoCase(each, name)) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  DWORD bufferSize = BufferSize(input.Byte());
  std::string section(input.Part('\n'));
  std::string key(input.Part('\n'));
  const FuzzSystemFolder& folder = Folder();
  folder.Put("fuzz.ini", input.Rest());
  std::string file = folder.File("fuzz.ini");

  ReadValue(section.c_str(), key.c_str(), bufferSize, file);
  ReadNames(nullptr, bufferSize, file);
  ReadNames(section.c_str(), bufferSize, file);

  std::string value = ReadValue(section.c_str(), key.c_str(), 1 << 16, file);
  if (value != kAbsent && section.find('\0') == std::string::npos && key.find('\0') == std::string::npos) {
    // Keys before the first header belong to the empty section name, which
    // the list of section names leaves out.
    if (!section.empty()) FUZZ_CHECK(Contains(ReadNames(nullptr, 1 << 16, file), section));
    FUZZ_CHECK(Contains(ReadNames(section.c_str(), 1 << 16, file), key));
  }
  return 0;
}
