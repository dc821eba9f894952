// The registry store, registry.reg, as an editor or a damaged disk may leave
// it. Input: a key path under HKEY_CURRENT_USER, a '\n', a value name, a
// '\n', a byte that picks the type of the value to write, the value's data,
// a NUL, then the file.
//
// A value is read in the size protocol with the same type and size each
// time; a value written is read back as written (text that is valid UTF-8,
// where the file stores text as UTF-16); and values of the file that the
// write did not touch read as they did before.
#include <cstring>
#include <optional>
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

struct Value {
  DWORD type = 0;
  std::string data;
  bool operator==(const Value& other) const { return type == other.type && data == other.data; }
};

const FuzzSystemFolder& Folder() {
  static FuzzSystemFolder folder;
  return folder;
}

DWORD TypeOf(uint8_t choice) {
  static const DWORD kTypes[] = {REG_SZ, REG_DWORD, REG_BINARY, REG_EXPAND_SZ, REG_MULTI_SZ, REG_NONE, 0x123};
  return kTypes[choice % 7];
}

// The value in the size protocol: the size, then the data in a buffer of
// exactly that size, then a buffer one byte short.
std::optional<Value> Query(const std::string& key, const std::string& name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
    FUZZ_CHECK(handle == nullptr);
    return std::nullopt;
  }
  std::optional<Value> result;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<BYTE> data(size);
    DWORD again = 0, got = size;
    FUZZ_CHECK(RegQueryValueExA(handle, name.c_str(), nullptr, &again, data.data(), &got) == ERROR_SUCCESS);
    FUZZ_CHECK(again == type && got == size);
    result = Value{type, std::string(data.begin(), data.end())};
    if (size > 0) {
      DWORD shorter = size - 1;
      FUZZ_CHECK(RegQueryValueExA(handle, name.c_str(), nullptr, nullptr, data.data(), &shorter) == ERROR_MORE_DATA);
      FUZZ_CHECK(shorter == size);
    }
  }
  FUZZ_CHECK(RegCloseKey(handle) == ERROR_SUCCESS);
  return result;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
    i += length;
  }
  return true;
}

bool IsText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A text value reads back as written, or, as one line of text, up to its
// first NUL and with one NUL added.
bool ReadsAsWritten(const std::optional<Value>& read, DWORD type, std::string_view data) {
  if (!read) return false;
  if (*read == Value{type, std::string(data)}) return true;
  return type == REG_SZ && *read == Value{type, std::string(data.substr(0, data.find('\0'))) + '\0'};
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsUtf16File(std::string_view file) {
  return file.size() >= 2 && file[0] == '\xFF' && file[1] == '\xFE';
}

bool SameKey(std::string_view a, std::string_view b) {
  auto strip = [](std::string_view path) {
    while (path.starts_with('\\')) path.remove_prefix(1);
    while (path.ends_with('\\')) path.remove_suffix(1);
    return path;
  };
  return EqualNoCase(strip(a), strip(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  std::string key(input.Part('\n'));
  std::string name(input.Part('\n'));
  DWORD type = TypeOf(input.Byte());
  std::string bytes(input.Part('\0'));
  std::string_view file = input.Rest();
  key = key.substr(0, key.find('\0'));
  name = name.substr(0, name.find('\0'));
  const FuzzSystemFolder& folder = Folder();
  folder.Put("registry.reg", file);

  std::optional<Value> before = Query(key, name);
  FUZZ_CHECK(Query(key, name) == before);
  std::optional<Value> neighbour = Query(key, "Neighbour");
  std::optional<Value> elsewhere = Query("Software\\Elsewhere", name);

  HKEY handle = nullptr;
  LSTATUS created = RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_WRITE, nullptr, &handle, nullptr);
  if (created != ERROR_SUCCESS) {
    FUZZ_CHECK(HasLineBreak(key) && handle == nullptr);
    return 0;
  }
  LSTATUS set = RegSetValueExA(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                               static_cast<DWORD>(bytes.size()));
  FUZZ_CHECK(RegCloseKey(handle) == ERROR_SUCCESS);
  if (set != ERROR_SUCCESS) {
    FUZZ_CHECK(HasLineBreak(name));
    return 0;
  }
  // Names and text pass through a file of UTF-16 when they are valid UTF-8,
  // and text stored as hexadecimal UTF-16 likewise.
  bool plainNames = !IsUtf16File(file) || (IsUtf8(key) && IsUtf8(name));
  if (plainNames && (!IsText(type) || IsUtf8(bytes))) FUZZ_CHECK(ReadsAsWritten(Query(key, name), type, bytes));
  if (!EqualNoCase(name, "Neighbour")) FUZZ_CHECK(Query(key, "Neighbour") == neighbour);
  if (!SameKey(key, "Software\\Elsewhere")) FUZZ_CHECK(Query("Software\\Elsewhere", name) == elsewhere);
  return 0;
}
