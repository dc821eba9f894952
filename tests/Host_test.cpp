// The trovex program, built, run against temporary system folders through
// the built plug-in library.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/Hex.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFolder.h"

using namespace trovex;

namespace fs = std::filesystem;

namespace {

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
    return RunProgram(TROVEX_EXE, arguments, Temp(""), input);
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
TEST_F(Trovex, WritesControlCharactersOfNamesVisibly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://www.example.com/\x1b]0;owned\x07", "http://www.example.com/\\x1b]0;owned\\x07"},
      {"http://www.example.com/csi\xc2\x9b" "2J", "http://www.example.com/csi\\u009b2J"},
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

// Each entry comes with every field of its record, as info --json writes it.
TEST_F(Trovex, ListsAsJsonWithEscapedNames) {
  AddEntry("http://www.example.com/q?a=\"x\"\\y", "cache/q.htm", "q");
  Result result = Run({"ls", "--json", "example.com/www.example.com"});
  EXPECT_EQ(result.Status, 0) << result.Err;
  std::string system = fs::path(System()).parent_path().string();
  auto records = [&](const std::string& url, const std::string& file, int size) {
    return ",\"records\":[{\"url\":\"" + url + "\",\"container\":\"" + system + "\",\"local_file\":\"" + system +
           "/" + file + "\",\"local_file_present\":true,\"local_file_size\":" + std::to_string(size) +
           ",\"type\":1,\"type_names\":[\"NORMAL_CACHE_ENTRY\"],\"size\":0,\"hits\":0,\"use_count\":0,"
           "\"last_modified\":null,\"expires\":null,\"last_access\":null,\"last_sync\":null,\"extension\":null,"
           "\"header\":\"\",\"exempt_delta\":0}]}";
  };
  EXPECT_EQ(result.Out,
            "{\"path\":\"\\\\example.com\\\\www.example.com\",\"items\":[\n"
            "  {\"kind\":\"file\",\"size\":18,\"name\":\"http://www.example.com/\"" +
                records("http://www.example.com/", "cache/a.htm", 18) +
                ",\n"
                "  {\"kind\":\"file\",\"size\":9,\"name\":\"http://www.example.com/img/b.gif\"" +
                records("http://www.example.com/img/b.gif", "cache/b.gif", 9) +
                ",\n"
                "  {\"kind\":\"file\",\"size\":1,\"name\":\"http://www.example.com/q?a=\\\"x\\\"\\\\y\"" +
                records("http://www.example.com/q?a=\\\"x\\\"\\\\y", "cache/q.htm", 1) + "\n]}\n");
}

// URLs a web site may choose, and how trovex shows them on a terminal.
struct HostileUrl {
  std::string Url;
  std::string Shown;
};

const std::vector<HostileUrl> kHostileUrls = {
    {"http://www.example.com/\x1b[2J\x1b]8;;http://bank.example.com/\x07",
     "http://www.example.com/\\x1b[2J\\x1b]8;;http://bank.example.com/\\x07"},
    {"http://www.example.com/a\rfile 999 http://bank.example.com/FORGED",
     "http://www.example.com/a\\x0dfile 999 http://bank.example.com/FORGED"},
    {"http://www.example.com/\xe2\x80\xaegpj.exe", "http://www.example.com/\\u202egpj.exe"},
    {"http://www.example.com/\xe2\x81\xa6iso\xe2\x81\xa9\xe2\x80\x8f", "http://www.example.com/\\u2066iso\\u2069\\u200f"},
    {"http://www.example.com/c1\xc2\x9b" "31m\xc2\x85", "http://www.example.com/c1\\u009b31m\\u0085"},
    {"http://www.example.com/raw\x9b\xff\xc3", "http://www.example.com/raw\\x9b\\xff\\xc3"},
    {"http://www.example.com/del\x7f\x08\x08\x08", "http://www.example.com/del\\x7f\\x08\\x08\\x08"},
    {"http://e\x1b[31mvil.example.com/x", "http://e\\x1b[31mvil.example.com/x"},
};

// True when text holds printable ASCII and line feeds alone.
bool OnlyPrintable(const std::string& text) {
  for (char c : text) {
    if ((c < 0x20 || c > 0x7E) && c != '\n') return false;
  }
  return true;
}

TEST_F(Trovex, ShowsHostileNamesVisiblyInEverythingItWrites) {
  for (size_t i = 0; i < kHostileUrls.size(); ++i) {
    // Every other entry lacks its local file, so that get names it in an error.
    AddEntry(kHostileUrls[i].Url, i % 2 == 0 ? "cache/h" + std::to_string(i) : "", "hostile");
  }
  const std::string evilHost = "example.com/e\x1b[31mvil.example.com";
  const std::vector<std::vector<std::string>> commands = {
      {"ls", "example.com/www.example.com"},
      {"ls", "example.com"},
      {"tree"},
      {"get", "-v", "example.com", Temp("out\x1b[2J")},
      {"--no", "open", "example.com/www.example.com/" + kHostileUrls[0].Url},
      {"ls", evilHost + "/nothing\x1b[2J"},
      {"shell"},
      {"rm", "-v", "example.com/www.example.com", evilHost},
  };
  std::string shellInput = "cd " + evilHost + "\npwd\nls\ncd \x1b[2J\n";
  std::string everything;
  for (const std::vector<std::string>& command : commands) {
    Result result = Run(command, command.front() == "shell" ? shellInput : "");
    EXPECT_TRUE(OnlyPrintable(result.Out)) << testing::PrintToString(command) << "\n" << result.Out;
    EXPECT_TRUE(OnlyPrintable(result.Err)) << testing::PrintToString(command) << "\n" << result.Err;
    everything += result.Out + result.Err;
  }
  for (const HostileUrl& url : kHostileUrls) {
    EXPECT_NE(everything.find(url.Shown), std::string::npos) << url.Shown;
  }
  EXPECT_NE(everything.find("\\example.com\\e\\x1b[31mvil.example.com\n"), std::string::npos);  // pwd
  EXPECT_NE(everything.find("no such entry: \\example.com\\e\\x1b[31mvil.example.com\\nothing\\x1b[2J\n"),
            std::string::npos);
}

// The plug-in's question before opening shows the URL as the listing does:
// a C1 control or a direction control in it reaches the terminal escaped.
TEST_F(Trovex, ShowsTheUrlInTheBoxBeforeOpeningVisibly) {
  for (size_t i : {2u, 3u, 4u}) {
    AddEntry(kHostileUrls[i].Url, "", "");
    Result result = Run({"--no", "open", "example.com/www.example.com/" + kHostileUrls[i].Url});
    EXPECT_TRUE(OnlyPrintable(result.Err)) << result.Err;
    EXPECT_NE(result.Err.find("\n" + kHostileUrls[i].Shown + "\n"), std::string::npos) << result.Err;
  }
}

// Reads ls --json with a strict JSON parser; each name's exact bytes in hex,
// one a line, the path's first. Empty when python3 is not installed.
std::string NamesFromJson(const std::string& json, const std::string& folder) {
  if (std::system("command -v python3 >/dev/null 2>&1") != 0) return {};
  WriteFile(folder + "/ls.json", json);
  WriteFile(folder + "/read.py",
            "import json, sys\n"
            "doc = json.loads(open(sys.argv[1], 'rb').read().decode('utf-8'))\n"
            "def raw(o, k): return bytes.fromhex(o[k + '_hex']) if k + '_hex' in o else o[k].encode('utf-8')\n"
            "print(raw(doc, 'path').hex())\n"
            "for item in doc['items']: print(raw(item, 'name').hex())\n");
  std::string command = "python3 " + Quoted(folder + "/read.py") + " " + Quoted(folder + "/ls.json") + " >" +
                        Quoted(folder + "/names.txt") + " 2>&1";
  if (std::system(command.c_str()) != 0) return "python3 rejects it: " + ReadFile(folder + "/names.txt");
  return ReadFile(folder + "/names.txt");
}

std::string Hex(const std::string& bytes) {
  return HexBytes(bytes) + "\n";
}

TEST_F(Trovex, ListsAsJsonThatGivesBackEveryNameExactly) {
  const std::vector<std::string> names = {
      "http://h\xff.example.org/caf\xc3\xa9\r\"q\"\\",  // the host's folder name is no UTF-8 either
      "http://h\xff.example.org/cut\xe2\x82",
      "http://h\xff.example.org/\xed\xa0\x80surrogate\xc0\xaf",
      "http://h\xff.example.org/\x01\x1f\x7f\xc2\x80\xe2\x80\xae\xf0\x9f\x98\x80",
  };
  for (const std::string& name : names) AddEntry(name, "", "");
  std::string folder = "example.org/h\xff.example.org";
  Result result = Run({"ls", "--json", folder});
  ASSERT_EQ(result.Status, 0) << result.Err;
  std::string expected = Hex("\\" + folder.replace(folder.find('/'), 1, "\\"));
  for (const std::string& name : names) expected += Hex(name);
  std::string read = NamesFromJson(result.Out, Temp(""));
  if (read.empty()) GTEST_SKIP() << "python3 is not installed";
  EXPECT_EQ(read, expected) << result.Out;
  EXPECT_NE(result.Out.find("\"name\":\"http://h\\ufffd.example.org/caf\xc3\xa9\\r\\\"q\\\"\\\\\",\"name_hex\":"),
            std::string::npos)
      << result.Out;
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
            "        `-- https://www.example.co.uk/d.html (5 bytes)\n"
            "(1 entry hidden by the settings)\n");
}

// Below a site or host folder, the hidden entries are those of its hosts;
// a settings file of the user's hides the cookies too.
TEST_F(Trovex, TreeSaysHowManyEntriesTheSettingsHideBelowItsPath) {
  AddEntry("Visited: user@http://www.example.com/", "", "", "0x00200000");
  AddEntry("Visited: user@http://www.example.com/img/b.gif", "", "", "0x00200000");
  AddEntry("Visited: user@http://www.example.com/img/b.gif", "", "", "0x00200000");
  EXPECT_TRUE(Run({"tree"}).Out.ends_with("\n(3 entries hidden by the settings)\n"));
  Result hiding = Run({"tree", "example.com"});
  EXPECT_EQ(hiding.Status, 0) << hiding.Err;
  EXPECT_TRUE(hiding.Out.ends_with("(2 entries hidden by the settings)\n")) << hiding.Out;
  EXPECT_TRUE(Run({"tree", "example.com/www.example.com"}).Out.ends_with(
      "/img/b.gif (9 bytes)\n(2 entries hidden by the settings)\n"));
  Result other = Run({"tree", "example.co.uk"});
  EXPECT_EQ(other.Out.find("hidden"), std::string::npos) << other.Out;

  WriteFile(Temp("mine.ini"), "[Options]\nShowCookies=0\nShowHistory=1\n");
  Result cookies = Run({"--settings", Temp("mine.ini"), "tree"});
  EXPECT_EQ(cookies.Status, 0) << cookies.Err;
  EXPECT_EQ(cookies.Out.find("Cookie:"), std::string::npos) << cookies.Out;
  EXPECT_NE(cookies.Out.find("Visited: user@http://www.example.com/img/b.gif"), std::string::npos) << cookies.Out;
  EXPECT_TRUE(cookies.Out.ends_with("\n(1 entry hidden by the settings)\n")) << cookies.Out;
  // The cookie's host folder is not listed then, so a site's tree, as
  // export PATH, holds none of its records.
  Result site = Run({"--settings", Temp("mine.ini"), "tree", "example.com"});
  EXPECT_EQ(site.Status, 0) << site.Err;
  EXPECT_EQ(site.Out.find("hidden"), std::string::npos) << site.Out;
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

TEST_F(Trovex, GivesUrlsThatDifferInTheCaseOfNonAsciiLettersFilesOfTheirOwn) {
  // On a file system that ignores case the second would replace the first:
  // names must differ in ASCII, which every such file system folds alike.
  AddEntry("http://www.example.com/\xc3\x89t\xc3\xa9", "cache/e1", "capital");
  AddEntry("http://www.example.com/\xc3\xa9t\xc3\xa9", "cache/e2", "small");
  std::string dest = Temp("out");
  Result result = Run({"get", "--force", "example.com/www.example.com", dest});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "copied 4 files to " + dest + "\n");
  std::set<std::string> folded;
  std::multiset<std::string> contents;
  for (const auto& item : fs::recursive_directory_iterator(dest)) {
    if (!item.is_regular_file()) continue;
    std::string name = item.path().filename().string();
    for (char& c : name) {
      EXPECT_LT(static_cast<unsigned char>(c), 0x80) << item.path();
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    folded.insert(name);
    contents.insert(ReadFile(item.path().string()));
  }
  EXPECT_EQ(folded.size(), 4u);
  EXPECT_EQ(contents,
            (std::multiset<std::string>{"<html>alpha</html>", ReadFile(System("cache/b.gif")), "capital", "small"}));
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

  // A host whose one URL is held twice is empty only after a second round.
  AddEntry(kUrlC, "cache/c2.png", "again");
  Result twice = Run({"rm", "example.com/img.example.com"});
  EXPECT_EQ(twice.Status, 0) << twice.Err;
  EXPECT_EQ(twice.Out, "deleted 2 entries\n");
}

// A URL is case-sensitive: the second twin is listed changed, its whole URL
// reaches it alone, and once its twin is gone and it takes the freed name,
// no later round of rm takes it for the entry deleted.
TEST_F(Trovex, CopiesAndDeletesOnlyTheCaseTwinNamed) {
  const std::string upper = "http://www.example.com/5.0/Controls/b.gif";
  const std::string lower = "http://www.example.com/5.0/controls/b.gif";
  AddEntry(upper, "cache/upper.gif", "upper");
  AddEntry(lower, "cache/lower.gif", "lower");
  const std::string host = "example.com/www.example.com/";
  Result copy = Run({"get", host + lower, Temp("out")});
  EXPECT_EQ(copy.Status, 0) << copy.Err;
  EXPECT_EQ(ReadFile(Temp("out/") + "http%3A%2F%2Fwww.example.com%2F5.0%2Fcontrols%2Fb.gif"), "lower");

  Result remove = Run({"rm", host + upper});
  EXPECT_EQ(remove.Status, 0) << remove.Err;
  EXPECT_EQ(remove.Out, "deleted 1 entry\n");
  EXPECT_NE(ReadFile(System("urlcache.txt")).find(lower), std::string::npos);
  EXPECT_EQ(Run({"rm", host + upper}).Status, 2) << "the twin does not answer for it";
}

// A site spelled like the changed name of a backslash site but for case
// pushes that name aside while it is there; deleting it frees the name for
// the other, which a folder name matching in any case then reaches, and
// which rm must not delete too.
TEST_F(Trovex, DeletesOnlyWhatTheFolderHeldWhenItStarted) {
  AddEntry("http://a\\b/x", "cache/x", "x");
  std::string changed = Names("/").back();
  ASSERT_TRUE(changed.starts_with("a_b~")) << changed;
  std::string upper = changed;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return std::toupper(c); });
  AddEntry("http://" + upper + "/y", "cache/y", "y");
  Result remove = Run({"rm", upper});
  EXPECT_EQ(remove.Status, 0) << remove.Err;
  EXPECT_EQ(remove.Out, "deleted 1 entry\n");
  EXPECT_NE(ReadFile(System("urlcache.txt")).find("http://a\\b/x"), std::string::npos);
  EXPECT_EQ(Names("/").back(), changed) << "the other site now has the name";
}

