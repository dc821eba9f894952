// get: copying entries out into a local folder.
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "host/Commands.h"
#include "host/HostError.h"
#include "host/HostSystem.h"
#include "host/LocalNames.h"
#include "host/Output.h"
#include "host/TreeWalk.h"

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

// The copies to make, each entry once; an entry whose target another entry
// already takes is named and counted in failures.
std::vector<CopyJob> PlanCopies(Plugin& plugin, const std::vector<Node>& nodes, const fs::path& dest,
                                size_t& failures) {
  std::vector<CopyJob> jobs;
  std::set<std::string> sources;
  std::map<fs::path, std::string> takenBy;
  for (const Node& node : nodes) {
    for (const Node& file : FilesBelow(plugin, node)) {
      std::string source = file.Path.HostForm();
      if (!sources.insert(source).second) continue;
      fs::path target = TargetFor(file, IsFolder(node.Kind), dest);
      auto [taken, isNew] = takenBy.emplace(target, source);
      if (!isNew) {
        ReportError("cannot copy " + source + ": " + target.string() + " is already the copy of " + taken->second);
        ++failures;
        continue;
      }
      jobs.push_back(CopyJob{file, target});
    }
  }
  return jobs;
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
  std::cerr << "trovex: " << Shown(target.string()) << " exists; replace it? [y/N] " << std::flush;
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
  return outcome;
}

void ReportOutcome(const CopyJob& job, CopyOutcome outcome, bool verbose) {
  std::string source = job.Source.Path.HostForm();
  switch (outcome) {
    case CopyOutcome::Copied:
      if (verbose) std::cout << "copied " << Shown(source) << " to " << Shown(job.Target.string()) << '\n';
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

}  // namespace

int GetCommand(Plugin& plugin, const std::vector<VirtualPath>& paths, const std::string& dest,
               const GetOptions& options) {
  std::vector<Node> nodes;
  if (!ResolveEach(plugin, paths, nodes)) return kExitUsage;
  PrepareDestination(dest);
  size_t failures = 0;
  std::vector<CopyJob> jobs = PlanCopies(plugin, nodes, dest, failures);
  size_t copied = 0;
  {
    ProgressLine progress(jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
      progress.Show(i + 1);
      CopyOutcome outcome = CopyOne(plugin, jobs[i], options.Force, progress);
      if (outcome != CopyOutcome::Copied || options.Verbose) progress.Clear();
      ReportOutcome(jobs[i], outcome, options.Verbose);
      if (outcome == CopyOutcome::Copied) ++copied;
    }
  }
  size_t total = jobs.size() + failures;
  std::cout << "copied " << (copied == total ? "" : std::to_string(copied) + " of ")
            << CountOf(total, "file", "files") << " to " << dest << '\n';
  return copied == total ? kExitOk : kExitFailed;
}
