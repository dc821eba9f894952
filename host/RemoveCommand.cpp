// rm: deleting entries from the cache.
#include <iostream>
#include <set>

#include "host/Commands.h"
#include "host/HostError.h"
#include "host/Output.h"
#include "host/TreeWalk.h"

namespace {

// A folder's listing merges host names that differ in letter case and shows
// a URL held twice once, so entries can stay hidden until a refill shows
// them; rounds of deletion go on while they make progress, up to this many.
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

// The files the plug-in still lists at or below paths, each once, those it
// refused to delete before left out.
std::vector<Node> FilesLeft(Plugin& plugin, const std::vector<VirtualPath>& paths,
                            const std::set<std::string>& refused) {
  std::vector<Node> files;
  std::set<std::string> seen(refused);
  for (const VirtualPath& path : paths) {
    std::optional<Node> node = FindNode(plugin, path);
    if (!node) continue;
    for (Node& file : FilesBelow(plugin, *node)) {
      if (seen.insert(file.Path.HostForm()).second) files.push_back(std::move(file));
    }
  }
  return files;
}

// Deletes files in one delete operation; the number deleted. Each file the
// plug-in refuses is named and added to refused.
size_t DeleteRound(Plugin& plugin, const std::vector<Node>& files, const std::string& folder,
                   std::set<std::string>& refused, bool verbose) {
  size_t deleted = 0;
  DeleteOperation operation(plugin, folder);
  for (const Node& file : files) {
    std::string path = file.Path.HostForm();
    if (plugin.DeleteFile(path)) {
      ++deleted;
      if (verbose) std::cout << "deleted " << Shown(path) << '\n';
    } else {
      refused.insert(path);
      ReportError("could not delete " + path + CutNameNote(file));
    }
  }
  return deleted;
}

}  // namespace

int RemoveCommand(Plugin& plugin, const std::vector<VirtualPath>& paths, bool verbose) {
  std::vector<Node> nodes;
  if (!ResolveEach(plugin, paths, nodes)) return kExitUsage;
  for (const Node& node : nodes) {
    if (node.Kind == NodeKind::Root) throw HostError(kExitUsage, "will not delete the root \\; name the sites instead");
  }
  std::string folder = nodes.front().Path.Parent().HostForm();
  std::set<std::string> refused;
  size_t deleted = 0;
  for (int round = 0; round < kMostDeleteRounds; ++round) {
    std::vector<Node> files = FilesLeft(plugin, paths, refused);
    if (files.empty()) break;
    size_t deletedNow = DeleteRound(plugin, files, folder, refused, verbose);
    deleted += deletedNow;
    if (deletedNow == 0) break;
  }
  std::vector<Node> left = FilesLeft(plugin, paths, refused);
  for (const Node& file : left) ReportError("still listed after deletion: " + file.Path.HostForm());
  std::cout << "deleted " << CountOf(deleted, "entry", "entries") << '\n';
  return refused.empty() && left.empty() ? kExitOk : kExitFailed;
}
