#include "plugin/Listing.h"

#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "cache/CacheObj.h"
#include "platform/system.h"
#include "plugin/Trovex.h"
#include "plugin/TreePath.h"
#include "plugin/fsplugin.h"

namespace {

// One open listing; a slot without a Folder is free.
struct SearchSlot {
  std::unique_ptr<FolderList> Folder;
  std::string Path;        // the listed path
  int32_t Level = 0;       // 0 the root, 1 a site folder, 2 a host folder
  int32_t NextIndex = 0;   // position in Folder of the next item, from 1
};

// The listing of handle h stands at index h - 1.
TROVEX_MODULE_STATE std::array<SearchSlot, kFsMaxOpenListings> Slots;

SearchSlot* OpenSlot(int64_t handle) {
  if (handle < 1 || handle > kFsMaxOpenListings) return nullptr;
  SearchSlot& slot = Slots[static_cast<size_t>(handle - 1)];
  return slot.Folder ? &slot : nullptr;
}

SearchSlot* LowestFreeSlot() {
  for (SearchSlot& slot : Slots) {
    if (!slot.Folder) return &slot;
  }
  return nullptr;
}

void ClearRecord(WIN32_FIND_DATAA& record) {
  std::memset(&record, 0, sizeof record);
}

void WriteName(WIN32_FIND_DATAA& record, const std::string& name) {
  lstrcpynA(record.cFileName, name.c_str(), MAX_PATH);
}

void WriteItem(SearchSlot& slot, WIN32_FIND_DATAA& record) {
  const FolderItem& item = slot.Folder->Item(slot.NextIndex);
  WriteName(record, item.Name);
  record.dwFileAttributes = slot.Level < 2 ? FILE_ATTRIBUTE_DIRECTORY : 0;
  record.nFileSizeHigh = static_cast<DWORD>(item.Size >> 32);
  record.nFileSizeLow = static_cast<DWORD>(item.Size & 0xFFFFFFFFu);
  ++slot.NextIndex;
}

int32_t RefuseListing() {
  SetLastError(ERROR_INVALID_FUNCTION);
  return -1;
}

}  // namespace

int32_t OpenListing(std::string_view path, WIN32_FIND_DATAA& record) {
  SearchSlot* slot = LowestFreeSlot();
  if (slot == nullptr) return RefuseListing();
  ClearRecord(record);
  std::optional<FolderPath> folder = FolderOf(ParseTreePath(path, RereadEntryText));
  if (!folder) return RefuseListing();
  auto list = std::make_unique<FolderList>();
  TheFolderView.Build(*list, *folder, RereadEntryText);
  if (folder->Level > 0 && list->Count() == 0) return RefuseListing();

  slot->Path = std::string(path);
  slot->Folder = std::move(list);
  slot->Level = folder->Level;
  slot->NextIndex = 1;
  if (folder->Level == 0) {
    WriteName(record, RereadEntryText);
  } else {
    WriteItem(*slot, record);
  }
  return static_cast<int32_t>(slot - Slots.data()) + 1;
}

bool NextListingItem(int64_t handle, WIN32_FIND_DATAA& record) {
  SearchSlot* slot = OpenSlot(handle);
  if (slot == nullptr || slot->NextIndex > slot->Folder->Count()) return false;
  ClearRecord(record);
  WriteItem(*slot, record);
  return true;
}

void CloseListing(int64_t handle) {
  if (SearchSlot* slot = OpenSlot(handle)) *slot = SearchSlot{};
}

void CloseAllListings() {
  for (SearchSlot& slot : Slots) slot = SearchSlot{};
}
