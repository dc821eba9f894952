// The plug-in over damaged files: each of the URL cache, the registry, the
// settings and the language file in turn is empty, all NUL bytes, random
// bytes, cut short, written with CR-only line ends, or holds a line of
// 100 MB. What cannot be read takes its default or is skipped; what can be
// read still is; and the whole tree lists without a crash.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/PluginFixture.h"

using namespace trovex;

namespace {

using Names = std::vector<std::string>;

constexpr char kCache[] =
    "1\thttp://www.example.com/a\tcache/a\n"
    "0x00100000\tBiscuit:user@www.example.org/\t\n";
// The registry names the prefix of cookie URLs, by which their user part is
// dropped; unread, the cookie files under a site of its own.
constexpr char kRegistry[] =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Special "
    "Paths\\Cookies]\n\"CachePrefix\"=\"Biscuit:\"\n";
constexpr char kSettings[] = "Language=English\nShowCookies=1\n";

const Names kEverything = {"(Reread)", "example.com", "example.org"};

std::string Nuls() {
  return std::string(1 << 20, '\0');
}

std::string RandomBytes() {
  std::mt19937 random(2024);
  std::string bytes(1 << 16, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string HugeLine() {
  return std::string(100 << 20, 'x') + "\n";
}

std::string CrOnly(std::string text) {
  for (char& c : text)
    if (c == '\n') c = '\r';
  return text;
}

struct Row {
  const char* what;
  std::string file;
  Names root;
};

class GarbageFiles : public PluginTest {
 protected:
  // Loads the plug-in over good files but for `file` and checks the root,
  // then walks every folder.
  void Check(const std::string& file, const Row& row) {
    WriteGoodFiles();
    WriteFile(file, row.file);
    CheckLoaded(row);
  }

  void WriteGoodFiles() {
    WriteCache(kCache);
    WriteRegistry(kRegistry);
    WriteIni(kSettings);
  }

  void CheckLoaded(const Row& row) {
    LoadedPlugin& plugin = Load();
    Names root = plugin.List("\\");
    EXPECT_EQ(root, row.root) << row.what;
    for (size_t site = 1; site < root.size(); ++site) {
      for (const std::string& host : plugin.List("\\" + root[site])) {
        EXPECT_FALSE(plugin.List("\\" + root[site] + "\\" + host).empty()) << row.what;
      }
    }
    char path[] = "\\";
    EXPECT_EQ(plugin.FsExecuteFile(nullptr, path, "properties"), kFsExecDone) << row.what;
  }

  void SetUp() override { setenv("TROVEX_MSGBOX_ANSWER", "ok", 1); }
  void TearDown() override { unsetenv("TROVEX_MSGBOX_ANSWER"); }
};

}  // namespace

TEST_F(GarbageFiles, UrlCacheLinesThatCannotBeReadAreSkipped) {
  const std::string cache = kCache;
  const Row rows[] = {
      {"empty", "", {"(Reread)"}},
      {"NUL bytes", Nuls(), {"(Reread)"}},
      {"random bytes", RandomBytes(), {"(Reread)"}},
      {"cut short", cache.substr(0, cache.size() - 12), {"(Reread)", "example.com"}},
      {"CR-only line ends", CrOnly(cache), {"(Reread)"}},
      {"a 100 MB line", "1\thttp://www.example.com/a\tcache/a\n" + HugeLine() +
                            "0x00100000\tBiscuit:user@www.example.org/\t\n",
       kEverything},
  };
  for (const Row& row : rows) Check(System("urlcache.txt"), row);
}

TEST_F(GarbageFiles, RegistryValuesThatCannotBeReadTakeTheirDefaults) {
  const std::string registry = std::string("Windows Registry Editor Version 5.00\n\n") + kRegistry;
  const Names unread = {"(Reread)", "example.com", "Biscuit"};
  std::string utf16 = "\xFF\xFE";
  for (char c : registry) utf16 += std::string{c, '\0'};
  const Row rows[] = {
      {"empty", "", unread},
      {"NUL bytes", Nuls(), unread},
      {"random bytes", RandomBytes(), unread},
      {"cut short", registry.substr(0, registry.size() - 5), unread},
      {"CR-only line ends", CrOnly(registry), unread},
      {"a 100 MB line", HugeLine() + registry, kEverything},
      {"UTF-16 cut mid-character", utf16 + '\n', kEverything},
  };
  for (const Row& row : rows) Check(System("registry.reg"), row);
}

TEST_F(GarbageFiles, SettingsThatCannotBeReadTakeTheirDefaults) {
  // Without a language the texts are the built-in English ones.
  const Names unread = {"(Reread cache)", "example.com", "example.org"};
  const std::string hidden = "[Options]\nLanguage=English\nShowCookies=0\n";
  const Row rows[] = {
      {"empty", "", unread},
      {"NUL bytes", Nuls(), unread},
      {"random bytes", RandomBytes(), unread},
      {"cut short", hidden.substr(0, hidden.size() - 4), kEverything},
      {"CR-only line ends", CrOnly(hidden), {"(Reread)", "example.com"}},
      {"a 100 MB line", "[Options]\nLanguage=English\n" + HugeLine() + "ShowCookies=0\n",
       {"(Reread)", "example.com"}},
  };
  for (const Row& row : rows) Check(Lib("Trovex.ini"), row);
}

TEST_F(GarbageFiles, MessagesThatCannotBeReadAreTheBuiltInOnes) {
  const Names unread = {"(Reread cache)", "example.com", "example.org"};
  const std::string messages = "[English]\n1=Caption\n2=(Reread)\n";
  const Row rows[] = {
      {"empty", "", unread},
      {"NUL bytes", Nuls(), unread},
      {"random bytes", RandomBytes(), unread},
      {"cut short", messages.substr(0, messages.size() - 3), {"(Rerea", "example.com", "example.org"}},
      {"CR-only line ends", CrOnly(messages), kEverything},
      {"a 100 MB line", "[English]\n" + HugeLine() + "2=(Reread)\n", kEverything},
  };
  for (const Row& row : rows) Check(Lib("Trovex.lng"), row);
}

// A file of 1 TiB (sparse, so it takes no room) is not read at all: holding
// it whole would end the host, inside its loader for the registry.
TEST_F(GarbageFiles, FilesTooBigToHoldAreNotRead) {
  const Row rows[] = {
      {"urlcache.txt", "", {"(Reread)"}},
      {"registry.reg", "", {"(Reread)", "example.com", "Biscuit"}},
      {"Trovex.ini", "", {"(Reread cache)", "example.com", "example.org"}},
      {"Trovex.lng", "", {"(Reread cache)", "example.com", "example.org"}},
  };
  for (const Row& row : rows) {
    WriteGoodFiles();
    WriteFile(Lib("Trovex.lng"), "[English]\n2=(Reread)\n");
    std::string file = row.what[0] == 'T' ? Lib(row.what) : System(row.what);
    std::filesystem::resize_file(file, uintmax_t{1} << 40);
    CheckLoaded(row);
  }
}
