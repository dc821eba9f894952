#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

#include "platform/system.h"
#include "platform/win32api.h"
#include "tests/support/SystemFolder.h"

using namespace trovex;

namespace {

class Shell : public ::testing::Test {
 protected:
  TempSystemFolder dir;

  std::string Script(const char* name, const std::string& body, mode_t mode = 0755) {
    dir.Write(name, "#!/bin/sh\n" + body);
    chmod(dir.File(name).c_str(), mode);
    return dir.File(name);
  }

  // Starts the file as the plug-in does: no owner, no verb, no folder.
  BOOL Start(const std::string& file, const char* parameters, SHELLEXECUTEINFOA& info) {
    info = SHELLEXECUTEINFOA{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.nShow = SW_SHOW;
    return ShellExecuteExA(&info);
  }

  // Starts the file, waits for it to end and closes its handle.
  void RunToEnd(const std::string& file, const char* parameters) {
    SHELLEXECUTEINFOA info;
    ASSERT_TRUE(Start(file, parameters, info)) << file;
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(info.hProcess));
  }
};

TEST_F(Shell, ProgramsThatCannotStartAreFailures) {
  struct Case {
    std::string file;
    DWORD error;
  } cases[] = {
      {dir.File("absent"), ERROR_FILE_NOT_FOUND},
      {"trovex-no-such-program-on-path", ERROR_FILE_NOT_FOUND},
      {Script("plain.sh", "exit 0\n", 0644), ERROR_ACCESS_DENIED},
      {dir.Path(), ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SHELLEXECUTEINFOA info;
    EXPECT_FALSE(Start(c.file, "x", info)) << c.file;
    EXPECT_EQ(GetLastError(), c.error) << c.file;
    EXPECT_EQ(info.hProcess, nullptr) << c.file;
  }
}

TEST_F(Shell, ParametersArriveAsExactlyOneArgument) {
  std::string out = dir.File("out.txt");
  std::string script = Script("args.sh", "printf '%s\\n' \"$#\" > '" + out + "'\nprintf '%s' \"$1\" >> '" + out + "'\n");
  const std::string url = "http://example.com/a b?q=\"x\" 'y' \\z&$HOME";

  RunToEnd(script, QuoteArgument(url).c_str());
  EXPECT_EQ(TempSystemFolder::ReadBytes(out), "1\n" + url);
  RunToEnd(script, "");
  EXPECT_EQ(TempSystemFolder::ReadBytes(out), "0\n");
  RunToEnd(script, nullptr);
  EXPECT_EQ(TempSystemFolder::ReadBytes(out), "0\n");
}

TEST_F(Shell, ProgramHasItsOwnSessionAndNoInput) {
  std::string out = dir.File("out.txt");
  std::string script = Script("session.sh", "{ readlink /proc/$$/fd/0; echo $$; cut -d' ' -f6 /proc/$$/stat; } > '" +
                                                out + "'\n");
  RunToEnd(script, nullptr);
  std::string lines = TempSystemFolder::ReadBytes(out);
  size_t first = lines.find('\n'), second = lines.find('\n', first + 1);
  ASSERT_NE(second, std::string::npos) << lines;
  EXPECT_EQ(lines.substr(0, first), "/dev/null");
  std::string pid = lines.substr(first + 1, second - first - 1);
  EXPECT_EQ(lines.substr(second + 1), pid + "\n") << "the session leader is the program itself";
}

TEST_F(Shell, WaitTimesOutWhileTheProgramRunsAndReturnsWhenItEnds) {
  std::string go = dir.File("go");
  std::string script = Script("wait.sh", "while [ ! -e '" + go + "' ]; do sleep 0.02; done\n");
  SHELLEXECUTEINFOA info;
  ASSERT_TRUE(Start(script, nullptr, info));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 50), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_TIMEOUT);
  dir.Write("go", "");
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST_F(Shell, StartedProgramsNeverBecomeTheCallersChildren) {
  std::string quick = Script("quick.sh", "exit 0\n");
  for (int i = 0; i < 3; ++i) {
    SHELLEXECUTEINFOA info;
    ASSERT_TRUE(Start(quick, "u", info));
    EXPECT_TRUE(CloseHandle(info.hProcess));
  }
  SHELLEXECUTEINFOA info;
  ASSERT_TRUE(Start(quick, "u", info));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
  CloseHandle(info.hProcess);
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(Shell, BadHandlesAndArgumentsAreRefused) {
  EXPECT_FALSE(ShellExecuteExA(nullptr));
  SHELLEXECUTEINFOA info;
  ASSERT_TRUE(Start(Script("quick.sh", "exit 0\n"), nullptr, info));
  EXPECT_TRUE(CloseHandle(info.hProcess));
  for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, info.hProcess}) {
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
  }
}

}  // namespace
