#include "plugin/Messages.h"

#include "plugin/Trovex.h"
#include "support/IniFile.h"
#include "support/SysUtils1.h"

std::string MsgText(int32_t number) {
  std::string text = IniReadStringFrom(LanguageName, IntToText(number), "", LngFileName);
  ReplaceAll(text, "\\n", "\r");
  return text;
}
