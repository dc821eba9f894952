#include "host/HostSystem.h"

#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <stdlib.h>
#include <windows.h>

namespace trovex {

uint32_t LastSystemError() {
  return GetLastError();
}

bool StdinIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

void SetStdoutBinary() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

// _putenv_s changes both the C runtime's copy of the environment, which
// getenv reads, and the process's own, which started programs inherit.
bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return _putenv_s(name.c_str(), value.c_str()) == 0;
}

bool ReadsCacheFolders() {
  return false;
}

}  // namespace trovex
