// The plug-in as a host sees it: a copy of the built library, with its
// settings and language files beside it, loaded as the host program loads
// it and driven through its exported entry points.
#ifndef TROVEX_TESTS_SUPPORT_LOADEDPLUGIN_H
#define TROVEX_TESTS_SUPPORT_LOADEDPLUGIN_H

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/PluginLibrary.h"
#include "plugin/fsplugin.h"
#include "tests/support/TempFolder.h"

class LoadedPlugin : public PluginEntryPoints {
 public:
  // Copies the library into folder under fileName and loads it.
  LoadedPlugin(const std::filesystem::path& folder, const std::string& fileName = "Trovex.so")
      : path_(CopyLibrary(folder, fileName)), library_(path_) {
    static_cast<PluginEntryPoints&>(*this) = library_.EntryPoints();
  }

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

 private:
  static std::string CopyLibrary(const std::filesystem::path& folder, const std::string& fileName) {
    std::filesystem::create_directories(folder);
    std::string path = (folder / fileName).string();
    std::filesystem::copy_file(TROVEX_PLUGIN_PATH, path, std::filesystem::copy_options::overwrite_existing);
    return path;
  }

  std::string path_;
  PluginLibrary library_;
};

#endif
