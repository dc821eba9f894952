#include "host/EntryFields.h"

#include <string_view>

#include "base/Hex.h"
#include "host/Output.h"

namespace trovex {

namespace {

constexpr size_t kLabelWidth = 15;

void PrintLine(std::ostream& out, std::string_view label, const std::string& value) {
  std::string text(label);
  text += ':';
  text.resize(kLabelWidth, ' ');
  out << text << value << '\n';
}

std::string LocalFileText(const EntryRecord& record, const LocalFileState& file) {
  if (!record.LocalFile || record.LocalFile->empty()) return "none";
  std::string state = file.Present ? "present, " + CountOf(file.Size, "byte", "bytes") + " on disk" : "missing";
  return VisibleText(*record.LocalFile) + " (" + state + ")";
}

// The header's lines, each shown on its own, so that its line breaks do
// not come out as escapes; a header without text shows as none.
void PrintHeader(std::ostream& out, std::string_view header) {
  if (header.empty()) {
    PrintLine(out, "Header", "none");
    return;
  }
  out << "Header:\n";
  while (!header.empty()) {
    size_t end = header.find('\n');
    std::string_view line = header.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out << "  " << VisibleText(line) << '\n';
    if (end == std::string_view::npos) break;
    header.remove_prefix(end + 1);
  }
}

std::string JsonTime(uint64_t ticks) {
  return ticks == 0 ? "null" : "\"" + IsoTime(ticks) + "\"";
}

std::string JsonOptionalText(std::string_view key, const std::optional<std::string>& text) {
  return text ? JsonTextField(key, *text) : JsonString(key) + ":null";
}

std::string JsonTypeNames(uint32_t type) {
  std::string names = "[";
  for (const std::string& name : TypeNames(type)) names += (names.size() > 1 ? ",\"" : "\"") + name + "\"";
  return names + "]";
}

}  // namespace

std::string TimeOrUnset(uint64_t ticks) {
  return ticks == 0 ? "unset" : IsoTime(ticks);
}

std::string TypeText(uint32_t type) {
  std::string text = "0x" + HexText(type, 8);
  for (const std::string& name : TypeNames(type)) text += " " + name;
  return text;
}

void PrintRecordText(std::ostream& out, const EntryRecord& record, const LocalFileState& file) {
  PrintLine(out, "URL", VisibleText(record.Url));
  PrintLine(out, "Container", record.Container.empty() ? "unknown" : VisibleText(record.Container));
  PrintLine(out, "Local file", LocalFileText(record, file));
  PrintLine(out, "Type", TypeText(record.Type));
  PrintLine(out, "Size", CountOf(record.Size, "byte", "bytes"));
  PrintLine(out, "Hits", std::to_string(record.Hits));
  PrintLine(out, "Use count", std::to_string(record.UseCount));
  PrintLine(out, "Last modified", TimeOrUnset(record.Modified));
  PrintLine(out, "Expires", TimeOrUnset(record.Expires));
  PrintLine(out, "Last access", TimeOrUnset(record.Accessed));
  PrintLine(out, "Last sync", TimeOrUnset(record.Synced));
  PrintLine(out, "Extension", record.Extension ? VisibleText(*record.Extension) : "none");
  PrintLine(out, "Exempt delta", CountOf(record.ExemptDelta, "second", "seconds"));
  PrintHeader(out, record.Header);
}

std::string RecordJsonMembers(const EntryRecord& record, const LocalFileState& file) {
  return JsonTextField("url", record.Url) + "," + JsonTextField("container", record.Container) + "," +
         JsonOptionalText("local_file", record.LocalFile) +
         ",\"local_file_present\":" + (file.Present ? "true" : "false") +
         ",\"local_file_size\":" + (file.Present ? std::to_string(file.Size) : "null") +
         ",\"type\":" + std::to_string(record.Type) + ",\"type_names\":" + JsonTypeNames(record.Type) +
         ",\"size\":" + std::to_string(record.Size) + ",\"hits\":" + std::to_string(record.Hits) +
         ",\"use_count\":" + std::to_string(record.UseCount) + ",\"last_modified\":" + JsonTime(record.Modified) +
         ",\"expires\":" + JsonTime(record.Expires) + ",\"last_access\":" + JsonTime(record.Accessed) +
         ",\"last_sync\":" + JsonTime(record.Synced) + "," + JsonOptionalText("extension", record.Extension) + "," +
         JsonTextField("header", record.Header) + ",\"exempt_delta\":" + std::to_string(record.ExemptDelta);
}

}  // namespace trovex
