// export --format jsonl of the built trovex held against libmsiecf's
// msiecfexport, record by record, on every sample index.dat: each record
// msiecfexport lists is matched by its file offset to the row trovex wrote
// for it, and every field msiecfexport prints is compared: its location
// with our url, its primary time with last_access, secondary with
// last_modified, expiration with expires, last checked with last_sync, and
// its file name in its cache folder with local_file.
//
// What msiecfexport prints of a URL record: its type, offset range,
// location, primary, secondary, expiration and last checked times, file
// name and cache directory (index and folder name); of a REDR record its
// location; of a LEAK record its file name and cache directory. Its verbose
// (-v) and log (-l) options add nothing to that, and it calls none of
// libmsiecf's functions for the hits, the cached file's size, the header
// data or the entry type: the type flags, recorded size, hits, use count,
// header, extension and exempt delta of our rows have nothing in its output
// to be held against. The cache directory's index is not in our rows; its
// folder is, in the local file's path.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"
#include "tests/support/TempFolder.h"

using namespace trovex;

namespace fs = std::filesystem;

namespace {

// Arguments: the index.dat, msiecfexport's output on it, our export of its
// container as JSON lines, and the container's folder. Prints a line for
// each difference, "OFFSET FIELD: msiecfexport X, trovex Y", or "OFFSET
// TYPE: msiecfexport only" for a record with no row of ours, then "N records
// alike".
//
// Our rows come in the order of the cache's enumeration: the URL records
// the hash chain lists, in slot order. The chain is walked here on its own
// to learn each row's record offset; msiecfexport lists records in the
// order of the file. Texts are compared as msiecfexport prints them:
// decoded from its default code page, Windows-1252. Times are compared to
// the 100 ns tick, or to the second where the file keeps a FAT time.
constexpr char kCompare[] = R"(import datetime, json, struct, sys
index, theirs_path, ours_path, container = sys.argv[1:5]
image = open(index, 'rb').read()
u32 = lambda at: struct.unpack_from('<I', image, at)[0]

def listed_offsets():
    offsets, table, tables = [], u32(0x20), set()
    while table and table not in tables and image[table:table + 4] == b'HASH':
        tables.add(table)
        for i in range(min(448, (u32(table + 4) * 128 - 16) // 8)):
            key, at = u32(table + 16 + 8 * i), u32(table + 20 + 8 * i)
            if key in (1, 3, at, 0x0BADF00D, 0xDEADBEEF) or key & 0x3F == 5: continue
            if image[at:at + 4] == b'URL ' and at not in offsets: offsets.append(at)
        table = u32(table + 8)
    return offsets

def their_time(t):
    if t is None: return None
    when, _, fraction = t.partition('.')
    d = datetime.datetime.strptime(when, '%b %d, %Y %H:%M:%S')
    return d.strftime('%Y-%m-%dT%H:%M:%S.') + fraction.ljust(9, '0')

def our_time(t):
    if t is None: return None
    when, _, fraction = t.rstrip('Z').partition('.')
    return when + '.' + fraction.ljust(9, '0')

def raw(o, key):
    if o[key] is None: return None
    return bytes.fromhex(o[key + '_hex']) if o.get(key + '_hex') else o[key].encode('utf-8')

def shown(b):
    return None if b is None else b.decode('cp1252', errors='replace')

records, block = {}, {}
for line in open(theirs_path, encoding='utf-8', errors='replace').read().split('\n') + ['']:
    if not line.strip():
        if 'Offset range' in block: records[int(block['Offset range'].split()[0])] = block
        block = {}
    elif '\t: ' in line:
        key, value = line.split(':', 1)
        block[key.strip()] = value.strip()

def their_local_file(r):
    if 'Filename' not in r: return None
    folder = r['Cache directory index'].partition('(')[2].partition('(')[2].rstrip(')')
    return '/'.join([container] + ([folder] if folder else []) + [r['Filename']])

ours = [json.loads(line) for line in open(ours_path, encoding='utf-8')]
offsets = listed_offsets()
if len(offsets) != len(ours): print('the chain lists', len(offsets), 'URL records, trovex wrote', len(ours), 'rows')
alike = 0
for at, o in zip(offsets, ours):
    r = records.pop(at, {})
    fields = [('Record type', r.get('Record type'), 'URL'),
              ('Location', r.get('Location'), shown(raw(o, 'url'))),
              ('Primary time', their_time(r.get('Primary time')), our_time(o['last_access'])),
              ('Secondary time', their_time(r.get('Secondary time')), our_time(o['last_modified'])),
              ('Expiration time', their_time(r.get('Expiration time')), our_time(o['expires'])),
              ('Last checked time', their_time(r.get('Last checked time')), our_time(o['last_sync'])),
              ('Filename', their_local_file(r), shown(raw(o, 'local_file')))]
    differences = [(name, a, b) for name, a, b in fields if a != b]
    for name, a, b in differences: print(at, name + ': msiecfexport', repr(a) + ', trovex', repr(b))
    alike += not differences
for at, r in sorted(records.items()): print(at, r['Record type'] + ': msiecfexport only')
print(alike, 'records alike')
)";

// Record types msiecfexport lists and our export leaves out, on purpose.
struct KnownDifference {
  const char* Type;
  const char* Reason;
};

constexpr KnownDifference kKnownDifferences[] = {
    {"REDR",
     "a redirect record names no entry: the cache's enumeration hands out URL records only, as wininet's "
     "FindNextUrlCacheEntry does, and so does the export"},
    {"LEAK",
     "a LEAK record is an entry already deleted whose local file could not be removed: the enumeration "
     "skips it, as wininet's does"},
};

// A container and what msiecfexport lists in it: URL records (each must
// have its row), and the records of each known difference.
struct Expected {
  size_t Urls;
  std::map<std::string, size_t> Others;
};

class Msiecf : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Installed("msiecfexport")) GTEST_SKIP() << "msiecfexport is missing (install libmsiecf-utils)";
    if (!Installed("python3")) GTEST_SKIP() << "python3 is missing";
    fs::create_directories(temp_ / "system");
  }

  // A copy of a sample container, in a folder of the test's own.
  std::string CopyOfSample(const std::string& sample) {
    std::string folder = temp_ / ("copy/" + sample);
    fs::create_directories(fs::path(folder).parent_path());
    fs::copy(std::string(TROVEX_INDEXDAT_SAMPLES) + "/" + sample, folder, fs::copy_options::recursive);
    return folder;
  }

  Result Trovex(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--plugin", TROVEX_PLUGIN_PATH, "--system", temp_ / "system"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProgram(TROVEX_EXE, all, temp_ / "");
  }

  // msiecfexport's output on the container's index.dat. Wine's files
  // carry a signature of their own that it refuses: it reads a copy with
  // the signature of the layout they share.
  std::string TheirExport(const std::string& folder) {
    std::string copy = temp_ / "theirs.dat";
    fs::copy_file(folder + "/index.dat", copy, fs::copy_options::overwrite_existing);
    std::string bytes = ReadFile(copy);
    if (bytes.rfind("WINE URLCache Ver ", 0) == 0) {
      WriteFile(copy, std::string("Client UrlCache MMF Ver 5.2", 28) + bytes.substr(28));
    }
    std::string command = "msiecfexport " + Quoted(copy) + " >" + Quoted(temp_ / "theirs.txt") + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(temp_ / "theirs.txt");
    return temp_ / "theirs.txt";
  }

  // Compares msiecfexport's reading of the container with our export: no
  // difference but the known ones, as many of each as expected, and every
  // URL record alike.
  void Compare(const std::string& folder, const Expected& expected) {
    std::string theirs = TheirExport(folder);
    Result ours = Trovex({"--cache", folder, "export", "--format", "jsonl"});
    ASSERT_EQ(ours.Status, 0) << ours.Err;
    WriteFile(temp_ / "ours.jsonl", ours.Out);
    WriteFile(temp_ / "compare.py", kCompare);
    std::string command = "python3 " + Quoted(temp_ / "compare.py") + " " + Quoted(folder + "/index.dat") + " " +
                          Quoted(theirs) + " " + Quoted(temp_ / "ours.jsonl") + " " + Quoted(folder) + " >" +
                          Quoted(temp_ / "compared") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(temp_ / "compared");
    std::vector<std::string> lines;
    std::istringstream compared(ReadFile(temp_ / "compared"));
    for (std::string line; std::getline(compared, line);) lines.push_back(line);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), std::to_string(expected.Urls) + " records alike") << folder;
    lines.pop_back();
    std::map<std::string, size_t> known;
    std::string unknown;
    for (const std::string& line : lines) {
      if (!CountedAsKnown(line, known)) unknown += line + "\n";
    }
    EXPECT_EQ(unknown, "") << folder;
    ExpectKnownDifferences(known, expected, folder);
  }

  TempFolder temp_;

 private:
  // As many records of each known difference as expected; one expected
  // and not seen means the difference is gone.
  static void ExpectKnownDifferences(std::map<std::string, size_t>& known, const Expected& expected,
                                     const std::string& folder) {
    for (const KnownDifference& difference : kKnownDifferences) {
      auto wanted = expected.Others.find(difference.Type);
      size_t count = wanted == expected.Others.end() ? 0 : wanted->second;
      EXPECT_EQ(known[difference.Type], count) << difference.Type << " records in " << folder;
      if (count != 0 && known[difference.Type] == 0) ADD_FAILURE() << "no longer differs: " << difference.Reason;
      if (known[difference.Type] != 0) std::printf("known difference: %s: %s\n", difference.Type, difference.Reason);
    }
  }

  static bool CountedAsKnown(const std::string& line, std::map<std::string, size_t>& known) {
    for (const KnownDifference& difference : kKnownDifferences) {
      std::string suffix = " " + std::string(difference.Type) + ": msiecfexport only";
      if (line.size() > suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
        ++known[difference.Type];
        return true;
      }
    }
    return false;
  }
};

