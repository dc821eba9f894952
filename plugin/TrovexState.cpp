// The plug-in's process-wide state.
#include "plugin/TrovexState.h"

#include "platform/system.h"

namespace trovex {

TROVEX_MODULE_STATE std::string RereadEntryText;
int32_t PluginNumber = 0;
FsProgressCallback ProgressCallback = nullptr;
TROVEX_MODULE_STATE std::string LngFileName;
TROVEX_MODULE_STATE std::string LanguageName;
TROVEX_MODULE_STATE std::string MsgCaption;
uint8_t ShowCookies = 0;
uint8_t ConfirmOpen = 0;
uint8_t OfflineOpen = 0;
uint8_t OfflineStart = 0;
uint8_t ShowTimes = 0;
uint8_t ShowHistory = 0;

namespace {

void ReleaseText(std::string& text) {
  std::string().swap(text);
}

}  // namespace

void TrovexInitialize() {
  RereadEntryText = kBuiltInRereadEntryText;
}

void TrovexFinalize() {
  ReleaseText(RereadEntryText);
  ReleaseText(MsgCaption);
  ReleaseText(LanguageName);
  ReleaseText(LngFileName);
}

}  // namespace trovex
