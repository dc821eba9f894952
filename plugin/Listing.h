// Listings of the virtual tree: at most 50 open at once, each a folder's
// items built when it is opened and handed out one at a time. A listing's
// handle names it from its opening to its closing, whatever else is opened
// or closed meanwhile.
#ifndef TROVEX_PLUGIN_LISTING_H
#define TROVEX_PLUGIN_LISTING_H

#include <cstdint>
#include <string_view>

#include "platform/win32api.h"

namespace trovex {

// A listing's handle: as wide as the host's own handle, so that converting
// either way at the entry points loses nothing.
using ListingHandle = intptr_t;

// Opens a listing of path and writes its first item to record. The new
// listing's handle, the lowest free of 1 to 50, or -1 with last error
// ERROR_INVALID_FUNCTION when 50 are open, path is no folder or the site or
// host folder has no items.
ListingHandle OpenListing(std::string_view path, WIN32_FIND_DATAA& record);

// Writes the next item of the listing handle names to record; false, with
// record untouched, at its end or when handle names no open listing.
bool NextListingItem(ListingHandle handle, WIN32_FIND_DATAA& record);

// Closes the listing handle names; a handle that names none changes nothing.
void CloseListing(ListingHandle handle);

// Closes every listing; runs when the library unloads.
void CloseAllListings();

}  // namespace trovex

#endif
