// Every field of a cache record written out: as the lines info prints, and
// as JSON members that info --json, ls --json and the exports share. Text
// from the cache reaches a terminal only in its visible form (VisibleText),
// and JSON only through JsonTextField, so both are safe for any bytes.
#ifndef TROVEX_HOST_ENTRYFIELDS_H
#define TROVEX_HOST_ENTRYFIELDS_H

#include <ostream>
#include <string>

#include "host/EntryRecord.h"

namespace trovex {

// One time as text: IsoTime, or "unset".
std::string TimeOrUnset(uint64_t ticks);

// The type as 0x%08x followed by its flag names.
std::string TypeText(uint32_t type);

// The record as "Name:  value" lines, the header one line of its own each.
void PrintRecordText(std::ostream& out, const EntryRecord& record, const LocalFileState& file);

// The record's fields as JSON members, without the braces around them:
// "url", "container", "local_file", "local_file_present",
// "local_file_size", "type", "type_names", "size", "hits", "use_count",
// "last_modified", "expires", "last_access", "last_sync" (ISO 8601 or
// null), "extension", "header", "exempt_delta"; text that is not valid
// UTF-8 also in a "_hex" member beside it.
std::string RecordJsonMembers(const EntryRecord& record, const LocalFileState& file);

}  // namespace trovex

#endif
