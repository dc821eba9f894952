// info, ls -l and export of the built trovex program, run against copies of
// real index.dat files and temporary text caches; what they write is read
// back by python3's strict CSV and JSON readers and held against
// msiecfexport's reading of the same file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Hex.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempFolder.h"

using namespace trovex;

namespace fs = std::filesystem;

namespace {

// Reads an export back: for each row its exact URL and container in hex,
// "URL CONTAINER" one a line; for timesketch, each event's description too.
// A row that a strict reader rejects, or that lacks a field, fails it.
constexpr char kReadBack[] = R"(import csv, io, json, sys
fmt, data = sys.argv[1], open(sys.argv[2], 'rb').read()
def raw(o, k):
    return bytes.fromhex(o[k + '_hex']) if o.get(k + '_hex') else o[k].encode('utf-8')
if fmt == 'csv':
    assert b'\r\n' in data and b'\n' not in data.replace(b'\r\n', b'')
    rows = list(csv.reader(io.StringIO(data.decode('utf-8'), newline='')))
    head = rows.pop(0)
    for r in rows:
        assert len(r) == len(head) == 19, r
        o = dict(zip(head, r))
        url = bytes.fromhex(o['url_hex']) if o['url_hex'] else o['url'].encode()
        print(url.hex(), o['container'].encode().hex())
elif fmt == 'bodyfile':
    for line in data.decode('utf-8').split('\n')[:-1]:
        f = line.split('|')
        assert len(f) == 11 and all(x.isdigit() for x in f[6:]), line
        print(f[1].encode().hex())
else:
    for line in data.decode('utf-8').split('\n')[:-1]:
        o = json.loads(line)
        extra = ''
        if fmt == 'timesketch':
            assert o['datetime'].endswith('Z') and o['message'] == o['url'], o
            extra = ' ' + o['timestamp_desc'].replace(' ', '_')
        print(raw(o, 'url').hex(), raw(o, 'container').hex() + extra)
)";

// msiecfexport's URL records of an index.dat and ours from export --format
// jsonl, each as URL, last access, last modified, expires, last sync and
// local file name, to the second; the differences, or nothing.
constexpr char kCompareWithMsiecf[] = R"(import datetime, json, sys
def iso(t):
    if not t: return None
    d = datetime.datetime.strptime(t.split('.')[0], '%b %d, %Y %H:%M:%S')
    return d.strftime('%Y-%m-%dT%H:%M:%S')
theirs, block = set(), {}
for line in open(sys.argv[1], encoding='utf-8', errors='replace').read().split('\n') + ['']:
    if not line.strip():
        if block.get('Record type') == 'URL':
            theirs.add((block['Location'], iso(block.get('Primary time')), iso(block.get('Secondary time')),
                        iso(block.get('Expiration time')), iso(block.get('Last checked time')), block.get('Filename')))
        block = {}
    elif '\t: ' in line:
        key, value = line.split(':', 1)
        block[key.strip()] = value.strip()
ours = set()
for line in open(sys.argv[2], encoding='utf-8'):
    o = json.loads(line)
    cut = lambda t: t[:19] if t else None
    name = o['local_file'].split('/')[-1] if o['local_file'] else None
    ours.add((o['url'], cut(o['last_access']), cut(o['last_modified']), cut(o['expires']), cut(o['last_sync']), name))
for row in sorted(theirs ^ ours, key=str): print('theirs' if row in theirs else 'ours', row)
print(len(ours & theirs), 'alike')
)";

class Export : public ::testing::Test {
 protected:
  Export() { fs::create_directories(Temp("system")); }

  std::string Temp(const std::string& name) const { return temp_ / name; }

  // A copy of a sample container, in a folder of the test's own.
  std::string CopyOfSample(const std::string& sample, const std::string& copy) {
    fs::create_directories(Temp(copy));
    std::string folder = Temp(copy) + "/" + fs::path(sample).filename().string();
    fs::copy(std::string(TROVEX_INDEXDAT_SAMPLES) + "/" + sample, folder);
    return folder;
  }

  // Adds a line to the text cache of the system folder and, when it has
  // one, the entry's local file.
  void AddEntry(const std::string& url, const std::string& file = "", const std::string& bytes = "",
                const std::string& type = "0x00000001") {
    cache_ += type + "\t" + url + "\t" + file + "\n";
    WriteFile(Temp("system/urlcache.txt"), cache_);
    if (!file.empty()) WriteFile(Temp("system/" + file), bytes);
  }

