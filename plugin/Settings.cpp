#include "plugin/Settings.h"

#include <vector>

#include "cache/CacheObj.h"
#include "platform/system.h"
#include "plugin/Messages.h"
#include "plugin/Trovex.h"
#include "support/IniFile.h"
#include "support/RegProc.h"
#include "support/SysUtils1.h"

namespace {

constexpr char kSection[] = "Options";
constexpr char kInternetSettingsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr DWORD kModulePathSize = 301;

// A flag is the low byte of the key's integer: 256 is off, -1 is on.
uint8_t ReadFlag(const char* key, int32_t fallback) {
  return static_cast<uint8_t>(IniReadInteger(kSection, key, fallback) & 0xFF);
}

}  // namespace

std::string ModulePath() {
  std::vector<char> buffer(kModulePathSize + 1, '\0');
  DWORD length = GetModuleFileNameA(ThisModule(), buffer.data(), kModulePathSize);
  if (length > kModulePathSize) length = kModulePathSize;
  return std::string(buffer.data(), length);
}

void SetOfflineMode() {
  RegWriteDword(HKEY_CURRENT_USER, kInternetSettingsKey, "GlobalUserOffline", 1);
}

void LoadSettings() {
  std::string modulePath = ModulePath();
  IniFileName = ChangeFileName(modulePath, "Trovex.ini");
  LngFileName = ChangeFileName(modulePath, "Trovex.lng");
  LanguageName = IniReadString(kSection, "Language", LanguageName);
  MsgCaption = MsgText(kMsgCaption);
  RereadEntryText = MsgText(kMsgRereadEntry);
  ShowCookies = ReadFlag("ShowCookies", 1);
  ConfirmOpen = ReadFlag("ConfirmOpen", 1);
  OfflineOpen = ReadFlag("OfflineOpen", 1);
  OfflineStart = ReadFlag("OfflineStart", 0);
  SkipDomains = ReadFlag("SkipDomains", 1) != 0;
  SkipDomainsList = IniReadString(kSection, "SkipDomainsList", SkipDomainsList);
  if (OfflineStart != 0) SetOfflineMode();
  HiddenTypeMask = URLHISTORY_CACHE_ENTRY;
  if (ShowCookies == 0) HiddenTypeMask |= COOKIE_CACHE_ENTRY;
}
