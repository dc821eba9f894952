// Finding places of the virtual tree and walking it through the plug-in's
// listings. Each folder is read whole and closed before the next listing is
// opened, so a walk holds at most one of the plug-in's 50 listings.
#ifndef TROVEX_HOST_TREEWALK_H
#define TROVEX_HOST_TREEWALK_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/Plugin.h"
#include "host/VirtualPath.h"

namespace trovex {

enum class NodeKind { Root, RereadEntry, Site, Host, Entry };

// A place that the plug-in lists.
struct Node {
  VirtualPath Path;
  NodeKind Kind = NodeKind::Root;
  uint64_t Size = 0;  // a file's size; 0 for folders
  // An entry's exact URL, when known: its listed name unless that may be a
  // changed one, or the whole URL it was named by. It designates the entry
  // in any later listing; a changed name designates it only in its own.
  std::optional<std::string> Url;
};

// A folder with everything below it, or a file.
struct TreeNode {
  Node Item;
  std::vector<TreeNode> Children;
  bool Listed = true;  // false for a folder whose listing the plug-in refused
};

// The files at or below a place, and the folders on the way whose listing
// the plug-in refused, so that what they hold is known to be missing.
struct FilesFound {
  std::vector<Node> Files;
  std::vector<Node> Unlisted;
};

// The longest name the plug-in hands out; a longer one arrives cut.
constexpr size_t kMaxListedNameLength = MAX_PATH - 1;

// True for the root, site and host folders.
bool IsFolder(NodeKind kind);

// The node at path, each part found in the listing of the folder above it
// and spelled as listed (folder names match without regard to ASCII case, as
// the plug-in merges them; an entry's name matches only byte for byte, or
// as a whole URL that is listed changed or cut at kMaxListedNameLength, and
// then keeps its whole spelling); nullopt when a listing on the way does not
// hold the part.
std::optional<Node> FindNode(Plugin& plugin, const VirtualPath& path);

// As FindNode; throws HostError (kExitUsage, "no such folder: PATH" or "no
// such entry: PATH") when the path is not there.
Node ResolveNode(Plugin& plugin, const VirtualPath& path);

// The items of a folder from one full listing, the root's reread entry only
// when withRereadEntry; nullopt when the plug-in refuses the listing.
std::optional<std::vector<Node>> ListChildren(Plugin& plugin, const Node& folder, bool withRereadEntry);

// As ListChildren, but empty when the plug-in refuses the listing.
std::vector<Node> ChildrenOf(Plugin& plugin, const Node& folder, bool withRereadEntry);

// Every file at or below node, in the plug-in's order (a file is its own
// only member), and every folder there that the plug-in refused to list;
// the root's reread entry is left out.
FilesFound FilesBelow(Plugin& plugin, const Node& node);

// The tree at node, the root's reread entry left out.
TreeNode ReadTree(Plugin& plugin, const Node& node);

// Resolves each path into nodes, naming each one that is not there on
// stderr; false when any is missing.
bool ResolveEach(Plugin& plugin, const std::vector<VirtualPath>& paths, std::vector<Node>& nodes);

// " (its name was cut at 259 bytes by the listing)" for a node whose name
// may have been cut, so that a failure on it explains itself; else empty.
std::string CutNameNote(const Node& node);

}  // namespace trovex

#endif
