// The "open" and "properties" commands, through the loaded library.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/PluginFixture.h"

using namespace trovex;

namespace {

constexpr char kEntry[] = "\\example.com\\www.example.com\\http://www.example.com/a b\"c.htm";
constexpr char kUrl[] = "http://www.example.com/a b\"c.htm";
constexpr char kOfflineKey[] =
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n";

// Sets TROVEX_MSGBOX_ANSWER for the life of the object.
class BoxAnswer {
 public:
  explicit BoxAnswer(const char* answer) { setenv("TROVEX_MSGBOX_ANSWER", answer, 1); }
  ~BoxAnswer() { unsetenv("TROVEX_MSGBOX_ANSWER"); }
};

class Commands : public PluginTest {
 protected:
  void SetUp() override {
    WriteCache(std::string("0x00000001\t") + kUrl + "\t\n");
    // The stand-in browser writes each argument it received on a line of its own.
    WriteFile(System("browser.sh"), "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args.tmp\"\n"
                                    "mv \"$0.args.tmp\" \"$0.args\"\n");
    chmod(System("browser.sh").c_str(), 0755);
  }

  void RegisterBrowser(const std::string& program, const std::string& more = "") {
    WriteRegistry(
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE]\n"
        "@=\"" + program + "\"\n\n" + more);
  }

  int32_t Execute(const std::string& path, const char* verb, std::string* pathAfter = nullptr) {
    std::vector<char> buffer(path.begin(), path.end());
    buffer.resize(std::max<size_t>(MAX_PATH, path.size() + 1), '\0');
    int32_t result = plugin().FsExecuteFile(nullptr, buffer.data(), verb);
    if (pathAfter != nullptr) *pathAfter = buffer.data();
    return result;
  }

  // What the stand-in browser received, once it has run; empty after a wait
  // of a few seconds when it never ran.
  std::string BrowserArguments() {
    for (int i = 0; i < 100 && !std::filesystem::exists(System("browser.sh.args")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ReadFile(System("browser.sh.args"));
  }

  // The path under which the listing shows the entry url; empty when none.
  std::string ListedPath(const std::string& url) {
    for (const std::string& site : plugin().List("\\")) {
      for (const std::string& host : plugin().List("\\" + site)) {
        std::string folder = "\\" + site + "\\" + host;
        for (const std::string& entry : plugin().List(folder)) {
          if (entry == url) return folder + "\\" + entry;
        }
      }
    }
    return {};
  }

  // What the about box and the question before opening kEntry show; the
  // question is declined.
  std::pair<std::string, std::string> ShowBoxes() {
    BoxAnswer cancel("cancel");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Execute("\\", "properties"), kFsExecDone);
    std::string about = testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Execute(kEntry, "open"), kFsExecError);
    return {about, testing::internal::GetCapturedStderr()};
  }

  bool Offline() { return ReadFile(System("registry.reg")).find("\"GlobalUserOffline\"=dword:00000001") != std::string::npos; }
};

}  // namespace

TEST_F(Commands, OpenStartsTheBrowserWithTheUrlAsOneArgument) {
  RegisterBrowser(System("browser.sh"));
  WriteIni("Language=English\nConfirmOpen=0\n");
  Load();
  EXPECT_EQ(Execute(kEntry, "open"), kFsExecDone);
  EXPECT_EQ(BrowserArguments(), std::string(kUrl) + "\n");
  EXPECT_TRUE(Offline());
}

// A browser takes an entry named like an option as one, and hands other
// schemes to other programs: only web addresses are opened, and anything
// else is refused before the user is asked or offline mode is switched.
TEST_F(Commands, OpenRefusesAnythingButAWebAddressBeforeAsking) {
  const std::string refused[] = {
      "-new-instance",
      "--gpu-launcher=xcalc http://x/",
      "file://server/share/x.hta",
      "javascript:alert(document.cookie)",
      "ms-msdt:/id PCWDiagnostic",
      "Cookie:user@www.example.com/",
      "http:www.example.com/",
      "http://www.example.com/\x1b]8;;http://bank.example.com/\x1b\\",
      "http://www.example.com/\x7F",
  };
  const std::string accepted = "HTTPS://www.example.com/upper";
  std::string cache;
  for (const std::string& url : refused) cache += "0x00000001\t" + url + "\t\n";
  WriteCache(cache + "0x00000001\t" + accepted + "\t\n");
  RegisterBrowser(System("browser.sh"), std::string(kOfflineKey) + "\"GlobalUserOffline\"=dword:00000000\n");
  Load();
  BoxAnswer ok("ok");
  // Failures name the row, not the URL: some would act on a terminal.
  for (size_t row = 0; row < std::size(refused); ++row) {
    std::string path = ListedPath(refused[row]);
    ASSERT_FALSE(path.empty()) << "row " << row << " is not listed";
    testing::internal::CaptureStderr();
    EXPECT_EQ(Execute(path, "open"), kFsExecError) << "row " << row;
    EXPECT_TRUE(testing::internal::GetCapturedStderr().empty()) << "row " << row << " asked a question";
    EXPECT_FALSE(Offline()) << "row " << row;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(System("browser.sh.args"))) << "a refused entry started the browser";

  testing::internal::CaptureStderr();
  EXPECT_EQ(Execute(ListedPath(accepted), "open"), kFsExecDone);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(accepted), std::string::npos) << "the question names it";
  EXPECT_EQ(BrowserArguments(), accepted + "\n");
  EXPECT_TRUE(Offline());
}

