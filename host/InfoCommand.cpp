// info: every field of one entry's records.
#include <iostream>

#include "host/Commands.h"
#include "host/EntryFields.h"
#include "host/HostError.h"
#include "host/ListedRecords.h"
#include "host/Output.h"
#include "host/TreeWalk.h"

namespace trovex {

namespace {

void PrintRecordsAsJson(const Node& entry, const std::vector<EntryRecord>& records) {
  std::cout << "{" << JsonTextField("path", entry.Path.HostForm()) << ",\"records\":[";
  for (size_t i = 0; i < records.size(); ++i) {
    std::cout << (i == 0 ? "" : ",") << "\n  {" << RecordJsonMembers(records[i], LocalFileOf(records[i])) << "}";
  }
  std::cout << "\n]}\n";
}

void PrintRecordsAsText(const std::vector<EntryRecord>& records) {
  for (size_t i = 0; i < records.size(); ++i) {
    if (i > 0) std::cout << '\n';
    PrintRecordText(std::cout, records[i], LocalFileOf(records[i]));
  }
}

}  // namespace

int InfoCommand(Plugin& plugin, const VirtualPath& path, bool json) {
  Node entry = ResolveNode(plugin, path);
  if (entry.Kind != NodeKind::Entry) throw HostError(kExitUsage, "not an entry: " + entry.Path.HostForm());
  std::vector<EntryRecord> records = RecordsOfEntries({entry}).front();
  if (records.empty()) {
    ReportError("the URL cache holds no record of " + entry.Path.HostForm() + CutNameNote(entry));
    return kExitFailed;
  }
  if (json) {
    PrintRecordsAsJson(entry, records);
  } else {
    PrintRecordsAsText(records);
  }
  return kExitOk;
}

}  // namespace trovex
