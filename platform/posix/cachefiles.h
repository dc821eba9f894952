// The local files of cache entries. Internal to platform/posix.
#ifndef TROVEX_PLATFORM_POSIX_CACHEFILES_H
#define TROVEX_PLATFORM_POSIX_CACHEFILES_H

#include <string>

// Removes `file`, an entry's local file as its store names it (absolute),
// when it is a regular file inside the cache folder: the folder that the
// registry's Shell Folders "Cache" value names, or the system folder when
// there is no such value. A file that lies directly in the system folder (a
// store, or a program the registry names) is never removed, nor one reached
// through a symbolic link or "..". Anything refused is left alone silently.
void DeleteCacheFile(const std::string& file);

#endif
