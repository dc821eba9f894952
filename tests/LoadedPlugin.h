// The plug-in as a host sees it: a copy of the built library, with its
// settings and language files beside it, loaded with dlopen and driven
// through its exported entry points.
#ifndef TROVEX_TESTS_LOADEDPLUGIN_H
#define TROVEX_TESTS_LOADEDPLUGIN_H

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/fsplugin.h"
#include "tests/TempFolder.h"

class LoadedPlugin {
 public:
  // Copies the library into folder under fileName and loads it.
  LoadedPlugin(const std::filesystem::path& folder, const std::string& fileName = "Trovex.so") {
    std::filesystem::create_directories(folder);
    path_ = (folder / fileName).string();
    std::filesystem::copy_file(TROVEX_PLUGIN_PATH, path_,
                               std::filesystem::copy_options::overwrite_existing);
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    Resolve(FsInit, "FsInit");
    Resolve(FsGetDefRootName, "FsGetDefRootName");
    Resolve(FsStatusInfo, "FsStatusInfo");
    Resolve(FsFindFirst, "FsFindFirst");
    Resolve(FsFindNext, "FsFindNext");
    Resolve(FsFindClose, "FsFindClose");
    Resolve(FsGetFile, "FsGetFile");
    Resolve(FsDeleteFile, "FsDeleteFile");
    Resolve(FsExecuteFile, "FsExecuteFile");
  }
  ~LoadedPlugin() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  const std::string& path() const { return path_; }

  void Init() { FsInit(7, nullptr, nullptr, nullptr); }

  // Every item of the listing of path, names only; empty when it fails.
  std::vector<std::string> List(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA record{};
    HANDLE handle = FsFindFirst(path.c_str(), &record);
    if (handle == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(record.cFileName);
    } while (FsFindNext(handle, &record) == kFsTrue);
    FsFindClose(handle);
    return names;
  }

  // Ends a delete operation as a host does, so that the cache is read again.
  void EndDelete() { FsStatusInfo("\\", kFsStatusEnd, kFsOperationDelete); }

  FsInitFunction FsInit = nullptr;
  FsGetDefRootNameFunction FsGetDefRootName = nullptr;
  FsStatusInfoFunction FsStatusInfo = nullptr;
  FsFindFirstFunction FsFindFirst = nullptr;
  FsFindNextFunction FsFindNext = nullptr;
  FsFindCloseFunction FsFindClose = nullptr;
  FsGetFileFunction FsGetFile = nullptr;
  FsDeleteFileFunction FsDeleteFile = nullptr;
  FsExecuteFileFunction FsExecuteFile = nullptr;

 private:
  template <typename Function>
  void Resolve(Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(handle_, name));
    if (function == nullptr) throw std::runtime_error(std::string("missing entry point ") + name);
  }

  std::string path_;
  void* handle_ = nullptr;
};

#endif
