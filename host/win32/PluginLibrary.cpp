// The module loader of Windows: LoadLibraryA and GetProcAddress.
#include <string>
#include <vector>

#include "host/PluginLibrary.h"
#include "platform/win32api.h"

namespace trovex {

namespace {

// The system's text for an error code, without the line break it ends in.
std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

namespace SystemModule {

void* Load(const std::string& path, std::string& reason) {
  // A library that cannot be loaded is reported on stderr, not in a box that
  // waits for someone to click it away.
  DWORD previousMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
  HMODULE module = LoadLibraryA(path.c_str());
  DWORD error = GetLastError();
  SetThreadErrorMode(previousMode, nullptr);
  if (module == nullptr) reason = SystemMessage(error);
  return module;
}

void* FindFunction(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void Unload(void* module) {
  FreeLibrary(static_cast<HMODULE>(module));
}

std::string ExecutableFolder() {
  // The path is cut, with no error, when the buffer is too small: grow it
  // until the path fits.
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::string file(buffer.data(), length);
      size_t separator = file.find_last_of("\\/");
      return separator == std::string::npos ? std::string() : file.substr(0, separator);
    }
    buffer.resize(buffer.size() * 2);
  }
}

const char* PluginFileName() {
  return "Trovex.dll";
}

}  // namespace SystemModule

}  // namespace trovex
