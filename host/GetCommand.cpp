// get: copying entries out into a local folder.
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "host/Commands.h"
#include "host/HostError.h"
#include "host/HostSystem.h"
#include "host/ListedRecords.h"
#include "host/LocalNames.h"
#include "host/Manifest.h"
#include "host/Output.h"
#include "host/TreeWalk.h"

namespace trovex {

namespace fs = std::filesystem;

namespace {

struct CopyJob {
  Node Source;
  fs::path Target;
};

// An entry named on its own lands in dest; one found below a named folder
// lands in dest/SITE/HOST. Every part is a safe name, never "." or "..",
// so no target leaves dest.
fs::path TargetFor(const Node& file, bool belowFolder, const fs::path& dest) {
  if (!belowFolder) return dest / LocalNameFor(file.Path.Name());
  fs::path target = dest;
  for (const std::string& part : file.Path.Parts) target /= LocalNameFor(part);
  return target;
}

// What a get finds to do, and what it cannot do before it starts.
struct CopyPlan {
  std::vector<CopyJob> Jobs;
  size_t Clashes = 0;   // entries whose target another entry already takes
  size_t Unlisted = 0;  // folders whose entries cannot be known
};

// The copies to make, each entry once; each entry whose target another
// entry already takes, and each folder the plug-in refuses to list, is named.
CopyPlan PlanCopies(Plugin& plugin, const std::vector<Node>& nodes, const fs::path& dest) {
  CopyPlan plan;
  std::set<std::string> sources;
  std::map<fs::path, std::string> takenBy;
  for (const Node& node : nodes) {
    FilesFound found = FilesBelow(plugin, node);
    for (const Node& folder : found.Unlisted) {
      ReportError("cannot copy the entries of " + folder.Path.HostForm() + ": the plug-in refused to list it");
    }
    plan.Unlisted += found.Unlisted.size();
    for (const Node& file : found.Files) {
      std::string source = file.Path.HostForm();
      if (!sources.insert(source).second) continue;
      fs::path target = TargetFor(file, IsFolder(node.Kind), dest);
      auto [taken, isNew] = takenBy.emplace(target, source);
      if (!isNew) {
        ReportError("cannot copy " + source + ": " + target.string() + " is already the copy of " + taken->second);
        ++plan.Clashes;
        continue;
      }
      plan.Jobs.push_back(CopyJob{file, target});
    }
  }
  return plan;
}

// "copying 3 of 40" on stderr, redrawn in place, when stderr is a terminal
// and more than one file is copied.
class ProgressLine {
 public:
  explicit ProgressLine(size_t total) : total_(total), shown_(total > 1 && StderrIsTerminal()) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Show(size_t done) {
    if (!shown_) return;
    std::cerr << "\rtrovex: copying " << done << " of " << total_ << "\x1b[K" << std::flush;
    drawn_ = true;
  }
  void Clear() {
    if (!drawn_) return;
    std::cerr << "\r\x1b[K" << std::flush;
    drawn_ = false;
  }

