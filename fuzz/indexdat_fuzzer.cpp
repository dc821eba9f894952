// A WinINet index.dat as a damaged disk or a hostile cache may hold it.
// Input: a byte that picks the entry to delete, a byte that picks what lies
// at its local file, then the index file.
//
// Every listed record fits the size it announced, its strings inside it and
// its local file inside the container folder. Deleting a listed entry either
// is refused, leaving the index as it was, or leaves an index that Wine
// keeps (its size, capacity and bitmap agree) and that lists the same
// entries less that one. Nothing outside the container is ever removed.
// Reading costs a bounded number of steps a byte, and the URLs listed take
// no more room than the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSystem.h"
#include "platform/posix/stores/indexdat.h"
#include "formats/indexdat/IndexDatFormat.h"

using namespace trovex;

namespace {

struct Entry {
  std::string url;
  std::optional<std::string> path;
  DWORD type = 0, sizeLow = 0, sizeHigh = 0, hits = 0, headerSize = 0;
  uint64_t synced = 0;

  bool operator==(const Entry& other) const {
    return url == other.url && path == other.path && type == other.type && sizeLow == other.sizeLow &&
           sizeHigh == other.sizeHigh && hits == other.hits && headerSize == other.headerSize &&
           synced == other.synced;
  }
};

// A local file is the container folder, at most one subfolder, and a name;
// no part of it may lead elsewhere.
void CheckInside(const std::string& container, const std::string& path) {
  FUZZ_CHECK(path.starts_with(container + "/"));
  std::string_view rest = std::string_view(path).substr(container.size() + 1);
  int parts = 0;
  for (size_t start = 0; start <= rest.size(); ++parts) {
    size_t slash = rest.find('/', start);
    std::string_view part = rest.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    FUZZ_CHECK(!part.empty() && part != "." && part != "..");
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  FUZZ_CHECK(parts <= 1);
}

std::vector<Entry> List(const std::string& container) {
  std::vector<Entry> entries;
  std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(container);
  if (!snapshot) return entries;
  for (size_t i = 0; i < snapshot->Count(); ++i) {
    std::vector<char> buffer(snapshot->RecordSize(i));
    FUZZ_CHECK(buffer.size() >= sizeof(INTERNET_CACHE_ENTRY_INFOA));
    auto* record = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    snapshot->WriteRecord(i, record);
    Entry entry;
    entry.url = StringIn(buffer, record->lpszSourceUrlName);
    FUZZ_CHECK(!entry.url.empty() && entry.url == snapshot->Url(i));
    if (record->lpszLocalFileName != nullptr) {
      entry.path = StringIn(buffer, record->lpszLocalFileName);
      CheckInside(container, *entry.path);
    }
    if (record->lpHeaderInfo != nullptr) {
      FUZZ_CHECK(record->lpHeaderInfo >= buffer.data() &&
                 record->lpHeaderInfo + record->dwHeaderInfoSize <= buffer.data() + buffer.size());
    }
    if (record->lpszFileExtension != nullptr) StringIn(buffer, record->lpszFileExtension);
    entry.type = record->CacheEntryType;
    entry.sizeLow = record->dwSizeLow;
    entry.sizeHigh = record->dwSizeHigh;
    entry.hits = record->dwHitRate;
    entry.headerSize = record->dwHeaderInfoSize;
    entry.synced = uint64_t{record->LastSyncTime.dwHighDateTime} << 32 | record->LastSyncTime.dwLowDateTime;
    entries.push_back(entry);
  }
  return entries;
}

uint32_t U32(const std::string& image, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, image.data() + at, 4);
  return value;
}

// Wine keeps a container only when these hold; otherwise it wipes it.
bool KeptByWine(const std::string& image) {
  if (image.size() < 0x4000 || U32(image, 0x1C) != image.size()) return false;
  uint64_t capacity = U32(image, 0x24);
  if (0x4000 + 128 * capacity != image.size()) return false;
  uint32_t bits = 0;
  for (size_t byte = 0x250; byte < 0x4000; ++byte) {
    auto value = static_cast<unsigned char>(image[byte]);
    bits += static_cast<uint32_t>(std::popcount(value));
    for (int bit = 0; bit < 8; ++bit)
      if ((value >> bit & 1) && (byte - 0x250) * 8 + bit >= capacity) return false;
  }
  return bits == U32(image, 0x28);
}

// What lies at the victim's local file: nothing, the file as cached, the
// file read-only, or a link that leads out of the container to a file as
// cached. Returns the file outside that must survive, if any.
std::optional<std::string> PlaceLocalFile(const FuzzSystemFolder& folder, const std::string& container,
                                          const Entry& entry, uint8_t choice) {
  if (!entry.path || choice % 4 == 0) return std::nullopt;
  std::filesystem::path path(*entry.path);
  // Sync time and file time are the same moment in the files Wine writes.
  time_t modified = static_cast<time_t>(entry.synced / 10'000'000) - 11'644'473'600;
  struct timespec times[2] = {{modified, 0}, {modified, 0}};
  std::string target = path.string();
  std::error_code ignored;
  if (choice % 4 == 3) {
    target = folder.Path() + "-outside/" + path.filename().string();
    if (path.parent_path() == container) {
      std::filesystem::create_symlink(target, path, ignored);
    } else {
      std::filesystem::create_directory_symlink(folder.Path() + "-outside", path.parent_path(), ignored);
    }
  }
  std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ignored);
  FILE* file = std::fopen(target.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  std::fclose(file);
  utimensat(AT_FDCWD, target.c_str(), times, 0);
  if (choice % 4 == 2) chmod(target.c_str(), 0444);
  if (choice % 4 == 3) return target;
  return std::nullopt;
}

// The reader looks at each record start once, at most two blocks of each of
// three strings and 16 bits of the bitmap for each, every other block of the
// file and bit of the bitmap once.
void CheckCost(const std::string& image) {
  std::optional<indexdat::Header> header = indexdat::ReadHeader(image, nullptr);
  if (!header) return;
  uint64_t steps = 0, urlBytes = 0;
  indexdat::ForEachRecord(
      image, *header, [&](const indexdat::UrlRecord& record) { urlBytes += record.url.length; }, nullptr, &steps);
  FUZZ_CHECK(urlBytes <= image.size());
  FUZZ_CHECK(steps <= 8 * image.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t victim = input.Byte();
  uint8_t localFile = input.Byte();
  std::string image(input.Rest());
  CheckCost(image);
  const FuzzSystemFolder& folder = FolderWithWaysOut();
  std::error_code ignored;
  std::filesystem::remove_all(folder.File("c"), ignored);
  folder.Put("c/index.dat", image);
  std::string container = folder.File("c");
  std::optional<DeletionGuard> guard;
  guard.emplace(folder);

  std::vector<Entry> before = List(container);
  if (before.empty()) {
    FUZZ_CHECK(!DeleteFromIndexDat(container, "http://example.com/"));
    FUZZ_CHECK(folder.Read("c/index.dat") == image);
    return 0;
  }
  // The deletion takes the first entry with the URL.
  size_t pick = victim % before.size(), doomed = 0;
  while (before[doomed].url != before[pick].url) ++doomed;
  std::optional<std::string> outside = PlaceLocalFile(folder, container, before[doomed], localFile);

  if (DeleteFromIndexDat(container, before[doomed].url.c_str())) {
    FUZZ_CHECK(KeptByWine(folder.Read("c/index.dat")));
    before.erase(before.begin() + static_cast<std::ptrdiff_t>(doomed));
    FUZZ_CHECK(List(container) == before);
  } else {
    DWORD error = GetLastError();
    FUZZ_CHECK(error == ERROR_SHARING_VIOLATION || error == ERROR_INVALID_DATA);
    FUZZ_CHECK(folder.Read("c/index.dat") == image);
  }
  FUZZ_CHECK(folder.Exists("out-file") && folder.Exists("out/keep"));
  guard.reset();  // what follows is the fuzzer's own clean-up, outside on purpose
  if (outside) {
    struct stat info {};
    FUZZ_CHECK(lstat(outside->c_str(), &info) == 0);
    if (*outside != folder.Path() + "-outside/keep") unlinkat(AT_FDCWD, outside->c_str(), 0);
  }
  return 0;
}
