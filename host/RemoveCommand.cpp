// rm: deleting entries from the cache.
#include <algorithm>
#include <iostream>
#include <map>
#include <set>

#include "cache/ChangedName.h"
#include "host/Commands.h"
#include "host/HostError.h"
#include "host/Output.h"
#include "host/TreeWalk.h"

namespace trovex {

namespace {

// A folder's listing shows a URL held twice once, so its second copy shows
// only after a refill; rounds of deletion go on while the plug-in reports
// deletions, up to this many, and only what is gone from the listing
// afterwards counts.
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

// One entry rm deletes: one the named places held when rm started.
struct Target {
  Node Entry;           // as listed then
  size_t Reported = 0;  // the deletions the plug-in reported
  bool Refused = false;
};

// What the plug-in lists at or below paths now, each file once; with the
// folders it refuses to list, whose entries are still there but cannot be
// counted.
FilesFound FilesLeft(Plugin& plugin, const std::vector<VirtualPath>& paths) {
  FilesFound left;
  std::set<std::string> seen;
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

// The entries rm deletes, each once: an entry named both by its listed
// name and by its whole URL is one.
std::vector<Target> TargetsOf(const FilesFound& found) {
  std::vector<Target> targets;
  std::set<std::string> seen;
  for (const Node& file : found.Files) {
    if (seen.insert(file.Url ? "url " + *file.Url : "path " + file.Path.HostForm()).second) {
      targets.push_back(Target{file});
    }
  }
  return targets;
}

// A later listing, to find the targets' entries in: an entry whose URL is
// known by that URL (listed whole or changed), any other by its listed path.
class ListedNow {
 public:
  explicit ListedNow(const std::vector<Node>& files) {
    for (const Node& file : files) {
      if (file.Url) byUrl_.emplace(*file.Url, &file);
      byName_.emplace(file.Path.Name(), &file);
      byPath_.emplace(file.Path.HostForm(), &file);
    }
  }

  // The file the listing shows for target's entry; null when none.
  const Node* Find(const Target& target) const {
    if (!target.Entry.Url) return Lookup(byPath_, target.Entry.Path.HostForm());
    if (const Node* whole = Lookup(byUrl_, *target.Entry.Url)) return whole;
    return Lookup(byName_, ChangedName(*target.Entry.Url));
  }

 private:
  using Index = std::map<std::string, const Node*>;
  static const Node* Lookup(const Index& index, const std::string& key) {
    auto found = index.find(key);
    return found == index.end() ? nullptr : found->second;
  }

  Index byUrl_;
  Index byName_;
  Index byPath_;
};

// Why the cache refused a deletion, after ": ", from the last error the
// plug-in left; empty for an entry that is not there or a reason unknown.
std::string RefusalReason(uint32_t error) {
  constexpr uint32_t kAccessDenied = 5, kInvalidData = 13, kSharingViolation = 32, kLockViolation = 33;
  switch (error) {
    case kAccessDenied: return ": access denied";
    case kInvalidData: return ": the cache's index is damaged, and is left as it is";
    case kSharingViolation: return ": the cache or the entry is in use or read only (is Wine running in its prefix?)";
    case kLockViolation: return ": another deleter held the cache for too long; try again";
    default: return "";
  }
}

// Targets to delete, each at a path.
using Round = std::vector<std::pair<Target*, VirtualPath>>;

// Deletes each target at its path in one delete operation; the number the
// plug-in reported deleted. Each one the plug-in refuses is named and
// marked, so that it is not tried again.
size_t DeleteRound(Plugin& plugin, const Round& round, const std::string& folder, bool verbose) {
  size_t reported = 0;
  DeleteOperation operation(plugin, folder);
  for (const auto& [target, at] : round) {
    std::string path = at.HostForm();
    uint32_t error = 0;
    if (plugin.DeleteFile(path, &error)) {
      ++target->Reported;
      ++reported;
      if (verbose) std::cout << "deleted " << VisibleText(path) << '\n';
    } else {
      target->Refused = true;
      ReportError("could not delete " + path + RefusalReason(error) + CutNameNote(target->Entry));
    }
  }
  return reported;
}

// The first round deletes every target by the path it was just listed or
// named by.
Round FirstRound(std::vector<Target>& targets) {
  Round round;
  for (Target& target : targets) round.emplace_back(&target, target.Entry.Path);
  return round;
}

// A later round deletes again only the targets whose URL the listing shows
// once more (a URL held twice), by that exact URL: a name from an older
// listing, or a changed name now, may have passed to another entry.
Round NextRound(std::vector<Target>& targets, const ListedNow& listed) {
  Round round;
  for (Target& target : targets) {
    if (target.Refused || !target.Entry.Url) continue;
    const Node* file = listed.Find(target);
    if (file != nullptr) round.emplace_back(&target, file->Path.Parent().Child(*target.Entry.Url));
  }
  return round;
}

// Names each target still listed after the deletion that the plug-in did
// not already refuse by name, and each folder below paths it refuses to
// list; the number of entries still listed. What a name of the paths
// designates now may be another folder: only the targets count.
size_t ReportWhatRemains(const std::vector<Target>& targets, const ListedNow& listed, const FilesFound& left) {
  size_t entries = 0;
  for (const Target& target : targets) {
    const Node* file = listed.Find(target);
    if (file == nullptr) continue;
    ++entries;
    if (!target.Refused) ReportError("still listed after deletion: " + file->Path.HostForm());
  }
  for (const Node& folder : left.Unlisted) {
    ReportError("still listed after deletion, but the plug-in refuses to list it: " + folder.Path.HostForm());
  }
  return entries;
}

// The deletions the plug-in reported of targets that are no longer listed;
// one reported deleted but still there counts for nothing.
size_t ConfirmedDeletions(const std::vector<Target>& targets, const ListedNow& listed) {
  size_t confirmed = 0;
  for (const Target& target : targets) {
    if (listed.Find(target) == nullptr) confirmed += target.Reported;
  }
  return confirmed;
}

}  // namespace

int RemoveCommand(Plugin& plugin, const std::vector<VirtualPath>& paths, bool verbose) {
  std::vector<Node> nodes;
  if (!ResolveEach(plugin, paths, nodes)) return kExitUsage;
  for (const Node& node : nodes) {
    if (node.Kind == NodeKind::Root) throw HostError(kExitUsage, "will not delete the root \\; name the sites instead");
  }
  std::string folder = nodes.front().Path.Parent().HostForm();
  std::vector<Target> targets = TargetsOf(FilesLeft(plugin, paths));
  bool deleting = !targets.empty() && DeleteRound(plugin, FirstRound(targets), folder, verbose) > 0;
  for (int round = 1; deleting && round < kMostDeleteRounds; ++round) {
    FilesFound now = FilesLeft(plugin, paths);
    Round again = NextRound(targets, ListedNow(now.Files));
    deleting = !again.empty() && DeleteRound(plugin, again, folder, verbose) > 0;
  }
  // Listed again after the last end report, which made the plug-in read the
  // cache afresh: whatever is there now was not deleted.
  FilesFound left = FilesLeft(plugin, paths);
  ListedNow listed(left.Files);
  size_t entries = ReportWhatRemains(targets, listed, left);
  std::cout << "deleted " << CountOf(ConfirmedDeletions(targets, listed), "entry", "entries") << '\n';
  bool refused = std::any_of(targets.begin(), targets.end(), [](const Target& target) { return target.Refused; });
  if (entries + left.Unlisted.size() == 0) return refused ? kExitFailed : kExitOk;
  std::string what = entries == 0 ? "" : CountOf(entries, "entry", "entries");
  if (!left.Unlisted.empty()) {
    what += (what.empty() ? "" : " and ") + CountOf(left.Unlisted.size(), "folder", "folders") + " with entries";
  }
  ReportError(what + " still listed after deletion");
  return kExitFailed;
}

}  // namespace trovex
