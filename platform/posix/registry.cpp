// The registry: registry.reg in the system folder, in the registry editor's
// export format ("Windows Registry Editor Version 5.00" or "REGEDIT4", [KEY]
// lines, "Name"=data lines), 8-bit or UTF-16LE with a byte-order mark, LF or
// CRLF line ends, hex values continued over lines with a trailing '\'.
//
// A change is spliced into the file's bytes: the one line that changes (or
// the lines added) are written in the file's encoding and line ends, and
// every other byte stays as it was. Lines that cannot be read are skipped,
// both when reading and when a write looks for its place.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "handles.h"
#include "hextext.h"
#include "platform/win32api.h"
#include "sysfolder.h"

namespace {

const char kStoreName[] = "registry.reg";
const char kHeader[] = "Windows Registry Editor Version 5.00";

// ---- Text helpers ---------------------------------------------------------

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16LE bytes to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
  };
  size_t units = bytes.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    AppendUtf8(out, code);
  }
  return out;
}

// The length of the UTF-8 sequence at text[i] and its code point; 0 when the
// bytes there are not one.
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t& code) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  code = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
  return length;
}

void AppendUtf16(std::string& out, uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

// UTF-8 to UTF-16LE bytes; a byte that starts no UTF-8 sequence is taken as
// the Latin-1 character of the same value.
std::string Utf8ToUtf16(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size();) {
    uint32_t code = 0;
    size_t length = DecodeUtf8(text, i, code);
    if (length == 0) {
      code = static_cast<unsigned char>(text[i]);
      length = 1;
    }
    if (code >= 0x10000) {
      AppendUtf16(out, 0xD800 + ((code - 0x10000) >> 10));
      AppendUtf16(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      AppendUtf16(out, code);
    }
    i += length;
  }
  return out;
}

// ---- The file as lines ----------------------------------------------------

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

struct PhysicalLine {
  size_t start, end, next;
};

std::vector<PhysicalLine> SplitLines(const std::string& raw, size_t start, bool utf16) {
  std::vector<PhysicalLine> lines;
  size_t unit = utf16 ? 2 : 1;
  size_t limit = utf16 ? raw.size() & ~size_t{1} : raw.size();
  auto isChar = [&](size_t at, char c) { return raw[at] == c && (!utf16 || raw[at + 1] == '\0'); };
  size_t lineStart = start;
  for (size_t at = start; at < limit; at += unit) {
    if (!isChar(at, '\n')) continue;
    size_t end = at > lineStart && isChar(at - unit, '\r') ? at - unit : at;
    lines.push_back({lineStart, end, at + unit});
    lineStart = at + unit;
  }
  if (lineStart < limit) lines.push_back({lineStart, limit, limit});
  return lines;
}

std::string DecodeLine(const Document& doc, const PhysicalLine& line) {
  std::string_view bytes(doc.raw.data() + line.start, line.end - line.start);
  return doc.utf16 ? Utf16ToUtf8(bytes) : std::string(bytes);
}

std::string Encode(const Document& doc, std::string_view text) {
  std::string withEnds;
  for (char c : text) {
    if (c == '\n')
      withEnds += doc.lineEnd;
    else
      withEnds += c;
  }
  return doc.utf16 ? Utf8ToUtf16(withEnds) : withEnds;
}

// ---- Reading value lines --------------------------------------------------

// Reads a quoted text starting at text[pos] == '"', with \\ and \" escapes;
// pos ends past the closing quote.
std::optional<std::string> ParseQuoted(std::string_view text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string out;
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c == '\\' && pos + 1 < text.size()) c = text[++pos];
    out += c;
  }
  return std::nullopt;
}

struct ValueLine {
  std::string name;
  std::string_view data;
};

std::optional<ValueLine> SplitValueLine(std::string_view text) {
  text = Trim(text);
  ValueLine line;
  size_t pos = 0;
  if (!text.empty() && text[0] == '@') {
    pos = 1;
  } else {
    std::optional<std::string> name = ParseQuoted(text, pos);
    if (!name) return std::nullopt;
    line.name = std::move(*name);
  }
  std::string_view rest = Trim(text.substr(pos));
  if (rest.empty() || rest[0] != '=') return std::nullopt;
  line.data = Trim(rest.substr(1));
  return line;
}

bool IsHexValueLine(std::string_view text) {
  std::optional<ValueLine> line = SplitValueLine(text);
  return line && StartsWithNoCase(line->data, "hex");
}

