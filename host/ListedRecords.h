// Which cache records stand behind the places of the tree: the records of
// listed entries, and whether an enumerated record lies below a place.
#ifndef TROVEX_HOST_LISTEDRECORDS_H
#define TROVEX_HOST_LISTEDRECORDS_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/EntryRecord.h"
#include "host/Plugin.h"
#include "host/TreeWalk.h"

namespace trovex {

// True when record is one of the entry's: its URL is the entry's exact URL,
// or, for an entry listed under a changed name that does not hold its URL,
// the URL the name was made from.
bool RecordIsOf(const Node& entry, const EntryRecord& record);

// The records of each entry, from one enumeration of the cache: for entry
// i, result[i] in enumeration order, one per container that holds its URL.
// Throws HostError (kExitFailed) when the enumeration fails.
std::vector<std::vector<EntryRecord>> RecordsOfEntries(const std::vector<Node>& entries);

// The records of the entries listed at place (a host folder, or an entry
// alone), by their listed names; none for other places.
std::map<std::string, std::vector<EntryRecord>> RecordsOfListedEntries(Plugin& plugin, const Node& place);

// The records below a place of the tree: every record for the root; for a
// site or host folder, those whose URL's host name is one of the host
// folders the plug-in lists there (the plug-in's own split of a URL: the
// cookie prefix and user, the scheme and the path dropped; ASCII case
// ignored, as the plug-in merges hosts); for an entry, its own.
class PlaceFilter {
 public:
  // Lists the place's host folders through the plug-in; throws HostError
  // (kExitFailed) when it refuses a listing.
  PlaceFilter(Plugin& plugin, const Node& place);

  bool Keeps(const EntryRecord& record) const;

 private:
  bool HostIsListed(const std::string& host) const;

  Node place_;
  std::string cookiePrefix_;
  std::set<std::string> hosts_;  // in upper case
  std::vector<std::string> changedHosts_;  // listed names in the changed form
};

struct UnlistedUrls {
  uint64_t Count = 0;
  uint32_t Error = 0;  // the enumeration's; the count is of what was read before it
};

// The URLs below the filter's place that the cache holds and that none of
// entries (the entries a listing shows there) stands for, as RecordIsOf
// tells: the entries the plug-in's settings hide. A URL counts once however
// many containers hold it, as a listing shows it once; URLs that differ in
// any byte, letter case too, count apart, as a listing shows them apart.
UnlistedUrls CountUnlistedUrls(const PlaceFilter& filter, const std::vector<Node>& entries);

// The host name the plug-in gives url, with the cookie prefix it splits by.
std::string HostNameOf(std::string_view url, std::string_view cookiePrefix);

}  // namespace trovex

#endif
