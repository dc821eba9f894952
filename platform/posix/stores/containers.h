// Where the URL cache's containers are: the folders that each hold a store
// of a kind the store list knows (urlstore.h). They come from a Wine prefix
// ($TROVEX_WINEPREFIX), found as Wine finds them, and from folders named one
// by one, such as a Content.IE5 folder copied from a disk: first
// $TROVEX_CACHE_1, $TROVEX_CACHE_2, ..., one folder each, its path as it is
// (any bytes, ':' too), up to the first that is unset or empty; then those
// of $TROVEX_CACHE, separated by ':' (so none of them can hold one). The
// host program hands its folders over in the numbered form. With none set
// the cache is the system folder's text store.
#ifndef TROVEX_PLATFORM_POSIX_CONTAINERS_H
#define TROVEX_PLATFORM_POSIX_CONTAINERS_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trovex {

// The variable of the ':'-separated list of folders, and the stem of the
// numbered ones ("TROVEX_CACHE_1", ...).
inline constexpr char kCacheFolderVariable[] = "TROVEX_CACHE";

struct CacheContainer {
  std::string Folder;      // the folder that holds index.dat, without a trailing '/'
  std::string WinePrefix;  // the Wine prefix it belongs to; empty for a folder named alone
};

// True when either environment variable names a container source, so that
// the index.dat containers serve the cache instead of the text store.
bool ContainersConfigured();

// The containers of the environment in the order an enumeration visits them:
// each prefix's Cookies, History and Content, then the named folders in the
// order given. Only folders that hold a store of a known kind are listed, each
// under its real path (links and ".." resolved by the file system).
std::vector<CacheContainer> ConfiguredContainers();

// A line ("SOURCE: why") for each source the environment names that gives
// no container: a named folder without a store in it, a prefix that is
// missing or has none.
std::vector<std::string> SourceProblems();

// The three containers of the Wine prefix, Cookies, History, Content, as its
// user.reg names them through the Shell Folders values, or else the standard
// folders under drive_c/users/*/; only those that hold an index.dat.
std::vector<CacheContainer> WinePrefixContainers(const std::string& prefix);

// The folders of a ':'-separated list, empty parts left out.
std::vector<std::string> SplitFolderList(std::string_view list);

}  // namespace trovex

#endif
