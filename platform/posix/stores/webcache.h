// The WebCache store of the URL cache: the ESE database WebCacheV01.dat
// (WebCacheV24.dat on some early systems) in which Windows 8 and later keep
// the WinINet cache, read only. Internal to platform/posix; the URL cache
// calls reach it through urlstore.h.
//
// Entries come container by container in the order of the database's
// Containers table, each container's in the key order of its Container_N
// table. In a disk copy the database lies in
// AppData/Local/Microsoft/Windows/WebCache and the cached files below the
// same AppData folder: that is where a local file is looked for, unless the
// user names the INetCache folder (TROVEX_INETCACHE).
#ifndef TROVEX_PLATFORM_POSIX_WEBCACHE_H
#define TROVEX_PLATFORM_POSIX_WEBCACHE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/stores/urlstore.h"

namespace trovex {

// The database's names inside its folder, in the order they are looked for.
constexpr char kWebCacheName[] = "WebCacheV01.dat";
constexpr char kWebCacheOldName[] = "WebCacheV24.dat";

// Reads the folder's database; null when it is missing, unreadable or no
// WebCache database (then *problem, when given, says why in one line). A
// damaged database gives what can be read of it, and Dropped() says what
// was left out.
std::shared_ptr<const UrlSnapshot> WebCacheSnapshot(const std::string& folder, std::string* problem = nullptr);

// What became of an entry's local file.
enum class LocalFileFate {
  kNone,       // the entry names no file
  kMapped,     // `path` is the file's Linux path
  kUnsafe,     // a name the entry gives could lead elsewhere, or is out of bounds
  kUnplaced,   // its Windows folder has no place below the folder given
};

struct LocalFile {
  LocalFileFate fate = LocalFileFate::kNone;
  std::string path;
};

// Where local files are looked for: the database's folder, absolute and
// without a trailing '/', and the INetCache folder the user named (empty
// when none), likewise.
struct WebCachePlaces {
  std::string_view folder;
  std::string_view inetCache;
};

// The INetCache folder TROVEX_INETCACHE names, absolute and without a
// trailing '/'; empty when it names none.
std::string NamedINetCache();

// The Linux path of an entry's local file: below the named INetCache folder
// for what follows \INetCache\ in its Windows folder; else below the
// AppData folder that holds the database's folder as
// AppData/Local/Microsoft/Windows/WebCache; else below the database folder's
// parent for what follows \Microsoft\Windows\. `directory` is its
// container's Windows folder, `secureNames` the container's secure folder
// names (eight characters each, run together), `secure` the entry's 1-based
// pick among them (0: no file), `name` its file name; all text as UTF-8.
LocalFile WebCacheLocalFile(const WebCachePlaces& places, std::string_view directory, std::string_view secureNames,
                            uint64_t secure, std::string_view name);

// The folder below which WebCacheLocalFile places the local files of the
// database in `folder` (absolute, without a trailing '/') when no INetCache
// is named: the AppData folder of a disk copy's layout, else the folder's
// parent; empty when `folder` holds no WebCache database.
std::string WebCacheFilesFolder(const std::string& folder);

// The WebCache databases as a store of the URL cache; a deletion of a URL it
// holds is refused with ERROR_ACCESS_DENIED and changes nothing.
extern const UrlStore kWebCacheStore;

}  // namespace trovex

#endif
