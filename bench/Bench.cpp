// Trovex at scale: filling the snapshot, listing the three levels, copying
// entries out and deleting a host's entries, on synthetic caches of 10 000 to
// 1 000 000 entries, each figure
// beside the straightforward algorithms' (bench/Reference.h) measured in the
// same run, and the peak memory of a process that serves the whole cache.
// Filling and the root listing are measured again on a cache of the same
// shape whose names were crafted against the old index hash
// (bench/CraftedNames.h), beside the ordinary cache's figures.
//
//   trovex_bench [--sizes=10000,100000,1000000] [--operations=Fill,RootListing,...]
//                [--names=ordinary,crafted] [--deletions=1000] [--index-sizes=1000,60000]
//                [google benchmark flags]
//   trovex_bench --crafted-hosts=COUNT
//       prints COUNT host names whose old index hash has its low 16 bits
//       clear, one a line: the crafted keys of the index's unit test
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/CraftedNames.h"
#include "bench/IndexDatDeletion.h"
#include "bench/Reference.h"
#include "bench/SyntheticCache.h"
#include "platform/posix/stores/containers.h"
#include "platform/posix/shared/fileio.h"
#include "tests/support/LoadedPlugin.h"
#include "tests/support/SystemFolder.h"
#include "tests/support/TempFolder.h"

using namespace trovex;

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Beyond this size the reference root listing, quadratic in the number of
// sites, would take minutes; it is left out there.
constexpr size_t kReferenceRootLimit = 100000;
constexpr uint32_t kHiddenTypes = URLHISTORY_CACHE_ENTRY;  // as with ShowCookies on
constexpr double kMinTime = 1.0;
constexpr int kFillRepetitions = 5;

// ---- The cache of one size, the plug-in serving it, and its reference ----

// Copies are timed on a file system in memory where there is one, so that
// the figures show the work of the copies and not the disk's other load.
fs::path CopyFolderParent() {
  std::error_code error;
  return fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
}

class World {
 public:
  World(size_t entries, Names names)
      : names_(names), scope_(folder_ / "system"), copies_(CopyFolderParent()) {
    std::string system = folder_ / "system";
    cache_ = WriteSyntheticCache(system, copies_ / "source", entries, names);
    plugin_ = LoadPlugin(folder_ / "lib");
    plugin_->Init();
  }

  size_t Entries() const { return cache_.entries; }
  Names NamesKind() const { return names_; }
  const SyntheticCache& Cache() const { return cache_; }
  LoadedPlugin& Plugin() { return *plugin_; }
  std::string Folder(const std::string& name) const { return folder_ / name; }
  std::string CopyTargets() const { return copies_ / "out"; }

  const std::vector<ReferenceEntry>& Reference() {
    if (!reference_) reference_ = ReferenceFill(kHiddenTypes);
    return *reference_;
  }

  // A copy of the built library with the shipped settings beside it.
  static std::unique_ptr<LoadedPlugin> LoadPlugin(const fs::path& folder) {
    fs::create_directories(folder);
    for (const char* file : {"Trovex.ini", "Trovex.lng"}) {
      fs::copy_file(fs::path(TROVEX_PLUGIN_PATH).parent_path() / file, folder / file,
                    fs::copy_options::overwrite_existing);
    }
    return std::make_unique<LoadedPlugin>(folder);
  }

 private:
  Names names_;
  TempFolder folder_;
  SystemFolderScope scope_;
  TempFolder copies_;
  SyntheticCache cache_;
  std::unique_ptr<LoadedPlugin> plugin_;
  std::optional<std::vector<ReferenceEntry>> reference_;
};

std::unique_ptr<World> current;

World& WorldOf(size_t entries, Names names = Names::Ordinary) {
  if (!current || current->Entries() != entries || current->NamesKind() != names) {
    current.reset();
    current = std::make_unique<World>(entries, names);
  }
  return *current;
}

// ---- Listings through the entry points ----

std::string SitePath(const std::string& site) {
  return "\\" + site;
}

std::string HostPath(const std::string& site, const std::string& host) {
  return "\\" + site + "\\" + host;
}

