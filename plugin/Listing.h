// Listings of the virtual tree: a stack of at most 50 open listings, each a
// folder's items built when it is opened and handed out one at a time.
#ifndef TROVEX_PLUGIN_LISTING_H
#define TROVEX_PLUGIN_LISTING_H

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win32api.h"

// path without its first three backslash-ended parts: the site of a site
// folder, the host of a host folder, the URL of an entry; empty for the root.
std::string ItemNameFromPath(std::string_view path);

// Opens a listing of path and writes its first item to record. The new
// listing's position (1 to 50), or -1 with last error ERROR_INVALID_FUNCTION
// when 50 are open or the site or host folder has no items.
int32_t OpenListing(std::string_view path, WIN32_FIND_DATAA& record);

// Writes the next item of the top listing to record; false, with record
// untouched, at its end or when no listing is open.
bool NextListingItem(WIN32_FIND_DATAA& record);

// Closes the listing at position; the ones above move down one place.
// Positions that name no open listing change nothing.
void CloseListing(int64_t position);

// The number of open listings.
int32_t OpenListingCount();

// Closes every listing; runs when the library unloads.
void CloseAllListings();

#endif
