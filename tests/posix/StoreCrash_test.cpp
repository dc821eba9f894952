// The stores when the process that rewrites them is killed at a random
// moment: what is left is always the old or the new file, whole, and it
// reads back; the next writer neither waits for the dead one nor finds its
// leftovers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/stores/indexdat.h"
#include "platform/system.h"
#include "platform/win32api.h"
#include "tests/support/EnumeratedUrls.h"
#include "tests/support/SystemFolder.h"

using namespace trovex;

namespace {

constexpr int kRounds = 40;

// A child process that runs work() until it is killed; the parent learns
// through a pipe when it has started.
class Writer {
 public:
  template <typename Work>
  explicit Writer(Work work) {
    int ready[2];
    if (pipe(ready) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      char byte = 1;
      if (write(ready[1], &byte, 1) != 1) _exit(2);
      work();
      _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    started_ = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
  }

  bool Started() const { return started_; }

  // Kills the writer after the given pause and reaps it.
  void KillAfter(std::chrono::microseconds pause) {
    std::this_thread::sleep_for(pause);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = -1;
  bool started_ = false;
};

// Names in the system folder that are neither the given stores nor their
// lock files: what a killed writer could leave behind.
std::vector<std::string> Leftovers(const TempSystemFolder& folder, const std::vector<std::string>& keep) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    std::string name = entry.path().filename().string();
    bool known = false;
    for (const std::string& each : keep) known = known || name == each || name == each + ".lock";
    if (!known) found.push_back(name);
  }
  return found;
}

class KilledWriter : public ::testing::Test {
 protected:
  // Times one change, so that the kills can fall anywhere in the next ones
  // however fast the disk.
  template <typename Change>
  void Time(Change change) {
    auto start = std::chrono::steady_clock::now();
    change();
    change_ = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  }

  // A pause of up to `changes` changes.
  std::chrono::microseconds RandomPause(int changes = 3) {
    int most = static_cast<int>(changes * change_.count()) + 100;
    return std::chrono::microseconds(std::uniform_int_distribution<int>(0, most)(random_));
  }

  TempSystemFolder folder;
  std::mt19937 random_{std::random_device{}()};
  std::chrono::microseconds change_{1000};
};

// ---- registry.reg ---------------------------------------------------------

constexpr char kKey[] = "Software\\Crash";

std::string RegistryWithCounter(uint32_t counter) {
  char line[64];
  std::snprintf(line, sizeof line, "\"Counter\"=dword:%08x\n", counter);
  std::string file = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Crash]\n";
  file += line;
  file += "\"Other\"=\"stays as it is\"\n\n[HKEY_CURRENT_USER\\Software\\Padding]\n";
  for (int i = 0; i < 200; ++i) file += "\"Value" + std::to_string(i) + "\"=hex:00,01,02,03,04,05,06,07\n";
  return file;
}

std::optional<uint32_t> ReadCounter() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, value = 0, size = sizeof value;
  LSTATUS status = RegQueryValueExA(key, "Counter", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
  return value;
}

bool SetCounter(HKEY key, uint32_t value) {
  return RegSetValueExA(key, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

TEST_F(KilledWriter, LeavesTheRegistryOldOrNewAndWhole) {
  folder.Write("registry.reg", RegistryWithCounter(0));
  Time([] {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key);
    SetCounter(key, 0);
    RegCloseKey(key);
  });
  uint32_t highest = 0;
  for (int round = 0; round < kRounds; ++round) {
    Writer writer([] {
      HKEY key = nullptr;
      if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0) return;
      uint32_t start = ReadCounter().value_or(0);
      for (uint32_t value = start + 1;; ++value) SetCounter(key, value);
    });
    ASSERT_TRUE(writer.Started());
    writer.KillAfter(RandomPause());

    std::optional<uint32_t> counter = ReadCounter();
    ASSERT_TRUE(counter.has_value()) << "round " << round;
    EXPECT_EQ(folder.Read("registry.reg"), RegistryWithCounter(*counter)) << "round " << round;
    EXPECT_GE(*counter, highest) << "round " << round;
    highest = *counter;
  }
  // The lock died with its holder, and the next change clears what was left.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  ASSERT_TRUE(SetCounter(key, 0xC0FFEE));
  RegCloseKey(key);
  EXPECT_EQ(folder.Read("registry.reg"), RegistryWithCounter(0xC0FFEE));
  EXPECT_EQ(Leftovers(folder, {"registry.reg"}), std::vector<std::string>{});
}

