#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/win32api.h"
#include "posix_system_folder.h"

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

TEST(MessageBox, CarriageReturnsBreakLinesAndNullTextsAreEmpty) {
  TempSystemFolder dir;
  Shown shown = ShowWithoutTerminal(dir, "ok", MB_OK, "one\rtwo\r\nthree", "About");
  EXPECT_EQ(shown.stderrText, "[About]\none\ntwo\nthree\n");
  shown = ShowWithoutTerminal(dir, nullptr, MB_OK, nullptr, nullptr);
  EXPECT_EQ(shown.answer, IDOK);
  EXPECT_EQ(shown.stderrText, "[]\n");
}

}  // namespace
