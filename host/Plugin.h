// The plug-in as the host drives it: each call goes through one of the nine
// entry points, and listings are read whole and closed at once, so that the
// plug-in's table of open listings never holds more than one of ours.
#ifndef TROVEX_HOST_PLUGIN_H
#define TROVEX_HOST_PLUGIN_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/PluginLibrary.h"

namespace trovex {

// One item of a folder listing, as the plug-in wrote it.
struct ListedItem {
  std::string Name;  // cFileName, cut by the plug-in at 259 bytes
  uint64_t Size = 0;
  bool IsFolder = false;
  uint64_t Date = 0;  // ftLastWriteTime, the date a file panel shows; 0 unset
};

// The outcome of a copy, by the plug-in's result code.
// NoFile: the plug-in reported a copy, but the target is no file.
enum class CopyOutcome { Copied, Exists, Failed, NoFile, Unknown };

class Plugin {
 public:
  // Keeps the entry points, which must outlive the object.
  explicit Plugin(const PluginEntryPoints& entryPoints);

  // Calls FsInit with plug-in number 0 and the host's callbacks; its result.
  int32_t Init();

  // The root name the plug-in suggests; empty when it writes none.
  std::string DefaultRootName();

  // Every item of the folder at hostPath, in the plug-in's order; nullopt
  // when the plug-in refuses to list it (a missing or empty folder). Throws
  // HostError when the listing never ends.
  std::optional<std::vector<ListedItem>> ReadFolder(const std::string& hostPath);

  // Copies the entry at hostPath to the local file localPath, overwriting
  // only when asked.
  CopyOutcome GetFile(const std::string& hostPath, const std::string& localPath, bool overwrite);

  // True when the plug-in reports the entry at hostPath deleted; otherwise
  // *error, when given, is the last error the plug-in left.
  bool DeleteFile(const std::string& hostPath, uint32_t* error = nullptr);

  // Runs verb on hostPath; the result code. On kFsExecShowFolder, hostPath
  // becomes the folder the plug-in wrote into the buffer.
  int32_t ExecuteFile(std::string& hostPath, const char* verb);

  // Reports the start (kFsStatusStart) or end (kFsStatusEnd) of operation.
  void StatusInfo(const std::string& hostPath, int32_t startEnd, int32_t operation);

 private:
  const PluginEntryPoints& fs_;
};

// The plug-in's copy result code in words.
std::string CopyOutcomeText(CopyOutcome outcome);

// The plug-in's FsExecuteFile result code in words.
std::string ExecuteResultText(int32_t result);

}  // namespace trovex

#endif
