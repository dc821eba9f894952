#include "tests/support/LoadedPlugin.h"

namespace trovex {

LoadedPlugin::LoadedPlugin(const std::filesystem::path& folder, const std::string& fileName)
    : path_(CopyLibrary(folder, fileName)), library_(path_) {
  static_cast<PluginEntryPoints&>(*this) = library_.EntryPoints();
}

std::vector<std::string> LoadedPlugin::List(const std::string& path) {
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

std::string LoadedPlugin::CopyLibrary(const std::filesystem::path& folder, const std::string& fileName) {
  std::filesystem::create_directories(folder);
  std::string path = (folder / fileName).string();
  std::filesystem::copy_file(TROVEX_PLUGIN_PATH, path, std::filesystem::copy_options::overwrite_existing);
  return path;
}

}  // namespace trovex