// Lists path as a host does; the names handed out, or none when it fails.
std::vector<std::string> ListThroughEntryPoints(LoadedPlugin& plugin, const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA record;
  HANDLE handle = plugin.FsFindFirst(path.c_str(), &record);
  if (handle == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(record.cFileName);
  } while (plugin.FsFindNext(handle, &record) == kFsTrue);
  plugin.FsFindClose(handle);
  return names;
}

// The reference's folder as the listing hands it out: every name cut into a
// find record.
std::vector<std::string> HandOut(const std::vector<ReferenceItem>& items, bool withRereadEntry) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA record;
  if (withRereadEntry) names.emplace_back("(Reread cache)");
  for (const ReferenceItem& item : items) {
    std::memset(&record, 0, sizeof record);
    lstrcpynA(record.cFileName, item.name.c_str(), MAX_PATH);
    record.nFileSizeLow = item.size;
    names.emplace_back(record.cFileName);
  }
  return names;
}

struct Folder {
  const char* operation;
  int level;
  std::string (*path)(const SyntheticCache&);
  std::string (*name)(const SyntheticCache&);
};

const Folder kFolders[] = {
    {"RootListing", 0, [](const SyntheticCache&) { return std::string("\\"); },
     [](const SyntheticCache&) { return std::string(); }},
    {"SiteListing", 1, [](const SyntheticCache& c) { return SitePath(c.largestSite); },
     [](const SyntheticCache& c) { return c.largestSite; }},
    {"HostListing", 2, [](const SyntheticCache& c) { return HostPath(c.copySite, c.bareHost); },
     [](const SyntheticCache& c) { return c.bareHost; }},
    {"HostListingWithSizes", 2, [](const SyntheticCache& c) { return HostPath(c.copySite, c.copyHost); },
     [](const SyntheticCache& c) { return c.copyHost; }},
};

void ListingBench(benchmark::State& state, const Folder& folder, size_t entries, Names names) {
  World& world = WorldOf(entries, names);
  std::string path = folder.path(world.Cache());
  size_t items = 0;
  for (auto _ : state) {
    std::vector<std::string> names = ListThroughEntryPoints(world.Plugin(), path);
    items = names.size();
    benchmark::DoNotOptimize(names.data());
  }
  if (items == 0) state.SkipWithError("the folder listed nothing");
  state.counters["items"] = static_cast<double>(items);
}

void ReferenceListingBench(benchmark::State& state, const Folder& folder, size_t entries) {
  World& world = WorldOf(entries);
  const std::vector<ReferenceEntry>& snapshot = world.Reference();
  std::string name = folder.name(world.Cache());
  std::vector<std::string> names;
  for (auto _ : state) {
    names = HandOut(ReferenceBuild(snapshot, folder.level, name), folder.level == 0);
    benchmark::DoNotOptimize(names.data());
  }
  state.counters["items"] = static_cast<double>(names.size());
  // The plug-in must list exactly what the straightforward algorithms list.
  std::vector<std::string> listed = ListThroughEntryPoints(world.Plugin(), folder.path(world.Cache()));
  if (folder.level == 0 && !listed.empty()) listed.front() = names.front();
  if (listed != names) state.SkipWithError("the plug-in's listing differs from the reference");
}

// ---- Filling the snapshot ----

void FillBench(benchmark::State& state, size_t entries, Names names) {
  World& world = WorldOf(entries, names);
  for (auto _ : state) world.Plugin().EndDelete();  // the end of a deletion refills
  state.counters["entries"] = static_cast<double>(entries);
}

void ReferenceFillBench(benchmark::State& state, size_t entries) {
  WorldOf(entries);
  size_t count = 0;
  for (auto _ : state) {
    std::vector<ReferenceEntry> snapshot = ReferenceFill(kHiddenTypes);
    count = snapshot.size();
    benchmark::DoNotOptimize(snapshot.data());
  }
  state.counters["entries"] = static_cast<double>(count);
}

