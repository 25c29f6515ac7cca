#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "zeplo/util/util.h"

namespace {

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
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  EXPECT_EQ(MqDateTimeToEpoch("20240115", "120000") + 5 * 3600,
            MqDateTimeToEpochLocal("20240115", "120000"));
  EXPECT_EQ(MqDateTimeToEpoch("20240715", "120000") + 4 * 3600,
            MqDateTimeToEpochLocal("20240715", "120000"));
  char date[9] = {}, time[9] = {};
  int64_t when = MqDateTimeToEpoch("20240715", "120000");
  EpochToMqDateTime(&when, date, time, false);
  EXPECT_EQ(std::string("20240715 08000000"), std::string(date) + " " + time);
  old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
}

}  // namespace
