// The trovex program, built, run against temporary system folders through
// the built plug-in library.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int Status = -1;
  std::string Out;
  std::string Err;
};

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

constexpr char kUrlA[] = "http://www.example.com/";
constexpr char kUrlB[] = "http://www.example.com/img/b.gif";
constexpr char kUrlC[] = "http://img.example.com/c.png?v=2";
constexpr char kUrlD[] = "https://www.example.co.uk/d.html";
constexpr char kCookie[] = "Cookie:user@example.com/";

class Trovex : public ::testing::Test {
 protected:
  Trovex() {
    fs::create_directories(System());
    AddEntry(kUrlA, "cache/a.htm", "<html>alpha</html>");
    AddEntry(kUrlB, "cache/b.gif", std::string("GIF89a\0\x01\x02", 9));
    AddEntry(kUrlC, "cache/c.png", "png bytes");
    AddEntry(kUrlD, "cache/d.htm", "delta");
    AddEntry(kCookie, "cache/cookie.txt", "session", "0x00100000");
    AddEntry("Visited: user@http://hidden.example.net/", "", "", "0x00200000");
  }

  std::string System(const std::string& name = "") const { return (temp_.path() / "system" / name).string(); }
  std::string Temp(const std::string& name) const { return temp_ / name; }

  // Adds a line to the cache and, when it has one, the entry's local file.
  void AddEntry(const std::string& url, const std::string& file, const std::string& bytes,
                const std::string& type = "0x00000001") {
    cache_ += type + "\t" + url + "\t" + file + "\n";
    WriteFile(System("urlcache.txt"), cache_);
    if (!file.empty()) WriteFile(System(file), bytes);
  }

  // Runs trovex with the test's system folder and the built library, and
  // no terminal anywhere.
  Result Run(const std::vector<std::string>& arguments, const std::string& input = "") {
    std::vector<std::string> all = {"--plugin", TROVEX_PLUGIN_PATH, "--system", System()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunBare(all, input);
  }

  Result RunBare(const std::vector<std::string>& arguments, const std::string& input = "") {
    WriteFile(Temp("stdin"), input);
    std::string command = Quoted(TROVEX_EXE);
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    command += " <" + Quoted(Temp("stdin")) + " >" + Quoted(Temp("stdout")) + " 2>" + Quoted(Temp("stderr"));
    int status = std::system(command.c_str());
    Result result;
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.Out = ReadFile(Temp("stdout"));
    result.Err = ReadFile(Temp("stderr"));
    return result;
  }

  // The names of a listing, from ls's third column.
  std::vector<std::string> Names(const std::string& path) {
    Result result = Run({"ls", "--json", path});
    std::vector<std::string> names;
    for (size_t at = 0; (at = result.Out.find("\"name\":\"", at)) != std::string::npos;) {
      at += 8;
      names.push_back(result.Out.substr(at, result.Out.find('"', at) - at));
    }
    return names;
  }

 private:
  TempFolder temp_;
  std::string cache_;
};

struct ListingCase {
  std::string Path;      // without backslashes
  std::string HostPath;  // the plug-in's form
  std::string Expected;
};

TEST_F(Trovex, ListsEveryLevelInBothPathForms) {
  const std::vector<ListingCase> cases = {
      {"", "\\",
       "file    0  (Reread cache)\n"
       "folder  0  example.com\n"
       "folder  0  example.co.uk\n"},
      {"example.com", "\\example.com",
       "folder  0  www.example.com\n"
       "folder  0  img.example.com\n"
       "folder  0  example.com\n"},
      {"example.com/www.example.com/", "\\example.com\\www.example.com\\",
       "file    18  http://www.example.com/\n"
       "file     9  http://www.example.com/img/b.gif\n"},
      {std::string("example.com/img.example.com/") + kUrlC, std::string("\\example.com\\img.example.com\\") + kUrlC,
       std::string("file    9  ") + kUrlC + "\n"},
  };
  for (const ListingCase& c : cases) {
    for (const std::string& path : {c.Path, c.HostPath}) {
      Result result = Run({"ls", path});
      EXPECT_EQ(result.Status, 0) << path << "\n" << result.Err;
      EXPECT_EQ(result.Out, c.Expected) << path;
    }
  }
}

// A URL is a stranger's text: what could drive a terminal reaches it as \xHH
// in every text the program writes, and printable UTF-8 as it is.
TEST_F(Trovex, WritesControlCharactersOfNamesAsHex) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://www.example.com/\x1b]0;owned\x07", "http://www.example.com/\\x1b]0;owned\\x07"},
      {"http://www.example.com/csi\xc2\x9b" "2J", "http://www.example.com/csi\\xc2\\x9b2J"},
      {"http://www.example.com/bad\xff\xe6\x97", "http://www.example.com/bad\\xff\\xe6\\x97"},
      {"http://www.example.com/del\x7f", "http://www.example.com/del\\x7f"},
      {"http://www.example.com/caf\xc3\xa9\xe6\x97\xa5", "http://www.example.com/caf\xc3\xa9\xe6\x97\xa5"},
  };
  for (const auto& [url, shown] : cases) AddEntry(url, "", "");
  std::string host = "example.com/www.example.com";
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"ls", host}, {"tree", host}, {"rm", "-v", host + "/" + cases[0].first}}) {
    Result result = Run(command);
    EXPECT_EQ(result.Status, 0) << command[0] << result.Err;
    EXPECT_EQ(result.Out.find('\x1b'), std::string::npos) << command[0];
    EXPECT_EQ(result.Out.find('\x7f'), std::string::npos) << command[0];
    EXPECT_EQ(result.Out.find("\xc2\x9b"), std::string::npos) << command[0];
    for (const auto& [url, expected] : cases) {
      if (command[0] != "rm" || url == cases[0].first) {
        EXPECT_NE(result.Out.find(expected), std::string::npos) << command[0] << " " << expected;
      }
    }
  }
}

