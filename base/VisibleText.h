// Text from a cache made safe to show on a terminal or in a message box.
// Free of system calls, so that the Linux message box and the host program
// use this one routine.
//
// The form: a byte that is a control character (below 0x20, or 0x7F) or
// that is not part of valid UTF-8 becomes "\xHH"; a valid UTF-8 character
// that a terminal obeys instead of showing (U+0080 to U+009F, and the
// direction controls U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069)
// becomes "\uHHHH". Hex digits are lower case. A backslash stays as it is:
// the tree's own paths are full of them, and the form is there to be seen,
// not read back.
#ifndef TROVEX_BASE_VISIBLETEXT_H
#define TROVEX_BASE_VISIBLETEXT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace trovex {

// True for the code points a terminal acts on rather than shows: C0
// controls, DEL, C1 controls and the direction controls that reorder what
// follows them.
inline bool IsHiddenCodePoint(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x200E || code == 0x200F ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// "\x" or "\u" (kind) and value in that many lower-case hex digits.
std::string HexEscape(char kind, uint32_t value, int digits);

// text with every hidden character and every byte outside valid UTF-8 in
// its escaped form; everything else as it is.
std::string VisibleText(std::string_view text);

// Appends VisibleText(text) to shown, without a string of its own.
void AppendVisibleText(std::string& shown, std::string_view text);

}  // namespace trovex

#endif
