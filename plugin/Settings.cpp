#include "plugin/Settings.h"

#include <cstdlib>
#include <string_view>
#include <vector>

#include "cache/CacheObj.h"
#include "platform/system.h"
#include "plugin/Messages.h"
#include "plugin/TrovexState.h"
#include "support/IniFile.h"
#include "support/RegProc.h"
#include "support/SysUtils1.h"

namespace trovex {

namespace {

constexpr char kSection[] = "Options";
constexpr char kInternetSettingsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// The buffer for the library's path starts at the classic size and doubles
// until the path fits; a path longer than any the system allows is unknown.
constexpr DWORD kModulePathFirstSize = 301;
constexpr DWORD kModulePathMostSize = 1u << 17;

// A flag is the low byte of the key's integer: 256 is off, -1 is on.
uint8_t ReadFlag(const char* key, int32_t fallback) {
  return static_cast<uint8_t>(IniReadInteger(kSection, key, fallback) & 0xFF);
}

// The file name in the library's folder; empty when the library's path is
// unknown, so that no file elsewhere is read in its place.
std::string BesideLibrary(const std::string& modulePath, std::string_view name) {
  return modulePath.empty() ? std::string() : ChangeFileName(modulePath, name);
}

// The settings file: the one $TROVEX_SETTINGS names when it is set and not
// empty (the host program's --settings), else Trovex.ini beside the library.
// A file that is missing or cannot be read gives every setting its default,
// wherever it is.
std::string SettingsFileName(const std::string& modulePath) {
  const char* chosen = std::getenv("TROVEX_SETTINGS");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  return BesideLibrary(modulePath, "Trovex.ini");
}

}  // namespace

// A path that fills the buffer was cut: the system returns the buffer's size
// then, and a cut path names some other folder, perhaps someone else's.
std::string ModulePath() {
  for (DWORD size = kModulePathFirstSize; size <= kModulePathMostSize; size *= 2) {
    std::vector<char> buffer(size, '\0');
    DWORD length = GetModuleFileNameA(ThisModule(), buffer.data(), size);
    if (length == 0) return {};
    if (length < size) return std::string(buffer.data(), length);
  }
  return {};
}

void SetOfflineMode() {
  RegWriteDword(HKEY_CURRENT_USER, kInternetSettingsKey, "GlobalUserOffline", 1);
}

void LoadSettings() {
  std::string modulePath = ModulePath();
  IniFileName = SettingsFileName(modulePath);
  LngFileName = BesideLibrary(modulePath, "Trovex.lng");
  LanguageName = IniReadString(kSection, "Language", LanguageName);
  MsgCaption = MsgText(kMsgCaption);
  RereadEntryText = MsgText(kMsgRereadEntry);
  ShowCookies = ReadFlag("ShowCookies", 1);
  ConfirmOpen = ReadFlag("ConfirmOpen", 1);
  OfflineOpen = ReadFlag("OfflineOpen", 1);
  OfflineStart = ReadFlag("OfflineStart", 0);
  ShowTimes = ReadFlag("ShowTimes", 0);
  ShowHistory = ReadFlag("ShowHistory", 0);
  TheGrouping.SkipDomains = ReadFlag("SkipDomains", 1) != 0;
  TheGrouping.SkipDomainsList = IniReadString(kSection, "SkipDomainsList", TheGrouping.SkipDomainsList);
  if (OfflineStart != 0) SetOfflineMode();
  HiddenTypeMask = 0;
  if (ShowHistory == 0) HiddenTypeMask |= URLHISTORY_CACHE_ENTRY;
  if (ShowCookies == 0) HiddenTypeMask |= COOKIE_CACHE_ENTRY;
}

}  // namespace trovex
