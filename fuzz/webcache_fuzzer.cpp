// A WebCacheV01.dat as a damaged disk or a hostile copy may hold it, read
// through the URL cache calls with TROVEX_CACHE naming its folder. Input:
// a byte that picks the entry to delete, then the database.
//
// Every record comes in the size protocol, its strings and header inside the
// buffer it was given, its URL not empty and its local file, when it has
// one, below the AppData folder that holds the database's folder. Deleting
// an entry's URL is refused or finds nothing, and the database keeps its
// bytes; nothing outside the system folder is ever removed.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzRecords.h"
#include "fuzz/FuzzSystem.h"
#include "platform/win32api.h"

using namespace trovex;

namespace {

constexpr char kAppData[] = "AppData";
constexpr char kDatabase[] = "AppData/Local/Microsoft/Windows/WebCache/WebCacheV01.dat";

// Below `root`, and no part of the rest may lead elsewhere.
void CheckBelow(const std::string& root, const std::string& path) {
  FUZZ_CHECK(path.starts_with(root + "/"));
  std::string_view rest = std::string_view(path).substr(root.size() + 1);
  for (size_t start = 0; start <= rest.size();) {
    size_t slash = rest.find('/', start);
    std::string_view part = rest.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    FUZZ_CHECK(!part.empty() && part != "." && part != "..");
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
}

// The record's URL, after checking what it points to and its sizes.
std::string CheckRecord(const std::vector<char>& buffer, const std::string& appData) {
  auto* record = reinterpret_cast<const INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
  FUZZ_CHECK(record->dwStructSize == sizeof *record);
  std::string url = StringIn(buffer, record->lpszSourceUrlName);
  FUZZ_CHECK(!url.empty());
  if (record->lpszLocalFileName != nullptr) CheckBelow(appData, StringIn(buffer, record->lpszLocalFileName));
  if (record->lpszFileExtension != nullptr) StringIn(buffer, record->lpszFileExtension);
  if (record->lpHeaderInfo != nullptr) {
    FUZZ_CHECK(record->lpHeaderInfo >= buffer.data() &&
               record->dwHeaderInfoSize <= static_cast<size_t>(buffer.data() + buffer.size() - record->lpHeaderInfo));
  } else {
    FUZZ_CHECK(record->dwHeaderInfoSize == 0);
  }
  return url;
}

std::vector<std::string> Enumerate(const std::string& appData) {
  std::vector<std::string> urls;
  ForEachEnumeratedRecord(nullptr, [&](const std::vector<char>& buffer) { urls.push_back(CheckRecord(buffer, appData)); });
  return urls;
}

// The system folder, with the database's folder named as the one cache.
const FuzzSystemFolder& Folder() {
  static const bool named = [] {
    std::string database = FolderWithWaysOut().File(kDatabase);
    setenv("TROVEX_CACHE", database.substr(0, database.rfind('/')).c_str(), 1);
    unsetenv("TROVEX_WINEPREFIX");
    return true;
  }();
  (void)named;
  return FolderWithWaysOut();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t victim = input.Byte();
  std::string image(input.Rest());
  const FuzzSystemFolder& folder = Folder();
  folder.Put(kDatabase, image);
  DeletionGuard guard(folder);

  std::vector<std::string> urls = Enumerate(folder.File(kAppData));
  std::string url = urls.empty() ? "http://example.com/" : urls[victim % urls.size()];
  FUZZ_CHECK(!DeleteUrlCacheEntryA(url.c_str()));
  DWORD error = GetLastError();
  FUZZ_CHECK(error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND);
  FUZZ_CHECK(folder.Read(kDatabase) == image);
  FUZZ_CHECK(folder.Exists("out-file") && folder.Exists("out/keep"));
  return 0;
}