// A plain read of the whole store file into memory: the least any refill
// has to do, and what Fill's cost is set against.
void ReadStoreBench(benchmark::State& state, size_t entries) {
  World& world = WorldOf(entries);
  std::string path = world.Folder("system") + "/urlcache.txt";
  std::string text;
  for (auto _ : state) {
    if (!ReadWholeFile(path, text)) state.SkipWithError("cannot read urlcache.txt");
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["bytes"] = static_cast<double>(text.size());
}

// ---- Copying the entries of one host folder out ----

std::string CopyTarget(const std::string& folder, size_t k) {
  return folder + "/" + std::to_string(k) + ".bin";
}

// A fresh, empty target folder for each round, made outside the timing.
std::string FreshTargets(benchmark::State& state, World& world) {
  state.PauseTiming();
  std::string out = world.CopyTargets();
  fs::remove_all(out);
  fs::create_directories(out);
  state.ResumeTiming();
  return out;
}

void CopyBench(benchmark::State& state, size_t entries) {
  World& world = WorldOf(entries);
  const SyntheticCache& cache = world.Cache();
  std::string host = HostPath(cache.copySite, cache.copyHost) + "\\";
  bool failed = false;
  for (auto _ : state) {
    std::string out = FreshTargets(state, world);
    for (size_t k = 0; k < cache.copyUrls.size(); ++k) {
      std::string target = CopyTarget(out, k);
      failed |= world.Plugin().FsGetFile((host + cache.copyUrls[k]).c_str(), target.data(), 0, nullptr) != kFsCopyOk;
    }
  }
  if (failed) state.SkipWithError("a copy failed");
  state.counters["files"] = static_cast<double>(cache.copyUrls.size());
}

void ReferenceCopyBench(benchmark::State& state, size_t entries) {
  World& world = WorldOf(entries);
  const std::vector<ReferenceEntry>& snapshot = world.Reference();
  const SyntheticCache& cache = world.Cache();
  bool failed = false;
  for (auto _ : state) {
    std::string out = FreshTargets(state, world);
    for (size_t k = 0; k < cache.copyUrls.size(); ++k) {
      std::string source = ReferenceFindLocalFile(snapshot, cache.copyUrls[k]);
      failed |= !CopyFileA(source.c_str(), CopyTarget(out, k).c_str(), TRUE);
    }
  }
  if (failed) state.SkipWithError("a copy failed");
}

// The same files copied by one cp process into the target folder.
bool RunCp(const std::vector<std::string>& files, const std::string& folder) {
  std::vector<char*> argv;
  std::string cp = "cp";
  argv.push_back(cp.data());
  std::vector<std::string> args(files);
  for (std::string& file : args) argv.push_back(file.data());
  std::string target = folder + "/";
  argv.push_back(target.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawnp(&child, "cp", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void CpBench(benchmark::State& state, size_t entries) {
  World& world = WorldOf(entries);
  bool failed = false;
  for (auto _ : state) failed |= !RunCp(world.Cache().copyFiles, FreshTargets(state, world));
  if (failed) state.SkipWithError("cp failed");
}

// ---- Deleting the entries of one host folder ----

size_t deletions = kSpecialHostEntries;  // how many entries of the bare host DeleteHost deletes

// Puts the store back as it was generated, without a record of deletions.
void RestoreStore(World& world, const std::string& pristine) {
  std::error_code ignored;
  fs::remove(world.Folder("system/urlcache.txt.deleted"), ignored);
  WriteFile(world.Folder("system/urlcache.txt"), pristine);
}

// FsDeleteFile of the bare host's entries one by one, as a host deletes a
// selection; each round starts from the whole store, put back outside the
// timing, and the store is whole again afterwards for the figures that follow.
void DeleteBench(benchmark::State& state, size_t entries) {
  World& world = WorldOf(entries);
  const SyntheticCache& cache = world.Cache();
  std::string pristine = ReadFile(world.Folder("system/urlcache.txt"));
  std::string host = HostPath(cache.copySite, cache.bareHost) + "\\";
  size_t count = std::min(deletions, cache.bareUrls.size());
  bool failed = false;
  for (auto _ : state) {
    state.PauseTiming();
    RestoreStore(world, pristine);
    state.ResumeTiming();
    for (size_t k = 0; k < count; ++k)
      failed |= world.Plugin().FsDeleteFile((host + cache.bareUrls[k]).c_str()) != kFsTrue;
  }
  RestoreStore(world, pristine);
  if (failed) state.SkipWithError("a deletion failed");
  state.counters["deletions"] = static_cast<double>(count);
}

// ---- Peak memory, in a process of its own ----

long KilobytesOf(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long value = -1;
  size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, length) == 0) value = std::strtol(line + length, nullptr, 10);
  }
  std::fclose(status);
  return value;
}

// The child: start the plug-in on the cache, list the root, the largest site
// and both special hosts, copy nothing, and report the resident memory after
// the start and at its peak.
int ServeForPeakMemory(const std::string& system, const std::string& site, const std::string& copySite,
                       const std::string& host) {
  SystemFolderScope scope(system);
  TempFolder lib;
  std::unique_ptr<LoadedPlugin> plugin = World::LoadPlugin(lib.path());
  plugin->Init();
  long steady = KilobytesOf("VmRSS:");
  size_t items = ListThroughEntryPoints(*plugin, "\\").size() + ListThroughEntryPoints(*plugin, SitePath(site)).size() +
                 ListThroughEntryPoints(*plugin, HostPath(copySite, host)).size();
  std::printf("%ld %ld %zu\n", steady, KilobytesOf("VmHWM:"), items);
  return 0;
}

struct Memory {
  double steadyBytes = 0;
  double peakBytes = 0;
};

std::optional<Memory> MeasurePeakMemory(size_t entries) {
  World& world = WorldOf(entries);
  const SyntheticCache& cache = world.Cache();
  std::string command = std::string("'") + fs::read_symlink("/proc/self/exe").string() + "' --serve-for-peak-memory '" +
                        world.Folder("system") + "' '" + cache.largestSite + "' '" + cache.copySite + "' '" +
                        cache.copyHost + "'";
  std::FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return std::nullopt;
  long steady = 0, peak = 0;
  size_t items = 0;
  int read = std::fscanf(child, "%ld %ld %zu", &steady, &peak, &items);
  if (pclose(child) != 0 || read != 3 || items == 0) return std::nullopt;
  return Memory{steady * 1024.0, peak * 1024.0};
}

// ---- The summary: every figure with its ratio and its target ----

std::vector<std::string> operations;  // the operations to run; all when empty
bool ordinaryNames = true;  // run the ordinary cache's figures
bool craftedNames = true;   // run the crafted cache's

bool Wanted(const std::string& operation) {
  return operations.empty() || std::find(operations.begin(), operations.end(), operation) != operations.end();
}


struct Figure {
  double seconds = 0;
  bool valid = false;
};

double TimeUnitSeconds(benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond: return 1e-9;
    case benchmark::kMicrosecond: return 1e-6;
    case benchmark::kMillisecond: return 1e-3;
    default: return 1.0;
  }
}

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // Of repeated runs the median stands; a single run stands for itself.
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if ((run.run_type == Run::RT_Iteration && run.repetitions > 1) || run.iterations == 0) continue;
      if (run.run_type != Run::RT_Iteration && !median) continue;
      Figure& figure = figures_[run.run_name.function_name];
      figure.valid = !run.error_occurred;
      figure.seconds = median ? run.GetAdjustedRealTime() * TimeUnitSeconds(run.time_unit)
                              : run.real_accumulated_time / static_cast<double>(run.iterations);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  std::optional<double> Seconds(const std::string& name) const {
    auto found = figures_.find(name);
    if (found == figures_.end() || !found->second.valid) return std::nullopt;
    return found->second.seconds;
  }

 private:
  std::map<std::string, Figure> figures_;
};