// The browser gets the entry's own URL, not the name it is listed under,
// and a folder is no address to open.
TEST_F(Commands, OpenHandsTheBrowserTheWholeUrlOfAChangedName) {
  const std::string url = "http://www.example.com/" + std::string(300, 'o');
  WriteCache("0x00000001\t" + url + "\t\n");
  RegisterBrowser(System("browser.sh"));
  WriteIni("Language=English\nConfirmOpen=0\n");
  LoadedPlugin& plugin = Load();
  const std::string host = "\\example.com\\www.example.com";
  std::string listed = plugin.List(host).at(0);
  ASSERT_NE(listed, url);
  EXPECT_EQ(Execute(host, "open"), kFsExecError);
  EXPECT_EQ(Execute(host + "\\" + url.substr(0, 259), "open"), kFsExecError);
  EXPECT_FALSE(std::filesystem::exists(System("browser.sh.args")));
  EXPECT_EQ(Execute(host + "\\" + listed, "open"), kFsExecDone);
  EXPECT_EQ(BrowserArguments(), url + "\n");
}

TEST_F(Commands, OpenAsksFirstWhenConfirmOpenIsOn) {
  RegisterBrowser(System("browser.sh"));
  Load();
  {
    BoxAnswer cancel("cancel");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Execute(kEntry, "open"), kFsExecError);
    std::string box = testing::internal::GetCapturedStderr();
    EXPECT_NE(box.find(std::string("Open ") + kUrl + "?"), std::string::npos) << box;
    EXPECT_NE(box.find("Trovex test"), std::string::npos) << box;
  }
  EXPECT_FALSE(Offline()) << "a declined open changes nothing";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(System("browser.sh.args")));

  BoxAnswer ok("ok");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Execute(kEntry, "open"), kFsExecDone);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(BrowserArguments(), std::string(kUrl) + "\n");
}

TEST_F(Commands, OfflineOpenOffLeavesTheBrowserSettingAlone) {
  RegisterBrowser(System("browser.sh"), std::string(kOfflineKey) + "\"GlobalUserOffline\"=dword:00000000\n");
  WriteIni("Language=English\nConfirmOpen=0\nOfflineOpen=0\n");
  Load();
  EXPECT_EQ(Execute(kEntry, "open"), kFsExecDone);
  EXPECT_FALSE(BrowserArguments().empty());
  EXPECT_NE(ReadFile(System("registry.reg")).find("\"GlobalUserOffline\"=dword:00000000"), std::string::npos);
}

TEST_F(Commands, OpenFailsWithoutABrowserThatStarts) {
  WriteIni("Language=English\nConfirmOpen=0\n");
  Load();
  EXPECT_EQ(Execute(kEntry, "open"), kFsExecError) << "no browser registered";
  EXPECT_FALSE(Offline()) << "offline mode is switched only for a browser that was found";

  RegisterBrowser(System("no-such-browser"));
  EXPECT_EQ(Execute(kEntry, "open"), kFsExecError);
  WriteFile(System("not-executable"), "#!/bin/sh\n");
  RegisterBrowser(System("not-executable"));
  EXPECT_EQ(Execute(kEntry, "open"), kFsExecError);
}

TEST_F(Commands, OfflineStartPutsTheBrowserOfflineAtEveryLoad) {
  WriteIni("Language=English\nOfflineStart=1\n");
  Load();
  EXPECT_TRUE(Offline());
  WriteRegistry(std::string(kOfflineKey) + "\"GlobalUserOffline\"=dword:00000000\n");
  std::string path;
  EXPECT_EQ(Execute("\\(Reread)", "open", &path), kFsExecShowFolder);
  EXPECT_TRUE(Offline());
}

