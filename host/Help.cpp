#include "host/Help.h"

#include <array>
#include <utility>

namespace trovex {

namespace {

constexpr char kProgramHelp[] =
    "usage: trovex [--plugin LIB] [--system DIR] [--wine-prefix DIR] [--cache DIR]...\n"
    "              [--profile DIR]... [--inetcache DIR] [--settings FILE]\n"
    "              [--yes|--no] COMMAND [ARG...]\n"
    "\n"
    "Drives the Trovex plug-in, which shows the URL cache as a tree of sites,\n"
    "hosts and entries, through its entry points, as a file manager does.\n"
    "\n"
    "Options (before the command):\n"
    "  --plugin LIB   the plug-in library to load (default: Trovex.so beside\n"
    "                 the trovex program)\n"
    "  --system DIR   the system folder the plug-in reads its URL cache and\n"
    "                 registry from (sets TROVEX_SYSTEM)\n"
    "  --wine-prefix DIR\n"
    "                 read the URL cache of the Wine prefix DIR instead: its\n"
    "                 Cookies, History and Content containers, as its user.reg\n"
    "                 names them (sets TROVEX_WINEPREFIX; Linux build only)\n"
    "  --cache DIR    read the URL cache container DIR, a folder that holds an\n"
    "                 index.dat such as a Content.IE5, Cookies or History.IE5\n"
    "                 folder copied from a Windows disk, or a WebCache folder\n"
    "                 with its WebCacheV01.dat (read only); the index file itself\n"
    "                 names its folder; repeat it for more, read\n"
    "                 in the order given; a path may hold ':' (sets\n"
    "                 TROVEX_CACHE_1, TROVEX_CACHE_2, ...; Linux build only).\n"
    "                 Deleting needs a writable folder, and for a prefix, Wine\n"
    "                 stopped in it (wineserver -k)\n"
    "  --profile DIR  read the containers of the Windows user folder DIR on a\n"
    "                 mounted disk (Users/NAME, Documents and Settings/NAME, or\n"
    "                 a Wine prefix's drive_c/users/NAME) as --cache would: its\n"
    "                 Cookies, History.IE5 (with MSHist01...), Content.IE5 and\n"
    "                 WebCache folders of XP, Vista and 7 (with their Low\n"
    "                 folders), 8 and later, or Wine, names in any letter case,\n"
    "                 after the --cache folders; links out of DIR are not followed\n"
    "                 (Linux build only)\n"
    "  --inetcache DIR\n"
    "                 look for the cached files of a WebCacheV01.dat below DIR,\n"
    "                 the user's INetCache folder, where the disk's layout puts\n"
    "                 it elsewhere (sets TROVEX_INETCACHE; Linux build only)\n"
    "  --settings FILE\n"
    "                 the plug-in's settings file, in place of the Trovex.ini\n"
    "                 beside the library, which stays as it is; a file that\n"
    "                 cannot be read is a usage error (sets TROVEX_SETTINGS)\n"
    "  --yes, --no    answer the plug-in's OK/Cancel question with OK or Cancel\n"
    "                 (sets TROVEX_MSGBOX_ANSWER to ok or cancel)\n"
    "  -h, --help     this text\n"
    "\n"
    "Commands:\n"
    "  ls [--json] [-l] [PATH]     list a folder as the plug-in lists it\n"
    "  info [--json] PATH          every field of an entry's cache records\n"
    "  export [--format F] [PATH]  every cache record below PATH, one row each\n"
    "                              (F: csv, jsonl, bodyfile, timesketch)\n"
    "  tree [PATH]                 the tree below PATH with counts and sizes\n"
    "  get [--force] [-v] [--manifest FILE] PATH... DEST\n"
    "                              copy entries and folders into the folder DEST\n"
    "  rm [-v] PATH...             delete entries and folders from the cache\n"
    "  open PATH                   open an entry (in the browser)\n"
    "  about                       the plug-in's about box\n"
    "  reread                      make the plug-in read its settings and cache again\n"
    "  shell                       an interactive session\n"
    "  help [COMMAND]              this text, or the help of one command\n"
    "\n"
    "Paths: \\site\\host\\URL as the plug-in writes them (the root is \\), or\n"
    "site/host/URL, split at the first two slashes only, so that\n"
    "example.com/www.example.com/http://www.example.com/a.gif names an entry;\n"
    "/ or nothing is the root. Quote paths in the shell you type them into.\n"
    "\n"
    "Names from the cache are printed with control characters, direction\n"
    "controls and bytes that are not UTF-8 escaped: \\x1b for a byte, \\u202e for\n"
    "a character; ls --json, info --json and export's hex and JSON fields hold\n"
    "them exactly.\n"
    "\n"
    "Exit status: 0 success, 1 an operation failed, 2 a usage error or a path\n"
    "that does not exist.\n";

constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kCommandHelp = {{
    {"ls",
     "usage: trovex ls [--json] [-l] [PATH]\n"
     "Lists the folder at PATH (default: the root) in the plug-in's order: kind\n"
     "(folder or file), size in bytes, name. The root's first item is the\n"
     "plug-in's reread entry. A file's path lists the file alone.\n"
     "  -l, --long   the last access of each entry's record before its name\n"
     "               (ISO 8601 UTC; - for folders and entries without one)\n"
     "  --json   one JSON object: {\"path\": ..., \"items\": [{\"kind\", \"size\", \"name\"}]},\n"
     "           each entry with \"records\": every field of its cache records, as\n"
     "           info --json writes them; a path or name that is not valid UTF-8\n"
     "           also has \"path_hex\" or \"name_hex\", its exact bytes in hex\n"},
    {"info",
     "usage: trovex info [--json] PATH\n"
     "Prints every field of the URL cache's record of the entry at PATH: URL,\n"
     "container folder, local file (with its size on disk, or missing), type\n"
     "flags by name, recorded size, hits, use count, last modified, expires,\n"
     "last access and last sync (ISO 8601 UTC, or unset), file extension,\n"
     "exempt delta and the header, one line each. A URL that two containers\n"
     "hold has a record from each. The records are read from the cache itself,\n"
     "found by the entry's exact URL.\n"
     "  --json   one JSON object: {\"path\": ..., \"records\": [{\"url\", \"container\",\n"
     "           \"local_file\", \"local_file_present\", \"local_file_size\", \"type\",\n"
     "           \"type_names\", \"size\", \"hits\", \"use_count\", \"last_modified\",\n"
     "           \"expires\", \"last_access\", \"last_sync\", \"extension\", \"header\",\n"
     "           \"exempt_delta\"}]}; unset times and missing texts are null, and\n"
     "           text that is not valid UTF-8 also has a \"_hex\" field\n"},
    {"export",
     "usage: trovex export [--format csv|jsonl|bodyfile|timesketch] [PATH]\n"
     "Writes every record of the URL cache below PATH (default: the root) to\n"
     "stdout, one row each with all the fields info prints, as the cache's\n"
     "enumeration hands them out: history and cookies too, whatever the\n"
     "plug-in's settings hide, and a row for each container that holds a URL.\n"
     "Below a site or host folder, the rows are those whose URL's host is one\n"
     "of the host folders the tree shows there; an entry's path gives its own.\n"
     "On a terminal, a long export shows its progress on stderr.\n"
     "  -f, --format F   csv (default): RFC 4180 with a header row and CR LF\n"
     "                     line ends; texts in their visible form, url_hex and\n"
     "                     local_file_hex give the exact bytes when that differs\n"
     "                   jsonl: one JSON object a line, as info --json's records\n"
     "                   bodyfile: the Sleuth Kit's body file for mactime:\n"
     "                     0|URL (CONTAINER)|0|r/r---------|0|0|size|atime|mtime|\n"
     "                     ctime|0 in Unix seconds; atime the last access, mtime\n"
     "                     the last modified, ctime the last sync; | is \\x7c\n"
     "                   timesketch: JSON lines, one event per time that is set,\n"
     "                     with message (the URL), datetime, timestamp (us) and\n"
     "                     timestamp_desc, and the record's fields\n"},
    {"tree",
     "usage: trovex tree [PATH]\n"
     "Shows every site, host and entry below PATH (default: the root), each\n"
     "folder with the number of hosts and entries and the bytes below it.\n"
     "When the cache holds entries below PATH that the plug-in's settings hide\n"
     "(history, cookies with ShowCookies=0), a last line says how many, each\n"
     "URL counted once: (12 entries hidden by the settings).\n"},
    {"get",
     "usage: trovex get [--force] [-v] [--manifest FILE] PATH... DEST\n"
     "Copies entries out of the cache into the folder DEST, made when missing.\n"
     "An entry lands in DEST itself; a site or host folder (or the root) is\n"
     "copied with everything below it into DEST/SITE/HOST/. Each URL becomes a\n"
     "safe file name: bytes that do not belong in a file name (such as / : ? *\n"
     "%, control characters and every byte from 0x80 up) are written as %XX,\n"
     "and overlong names end in # and a hash; nothing is written outside DEST.\n"
     "An existing file is kept unless --force is given or you answer yes at\n"
     "the terminal. Fails when fewer files were copied than were listed.\n"
     "  -f, --force     replace existing files\n"
     "  -v, --verbose   name every file copied\n"
     "  -m, --manifest FILE\n"
     "                  write FILE, a CSV table (RFC 4180, a header row) of the\n"
     "                  copies made: url, container, last_modified, expires,\n"
     "                  last_access, last_sync (ISO 8601 UTC), size and sha256\n"
     "                  of the copy as read back from DEST, and copy, its path;\n"
     "                  text from the cache in its escaped form, quoted (Linux\n"
     "                  build only)\n"},
    {"rm",
     "usage: trovex rm [-v] PATH...\n"
     "Deletes the entries at PATH from the cache, a site or host folder with\n"
     "everything below it, inside one delete operation that the plug-in ends by\n"
     "reading the cache again. Names every entry the plug-in could not delete\n"
     "and every one still listed afterwards, and fails when any is. The root\n"
     "is never deleted.\n"
     "  -v, --verbose   name every entry deleted\n"},
    {"open",
     "usage: trovex open PATH\n"
     "Runs the plug-in's \"open\" verb on the entry at PATH, which starts the\n"
     "browser on its URL (the plug-in may ask first: see --yes and --no). When\n"
     "the plug-in asks the host to show a folder, that folder is listed; a\n"
     "folder's path lists the folder.\n"},
    {"about",
     "usage: trovex about\n"
     "Runs the plug-in's \"properties\" verb on the root: its about box with the\n"
     "plug-in's version, the browser's version and the cache folder; then the\n"
     "container folders the plug-in reads, when --wine-prefix or --cache names any.\n"},
    {"reread",
     "usage: trovex reread\n"
     "Opens the root's first item, whatever the language file names it, so the\n"
     "plug-in reads its settings and the cache again; then lists the root.\n"},
    {"shell",
     "usage: trovex shell\n"
     "An interactive session in a current folder, with line editing, history\n"
     "and completion of names (Tab). Its commands: cd, pwd, ls, info, export,\n"
     "tree, get, rm, open, about, reread, help, exit. Paths are relative to the current folder\n"
     "unless they begin with \\ or /; \"..\" is the folder above. Quote a name\n"
     "that holds spaces with \" or '.\n"},
    {"help",
     "usage: trovex help [COMMAND]\n"
     "The program's usage, or the help of COMMAND.\n"},
}};

constexpr char kShellHelp[] =
    "  cd [PATH]                   go to a folder (default: the root)\n"
    "  pwd                         the current folder\n"
    "  ls [--json] [-l] [PATH]     list a folder\n"
    "  info [--json] PATH          every field of an entry's records\n"
    "  export [--format F] [PATH]  every record below a folder, one row each\n"
    "  tree [PATH]                 the tree below a folder\n"
    "  get [--force] [-v] PATH... DEST\n"
    "                              copy entries out into the local folder DEST\n"
    "  rm [-v] PATH...             delete entries and folders\n"
    "  open PATH                   open an entry in the browser\n"
    "  about                       the plug-in's about box\n"
    "  reread                      read settings and cache again\n"
    "  help [COMMAND]              this text, or one command's\n"
    "  exit                        leave (also Ctrl-D)\n";

}  // namespace

std::string ProgramHelp() {
  return kProgramHelp;
}

std::optional<std::string> CommandHelp(std::string_view name) {
  for (const auto& [command, text] : kCommandHelp) {
    if (command == name) return std::string(text);
  }
  return std::nullopt;
}

std::string ShellHelp() {
  return kShellHelp;
}

}  // namespace trovex
