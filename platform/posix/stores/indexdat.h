// The index.dat store of the URL cache: a WinINet container (a folder holding
// index.dat and its cached files, as Windows and Wine keep them). Internal to
// platform/posix; the URL cache calls reach it through urlstore.h.
//
// Formats read: "Client UrlCache MMF Ver 5.2", Wine's
// "WINE URLCache Ver 0.2012001" (the same layout) and "Client UrlCache MMF
// Ver 4.7" (read only). Entries come in the container's own order: its hash
// tables along their chain, their slots in order, live URL records only.
#ifndef TROVEX_PLATFORM_POSIX_INDEXDAT_H
#define TROVEX_PLATFORM_POSIX_INDEXDAT_H

#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/stores/urlstore.h"

namespace trovex {

// The index file's name inside a container folder.
constexpr char kIndexDatName[] = "index.dat";

// Reads and checks the container's index.dat; null when it is missing,
// unreadable, or fails the checks (then *problem, when given, says why in one
// line, e.g. "unknown signature"). A damaged file whose header holds gives
// the entries that can be trusted.
std::shared_ptr<const UrlSnapshot> IndexDatSnapshot(const std::string& folder, std::string* problem = nullptr);

// Whether a local file name is one of the container's own files, never an
// entry's: index.dat, the temporary files of its rewriting, its lock, in any
// letter case. The snapshot hands out no such local file and a deletion
// removes none.
bool IsContainerOwnName(std::string_view name);

// Deletes url's entry (found by its exact bytes) from the container's
// index.dat as Wine does, then its local file. FALSE with the last error:
// ERROR_FILE_NOT_FOUND when the container holds no such URL;
// ERROR_SHARING_VIOLATION for a locked entry (unless locked more than a day
// ago by its last access, as Wine takes it), a read-only format (4.7), a
// folder that is not writable, a container folder or index.dat that is a
// link, an index another deleter holds for long, or one replaced since it
// was read;
// ERROR_INVALID_DATA for an index whose counts Wine would reject or whose
// structures share blocks (no edit could leave it sound); others as errno
// maps them. A refusal changes nothing. One IndexDatEdit (indexdatedit.h)
// open, edited and committed.
BOOL DeleteFromIndexDat(const std::string& folder, const char* url);

// The containers as a store of the URL cache (indexdatstore.cpp).
extern const UrlStore kIndexDatStore;

}  // namespace trovex

#endif
