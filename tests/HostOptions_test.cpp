// trovex's options for the caches and the settings, run as the built
// program on the real index.dat samples: cache folders whose path holds ':',
// a settings file of the user's choosing, and the entries tree says the
// settings hide.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/SampleProgram.h"

using namespace trovex;

namespace fs = std::filesystem;

namespace {

class HostOptions : public SampleProgramTest {
 protected:
  // trovex with the test's system folder and the built library, after the
  // environment's assignments ("NAME=VALUE") made through env(1), every
  // variable of the caches and the settings removed first.
  Result Run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
    std::vector<std::string> all = {"-u", "TROVEX_CACHE", "-u", "TROVEX_CACHE_1", "-u", "TROVEX_CACHE_2",
                                    "-u", "TROVEX_WINEPREFIX", "-u", "TROVEX_SETTINGS"};
    all.insert(all.end(), environment.begin(), environment.end());
    all.insert(all.end(), {TROVEX_EXE, "--plugin", TROVEX_PLUGIN_PATH, "--system", Temp("system")});
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProgram("env", all, Temp(""));
  }

  // The folders about lists as in use, in its order.
  std::vector<std::string> FoldersInUse(const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment = {}) {
    std::vector<std::string> about = arguments;
    about.push_back("about");
    Result result = Run(about, environment);
    EXPECT_EQ(result.Status, 0) << result.Err;
    return trovex::FoldersInUse(result.Out);
  }

  // A settings file of the test's, with the [Options] lines given.
  std::string Settings(const std::string& name, const std::string& options) {
    WriteFile(Temp(name), "[Options]\n" + options);
    return Temp(name);
  }

};

// The number of entries in tree's first line, "\ (3 sites, 4 hosts, 15
// entries, 0 bytes)"; -1 when it has none.
long EntriesOf(const std::string& tree) {
  size_t end = tree.find(" entr");
  if (end == std::string::npos || end > tree.find('\n')) return -1;
  size_t start = tree.rfind(' ', end - 1) + 1;
  return std::stol(tree.substr(start, end - start));
}

// The last line of tree when it tells what the settings hide; else empty.
std::string HiddenLine(const std::string& tree) {
  size_t start = tree.rfind('\n', tree.size() - 2);
  std::string last = tree.substr(start == std::string::npos ? 0 : start + 1);
  return last.find("hidden by the settings") == std::string::npos ? std::string() : last;
}

TEST_F(HostOptions, ReadsACacheFolderWhosePathHoldsAColon) {
  std::string colon = Container("disk:1/Content.IE5", kContent);
  std::string plain = Container("plain/History.IE5", kHistory);
  ASSERT_NE(colon.find(':'), std::string::npos);

  Result listed = Run({"--cache", colon, "ls", "bing.com"});
  EXPECT_EQ(listed.Status, 0) << listed.Err;
  EXPECT_EQ(listed.Err, "");
  EXPECT_EQ(listed.Out, "folder  0  www.bing.com\n");

  // The index file itself, and the order given, mixed with a plain folder.
  EXPECT_EQ(FoldersInUse({"--cache", plain, "--cache", colon + "/index.dat"}),
            (std::vector<std::string>{plain, colon}));

  // A profile's containers go the same way.
  std::string profile = "image:c/Users/joe";
  std::string content = Container(profile + "/AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5",
                                  kContent);
  EXPECT_EQ(FoldersInUse({"--cache", plain, "--profile", Temp(profile)}),
            (std::vector<std::string>{plain, content}));
}

// Only TROVEX_CACHE separates by ':'; the numbered variables take a folder
// each, as it is, before it. The folders given on the command line replace
// those of the environment.
TEST_F(HostOptions, TheEnvironmentsListStillSplitsAtColons) {
  std::string content = Container("content/Content.IE5", kContent);
  std::string history = Container("history/History.IE5", kHistory);
  std::string colon = Container("a:b/Content.IE5", kContent);

  EXPECT_EQ(FoldersInUse({}, {"TROVEX_CACHE=" + history + ":" + content}),
            (std::vector<std::string>{history, content}));

  Result split = Run({"tree"}, {"TROVEX_CACHE=" + colon});
  EXPECT_EQ(split.Status, 1);
  EXPECT_EQ(split.Err, "trovex: skipped " + colon.substr(0, colon.find(':')) + ": no cache index in it\n"
                       "trovex: skipped " + fs::current_path().string() + "/b/Content.IE5: no cache index in it\n"
                       "trovex: not one of the caches given can be read\n");

  EXPECT_EQ(FoldersInUse({}, {"TROVEX_CACHE_1=" + colon, "TROVEX_CACHE_2=" + history, "TROVEX_CACHE=" + content}),
            (std::vector<std::string>{colon, history, content}));
  // An empty one ends the numbered variables.
  EXPECT_EQ(FoldersInUse({}, {"TROVEX_CACHE_1=" + colon, "TROVEX_CACHE_2=", "TROVEX_CACHE_3=" + history}),
            (std::vector<std::string>{colon}));

  EXPECT_EQ(FoldersInUse({"--cache", history},
                         {"TROVEX_CACHE=" + content, "TROVEX_CACHE_1=" + colon, "TROVEX_CACHE_2=" + content}),
            (std::vector<std::string>{history}));
}

