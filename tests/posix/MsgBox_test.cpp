#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/win32api.h"
#include "tests/support/SystemFolder.h"

using namespace trovex;

namespace {

struct Shown {
  int answer;
  std::string stderrText;
};

// Runs MessageBoxA in a child that has no controlling terminal (a session of
// its own) and whose stderr goes to a file.
Shown ShowWithoutTerminal(const TempSystemFolder& dir, const char* preset, UINT type, const char* text,
                          const char* caption) {
  std::string log = dir.File("stderr.txt");
  pid_t child = fork();
  if (child == 0) {
    setsid();
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDERR_FILENO);
    if (preset != nullptr)
      setenv("TROVEX_MSGBOX_ANSWER", preset, 1);
    else
      unsetenv("TROVEX_MSGBOX_ANSWER");
    _exit(MessageBoxA(nullptr, text, caption, type));
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, TempSystemFolder::ReadBytes(log)};
}

TEST(MessageBox, AnswersFromThePresetOrDeclinesWithoutATerminal) {
  TempSystemFolder dir;
  struct Case {
    const char* preset;
    UINT type;
    int expected;
  } cases[] = {
      {"ok", MB_OKCANCEL | MB_ICONQUESTION, IDOK},
      {"CANCEL", MB_OKCANCEL, IDCANCEL},
      {"cancel", MB_OK, IDCANCEL},
      {nullptr, MB_OK | MB_ICONINFORMATION, IDOK},
      {nullptr, MB_OKCANCEL | MB_ICONQUESTION, IDCANCEL},
      {"maybe", MB_OKCANCEL, IDCANCEL},
  };
  for (const Case& c : cases) {
    Shown shown = ShowWithoutTerminal(dir, c.preset, c.type, "Open it?", "Trovex");
    EXPECT_EQ(shown.answer, c.expected) << (c.preset ? c.preset : "(none)") << " type " << c.type;
    EXPECT_EQ(shown.stderrText, "[Trovex]\nOpen it?\n") << (c.preset ? c.preset : "(none)");
  }
}

TEST(MessageBox, BreaksLinesAsAWindowsBoxAndShowsControlsVisibly) {
  TempSystemFolder dir;
  struct Case {
    const char* text;
    const char* caption;
    const char* shown;
  } cases[] = {
      {"one\rtwo\r\nthree", "About", "[About]\none\ntwo\nthree\n"},
      {"lf\nends\r", "About", "[About]\nlf\nends\n"},
      {"two breaks\r\r", "About", "[About]\ntwo breaks\n\n"},
      {nullptr, nullptr, "[]\n"},
      {"", "", "[]\n"},
      {"Open?\r\rhttp://x/\x1b]8;;http://bank/\x07y\x1b[2J", "T\x1b[1m",
       "[T\\x1b[1m]\nOpen?\n\nhttp://x/\\x1b]8;;http://bank/\\x07y\\x1b[2J\n"},
      {"tab\there\x7f\x9b\xc2\x9b", "T", "[T]\ntab\\x09here\\x7f\\x9b\\u009b\n"},
      {"abc\xe2\x80\xaetxt.exe \xe2\x81\xa6x\xe2\x80\x8e", "T", "[T]\nabc\\u202etxt.exe \\u2066x\\u200e\n"},
      {"caf\xc3\xa9 \xff\xc3", "T", "[T]\ncaf\xc3\xa9 \\xff\\xc3\n"},
      // overlong, surrogate, above U+10FFFF, a valid four-byte character, cut
      {"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xf0\x9f\x98\x80\xe2\x80", "T",
       "[T]\n\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80\xf0\x9f\x98\x80\\xe2\\x80\n"},
  };
  for (const Case& c : cases) {
    Shown shown = ShowWithoutTerminal(dir, "ok", MB_OK, c.text, c.caption);
    EXPECT_EQ(shown.answer, IDOK);
    EXPECT_EQ(shown.stderrText, c.shown) << (c.text ? c.text : "(null)");
  }
}

}  // namespace