TEST_F(Trovex, ListsAsJsonWithEscapedNames) {
  AddEntry("http://www.example.com/q?a=\"x\"\\y", "cache/q.htm", "q");
  Result result = Run({"ls", "--json", "example.com/www.example.com"});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out,
            "{\"path\":\"\\\\example.com\\\\www.example.com\",\"items\":[\n"
            "  {\"kind\":\"file\",\"size\":18,\"name\":\"http://www.example.com/\"},\n"
            "  {\"kind\":\"file\",\"size\":9,\"name\":\"http://www.example.com/img/b.gif\"},\n"
            "  {\"kind\":\"file\",\"size\":1,\"name\":\"http://www.example.com/q?a=\\\"x\\\"\\\\y\"}\n"
            "]}\n");
}

TEST_F(Trovex, NamesAPathThatIsNotThereAndExitsWithTwo) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"example.com/nohost", "trovex: no such folder: \\example.com\\nohost\n"},
      {"nosite.com", "trovex: no such folder: \\nosite.com\n"},
      {"example.co.uk/www.example.com", "trovex: no such folder: \\example.co.uk\\www.example.com\n"},
      {"example.com/www.example.com/http://www.example.com/none", 
       "trovex: no such entry: \\example.com\\www.example.com\\http://www.example.com/none\n"},
  };
  for (const auto& [path, error] : cases) {
    Result result = Run({"ls", path});
    EXPECT_EQ(result.Status, 2) << path;
    EXPECT_EQ(result.Err, error);
    EXPECT_EQ(result.Out, "");
  }
}

TEST_F(Trovex, TreeCountsWhatLiesBelowEachFolder) {
  Result result = Run({"tree"});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out,
            "\\ (2 sites, 4 hosts, 5 entries, 48 bytes)\n"
            "|-- example.com (3 hosts, 4 entries, 43 bytes)\n"
            "|   |-- www.example.com (2 entries, 27 bytes)\n"
            "|   |   |-- http://www.example.com/ (18 bytes)\n"
            "|   |   `-- http://www.example.com/img/b.gif (9 bytes)\n"
            "|   |-- img.example.com (1 entry, 9 bytes)\n"
            "|   |   `-- http://img.example.com/c.png?v=2 (9 bytes)\n"
            "|   `-- example.com (1 entry, 7 bytes)\n"
            "|       `-- Cookie:user@example.com/ (7 bytes)\n"
            "`-- example.co.uk (1 host, 1 entry, 5 bytes)\n"
            "    `-- www.example.co.uk (1 entry, 5 bytes)\n"
            "        `-- https://www.example.co.uk/d.html (5 bytes)\n");
}

