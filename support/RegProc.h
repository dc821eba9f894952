// Registry routines: keys opened for one purpose and closed by their owner.
#ifndef TROVEX_SUPPORT_REGPROC_H
#define TROVEX_SUPPORT_REGPROC_H

#include <cstdint>
#include <string>

#include "platform/win32api.h"

namespace trovex {

// An open registry key, closed when the object goes; empty when opening failed.
class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(HKEY key) : key_(key) {}
  ~RegKey();
  RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// root\subkey opened, or created when missing, for writing; empty on failure.
RegKey RegCreateForWrite(HKEY root, const std::string& subkey);

// root\subkey opened for querying values; empty when missing or on failure.
RegKey RegOpenForRead(HKEY root, const std::string& subkey);

// Stores value as the REG_DWORD name under root\subkey, creating the key
// when missing. Failures are silent.
void RegWriteDword(HKEY root, const std::string& subkey, const std::string& name, uint32_t value);

// The text of the REG_SZ value name under root\subkey (an empty name is the
// key's unnamed value); fallback when the key or value is missing, is of
// another type, or cannot be read.
std::string RegReadString(HKEY root, const std::string& subkey, const std::string& name,
                          const std::string& fallback);

}  // namespace trovex

#endif
