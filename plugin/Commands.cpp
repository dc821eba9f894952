#include "plugin/Commands.h"

#include <string>

#include "cache/CacheObj.h"
#include "platform/system.h"
#include "plugin/Messages.h"
#include "plugin/Settings.h"
#include "plugin/TrovexState.h"
#include "plugin/TreePath.h"
#include "support/FProc.h"
#include "support/RegProc.h"
#include "support/SysUtils1.h"

namespace trovex {

namespace {

constexpr char kPluginVersion[] = TROVEX_VERSION;
constexpr char kBrowserKey[] = "Software\\Microsoft\\Internet Explorer";
constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kBrowserAppPathKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";
constexpr char kCredits[] =
    "\r\rTrovex shows the browser's URL cache as folders of sites and hosts."
    "\rWritten by the Trovex developers.";
constexpr UINT kAboutBoxStyle = MB_OK | MB_ICONINFORMATION;
constexpr UINT kConfirmBoxStyle = MB_OKCANCEL | MB_ICONQUESTION;

int32_t ShowAbout(HWND mainWindow) {
  std::string browserVersion = RegReadString(HKEY_LOCAL_MACHINE, kBrowserKey, "Version", "3.0");
  std::string cacheFolder = RegReadString(HKEY_CURRENT_USER, kShellFoldersKey, "Cache", "");
  std::string text =
      FormatArgs(MsgText(kMsgAbout), {kPluginVersion, EscapeControlBytes(browserVersion), EscapeControlBytes(cacheFolder)});
  text += kCredits;
  MessageBoxA(mainWindow, text.c_str(), MsgCaption.c_str(), kAboutBoxStyle);
  return kFsExecDone;
}

bool UserConfirmsOpen(HWND mainWindow, const std::string& url) {
  std::string question = FormatArgs(MsgText(kMsgConfirmOpen), {EscapeControlBytes(url)});
  return MessageBoxA(mainWindow, question.c_str(), MsgCaption.c_str(), kConfirmBoxStyle) == IDOK;
}

int32_t OpenInBrowser(HWND mainWindow, const TreePath& path) {
  std::optional<CacheEntry> entry = EntryOf(path, RereadEntryText);
  if (!entry) return kFsExecError;
  std::string url(entry->SourceUrl);
  // An entry named like a browser option, or of a scheme that the browser
  // hands to another program, is refused before anything is asked or changed.
  if (!IsWebAddress(url)) return kFsExecError;
  if (ConfirmOpen != 0 && !UserConfirmsOpen(mainWindow, url)) return kFsExecError;
  std::string browser = RegReadString(HKEY_LOCAL_MACHINE, kBrowserAppPathKey, "", "");
  if (browser.empty()) return kFsExecError;
  if (OfflineOpen != 0) SetOfflineMode();
  return ShellRun(browser, QuoteArgument(url), SW_SHOW, false) ? kFsExecDone : kFsExecError;
}

int32_t Reread(char* remotePath) {
  LoadSettings();
  RefillCache();
  lstrcpyA(remotePath, "\\");
  return kFsExecShowFolder;
}

}  // namespace

int32_t ExecuteCommand(HWND mainWindow, char* remotePath, std::string_view verb) {
  std::string path(remotePath);
  if (verb == "properties") return path == "\\" ? ShowAbout(mainWindow) : kFsExecError;
  if (verb != "open") return kFsExecError;
  TreePath where = ParseTreePath(path, RereadEntryText);
  if (where.Kind == PathKind::RereadEntry) return Reread(remotePath);
  return OpenInBrowser(mainWindow, where);
}

}  // namespace trovex
