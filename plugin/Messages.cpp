#include "plugin/Messages.h"

#include "plugin/TrovexState.h"
#include "support/IniFile.h"
#include "support/SysUtils1.h"

namespace trovex {

namespace {

// The English texts of the language file, for a file, language or message
// that is missing or empty: a question must always say what it asks, and
// the reread entry must always have a name to be listed and opened by.
const char* BuiltInMessage(int32_t number) {
  switch (number) {
    case kMsgCaption:
      return "Trovex";
    case kMsgRereadEntry:
      return kBuiltInRereadEntryText;
    case kMsgAbout:
      return "Trovex %s\\nBrowse the browser's URL cache by site and host.\\n\\nBrowser version: %s\\n"
             "Cache folder: %s";
    case kMsgConfirmOpen:
      return "Open this address in the browser?\\n\\n%s";
    default:
      return "";
  }
}

}  // namespace

std::string MsgText(int32_t number) {
  std::string text = IniReadStringFrom(LanguageName, IntToText(number), "", LngFileName);
  if (text.empty()) text = BuiltInMessage(number);
  ReplaceAll(text, "\\n", "\r");
  return text;
}

}  // namespace trovex