// ---- urlcache.txt ---------------------------------------------------------

constexpr int kEntries = 200;

std::string Url(int i) {
  return "http://e" + std::to_string(i) + ".example/";
}

// Every tenth entry has a local file in data/.
std::string LocalFile(int i) {
  return i % 10 == 0 ? "data/" + std::to_string(i) : "";
}

// The cache after its first `deleted` entries went.
std::string CacheWithout(int deleted) {
  std::string text = "# kept comment\n";
  for (int i = deleted; i < kEntries; ++i) text += "1\t" + Url(i) + "\t" + LocalFile(i) + "\n";
  return text;
}

// A fresh cache: the store without a record of deletions.
void WriteFreshCache(const TempSystemFolder& folder) {
  std::filesystem::remove(folder.File("urlcache.txt.deleted"));
  folder.Write("urlcache.txt", CacheWithout(0));
}

// Deletions go to a record beside the store, which is folded into the store
// now and then; the kills fall anywhere in a run of deletions long enough to
// hold several folds. The store file is always whole: the original or a
// fold, its comment kept. Its record names the deletions since, in order, or
// is left over from before the last fold and then deletes nothing.
TEST_F(KilledWriter, LeavesTheUrlCacheOldOrNewAndWhole) {
  std::filesystem::create_directories(folder.File("data"));
  WriteFreshCache(folder);
  Time([] { DeleteUrlCacheEntryA(Url(1).c_str()); });
  int foldedRounds = 0, recordedRounds = 0;
  for (int round = 0; round < kRounds; ++round) {
    WriteFreshCache(folder);
    for (int i = 0; i < kEntries; i += 10) folder.Write(LocalFile(i), "x");
    Writer writer([] {
      for (int i = 0; i < kEntries; ++i) DeleteUrlCacheEntryA(Url(i).c_str());
    });
    ASSERT_TRUE(writer.Started());
    writer.KillAfter(RandomPause(60));

    std::vector<std::string> urls = EnumeratedUrls();
    int deleted = kEntries - static_cast<int>(urls.size());
    std::string store = folder.Read("urlcache.txt");
    int folded = kEntries - static_cast<int>(TempSystemFolder::UrlsOfLines(store).size());
    ASSERT_EQ(store, CacheWithout(folded)) << "round " << round;
    std::vector<std::string> recorded = folder.RecordedUrls();
    if (deleted > folded) {
      ASSERT_EQ(recorded.size(), static_cast<size_t>(deleted - folded)) << "round " << round;
      for (int i = folded; i < deleted; ++i) ASSERT_EQ(recorded[static_cast<size_t>(i - folded)], Url(i));
    }
    foldedRounds += folded > 0 ? 1 : 0;
    recordedRounds += deleted > folded ? 1 : 0;
    for (int i = deleted; i < kEntries; ++i) {
      ASSERT_EQ(urls[static_cast<size_t>(i - deleted)], Url(i)) << "round " << round;
      if (!LocalFile(i).empty()) {
        ASSERT_TRUE(std::filesystem::exists(folder.File(LocalFile(i))))
            << "the local file of a remaining entry went, round " << round;
      }
    }
  }
  EXPECT_GT(foldedRounds, 0) << "no kill came after a fold";
  EXPECT_GT(recordedRounds, 0) << "no kill left deletions in the record";
  // The lock died with its holder, and the next change clears what was left.
  WriteFreshCache(folder);
  ASSERT_TRUE(DeleteUrlCacheEntryA(Url(0).c_str()));
  EXPECT_EQ(folder.UrlsAsStored(), TempSystemFolder::UrlsOfLines(CacheWithout(1)));
  EXPECT_EQ(Leftovers(folder, {"urlcache.txt", "urlcache.txt.deleted", "data"}), std::vector<std::string>{});
}

