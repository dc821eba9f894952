// The module loader of POSIX systems: dlopen and dlsym.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "host/PluginLibrary.h"

namespace trovex {

namespace SystemModule {

void* Load(const std::string& path, std::string& reason) {
  // RTLD_NOW: an unresolved symbol shows up here, not in the middle of a call.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* error = dlerror();
    reason = error != nullptr ? error : "unknown reason";
  }
  return module;
}

void* FindFunction(void* module, const char* name) {
  return dlsym(module, name);
}

void Unload(void* module) {
  dlclose(module);
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string file(path, static_cast<size_t>(length));
  size_t slash = file.rfind('/');
  if (slash == std::string::npos) return {};
  return file.substr(0, slash == 0 ? 1 : slash);
}

const char* PluginFileName() {
  return "Trovex.so";
}

}  // namespace SystemModule

}  // namespace trovex
