// What the host program needs of the system besides the plug-in loader.
// One implementation per system (host/<system>/HostSystem.cpp).
#ifndef TROVEX_HOST_HOSTSYSTEM_H
#define TROVEX_HOST_HOSTSYSTEM_H

#include <string>

// True when standard input is a terminal, where a person can answer.
bool StdinIsTerminal();

// True when standard error is a terminal, where a progress line helps.
bool StderrIsTerminal();

// Sets the environment variable name to value for this process and what it
// loads; false when the system refuses.
bool SetEnvironmentValue(const std::string& name, const std::string& value);

#endif
