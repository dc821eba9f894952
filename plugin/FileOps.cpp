#include "plugin/FileOps.h"

#include <cstdio>

#include "cache/CacheObj.h"
#include "plugin/Listing.h"
#include "plugin/Trovex.h"
#include "plugin/fsplugin.h"
#include "support/FProc.h"

namespace {

// An entry's path holds a site, a host and the URL, each after a backslash.
constexpr int32_t kEntryPathSeparators = 3;

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
  if (IsRereadEntryPath(remotePath)) return WritePlaceholder(localPath, overwrite);
  std::string source = TheCacheList.FindLocalFile(ItemNameFromPath(remotePath));
  return CopyLocalFile(source, localPath, overwrite);
}

bool DeleteEntry(std::string_view remotePath) {
  // A folder or the RereadEntry names no cache entry, whatever its name.
  if (CountChar(remotePath, '\\') < kEntryPathSeparators) return false;
  return DeleteUrlCacheEntryA(ItemNameFromPath(remotePath).c_str()) != FALSE;
}