TEST_F(Trovex, NamesTheEntriesThePluginCouldNotDelete) {
  Result result = Run({"rm", "(Reread cache)", std::string("example.co.uk/www.example.co.uk/") + kUrlD});
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err,
            "trovex: could not delete \\(Reread cache)\n"
            "trovex: 1 entry still listed after deletion\n");
  EXPECT_EQ(result.Out, "deleted 1 entry\n");
}

TEST_F(Trovex, CopiesAndDeletesALongUrlByTheNameItIsListedUnder) {
  std::string longUrl = "http://www.example.com/" + std::string(300, 'x');
  AddEntry(longUrl, "cache/long.gif", "long");
  std::string listed = Names("example.com/www.example.com").back();
  EXPECT_EQ(listed.size(), 259u);
  EXPECT_TRUE(listed.starts_with(longUrl.substr(0, 200))) << listed;

  Result cut = Run({"get", "example.com/www.example.com/" + longUrl.substr(0, 259), Temp("cut")});
  EXPECT_NE(cut.Status, 0) << "a URL cut at 259 bytes names no entry";
  EXPECT_FALSE(std::filesystem::exists(Temp("cut")));
  Result copy = Run({"get", "example.com/www.example.com/" + listed, Temp("out")});
  EXPECT_EQ(copy.Status, 0) << copy.Err;
  Result remove = Run({"rm", "example.com/www.example.com/" + listed});
  EXPECT_EQ(remove.Status, 0) << remove.Err;
  std::vector<std::string> left = Names("example.com/www.example.com");
  EXPECT_EQ(std::find(left.begin(), left.end(), listed), left.end());
}

