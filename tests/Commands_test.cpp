// The "open" and "properties" commands, through the loaded library.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/PluginFixture.h"

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
