#include "plugin/FileOps.h"

#include "cache/CacheObj.h"
#include "plugin/TrovexState.h"
#include "plugin/TreePath.h"
#include "plugin/fsplugin.h"

namespace trovex {

namespace {

// A file opened for writing, closed by the destructor unless Close came first.
class WrittenFile {
 public:
  explicit WrittenFile(HANDLE handle) : handle_(handle) {}
  ~WrittenFile() {
    if (Valid()) CloseHandle(handle_);
  }
  WrittenFile(const WrittenFile&) = delete;
  WrittenFile& operator=(const WrittenFile&) = delete;

  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Write(std::string_view bytes) {
    DWORD written = 0;
    return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }
  bool Close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != FALSE;
  }

 private:
  HANDLE handle_;
};

// The target is a name the host chose, so '*' and '?' in it are no patterns;
// a link there is not written through, and a pipe there is not waited on.
int32_t WritePlaceholder(const std::string& localPath, bool overwrite) {
  if (!overwrite && GetFileAttributesA(localPath.c_str()) != INVALID_FILE_ATTRIBUTES) return kFsCopyExists;
  WrittenFile file(CreateFileA(localPath.c_str(), GENERIC_WRITE, 0, nullptr, overwrite ? CREATE_ALWAYS : CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) return GetLastError() == ERROR_FILE_EXISTS ? kFsCopyExists : kFsCopyFailed;
  bool written = file.Write("?");
  return file.Close() && written ? kFsCopyOk : kFsCopyFailed;
}

std::string LocalFileOf(const TreePath& path) {
  if (path.Kind != PathKind::Entry) return std::string();
  return TheFolderView.FindLocalFile(path.Site, path.Host, path.Entry, RereadEntryText);
}

int32_t CopyLocalFile(const std::string& source, const std::string& localPath, bool overwrite) {
  if (source.empty()) return kFsCopyFailed;
  if (CopyFileA(source.c_str(), localPath.c_str(), overwrite ? FALSE : TRUE)) return kFsCopyOk;
  return GetLastError() == ERROR_FILE_EXISTS ? kFsCopyExists : kFsCopyFailed;
}

}  // namespace

int32_t CopyEntryOut(std::string_view remotePath, const std::string& localPath, int32_t copyFlags) {
  bool overwrite = (copyFlags & kFsCopyOverwrite) != 0;
  TreePath path = ParseTreePath(remotePath, RereadEntryText);
  if (path.Kind == PathKind::RereadEntry) return WritePlaceholder(localPath, overwrite);
  return CopyLocalFile(LocalFileOf(path), localPath, overwrite);
}

// The entry is deleted by its own URL, not by the name it is listed under.
bool DeleteEntry(std::string_view remotePath) {
  std::optional<CacheEntry> entry = EntryOf(ParseTreePath(remotePath, RereadEntryText), RereadEntryText);
  if (!entry) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  return DeleteUrlCacheEntryA(std::string(entry->SourceUrl).c_str()) != FALSE;
}

}  // namespace trovex
