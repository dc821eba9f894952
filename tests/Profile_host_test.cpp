// trovex --profile on fake user folders built from real index.dat files, and
// get --manifest, run as the built program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/SampleProgram.h"

using namespace trovex;

namespace fs = std::filesystem;

namespace {

class Profile : public SampleProgramTest {
 protected:
  Result Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--plugin", TROVEX_PLUGIN_PATH, "--system", Temp("system")};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProgram(TROVEX_EXE, all, Temp(""));
  }

  // The folders about lists as in use, in its order.
  std::vector<std::string> FoldersInUse(const std::string& profile) {
    Result result = Run({"--profile", profile, "about"});
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_NE(result.Out.find("come from the system folder's registry"), std::string::npos) << result.Out;
    return trovex::FoldersInUse(result.Out);
  }

};

// Names in mixed case, as a disk image mounted on Linux may hold them; the
// decoys hold no index.dat or are no container of a layout.
TEST_F(Profile, FindsTheContainersOfEachLayoutInOrder) {
  std::string xp = "xp/Documents and Settings/joe";
  std::vector<std::string> xpExpected = {
      Container(xp + "/COOKIES", kContent),
      Container(xp + "/Local Settings/History/history.ie5", kHistory),
      Container(xp + "/Local Settings/History/history.ie5/mshist012013031020130311", kDaily),
      Container(xp + "/local settings/Temporary Internet Files/Content.IE5", kContent),
  };
  fs::create_directories(Temp(xp + "/Local Settings/History/history.ie5/MSHist012013031020130312"));
  Container(xp + "/Local Settings/History/history.ie5/Other", kDaily);
  Container(xp + "/Cookies2", kContent);

  std::string vista = "vista/Users/ann/AppData";
  std::string local = vista + "/Local/Microsoft/Windows";
  std::vector<std::string> vistaExpected = {
      Container(vista + "/Roaming/Microsoft/Windows/Cookies", kContent),
      Container(vista + "/Roaming/Microsoft/Windows/Cookies/low", kContent),
      Container(local + "/History/History.IE5", kHistory),
      Container(local + "/History/Low/History.IE5", kHistory),
      Container(local + "/History/Low/History.IE5/MSHist012013031020130311", kDaily),
      Container(local + "/Temporary Internet Files/Content.IE5", kContent),
      Container(local + "/TEMPORARY INTERNET FILES/LOW/CONTENT.IE5", kContent),
  };
  fs::create_directories(Temp(local + "/WebCache"));

  EXPECT_EQ(FoldersInUse(Temp(xp)), xpExpected);
  EXPECT_EQ(FoldersInUse(Temp(vista.substr(0, vista.rfind('/')))), vistaExpected);
}

// A link that leads out of the profile, to a folder or to an index file, is
// not followed; one that stays inside it is.
TEST_F(Profile, FollowsNoLinkOutOfTheProfile) {
  std::string outside = Container("outside/Content.IE5", kContent);
  std::string local = "joe/AppData/Local/Microsoft/Windows";
  fs::create_directories(Temp(local + "/Temporary Internet Files"));
  fs::create_directory_symlink(outside, Temp(local + "/Temporary Internet Files/Content.IE5"));
  fs::create_directories(Temp("joe/AppData/Roaming/Microsoft/Windows/Cookies"));
  fs::create_symlink(outside + "/index.dat", Temp("joe/AppData/Roaming/Microsoft/Windows/Cookies/index.dat"));
  std::string history = Container(local + "/History/History.IE5", kHistory);
  fs::create_directories(Temp(local + "/INetCache"));
  fs::create_directory_symlink(history, Temp(local + "/INetCache/Content.IE5"));

  EXPECT_EQ(FoldersInUse(Temp("joe")), std::vector<std::string>{history});
}

TEST_F(Profile, FailsWithoutContainers) {
  fs::create_directories(Temp("empty/AppData/Local/Microsoft/Windows/INetCache/Content.IE5"));
  for (const std::string& profile : {Temp("empty"), Temp("missing")}) {
    Result result = Run({"--profile", profile, "ls"});
    EXPECT_EQ(result.Status, 2) << profile;
    EXPECT_NE(result.Err.find(profile), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
  }
}

std::string Sha256Sum(const std::string& file) {
  std::string command = "sha256sum " + Quoted(file);
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  char line[256] = {};
  std::string sum = fgets(line, sizeof line, pipe) != nullptr ? std::string(line, 64) : std::string();
  pclose(pipe);
  return sum;
}

// The fields of one CSV line; a quoted field's "" stands for one quote.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += c;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// Each copy has its row, its SHA-256 that of the file at its target; a URL
// with quotes, commas and control bytes stays one visible field.
TEST_F(Profile, ManifestHashesEachCopy) {
  const std::string hostile = "http://www.example.com/q?a=\"x\",y\x1b[2J\x07\r";
  WriteFile(Temp("system/urlcache.txt"), "0x00000001\thttp://www.example.com/\tcache/a.htm\n"
                                         "0x00000001\t" + hostile + "\tcache/b.htm\n");
  WriteFile(Temp("system/cache/a.htm"), "alpha");
  WriteFile(Temp("system/cache/b.htm"), std::string("b\0etas", 6));
  Result result = Run({"get", "--manifest", Temp("m.csv"), "example.com", Temp("out")});
  ASSERT_EQ(result.Status, 0) << result.Err;

  std::string manifest = ReadFile(Temp("m.csv"));
  std::vector<std::vector<std::string>> rows;
  for (size_t at = 0, end; (end = manifest.find("\r\n", at)) != std::string::npos; at = end + 2) {
    std::string line = manifest.substr(at, end - at);
    for (char c : line) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << line;
    rows.push_back(CsvFields(line));
  }
  ASSERT_EQ(rows.size(), 3u) << manifest;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"url", "container", "last_modified", "expires", "last_access",
                                               "last_sync", "size", "sha256", "copy"}));
  EXPECT_EQ(rows[1][0], "http://www.example.com/");
  EXPECT_EQ(rows[2][0], "http://www.example.com/q?a=\"x\",y\\x1b[2J\\x07\\x0d");
  EXPECT_NE(manifest.find("\"http://www.example.com/q?a=\"\"x\"\",y"), std::string::npos) << manifest;
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 9u) << i;
    EXPECT_EQ(rows[i][1], Temp("system"));
    EXPECT_EQ(rows[i][6], i == 1 ? "5" : "6");
    EXPECT_EQ(rows[i][7], Sha256Sum(rows[i][8])) << rows[i][8];
    EXPECT_EQ(rows[i][7].size(), 64u);
  }
}

}  // namespace