 private:
  size_t total_;
  bool shown_;
  bool drawn_ = false;
};

bool PersonAgreesToReplace(const fs::path& target) {
  if (!StdinIsTerminal()) return false;
  std::cerr << "trovex: " << VisibleText(target.string()) << " exists; replace it? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes";
}

CopyOutcome CopyOne(Plugin& plugin, const CopyJob& job, bool force, ProgressLine& progress) {
  std::error_code error;
  fs::create_directories(job.Target.parent_path(), error);
  if (error) {
    progress.Clear();
    ReportError("cannot make the folder " + job.Target.parent_path().string() + ": " + error.message());
    return CopyOutcome::Failed;
  }
  std::string source = job.Source.Path.HostForm();
  CopyOutcome outcome = plugin.GetFile(source, job.Target.string(), force);
  if (outcome == CopyOutcome::Exists && !force) {
    progress.Clear();
    if (PersonAgreesToReplace(job.Target)) outcome = plugin.GetFile(source, job.Target.string(), true);
  }
  // A copy is counted only when its file is there to show for it.
  if (outcome == CopyOutcome::Copied && !fs::is_regular_file(job.Target, error)) return CopyOutcome::NoFile;
  return outcome;
}

void ReportOutcome(const CopyJob& job, CopyOutcome outcome, bool verbose) {
  std::string source = job.Source.Path.HostForm();
  switch (outcome) {
    case CopyOutcome::Copied:
      if (verbose) std::cout << "copied " << VisibleText(source) << " to " << VisibleText(job.Target.string()) << '\n';
      return;
    case CopyOutcome::Exists:
      ReportError("not replaced: " + job.Target.string() + " exists (--force replaces it)");
      return;
    default:
      ReportError("cannot copy " + source + ": " + CopyOutcomeText(outcome) + CutNameNote(job.Source));
  }
}

void PrepareDestination(const fs::path& dest) {
  std::error_code error;
  if (fs::exists(dest, error) && !fs::is_directory(dest, error)) {
    throw HostError(kExitUsage, "not a folder: " + dest.string());
  }
  fs::create_directories(dest, error);
  if (error) throw HostError(kExitFailed, "cannot make the folder " + dest.string() + ": " + error.message());
}

// The first record of each job's entry, for the manifest's rows.
std::vector<std::optional<EntryRecord>> RecordsOfJobs(const std::vector<CopyJob>& jobs) {
  std::vector<Node> entries;
  for (const CopyJob& job : jobs) entries.push_back(job.Source);
  std::vector<std::optional<EntryRecord>> firsts;
  for (std::vector<EntryRecord>& records : RecordsOfEntries(entries)) {
    firsts.push_back(records.empty() ? std::nullopt : std::optional<EntryRecord>(std::move(records.front())));
  }
  return firsts;
}

}  // namespace

int GetCommand(Plugin& plugin, const std::vector<VirtualPath>& paths, const std::string& dest,
               const GetOptions& options) {
  std::vector<Node> nodes;
  if (!ResolveEach(plugin, paths, nodes)) return kExitUsage;
  PrepareDestination(dest);
  CopyPlan plan = PlanCopies(plugin, nodes, dest);
  const std::vector<CopyJob>& jobs = plan.Jobs;
  std::optional<Manifest> manifest;
  std::vector<std::optional<EntryRecord>> records;
  if (options.Manifest) {
    manifest.emplace(*options.Manifest);
    records = RecordsOfJobs(jobs);
  }
  size_t copied = 0;
  size_t unrecorded = 0;  // copies the manifest lacks
  {
    ProgressLine progress(jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
      progress.Show(i + 1);
      CopyOutcome outcome = CopyOne(plugin, jobs[i], options.Force, progress);
      if (outcome != CopyOutcome::Copied || options.Verbose) progress.Clear();
      ReportOutcome(jobs[i], outcome, options.Verbose);
      if (outcome != CopyOutcome::Copied) continue;
      ++copied;
      if (!manifest) continue;
      std::string url = records[i] ? records[i]->Url : jobs[i].Source.Path.Name();
      if (!manifest->Add(url, records[i], jobs[i].Target)) ++unrecorded;
    }
  }
  size_t total = jobs.size() + plan.Clashes;
  std::cout << "copied " << (copied == total ? "" : std::to_string(copied) + " of ")
            << CountOf(total, "file", "files") << " to " << VisibleText(dest) << '\n';
  if (plan.Unlisted > 0) {
    ReportError(CountOf(plan.Unlisted, "folder", "folders") + " could not be listed; " +
                (plan.Unlisted == 1 ? "its" : "their") + " entries were not copied");
  }
  if (unrecorded > 0) ReportError(CountOf(unrecorded, "copy is", "copies are") + " missing from the manifest");
  return copied == total && plan.Unlisted == 0 && unrecorded == 0 ? kExitOk : kExitFailed;
}

}  // namespace trovex
