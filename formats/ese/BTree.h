// In-order walks of a B+-tree: every live node of its leaves, in key order.
#ifndef TROVEX_FORMATS_ESE_BTREE_H
#define TROVEX_FORMATS_ESE_BTREE_H

#include <cstdint>
#include <functional>

#include "formats/ByteView.h"
#include "formats/Drops.h"
#include "formats/ese/Page.h"

namespace trovex::ese {

// What kind of tree a walk expects, by the flags its pages must carry.
enum class TreeKind { kData, kLongValue };

// Calls `visit` with every node of the tree rooted at page `root`, owned by
// object `owner` (0: whichever owns the root), leaves
// left to right, skipping flag-deleted nodes; stops early when `visit`
// returns false. A page that cannot be read, loops back, belongs to another
// tree or lies too deep is left out with its subtree and counted in
// `drops`. Returns false when anything was left out.
bool WalkTree(const Image& image, const Geometry& geometry, uint32_t root, uint32_t owner, TreeKind kind,
              Drops& drops, const std::function<bool(const Node&)>& visit);

}  // namespace trovex::ese

#endif
