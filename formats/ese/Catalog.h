// The catalog (MSysObjects): the tables of a database, their columns and
// long-value trees.
#ifndef TROVEX_FORMATS_ESE_CATALOG_H
#define TROVEX_FORMATS_ESE_CATALOG_H

#include <vector>

#include "formats/ByteView.h"
#include "formats/Drops.h"
#include "formats/ese/Page.h"
#include "formats/ese/Schema.h"

namespace trovex::ese {

// The tables the catalog lists, in catalog order, each with its columns in
// id order; from the shadow catalog when the catalog's root cannot be read.
// Malformed and duplicate entries are counted in `drops` and left out;
// `complete` tells whether every catalog page was read.
std::vector<Table> ReadCatalog(const Image& image, const Geometry& geometry, Drops& drops, bool& complete);

}  // namespace trovex::ese

#endif
