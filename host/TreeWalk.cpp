#include "host/TreeWalk.h"

#include "cache/ChangedName.h"
#include "base/Ascii.h"
#include "host/HostError.h"
#include "host/Output.h"

namespace trovex {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

// The kind of an item listed in a folder of the given kind.
NodeKind KindInside(NodeKind folder, const ListedItem& item) {
  switch (folder) {
    case NodeKind::Root: return item.IsFolder ? NodeKind::Site : NodeKind::RereadEntry;
    case NodeKind::Site: return NodeKind::Host;
    default: return NodeKind::Entry;
  }
}

// The listed item that name designates: an exact match first; then a folder
// that differs in letter case, or the entry whose changed or cut name the
// URL name is listed under. A URL is case-sensitive: an entry's case twin
// is another entry.
const ListedItem* MatchItem(const std::vector<ListedItem>& items, const std::string& name, bool url) {
  for (const ListedItem& item : items) {
    if (item.Name == name) return &item;
  }
  if (!url) {
    for (const ListedItem& item : items) {
      if (SameName(item.Name, name)) return &item;
    }
    return nullptr;
  }
  std::string changed = ChangedName(name);
  for (const ListedItem& item : items) {
    if (item.Name == changed) return &item;
  }
  for (const ListedItem& item : items) {
    if (item.Name.size() == kMaxListedNameLength && name.starts_with(item.Name)) return &item;
  }
  return nullptr;
}

// The URL of an entry listed under name, when the name tells: an own name
// is the URL, and a changed name may hold it whole.
std::optional<std::string> UrlOfListed(NodeKind kind, const std::string& name) {
  if (kind != NodeKind::Entry) return std::nullopt;
  if (!HasChangedForm(name)) return name;
  std::optional<std::string_view> whole = WholeNameOf(name);
  return whole ? std::optional<std::string>(*whole) : std::nullopt;
}

void CollectFiles(Plugin& plugin, const Node& node, FilesFound& found) {
  if (!IsFolder(node.Kind)) {
    found.Files.push_back(node);
    return;
  }
  std::optional<std::vector<Node>> children = ListChildren(plugin, node, false);
  if (!children) {
    found.Unlisted.push_back(node);
    return;
  }
  for (const Node& child : *children) CollectFiles(plugin, child, found);
}

}  // namespace

bool IsFolder(NodeKind kind) {
  return kind == NodeKind::Root || kind == NodeKind::Site || kind == NodeKind::Host;
}

std::optional<Node> FindNode(Plugin& plugin, const VirtualPath& path) {
  if (path.IsRoot()) return Node{};
  // Each folder on the way is found in its parent's listing, so a host is
  // looked for only in its own site.
  std::optional<Node> parent = FindNode(plugin, path.Parent());
  if (!parent || !IsFolder(parent->Kind)) return std::nullopt;
  std::optional<std::vector<ListedItem>> items = plugin.ReadFolder(parent->Path.HostForm());
  if (!items) return std::nullopt;
  const ListedItem* item = MatchItem(*items, path.Name(), path.Level() == kEntryLevel);
  if (item == nullptr) return std::nullopt;
  NodeKind kind = KindInside(parent->Kind, *item);
  // A file at the root is the reread entry; a site and a host are folders.
  if (IsFolder(kind) != item->IsFolder && parent->Kind != NodeKind::Host) return std::nullopt;
  // The plug-in selects folders by the exact spelling it lists; a URL listed
  // changed or cut keeps the whole spelling it was given, which the plug-in
  // finds exactly.
  if (kind == NodeKind::Entry && item->Name != path.Name()) {
    return Node{parent->Path.Child(path.Name()), kind, item->Size, path.Name()};
  }
  return Node{parent->Path.Child(item->Name), kind, item->IsFolder ? 0 : item->Size, UrlOfListed(kind, item->Name)};
}

Node ResolveNode(Plugin& plugin, const VirtualPath& path) {
  std::optional<Node> node = FindNode(plugin, path);
  if (node) return *node;
  const char* what = path.Level() == kEntryLevel ? "no such entry: " : "no such folder: ";
  throw HostError(kExitUsage, what + path.HostForm());
}

std::optional<std::vector<Node>> ListChildren(Plugin& plugin, const Node& folder, bool withRereadEntry) {
  std::optional<std::vector<ListedItem>> items = plugin.ReadFolder(folder.Path.HostForm());
  if (!items) return std::nullopt;
  std::vector<Node> children;
  for (const ListedItem& item : *items) {
    NodeKind kind = KindInside(folder.Kind, item);
    if (kind == NodeKind::RereadEntry && !withRereadEntry) continue;
    children.push_back(
        Node{folder.Path.Child(item.Name), kind, item.IsFolder ? 0 : item.Size, UrlOfListed(kind, item.Name)});
  }
  return children;
}

std::vector<Node> ChildrenOf(Plugin& plugin, const Node& folder, bool withRereadEntry) {
  return ListChildren(plugin, folder, withRereadEntry).value_or(std::vector<Node>{});
}

FilesFound FilesBelow(Plugin& plugin, const Node& node) {
  FilesFound found;
  CollectFiles(plugin, node, found);
  return found;
}

TreeNode ReadTree(Plugin& plugin, const Node& node) {
  TreeNode tree{node, {}};
  if (!IsFolder(node.Kind)) return tree;
  // The listing is closed before the first child is opened.
  std::optional<std::vector<Node>> children = ListChildren(plugin, node, false);
  if (!children) {
    tree.Listed = false;
    return tree;
  }
  for (const Node& child : *children) tree.Children.push_back(ReadTree(plugin, child));
  return tree;
}

bool ResolveEach(Plugin& plugin, const std::vector<VirtualPath>& paths, std::vector<Node>& nodes) {
  bool allFound = true;
  for (const VirtualPath& path : paths) {
    try {
      nodes.push_back(ResolveNode(plugin, path));
    } catch (const HostError& error) {
      ReportError(error.what());
      allFound = false;
    }
  }
  return allFound;
}

std::string CutNameNote(const Node& node) {
  if (node.Kind != NodeKind::Entry || node.Path.Name().size() < kMaxListedNameLength) return {};
  return " (the listing cuts names at " + std::to_string(kMaxListedNameLength) + " bytes)";
}

}  // namespace trovex
