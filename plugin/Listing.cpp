#include "plugin/Listing.h"

#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "cache/CacheObj.h"
#include "platform/system.h"
#include "plugin/TrovexState.h"
#include "plugin/TreePath.h"
#include "plugin/fsplugin.h"

namespace trovex {

namespace {

// One open listing; a listing without a Folder is closed.
struct OpenedListing {
  std::unique_ptr<FolderList> Folder;
  std::string Path;        // the listed path
  int32_t Level = 0;       // 0 the root, 1 a site folder, 2 a host folder
  int32_t NextIndex = 0;   // position in Folder of the next item, from 1
};

// The listing of handle h stands at index h - 1.
using ListingTable = std::array<OpenedListing, kFsMaxOpenListings>;
TROVEX_MODULE_STATE ListingTable Listings;

OpenedListing* ListingOf(ListingHandle handle) {
  if (handle < 1 || handle > kFsMaxOpenListings) return nullptr;
  OpenedListing& listing = Listings[static_cast<size_t>(handle - 1)];
  return listing.Folder ? &listing : nullptr;
}

OpenedListing* LowestClosedListing() {
  for (OpenedListing& listing : Listings) {
    if (!listing.Folder) return &listing;
  }
  return nullptr;
}

void ClearRecord(WIN32_FIND_DATAA& record) {
  std::memset(&record, 0, sizeof record);
}

void WriteName(WIN32_FIND_DATAA& record, const std::string& name) {
  lstrcpynA(record.cFileName, name.c_str(), MAX_PATH);
}

void WriteTime(FILETIME& time, uint64_t ticks) {
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

// A file panel shows and sorts by the write time: an entry's last access
// goes there, so that what was used last comes first.
void WriteTimes(WIN32_FIND_DATAA& record, const EntryTimes& times) {
  WriteTime(record.ftLastWriteTime, times.Accessed);
  WriteTime(record.ftCreationTime, times.Modified);
  WriteTime(record.ftLastAccessTime, times.Synced);
}

void WriteItem(OpenedListing& listing, WIN32_FIND_DATAA& record) {
  const FolderItem& item = listing.Folder->Item(listing.NextIndex);
  WriteName(record, item.Name);
  record.dwFileAttributes = listing.Level < 2 ? FILE_ATTRIBUTE_DIRECTORY : 0;
  record.nFileSizeHigh = static_cast<DWORD>(item.Size >> 32);
  record.nFileSizeLow = static_cast<DWORD>(item.Size & 0xFFFFFFFFu);
  WriteTimes(record, item.Times);
  ++listing.NextIndex;
}

ListingHandle RefuseListing() {
  SetLastError(ERROR_INVALID_FUNCTION);
  return -1;
}

}  // namespace

ListingHandle OpenListing(std::string_view path, WIN32_FIND_DATAA& record) {
  OpenedListing* listing = LowestClosedListing();
  if (listing == nullptr) return RefuseListing();
  ClearRecord(record);
  std::optional<FolderPath> folder = FolderOf(ParseTreePath(path, RereadEntryText));
  if (!folder) return RefuseListing();
  auto list = std::make_unique<FolderList>();
  TheFolderView.Build(*list, *folder, RereadEntryText, ShowTimes != 0);
  if (folder->Level > 0 && list->Count() == 0) return RefuseListing();

  listing->Path = std::string(path);
  listing->Folder = std::move(list);
  listing->Level = folder->Level;
  listing->NextIndex = 1;
  if (folder->Level == 0) {
    WriteName(record, RereadEntryText);
  } else {
    WriteItem(*listing, record);
  }
  return (listing - Listings.data()) + 1;
}

bool NextListingItem(ListingHandle handle, WIN32_FIND_DATAA& record) {
  OpenedListing* listing = ListingOf(handle);
  if (listing == nullptr || listing->NextIndex > listing->Folder->Count()) return false;
  ClearRecord(record);
  WriteItem(*listing, record);
  return true;
}

void CloseListing(ListingHandle handle) {
  if (OpenedListing* listing = ListingOf(handle)) *listing = OpenedListing{};
}

void CloseAllListings() {
  for (OpenedListing& listing : Listings) listing = OpenedListing{};
}

}  // namespace trovex
