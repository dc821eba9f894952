#include "plugin/Listing.h"

#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "cache/CacheObj.h"
#include "platform/system.h"
#include "plugin/Trovex.h"
#include "plugin/fsplugin.h"

namespace {

// One open listing.
struct SearchSlot {
  std::unique_ptr<FolderList> Folder;
  std::string Path;        // the listed path, one trailing backslash removed
  int32_t Level = 0;       // 0 the root, 1 a site folder, 2 a host folder
  int32_t NextIndex = 0;   // position in Folder of the next item, from 1
};

// Open listings stand at positions 1 .. SearchCount (indexes 0 .. SearchCount - 1).
TROVEX_MODULE_STATE std::array<SearchSlot, kFsMaxOpenListings> Slots;
int32_t SearchCount = 0;

SearchSlot& SlotAt(int32_t position) {
  return Slots[static_cast<size_t>(position - 1)];
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
  record.nFileSizeHigh = 0;
  record.nFileSizeLow = item.Size;
  ++slot.NextIndex;
}

struct FolderChoice {
  int32_t Level;
  std::string Name;
};

// The level by the path's backslashes: none left the root, one a site
// folder, anything else a host folder.
FolderChoice ChooseFolder(std::string_view path) {
  if (path.empty()) return {0, {}};
  if (CountChar(path, '\\') == 1) return {1, std::string(path.substr(1))};
  return {2, ItemNameFromPath(path)};
}

int32_t RefuseListing() {
  SetLastError(ERROR_INVALID_FUNCTION);
  return -1;
}

}  // namespace

std::string ItemNameFromPath(std::string_view path) {
  for (int part = 0; part < 3; ++part) {
    size_t separator = path.find('\\');
    if (separator == std::string_view::npos) break;
    path.remove_prefix(separator + 1);
  }
  return std::string(path);
}

int32_t OpenListing(std::string_view path, WIN32_FIND_DATAA& record) {
  if (SearchCount >= kFsMaxOpenListings) return RefuseListing();
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  FolderChoice folder = ChooseFolder(path);
  ClearRecord(record);
  auto list = std::make_unique<FolderList>();
  list->Build(folder.Level, folder.Name);
  if (folder.Level > 0 && list->Count() == 0) return RefuseListing();

  SearchSlot& slot = Slots[static_cast<size_t>(SearchCount)];
  slot.Path = std::string(path);
  slot.Folder = std::move(list);
  slot.Level = folder.Level;
  slot.NextIndex = 1;
  ++SearchCount;
  if (folder.Level == 0) {
    WriteName(record, RereadEntryText);
  } else {
    WriteItem(slot, record);
  }
  return SearchCount;
}

bool NextListingItem(WIN32_FIND_DATAA& record) {
  if (SearchCount == 0) return false;
  SearchSlot& top = SlotAt(SearchCount);
  if (top.NextIndex > top.Folder->Count()) return false;
  ClearRecord(record);
  WriteItem(top, record);
  return true;
}

void CloseListing(int64_t position) {
  if (position < 1 || position > SearchCount) return;
  for (int32_t p = static_cast<int32_t>(position); p < SearchCount; ++p) {
    SlotAt(p) = std::move(SlotAt(p + 1));
  }
  SlotAt(SearchCount) = SearchSlot{};
  --SearchCount;
}

int32_t OpenListingCount() {
  return SearchCount;
}

void CloseAllListings() {
  for (SearchSlot& slot : Slots) slot = SearchSlot{};
  SearchCount = 0;
}
