#include "bench/IndexDatDeletion.h"

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "bench/SyntheticIndex.h"
#include "platform/posix/stores/indexdat.h"
#include "platform/system.h"
#include "tests/support/TempFolder.h"

namespace trovex {

namespace {

// Points TROVEX_CACHE at one folder for a while, with no Wine prefix.
class CacheScope {
 public:
  explicit CacheScope(const std::string& folder) {
    if (const char* old = std::getenv("TROVEX_CACHE")) old_ = old;
    if (const char* prefix = std::getenv("TROVEX_WINEPREFIX")) prefix_ = prefix;
    setenv("TROVEX_CACHE", folder.c_str(), 1);
    unsetenv("TROVEX_WINEPREFIX");
  }
  ~CacheScope() {
    Restore("TROVEX_CACHE", old_);
    Restore("TROVEX_WINEPREFIX", prefix_);
  }
  CacheScope(const CacheScope&) = delete;
  CacheScope& operator=(const CacheScope&) = delete;

 private:
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::optional<std::string> old_, prefix_;
};

std::string Name(size_t entries) {
  return "DeleteIndexDat/trovex/" + std::to_string(entries);
}

// Each round puts the whole index and the deleted entries' files back
// outside the timing, and times the run of deletions with its commit.
void DeleteIndexDatBench(benchmark::State& state, size_t entries, size_t deletions) {
  TempFolder container;
  std::string folder = container.path().string();
  SyntheticIndex index = MakeSyntheticIndex(entries);
  size_t count = std::min(deletions, entries);
  std::vector<size_t> chosen;
  for (size_t k = 0; k < count; ++k) chosen.push_back(k * entries / count);
  CacheScope scope(folder);
  bool failed = false;
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(folder + "/index.dat", index.image);
    for (size_t i : chosen) WriteLocalFile(folder, index.files[i]);
    state.ResumeTiming();
    BeginCacheChanges();
    for (size_t i : chosen) failed |= DeleteUrlCacheEntryA(index.urls[i].c_str()) == FALSE;
    EndCacheChanges();
  }
  std::shared_ptr<const UrlSnapshot> left = IndexDatSnapshot(folder);
  if (failed || !left || left->Count() != entries - count) state.SkipWithError("a deletion failed");
  for (size_t i : chosen) failed |= std::filesystem::exists(folder + "/" + index.files[i]);
  if (failed) state.SkipWithError("a deleted entry's file stayed");
  state.counters["deletions"] = static_cast<double>(count);
  state.counters["index bytes"] = static_cast<double>(index.image.size());
}

}  // namespace

void RegisterIndexDatDeletions(const std::vector<size_t>& sizes, size_t deletions) {
  for (size_t entries : sizes) {
    benchmark::RegisterBenchmark(Name(entries).c_str(), DeleteIndexDatBench, entries, deletions)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(3)
        ->ReportAggregatesOnly(true);
  }
}

void PrintIndexDatDeletions(const std::vector<size_t>& sizes, size_t deletions,
                            const std::function<std::optional<double>(const std::string&)>& seconds) {
  if (sizes.empty()) return;
  std::printf("\n%-22s %9s %9s %13s %13s %9s  %s\n", "index.dat deletion", "entries", "deleted", "trovex",
              "per entry", "ratio", "target");
  std::optional<double> smallest = seconds(Name(sizes.front()));
  for (size_t entries : sizes) {
    std::optional<double> own = seconds(Name(entries));
    size_t count = std::min(deletions, entries);
    char total[32] = "-", each[32] = "-", ratio[32] = "-";
    if (own) {
      std::snprintf(total, sizeof total, "%.3f ms", *own * 1e3);
      std::snprintf(each, sizeof each, "%.3f ms", *own * 1e3 / static_cast<double>(count));
    }
    std::string notes = !own ? "no figure: MISSED" : "";
    if (own && smallest && entries != sizes.front()) {
      std::snprintf(ratio, sizeof ratio, "%.2fx", *own / *smallest);
      notes = std::string("<= 2x smallest: ") + (*own <= 2.0 * *smallest ? "ok" : "MISSED");
    }
    std::printf("%-22s %9zu %9zu %13s %13s %9s  %s\n", "DeleteIndexDat", entries, count, total, each, ratio,
                notes.c_str());
  }
}

}  // namespace trovex
