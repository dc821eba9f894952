#include "platform/posix/shared/sysfolder.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace trovex {

namespace {

std::string Absolute(std::string path) {
  if (path.empty() || path[0] == '/') return path;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return path;
  std::string result = std::string(cwd) + "/" + path;
  free(cwd);
  return result;
}

}  // namespace

std::string SystemFolder() {
  const char* configured = getenv("TROVEX_SYSTEM");
  if (configured != nullptr && configured[0] != '\0') return Absolute(configured);
  const char* home = getenv("HOME");
  std::string base = home != nullptr && home[0] != '\0' ? home : "/tmp";
  return Absolute(base + "/.local/share/trovex/system");
}

std::string SystemFile(std::string_view name) {
  std::string path = SystemFolder();
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

}  // namespace trovex
