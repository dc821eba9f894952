// An ESE database as a damaged disk or a hostile writer may hold it.
// Input: a byte whose low bit asks to give every page (and the header) a
// checksum that holds, so that changes reach the checks behind it, then
// the database image.
//
// Every value read fits its limits: a long value at most the column's
// limit or the reader's, a stored value inside the file. Reading every row
// of every table ends, and visits no more rows than the file has room for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/ese/Database.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"

using namespace trovex;

namespace {

using trovex::ByteView;

uint32_t Xor(const std::string& image, uint64_t from, uint64_t to) {
  uint32_t sum = 0;
  for (uint64_t i = from; i + 4 <= to; i += 4) sum ^= ByteView(image).U32(i);
  return sum;
}

void PutU32(std::string& image, uint64_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
}

// Rewrites the checksums the way the engine writes them.
void Reseal(std::string& image) {
  ByteView view(image);
  uint32_t pageSize = view.U32(236) == 0 ? 4096 : view.U32(236);
  if (pageSize < 2048 || pageSize > 32768 || (pageSize & (pageSize - 1)) != 0) return;
  if (image.size() >= pageSize) PutU32(image, 0, 0x89ABCDEF ^ Xor(image, 4, pageSize));
  for (uint64_t page = 1; (page + 2) * pageSize <= image.size(); ++page) {
    uint64_t at = (page + 1) * pageSize;
    uint32_t number = static_cast<uint32_t>(page);
    if (pageSize <= 8192) {
      PutU32(image, at, Xor(image, at + 8, at + pageSize) ^ number);
      continue;
    }
    uint32_t block = pageSize / 4;
    PutU32(image, at + 64, number);
    for (uint32_t i = 1; i < 4; ++i)
      PutU32(image, at + 40 + 8 * (i - 1), Xor(image, at + i * block, at + (i + 1) * block) ^ number);
    PutU32(image, at, Xor(image, at + 8, at + block) ^ number);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trovex::ese;
  FuzzInput input(data, size);
  bool reseal = input.Byte() & 1;
  std::string image(input.Rest());
  if (reseal) Reseal(image);
  std::optional<Database> database = Database::Open(image, nullptr);
  if (!database) return 0;
  const Header& header = database->FileHeader();
  FUZZ_CHECK(uint64_t{header.pageCount + 2} * header.pageSize <= image.size());
  uint64_t rows = 0;
  for (const Table& table : database->Tables()) {
    trovex::Drops drops = NewDrops();
    database->ForEachRow(table, drops, [&](const Row& row) {
      ++rows;
      for (const Column& column : table.columns) {
        for (const Value& value : row.GetAll(column)) {
          uint64_t limit = column.spaceUsage != 0 ? column.spaceUsage : Database::kLongValueLimit;
          if (value.state == ValueState::kTruncated) FUZZ_CHECK(value.bytes.size() == limit);
          FUZZ_CHECK(value.bytes.size() <= std::max<uint64_t>({limit, image.size(), column.defaultValue.size()}));
        }
      }
      return true;
    });
    drops.Describe();
  }
  // A record is at least 4 bytes and a tag 4 more.
  FUZZ_CHECK(rows <= image.size() / 8 * 2);
  return 0;
}
