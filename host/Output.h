// Text the host program prints: error lines, counts and JSON strings.
#ifndef TROVEX_HOST_OUTPUT_H
#define TROVEX_HOST_OUTPUT_H

#include <cstdint>
#include <string>
#include <string_view>

#include "base/VisibleText.h"
#include "base/Utf.h"

namespace trovex {

// Writes "trovex: message" as one line on stderr, the message in its
// visible form (VisibleText): names in it come from the cache.
void ReportError(std::string_view message);

// "1 entry", "2 entries": count and the noun that fits it.
std::string CountOf(uint64_t count, std::string_view one, std::string_view many);

// text as a JSON string, quotes included. Valid UTF-8 reads back unchanged:
// quotes, backslashes, and the characters VisibleText escapes are written
// as JSON escapes, everything else as it is. A byte outside valid UTF-8
// becomes U+FFFD, so the string alone may lose bytes; see JsonTextField.
std::string JsonString(std::string_view text);

// "key":JsonString(text), followed by "key_hex":"..." with every byte of
// text in two lower-case hex digits when text is not valid UTF-8, so that
// any name can be read back exactly.
std::string JsonTextField(std::string_view key, std::string_view text);

// text as one RFC 4180 field: its visible form (VisibleText, so no line
// break or control byte is left), quoted when it holds a comma or a quote.
std::string CsvCell(std::string_view text);

// Appends CsvCell(text) to row, without a string of its own when no quote
// is needed: an export writes a cell for every field of every record.
void AppendCsvCell(std::string& row, std::string_view text);

}  // namespace trovex

#endif