TEST_F(Trovex, CopiesAFolderTreeWithItsBytesUnderSafeNames) {
  std::string dest = Temp("out");
  Result result = Run({"get", "example.com", dest});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "copied 4 files to " + dest + "\n");
  EXPECT_EQ(ReadFile(dest + "/example.com/www.example.com/http%3A%2F%2Fwww.example.com%2F"), "<html>alpha</html>");
  EXPECT_EQ(ReadFile(dest + "/example.com/www.example.com/http%3A%2F%2Fwww.example.com%2Fimg%2Fb.gif"),
            ReadFile(System("cache/b.gif")));
  EXPECT_EQ(ReadFile(dest + "/example.com/img.example.com/http%3A%2F%2Fimg.example.com%2Fc.png%3Fv=2"), "png bytes");
  EXPECT_EQ(ReadFile(dest + "/example.com/example.com/Cookie%3Auser@example.com%2F"), "session");
}

TEST_F(Trovex, CopiesASingleEntryIntoDestItself) {
  std::string dest = Temp("one");
  Result result = Run({"get", std::string("\\example.co.uk\\www.example.co.uk\\") + kUrlD, dest});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(ReadFile(dest + "/https%3A%2F%2Fwww.example.co.uk%2Fd.html"), "delta");
}

TEST_F(Trovex, KeepsEveryCopyInsideDestWhateverTheUrlHolds) {
  AddEntry("http://www.example.com/../../../../escape1.txt", "cache/e1.txt", "one");
  AddEntry("http://../../../escape2.txt", "cache/e2.txt", "two");
  AddEntry("http://./..\\..\\escape3.txt", "cache/e3.txt", "three");
  std::string dest = Temp("deep/er/out");
  Result result = Run({"get", "/", dest});
  EXPECT_EQ(result.Status, 0) << result.Err;

  size_t inside = 0;
  for (const auto& item : fs::recursive_directory_iterator(dest)) inside += item.is_regular_file() ? 1 : 0;
  EXPECT_EQ(inside, 8u);
  for (const auto& item : fs::recursive_directory_iterator(Temp(""))) {
    std::string path = item.path().string();
    bool expected = path.starts_with(dest) || path.starts_with(System()) || path.starts_with(Temp("std"));
    EXPECT_TRUE(expected || item.is_directory()) << "written outside the destination: " << path;
  }
}

TEST_F(Trovex, KeepsAnExistingFileUnlessForced) {
  std::string dest = Temp("out");
  std::string entry = std::string("example.co.uk/www.example.co.uk/") + kUrlD;
  std::string target = dest + "/https%3A%2F%2Fwww.example.co.uk%2Fd.html";
  WriteFile(target, "mine");

  Result kept = Run({"get", entry, dest});
  EXPECT_EQ(kept.Status, 1);
  EXPECT_EQ(kept.Err, "trovex: not replaced: " + target + " exists (--force replaces it)\n");
  EXPECT_EQ(ReadFile(target), "mine");

  Result forced = Run({"get", "--force", entry, dest});
  EXPECT_EQ(forced.Status, 0) << forced.Err;
  EXPECT_EQ(ReadFile(target), "delta");
}

TEST_F(Trovex, DeletingAHostFolderTakesItsEmptySiteAlong) {
  Result result = Run({"rm", "example.co.uk/www.example.co.uk"});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "deleted 1 entry\n");
  EXPECT_EQ(Names("/"), (std::vector<std::string>{"(Reread cache)", "example.com"}));
  EXPECT_EQ(ReadFile(System("urlcache.txt")).find(kUrlD), std::string::npos);
}

TEST_F(Trovex, DeletesEntriesTheListingHidesBehindOthers) {
  // The site's listing shows the host once and the URL once; the second
  // spelling and the second copy appear only after the cache is read again.
  AddEntry(kUrlA, "cache/a2.htm", "again");
  AddEntry("http://WWW.example.com/upper.html", "cache/u.htm", "upper");
  Result result = Run({"rm", "example.com/www.example.com"});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "deleted 4 entries\n");
  EXPECT_EQ(Names("example.com"), (std::vector<std::string>{"img.example.com", "example.com"}));
}

TEST_F(Trovex, NamesTheEntriesThePluginCouldNotDelete) {
  Result result = Run({"rm", "(Reread cache)", std::string("example.co.uk/www.example.co.uk/") + kUrlD});
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, "trovex: could not delete \\(Reread cache)\n");
  EXPECT_EQ(result.Out, "deleted 1 entry\n");
}

