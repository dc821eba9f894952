// ls, tree, open, about and reread.
#include "host/Commands.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>

#include "host/EntryFields.h"
#include "host/HostError.h"
#include "host/HostSystem.h"
#include "host/Output.h"
#include "host/ListedRecords.h"
#include "host/TreeWalk.h"
#include "platform/system.h"

namespace trovex {

namespace {

const char* KindWord(bool isFolder) {
  return isFolder ? "folder" : "file";
}

std::vector<ListedItem> ItemsAt(Plugin& plugin, const Node& node) {
  if (!IsFolder(node.Kind)) return {ListedItem{node.Path.Name(), node.Size, false}};
  std::optional<std::vector<ListedItem>> items = plugin.ReadFolder(node.Path.HostForm());
  if (!items) throw HostError(kExitFailed, "the plug-in refused to list " + node.Path.HostForm());
  return *items;
}

using RecordsByName = std::map<std::string, std::vector<EntryRecord>>;

// For ls -l: the last access of an entry's first record, whatever the
// settings; a folder's date as the plug-in gives it to a file panel, the
// newest last access among its entries. "-" where there is none: an entry
// the cache holds no record of, a folder whose date is unset or hidden.
std::string LastAccessOf(const ListedItem& item, const RecordsByName& records) {
  if (item.IsFolder) return item.Date == 0 ? "-" : TimeOrUnset(item.Date);
  auto found = records.find(item.Name);
  if (found == records.end() || found->second.empty()) return "-";
  return TimeOrUnset(found->second.front().Accessed);
}

void PrintItemsAsText(const std::vector<ListedItem>& items, const RecordsByName* records) {
  size_t sizeWidth = 1, timeWidth = 1;
  std::vector<std::string> times;
  for (const ListedItem& item : items) {
    sizeWidth = std::max(sizeWidth, std::to_string(item.Size).size());
    if (records != nullptr) times.push_back(LastAccessOf(item, *records));
    if (records != nullptr) timeWidth = std::max(timeWidth, times.back().size());
  }
  for (size_t i = 0; i < items.size(); ++i) {
    const ListedItem& item = items[i];
    std::string size = std::to_string(item.Size);
    std::cout << KindWord(item.IsFolder) << (item.IsFolder ? "  " : "    ")
              << std::string(sizeWidth - size.size(), ' ') << size << "  ";
    if (records != nullptr) std::cout << times[i] << std::string(timeWidth - times[i].size(), ' ') << "  ";
    std::cout << VisibleText(item.Name) << '\n';
  }
}

// ,"records":[{...},...] for an entry the cache holds records of.
std::string JsonRecords(const ListedItem& item, const RecordsByName& records) {
  auto found = records.find(item.Name);
  if (item.IsFolder || found == records.end()) return {};
  std::string json = ",\"records\":[";
  for (size_t i = 0; i < found->second.size(); ++i) {
    const EntryRecord& record = found->second[i];
    json += (i == 0 ? "{" : ",{") + RecordJsonMembers(record, LocalFileOf(record)) + "}";
  }
  return json + "]";
}

void PrintItemsAsJson(const Node& node, const std::vector<ListedItem>& items, const RecordsByName& records) {
  std::cout << "{" << JsonTextField("path", node.Path.HostForm()) << ",\"items\":[";
  for (size_t i = 0; i < items.size(); ++i) {
    const ListedItem& item = items[i];
    std::cout << (i == 0 ? "" : ",") << "\n  {\"kind\":\"" << KindWord(item.IsFolder) << "\",\"size\":" << item.Size
              << "," << JsonTextField("name", item.Name) << JsonRecords(item, records) << "}";
  }
  std::cout << (items.empty() ? "" : "\n") << "]}\n";
}

struct Totals {
  uint64_t Sites = 0;
  uint64_t Hosts = 0;
  uint64_t Entries = 0;
  uint64_t Bytes = 0;
};

Totals Sum(const TreeNode& tree) {
  Totals totals;
  switch (tree.Item.Kind) {
    case NodeKind::Site: totals.Sites = 1; break;
    case NodeKind::Host: totals.Hosts = 1; break;
    default: break;
  }
  if (!IsFolder(tree.Item.Kind)) {
    totals.Entries = 1;
    totals.Bytes = tree.Item.Size;
  }
  for (const TreeNode& child : tree.Children) {
    Totals below = Sum(child);
    totals.Sites += below.Sites;
    totals.Hosts += below.Hosts;
    totals.Entries += below.Entries;
    totals.Bytes += below.Bytes;
  }
  return totals;
}

// "(2 hosts, 10 entries, 2345 bytes)": what lies below the node, itself
// left out.
std::string Summary(const TreeNode& tree) {
  if (!tree.Listed) return "(the plug-in refused to list it)";
  if (!IsFolder(tree.Item.Kind)) return "(" + CountOf(tree.Item.Size, "byte", "bytes") + ")";
  Totals totals = Sum(tree);
  std::string text = "(";
  if (tree.Item.Kind == NodeKind::Root) text += CountOf(totals.Sites, "site", "sites") + ", ";
  if (tree.Item.Kind != NodeKind::Host) text += CountOf(totals.Hosts, "host", "hosts") + ", ";
  return text + CountOf(totals.Entries, "entry", "entries") + ", " + CountOf(totals.Bytes, "byte", "bytes") + ")";
}

void PrintBranches(const TreeNode& tree, const std::string& indent) {
  for (size_t i = 0; i < tree.Children.size(); ++i) {
    const TreeNode& child = tree.Children[i];
    bool last = i + 1 == tree.Children.size();
    std::cout << indent << (last ? "`-- " : "|-- ") << VisibleText(child.Item.Path.Name()) << ' ' << Summary(child)
              << '\n';
    PrintBranches(child, indent + (last ? "    " : "|   "));
  }
}

// The number of folders in tree that the plug-in refused to list.
size_t CountUnlisted(const TreeNode& tree) {
  size_t unlisted = tree.Listed ? 0 : 1;
  for (const TreeNode& child : tree.Children) unlisted += CountUnlisted(child);
  return unlisted;
}

void CollectEntries(const TreeNode& tree, std::vector<Node>& entries) {
  if (tree.Item.Kind == NodeKind::Entry) entries.push_back(tree.Item);
  for (const TreeNode& child : tree.Children) CollectEntries(child, entries);
}

// "(12 entries hidden by the settings)" when the cache holds records below
// the tree's place, as export selects them, whose URL the tree lists no
// entry for: what the plug-in's settings hide (history, cookies). It counts
// as the tree does: a URL once, however many containers hold it. Nothing
// when none is hidden.
int PrintHidden(Plugin& plugin, const TreeNode& tree) {
  std::vector<Node> entries;
  CollectEntries(tree, entries);
  UnlistedUrls hidden = CountUnlistedUrls(PlaceFilter(plugin, tree.Item), entries);
  if (hidden.Error != 0) {
    ReportError("the URL cache's enumeration failed: error " + std::to_string(hidden.Error) +
                "; how many entries the settings hide is not known");
    return kExitFailed;
  }
  if (hidden.Count != 0) std::cout << "(" << CountOf(hidden.Count, "entry", "entries") << " hidden by the settings)\n";
  return kExitOk;
}

// Lists the folder whose path the plug-in wrote for the host to show.
int ShowFolder(Plugin& plugin, const std::string& hostPath) {
  std::optional<VirtualPath> path = ParseVirtualPath(hostPath);
  if (!path) throw HostError(kExitFailed, "the plug-in asks to show an unreadable path: " + hostPath);
  return ListCommand(plugin, *path);
}

int RunVerb(Plugin& plugin, const std::string& hostPath, const char* verb) {
  std::string buffer = hostPath;
  int32_t result = plugin.ExecuteFile(buffer, verb);
  std::string what = std::string(verb) + " " + VisibleText(hostPath) + ": ";
  if (result == kFsExecDone) {
    std::cout << what << ExecuteResultText(result) << '\n';
    return kExitOk;
  }
  if (result == kFsExecShowFolder) {
    std::cout << what << ExecuteResultText(result) << ", " << VisibleText(buffer) << '\n';
    return ShowFolder(plugin, buffer);
  }
  ReportError(what + ExecuteResultText(result));
  return kExitFailed;
}

}  // namespace

int ListCommand(Plugin& plugin, const VirtualPath& path, const ListOptions& options) {
  Node node = ResolveNode(plugin, path);
  std::vector<ListedItem> items = ItemsAt(plugin, node);
  RecordsByName records;
  if (options.Json || options.Long) records = RecordsOfListedEntries(plugin, node);
  if (options.Json) {
    PrintItemsAsJson(node, items, records);
  } else {
    PrintItemsAsText(items, options.Long ? &records : nullptr);
  }
  return kExitOk;
}

int TreeCommand(Plugin& plugin, const VirtualPath& path) {
  TreeNode tree = ReadTree(plugin, ResolveNode(plugin, path));
  std::cout << VisibleText(tree.Item.Path.HostForm()) << ' ' << Summary(tree) << '\n';
  PrintBranches(tree, "");
  // Such a folder still holds entries: the counts above leave them out, and
  // they are not hidden by the settings, so none are counted as hidden.
  size_t unlisted = CountUnlisted(tree);
  if (unlisted == 0) return PrintHidden(plugin, tree);
  ReportError(CountOf(unlisted, "folder", "folders") + " could not be listed; the counts leave out what " +
              (unlisted == 1 ? "it holds" : "they hold"));
  return kExitFailed;
}

int OpenCommand(Plugin& plugin, const VirtualPath& path) {
  Node node = ResolveNode(plugin, path);
  // A file manager enters a folder itself; only files get the verb.
  if (IsFolder(node.Kind)) return ListCommand(plugin, path);
  int status = RunVerb(plugin, node.Path.HostForm(), "open");
  if (status != kExitOk && !CutNameNote(node).empty()) ReportError(node.Path.HostForm() + CutNameNote(node));
  return status;
}

// The about box names the registry's cache folder; the folders the plug-in
// reads instead, when it is given any, follow it. The box reads the browser
// version and cache folder from the system folder's registry even then.
int AboutCommand(Plugin& plugin) {
  int status = RunVerb(plugin, VirtualPath{}.HostForm(), "properties");
  // The folders of --cache and --profile come in TROVEX_CACHE_1 and on, a
  // list of the environment in TROVEX_CACHE (platform/posix/stores/containers.h).
  auto names = [](const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
  };
  if (names("TROVEX_CACHE_1") || names("TROVEX_CACHE")) {
    std::cout << "With --cache or --profile, the browser version and cache folder shown come from the system "
                 "folder's registry, not from the caches read.\n";
  }
  std::vector<std::string> folders = DescribeCacheSources().InUse;
  if (!folders.empty()) std::cout << "Cache folders in use:\n";
  for (const std::string& folder : folders) std::cout << "  " << VisibleText(folder) << '\n';
  return status;
}

int RereadCommand(Plugin& plugin) {
  std::optional<std::vector<ListedItem>> root = plugin.ReadFolder(VirtualPath{}.HostForm());
  if (!root || root->empty()) throw HostError(kExitFailed, "the plug-in refused to list the root");
  return RunVerb(plugin, VirtualPath{}.Child(root->front().Name).HostForm(), "open");
}

}  // namespace trovex
