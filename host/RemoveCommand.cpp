// rm: deleting entries from the cache.
#include <iostream>
#include <map>
#include <set>

#include "host/Commands.h"
#include "host/HostError.h"
#include "host/Output.h"
#include "host/TreeWalk.h"

namespace {

// A folder's listing merges host names that differ in letter case and shows
// a URL held twice once, so entries can stay hidden until a refill shows
// them; rounds of deletion go on while the plug-in reports deletions, up to
// this many, and only what is gone from the listing afterwards counts.
constexpr int kMostDeleteRounds = 10;

// The plug-in's start and end reports of a delete operation around the
// object's life; the end report makes it read the cache again.
class DeleteOperation {
 public:
  DeleteOperation(Plugin& plugin, std::string folder) : plugin_(plugin), folder_(std::move(folder)) {
    plugin_.StatusInfo(folder_, kFsStatusStart, kFsOperationDelete);
  }
  ~DeleteOperation() { plugin_.StatusInfo(folder_, kFsStatusEnd, kFsOperationDelete); }
  DeleteOperation(const DeleteOperation&) = delete;
  DeleteOperation& operator=(const DeleteOperation&) = delete;

 private:
  Plugin& plugin_;
  std::string folder_;
};

// What the plug-in still lists at or below paths, each file once and those
// in skipped left out; with the folders it refuses to list, whose entries
// are still there but cannot be counted.
FilesFound FilesLeft(Plugin& plugin, const std::vector<VirtualPath>& paths, const std::set<std::string>& skipped) {
  FilesFound left;
  std::set<std::string> seen(skipped);
  for (const VirtualPath& path : paths) {
    std::optional<Node> node = FindNode(plugin, path);
    if (!node) continue;
    FilesFound found = FilesBelow(plugin, *node);
    for (Node& file : found.Files) {
      if (seen.insert(file.Path.HostForm()).second) left.Files.push_back(std::move(file));
    }
    for (Node& folder : found.Unlisted) {
      if (seen.insert(folder.Path.HostForm()).second) left.Unlisted.push_back(std::move(folder));
    }
  }
  return left;
}

// How often the plug-in reported each path deleted, and the paths it refused.
struct Deletions {
  std::map<std::string, size_t> Reported;
  std::set<std::string> Refused;
};

// Deletes files in one delete operation; the number the plug-in reported
// deleted. Each file the plug-in refuses is named and added to the refused.
size_t DeleteRound(Plugin& plugin, const std::vector<Node>& files, const std::string& folder, Deletions& deletions,
                   bool verbose) {
  size_t reported = 0;
  DeleteOperation operation(plugin, folder);
  for (const Node& file : files) {
    std::string path = file.Path.HostForm();
    if (plugin.DeleteFile(path)) {
      ++deletions.Reported[path];
      ++reported;
      if (verbose) std::cout << "deleted " << VisibleText(path) << '\n';
    } else {
      deletions.Refused.insert(path);
      ReportError("could not delete " + path + CutNameNote(file));
    }
  }
  return reported;
}

std::set<std::string> PathsOf(const std::vector<Node>& nodes) {
  std::set<std::string> paths;
  for (const Node& node : nodes) paths.insert(node.Path.HostForm());
  return paths;
}

// The deletions the plug-in reported of paths that are no longer listed; a
// path reported deleted but still there counts for nothing.
size_t ConfirmedDeletions(const Deletions& deletions, const std::set<std::string>& stillListed) {
  size_t confirmed = 0;
  for (const auto& [path, times] : deletions.Reported) {
    if (stillListed.count(path) == 0) confirmed += times;
  }
  return confirmed;
}

// Names what is still listed after the deletion, each entry the plug-in
// refused already named; the number of places that remain.
size_t ReportWhatRemains(const FilesFound& left, const std::set<std::string>& refused) {
  for (const Node& file : left.Files) {
    if (refused.count(file.Path.HostForm()) == 0) ReportError("still listed after deletion: " + file.Path.HostForm());
  }
  for (const Node& folder : left.Unlisted) {
    ReportError("still listed after deletion, but the plug-in refuses to list it: " + folder.Path.HostForm());
  }
  return left.Files.size() + left.Unlisted.size();
}

}  // namespace

int RemoveCommand(Plugin& plugin, const std::vector<VirtualPath>& paths, bool verbose) {
  std::vector<Node> nodes;
  if (!ResolveEach(plugin, paths, nodes)) return kExitUsage;
  for (const Node& node : nodes) {
    if (node.Kind == NodeKind::Root) throw HostError(kExitUsage, "will not delete the root \\; name the sites instead");
  }
  std::string folder = nodes.front().Path.Parent().HostForm();
  Deletions deletions;
  for (int round = 0; round < kMostDeleteRounds; ++round) {
    std::vector<Node> files = FilesLeft(plugin, paths, deletions.Refused).Files;
    if (files.empty() || DeleteRound(plugin, files, folder, deletions, verbose) == 0) break;
  }
  // Listed again after the last end report, which made the plug-in read the
  // cache afresh: whatever is there now was not deleted.
  FilesFound left = FilesLeft(plugin, paths, {});
  size_t remaining = ReportWhatRemains(left, deletions.Refused);
  size_t deleted = ConfirmedDeletions(deletions, PathsOf(left.Files));
  std::cout << "deleted " << CountOf(deleted, "entry", "entries") << '\n';
  if (remaining == 0) return deletions.Refused.empty() ? kExitOk : kExitFailed;
  std::string what = left.Files.empty() ? "" : CountOf(left.Files.size(), "entry", "entries");
  if (!left.Unlisted.empty()) {
    what += (what.empty() ? "" : " and ") + CountOf(left.Unlisted.size(), "folder", "folders") + " with entries";
  }
  ReportError(what + " still listed after deletion");
  return kExitFailed;
}
