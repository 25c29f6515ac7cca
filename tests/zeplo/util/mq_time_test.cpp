#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "zeplo/util/util.h"

namespace {

struct EpochCase {
  const char* Date;
  const char* Time;
  int64_t Seconds;       // UTC reading
  int64_t Centiseconds;  // with the hundredths
};

const EpochCase kEpochCases[] = {
    {"19700101", "00000000", 0, 0},
    {"20240229", "12345678", 1709210096, 170921009678},  // leap day
    {"19991231", "23595999", 946684799, 94668479999},
    {"20380119", "03140800", 2147483648LL, 214748364800LL},  // past 32 bits
};

TEST(MqTimeTest, DateTimeToEpochUtc) {
  for (const EpochCase& c : kEpochCases) {
    EXPECT_EQ(c.Seconds, MqDateTimeToEpoch(c.Date, c.Time)) << c.Date << c.Time;
    int64_t seconds = 0, cs = 0;
    EXPECT_EQ(0, MqDateTimeToEpochCs(c.Date, c.Time, &seconds, &cs));
    EXPECT_EQ(c.Seconds, seconds);
    EXPECT_EQ(c.Centiseconds, cs);
  }
}

TEST(MqTimeTest, MissingOrUnreadableGivesMinusOne) {
  const char* kDates[] = {nullptr, "        ", "2024013", "2024-1-1", ""};
  for (const char* date : kDates) {
    EXPECT_EQ(-1, MqDateTimeToEpoch(date, "120000")) << (date ? date : "null");
    EXPECT_EQ(-1, MqDateTimeToEpochLocal(date, "120000"));
  }
  EXPECT_EQ(-1, MqDateTimeToEpoch("20240101", nullptr));
  EXPECT_EQ(-1, MqDateTimeToEpoch("20240101", "12:00:"));
  int64_t seconds = 7, cs = 7;
  EXPECT_EQ(1, MqDateTimeToEpochCs("20240101", "123456  ", &seconds, &cs));
  EXPECT_EQ(-1, seconds);
  EXPECT_EQ(0, cs);
}

TEST(MqTimeTest, LocalReadingFollowsTimeZone) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  // Winter: UTC-5; summer: UTC-4 (daylight saving chosen by the system).
  EXPECT_EQ(MqDateTimeToEpoch("20240115", "120000") + 5 * 3600,
            MqDateTimeToEpochLocal("20240115", "120000"));
  EXPECT_EQ(MqDateTimeToEpoch("20240715", "120000") + 4 * 3600,
            MqDateTimeToEpochLocal("20240715", "120000"));
  char date[9] = {}, time[9] = {};
  int64_t when = MqDateTimeToEpoch("20240715", "120000");
  EpochToMqDateTime(&when, date, time, false);
  EXPECT_STREQ("20240715", date);
  EXPECT_STREQ("08000000", time);
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(MqTimeTest, EpochToMqDateTimeWritesExactlyEightCharacters) {
  char fields[18];
  std::memset(fields, '#', sizeof fields);
  int64_t when = 1709210096;
  EXPECT_EQ(when, EpochToMqDateTime(&when, fields, fields + 9, true));
  EXPECT_EQ(std::string("20240229#12345600#"), std::string(fields, sizeof fields));

  // Without a time: now, and the fields read back to the returned time.
  int64_t now = EpochToMqDateTime(nullptr, fields, fields + 9, true);
  EXPECT_LE(std::llabs(now - static_cast<int64_t>(::time(nullptr))), 2);
  fields[8] = '\0';
  EXPECT_EQ(now, MqDateTimeToEpoch(fields, fields + 9));
}

TEST(MqTimeTest, NowCsAgreesWithItself) {
  int64_t seconds = 0, cs = 0;
  NowCs(&seconds, &cs);
  EXPECT_GE(cs, seconds * 100);
  EXPECT_LT(cs, seconds * 100 + 100);
  NowCs(nullptr, nullptr);  // either output may be omitted
}

}  // namespace
