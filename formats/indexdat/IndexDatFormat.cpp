#include "formats/indexdat/IndexDatFormat.h"

#include <bit>
#include <cstring>

#include "base/Ascii.h"
#include "base/Utf.h"

namespace trovex {

namespace indexdat {

namespace {

constexpr char kSignature52[] = "Client UrlCache MMF Ver 5.2";
constexpr char kSignature47[] = "Client UrlCache MMF Ver 4.7";
constexpr char kSignatureWine[] = "WINE URLCache Ver 0.2012001";
constexpr size_t kSignatureSize = 28;  // the text and its NUL

constexpr uint32_t kSlotFiller1 = 0x0BADF00D;
constexpr uint32_t kSlotFiller2 = 0xDEADBEEF;

constexpr RecordLayout kLayout52{24, false, 32, true, 44, 52, 56, 60, 64, 68, 72, 76, 80, 84, 88, 92, 0x60};
constexpr RecordLayout kLayout47{24, true, 32, false, 48, 56, 60, 64, 68, 72, 76, 80, 84, 88, 92, 96, 100};

constexpr int64_t kFiletimeTicksPerSecond = 10'000'000;
constexpr int64_t kFiletimeSecondsTo1970 = 11'644'473'600;

std::optional<Format> FormatOf(ByteView image) {
  std::string_view signature = image.Text(0, kSignatureSize);
  if (signature == std::string_view(kSignature52, kSignatureSize)) return Format::kVersion52;
  if (signature == std::string_view(kSignatureWine, kSignatureSize)) return Format::kWine;
  if (signature == std::string_view(kSignature47, kSignatureSize)) return Format::kVersion47;
  return std::nullopt;
}

bool Fail(std::string* problem, const char* text) {
  if (problem != nullptr) *problem = text;
  return false;
}

bool CheckLength(uint64_t length, std::string* problem) {
  if (length < kHeaderSize + kBlockSize) return Fail(problem, "too short for an index file");
  if (length > kMaxFileSize) return Fail(problem, "too large for an index file");
  if ((length - kHeaderSize) % kBlockSize != 0) return Fail(problem, "length is not a whole number of blocks");
  return true;
}

bool CheckCounts(const Header& header, std::string* problem) {
  if (header.capacity > (header.declaredSize - kHeaderSize) / kBlockSize || header.capacity > kMaxBlocks)
    return Fail(problem, "capacity exceeds the file");
  if (header.blocksInUse > header.capacity) return Fail(problem, "more blocks in use than the capacity");
  if (header.subfolderCount > kMaxSubfolders) return Fail(problem, "too many subfolders");
  return true;
}

// Subfolder names become parts of host paths: letters and digits only.
std::string SubfolderName(ByteView image, uint32_t i) {
  std::string_view name = image.Text(kSubfoldersAt + uint64_t{i} * kSubfolderEntrySize + 4, 8);
  for (char c : name) {
    if (!IsAsciiAlnum(c)) return {};
  }
  return std::string(name);
}

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

const RecordLayout& LayoutOf(Format format) {
  return format == Format::kVersion47 ? kLayout47 : kLayout52;
}

bool PutBytes(std::string& image, uint64_t at, std::string_view bytes) {
  if (!ByteView(image).Holds(at, bytes.size())) return false;
  image.replace(at, bytes.size(), bytes);
  return true;
}

bool PutU8(std::string& image, uint64_t at, uint8_t value) {
  char byte = static_cast<char>(value);
  return PutBytes(image, at, std::string_view(&byte, 1));
}

bool PutU32(std::string& image, uint64_t at, uint32_t value) {
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return PutBytes(image, at, std::string_view(bytes, sizeof bytes));
}

bool PutU64(std::string& image, uint64_t at, uint64_t value) {
  char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return PutBytes(image, at, std::string_view(bytes, sizeof bytes));
}

// The size field gives the file's length: a longer file is read up to it,
// a shorter one in the whole blocks it holds.
std::optional<Header> ReadHeader(std::string_view bytes, std::string* problem) {
  ByteView image(bytes);
  if (image.Size() < kHeaderSize + kBlockSize) {
    Fail(problem, "too short for an index file");
    return std::nullopt;
  }
  std::optional<Format> format = FormatOf(image);
  if (!format) {
    Fail(problem, "unknown signature");
    return std::nullopt;
  }
  Header header;
  header.format = *format;
  header.firstHash = image.U32(kFirstHashAt);
  header.capacity = image.U32(kCapacityAt);
  header.blocksInUse = image.U32(kBlocksInUseAt);
  header.subfolderCount = image.U32(kSubfolderCountAt);
  header.declaredSize = image.U32(kFileSizeAt);
  uint64_t whole = image.Size() - (image.Size() - kHeaderSize) % kBlockSize;
  header.size = std::min(header.declaredSize, whole);
  if (!CheckLength(header.declaredSize, problem) || !CheckCounts(header, problem)) return std::nullopt;
  for (uint32_t i = 0; i < header.subfolderCount; ++i) header.subfolders[i] = SubfolderName(image, i);
  return header;
}

uint32_t HashTableBlocks(ByteView image, const Header& header, uint64_t offset) {
  if (!IsBlockStart(offset) || offset + 16 > image.Size()) return 0;
  if (image.Text(offset, 4) != "HASH") return 0;
  uint32_t blocks = image.U32(offset + 4);
  uint64_t first = (offset - kHeaderSize) / kBlockSize;
  if (blocks == 0 || offset + uint64_t{kBlockSize} * blocks > image.Size() || first + blocks > header.capacity)
    return 0;
  return blocks;
}

Drop HashTableProblem(ByteView image, const Header& header, uint64_t offset) {
  image = Trusted(image, header);
  if (!IsBlockStart(offset)) return Drop::kTableDamaged;
  if (offset + 16 > image.Size()) return Drop::kTableOutside;
  if (image.Text(offset, 4) != "HASH" || image.U32(offset + 4) == 0) return Drop::kTableDamaged;
  uint64_t end = offset + uint64_t{kBlockSize} * image.U32(offset + 4);
  bool withinCapacity = (end - kHeaderSize) / kBlockSize <= header.capacity;
  return end > image.Size() && withinCapacity ? Drop::kTableOutside : Drop::kTableDamaged;
}

bool ListsUrl(uint32_t key, uint32_t offset) {
  if (key == kSlotDeleted || key == kSlotFree || key == offset || key == kSlotFiller1 || key == kSlotFiller2)
    return false;
  return (key & kSlotFlagMask) != kSlotRedirect;
}

std::vector<UrlRecord> ListRecords(std::string_view image, const Header& header, IndexDrops* drops) {
  std::vector<UrlRecord> records;
  ForEachRecord(image, header, [&](const UrlRecord& record) { records.push_back(record); }, drops);
  return records;
}

bool KeptByWine(std::string_view bytes) {
  ByteView image(bytes);
  if (image.Size() < kHeaderSize || image.U32(kFileSizeAt) != image.Size()) return false;
  uint32_t capacity = image.U32(kCapacityAt);
  if (capacity > kMaxBlocks || kHeaderSize + uint64_t{kBlockSize} * capacity != image.Size()) return false;
  uint64_t bits = 0;
  for (uint32_t byte = 0; byte < kMaxBlocks / 8; ++byte) {
    uint8_t value = image.U8(kBitmapAt + byte);
    uint64_t firstPast = capacity > byte * 8 ? capacity - byte * 8 : 0;  // bits of this byte past the capacity
    if (firstPast < 8 && (value >> firstPast) != 0) return false;
    bits += static_cast<uint64_t>(std::popcount(value));
  }
  return bits == image.U32(kBlocksInUseAt);
}

uint64_t FatToFiletime(uint32_t fat) {
  if (fat == 0) return 0;
  uint32_t date = fat & 0xFFFF, time = fat >> 16;
  int64_t year = 1980 + (date >> 9);
  int month = static_cast<int>((date >> 5) & 15), day = static_cast<int>(date & 31);
  int hour = static_cast<int>(time >> 11), minute = static_cast<int>((time >> 5) & 63);
  int second = static_cast<int>(time & 31) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return 0;
  if (hour > 23 || minute > 59 || second > 59) return 0;
  int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<uint64_t>((seconds + kFiletimeSecondsTo1970) * kFiletimeTicksPerSecond);
}

uint32_t UnixToFat(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t rest = seconds - days * 86400;
  // The civil date of `days`, the inverse of DaysFromCivil.
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t dayOfEra = z - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t mp = (5 * dayOfYear + 2) / 153;
  int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yearOfEra + era * 400 + (month <= 2);
  if (year < 1980 || year > 2107) return 0;
  auto date = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
  auto time = static_cast<uint32_t>((rest / 3600) << 11 | (rest % 3600 / 60) << 5 | (rest % 60) / 2);
  return date | time << 16;
}

}  // namespace indexdat

}  // namespace trovex
