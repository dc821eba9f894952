// The host's commands on a path: "open" and "properties".
#ifndef TROVEX_PLUGIN_COMMANDS_H
#define TROVEX_PLUGIN_COMMANDS_H

#include <cstdint>
#include <string_view>

#include "platform/win32api.h"

namespace trovex {

// Carries out verb on the path in remotePath: "properties" on the root shows
// the about box; "open" on the RereadEntry rereads settings and cache and
// writes "\" to remotePath (kFsExecShowFolder); "open" elsewhere opens the
// entry's URL in the browser when it is an http, https or ftp address.
// kFsExecDone, or kFsExecError when the verb or the URL is refused, the user
// declines, or no browser is registered or starts.
int32_t ExecuteCommand(HWND mainWindow, char* remotePath, std::string_view verb);

}  // namespace trovex

#endif
