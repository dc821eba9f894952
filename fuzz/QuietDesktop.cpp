#include "fuzz/QuietDesktop.h"

#include "fuzz/FuzzCheck.h"
#include "platform/win32api.h"

using namespace trovex;

namespace {

bool answerOk = false;
int started = 0;

}  // namespace

namespace trovex {

void AnswerBoxes(bool ok) {
  answerOk = ok;
}

int ProgramsStarted() {
  return started;
}

}  // namespace trovex

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
  FUZZ_CHECK(text != nullptr && caption != nullptr);
  return answerOk ? IDOK : IDCANCEL;
}

BOOL ShellExecuteExA(LPSHELLEXECUTEINFOA info) {
  FUZZ_CHECK(info != nullptr && info->cbSize == sizeof *info);
  FUZZ_CHECK(info->lpFile != nullptr && info->lpFile[0] != '\0' && info->lpParameters != nullptr);
  info->hProcess = nullptr;
  ++started;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE, DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

BOOL CloseHandle(HANDLE) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
