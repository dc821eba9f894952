// Running a program from a test as a shell would, and what it gave back.
// Header alone: only the tests that run the built trovex include it.
#ifndef TROVEX_TESTS_SUPPORT_RUNPROGRAM_H
#define TROVEX_TESTS_SUPPORT_RUNPROGRAM_H

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace trovex {

struct Result {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// word in single quotes for /bin/sh, whatever bytes it holds.
inline std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Whether the shell finds program on the PATH.
inline bool Installed(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs program with arguments, input on its standard input, its output and
// errors caught in files of folder; no terminal anywhere.
inline Result RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& folder, const std::string& input = "") {
  WriteFile(folder + "/stdin", input);
  std::string command = Quoted(program);
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  command += " <" + Quoted(folder + "/stdin") + " >" + Quoted(folder + "/stdout") + " 2>" + Quoted(folder + "/stderr");
  int status = std::system(command.c_str());
  return Result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(folder + "/stdout"),
                ReadFile(folder + "/stderr")};
}

// Copies the index.dat file sample into folder, made as needed; the
// folder's real path, as trovex names the folders it reads.
inline std::string CopyContainer(const std::string& folder, const std::string& sample) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(sample, folder + "/index.dat");
  return std::filesystem::canonical(folder).string();
}

// The folders trovex about printed below "Cache folders in use:", in its
// order.
inline std::vector<std::string> FoldersInUse(const std::string& about) {
  std::vector<std::string> folders;
  size_t at = about.find("Cache folders in use:\n");
  if (at == std::string::npos) return folders;
  for (at = about.find('\n', at) + 1; about.compare(at, 2, "  ") == 0;) {
    size_t end = about.find('\n', at);
    folders.push_back(about.substr(at + 2, end - at - 2));
    at = end + 1;
  }
  return folders;
}

}  // namespace trovex

#endif
