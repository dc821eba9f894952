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

// The containers the plug-in will read, as the environment names them: the
// folders that hold an index.dat. Empty when the cache is the system
// folder's.
std::vector<std::string> CacheFoldersInUse();

// What the plug-in will make of the caches the environment names: a line for
// each source it skips and why, a line for each container it reads only in
// part and what it leaves out, and whether caches were named and not one
// container of them can be read.
struct CacheCheck {
  std::vector<std::string> Skipped;
  std::vector<std::string> Partial;
  bool NoneRead = false;
};
CacheCheck CheckCaches();

}  // namespace trovex

#endif
