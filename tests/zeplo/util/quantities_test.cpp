// Quantities, durations and MQ put dates and times.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "zeplo/util/util.h"

namespace {

constexpr int kCS = kQuantityCompound | kQuantityShortNames;

TEST(QuantitiesTest, FormatQuantityTable) {
  struct Case { int64_t Value; const UnitEntry* Table; int Flags; const char* Expected; };
  const Case kCases[] = {
      {0, SizeUnits, 0, "0 bytes "}, {1, SizeUnits, 0, "1 byte "},
      {1536, SizeUnits, 0, "1.5 KBs "}, {1048576, SizeUnits, 0, "1 MB "},
      {1048577, SizeUnits, 0, "1.0 MBs "}, {1048577, SizeUnits, kQuantityTwoDecimals, "1.00 MBs "},
      {2048, LargeSizeUnits, 0, "2 GBs "}, {-1536, SizeUnits, kQuantityPlusSign, "-1.5 KBs "},
      {0, SizeUnits, kQuantityPlusSign, "+0 bytes "},
      {90, TimeUnitsSec, kQuantityShortNames, "1.5 Mins "},
      {90061, TimeUnitsSec, kCS, "1 Day 1 Hr 1 Min 1 Sec "},
      {90061, TimeUnitsSec, kQuantityCompound, "1 Day 1 Hour 1 Minute 1 Second "},
      {3600, TimeUnitsSec, kCS, "1 Hr "}, {7322, TimeUnitsSec, kCS, "2 Hrs 2 Mins 2 Secs "},
      {86401, TimeUnitsSec, kCS, "1 Day 1 Sec "}, {0, TimeUnitsSec, kCS, "0 Secs "},
      {1536, SizeUnits, kCS, "1 KB 512 bytes "},
      {5999, TimeUnitsCs, kCS | kQuantityFraction, "59.99 Secs "},
      {0, TimeUnitsCs, kCS | kQuantityFraction, "0.00 Secs "},
      {6150, TimeUnitsCs, kCS | kQuantityFraction, "1 Min 1.50 Secs "},
      {6150, TimeUnitsCs, kCS, "1 Min 1 Sec "},
      // Counts beyond 32 bits are written in full.
      {INT64_MAX, SizeUnits, kCS, "8589934591 GBs 1023 MBs 1023 KBs 1023 bytes "},
      {INT64_MIN, SizeUnits, kCS, "-8589934592 GBs "},
  };
  for (const Case& c : kCases) {
    char out[kQuantityTextSize];
    EXPECT_EQ(0, FormatQuantity(c.Value, out, c.Table, c.Flags));
    EXPECT_STREQ(c.Expected, out) << c.Value << " flags " << c.Flags;
  }
  char small[8];
  EXPECT_EQ(1, FormatQuantity(90061, small, TimeUnitsSec, kCS));
  EXPECT_STREQ("1 Day 1", small);  // cut, terminated, nothing past the end
  EXPECT_EQ(1, FormatQuantity(5, small, 0, SizeUnits, 0));
}

TEST(QuantitiesTest, FormatDurationTable) {
  struct Case { int64_t Seconds; bool Short; const char* Expected; };
  const int64_t kAll = 31536000 + 604800 * 2 + 86400 + 3600 + 60 + 1;
  const Case kCases[] = {
      {61, false, "1 minute 1 second"}, {31536000, true, "1y"}, {0, false, "0 seconds"},
      {0, true, "0s"}, {3600 + 120, false, "1 hour 2 minutes"},
      {kAll, false, "1 year 2 weeks 1 day 1 hour 1 minute 1 second"},
      {kAll, true, "1y 2w 1d 1h 1m 1s"}, {-90, true, "-1m 30s"},
  };
  for (const Case& c : kCases) {
    char out[kQuantityTextSize];
    EXPECT_EQ(0, FormatDuration(out, c.Seconds, c.Short));
    EXPECT_STREQ(c.Expected, out) << c.Seconds;
  }
}


TEST(MqTimeTest, PutDateAndTimeToEpoch) {
  // Seconds read as UTC, -1 when missing or unreadable; Centiseconds with
  // the hundredths, 0 when unreadable.
  struct Case { const char *Date, *Time; int64_t Seconds, Centiseconds; };
  const Case kCases[] = {
      {"19700101", "00000000", 0, 0},
      {"20240229", "12345678", 1709210096, 170921009678},      // leap day
      {"20380119", "03140800", 2147483648LL, 214748364800LL},  // past 32 bits
      {nullptr, "12000000", -1, 0}, {"20240101", nullptr, -1, 0},
      {"        ", "12000000", -1, 0},  // a descriptor without context
      {"2024013", "12000000", -1, 0},  // short: stops at the terminator
      {"20240101", "12:00:00", -1, 0},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.Seconds, MqDateTimeToEpoch(c.Date, c.Time)) << (c.Date ? c.Date : "null");
    int64_t seconds = 7, cs = 7;
    EXPECT_EQ(c.Seconds < 0 ? 1 : 0, MqDateTimeToEpochCs(c.Date, c.Time, &seconds, &cs));
    EXPECT_EQ(c.Seconds, seconds);
    EXPECT_EQ(c.Centiseconds, cs);
  }
  EXPECT_EQ(-1, MqDateTimeToEpochLocal("        ", "120000"));
}

TEST(MqTimeTest, LocalTimeFollowsTheZoneAndDaylightSaving) {
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);  // nothing else here reads local time
  tzset();
  EXPECT_EQ(MqDateTimeToEpoch("20240115", "120000") + 5 * 3600,
            MqDateTimeToEpochLocal("20240115", "120000"));
  EXPECT_EQ(MqDateTimeToEpoch("20240715", "120000") + 4 * 3600,
            MqDateTimeToEpochLocal("20240715", "120000"));
  char date[9] = {}, time[9] = {};
  int64_t when = MqDateTimeToEpoch("20240715", "120000");
  EpochToMqDateTime(&when, date, time, false);
  EXPECT_EQ(std::string("20240715 08000000"), std::string(date) + " " + time);
}

}  // namespace
