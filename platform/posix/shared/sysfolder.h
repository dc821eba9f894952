// The system folder: where this system keeps the stores that stand in for the
// Windows services, and the names of those stores. Internal to
// platform/posix.
//
// The folder is $TROVEX_SYSTEM, read at each call, or
// $HOME/.local/share/trovex/system when that is unset. A missing folder or
// store reads as empty; how the stores are read and changed is fileio.h's.
#ifndef TROVEX_PLATFORM_POSIX_SYSFOLDER_H
#define TROVEX_PLATFORM_POSIX_SYSFOLDER_H

#include <string>
#include <string_view>

namespace trovex {

// The stores' file names in the system folder.
constexpr char kRegistryStoreName[] = "registry.reg";
constexpr char kTextStoreName[] = "urlcache.txt";

// What the name of a store file gets for the files kept beside it: the
// record of deletions from the text store, and the lock of any store.
constexpr char kDeletionRecordSuffix[] = ".deleted";
constexpr char kLockSuffix[] = ".lock";

// The absolute path of the system folder; never fails (a relative
// $TROVEX_SYSTEM is taken from the working folder).
std::string SystemFolder();

// The path of `name` inside the system folder.
std::string SystemFile(std::string_view name);

}  // namespace trovex

#endif
