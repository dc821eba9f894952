// Cuts a WebCacheV01.dat down to a small database that the ESE reader still
// reads as a WebCache, for the seeds of the fuzz targets:
//
//   webcacheseed SAMPLE OUT TABLE...      (e.g. Container_1 Container_2)
//
// OUT keeps the file header and its shadow, the catalog, the Containers
// table and the tables named, with their long values, renumbered from page 4
// (the catalog's root) on. The catalog's records of every other table are
// marked deleted, so the reader passes over them as it passes over any
// deleted node; every page kept has its checksums made to hold again.
// Databases of 16 and 32 KiB pages only (the layout of large pages). The
// result is read back before the tool says it is done.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/ese/Database.h"

using namespace trovex;
using namespace trovex::ese;

namespace {

constexpr uint32_t kCatalogRoot = 4;
constexpr int kMaxDepth = 16;
// A catalog record: its table's objid, its kind, and the root page of a
// table's or long values' tree, where every catalog keeps them.
constexpr uint64_t kObjidAt = 4, kTypeAt = 8, kRootAt = 14;
enum CatalogType : uint16_t { kTable = 1, kLongValues = 4 };

void Put32(std::string& bytes, uint64_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

class Cutter {
 public:
  Cutter(const std::string& sample, const Database& database)
      : sample_(sample), image_(ByteView(sample)), geometry_(GeometryOf(database.FileHeader())) {}

  // Takes the tree at `root` and its subtree into the cut, in walk order.
  bool Take(uint32_t root, int depth = 0) {
    if (renumbered_.count(root) != 0) return true;
    Page page;
    if (depth > kMaxDepth || LoadPage(image_, geometry_, root, page).has_value()) return false;
    renumbered_[root] = kCatalogRoot + static_cast<uint32_t>(order_.size());
    order_.push_back(root);
    if (page.Has(kPageLeaf)) return true;
    for (uint32_t i = 0; i < page.NodeCount(); ++i) {
      Node node;
      if (page.NodeAt(i, node) && !(node.flags & kNodeDeleted) && !Take(node.data.U32(0), depth + 1)) return false;
    }
    return true;
  }

  // The cut database: every page taken, renumbered and sealed; the
  // catalog's pages keep only the records of the tables in `kept`.
  std::string Write(const std::set<uint32_t>& kept, const std::set<uint32_t>& catalogPages) {
    uint64_t size = geometry_.pageSize;
    std::string out = sample_.substr(0, 2 * size);
    out.resize((kCatalogRoot + 1 + order_.size()) * size, '\0');
    for (uint32_t old : order_) {
      uint32_t number = renumbered_[old];
      std::string page = sample_.substr((uint64_t{old} + 1) * size, size);
      Relink(old, page);
      if (catalogPages.count(old) != 0) KeepRecords(old, page, kept);
      Seal(page, number);
      out.replace((uint64_t{number} + 1) * size, size, page);
    }
    return out;
  }

 private:
  uint64_t OffsetIn(uint32_t number, ByteView view) const {
    return static_cast<uint64_t>(view.Bytes().data() - sample_.data()) - (uint64_t{number} + 1) * geometry_.pageSize;
  }

  uint32_t NewNumber(uint32_t old) const {
    auto found = renumbered_.find(old);
    return found == renumbered_.end() ? 0 : found->second;
  }

  // Its neighbours and children by their new numbers.
  void Relink(uint32_t old, std::string& bytes) {
    Page page;
    LoadPage(image_, geometry_, old, page);
    ByteView view(bytes);
    Put32(bytes, 16, NewNumber(view.U32(16)));
    Put32(bytes, 20, NewNumber(view.U32(20)));
    if (page.Has(kPageLeaf)) return;
    for (uint32_t i = 0; i < page.NodeCount(); ++i) {
      Node node;
      if (page.NodeAt(i, node) && !(node.flags & kNodeDeleted))
        Put32(bytes, OffsetIn(old, node.data), NewNumber(node.data.U32(0)));
    }
  }

  // Marks the records of tables left out deleted; moves the kept tables'
  // roots to their new pages.
  void KeepRecords(uint32_t old, std::string& bytes, const std::set<uint32_t>& kept) {
    Page page;
    LoadPage(image_, geometry_, old, page);
    if (!page.Has(kPageLeaf)) return;
    for (uint32_t i = 0; i < page.NodeCount(); ++i) {
      Node node;
      if (!page.NodeAt(i, node) || (node.flags & kNodeDeleted)) continue;
      if (kept.count(node.data.U32(kObjidAt)) == 0) {
        // The node's flags are the top bits of its value's first word.
        uint64_t value = OffsetIn(old, node.suffix) - ((node.flags & kNodeCompressed) ? 4 : 2);
        bytes[value + 1] = static_cast<char>(bytes[value + 1] | (kNodeDeleted << 5));
        continue;
      }
      uint16_t type = node.data.U16(kTypeAt);
      if (type == kTable || type == kLongValues)
        Put32(bytes, OffsetIn(old, node.data) + kRootAt, NewNumber(node.data.U32(kRootAt)));
    }
  }

  // The page's number and its four checksums, the last three first: the
  // first block's sum covers where they are kept.
  void Seal(std::string& bytes, uint32_t number) {
    Put32(bytes, 64, number);
    uint32_t block = geometry_.pageSize / 4;
    for (uint32_t i = 1; i < 4; ++i)
      Put32(bytes, 40 + 8 * (i - 1), XorWords(ByteView(bytes).Sub(i * block, block), 0) ^ number);
    Put32(bytes, 0, XorWords(ByteView(bytes).Sub(0, block), 8) ^ number);
  }

  const std::string& sample_;
  MemoryImage image_;
  Geometry geometry_;
  std::map<uint32_t, uint32_t> renumbered_;
  std::vector<uint32_t> order_;  // old numbers, by new number from 4 on
};

// The pages of the tree at `root`: the root and every page below it.
std::set<uint32_t> PagesOf(const std::string& sample, const Database& database, uint32_t root) {
  MemoryImage image{ByteView(sample)};
  Geometry geometry = GeometryOf(database.FileHeader());
  std::set<uint32_t> pages;
  std::vector<uint32_t> stack = {root};
  while (!stack.empty()) {
    uint32_t number = stack.back();
    stack.pop_back();
    Page page;
    if (pages.size() > geometry.pageCount || !pages.insert(number).second ||
        LoadPage(image, geometry, number, page).has_value() || page.Has(kPageLeaf))
      continue;
    for (uint32_t i = 0; i < page.NodeCount(); ++i) {
      Node node;
      if (page.NodeAt(i, node) && !(node.flags & kNodeDeleted)) stack.push_back(node.data.U32(0));
    }
  }
  return pages;
}

// Whether `cut` reads back whole with every table kept; says what it holds.
bool ReadsBack(const std::string& cut, const std::vector<std::string>& names) {
  std::string why;
  std::optional<Database> database = Database::Open(cut, &why);
  if (!database || !database->CatalogComplete() || database->CatalogDrops().Total() != 0) {
    std::fprintf(stderr, "webcacheseed: the cut's catalog does not read back whole %s\n", why.c_str());
    return false;
  }
  for (const std::string& name : names) {
    const Table* table = database->FindTable(name);
    Drops drops = NewDrops();
    size_t rows = 0;
    if (table == nullptr || !database->ForEachRow(*table, drops, [&](const Row&) { return ++rows, true; })) {
      std::fprintf(stderr, "webcacheseed: %s does not read back whole\n", name.c_str());
      return false;
    }
    std::printf("%s: %zu rows\n", name.c_str(), rows);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: webcacheseed SAMPLE OUT TABLE...\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::optional<Database> database = Database::Open(sample, nullptr);
  if (!database || !GeometryOf(database->FileHeader()).large) {
    std::fprintf(stderr, "webcacheseed: %s is no ESE database of large pages\n", argv[1]);
    return 1;
  }
  std::vector<std::string> names = {"Containers"};
  names.insert(names.end(), argv + 3, argv + argc);
  Cutter cutter(sample, *database);
  std::set<uint32_t> kept;
  bool taken = cutter.Take(kCatalogRoot);
  for (const std::string& name : names) {
    const Table* table = database->FindTable(name);
    if (table == nullptr) {
      std::fprintf(stderr, "webcacheseed: no table %s\n", name.c_str());
      return 1;
    }
    kept.insert(table->objid);
    taken = taken && cutter.Take(table->root) && (table->longValueRoot == 0 || cutter.Take(table->longValueRoot));
  }
  if (!taken) {
    std::fprintf(stderr, "webcacheseed: a page of the tables wanted cannot be read\n");
    return 1;
  }
  std::string cut = cutter.Write(kept, PagesOf(sample, *database, kCatalogRoot));
  if (!ReadsBack(cut, names)) return 1;
  std::ofstream(argv[2], std::ios::binary) << cut;
  std::printf("%s: %zu bytes\n", argv[2], cut.size());
  return 0;
}
