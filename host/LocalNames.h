// Local file and folder names for the names of the virtual tree, which are
// whole URLs, host names with ports and the like.
#ifndef TROVEX_HOST_LOCALNAMES_H
#define TROVEX_HOST_LOCALNAMES_H

#include <cstddef>
#include <string>
#include <string_view>

namespace trovex {

// The longest name LocalNameFor returns, in bytes: well inside the 255 bytes
// a file name may have on common file systems.
constexpr size_t kMaxLocalNameLength = 200;

// A file name for name that is safe on Linux and Windows alike: ASCII
// letters, digits and the harmless punctuation stay; every other byte
// becomes "%XX" (so no "/", "\", ":", "?", "*", control character, "%" or
// byte from 0x80 up is left, and names that differ other than in the case
// of ASCII letters differ on a file system that ignores case), as do a
// leading or trailing "." and the first letter of a device name such as
// "CON" or "COM1". A longer result is cut and ends in "#" and a
// hash of the whole name. Never empty, "." or ".."; distinct names give
// distinct results.
std::string LocalNameFor(std::string_view name);

}  // namespace trovex

#endif
