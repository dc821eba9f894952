#include "platform/posix/services/regdocument.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Hex.h"
#include "base/Ascii.h"
#include "base/Utf.h"

namespace trovex {

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";

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

const Section* LastSection(const Document& doc, std::string_view key) {
  const Section* found = nullptr;
  for (const Section& section : doc.sections)
    if (EqualNoCase(section.key, key)) found = &section;
  return found;
}

}  // namespace

std::string WithoutOuterBackslashes(std::string_view path) {
  return std::string(TrimRight(TrimLeft(path, "\\"), "\\"));
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

bool HasKey(const Document& doc, std::string_view path) {
  for (const Section& section : doc.sections) {
    if (EqualNoCase(section.key, path)) return true;
    if (section.key.size() > path.size() && section.key[path.size()] == '\\' &&
        StartsWithNoCase(section.key, path))
      return true;
  }
  return false;
}

const Value* FindValue(const Document& doc, std::string_view path, std::string_view name) {
  const Value* found = nullptr;
  for (const Section& section : doc.sections) {
    if (!EqualNoCase(section.key, path)) continue;
    for (const Value& value : section.values)
      if (EqualNoCase(value.name, name)) found = &value;
  }
  return found;
}

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

}  // namespace trovex
