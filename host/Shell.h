// The interactive session: a current folder, the tree commands, line
// editing, history and completion of names.
#ifndef TROVEX_HOST_SHELL_H
#define TROVEX_HOST_SHELL_H

#include "host/Plugin.h"

namespace trovex {

// Reads commands from the terminal (or, without one, lines from standard
// input) until exit or the end of input; the exit status of the last
// command, or 0 when none ran.
int RunShell(Plugin& plugin);

}  // namespace trovex

#endif
