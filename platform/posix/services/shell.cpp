// Starting programs and waiting for them.
//
// A program is started directly (no shell) with its parameters as its one
// argument, in a session of its own and with /dev/null as its input, so that
// it neither reads the host's terminal nor ends with it. The caller never
// becomes its parent: an intermediate child starts it, reports its pid (or
// why it could not be started) and exits once the caller holds a pidfd of
// it, so the program is reparented and reaped by the system whenever it
// ends, and a host that starts many programs without waiting collects no
// zombies.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/shared/fileio.h"
#include "platform/posix/services/files.h"
#include "platform/posix/shared/handles.h"
#include "platform/win32api.h"
#include "platform/posix/shared/win32error.h"

using namespace trovex;

extern char** environ;

namespace {

struct Process {
  pid_t pid = 0;
  UniqueFd pidfd;  // invalid where the system has no pidfds
};

TROVEX_MODULE_STATE HandleTable<Process> processes;

// One start at a time: an intermediate child inherits every pipe open at its
// fork, and two overlapping starts would each keep the other's waiting.
std::mutex startMutex;

// Everything the children need, prepared before they exist: between fork and
// exec only async-signal-safe calls are allowed, so nothing is allocated there.
struct Plan {
  std::vector<std::string> candidates;  // the paths to try, in order
  std::string name;
  std::string argument;
  bool hasArgument = false;
  std::string directory;
  std::vector<char*> argv;

  Plan() = default;
  Plan(const Plan&) = delete;
  Plan& operator=(const Plan&) = delete;
};

// What the intermediate child reports to the caller.
struct Report {
  pid_t pid = -1;
  int error = 0;
};

pid_t ForkChild() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // No atfork handlers of the host run in a child that only execs or exits.
  return _Fork();
#else
  return fork();
#endif
}

// A name without a slash is looked for along PATH, as a shell would.
std::vector<std::string> Candidates(const std::string& file) {
  if (file.find('/') != std::string::npos) return {file};
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::vector<std::string> candidates;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    candidates.push_back((dir.empty() ? "." : dir) + "/" + file);
    start = end + 1;
  }
  return candidates;
}

// Fills `plan` in place: argv points into the plan's own strings.
void MakePlan(const SHELLEXECUTEINFOA& info, Plan& plan) {
  plan.name = info.lpFile;
  plan.candidates = Candidates(plan.name);
  if (info.lpParameters != nullptr && info.lpParameters[0] != '\0') {
    plan.argument = info.lpParameters;
    plan.hasArgument = true;
  }
  if (info.lpDirectory != nullptr) plan.directory = info.lpDirectory;
  plan.argv.push_back(plan.name.data());
  if (plan.hasArgument) plan.argv.push_back(plan.argument.data());
  plan.argv.push_back(nullptr);
}

// Signal settings of the host are not the program's business.
void ResetSignals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &standard, nullptr);
}

// The program's own process: never returns. When no candidate can be
// executed, the reason goes to `errorFd` (closed by a successful exec).
[[noreturn]] void RunProgram(const Plan& plan, int errorFd, int input) {
  setsid();
  dup2(input, STDIN_FILENO);
  if (input == STDIN_FILENO) fcntl(STDIN_FILENO, F_SETFD, 0);
  // The host's descriptors stay with the host.
  syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
  int error = ENOENT;
  bool denied = false;
  if (!plan.directory.empty() && chdir(plan.directory.c_str()) != 0) {
    error = errno;
  } else {
    for (const std::string& candidate : plan.candidates) {
      execve(candidate.c_str(), plan.argv.data(), environ);
      if (errno == EACCES) denied = true;
      else if (errno != ENOENT && errno != ENOTDIR) error = errno;
    }
    if (denied) error = EACCES;
  }
  WriteAll(errorFd, std::string_view(reinterpret_cast<const char*>(&error), sizeof error));
  _exit(127);
}

// The intermediate child: starts the program, reports, and waits until the
// caller closes `holdFd` (after taking its pidfd) before it exits.
[[noreturn]] void RunIntermediate(const Plan& plan, int reportFd, int holdFd, int input) {
  ResetSignals();  // inherited by the program too
  Report report;
  int execPipe[2];
  if (pipe2(execPipe, O_CLOEXEC) != 0) {
    report.error = errno;
  } else {
    pid_t pid = ForkChild();
    if (pid == 0) RunProgram(plan, execPipe[1], input);
    close(execPipe[1]);
    if (pid < 0) {
      report.error = errno;
    } else if (ReadAll(execPipe[0], reinterpret_cast<char*>(&report.error), sizeof report.error)) {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    } else {
      report.error = 0;
      report.pid = pid;
    }
  }
  WriteAll(reportFd, std::string_view(reinterpret_cast<const char*>(&report), sizeof report));
  char ignored;
  while (read(holdFd, &ignored, 1) < 0 && errno == EINTR) {
  }
  _exit(0);
}

