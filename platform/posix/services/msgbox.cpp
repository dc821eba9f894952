// Message boxes on the terminal.
//
// The box is written to the controlling terminal, or to stderr when there is
// none. A question (MB_OKCANCEL) is answered on the terminal; without one it
// is declined, so nothing is ever opened unasked. TROVEX_MSGBOX_ANSWER=ok or
// =cancel answers every box without asking.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/shared/fileio.h"
#include "base/VisibleText.h"
#include "base/Utf.h"
#include "platform/win32api.h"
#include "base/Ascii.h"
#include "base/Utf.h"

using namespace trovex;

namespace {

// An answer as typed: blanks around it, and a terminal's carriage return
// after it, do not count.
std::string_view TrimAnswer(std::string_view text) {
  return TrimRight(TrimLeft(text), " \t\r");
}

std::optional<int> PresetAnswer() {
  const char* preset = getenv("TROVEX_MSGBOX_ANSWER");
  if (preset == nullptr) return std::nullopt;
  std::string answer = LowerAscii(TrimAnswer(preset));
  if (answer == "ok") return IDOK;
  if (answer == "cancel") return IDCANCEL;
  return std::nullopt;
}

// The caption, then the text, each line in its visible form (no control
// character, direction control or stray byte reaches the terminal). A
// carriage return, a line feed or the two together break the line, as they
// do in a box on Windows; the box cannot tell a break the caller meant from
// one inside a URL, so a caller shows a URL's own breaks in a visible form.
std::string FormatBox(std::string_view caption, std::string_view text) {
  std::string box = "[" + VisibleText(caption) + "]\n";
  size_t lineStart = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
    if (i == text.size() && lineStart == i) break;  // nothing follows the last break
    box += VisibleText(text.substr(lineStart, i - lineStart));
    box += '\n';
    if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
    lineStart = i + 1;
  }
  return box;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (line.size() < 256) {
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line += c;
  }
  return line;
}

bool IsYes(std::string_view answer) {
  std::string word = LowerAscii(TrimAnswer(answer));
  return word == "y" || word == "yes" || word == "ok";
}

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  std::string box = FormatBox(caption != nullptr ? caption : "", text != nullptr ? text : "");
  bool asks = (type & 0xFu) == MB_OKCANCEL;
  if (std::optional<int> preset = PresetAnswer()) {
    WriteAll(STDERR_FILENO, box);
    return *preset;
  }
  UniqueFd terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal.Valid()) {
    WriteAll(STDERR_FILENO, box);
    return asks ? IDCANCEL : IDOK;
  }
  WriteAll(terminal.Get(), box);
  if (!asks) return IDOK;
  WriteAll(terminal.Get(), "OK? [y/N] ");
  return IsYes(ReadLine(terminal.Get())) ? IDOK : IDCANCEL;
}
