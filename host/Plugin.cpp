#include "host/Plugin.h"

#include <algorithm>
#include <cstring>

#include "host/HostError.h"
#include "host/HostSystem.h"

namespace trovex {

namespace {

// No folder of the virtual tree comes near this; a listing longer than this
// is a plug-in that never says it is done.
constexpr size_t kMostItemsInAListing = 10'000'000;

// The buffer FsExecuteFile may write a folder path into: at least what a
// file manager gives it.
constexpr size_t kExecuteBufferSize = 4 * MAX_PATH;

// The plug-in never calls back; these keep it safe should one do so.
int32_t WINAPI Progress(int32_t, char*, char*, int32_t) {
  return 0;  // 0: go on
}
void WINAPI Log(int32_t, int32_t, char*) {}
BOOL WINAPI Request(int32_t, int32_t, char*, char*, char*, int32_t) {
  return FALSE;  // the user cancelled
}

ListedItem ItemFromRecord(const WIN32_FIND_DATAA& record) {
  ListedItem item;
  item.Name.assign(record.cFileName, strnlen(record.cFileName, sizeof record.cFileName));
  item.Size = (static_cast<uint64_t>(record.nFileSizeHigh) << 32) | record.nFileSizeLow;
  item.IsFolder = (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  item.Date = uint64_t{record.ftLastWriteTime.dwHighDateTime} << 32 | record.ftLastWriteTime.dwLowDateTime;
  return item;
}

// Closes the listing it was given when the scope ends, however it ends.
class OpenListing {
 public:
  OpenListing(const PluginEntryPoints& fs, HANDLE handle) : fs_(fs), handle_(handle) {}
  ~OpenListing() { fs_.FsFindClose(handle_); }
  OpenListing(const OpenListing&) = delete;
  OpenListing& operator=(const OpenListing&) = delete;

 private:
  const PluginEntryPoints& fs_;
  HANDLE handle_;
};

}  // namespace

Plugin::Plugin(const PluginEntryPoints& entryPoints) : fs_(entryPoints) {}

int32_t Plugin::Init() {
  return fs_.FsInit(0, Progress, Log, Request);
}

std::string Plugin::DefaultRootName() {
  char name[MAX_PATH] = {};
  fs_.FsGetDefRootName(name, sizeof name);
  return std::string(name, strnlen(name, sizeof name));
}

std::optional<std::vector<ListedItem>> Plugin::ReadFolder(const std::string& hostPath) {
  WIN32_FIND_DATAA record{};
  HANDLE handle = fs_.FsFindFirst(hostPath.c_str(), &record);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  OpenListing listing(fs_, handle);
  std::vector<ListedItem> items;
  do {
    if (items.size() >= kMostItemsInAListing) {
      throw HostError(kExitFailed, "the listing of " + hostPath + " does not end");
    }
    items.push_back(ItemFromRecord(record));
    record = WIN32_FIND_DATAA{};
  } while (fs_.FsFindNext(handle, &record) != kFsFalse);
  return items;
}

CopyOutcome Plugin::GetFile(const std::string& hostPath, const std::string& localPath, bool overwrite) {
  std::vector<char> local(localPath.begin(), localPath.end());
  local.push_back('\0');
  int32_t result = fs_.FsGetFile(hostPath.c_str(), local.data(), overwrite ? kFsCopyOverwrite : 0, nullptr);
  switch (result) {
    case kFsCopyOk: return CopyOutcome::Copied;
    case kFsCopyExists: return CopyOutcome::Exists;
    case kFsCopyFailed: return CopyOutcome::Failed;
    default: return CopyOutcome::Unknown;
  }
}

bool Plugin::DeleteFile(const std::string& hostPath, uint32_t* error) {
  bool deleted = fs_.FsDeleteFile(hostPath.c_str()) != kFsFalse;
  if (!deleted && error != nullptr) *error = LastSystemError();
  return deleted;
}

int32_t Plugin::ExecuteFile(std::string& hostPath, const char* verb) {
  std::vector<char> buffer(std::max(kExecuteBufferSize, hostPath.size() + 1), '\0');
  std::memcpy(buffer.data(), hostPath.data(), hostPath.size());
  int32_t result = fs_.FsExecuteFile(nullptr, buffer.data(), verb);
  if (result == kFsExecShowFolder) hostPath.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  return result;
}

void Plugin::StatusInfo(const std::string& hostPath, int32_t startEnd, int32_t operation) {
  fs_.FsStatusInfo(hostPath.c_str(), startEnd, operation);
}

std::string CopyOutcomeText(CopyOutcome outcome) {
  switch (outcome) {
    case CopyOutcome::Copied: return "copied";
    case CopyOutcome::Exists: return "the file exists";
    case CopyOutcome::Failed: return "the plug-in could not copy it";
    case CopyOutcome::NoFile: return "the plug-in reported it copied, but wrote no file";
    case CopyOutcome::Unknown: break;
  }
  return "the plug-in gave an unknown copy result";
}

std::string ExecuteResultText(int32_t result) {
  switch (result) {
    case kFsExecDone: return "done";
    case kFsExecError: return "the plug-in refused or failed";
    case kFsExecShowFolder: return "the plug-in asks to show a folder";
    default: return "the plug-in gave the unknown result " + std::to_string(result);
  }
}

}  // namespace trovex
