// The times of a record as the host writes them: ISO 8601 UTC from
// FILETIME ticks, with as many digits of fraction as the ticks need.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/EntryRecord.h"

using namespace trovex;

namespace {

constexpr uint64_t kTicksAt1970 = 116444736000000000;
constexpr uint64_t kTicksPerSecond = 10000000;

TEST(IsoTime, WritesTheTicksToTheirLastDigitOfFraction) {
  const struct {
    uint64_t ticks;
    const char* text;
  } cases[] = {
      {0, ""},
      {1, "1601-01-01T00:00:00.0000001Z"},
      {kTicksPerSecond - 1, "1601-01-01T00:00:00.9999999Z"},
      {kTicksAt1970, "1970-01-01T00:00:00Z"},
      {kTicksAt1970 - kTicksPerSecond, "1969-12-31T23:59:59Z"},
      // 2015-08-25T11:05:29.73Z: the fraction's trailing zeros are dropped.
      {kTicksAt1970 + 1440500729ull * kTicksPerSecond + 7300000, "2015-08-25T11:05:29.73Z"},
      {kTicksAt1970 + 951782400ull * kTicksPerSecond + 10, "2000-02-29T00:00:00.000001Z"},
      // The largest ticks lie in a year of five digits.
      {UINT64_MAX, "60056-05-28T05:36:10.9551615Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(IsoTime(c.ticks), c.text) << c.ticks;
}

TEST(IsoTime, AppendsToWhatTheTextHolds) {
  std::string row = "a,";
  AppendIsoTime(row, kTicksAt1970);
  AppendIsoTime(row, 0);
  EXPECT_EQ(row, "a,1970-01-01T00:00:00Z");
}

}  // namespace