std::string Name(const std::string& operation, const std::string& variant, size_t entries) {
  return operation + "/" + variant + "/" + std::to_string(entries);
}

std::string Milliseconds(std::optional<double> seconds) {
  if (!seconds) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f ms", *seconds * 1e3);
  return text;
}

std::string Times(std::optional<double> ratio) {
  if (!ratio) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2fx", *ratio);
  return text;
}

std::optional<double> Ratio(std::optional<double> a, std::optional<double> b) {
  if (!a || !b || *b <= 0) return std::nullopt;
  return *a / *b;
}

struct Target {
  const char* label;
  const char* operation;
  double limitSeconds;  // at 1 000 000 entries, 0 for none
  const char* against;  // what the ratio is taken against
  const char* own = "trovex";  // the figure set against it
  double maxCost = 0;  // the largest ratio of own over against, 0 for none
};

const Target kTargets[] = {
    {"Fill", "Fill", 1.0, "reference"},
    {"Fill against a read", "Fill", 0, "read", "trovex", 3.0},
    {"RootListing", "RootListing", 0.150, "reference"},
    {"SiteListing", "SiteListing", 0.100, "reference"},
    {"HostListing", "HostListing", 0.100, "reference"},
    {"HostListingWithSizes", "HostListingWithSizes", 0, "reference"},
    {"Copy1000", "Copy1000", 0, "reference"},
    {"Copy1000 against cp", "Copy1000", 0, "cp", "trovex", 2.0},
    {"Fill crafted", "Fill", 1.0, "trovex", "crafted", 1.5},
    {"RootListing crafted", "RootListing", 0.150, "trovex", "crafted", 1.5},
};