// The history sample's entries are hidden by default; a settings file of
// the user's shows them, and the tree then hides none.
TEST_F(HostOptions, ReadsTheSettingsFileGivenAndSaysWhatTheSettingsHide) {
  std::string history = Container("History.IE5", kHistory);
  std::string shown = Settings("my.ini", "ShowHistory=1\n");

  Result hiding = Run({"--cache", history, "tree"});
  EXPECT_EQ(hiding.Status, 0) << hiding.Err;
  Result showing = Run({"--settings", shown, "--cache", history, "tree"});
  EXPECT_EQ(showing.Status, 0) << showing.Err;

  EXPECT_EQ(EntriesOf(hiding.Out), 0) << hiding.Out;
  long entries = EntriesOf(showing.Out);
  EXPECT_GT(entries, 0) << showing.Out;
  EXPECT_EQ(HiddenLine(hiding.Out), "(" + std::to_string(entries) + " entries hidden by the settings)\n")
      << hiding.Out;
  EXPECT_EQ(HiddenLine(showing.Out), "") << showing.Out;
  EXPECT_NE(showing.Out.find("|-- Visited: "), std::string::npos) << showing.Out;

  // The same, a relative path and the variable: the host hands the plug-in
  // the file's absolute path.
  Result relative = RunProgram("sh",
                               {"-c", "cd \"$0\" && exec env -u TROVEX_SETTINGS \"$@\"", Temp(""), TROVEX_EXE,
                                "--plugin", TROVEX_PLUGIN_PATH, "--system", Temp("system"), "--settings=my.ini",
                                "--cache", history, "tree"},
                               Temp(""));
  EXPECT_EQ(relative.Status, 0) << relative.Err;
  EXPECT_EQ(relative.Out, showing.Out);
  Result variable = Run({"--cache", history, "tree"}, {"TROVEX_SETTINGS=" + shown});
  EXPECT_EQ(variable.Out, showing.Out);
}

// A URL that two containers hold is one entry of the tree, listed or
// hidden; the content's entries are listed whatever the history setting.
TEST_F(HostOptions, CountsAUrlHeldTwiceOnceAmongTheHidden) {
  std::string content = Container("Content.IE5", kContent);
  std::string first = Container("one/History.IE5", kHistory);
  std::string second = Container("two/History.IE5", kHistory);
  std::string shown = Settings("my.ini", "ShowHistory=1\n");

  Result once = Run({"--cache", content, "--cache", first, "tree"});
  Result twice = Run({"--cache", content, "--cache", first, "--cache", second, "tree"});
  Result showing = Run({"--settings", shown, "--cache", content, "--cache", first, "--cache", second, "tree"});
  ASSERT_EQ(once.Status, 0) << once.Err;
  ASSERT_EQ(twice.Status, 0) << twice.Err;
  ASSERT_EQ(showing.Status, 0) << showing.Err;

  EXPECT_EQ(twice.Out, once.Out);
  long hidden = EntriesOf(showing.Out) - EntriesOf(twice.Out);
  EXPECT_GT(hidden, 0);
  EXPECT_EQ(HiddenLine(twice.Out), "(" + std::to_string(hidden) + " entries hidden by the settings)\n")
      << twice.Out;
  EXPECT_EQ(HiddenLine(showing.Out), "");

  // An entry's tree hides nothing.
  Result entry = Run({"--cache", content, "--cache", first, "tree",
                      "bing.com/www.bing.com/http://www.bing.com/favicon.ico"});
  EXPECT_EQ(entry.Status, 0) << entry.Err;
  EXPECT_EQ(entry.Out, "\\bing.com\\www.bing.com\\http://www.bing.com/favicon.ico (0 bytes)\n");
}

TEST_F(HostOptions, RefusesASettingsFileItCannotRead) {
  fs::create_directories(Temp("folder.ini"));
  for (const std::string& file : {Temp("missing.ini"), Temp("folder.ini")}) {
    Result result = Run({"--settings", file, "tree"});
    EXPECT_EQ(result.Status, 2) << file;
    EXPECT_EQ(result.Err, "trovex: cannot read the settings file " + file + "\n");
    EXPECT_EQ(result.Out, "");
  }
  Result noValue = Run({"--settings"});
  EXPECT_EQ(noValue.Status, 2);

  // Given through the variable alone, a missing file gives the defaults.
  std::string history = Container("History.IE5", kHistory);
  Result fallback = Run({"--cache", history, "tree"}, {"TROVEX_SETTINGS=" + Temp("missing.ini")});
  Result defaults = Run({"--cache", history, "tree"});
  EXPECT_EQ(fallback.Status, 0) << fallback.Err;
  EXPECT_EQ(fallback.Out, defaults.Out);
  EXPECT_NE(HiddenLine(fallback.Out), "");
}

}  // namespace
