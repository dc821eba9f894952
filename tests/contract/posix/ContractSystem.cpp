// The Linux half: each test gets a system folder of its own, and the URL
// cache is its store file, written directly.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>

#include "tests/contract/ContractSystem.h"

namespace {

void Append(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

}  // namespace

Half ThisHalf() {
  return Half::Linux;
}

ContractSystem::ContractSystem() : registryKey_("Software\\TrovexContract") {
  std::string pattern = (std::filesystem::temp_directory_path() / "trovex-contract-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) abort();
  std::filesystem::path root(pattern);
  std::filesystem::create_directory(root / "system");
  std::filesystem::create_directory(root / "scratch");
  setenv("TROVEX_SYSTEM", (root / "system").c_str(), 1);
  folder_ = (root / "scratch").string();
}

ContractSystem::~ContractSystem() {
  unsetenv("TROVEX_SYSTEM");
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(folder_).parent_path(), ignored);
}

std::string ContractSystem::File(const std::string& name) const {
  return folder_ + "/" + name;
}

// A store line: the type in hexadecimal, the URL and the local file relative
// to the system folder, separated by tabs.
void ContractSystem::AddCacheEntry(const std::string& url, DWORD type, const std::optional<std::string>& bytes) {
  std::string system = getenv("TROVEX_SYSTEM");
  std::string local;
  if (bytes) {
    local = "cache/entry" + std::to_string(std::hash<std::string>{}(url)) + ".bin";
    std::filesystem::create_directories(system + "/cache");
    std::ofstream(system + "/" + local, std::ios::binary | std::ios::trunc) << *bytes;
  }
  char hex[16];
  snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(type));
  Append(system + "/urlcache.txt", std::string(hex) + "\t" + url + "\t" + local + "\n");
}
