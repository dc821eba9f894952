// The plug-in as a host sees it: a copy of the built library, with its
// settings and language files beside it, loaded as the host program loads
// it and driven through its exported entry points.
#ifndef TROVEX_TESTS_SUPPORT_LOADEDPLUGIN_H
#define TROVEX_TESTS_SUPPORT_LOADEDPLUGIN_H

#include <filesystem>
#include <string>
#include <vector>

#include "host/PluginLibrary.h"
#include "plugin/fsplugin.h"

namespace trovex {

class LoadedPlugin : public PluginEntryPoints {
 public:
  // Copies the library into folder under fileName and loads it.
  explicit LoadedPlugin(const std::filesystem::path& folder, const std::string& fileName = "Trovex.so");

  const std::string& path() const { return path_; }

  void Init() { FsInit(7, nullptr, nullptr, nullptr); }

  // Every item of the listing of path, names only; empty when it fails.
  std::vector<std::string> List(const std::string& path);

  // Ends a delete operation as a host does, so that the cache is read again.
  void EndDelete() { FsStatusInfo("\\", kFsStatusEnd, kFsOperationDelete); }

 private:
  static std::string CopyLibrary(const std::filesystem::path& folder, const std::string& fileName);

  std::string path_;
  PluginLibrary library_;
};

}  // namespace trovex

#endif
