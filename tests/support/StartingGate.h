// Child processes that start their work at the same moment: each waits at
// the gate until the parent opens it.
#ifndef TROVEX_TESTS_SUPPORT_STARTINGGATE_H
#define TROVEX_TESTS_SUPPORT_STARTINGGATE_H

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

namespace trovex {

class StartingGate {
 public:
  StartingGate() {
    if (pipe(fds_) != 0) std::abort();
  }
  ~StartingGate() { Open(); }
  StartingGate(const StartingGate&) = delete;
  StartingGate& operator=(const StartingGate&) = delete;

  // A child that runs body() once the gate opens and exits with 0 when it
  // returned true.
  pid_t Start(const std::function<bool()>& body) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    close(fds_[1]);  // the gate opens when the parent's write end is the last to close
    char byte;
    while (read(fds_[0], &byte, 1) < 0 && errno == EINTR) {
    }
    _exit(body() ? 0 : 1);
  }

  // Lets every child waiting at the gate go.
  void Open() {
    for (int& fd : fds_) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

// True when the child ran to its end and its body returned true.
inline bool Succeeded(pid_t child) {
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace trovex

#endif