std::optional<std::string> ParseHexBytes(std::string_view list) {
  std::string bytes;
  list = Trim(list);
  if (list.empty()) return bytes;
  while (true) {
    size_t comma = list.find(',');
    std::optional<uint32_t> byte = ParseHex(Trim(list.substr(0, comma)), 2);
    if (!byte) return std::nullopt;
    bytes += static_cast<char>(*byte);
    if (comma == std::string_view::npos) return bytes;
    list.remove_prefix(comma + 1);
  }
}

bool IsTextType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// hex(n): data after the type, decoded to what RegQueryValueExA returns.
bool ParseHexData(std::string_view data, bool unicodeData, Value& value) {
  size_t colon = data.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view kind = data.substr(0, colon);
  if (EqualNoCase(kind, "hex")) {
    value.type = REG_BINARY;
  } else {
    if (kind.size() < 6 || !StartsWithNoCase(kind, "hex(") || kind.back() != ')') return false;
    std::optional<uint32_t> type = ParseHex(kind.substr(4, kind.size() - 5), 8);
    if (!type) return false;
    value.type = *type;
  }
  std::optional<std::string> bytes = ParseHexBytes(data.substr(colon + 1));
  if (!bytes) return false;
  value.data = unicodeData && IsTextType(value.type) ? Utf16ToUtf8(*bytes) : std::move(*bytes);
  return true;
}

std::string DwordBytes(uint32_t number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return bytes;
}

// A "Name"=data line as a value; nothing for deletions and malformed lines.
std::optional<Value> ParseValue(std::string_view text, bool unicodeData) {
  std::optional<ValueLine> line = SplitValueLine(text);
  if (!line) return std::nullopt;
  Value value;
  value.name = std::move(line->name);
  std::string_view data = line->data;
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::optional<std::string> textValue = ParseQuoted(data, pos);
    if (!textValue || !Trim(data.substr(pos)).empty()) return std::nullopt;
    value.type = REG_SZ;
    value.data = std::move(*textValue) + '\0';
    return value;
  }
  if (StartsWithNoCase(data, "dword:")) {
    std::optional<uint32_t> number = ParseHex(data.substr(6), 8);
    if (!number) return std::nullopt;
    value.type = REG_DWORD;
    value.data = DwordBytes(*number);
    return value;
  }
  if (StartsWithNoCase(data, "hex") && ParseHexData(data, unicodeData, value)) return value;
  return std::nullopt;
}

// ---- Reading the document -------------------------------------------------

std::string WithoutOuterBackslashes(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

void DetectEncoding(Document& doc, size_t& start) {
  const std::string& raw = doc.raw;
  if (raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE') {
    doc.utf16 = true;
    start = 2;
  } else if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    start = 3;
  }
}

// Joins hex values continued with a trailing '\' into one line each.
void JoinLines(Document& doc, const std::vector<PhysicalLine>& physical) {
  for (size_t i = 0; i < physical.size(); ++i) {
    Line line{DecodeLine(doc, physical[i]), physical[i].start, physical[i].end, physical[i].next};
    // The first physical line settles it: joining only appends hex bytes. Asking
    // again for each continuation would read the name once per line.
    bool continues = IsHexValueLine(line.text);
    while (continues && !line.text.empty() && line.text.back() == '\\' && i + 1 < physical.size()) {
      ++i;
      line.text.pop_back();
      line.text += Trim(DecodeLine(doc, physical[i]));
      line.end = physical[i].end;
      line.next = physical[i].next;
    }
    doc.lines.push_back(std::move(line));
  }
}

void ReadSections(Document& doc) {
  Section* current = nullptr;
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    std::string_view text = Trim(doc.lines[i].text);
    if (i == 0 && EqualNoCase(text, "REGEDIT4")) doc.unicodeData = false;
    if (text.empty() || text[0] == ';') continue;
    if (text.front() == '[' && text.back() == ']' && text.size() >= 2) {
      std::string_view key = text.substr(1, text.size() - 2);
      current = nullptr;
      if (key.empty() || key[0] == '-') continue;  // deletions are not applied
      doc.sections.push_back({WithoutOuterBackslashes(key), i, i, {}});
      current = &doc.sections.back();
      continue;
    }
    if (current == nullptr) continue;
    std::optional<Value> value = ParseValue(text, doc.unicodeData);
    if (!value) continue;
    value->line = i;
    current->values.push_back(std::move(*value));
    current->lastLine = i;
  }
}

