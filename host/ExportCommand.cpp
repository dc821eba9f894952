// export: every record below a place of the tree, one row each, as it is
// enumerated: a row is written before the next record is read, so that a
// cache of any size takes the memory of its largest record.
#include <chrono>
#include <iostream>
#include <string_view>

#include "base/Hex.h"
#include "host/Commands.h"
#include "host/EntryFields.h"
#include "host/HostError.h"
#include "host/HostSystem.h"
#include "host/ListedRecords.h"
#include "host/Output.h"
#include "host/TreeWalk.h"

namespace trovex {

namespace {

enum class Format { Csv, Jsonl, Bodyfile, Timesketch };

struct FormatName {
  std::string_view Name;
  Format Value;
};

constexpr FormatName kFormats[] = {
    {"csv", Format::Csv},
    {"jsonl", Format::Jsonl},
    {"bodyfile", Format::Bodyfile},
    {"timesketch", Format::Timesketch},
};

Format FormatNamed(const std::string& name) {
  for (const FormatName& format : kFormats) {
    if (format.Name == name) return format.Value;
  }
  throw HostError(kExitUsage, "unknown export format " + name);
}

// ---- CSV (RFC 4180) ----------------------------------------------------------

constexpr char kCsvHeader[] =
    "url,url_hex,container,local_file,local_file_hex,local_file_present,local_file_size,type,type_names,size,"
    "hits,use_count,last_modified,expires,last_access,last_sync,extension,header,exempt_delta";

// The exact bytes of text in hex when its visible form is not text itself.
std::string HexUnlessVisible(std::string_view text) {
  return VisibleText(text) == text ? std::string() : HexBytes(text);
}

std::string JoinedTypeNames(uint32_t type) {
  std::string names;
  for (const std::string& name : TypeNames(type)) names += (names.empty() ? "" : " ") + name;
  return names;
}

std::string CsvRow(const EntryRecord& record, const LocalFileState& file) {
  std::string fileName = record.LocalFile.value_or("");
  std::string row = CsvCell(record.Url) + "," + HexUnlessVisible(record.Url) + "," + CsvCell(record.Container) + "," +
                    CsvCell(fileName) + "," + HexUnlessVisible(fileName) + "," + (file.Present ? "yes" : "no") +
                    "," + (file.Present ? std::to_string(file.Size) : "") + "," + "0x" + HexText(record.Type, 8) +
                    "," + JoinedTypeNames(record.Type) + "," + std::to_string(record.Size) + "," +
                    std::to_string(record.Hits) + "," + std::to_string(record.UseCount);
  for (uint64_t time : {record.Modified, record.Expires, record.Accessed, record.Synced}) row += "," + IsoTime(time);
  return row + "," + CsvCell(record.Extension.value_or("")) + "," + CsvCell(record.Header) + "," +
         std::to_string(record.ExemptDelta) + "\r\n";
}

// ---- The Sleuth Kit's body file -------------------------------------------------

// Text in its visible form with the separator escaped as well.
std::string BodyText(std::string_view text) {
  std::string safe;
  for (char c : VisibleText(text)) safe += c == '|' ? std::string("\\x7c") : std::string(1, c);
  return safe;
}

// MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime. A record has
// no time of its making: crtime is 0, as the Sleuth Kit writes a time that a
// file system does not keep, and so is every time the record leaves unset.
std::string BodyfileRow(const EntryRecord& record) {
  std::string name = BodyText(record.Url);
  if (!record.Container.empty()) name += " (" + BodyText(record.Container) + ")";
  return "0|" + name + "|0|r/r---------|0|0|" + std::to_string(record.Size) + "|" +
         std::to_string(UnixSeconds(record.Accessed)) + "|" + std::to_string(UnixSeconds(record.Modified)) + "|" +
         std::to_string(UnixSeconds(record.Synced)) + "|0\n";
}

// ---- Timesketch ----------------------------------------------------------------

struct TimeOfRecord {
  uint64_t EntryRecord::*Field;
  const char* Description;
};

constexpr TimeOfRecord kTimes[] = {
    {&EntryRecord::Modified, "Last Modified"},
    {&EntryRecord::Expires, "Expires"},
    {&EntryRecord::Accessed, "Last Access"},
    {&EntryRecord::Synced, "Last Sync"},
};

// One event for each time the record has.
std::string TimesketchRows(const EntryRecord& record, const LocalFileState& file) {
  std::string members = RecordJsonMembers(record, file);
  std::string rows;
  for (const TimeOfRecord& time : kTimes) {
    uint64_t ticks = record.*time.Field;
    if (ticks == 0) continue;
    rows += "{" + JsonTextField("message", record.Url) + ",\"datetime\":\"" + IsoTime(ticks) +
            "\",\"timestamp\":" + std::to_string(UnixMicroseconds(ticks)) + ",\"timestamp_desc\":\"" +
            time.Description + "\",\"data_type\":\"trovex:urlcache:entry\"," + members + "}\n";
  }
  return rows;
}

std::string RowsOf(Format format, const EntryRecord& record) {
  LocalFileState file = LocalFileOf(record);
  switch (format) {
    case Format::Csv: return CsvRow(record, file);
    case Format::Jsonl: return "{" + RecordJsonMembers(record, file) + "}\n";
    case Format::Bodyfile: return BodyfileRow(record);
    case Format::Timesketch: return TimesketchRows(record, file);
  }
  return {};
}

// "trovex: exported 1200 of 5000 entries read" on stderr, redrawn in
// place, once an export has run for a second, when stderr is a terminal.
class ExportProgress {
 public:
  ExportProgress() : shown_(StderrIsTerminal()), start_(Clock::now()) {}
  ~ExportProgress() { Clear(); }
  ExportProgress(const ExportProgress&) = delete;
  ExportProgress& operator=(const ExportProgress&) = delete;

  void Count(bool written) {
    ++read_;
    if (written) ++written_;
    // The clock is read now and then, not for every row.
    if (!shown_ || read_ % 256 != 0) return;
    Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - drawnAt_ < std::chrono::milliseconds(100)) return;
    std::cerr << "\rtrovex: exported " << written_ << " of " << read_ << " entries read\x1b[K" << std::flush;
    drawn_ = true;
    drawnAt_ = now;
  }
  void Clear() {
    if (!drawn_) return;
    std::cerr << "\r\x1b[K" << std::flush;
    drawn_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  bool drawn_ = false;
  Clock::time_point start_;
  Clock::time_point drawnAt_{};
  uint64_t read_ = 0;
  uint64_t written_ = 0;
};

}  // namespace

bool IsExportFormat(const std::string& format) {
  for (const FormatName& known : kFormats) {
    if (known.Name == format) return true;
  }
  return false;
}

int ExportCommand(Plugin& plugin, const VirtualPath& path, const ExportOptions& options) {
  Format format = FormatNamed(options.Format);
  PlaceFilter filter(plugin, ResolveNode(plugin, path));
  // The rows' own line ends, CR LF in CSV, go out as they are.
  SetStdoutBinary();
  if (format == Format::Csv) std::cout << kCsvHeader << "\r\n";
  uint32_t error = 0;
  {
    ExportProgress progress;
    error = ForEachRecord([&](const EntryRecord& record) {
      bool kept = filter.Keeps(record);
      if (kept) std::cout << RowsOf(format, record);
      progress.Count(kept);
    });
  }
  std::cout.flush();
  if (error != 0) {
    ReportError("the URL cache's enumeration failed: error " + std::to_string(error) + "; the export is incomplete");
    return kExitFailed;
  }
  if (!std::cout) {
    ReportError("cannot write the export");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace trovex