// Deleting the same number of entries should cost the same in any store:
// each size against the smallest, with a goal of at most twice.
void PrintDeletions(const SummaryReporter& report, const std::vector<size_t>& sizes) {
  if (!Wanted("DeleteHost") || sizes.empty()) return;
  std::printf("\n%-22s %9s %9s %13s %13s %9s  %s\n", "deletion", "entries", "deleted", "trovex", "per entry",
              "ratio", "target");
  std::optional<double> smallest = report.Seconds(Name("DeleteHost", "trovex", sizes.front()));
  size_t count = std::min(deletions, kSpecialHostEntries);
  for (size_t entries : sizes) {
    std::optional<double> own = report.Seconds(Name("DeleteHost", "trovex", entries));
    std::optional<double> each = own ? std::optional<double>(*own / static_cast<double>(count)) : std::nullopt;
    std::optional<double> ratio = Ratio(own, smallest);
    std::string notes = !own ? "no figure: MISSED" : entries == sizes.front() ? "" :
                        std::string("<= 2x smallest: ") + (ratio && *ratio <= 2.0 ? "ok" : "MISSED");
    std::printf("%-22s %9zu %9zu %13s %13s %9s  %s\n", "DeleteHost", entries, count, Milliseconds(own).c_str(),
                Milliseconds(each).c_str(), Times(ratio).c_str(), notes.c_str());
  }
}

