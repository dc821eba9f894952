#include "host/PluginLibrary.h"

#include <filesystem>
#include <vector>

#include "host/HostError.h"

namespace trovex {

namespace {

// Stores the function the module exports as name into slot, or adds name to
// missing.
template <typename Function>
void Resolve(void* module, const char* name, Function& slot, std::vector<std::string>& missing) {
  slot = reinterpret_cast<Function>(SystemModule::FindFunction(module, name));
  if (slot == nullptr) missing.push_back(name);
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    throw HostError(kExitUsage, "no plug-in library: " + path);
  }
  // An absolute path keeps the loader from searching its own folders.
  std::string absolute = std::filesystem::absolute(path, error).string();
  std::string reason;
  module_ = SystemModule::Load(absolute.empty() ? path : absolute, reason);
  if (module_ == nullptr) throw HostError(kExitFailed, "cannot load plug-in library " + path + ": " + reason);

  std::vector<std::string> missing;
  PluginEntryPoints& e = entryPoints_;
  Resolve(module_, "FsInit", e.FsInit, missing);
  Resolve(module_, "FsGetDefRootName", e.FsGetDefRootName, missing);
  Resolve(module_, "FsStatusInfo", e.FsStatusInfo, missing);
  Resolve(module_, "FsFindFirst", e.FsFindFirst, missing);
  Resolve(module_, "FsFindNext", e.FsFindNext, missing);
  Resolve(module_, "FsFindClose", e.FsFindClose, missing);
  Resolve(module_, "FsGetFile", e.FsGetFile, missing);
  Resolve(module_, "FsDeleteFile", e.FsDeleteFile, missing);
  Resolve(module_, "FsExecuteFile", e.FsExecuteFile, missing);
  if (!missing.empty()) {
    SystemModule::Unload(module_);
    module_ = nullptr;
    const char* noun = missing.size() == 1 ? "entry point" : "entry points";
    throw HostError(kExitFailed, "plug-in library " + path + " lacks the " + noun + " " + JoinNames(missing));
  }
}

PluginLibrary::~PluginLibrary() {
  if (module_ != nullptr) SystemModule::Unload(module_);
}

std::string DefaultPluginPath() {
  std::string folder = SystemModule::ExecutableFolder();
  if (folder.empty()) return SystemModule::PluginFileName();
  return (std::filesystem::path(folder) / SystemModule::PluginFileName()).string();
}

}  // namespace trovex
