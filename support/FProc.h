// File and shell routines over the system's directory search and shell.
#ifndef TROVEX_SUPPORT_FPROC_H
#define TROVEX_SUPPORT_FPROC_H

#include <cstdint>
#include <string>

namespace trovex {

// True when path is not empty and a directory search for it (wildcards
// allowed) finds a file or folder.
bool PathExists(const std::string& path);

// The size of the first match of a directory search for path, all 64 bits;
// 0 when nothing is found or path is empty.
uint64_t FileSizeOf(const std::string& path);

// Starts file with parameters through the shell, with the given show
// command; waits for it to end when wait is set. False when it could not be
// started; the shell shows no error box of its own.
bool ShellRun(const std::string& file, const std::string& parameters, int showCommand, bool wait);

}  // namespace trovex

#endif