TEST_F(Trovex, CountsWhatItDidNotWhatThePluginReported) {
  // The library lists \example.com\locked.example.com but refuses to open
  // it, reports every deletion done and changes nothing, and reports the
  // copy of .../unwritten done without writing it.
  const std::string kHost = "\\example.com\\www.example.com\\http://www.example.com/";
  const std::string kLocked = "\\example.com\\locked.example.com";
  const std::string dest = Temp("out");
  struct Case {
    std::vector<std::string> Arguments;
    std::string Out;
    std::string Err;
  };
  const std::vector<Case> cases = {
      {{"rm", "example.com"},
       "deleted 0 entries\n",
       "trovex: still listed after deletion: " + kHost + "written\n"
       "trovex: still listed after deletion: " + kHost + "unwritten\n"
       "trovex: still listed after deletion, but the plug-in refuses to list it: " + kLocked + "\n"
       "trovex: 2 entries and 1 folder with entries still listed after deletion\n"},
      {{"rm", "example.com/locked.example.com"},
       "deleted 0 entries\n",
       "trovex: still listed after deletion, but the plug-in refuses to list it: " + kLocked + "\n"
       "trovex: 1 folder with entries still listed after deletion\n"},
      {{"get", "example.com", dest},
       "copied 1 of 2 files to " + dest + "\n",
       "trovex: cannot copy the entries of " + kLocked + ": the plug-in refused to list it\n"
       "trovex: cannot copy " + kHost + "unwritten: the plug-in reported it copied, but wrote no file\n"
       "trovex: 1 folder could not be listed; its entries were not copied\n"},
      {{"tree", "example.com"},
       "\\example.com (2 hosts, 2 entries, 14 bytes)\n"
       "|-- www.example.com (2 entries, 14 bytes)\n"
       "|   |-- http://www.example.com/written (7 bytes)\n"
       "|   `-- http://www.example.com/unwritten (7 bytes)\n"
       "`-- locked.example.com (the plug-in refused to list it)\n",
       "trovex: 1 folder could not be listed; the counts leave out what it holds\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"--plugin", TROVEX_STUBBORN_PLUGIN_PATH};
    arguments.insert(arguments.end(), c.Arguments.begin(), c.Arguments.end());
    Result result = RunBare(arguments);
    EXPECT_EQ(result.Status, 1) << testing::PrintToString(c.Arguments);
    EXPECT_EQ(result.Out, c.Out) << testing::PrintToString(c.Arguments);
    EXPECT_EQ(result.Err, c.Err) << testing::PrintToString(c.Arguments);
  }
  EXPECT_EQ(ReadFile(dest + "/example.com/www.example.com/http%3A%2F%2Fwww.example.com%2Fwritten"), "written");
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
      {"--cache", "/", "--cache", "/no/such/cache", "ls"}, {"--settings", "/no/such/Trovex.ini", "ls"}};
  for (const auto& arguments : cases) {
    Result result = RunBare(arguments);
    EXPECT_EQ(result.Status, 2) << testing::PrintToString(arguments);
    EXPECT_TRUE(result.Err.starts_with("trovex: ")) << result.Err;
  }
  Result help = RunBare({"help", "get"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("--force"), std::string::npos);
}

// A container read in part is named with what was left out of it; when not
// one container given can be read, the command fails instead of showing an
// empty cache. A folder given as "link/.." is the link's target's parent.
TEST_F(Trovex, SaysWhatItLeftOutOfTheCachesAndFailsWhenItCanReadNone) {
  std::string samples = TROVEX_INDEXDAT_SAMPLES;
  std::string whole = ReadFile(samples + "/greendale/Content.IE5/index.dat");
  std::string cut = Temp("deep/cut"), broken = Temp("broken");
  WriteFile(cut + "/index.dat", whole.substr(0, 0x8000));
  WriteFile(broken + "/index.dat", "not an index");
  WriteFile(Temp("cut/index.dat"), whole);  // what the text of "link/../cut" names
  fs::create_directories(Temp("deep/inner"));
  fs::create_directory_symlink(Temp("deep/inner"), Temp("link"));

  Result partial = Run({"--cache", Temp("link/../cut"), "about"});
  EXPECT_EQ(partial.Status, 0) << partial.Err;
  // The about box follows on stderr.
  EXPECT_TRUE(partial.Err.starts_with("trovex: " + cut + "/index.dat: cut short, 32768 of 49152 bytes; dropped 7 "
                                      "records (7 outside the file)\n"))
      << partial.Err;
  EXPECT_NE(partial.Out.find("Cache folders in use:\n  " + cut + "\n"), std::string::npos) << partial.Out;
  // The cut index is read, never rewritten: a refusal names its reason.
  Result refused = Run({"--cache", cut, "rm", "bing.com"});
  EXPECT_EQ(refused.Status, 1);
  EXPECT_NE(refused.Err.find("could not delete \\bing.com\\www.bing.com\\http://www.bing.com/favicon.ico: the "
                             "cache's index is damaged, and is left as it is\n"),
            std::string::npos)
      << refused.Err;
  EXPECT_EQ(ReadFile(cut + "/index.dat"), whole.substr(0, 0x8000));

  Result none = Run({"--cache", broken, "tree"});
  EXPECT_EQ(none.Status, 1);
  EXPECT_EQ(none.Err, "trovex: skipped " + broken + "/index.dat: too short for an index file\n"
                      "trovex: not one of the caches given can be read\n");
  EXPECT_EQ(none.Out, "");

  Result one = Run({"--cache", broken, "--cache", Temp("cut"), "tree"});
  EXPECT_EQ(one.Status, 0) << one.Err;
  EXPECT_TRUE(one.Out.starts_with("\\ (")) << one.Out;

  // The index file itself names its folder.
  Result byFile = Run({"--cache", Temp("cut/index.dat"), "tree"});
  EXPECT_EQ(byFile.Status, 0) << byFile.Err;
  EXPECT_EQ(byFile.Out, one.Out);
}

}  // namespace
