// What the tests of the Win32 contract need of the system they run on, with
// one implementation per half: posix/ContractSystem.cpp fills our system
// folder's files, win32/ContractSystem.cpp goes through the system's own
// services (wininet, the registry). The checks themselves are written once,
// in Win32Contract_test.cpp, against platform/win32api.h.
#ifndef TROVEX_TESTS_CONTRACT_CONTRACTSYSTEM_H
#define TROVEX_TESTS_CONTRACT_CONTRACTSYSTEM_H

#include <optional>
#include <string>

#include "platform/win32api.h"

// The two implementations of the boundary.
enum class Half { Windows, Linux };

// The half this program is built against.
Half ThisHalf();
const char* HalfName(Half half);

// A fresh system for one test: an empty URL cache, a registry key of its own
// and an empty scratch folder, all removed again at the end.
class ContractSystem {
 public:
  ContractSystem();
  ~ContractSystem();
  ContractSystem(const ContractSystem&) = delete;
  ContractSystem& operator=(const ContractSystem&) = delete;

  // Stores a URL cache entry of the type; with bytes, a local file in the
  // cache holds them; without, the entry has no file.
  void AddCacheEntry(const std::string& url, DWORD type, const std::optional<std::string>& bytes);

  // A key under HKEY_CURRENT_USER that no other test uses; it does not exist
  // yet.
  const std::string& RegistryKey() const { return registryKey_; }

  // The scratch folder, and a file in it, as paths of this system.
  const std::string& Folder() const { return folder_; }
  std::string File(const std::string& name) const;

 private:
  std::string folder_;
  std::string registryKey_;
};

#endif
