// The local files of cache entries. Internal to platform/posix.
#ifndef TROVEX_PLATFORM_POSIX_CACHEFILES_H
#define TROVEX_PLATFORM_POSIX_CACHEFILES_H

#include <string>

#include "platform/posix/shared/fileio.h"

namespace trovex {

// Removes `file`, an entry's local file as its store names it (absolute),
// when it is a regular file inside the cache folder: the folder that the
// registry's Shell Folders "Cache" value names, or the system folder when
// there is no such value. A file that lies directly in the system folder (a
// store, or a program the registry names) is never removed, nor one reached
// through a symbolic link or "..". Anything refused is left alone silently.
void DeleteCacheFile(const std::string& file);

enum class StoreFileOpen {
  kOutside,  // `file` lies below no store folder
  kOpened,
  kRefused,  // errno says why: EACCES for a link, "..", or no regular file
};

// Opens `file` for reading, without waiting on a pipe, when it lies below a
// folder whose files a store names: the cache folder (as above) or a
// container folder of the environment. Below such a folder only a regular
// file reached through no symbolic link is opened, since the names there were
// chosen by strangers; the folder itself may be reached through links.
StoreFileOpen OpenStoreFile(const std::string& file, UniqueFd& fd);

}  // namespace trovex

#endif