  Result Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--plugin", TROVEX_PLUGIN_PATH, "--system", Temp("system")};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProgram(TROVEX_EXE, all, Temp(""));
  }

  // The output of a python3 script run on the arguments; "" when python3
  // is not installed; "FAILED" and its errors when it fails.
  std::string Python(const std::string& script, const std::vector<std::string>& arguments) {
    if (!Installed("python3")) return "";
    WriteFile(Temp("script.py"), script);
    std::string command = "python3 " + Quoted(Temp("script.py"));
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    command += " >" + Quoted(Temp("python.out")) + " 2>&1";
    bool ok = std::system(command.c_str()) == 0;
    return (ok ? "" : "FAILED ") + ReadFile(Temp("python.out"));
  }

  // The rows of an export read back by kReadBack.
  std::string ReadBack(const std::string& format, const std::string& exported) {
    WriteFile(Temp("export." + format), exported);
    return Python(kReadBack, {format, Temp("export." + format)});
  }

 private:
  TempFolder temp_;
  std::string cache_;
};

std::string Hex(const std::string& bytes) {
  return HexBytes(bytes);
}

size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// No C0 or C1 control but line feeds (CSV's CR LF counts as one); the
// readers above take only valid UTF-8.
bool OnlyPrintable(std::string text) {
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return false;
  }
  return true;
}

}  // namespace

