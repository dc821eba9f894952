// The text store of the URL cache: urlcache.txt in the system folder. Internal
// to platform/posix; the URL cache calls reach it through urlstore.h.
#ifndef TROVEX_PLATFORM_POSIX_TEXTSTORE_H
#define TROVEX_PLATFORM_POSIX_TEXTSTORE_H

#include <memory>

#include "platform/posix/stores/urlstore.h"

namespace trovex {

// The store as the file is now; null when there is no file.
std::shared_ptr<const UrlSnapshot> TextStoreSnapshot();

// Deletes the first entry left in the store whose URL is url, byte for byte,
// and its local file when that lies in the cache folder (see
// DeleteCacheFile); the deletion is on disk when it returns. FALSE with the
// last error set on failure (ERROR_FILE_NOT_FOUND when there is no store or
// no such entry).
BOOL DeleteFromTextStore(const char* url);

// The text store as a store of the URL cache; its source's folder is not
// looked at: there is one text store, in the system folder.
extern const UrlStore kTextStore;

}  // namespace trovex

#endif
