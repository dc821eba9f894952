// The host program's failures: an exit status and the one line that explains
// it on stderr.
#ifndef TROVEX_HOST_HOSTERROR_H
#define TROVEX_HOST_HOSTERROR_H

#include <stdexcept>
#include <string>

namespace trovex {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // an operation failed
constexpr int kExitUsage = 2;   // a usage error or a path that does not exist

// A failure that ends the current command: what() is the message without the
// program's name, Status the exit status it calls for.
class HostError : public std::runtime_error {
 public:
  HostError(int status, const std::string& message) : std::runtime_error(message), Status(status) {}
  int Status;
};

}  // namespace trovex

#endif
