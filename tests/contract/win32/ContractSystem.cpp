// The Windows half: the URL cache is the system's own, filled through
// wininet. Each test starts by emptying it, so the program refuses to run
// unless told that the user is a throwaway one; each takes a registry key and
// a scratch folder of its own.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/contract/ContractSystem.h"

namespace {

// Every URL in the cache, read with a buffer that grows as it is asked to.
std::vector<std::string> CachedUrls() {
  std::vector<std::string> urls;
  std::vector<char> buffer(4096);
  auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  DWORD size = static_cast<DWORD>(buffer.size());
  HANDLE handle = FindFirstUrlCacheEntryA(nullptr, record, &size);
  if (handle == nullptr) return urls;
  for (;;) {
    urls.emplace_back(record->lpszSourceUrlName);
    size = static_cast<DWORD>(buffer.size());
    if (FindNextUrlCacheEntryA(handle, record, &size)) continue;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    buffer.resize(size);
    record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    if (!FindNextUrlCacheEntryA(handle, record, &size)) break;
  }
  FindCloseUrlCache(handle);
  return urls;
}

void EmptyCache() {
  for (const std::string& url : CachedUrls()) DeleteUrlCacheEntryA(url.c_str());
}

void Die(const std::string& what) {
  std::fprintf(stderr, "contract system: %s (error %lu)\n", what.c_str(), GetLastError());
  std::abort();
}

}  // namespace

Half ThisHalf() {
  return Half::Windows;
}

ContractSystem::ContractSystem() {
  // Each test empties the URL cache of the user it runs as.
  const char* throwaway = std::getenv("TROVEX_CONTRACT_THROWAWAY_USER");
  if (throwaway == nullptr || std::string(throwaway) != "1")
    Die("these tests empty the user's URL cache: run them only in a throwaway Wine prefix or account, with "
        "TROVEX_CONTRACT_THROWAWAY_USER=1");
  static int made = 0;
  std::string unique = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
  registryKey_ = "Software\\TrovexContract\\" + unique;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / ("trovex-contract-" + unique);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  folder_ = folder.string();
  EmptyCache();
}

ContractSystem::~ContractSystem() {
  EmptyCache();
  RegDeleteTreeA(HKEY_CURRENT_USER, registryKey_.c_str());
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string ContractSystem::File(const std::string& name) const {
  return folder_ + "\\" + name;
}

// Creates the entry's local file in the cache, writes the bytes into it and
// commits it, as a browser does.
void ContractSystem::AddCacheEntry(const std::string& url, DWORD type, const std::optional<std::string>& bytes) {
  FILETIME never{};
  if (!bytes) {
    if (!CommitUrlCacheEntryA(url.c_str(), nullptr, never, never, type, nullptr, 0, nullptr, nullptr))
      Die("cannot commit " + url);
    return;
  }
  char local[MAX_PATH] = {};
  if (!CreateUrlCacheEntryA(url.c_str(), static_cast<DWORD>(bytes->size()), "", local, 0))
    Die("cannot create " + url);
  std::ofstream(local, std::ios::binary | std::ios::trunc) << *bytes;
  if (!CommitUrlCacheEntryA(url.c_str(), local, never, never, type, nullptr, 0, nullptr, nullptr))
    Die("cannot commit " + url);
}
