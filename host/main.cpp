// trovex: loads a plug-in library, resolves its nine entry points, calls
// FsInit once and runs one command (or the interactive shell) on the tree.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/Ascii.h"
#include "host/CommandLine.h"
#include "host/Help.h"
#include "host/HostError.h"
#include "host/HostSystem.h"
#include "host/Output.h"
#include "host/Plugin.h"
#include "host/PluginLibrary.h"
#include "host/Profile.h"
#ifdef TROVEX_HAVE_SHELL
#include "host/Shell.h"
#endif
#include "platform/system.h"

namespace trovex {
namespace {

struct GlobalOptions {
  std::string PluginPath;
  std::optional<std::string> SystemFolder;
  std::optional<std::string> WinePrefix;
  std::vector<std::string> CacheFolders;  // in the order given
  std::vector<std::string> Profiles;  // their containers follow the folders
  std::optional<std::string> SettingsFile;  // in place of the Trovex.ini beside the library
  std::optional<std::string> INetCache;  // where a WebCache's local files lie
  std::optional<std::string> BoxAnswer;  // "ok" or "cancel"
  bool Help = false;
  std::vector<std::string> Words;  // the command and its arguments
};

// The value of option at argv[i] ("--name VALUE" or "--name=VALUE"), or
// nullopt when argv[i] is not that option.
std::optional<std::string> OptionValue(std::string_view option, int argc, char** argv, int& i) {
  std::string_view word = argv[i];
  if (word.starts_with(option) && word.size() > option.size() && word[option.size()] == '=') {
    return std::string(word.substr(option.size() + 1));
  }
  if (word != option) return std::nullopt;
  if (i + 1 >= argc) throw HostError(kExitUsage, std::string(option) + " needs a value");
  return std::string(argv[++i]);
}

GlobalOptions ReadGlobalOptions(int argc, char** argv) {
  GlobalOptions options;
  options.PluginPath = DefaultPluginPath();
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string_view word = argv[i];
    if (word == "--") {
      ++i;
      break;
    }
    if (std::optional<std::string> value = OptionValue("--plugin", argc, argv, i)) {
      options.PluginPath = *value;
    } else if (std::optional<std::string> value = OptionValue("--system", argc, argv, i)) {
      options.SystemFolder = *value;
    } else if (std::optional<std::string> value = OptionValue("--wine-prefix", argc, argv, i)) {
      options.WinePrefix = *value;
    } else if (std::optional<std::string> value = OptionValue("--cache", argc, argv, i)) {
      options.CacheFolders.push_back(*value);
    } else if (std::optional<std::string> value = OptionValue("--profile", argc, argv, i)) {
      options.Profiles.push_back(*value);
    } else if (std::optional<std::string> value = OptionValue("--settings", argc, argv, i)) {
      options.SettingsFile = *value;
    } else if (std::optional<std::string> value = OptionValue("--inetcache", argc, argv, i)) {
      options.INetCache = *value;
    } else if (word == "--yes" || word == "--no") {
      options.BoxAnswer = word == "--yes" ? "ok" : "cancel";
    } else if (word == "-h" || word == "--help") {
      options.Help = true;
    } else {
      throw HostError(kExitUsage, "unknown option " + std::string(word) + " (see trovex --help)");
    }
  }
  for (; i < argc; ++i) options.Words.emplace_back(argv[i]);
  return options;
}

// The absolute path of the folder an option names; a usage error when it is
// not a folder. A cache's folder is handed on as the file system resolves
// it: "link/.." names the link's target's parent, not the folder holding
// the link.
std::string FolderOption(const std::string& folder, const std::string& what, bool resolved = false) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) throw HostError(kExitUsage, "no such " + what + ": " + folder);
  std::filesystem::path path =
      resolved ? std::filesystem::canonical(folder, error) : std::filesystem::absolute(folder, error);
  if (error) throw HostError(kExitUsage, "no such " + what + ": " + folder);
  return path.string();
}

// A cache is named by its folder or by its index file itself, which stands
// for the folder that holds it.
std::string CacheFolderOption(const std::string& given) {
  static constexpr std::string_view kIndexNames[] = {"index.dat", "WebCacheV01.dat", "WebCacheV24.dat"};
  std::error_code error;
  std::filesystem::path path(given);
  std::string name = path.filename().string();
  bool isIndex = std::any_of(std::begin(kIndexNames), std::end(kIndexNames),
                             [&](std::string_view index) { return EqualNoCase(name, index); });
  if (isIndex && std::filesystem::is_regular_file(path, error))
    return FolderOption(std::filesystem::absolute(path, error).parent_path().string(), "cache folder", true);
  return FolderOption(given, "cache folder", true);
}

void SetEnvironmentOrFail(const std::string& name, const std::string& value) {
  if (!SetEnvironmentValue(name, value)) throw HostError(kExitFailed, "cannot set " + name);
}

// The cache folders to read: those of --cache, then each profile's
// containers.
std::vector<std::string> CacheFoldersOf(const GlobalOptions& options) {
  std::vector<std::string> folders;
  for (const std::string& folder : options.CacheFolders) folders.push_back(CacheFolderOption(folder));
  for (const std::string& profile : options.Profiles) {
    for (std::string& folder : ProfileContainers(profile)) folders.push_back(std::move(folder));
  }
  return folders;
}