// The samples, by folder, with what msiecfexport lists in each.
const std::map<std::string, Expected> kSamples = {
    {"greendale/Content.IE5", {21, {{"REDR", 14}}}},
    {"greendale/History.IE5", {15, {}}},
    {"daily-history", {23, {}}},
};

TEST_F(Msiecf, EveryFieldItPrintsAgreesOnEveryRecordOfEverySample) {
  for (const auto& [sample, expected] : kSamples) Compare(CopyOfSample(sample), expected);
}

// Wine's own signature, which msiecfexport refuses, is given it in place of
// its own on the copy it reads: the records are those of the sample.
TEST_F(Msiecf, AWineIndexIsReadWithTheSignatureOfItsLayout) {
  std::string folder = CopyOfSample("greendale/Content.IE5");
  std::string index = ReadFile(folder + "/index.dat");
  WriteFile(folder + "/index.dat", std::string("WINE URLCache Ver 0.2012001", 28) + index.substr(28));
  Compare(folder, kSamples.at("greendale/Content.IE5"));
}

// A sample added to the folder is compared too, once its counts are in the
// table. The damaged files are left out: msiecfexport crashes on one and
// does not finish on the other.
TEST_F(Msiecf, EverySampleIndexIsInTheTable) {
  size_t found = 0;
  for (const auto& entry : fs::recursive_directory_iterator(TROVEX_INDEXDAT_SAMPLES)) {
    if (entry.path().filename() != "index.dat") continue;
    std::string folder = fs::relative(entry.path().parent_path(), TROVEX_INDEXDAT_SAMPLES).string();
    EXPECT_EQ(kSamples.count(folder), 1u) << folder << " is compared with msiecfexport by no test";
    ++found;
  }
  EXPECT_EQ(found, kSamples.size());
}

