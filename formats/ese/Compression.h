// The compressed forms of column values and long-value chunks: 7-bit ASCII
// and Unicode, Xpress (plain LZ77) and LZ4 blocks.
#ifndef TROVEX_FORMATS_ESE_COMPRESSION_H
#define TROVEX_FORMATS_ESE_COMPRESSION_H

#include <string>

#include "formats/ByteView.h"

namespace trovex::ese {

enum class Decoded { kOk, kUnsupported, kCorrupt };

// Decompresses `bytes`, whose first byte names the scheme, into `out`.
// Unsupported for schemes this reader does not know; corrupt when the data
// is short, refers outside what it produced or overruns its stated size.
Decoded Decompress(ByteView bytes, std::string& out);

}  // namespace trovex::ese

#endif
