// --profile: the URL cache containers of one Windows user's folder on a
// mounted disk image (or a Wine prefix's drive_c/users/NAME).
#ifndef TROVEX_HOST_PROFILE_H
#define TROVEX_HOST_PROFILE_H

#include <string>
#include <vector>

namespace trovex {

// The real paths of the profile's containers that hold their index file:
// the cookies, then the history (with its MSHist01... daily and weekly
// containers), then the content, then the WebCache folder, of the XP,
// Vista and 7 (with their Low containers), 8 and later, and Wine layouts.
// Names are matched without regard to ASCII case; nothing reached through
// a link that leads out of the profile is taken. Throws HostError
// (kExitUsage) when the profile is no folder or holds none.
std::vector<std::string> ProfileContainers(const std::string& profile);

}  // namespace trovex

#endif
