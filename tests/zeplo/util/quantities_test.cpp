#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "zeplo/util/util.h"

namespace {

struct QuantityCase {
  int64_t Value;
  const UnitEntry* Table;
  int Flags;
  const char* Expected;
};

constexpr int kCompoundShort = kQuantityCompound | kQuantityShortNames;

const QuantityCase kQuantityCases[] = {
    // Single-unit form.
    {0, SizeUnits, 0, "0 bytes "},
    {1, SizeUnits, 0, "1 byte "},
    {1023, SizeUnits, 0, "1023 bytes "},
    {1536, SizeUnits, 0, "1.5 KBs "},
    {1048576, SizeUnits, 0, "1 MB "},
    {1048577, SizeUnits, 0, "1.0 MBs "},
    {1048577, SizeUnits, kQuantityTwoDecimals, "1.00 MBs "},
    {3 * 1073741824LL, SizeUnits, 0, "3 GBs "},
    {2048, LargeSizeUnits, 0, "2 GBs "},
    {-1536, SizeUnits, 0, "-1.5 KBs "},
    {5, SizeUnits, kQuantityPlusSign, "+5 bytes "},
    {0, SizeUnits, kQuantityPlusSign, "+0 bytes "},
    {90, TimeUnitsSec, kQuantityShortNames, "1.5 Mins "},
    // Compound form.
    {90061, TimeUnitsSec, kCompoundShort, "1 Day 1 Hr 1 Min 1 Sec "},
    {90061, TimeUnitsSec, kQuantityCompound, "1 Day 1 Hour 1 Minute 1 Second "},
    {3600, TimeUnitsSec, kCompoundShort, "1 Hr "},
    {7322, TimeUnitsSec, kCompoundShort, "2 Hrs 2 Mins 2 Secs "},
    {86401, TimeUnitsSec, kCompoundShort, "1 Day 1 Sec "},
    {0, TimeUnitsSec, kCompoundShort, "0 Secs "},
    {1536, SizeUnits, kCompoundShort, "1 KB 512 bytes "},
    {1209600, TimeUnitsSec, kCompoundShort, "2 Weeks "},
    // Centiseconds: seconds are the last unit, with or without a fraction.
    {150, TimeUnitsCs, kCompoundShort | kQuantityFraction, "1.50 Secs "},
    {5999, TimeUnitsCs, kCompoundShort | kQuantityFraction, "59.99 Secs "},
    {0, TimeUnitsCs, kCompoundShort | kQuantityFraction, "0.00 Secs "},
    {6150, TimeUnitsCs, kCompoundShort | kQuantityFraction, "1 Min 1.50 Secs "},
    {6150, TimeUnitsCs, kCompoundShort, "1 Min 1 Sec "},
    {50, TimeUnitsCs, kCompoundShort, "0 Secs "},
    // Counts beyond 32 bits are written in full.
    {INT64_MAX, SizeUnits, kCompoundShort,
     "8589934591 GBs 1023 MBs 1023 KBs 1023 bytes "},
    {INT64_MIN, SizeUnits, kCompoundShort, "-8589934592 GBs "},
};

TEST(QuantitiesTest, FormatQuantityTable) {
  for (const QuantityCase& c : kQuantityCases) {
    char out[kQuantityTextSize];
    EXPECT_EQ(0, FormatQuantity(c.Value, out, c.Table, c.Flags));
    EXPECT_STREQ(c.Expected, out) << c.Value << " flags " << c.Flags;
  }
}

TEST(QuantitiesTest, SmallBufferIsCutAndTerminated) {
  char out[8];
  std::memset(out, 'X', sizeof out);
  EXPECT_EQ(1, FormatQuantity(90061, out, TimeUnitsSec, kCompoundShort));
  EXPECT_EQ(7u, std::strlen(out));
  EXPECT_EQ(std::string("1 Day 1"), out);
  EXPECT_EQ(1, FormatQuantity(5, out, 0, SizeUnits, 0));  // no room at all
}

struct DurationCase {
  int64_t Seconds;
  bool Short;
  const char* Expected;
};

const DurationCase kDurationCases[] = {
    {61, false, "1 minute 1 second"},
    {31536000, true, "1y"},
    {0, false, "0 seconds"},
    {0, true, "0s"},
    {2, false, "2 seconds"},
    {3600 + 120, false, "1 hour 2 minutes"},
    {31536000 + 604800 * 2 + 86400 + 3600 + 60 + 1, false,
     "1 year 2 weeks 1 day 1 hour 1 minute 1 second"},
    {31536000 + 604800 * 2 + 86400 + 3600 + 60 + 1, true, "1y 2w 1d 1h 1m 1s"},
    {-90, true, "-1m 30s"},
};

TEST(QuantitiesTest, FormatDurationTable) {
  for (const DurationCase& c : kDurationCases) {
    char out[kQuantityTextSize];
    EXPECT_EQ(0, FormatDuration(out, c.Seconds, c.Short));
    EXPECT_STREQ(c.Expected, out) << c.Seconds;
  }
}

}  // namespace