// Deleting an entry whose local file cannot be removed leaves its record a
// LEAK, which msiecfexport lists and our export does not: the other records
// still agree, and the rows keep their records.
TEST_F(Msiecf, ALeakLeftByADeletionIsNoRow) {
  std::string folder = CopyOfSample("greendale/Content.IE5");
  std::string file = folder + "/5ZBG4UOD/favicon[2].ico";
  WriteFile(file, "icon");
  // The local file is removed only while its time is the one the record
  // noted (the FAT time at +92); read-only, it stays, and so does the record.
  const char* noteTime = R"(import calendar, os, struct, sys
image = open(sys.argv[1], 'rb').read()
record = image.rindex(b'URL ', 0, image.index(b'http://www.microsoft.com/favicon.ico?v2\0'))
fat = struct.unpack_from('<I', image, record + 92)[0]
date, time = fat & 0xFFFF, fat >> 16
t = calendar.timegm(((date >> 9) + 1980, date >> 5 & 15, date & 31, time >> 11, time >> 5 & 63, (time & 31) * 2))
os.utime(sys.argv[2], (t, t))
os.chmod(sys.argv[2], 0o444)
)";
  WriteFile(temp_ / "note.py", noteTime);
  ASSERT_EQ(std::system(("python3 " + Quoted(temp_ / "note.py") + " " + Quoted(folder + "/index.dat") + " " +
                         Quoted(file)).c_str()),
            0);
  std::string entry = "microsoft.com/www.microsoft.com/http://www.microsoft.com/favicon.ico?v2";
  Result removed = Trovex({"--cache", folder, "rm", entry});
  ASSERT_EQ(removed.Status, 0) << removed.Out << removed.Err;
  ASSERT_TRUE(fs::exists(file));
  Compare(folder, {20, {{"REDR", 14}, {"LEAK", 1}}});
}

}  // namespace
