// Small text and number routines on 8-bit strings.
#ifndef TROVEX_SUPPORT_SYSUTILS1_H
#define TROVEX_SUPPORT_SYSUTILS1_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trovex {

// Compares a and b with the ASCII letters folded to upper case; other bytes
// compare as they are. 0 when equal; otherwise the difference of the first
// differing (folded, unsigned) bytes, a string's end counting as a zero byte.
int32_t CompareNoCase(std::string_view a, std::string_view b);

// The folder part of path (up to and including its last separator) followed
// by name; name alone when path has no separator.
std::string ChangeFileName(std::string_view path, std::string_view name);

// The decimal text of n, with a leading '-' when negative.
std::string IntToText(int32_t n);

// Replaces every occurrence of find in text by replacement, searching again
// from the start after each replacement. An empty find changes nothing.
// replacement must not contain find.
void ReplaceAll(std::string& text, std::string_view find, std::string_view replacement);

// format with its "%s" markers filled by args from left to right; an argument
// is inserted as it is and never searched for markers. Markers left over stay
// as "%s"; arguments left over are dropped.
std::string FormatArgs(std::string_view format, const std::vector<std::string>& args);

// True when url begins with "http://", "https://" or "ftp://" (the scheme in
// any letter case) and holds no control byte (below 0x20, or 0x7F).
bool IsWebAddress(std::string_view url);

// text with each control byte (below 0x20, and 0x7F) written as "\x" and two
// upper-case hexadecimal digits; other bytes unchanged. For a text put into
// a message box, whose lines break at its carriage returns and line feeds,
// so that a stranger's text cannot start a line of its own there. (What a
// terminal shows is made safe by VisibleText in base/VisibleText.h.)
std::string EscapeControlBytes(std::string_view text);

}  // namespace trovex

#endif