void Reap(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// Starts the program; the report says its pid or the errno of the failure.
// With `process`, also fills in the handle's pid and pidfd.
Report Start(const Plan& plan, Process* process) {
  std::lock_guard<std::mutex> hold(startMutex);
  Report report;
  UniqueFd input(open("/dev/null", O_RDONLY | O_CLOEXEC));
  int reportPipe[2], holdPipe[2];
  if (!input.Valid() || pipe2(reportPipe, O_CLOEXEC) != 0) {
    report.error = errno;
    return report;
  }
  UniqueFd reportRead(reportPipe[0]), reportWrite(reportPipe[1]);
  if (pipe2(holdPipe, O_CLOEXEC) != 0) {
    report.error = errno;
    return report;
  }
  UniqueFd holdRead(holdPipe[0]), holdWrite(holdPipe[1]);

  pid_t middle = ForkChild();
  if (middle == 0) {
    close(reportPipe[0]);
    close(holdPipe[1]);
    RunIntermediate(plan, reportPipe[1], holdPipe[0], input.Get());
  }
  if (middle < 0) {
    report.error = errno;
    return report;
  }
  reportWrite.Reset();
  holdRead.Reset();
  if (!ReadAll(reportRead.Get(), reinterpret_cast<char*>(&report), sizeof report)) report = {-1, ECHILD};
  if (report.error == 0 && process != nullptr) {
    process->pid = report.pid;
    process->pidfd.Reset(OpenPidfd(report.pid));
  }
  holdWrite.Reset();
  Reap(middle);
  return report;
}

bool HasEnded(pid_t pid) {
  if (kill(pid, 0) != 0) return errno == ESRCH;
  // An ended program that the system has not reaped yet is a zombie.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  std::string stat;
  if (!ReadWholeFile(path, stat)) return false;
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline` for poll, at most INT_MAX; -1 forever.
int PollTimeout(DWORD milliseconds, Clock::time_point deadline) {
  if (milliseconds == INFINITE) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

DWORD WaitPidfd(int pidfd, DWORD milliseconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    int timeout = PollTimeout(milliseconds, deadline);
    pollfd watch{pidfd, POLLIN, 0};
    int ready = poll(&watch, 1, timeout);
    if (ready > 0) return WAIT_OBJECT_0;
    if (ready < 0 && errno != EINTR) {
      LastErrorFromErrno();
      return WAIT_FAILED;
    }
    if (ready == 0 && timeout == 0) return WAIT_TIMEOUT;
  }
}

// Without pidfds the pid is watched; it could in principle be reused by
// then, which pidfds rule out.
DWORD WaitPid(pid_t pid, DWORD milliseconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (HasEnded(pid)) return WAIT_OBJECT_0;
    if (PollTimeout(milliseconds, deadline) == 0) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

BOOL ShellExecuteExA(LPSHELLEXECUTEINFOA info) {
  if (info == nullptr || info->cbSize < sizeof(SHELLEXECUTEINFOA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hProcess = nullptr;
  if (info->lpFile == nullptr || info->lpFile[0] == '\0') {
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(ERROR_FILE_NOT_FOUND));
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  Plan plan;
  MakePlan(*info, plan);
  bool wantsHandle = (info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0;
  auto process = std::make_unique<Process>();
  Report report = Start(plan, wantsHandle ? process.get() : nullptr);
  if (report.error != 0) {
    DWORD code = Win32Error(report.error);
    // hInstApp carries a code of at most 32 on failure.
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(code <= 32 ? code : 31));
    SetLastError(code);
    return FALSE;
  }
  info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(33));
  if (wantsHandle) info->hProcess = processes.Add(std::move(process));
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  std::shared_ptr<Process> process = processes.Find(object);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (process->pidfd.Valid()) return WaitPidfd(process->pidfd.Get(), milliseconds);
  return WaitPid(process->pid, milliseconds);
}

BOOL CloseHandle(HANDLE object) {
  bool closed = object != nullptr && object != INVALID_HANDLE_VALUE &&
                (processes.Remove(object) || CloseFileHandle(object));
  if (closed) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
