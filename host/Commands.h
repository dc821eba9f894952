// The host program's commands on the virtual tree. Each prints its result on
// stdout and each failure as one line on stderr, and returns the exit
// status: kExitOk, or kExitFailed when an operation failed. Paths that are
// not there end a command before it changes anything: get and rm name each
// one and return kExitUsage, the others throw HostError (kExitUsage).
#ifndef TROVEX_HOST_COMMANDS_H
#define TROVEX_HOST_COMMANDS_H

#include <optional>
#include <string>
#include <vector>

#include "host/Plugin.h"
#include "host/VirtualPath.h"

namespace trovex {

struct ListOptions {
  bool Json = false;  // one JSON object, each entry with every field of its records
  bool Long = false;  // each entry's last access too
};

// The items of the folder at path as the plug-in lists them, in its order:
// kind, size, name; one line each, or one JSON object. A file's path lists
// the file alone.
int ListCommand(Plugin& plugin, const VirtualPath& path, const ListOptions& options = {});

// Every field of the cache's records of the entry at path, one block of
// lines each (one per container that holds its URL), or one JSON object.
// Throws HostError (kExitUsage) when path is no entry; fails when the cache
// holds no record of it.
int InfoCommand(Plugin& plugin, const VirtualPath& path, bool json);

struct ExportOptions {
  std::string Format = "csv";  // csv, jsonl, bodyfile or timesketch
};

// True for the formats export writes.
bool IsExportFormat(const std::string& format);

// Every record of the cache below path, one row each, read through the
// cache's enumeration with nothing hidden, in the format asked for.
int ExportCommand(Plugin& plugin, const VirtualPath& path, const ExportOptions& options);

// The tree below path with the number of hosts, entries and bytes of each
// folder.
int TreeCommand(Plugin& plugin, const VirtualPath& path);

struct GetOptions {
  bool Force = false;    // replace existing files without asking
  bool Verbose = false;  // name every file copied
  std::optional<std::string> Manifest;  // the CSV file of the copies made
};

// Copies the entries at paths into the local folder dest (made when
// missing): an entry as dest/NAME, a folder's entries as dest/SITE/HOST/NAME,
// each name made safe by LocalNameFor. An existing file is replaced only
// with Force or when the person at the terminal says yes. With Manifest,
// each copy made gets a row there (see host/Manifest.h).
int GetCommand(Plugin& plugin, const std::vector<VirtualPath>& paths, const std::string& dest,
               const GetOptions& options);

// Deletes the entries at paths, folders with everything below them as they
// are listed when it starts and nothing else, inside the plug-in's start and
// end reports of a delete operation; names each entry the plug-in did not
// delete and each place still listed afterwards. The root cannot be deleted.
int RemoveCommand(Plugin& plugin, const std::vector<VirtualPath>& paths, bool verbose);

// Runs the "open" verb on the file at path; a folder (and the folder the
// plug-in asks to show) is listed.
int OpenCommand(Plugin& plugin, const VirtualPath& path);

// Runs the "properties" verb on the root: the plug-in's about box.
int AboutCommand(Plugin& plugin);

// Runs "open" on the root's first item, the plug-in's reread entry, and
// lists the folder the plug-in asks to show.
int RereadCommand(Plugin& plugin);

}  // namespace trovex

#endif
