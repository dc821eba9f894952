// The help texts of the program and of each command.
#ifndef TROVEX_HOST_HELP_H
#define TROVEX_HOST_HELP_H

#include <optional>
#include <string>
#include <string_view>

namespace trovex {

// The program's usage: options, commands and path forms.
std::string ProgramHelp();

// The help of the command name (also "shell", "help"); nullopt for a name
// that is no command.
std::optional<std::string> CommandHelp(std::string_view name);

// The commands of the interactive shell, one line each.
std::string ShellHelp();

}  // namespace trovex

#endif
