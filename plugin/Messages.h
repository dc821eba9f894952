// The messages of the language file "Trovex.lng".
#ifndef TROVEX_PLUGIN_MESSAGES_H
#define TROVEX_PLUGIN_MESSAGES_H

#include <cstdint>
#include <string>

namespace trovex {

// Message numbers.
constexpr int32_t kMsgCaption = 1;
constexpr int32_t kMsgRereadEntry = 2;
constexpr int32_t kMsgAbout = 3;        // three %s: plug-in version, browser version, cache folder
constexpr int32_t kMsgConfirmOpen = 4;  // one %s: the URL

// Message number of the current language, each "\n" turned into a carriage
// return. Messages 1 to 4 fall back to their built-in English texts when the
// file, the language or the message is missing, or the message is empty;
// any other number is then empty.
std::string MsgText(int32_t number);

}  // namespace trovex

#endif
