#include "support/RegProc.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace trovex {

RegKey::~RegKey() {
  if (key_ != nullptr) RegCloseKey(key_);
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

RegKey RegCreateForWrite(HKEY root, const std::string& subkey) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_WRITE, nullptr, &key, nullptr);
  return status == ERROR_SUCCESS ? RegKey(key) : RegKey();
}

RegKey RegOpenForRead(HKEY root, const std::string& subkey) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE, &key);
  return status == ERROR_SUCCESS ? RegKey(key) : RegKey();
}

void RegWriteDword(HKEY root, const std::string& subkey, const std::string& name, uint32_t value) {
  RegKey key = RegCreateForWrite(root, subkey);
  if (!key) return;
  DWORD data = value;
  RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                 sizeof data);
}

std::string RegReadString(HKEY root, const std::string& subkey, const std::string& name,
                          const std::string& fallback) {
  RegKey key = RegOpenForRead(root, subkey);
  if (!key) return fallback;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return fallback;
  }
  std::vector<char> data(size);
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return fallback;
  }
  // The data may come without its terminating zero; it never extends past
  // the size the second call reported.
  size_t length = std::min<size_t>(size, data.size());
  const void* zero = std::memchr(data.data(), 0, length);
  if (zero != nullptr) length = static_cast<const char*>(zero) - data.data();
  return std::string(data.data(), length);
}

}  // namespace trovex