TEST_F(Trovex, ReportsACutUrlAsFailedWithoutCrashing) {
  std::string longUrl = "http://www.example.com/" + std::string(300, 'x');
  AddEntry(longUrl, "cache/long.gif", "long");
  std::string cut = longUrl.substr(0, 259);
  EXPECT_EQ(Names("example.com/www.example.com").back(), cut);

  Result copy = Run({"get", "example.com/www.example.com/" + cut, Temp("out")});
  EXPECT_EQ(copy.Status, 1);
  EXPECT_NE(copy.Err.find("the plug-in could not copy it (the listing cuts names at 259 bytes)"), std::string::npos)
      << copy.Err;
  Result remove = Run({"rm", "example.com/www.example.com/" + cut});
  EXPECT_EQ(remove.Status, 1);
  EXPECT_NE(remove.Err.find("could not delete"), std::string::npos) << remove.Err;
}

TEST_F(Trovex, RunsTheVerbsAndShowsTheFolderThePluginAsksFor) {
  Result about = Run({"about"});
  EXPECT_EQ(about.Status, 0) << about.Err;
  EXPECT_EQ(about.Out, "properties \\: done\n");

  Result reread = Run({"reread"});
  EXPECT_EQ(reread.Status, 0) << reread.Err;
  EXPECT_TRUE(reread.Out.starts_with("open \\(Reread cache): the plug-in asks to show a folder, \\\n"
                                     "file    0  (Reread cache)\n"))
      << reread.Out;

  Result declined = Run({"--no", "open", std::string("example.co.uk/www.example.co.uk/") + kUrlD});
  EXPECT_EQ(declined.Status, 1);
  EXPECT_NE(declined.Err.find("trovex: open \\example.co.uk\\www.example.co.uk\\" + std::string(kUrlD) +
                              ": the plug-in refused or failed"),
            std::string::npos)
      << declined.Err;
}

TEST_F(Trovex, ShellKeepsACurrentFolder) {
  Result result = Run({"shell"}, "cd example.com\npwd\ncd www.example.com\nls\ncd ../nohost\npwd\ncd /nosite\n");
  EXPECT_EQ(result.Status, 2);  // the last command's
  EXPECT_EQ(result.Out,
            "\\example.com\n"
            "file    18  http://www.example.com/\n"
            "file     9  http://www.example.com/img/b.gif\n"
            "\\example.com\\www.example.com\n");
  EXPECT_EQ(result.Err, "trovex: no such folder: \\example.com\\nohost\ntrovex: no such folder: \\nosite\n");
}

TEST_F(Trovex, FindsTheLibraryBesideItself) {
  Result result = RunBare({"--system", System(), "ls", "example.co.uk"});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "folder  0  www.example.co.uk\n");
}

TEST_F(Trovex, NamesAMissingLibrary) {
  Result result = RunBare({"--plugin", Temp("none/Trovex.so"), "ls"});
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Err, "trovex: no plug-in library: " + Temp("none/Trovex.so") + "\n");
}

TEST_F(Trovex, NamesTheEntryPointsALibraryLacks) {
  Result result = RunBare({"--plugin", TROVEX_PARTIAL_PLUGIN_PATH, "ls"});
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, std::string("trovex: plug-in library ") + TROVEX_PARTIAL_PLUGIN_PATH +
                            " lacks the entry points FsGetFile, FsDeleteFile, FsExecuteFile\n");
}

TEST_F(Trovex, RejectsBadUsageBeforeLoadingAnything) {
  const std::vector<std::vector<std::string>> cases = {
      {"ls", "--bogus"}, {"get", "only-one"}, {"open"}, {"frobnicate"}, {"ls", "a//b"}, {"--bogus", "ls"}, {},
      {"--wine-prefix", "/no/such/prefix", "ls"}, {"--cache", "/no/such/cache", "ls"}, {"--cache"},
      {"--cache", "/", "--cache", "/no/such/cache", "ls"}};
  for (const auto& arguments : cases) {
    Result result = RunBare(arguments);
    EXPECT_EQ(result.Status, 2) << testing::PrintToString(arguments);
    EXPECT_TRUE(result.Err.starts_with("trovex: ")) << result.Err;
  }
  Result help = RunBare({"help", "get"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("--force"), std::string::npos);
}

}  // namespace