// TROVEX_WINEPREFIX and the cache folders, the caches of a Linux build. The
// folders go one a variable, TROVEX_CACHE_1, TROVEX_CACHE_2, ..., so that a
// path may hold ':', which separates those of TROVEX_CACHE; the variable after
// the last is emptied, which ends them, and so is TROVEX_CACHE, so that the
// system layer reads the folders given and no others.
void ApplyCacheOptions(const GlobalOptions& options) {
  if (!options.WinePrefix && options.CacheFolders.empty() && options.Profiles.empty() && !options.INetCache) return;
  if (!ReadsCacheFolders()) {
    throw HostError(kExitUsage, "--wine-prefix, --cache, --profile and --inetcache are for the Linux build; this one "
                                "reads the system's cache");
  }
  if (options.INetCache)
    SetEnvironmentOrFail("TROVEX_INETCACHE", FolderOption(*options.INetCache, "INetCache folder", true));
  if (options.WinePrefix) {
    SetEnvironmentOrFail("TROVEX_WINEPREFIX", FolderOption(*options.WinePrefix, "Wine prefix", true));
  }
  std::vector<std::string> folders = CacheFoldersOf(options);
  if (folders.empty()) return;
  for (size_t i = 0; i <= folders.size(); ++i) {
    SetEnvironmentOrFail("TROVEX_CACHE_" + std::to_string(i + 1), i < folders.size() ? folders[i] : "");
  }
  SetEnvironmentOrFail("TROVEX_CACHE", "");
}

// The absolute path of the settings file --settings names; a usage error
// when it is not a file that can be read.
std::string SettingsFileOption(const std::string& file) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(file, error);
  std::ifstream stream;
  if (!error && std::filesystem::is_regular_file(path, error)) stream.open(path, std::ios::binary);
  if (!stream.is_open()) {
    throw HostError(kExitUsage, "cannot read the settings file " + file);
  }
  return path.string();
}

// Hands the options meant for the plug-in's system layer over through the
// environment, before the library is loaded.
void ApplyEnvironment(const GlobalOptions& options) {
  if (options.SystemFolder) {
    SetEnvironmentOrFail("TROVEX_SYSTEM", FolderOption(*options.SystemFolder, "system folder"));
  }
  ApplyCacheOptions(options);
  if (options.SettingsFile) SetEnvironmentOrFail("TROVEX_SETTINGS", SettingsFileOption(*options.SettingsFile));
  if (options.BoxAnswer && !SetEnvironmentValue("TROVEX_MSGBOX_ANSWER", *options.BoxAnswer)) {
    throw HostError(kExitFailed, "cannot set TROVEX_MSGBOX_ANSWER");
  }
}

// Help that needs no plug-in: the program's, "help COMMAND" or
// "COMMAND --help"; nullopt when the words ask for none.
std::optional<std::string> HelpWithoutPlugin(const GlobalOptions& options) {
  const std::vector<std::string>& words = options.Words;
  if (options.Help) return ProgramHelp();
  if (words.empty() || words.front() != "help") return HelpAsked(words);
  if (words.size() == 1) return ProgramHelp();
  std::optional<std::string> text = CommandHelp(words[1]);
  if (!text || words.size() > 2) throw HostError(kExitUsage, "no such command: " + words[1] + " (see trovex --help)");
  return text;
}

void CheckCommand(const std::vector<std::string>& words) {
  if (words.empty()) throw HostError(kExitUsage, "no command given (see trovex --help)");
  const std::string& name = words.front();
  if (name == "shell") {
#ifndef TROVEX_HAVE_SHELL
    throw HostError(kExitUsage, "this build of trovex has no shell");
#endif
    if (words.size() > 1) throw HostError(kExitUsage, "shell takes no arguments");
    return;
  }
  CheckTreeCommand(words);
}

int RunCommand(Plugin& plugin, const std::vector<std::string>& words) {
#ifdef TROVEX_HAVE_SHELL
  if (words.front() == "shell") return RunShell(plugin);
#endif
  return RunTreeCommand(plugin, VirtualPath{}, words);
}

int Run(int argc, char** argv) {
  GlobalOptions options = ReadGlobalOptions(argc, argv);
  if (std::optional<std::string> help = HelpWithoutPlugin(options)) {
    std::cout << *help;
    return kExitOk;
  }
  CheckCommand(options.Words);
  ApplyEnvironment(options);
  // The plug-in leaves out a cache it cannot read, and what it cannot trust
  // of one it reads, without a word; the user hears of it here. With nothing
  // left to read, the command would only show an empty cache.
  CacheSources caches = DescribeCacheSources();
  for (const std::string& problem : caches.Skipped) ReportError("skipped " + problem);
  for (const std::string& partial : caches.Partial) ReportError(partial);
  if (caches.NoneRead) throw HostError(kExitFailed, "not one of the caches given can be read");
  PluginLibrary library(options.PluginPath);
  Plugin plugin(library.EntryPoints());
  if (int32_t result = plugin.Init(); result != 0) {
    throw HostError(kExitFailed, "the plug-in did not start: FsInit returned " + std::to_string(result));
  }
  int status = RunCommand(plugin, options.Words);
  // Whatever the library does as it unloads, the command's output is out.
  std::cout.flush();
  return status;
}

}  // namespace
}  // namespace trovex

using namespace trovex;

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const HostError& error) {
    ReportError(error.what());
    return error.Status;
  } catch (const std::exception& error) {
    ReportError(error.what());
    return kExitFailed;
  }
}