void ParseDocument(Document& doc) {
  size_t start = 0;
  DetectEncoding(doc, start);
  std::vector<PhysicalLine> physical = SplitLines(doc.raw, start, doc.utf16);
  if (!physical.empty() && physical[0].next != physical[0].end) {
    size_t unit = doc.utf16 ? 2 : 1;
    doc.lineEnd = physical[0].next - physical[0].end == 2 * unit ? "\r\n" : "\n";
  } else if (doc.utf16) {
    doc.lineEnd = "\r\n";
  }
  JoinLines(doc, physical);
  ReadSections(doc);
}

// The registry as the file holds it now; false with errno when the file
// exists but cannot be read. A missing file is an empty document.
bool LoadDocument(Document& doc) {
  if (ReadWholeFile(SystemFile(kStoreName), doc.raw)) {
    ParseDocument(doc);
    return true;
  }
  return errno == ENOENT || errno == ENOTDIR;
}

bool HasKey(const Document& doc, std::string_view path) {
  for (const Section& section : doc.sections) {
    if (EqualNoCase(section.key, path)) return true;
    if (section.key.size() > path.size() && section.key[path.size()] == '\\' &&
        StartsWithNoCase(section.key, path))
      return true;
  }
  return false;
}

// Where a value of the key is read from: when a file sets it more than once,
// the last setting holds, as when the file is imported.
const Value* FindValue(const Document& doc, std::string_view path, std::string_view name) {
  const Value* found = nullptr;
  for (const Section& section : doc.sections) {
    if (!EqualNoCase(section.key, path)) continue;
    for (const Value& value : section.values)
      if (EqualNoCase(value.name, name)) found = &value;
  }
  return found;
}

// ---- Changing the document ------------------------------------------------

std::string EscapeQuoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string HexLine(std::string head, DWORD type, std::string_view bytes) {
  char kind[24];
  if (type == REG_BINARY)
    std::snprintf(kind, sizeof kind, "hex:");
  else
    std::snprintf(kind, sizeof kind, "hex(%x):", type);
  std::string line = head + kind;
  size_t column = line.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(bytes[i]));
    line += byte;
    column += 2;
    if (i + 1 == bytes.size()) break;
    line += ',';
    ++column;
    // As the registry editor wraps them: lines of at most 80 columns.
    if (column > 76) {
      line += "\\\n  ";
      column = 2;
    }
  }
  return line;
}

// The text of a "Name"=data line for the value as RegSetValueExA got it.
std::string FormatValue(const Document& doc, std::string_view name, DWORD type, std::string_view data) {
  std::string head = (name.empty() ? std::string("@") : EscapeQuoted(name)) + "=";
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(data[i]);
    char text[24];
    std::snprintf(text, sizeof text, "dword:%08x", number);
    return head + text;
  }
  if (type == REG_SZ) {
    std::string_view text = data.substr(0, data.find('\0'));
    // A line break cannot stand in a quoted text; such a value goes as hex(1).
    if (text.find_first_of("\r\n") == std::string_view::npos) return head + EscapeQuoted(text);
  }
  if (IsTextType(type) && doc.unicodeData) return HexLine(head, type, Utf8ToUtf16(data));
  return HexLine(head, type, data);
}

void InsertAfter(Document& doc, size_t lineIndex, std::string_view text) {
  const Line& line = doc.lines[lineIndex];
  if (line.next == line.end)  // the file's last line, without a line end
    doc.raw.insert(line.next, Encode(doc, "\n" + std::string(text)));
  else
    doc.raw.insert(line.next, Encode(doc, std::string(text) + "\n"));
}

void ReplaceLine(Document& doc, size_t lineIndex, std::string_view text) {
  const Line& line = doc.lines[lineIndex];
  doc.raw.replace(line.start, line.end - line.start, Encode(doc, text));
}

// Adds "[key]" and the given lines at the end, after a blank line.
void AppendSection(Document& doc, std::string_view key, std::string_view body) {
  std::string text;
  if (doc.lines.empty()) {
    text = std::string(kHeader) + "\n";
  } else if (doc.lines.back().next == doc.lines.back().end) {
    text = "\n";
  }
  if (doc.lines.empty() || !Trim(doc.lines.back().text).empty()) text += "\n";
  text += "[" + std::string(key) + "]\n";
  if (!body.empty()) text += std::string(body) + "\n";
  // A UTF-16 file cut in the middle of a character gets the missing half, or
  // everything appended after it would be read out of step.
  if (doc.utf16 && doc.raw.size() % 2 != 0) doc.raw += '\0';
  doc.raw += Encode(doc, text);
}

const Section* LastSection(const Document& doc, std::string_view key) {
  const Section* found = nullptr;
  for (const Section& section : doc.sections)
    if (EqualNoCase(section.key, key)) found = &section;
  return found;
}