// ---- index.dat ----------------------------------------------------------

// The URLs a container lists, in order.
std::vector<std::string> ContainerUrls(const std::string& container) {
  std::vector<std::string> urls;
  std::shared_ptr<const UrlSnapshot> snapshot = IndexDatSnapshot(container);
  if (snapshot) {
    for (size_t i = 0; i < snapshot->Count(); ++i) urls.emplace_back(snapshot->Url(i));
  }
  return urls;
}

TEST_F(KilledWriter, LeavesAnIndexDatOldOrNewAndWhole) {
  std::string container = folder.File("Content.IE5");
  std::filesystem::create_directory(container);
  std::string original = TempSystemFolder::ReadBytes(TROVEX_INDEXDAT_SAMPLES "/greendale/Content.IE5/index.dat");
  folder.Write("Content.IE5/index.dat", original);
  const std::vector<std::string> urls = ContainerUrls(container);
  ASSERT_EQ(urls.size(), 21u);
  // The index after each number of deletions, in order.
  std::vector<std::string> states{original};
  Time([&] {
    for (const std::string& url : urls) {
      ASSERT_TRUE(DeleteFromIndexDat(container, url.c_str()));
      states.push_back(folder.Read("Content.IE5/index.dat"));
    }
  });
  change_ /= static_cast<int>(urls.size());
  for (int round = 0; round < kRounds; ++round) {
    folder.Write("Content.IE5/index.dat", original);
    Writer writer([&] {
      for (const std::string& url : urls) DeleteFromIndexDat(container, url.c_str());
    });
    ASSERT_TRUE(writer.Started());
    writer.KillAfter(RandomPause() * static_cast<int>(urls.size()) / 3);

    std::string left = folder.Read("Content.IE5/index.dat");
    auto state = std::find(states.begin(), states.end(), left);
    ASSERT_NE(state, states.end()) << "a torn index, round " << round;
    size_t deleted = static_cast<size_t>(state - states.begin());
    EXPECT_EQ(ContainerUrls(container), std::vector<std::string>(urls.begin() + static_cast<std::ptrdiff_t>(deleted), urls.end()))
        << "round " << round;
  }
  // The lock died with its holder, and the next deletion clears what was left.
  folder.Write("Content.IE5/index.dat", original);
  ASSERT_TRUE(DeleteFromIndexDat(container, urls[0].c_str()));
  EXPECT_EQ(folder.Read("Content.IE5/index.dat"), states[1]);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(container)) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"index.dat"});
}

// A run of deletions is written once, at its end: a kill leaves the index
// as it was or with every deletion of the run.
TEST_F(KilledWriter, LeavesAnIndexDatOldOrNewAfterARunOfDeletions) {
  std::string container = folder.File("Content.IE5");
  std::filesystem::create_directory(container);
  std::string original = TempSystemFolder::ReadBytes(TROVEX_INDEXDAT_SAMPLES "/greendale/Content.IE5/index.dat");
  folder.Write("Content.IE5/index.dat", original);
  const std::vector<std::string> urls = ContainerUrls(container);
  setenv("TROVEX_CACHE", container.c_str(), 1);
  auto run = [&] {
    BeginCacheChanges();
    for (const std::string& url : urls) DeleteUrlCacheEntryA(url.c_str());
    EndCacheChanges();
  };
  Time(run);
  std::string all = folder.Read("Content.IE5/index.dat");
  ASSERT_TRUE(ContainerUrls(container).empty());
  int torn = 0, whole = 0;
  for (int round = 0; round < kRounds; ++round) {
    folder.Write("Content.IE5/index.dat", original);
    Writer writer(run);
    ASSERT_TRUE(writer.Started());
    writer.KillAfter(RandomPause(2));
    std::string left = folder.Read("Content.IE5/index.dat");
    torn += left != original && left != all ? 1 : 0;
    whole += left == all ? 1 : 0;
  }
  unsetenv("TROVEX_CACHE");
  EXPECT_EQ(torn, 0) << "an index with some of the run's deletions";
  EXPECT_GT(whole, 0) << "no run ended before its kill";
}

}  // namespace