void PrintSummary(const SummaryReporter& report, const std::vector<size_t>& sizes,
                  const std::map<size_t, Memory>& memory, const std::map<size_t, SyntheticCache>& caches) {
  auto verdict = [](bool ok) { return ok ? "ok" : "MISSED"; };
  std::printf("\n%-22s %9s %13s %14s %9s %9s  %s\n", "operation", "entries", "trovex", "against",
              "ratio", "x10 cost", "target");
  for (const Target& target : kTargets) {
    if (!Wanted(target.operation)) continue;
    std::optional<double> previous;
    size_t previousSize = 0;
    for (size_t entries : sizes) {
      std::optional<double> own = report.Seconds(Name(target.operation, target.own, entries));
      std::optional<double> other = report.Seconds(Name(target.operation, target.against, entries));
      bool isCost = target.maxCost > 0;
      // Against the reference the ratio is the speed-up; against cp or the
      // ordinary cache, the cost.
      std::optional<double> ratio = isCost ? Ratio(own, other) : Ratio(other, own);
      std::optional<double> growth = previousSize * 10 == entries ? Ratio(own, previous) : std::nullopt;
      std::string notes;
      if (growth) notes += std::string("x10 <= 12: ") + verdict(*growth <= 12.0) + "; ";
      if (entries == 1000000 && target.limitSeconds > 0 && own) {
        notes += "<= " + Milliseconds(target.limitSeconds) + ": " + verdict(*own <= target.limitSeconds) + "; ";
      }
      if (isCost && (entries == 1000000 || target.own != std::string("trovex")) && ratio) {
        char limit[64];
        std::snprintf(limit, sizeof limit, "<= %.1fx %s: ", target.maxCost,
                      target.against == std::string("trovex") ? "ordinary" : target.against);
        notes += limit + std::string(verdict(*ratio <= target.maxCost)) + "; ";
      }
      if (target.operation == std::string("RootListing") && !isCost && entries == 100000 && ratio) {
        notes += std::string(">= 20x reference: ") + verdict(*ratio >= 20.0) + "; ";
      }
      if (!own) notes += std::string("no figure: ") + verdict(false) + "; ";
      std::printf("%-22s %9zu %13s %14s %9s %9s  %s\n", target.label, entries, Milliseconds(own).c_str(),
                  Milliseconds(other).c_str(), Times(ratio).c_str(), Times(growth).c_str(), notes.c_str());
      previous = own;
      previousSize = entries;
    }
  }
  PrintDeletions(report, sizes);
  std::printf("\n%-22s %9s %13s %13s %13s %13s %9s  %s\n", "memory", "entries", "store", "names", "steady", "peak",
              "ratio", "target");
  for (size_t entries : sizes) {
    if (!Wanted("PeakMemory") || caches.count(entries) == 0) break;
    auto found = memory.find(entries);
    double names = static_cast<double>(caches.at(entries).nameBytes);
    double store = static_cast<double>(caches.at(entries).storeBytes);
    if (found == memory.end()) {
      std::printf("%-22s %9zu %10.1f MB %10.1f MB %13s %13s %9s  %s\n", "PeakMemory", entries, store / 1e6,
                  names / 1e6, "-", "-", "-", verdict(false));
      continue;
    }
    double ratio = found->second.peakBytes / names;
    std::string notes = entries == 1000000 ? std::string("<= 3x names: ") + verdict(ratio <= 3.0) : "";
    std::printf("%-22s %9zu %10.1f MB %10.1f MB %10.1f MB %10.1f MB %8.2fx  %s\n", "PeakMemory", entries,
                store / 1e6, names / 1e6, found->second.steadyBytes / 1e6, found->second.peakBytes / 1e6, ratio,
                notes.c_str());
  }
  std::printf("\nagainst: the reference's time, cp's, a plain read's, or for a crafted row the ordinary cache's;\n"
              "ratio: the reference's time over Trovex's (speed-up); against cp or a read, Trovex's time over theirs;\n"
              "crafted: the time on crafted names over the time on the ordinary cache of the same size;\n"
              "for memory, the peak over the bytes of the cache's URLs and local file names (store: urlcache.txt).\n"
              "x10 cost: the time at this size over the time at a tenth of it.\n");
}

// The machine is shared: its load beside the figures tells how far to trust them.
std::string LoadAverage() {
  std::FILE* file = std::fopen("/proc/loadavg", "r");
  if (file == nullptr) return "unknown";
  char text[64] = {};
  bool read = std::fgets(text, sizeof text, file) != nullptr;
  std::fclose(file);
  std::string load = read ? text : "unknown";
  return load.substr(0, load.find(' ', load.find(' ', load.find(' ') + 1) + 1));
}

// ---- Registration and the run ----

// The items of the list flag --name=a,b,c, removed from the arguments;
// fallback when the flag is not given.
std::vector<std::string> TakeListFlag(int& argc, char** argv, const std::string& name,
                                      std::vector<std::string> fallback) {
  std::string flag = "--" + name + "=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], flag.c_str(), flag.size()) != 0) continue;
    std::vector<std::string> items;
    std::stringstream list(argv[i] + flag.size());
    for (std::string item; std::getline(list, item, ',');) items.push_back(item);
    for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
    return items;
  }
  return fallback;
}


template <typename Function, typename... Args>
benchmark::internal::Benchmark* Register(const std::string& name, Function function, Args... args) {
  if (!Wanted(name.substr(0, name.find('/')))) return nullptr;
  return benchmark::RegisterBenchmark(name.c_str(), function, args...)
      ->Unit(benchmark::kMillisecond)
      ->MinTime(kMinTime)
      ->UseRealTime();
}

// A refill of the largest cache takes about a second, a single sample at
// the default minimum time: its median of a few stands instead.
void Repeat(benchmark::internal::Benchmark* benchmark) {
  if (benchmark != nullptr) benchmark->Repetitions(kFillRepetitions);
}

// The crafted cache first, so that the ordinary one stays for the peak memory.
void RegisterCrafted(size_t n) {
  Repeat(Register(Name("Fill", "crafted", n), FillBench, n, Names::Crafted));
  Register(Name("RootListing", "crafted", n), ListingBench, std::cref(kFolders[0]), n, Names::Crafted);
}

