// What the logic needs of the system beyond the Win32 names of win32api.h.
// One implementation per system: platform/win32/system.cpp and
// platform/posix/services/system.cpp.
#ifndef TROVEX_PLATFORM_SYSTEM_H
#define TROVEX_PLATFORM_SYSTEM_H

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32api.h"

// Marks module state that the library's start-up code touches: it is
// constructed before any start-up code runs, and destroyed after it.
#define TROVEX_MODULE_STATE __attribute__((init_priority(1000)))

namespace trovex {

// The module (the library or program) this code is linked into, for
// GetModuleFileNameA. Never fails.
HMODULE ThisModule();

// True when c separates folders in a path of this system: the backslash on
// Windows; the slash, and the backslash for paths written the Windows way,
// elsewhere.
bool IsDirSeparator(char c);

// The text to put into SHELLEXECUTEINFOA::lpParameters so that the started
// program receives exactly `argument` as its one argument, whatever spaces,
// quotes or backslashes it holds; an empty argument arrives as none on Linux,
// where the parameters are the argument as they are.
std::string QuoteArgument(std::string_view argument);

// A run of changes to the URL cache, such as the deletions of one delete
// operation of the host. Between the two calls the system may hold what the
// changes touch and put them in place together when the run ends; each
// change still answers at once, and a change it cannot make is refused then.
// A change made outside a run takes effect at once, and an enumeration of
// the cache sees every change made before it. Windows's wininet makes each
// change itself: there the two do nothing.
void BeginCacheChanges();
void EndCacheChanges();

// The caches the URL cache serves from, as this process reads them now:
// the folders in use when the environment names caches (empty when it
// serves the system's own cache), a line ("SOURCE: why") for each source
// named but skipped, one for each cache read only in part and what was left
// out, and whether caches were named and not one of them can be read. On
// Windows, wininet serves the system's own cache: all empty.
struct CacheSources {
  std::vector<std::string> InUse;
  std::vector<std::string> Skipped;
  std::vector<std::string> Partial;
  bool NoneRead = false;
};
CacheSources DescribeCacheSources();

// The folder of the cache container that the entry an enumeration of
// FindFirstUrlCacheEntryA handed out last comes from, so that entries of
// two containers that share a URL can be told apart; empty when the
// enumeration is unknown or has handed out nothing. Windows's wininet does
// not say: there it is empty.
std::string EntryContainer(HANDLE enumeration);

}  // namespace trovex

#endif
