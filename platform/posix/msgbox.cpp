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

#include "platform/win32api.h"
#include "sysfolder.h"

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

std::optional<int> PresetAnswer() {
  const char* preset = getenv("TROVEX_MSGBOX_ANSWER");
  if (preset == nullptr) return std::nullopt;
  std::string answer = Lower(Trim(preset));
  if (answer == "ok") return IDOK;
  if (answer == "cancel") return IDCANCEL;
  return std::nullopt;
}

// A character of a box's text as the terminal gets it: a box may show a URL
// a stranger chose, so other control characters are written as \xHH.
void AppendShown(std::string& box, char c) {
  auto byte = static_cast<unsigned char>(c);
  if (c == '\n' || c == '\t' || (byte >= 0x20 && byte != 0x7F)) {
    box += c;
    return;
  }
  constexpr char kHex[] = "0123456789abcdef";
  box += "\\x";
  box += kHex[byte >> 4];
  box += kHex[byte & 0x0F];
}

// The caption, then the text; a carriage return (alone or before a line
// feed) breaks the line as it does in a box on Windows.
std::string FormatBox(std::string_view caption, std::string_view text) {
  std::string box = "[";
  for (char c : caption) AppendShown(box, c == '\n' ? ' ' : c);
  box += "]\n";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      box += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      AppendShown(box, text[i]);
    }
  }
  if (box.back() != '\n') box += '\n';
  return box;
}

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
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
  std::string word = Lower(Trim(answer));
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