void RegisterSize(size_t n) {
  if (craftedNames) RegisterCrafted(n);
  if (!ordinaryNames) return;
  Repeat(Register(Name("Fill", "trovex", n), FillBench, n, Names::Ordinary));
  Repeat(Register(Name("Fill", "reference", n), ReferenceFillBench, n));
  Repeat(Register(Name("Fill", "read", n), ReadStoreBench, n));
  for (const Folder& folder : kFolders) {
    Register(Name(folder.operation, "trovex", n), ListingBench, std::cref(folder), n, Names::Ordinary);
    if (folder.level > 0 || n <= kReferenceRootLimit) {
      Register(Name(folder.operation, "reference", n), ReferenceListingBench, std::cref(folder), n);
    }
  }
  Register(Name("Copy1000", "trovex", n), CopyBench, n);
  Register(Name("Copy1000", "reference", n), ReferenceCopyBench, n);
  Register(Name("Copy1000", "cp", n), CpBench, n);
  // Each round rewrites the whole store outside the timing: a few rounds, the median.
  if (Wanted("DeleteHost")) {
    benchmark::RegisterBenchmark(Name("DeleteHost", "trovex", n).c_str(), DeleteBench, n)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(3)
        ->ReportAggregatesOnly(true);
  }
}

// Opening an enumeration of the whole cache through the system layer this
// program links, and closing it: the stores read into memory of the layer's
// own and split into entries, the first of them handed out.
void OpenEnumerationBench(benchmark::State& state) {
  std::vector<char> buffer(64 * 1024);
  for (auto _ : state) {
    auto size = static_cast<DWORD>(buffer.size());
    HANDLE handle = FindFirstUrlCacheEntryA(nullptr, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data()), &size);
    if (handle == nullptr) {
      state.SkipWithError("cannot open an enumeration of the cache");
      break;
    }
    FindCloseUrlCache(handle);
  }
}

// The refill of the plug-in on the stores it is set up to read against a
// plain read of the same files and against the system layer's own reading of
// them, each the median of five; nothing else runs.
int BenchRefill(const std::vector<std::string>& files) {
  TempFolder lib;
  std::unique_ptr<LoadedPlugin> plugin = World::LoadPlugin(lib.path());
  plugin->Init();
  benchmark::RegisterBenchmark("StoreFill/trovex", [&](benchmark::State& state) {
    for (auto _ : state) plugin->EndDelete();
  })->Unit(benchmark::kMillisecond)->Repetitions(kFillRepetitions)->ReportAggregatesOnly(true)->UseRealTime();
  benchmark::RegisterBenchmark("StoreFill/read", [&](benchmark::State& state) {
    std::string text;
    for (auto _ : state) {
      for (const std::string& file : files) {
        if (!ReadWholeFile(file, text)) state.SkipWithError("cannot read a store");
        benchmark::DoNotOptimize(text.data());
      }
    }
  })->Unit(benchmark::kMillisecond)->Repetitions(kFillRepetitions)->ReportAggregatesOnly(true)->UseRealTime();
  benchmark::RegisterBenchmark("StoreFill/open", OpenEnumerationBench)
      ->Unit(benchmark::kMillisecond)
      ->Repetitions(kFillRepetitions)
      ->ReportAggregatesOnly(true)
      ->UseRealTime();
  std::printf("load average (1, 5, 15 min): %s at the start\n", LoadAverage().c_str());
  benchmark::RunSpecifiedBenchmarks();
  std::printf("load average (1, 5, 15 min): %s at the end\n", LoadAverage().c_str());
  benchmark::Shutdown();
  return 0;
}

// --wine-prefix=P: the refill on the index.dat containers of the Wine
// prefix P.
int BenchWinePrefix(const std::string& prefix) {
  TempFolder system;
  setenv("TROVEX_WINEPREFIX", prefix.c_str(), 1);
  setenv("TROVEX_SYSTEM", system.path().c_str(), 1);
  std::vector<std::string> indexes;
  for (const CacheContainer& container : ConfiguredContainers()) indexes.push_back(container.Folder + "/index.dat");
  if (indexes.empty()) {
    std::fprintf(stderr, "trovex_bench: no index.dat in the Wine prefix %s\n", prefix.c_str());
    return 1;
  }
  return BenchRefill(indexes);
}