namespace {

const std::vector<std::string> kFormats = {"csv", "jsonl", "bodyfile", "timesketch"};

// Greendale's Content and History containers: 21 and 15 URL records, the
// history's too, which the plug-in hides.
TEST_F(Export, WritesEveryRecordOfARealCacheInEachFormat) {
  std::string content = CopyOfSample("greendale/Content.IE5", "g");
  std::string history = CopyOfSample("greendale/History.IE5", "g");
  Result jsonl = Run({"--cache", content, "--cache", history, "export", "--format", "jsonl"});
  ASSERT_EQ(jsonl.Status, 0) << jsonl.Err;
  std::string rows = ReadBack("jsonl", jsonl.Out);
  if (rows.empty()) GTEST_SKIP() << "python3 is not installed";
  ASSERT_EQ(Lines(rows), 36u) << rows;
  EXPECT_EQ(rows.find("FAILED"), std::string::npos) << rows;
  EXPECT_NE(rows.find(Hex("Visited: gold_administrator@http://www.msn.com/?ocid=iehp") + " " + Hex(history)),
            std::string::npos);
  size_t times = 0;
  for (const char* key : {"\"last_modified\":\"", "\"expires\":\"", "\"last_access\":\"", "\"last_sync\":\""}) {
    for (size_t at = 0; (at = jsonl.Out.find(key, at)) != std::string::npos; ++at) ++times;
  }
  for (const std::string& format : kFormats) {
    Result result = Run({"--cache", content, "--cache", history, "export", "--format=" + format});
    ASSERT_EQ(result.Status, 0) << format << ": " << result.Err;
    std::string read = ReadBack(format, result.Out);
    EXPECT_EQ(read.find("FAILED"), std::string::npos) << format << ": " << read;
    // One row a record; one event for each time a record has.
    EXPECT_EQ(Lines(read), format == "timesketch" ? times : 36u) << format;
  }
  if (!Installed("mactime")) return;
  Result body = Run({"--cache", content, "export", "-f", "bodyfile"});
  WriteFile(Temp("body"), body.Out);
  std::string mactime = "mactime -b " + Quoted(Temp("body")) + " -d -y -z UTC >" + Quoted(Temp("timeline"));
  EXPECT_EQ(std::system(mactime.c_str()), 0);
  std::string lines = ReadFile(Temp("timeline"));
  EXPECT_NE(lines.find("2015-08-25T11:06:21Z,17174,.a..,r/r---------,0,0,0,\"http://www.microsoft.com/favicon.ico?v2 ("),
            std::string::npos)
      << lines;
}

// The times and local file of every URL record, as msiecfexport reads them.
TEST_F(Export, AgreesWithMsiecfexportOnEveryRecord) {
  if (!Installed("msiecfexport") || !Installed("python3")) GTEST_SKIP() << "needs msiecfexport and python3";
  std::string content = CopyOfSample("greendale/Content.IE5", "g");
  ASSERT_EQ(std::system(("msiecfexport " + Quoted(content + "/index.dat") + " >" + Quoted(Temp("msiecf")) +
                         " 2>/dev/null").c_str()),
            0);
  Result result = Run({"--cache", content, "export", "--format", "jsonl"});
  ASSERT_EQ(result.Status, 0) << result.Err;
  WriteFile(Temp("ours.jsonl"), result.Out);
  EXPECT_EQ(Python(kCompareWithMsiecf, {Temp("msiecf"), Temp("ours.jsonl")}), "21 alike\n");
}

TEST_F(Export, ContainersThatShareAUrlGiveARowAndARecordEach) {
  std::string first = CopyOfSample("greendale/Content.IE5", "first");
  std::string second = CopyOfSample("greendale/Content.IE5", "second");
  std::string url = "http://www.microsoft.com/favicon.ico?v2";
  std::vector<std::string> both = {"--cache", first, "--cache", second};
  for (const std::string& format : kFormats) {
    std::vector<std::string> arguments = both;
    arguments.insert(arguments.end(), {"export", "--format", format, "microsoft.com/www.microsoft.com"});
    Result result = Run(arguments);
    ASSERT_EQ(result.Status, 0) << result.Err;
    std::string read = ReadBack(format, result.Out);
    if (read.empty()) GTEST_SKIP() << "python3 is not installed";
    std::string name = format == "bodyfile" ? Hex(url + " (" + first + ")") : Hex(url) + " " + Hex(first);
    std::string other = format == "bodyfile" ? Hex(url + " (" + second + ")") : Hex(url) + " " + Hex(second);
    EXPECT_NE(read.find(name), std::string::npos) << format << ": " << read;
    EXPECT_NE(read.find(other), std::string::npos) << format << ": " << read;
  }
  std::vector<std::string> info = both;
  info.insert(info.end(), {"info", "microsoft.com/www.microsoft.com/" + url});
  Result result = Run(info);
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_NE(result.Out.find("Container:     " + first + "\n"), std::string::npos) << result.Out;
  EXPECT_NE(result.Out.find("Container:     " + second + "\n"), std::string::npos) << result.Out;
}

// What a record holds, field by field, and the same as JSON; ls -l shows
// the last access beside the name, and a folder's date: the newest last
// access among its entries, as a file panel shows it.
TEST_F(Export, InfoPrintsEveryFieldOfTheRecord) {
  std::string content = CopyOfSample("greendale/Content.IE5", "g");
  fs::create_directories(content + "/5ZBG4UOD");
  WriteFile(content + "/5ZBG4UOD/favicon[2].ico", "icon bytes");
  std::string path = "microsoft.com/www.microsoft.com/http://www.microsoft.com/favicon.ico?v2";
  Result text = Run({"--cache", content, "info", path});
  ASSERT_EQ(text.Status, 0) << text.Err;
  const std::vector<std::string> lines = {
      "URL:           http://www.microsoft.com/favicon.ico?v2\n",
      "Local file:    " + content + "/5ZBG4UOD/favicon[2].ico (present, 10 bytes on disk)\n",
      "Type:          0x00000045 NORMAL_CACHE_ENTRY STICKY_CACHE_ENTRY 0x00000040\n",
      "Size:          17174 bytes\nHits:          1\nUse count:     0\n",
      "Last modified: 2015-06-09T04:52:20Z\nExpires:       2015-08-26T03:15:50Z\n"
      "Last access:   2015-08-25T11:06:21.698Z\nLast sync:     2015-08-25T11:06:22Z\nExtension:     none\n",
      "Header:\n  HTTP/1.1 200 OK\n  ETag: \"1D0A270110F5A00\"\n",
  };
  for (const std::string& line : lines) EXPECT_NE(text.Out.find(line), std::string::npos) << line << text.Out;

  Result json = Run({"--cache", content, "info", "--json", path});
  ASSERT_EQ(json.Status, 0) << json.Err;
  WriteFile(Temp("info.json"), json.Out);
  std::string fields = Python(
      "import json, sys\nr = json.load(open(sys.argv[1]))['records']\nassert len(r) == 1\nr = r[0]\n"
      "print(r['local_file_size'], r['hits'], r['size'], r['last_access'], r['expires'], r['type_names'])\n",
      {Temp("info.json")});
  if (!fields.empty()) {
    EXPECT_EQ(fields, "10 1 17174 2015-08-25T11:06:21.698Z 2015-08-26T03:15:50Z "
                      "['NORMAL_CACHE_ENTRY', 'STICKY_CACHE_ENTRY', '0x00000040']\n");
  }
  Result ls = Run({"--cache", content, "ls", "-l", "microsoft.com/www.microsoft.com"});
  EXPECT_NE(ls.Out.find("file    10  2015-08-25T11:06:21.698Z  http://www.microsoft.com/favicon.ico?v2\n"),
            std::string::npos)
      << ls.Out;
  Result site = Run({"--cache", content, "ls", "-l", "microsoft.com"});
  EXPECT_NE(site.Out.find("folder  0  2015-08-25T11:09:19.186Z  www.microsoft.com\n"), std::string::npos)
      << site.Out;
  Result folder = Run({"--cache", content, "info", "microsoft.com"});
  EXPECT_EQ(folder.Status, 2);
  EXPECT_EQ(folder.Err, "trovex: not an entry: \\microsoft.com\n");
}

// A URL holds what a stranger chose: each format stays readable, gives the
// bytes back exactly, and writes nothing a terminal acts on.
TEST_F(Export, HostileUrlsStaySafeInEveryFormat) {
  const std::vector<std::string> urls = {
      "http://www.example.com/a|b\"c,d\x1b]0;owned\x07\r",
      "http://www.example.com/bad\xff\xe6\x97|\xc2\x9b" "2J",
      "http://www.example.com/\xe2\x80\xae" "fdp.exe\x7f",
  };
  for (const std::string& url : urls) AddEntry(url, "cache/f|\x1b.htm", "x");
  if (!Installed("python3")) GTEST_SKIP() << "python3 is not installed";
  for (const std::string& format : kFormats) {
    Result result = Run({"export", "--format", format});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_TRUE(OnlyPrintable(result.Out)) << format << ": " << result.Out;
    // The text cache keeps no times: not one event.
    if (format == "timesketch") {
      EXPECT_EQ(result.Out, "");
      continue;
    }
    std::string read = ReadBack(format, result.Out);
    EXPECT_EQ(read.find("FAILED"), std::string::npos) << format << ": " << read;
    if (format == "bodyfile") continue;  // its names are for reading only
    for (const std::string& url : urls) EXPECT_NE(read.find(Hex(url) + " "), std::string::npos) << format << read;
  }
  Result info = Run({"info", "example.com/www.example.com/" + urls[0]});
  ASSERT_EQ(info.Status, 0) << info.Err;
  EXPECT_TRUE(OnlyPrintable(info.Out)) << info.Out;
  EXPECT_NE(info.Out.find("URL:           http://www.example.com/a|b\"c,d\\x1b]0;owned\\x07\\x0d\n"), std::string::npos)
      << info.Out;
}

// A folder's export holds the entries of the hosts the tree puts there,
// the hidden history among them, and nothing of other folders.
TEST_F(Export, APathLimitsTheRowsToTheHostsBelowIt) {
  AddEntry("http://www.example.com/a.htm");
  AddEntry("http://img.example.com/b.png");
  AddEntry("Cookie:joe@www.example.com/", "", "", "0x00100000");
  AddEntry("Visited: joe@http://www.example.com/seen", "", "", "0x00200000");
  AddEntry("https://www.example.co.uk/c.htm");
  const std::vector<std::pair<std::string, size_t>> cases = {
      {"", 5}, {"example.com", 4}, {"example.com/www.example.com", 3}, {"example.co.uk", 1},
      {"example.com/img.example.com/http://img.example.com/b.png", 1},
  };
  for (const auto& [path, rows] : cases) {
    Result result = Run({"export", "--format", "jsonl", path});
    ASSERT_EQ(result.Status, 0) << path << ": " << result.Err;
    EXPECT_EQ(Lines(result.Out), rows) << path << "\n" << result.Out;
  }
  Result seen = Run({"export", "--format", "csv", "example.com/www.example.com"});
  EXPECT_NE(seen.Out.find("\r\nVisited: joe@http://www.example.com/seen,"), std::string::npos) << seen.Out;
  Result bad = Run({"export", "--format", "xml"});
  EXPECT_EQ(bad.Status, 2);
  EXPECT_NE(bad.Err.find("unknown export format xml"), std::string::npos) << bad.Err;
}

}  // namespace
