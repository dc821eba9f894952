// What the host program needs of the system besides the plug-in loader.
// One implementation per system (host/<system>/HostSystem.cpp).
#ifndef TROVEX_HOST_HOSTSYSTEM_H
#define TROVEX_HOST_HOSTSYSTEM_H

#include <cstdint>
#include <string>
#include <vector>

namespace trovex {

// True when standard input is a terminal, where a person can answer.
bool StdinIsTerminal();

// True when standard error is a terminal, where a progress line helps.
bool StderrIsTerminal();

// Makes standard output write its bytes as they are: a C runtime that turns
// "\n" into "\r\n" (Windows's) stops doing so. Nothing elsewhere.
void SetStdoutBinary();

// Sets the environment variable name to value for this process and what it
// loads; false when the system refuses.
bool SetEnvironmentValue(const std::string& name, const std::string& value);

// The last error that the system's functions, the plug-in's calls of them
// among them, left for this thread: read it right after the call it is for.
uint32_t LastSystemError();

// True when this build's plug-in reads caches from folders it is given
// (--wine-prefix, --cache): the Linux build does, the Windows one reads the
// system's own cache.
bool ReadsCacheFolders();

}  // namespace trovex

#endif
