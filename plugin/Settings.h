// The settings file, "Trovex.ini" beside the library or the file that
// TROVEX_SETTINGS names, and the switch of the browser to offline mode.
#ifndef TROVEX_PLUGIN_SETTINGS_H
#define TROVEX_PLUGIN_SETTINGS_H

#include <string>

namespace trovex {

// Reads the settings file and the messages kMsgCaption and kMsgRereadEntry
// into the plug-in's state, sets the cache model's grouping settings and
// hidden types, and puts the browser offline when OfflineStart is on. Never
// fails: what is missing takes its default.
void LoadSettings();

// Writes GlobalUserOffline = 1 to the browser's settings in the registry.
// Failures are silent.
void SetOfflineMode();

// The full path of the plug-in library's own file, however long; empty when
// the system cannot tell it in full.
std::string ModulePath();

}  // namespace trovex

#endif
