// A plug-in library loaded into the host, and its nine entry points found by
// name.
#ifndef TROVEX_HOST_PLUGINLIBRARY_H
#define TROVEX_HOST_PLUGINLIBRARY_H

#include <string>

#include "plugin/fsplugin.h"

namespace trovex {

// The entry points a host drives a plug-in through, all resolved.
struct PluginEntryPoints {
  FsInitFunction FsInit = nullptr;
  FsGetDefRootNameFunction FsGetDefRootName = nullptr;
  FsStatusInfoFunction FsStatusInfo = nullptr;
  FsFindFirstFunction FsFindFirst = nullptr;
  FsFindNextFunction FsFindNext = nullptr;
  FsFindCloseFunction FsFindClose = nullptr;
  FsGetFileFunction FsGetFile = nullptr;
  FsDeleteFileFunction FsDeleteFile = nullptr;
  FsExecuteFileFunction FsExecuteFile = nullptr;
};

// Owns a loaded library; the destructor unloads it.
class PluginLibrary {
 public:
  // Loads the library at path and resolves all nine entry points. Throws
  // HostError: kExitUsage when no file is at path, kExitFailed when the
  // system cannot load it or it lacks entry points (all of them named).
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const PluginEntryPoints& EntryPoints() const { return entryPoints_; }

 private:
  void* module_ = nullptr;
  PluginEntryPoints entryPoints_;
};

// The plug-in library beside this program's executable ("Trovex.so" on
// Linux); just the file name when the executable's folder is unknown.
std::string DefaultPluginPath();

// The system's module loader, one implementation per system
// (host/<system>/PluginLibrary.cpp).
namespace SystemModule {

// The loaded module at path, or nullptr with the loader's reason in reason.
void* Load(const std::string& path, std::string& reason);

// The address of the exported function name, or nullptr when it is missing.
void* FindFunction(void* module, const char* name);

// Unloads the module.
void Unload(void* module);

// The folder of the running executable; empty when it cannot be found.
std::string ExecutableFolder();

// The file name of the plug-in library on this system.
const char* PluginFileName();

}  // namespace SystemModule

}  // namespace trovex

#endif
