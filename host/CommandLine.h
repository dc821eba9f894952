// The commands on the tree as words: their options and operands read and
// checked, then run. Both the command line and the shell use them.
#ifndef TROVEX_HOST_COMMANDLINE_H
#define TROVEX_HOST_COMMANDLINE_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/Plugin.h"
#include "host/VirtualPath.h"

namespace trovex {

// True for ls, info, export, tree, get, rm, open, about and reread.
bool IsTreeCommand(std::string_view name);

// The help text words (a command name and its arguments) ask for with -h or
// --help before any "--"; nullopt when they ask for none.
std::optional<std::string> HelpAsked(const std::vector<std::string>& words);

// Checks the tree command in words as RunTreeCommand would, paths read
// from the root, without running it; throws what RunTreeCommand throws for
// bad usage.
void CheckTreeCommand(const std::vector<std::string>& words);

// Runs the tree command in words, with paths read relative to folder; the
// exit status. Throws HostError (kExitUsage) for an unknown command or
// option, a wrong number of operands or a path that cannot be read.
int RunTreeCommand(Plugin& plugin, const VirtualPath& folder, const std::vector<std::string>& words);

}  // namespace trovex

#endif