// --system=DIR: the refill on the urlcache.txt of the system folder DIR, a
// store of any shape made elsewhere.
int BenchSystemFolder(const std::string& folder) {
  unsetenv("TROVEX_WINEPREFIX");
  unsetenv("TROVEX_CACHE");
  setenv("TROVEX_SYSTEM", folder.c_str(), 1);
  return BenchRefill({folder + "/urlcache.txt"});
}

}  // namespace

// Names under one site, as a site with a wildcard name server can have
// them cached.
int PrintCraftedHosts(size_t count) {
  NameCrafter crafter(kSameSlotBits);
  for (size_t i = 0; i < count; ++i) std::printf("%s\n", crafter.Craft("h" + std::to_string(i) + "-", ".flood.example").c_str());
  return 0;
}

int main(int argc, char** argv) {
  std::vector<std::string> prefix = TakeListFlag(argc, argv, "wine-prefix", {});
  if (!prefix.empty()) {
    benchmark::Initialize(&argc, argv);
    return BenchWinePrefix(prefix.front());
  }
  std::vector<std::string> system = TakeListFlag(argc, argv, "system", {});
  if (!system.empty()) {
    benchmark::Initialize(&argc, argv);
    return BenchSystemFolder(system.front());
  }
  if (argc == 6 && std::strcmp(argv[1], "--serve-for-peak-memory") == 0) {
    return ServeForPeakMemory(argv[2], argv[3], argv[4], argv[5]);
  }
  if (argc == 2 && std::strncmp(argv[1], "--crafted-hosts=", 16) == 0) {
    return PrintCraftedHosts(std::stoul(argv[1] + 16));
  }
  std::vector<size_t> sizes;
  for (const std::string& size : TakeListFlag(argc, argv, "sizes", {"10000", "100000", "1000000"})) {
    sizes.push_back(std::stoul(size));
  }
  operations = TakeListFlag(argc, argv, "operations", {});
  std::vector<std::string> names = TakeListFlag(argc, argv, "names", {"ordinary", "crafted"});
  ordinaryNames = std::find(names.begin(), names.end(), "ordinary") != names.end();
  craftedNames = std::find(names.begin(), names.end(), "crafted") != names.end();
  deletions = std::stoul(TakeListFlag(argc, argv, "deletions", {std::to_string(deletions)}).at(0));
  std::vector<size_t> indexSizes;
  for (const std::string& size : TakeListFlag(argc, argv, "index-sizes", {"1000", "60000"})) {
    if (Wanted("DeleteIndexDat")) indexSizes.push_back(std::stoul(size));
  }
  benchmark::Initialize(&argc, argv);
  for (size_t n : sizes) RegisterSize(n);

  std::string loadBefore = LoadAverage();
  SummaryReporter report;
  std::map<size_t, Memory> memory;
  std::map<size_t, SyntheticCache> caches;
  // Benchmarks run in the order registered, one size after the other; the
  // peak memory of a size is measured while its cache still exists.
  for (size_t n : sizes) {
    benchmark::RunSpecifiedBenchmarks(&report, std::string("/") + std::to_string(n) + "(/|$)");
    if (!ordinaryNames || !Wanted("PeakMemory")) continue;
    caches[n] = WorldOf(n).Cache();
    if (std::optional<Memory> measured = MeasurePeakMemory(n)) memory[n] = *measured;
  }
  current.reset();
  // Registered only now, so that no size's run above picks them up.
  RegisterIndexDatDeletions(indexSizes, deletions);
  if (!indexSizes.empty()) benchmark::RunSpecifiedBenchmarks(&report, "^DeleteIndexDat/");
  PrintSummary(report, sizes, memory, caches);
  PrintIndexDatDeletions(indexSizes, deletions, [&report](const std::string& name) { return report.Seconds(name); });
  std::printf("load average (1, 5, 15 min): %s at the start, %s at the end, on %ld processors\n",
              loadBefore.c_str(), LoadAverage().c_str(), sysconf(_SC_NPROCESSORS_ONLN));
  benchmark::Shutdown();
  return 0;
}
