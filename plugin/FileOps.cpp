#include "plugin/FileOps.h"

#include <cstdio>

#include "cache/CacheObj.h"
#include "plugin/Trovex.h"
#include "plugin/TreePath.h"
#include "plugin/fsplugin.h"
#include "support/FProc.h"

namespace {

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  bool closed = std::fclose(file) == 0;
  return written && closed;
}

int32_t WritePlaceholder(const std::string& localPath, bool overwrite) {
  if (!overwrite && PathExists(localPath)) return kFsCopyExists;
  return WriteWholeFile(localPath, "?") ? kFsCopyOk : kFsCopyFailed;
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
  std::optional<CacheEntry> entry = EntryOf(path, RereadEntryText);
  return CopyLocalFile(entry ? std::string(entry->LocalFileName) : std::string(), localPath, overwrite);
}

// The entry is deleted by its own URL, not by the name it is listed under.
bool DeleteEntry(std::string_view remotePath) {
  std::optional<CacheEntry> entry = EntryOf(ParseTreePath(remotePath, RereadEntryText), RereadEntryText);
  if (!entry) return false;
  return DeleteUrlCacheEntryA(std::string(entry->SourceUrl).c_str()) != FALSE;
}
