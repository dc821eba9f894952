// The registry file as a document: registry.reg in the registry editor's
// export format ("Windows Registry Editor Version 5.00" or "REGEDIT4", [KEY]
// lines, "Name"=data lines), 8-bit or UTF-16LE with a byte-order mark, LF or
// CRLF line ends, hex values continued over lines with a trailing '\'.
//
// A change is spliced into the file's bytes: the one line that changes (or
// the lines added) are written in the file's encoding and line ends, and
// every other byte stays as it was. Lines that cannot be read are skipped,
// both when reading and when a write looks for its place. Internal to
// platform/posix; the file itself is read and written by registry.cpp.
#ifndef TROVEX_PLATFORM_POSIX_REGDOCUMENT_H
#define TROVEX_PLATFORM_POSIX_REGDOCUMENT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sysapi.h"

namespace trovex {

// One line after continuations are joined: its text (UTF-8 for a UTF-16
// file) and where its bytes lie in the file. [start, end) is the text
// without its line end; next is where the following line starts.
struct Line {
  std::string text;
  size_t start = 0;
  size_t end = 0;
  size_t next = 0;
};

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;  // as RegQueryValueExA hands it out
  size_t line = 0;
};

struct Section {
  std::string key;
  size_t line = 0;      // the [KEY] line
  size_t lastLine = 0;  // the key line or its last value line: where a new value goes
  std::vector<Value> values;
};

struct Document {
  std::string raw;
  bool utf16 = false;
  bool unicodeData = true;  // hex(1), hex(2), hex(7) data are UTF-16LE (not REGEDIT4)
  std::string lineEnd = "\n";
  std::vector<Line> lines;
  std::vector<Section> sections;
};

// A key path without the backslashes that lead or end it.
std::string WithoutOuterBackslashes(std::string_view path);

// Reads doc.raw into its encoding, line end, lines and sections.
void ParseDocument(Document& doc);

// True when the file has the key or a key below it.
bool HasKey(const Document& doc, std::string_view path);

// Where a value of the key is read from: when a file sets it more than once,
// the last setting holds, as when the file is imported.
const Value* FindValue(const Document& doc, std::string_view path, std::string_view name);

// Adds "[key]" and the given lines at the end, after a blank line.
void AppendSection(Document& doc, std::string_view key, std::string_view body);

// Replaces the value's line (keeping the name as the file spells it) or adds
// one to the key, creating the key's section when the file has none.
void SetValue(Document& doc, std::string_view key, std::string_view name, DWORD type,
              std::string_view data);

}  // namespace trovex

#endif
