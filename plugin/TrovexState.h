// The plug-in's process-wide state, from library load to unload.
#ifndef TROVEX_PLUGIN_TROVEXSTATE_H
#define TROVEX_PLUGIN_TROVEXSTATE_H

#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/fsplugin.h"

namespace trovex {

// The root's first item, whose opening rereads settings and cache.
extern std::string RereadEntryText;
constexpr char kBuiltInRereadEntryText[] = "(Reread cache)";

extern int32_t PluginNumber;
extern FsProgressCallback ProgressCallback;

// Settings; see LoadSettings.
extern std::string LngFileName;
extern std::string LanguageName;
extern std::string MsgCaption;
extern uint8_t ShowCookies;
extern uint8_t ConfirmOpen;
extern uint8_t OfflineOpen;
extern uint8_t OfflineStart;
extern uint8_t ShowTimes;
extern uint8_t ShowHistory;

// Sets the state to its values at load.
void TrovexInitialize();

// Releases the texts; runs when the library unloads.
void TrovexFinalize();

}  // namespace trovex

#endif
