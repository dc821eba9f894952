#include "host/HostSystem.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>


namespace trovex {

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

void SetStdoutBinary() {}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

// The Linux layer keeps the Win32 last error where the C library keeps its
// own, so that the two are one per thread for the program and the plug-in.
uint32_t LastSystemError() {
  return static_cast<uint32_t>(errno);
}

bool ReadsCacheFolders() {
  return true;
}

}  // namespace trovex