TEST_F(Commands, PropertiesShowTheAboutBoxOnTheRootOnly) {
  WriteRegistry(
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer]\n\"Version\"=\"11.0.1\"\n\n"
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\n"
      "\"Cache\"=\"C:\\\\Cache %s\"\n");
  Load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Execute("\\", "properties"), kFsExecDone);
  std::string box = testing::internal::GetCapturedStderr();
  EXPECT_NE(box.find("Version 1.1.0, browser 11.0.1, cache C:\\Cache %s"), std::string::npos) << box;

  testing::internal::CaptureStderr();
  for (const char* path : {"\\example.com", "\\example.com\\www.example.com", kEntry, "\\(Reread)"}) {
    EXPECT_EQ(Execute(path, "properties"), kFsExecError) << path;
  }
  EXPECT_EQ(Execute("\\", "Properties"), kFsExecError);
  EXPECT_EQ(Execute(kEntry, "OPEN"), kFsExecError);
  EXPECT_EQ(Execute("\\", "delete"), kFsExecError);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "refused verbs show nothing";
}

TEST_F(Commands, TheAboutBoxFallsBackToItsDefaults) {
  Load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Execute("\\", "properties"), kFsExecDone);
  std::string box = testing::internal::GetCapturedStderr();
  EXPECT_NE(box.find("Version 1.1.0, browser 3.0, cache "), std::string::npos) << box;
}

// A registry value is anyone's to write: its control bytes show in the box
// as escapes, never reach the terminal or the window as they are.
TEST_F(Commands, TheAboutBoxShowsControlBytesVisibly) {
  WriteRegistry(
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\n"
      "\"Cache\"=\"C:\\\\Cache\x1b[2J\x07\x7F\"\n");
  Load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Execute("\\", "properties"), kFsExecDone);
  std::string box = testing::internal::GetCapturedStderr();
  EXPECT_NE(box.find("cache C:\\Cache"), std::string::npos) << "the value was read";
  for (char raw : {'\x1b', '\x07', '\x7F'}) {
    EXPECT_EQ(box.find(raw), std::string::npos) << "byte " << int(raw) << " went out raw";
  }
  for (const char* shown : {"x1B[2J", "x07", "x7F"}) EXPECT_NE(box.find(shown), std::string::npos) << shown;
}

// Without a text of its own each box still says what it asks, in the
// shipped English: an empty question answered with OK opened the browser.
TEST_F(Commands, MissingOrEmptyMessagesFallBackToTheShippedEnglishTexts) {
  const std::string shipped =
      ReadFile((std::filesystem::path(TROVEX_PLUGIN_PATH).parent_path() / "Trovex.lng").string());
  ASSERT_NE(shipped.find("[English]"), std::string::npos);
  WriteFile(Lib("Trovex.lng"), shipped);
  Load();
  const std::pair<std::string, std::string> english = ShowBoxes();
  EXPECT_NE(english.second.find(std::string("Open this address in the browser?\n\n") + kUrl), std::string::npos)
      << english.second;

  struct Row {
    const char* what;
    const char* languageFile;  // nullptr: none
    const char* settings;
  };
  const Row rows[] = {
      {"no language file", nullptr, "Language=English\n"},
      {"no such language", shipped.c_str(), "Language=Klingon\n"},
      {"no language named", shipped.c_str(), ""},
      {"no such messages", "[English]\n5=unused\n", "Language=English\n"},
      {"empty messages", "[English]\n1=\n2=\n3=\n4=\n", "Language=English\n"},
  };
  for (const Row& row : rows) {
    std::filesystem::remove(Lib("Trovex.lng"));
    if (row.languageFile != nullptr) WriteFile(Lib("Trovex.lng"), row.languageFile);
    WriteIni(row.settings);
    LoadedPlugin& plugin = Load();
    EXPECT_EQ(plugin.List("\\").front(), "(Reread cache)") << row.what;
    EXPECT_EQ(ShowBoxes(), english) << row.what;
    EXPECT_EQ(Execute("\\(Reread cache)", "open"), kFsExecShowFolder) << row.what;
  }
}

TEST_F(Commands, RereadLoadsSettingsAndCacheAndReturnsToTheRoot) {
  LoadedPlugin& plugin = Load();
  WriteCache("0x00000001\thttp://fresh.example.org/\t\n");
  WriteFile(Lib("Trovex.lng"), std::string(kEnglishMessages) + "[Second]\n2=(Again)\n");
  WriteIni("Language=Second\n");

  std::string path;
  EXPECT_EQ(Execute("\\(Reread)", "open", &path), kFsExecShowFolder);
  EXPECT_EQ(path, "\\");
  EXPECT_EQ(plugin.List("\\"), (std::vector<std::string>{"(Again)", "example.org"}));
  // The old name no longer rereads: it is taken as an entry to open.
  BoxAnswer cancel("cancel");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Execute("\\(Reread)", "open", &path), kFsExecError);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(path, "\\(Reread)");
}