// Replaces the value's line (keeping the name as the file spells it) or adds
// one to the key, creating the key's section when the file has none.
void SetValue(Document& doc, std::string_view key, std::string_view name, DWORD type,
              std::string_view data) {
  if (const Value* value = FindValue(doc, key, name)) {
    ReplaceLine(doc, value->line, FormatValue(doc, value->name, type, data));
  } else if (const Section* section = LastSection(doc, key)) {
    InsertAfter(doc, section->lastLine, FormatValue(doc, name, type, data));
  } else {
    AppendSection(doc, key, FormatValue(doc, name, type, data));
  }
}

// Runs change(doc) on the registry under the store lock and writes the result
// back when change returns true. Returns the error code.
template <typename Change>
LSTATUS ChangeRegistry(Change change) {
  if (!MakeFolders(SystemFolder())) return static_cast<LSTATUS>(Win32Error(errno));
  std::string path = SystemFile(kStoreName);
  StoreLock lock(path);
  if (!lock.Held()) return static_cast<LSTATUS>(Win32Error(errno));
  Document doc;
  if (!LoadDocument(doc)) return static_cast<LSTATUS>(Win32Error(errno));
  if (!change(doc)) return ERROR_SUCCESS;
  if (!ReplaceFile(path, doc.raw)) return static_cast<LSTATUS>(Win32Error(errno));
  return ERROR_SUCCESS;
}

// ---- Keys -----------------------------------------------------------------

struct Key {
  std::string path;  // from the root's name on, as "HKEY_CURRENT_USER\Software\X"
};

TROVEX_MODULE_STATE HandleTable<Key> keys;

const char* RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (key == HKEY_USERS) return "HKEY_USERS";
  return nullptr;
}

// The path of an open key or a root; nothing for a handle that is neither.
std::optional<std::string> KeyPath(HKEY key) {
  if (const char* root = RootName(key)) return std::string(root);
  if (std::shared_ptr<Key> open = keys.Find(key)) return open->path;
  return std::nullopt;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string JoinKey(const std::string& base, LPCSTR subKey) {
  std::string sub = WithoutOuterBackslashes(subKey == nullptr ? "" : subKey);
  return sub.empty() ? base : base + "\\" + sub;
}

bool IsRootPath(std::string_view path) {
  return path.find('\\') == std::string_view::npos;
}

HKEY OpenHandle(std::string path) {
  return static_cast<HKEY>(keys.Add(std::make_unique<Key>(Key{std::move(path)})));
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::optional<std::string> base = KeyPath(root);
  if (!base) return ERROR_INVALID_HANDLE;
  std::string path = JoinKey(*base, subKey);
  if (!IsRootPath(path)) {
    Document doc;
    if (!LoadDocument(doc)) return static_cast<LSTATUS>(Win32Error(errno));
    if (!HasKey(doc, path)) return ERROR_FILE_NOT_FOUND;
  }
  *result = OpenHandle(std::move(path));
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY result,
                        LPDWORD disposition) {
  if (result == nullptr || subKey == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::optional<std::string> base = KeyPath(root);
  if (!base) return ERROR_INVALID_HANDLE;
  if (HasLineBreak(subKey)) return ERROR_INVALID_PARAMETER;
  std::string path = JoinKey(*base, subKey);
  bool created = false;
  if (!IsRootPath(path)) {
    LSTATUS status = ChangeRegistry([&](Document& doc) {
      if (HasKey(doc, path)) return false;
      AppendSection(doc, path, "");
      created = true;
      return true;
    });
    if (status != ERROR_SUCCESS) return status;
  }
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = OpenHandle(std::move(path));
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
  std::optional<std::string> path = KeyPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  Document doc;
  if (!LoadDocument(doc)) return static_cast<LSTATUS>(Win32Error(errno));
  const Value* value = FindValue(doc, *path, name == nullptr ? "" : name);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  DWORD needed = static_cast<DWORD>(value->data.size());
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, value->data.data(), needed);
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  std::optional<std::string> path = KeyPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  if (data == nullptr && size > 0) return ERROR_INVALID_PARAMETER;
  std::string_view valueName = name == nullptr ? "" : name;
  if (HasLineBreak(valueName)) return ERROR_INVALID_PARAMETER;
  std::string_view bytes(reinterpret_cast<const char*>(data), data == nullptr ? 0 : size);
  return ChangeRegistry([&](Document& doc) {
    SetValue(doc, *path, valueName, type, bytes);
    return true;
  });
}

LSTATUS RegCloseKey(HKEY key) {
  if (RootName(key) != nullptr) return ERROR_SUCCESS;
  return keys.Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
