// The value grammars of -T, -z, -P, -r, -D, -R and -w.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "zeplo/driver/driver.h"
#include "zeplo/util/util.h"

namespace {

class ValueParsersTest : public testing::Test {
 protected:
  void SetUp() override {
    // Local time is pinned so that "local" timestamps have known values.
    setenv("TZ", "UTC", 1);
    tzset();
    char* argv[] = {const_cast<char*>("zeplo"), nullptr};
    RunOptionsInit(&options_, 1, argv);
    options_.NowSeconds = 1419465600;  // 25/12/2014 00:00:00 UTC
  }
  RunOptions options_;
};

TEST_F(ValueParsersTest, Timestamps) {
  struct Case {
    const char* Text;
    int64_t Epoch;
  } cases[] = {
      {"25/12/2014", 1419465600},
      {"u25/12/2014_12:00", 1419508800},
      {"25/12/2014_12:00:30", 1419508830},
      {"25/12/2014_07", 1419490800},
      {"12:30", 1419465600 + 12 * 3600 + 30 * 60},  // today
      {"u01/01/1970", 0},
  };
  for (const Case& c : cases) {
    int64_t field = 0;
    EXPECT_EQ(ParseTimestamp(c.Text, "older than", options_.NowSeconds, &field),
              0)
        << c.Text;
    EXPECT_EQ(field, c.Epoch) << c.Text;
  }
}

TEST_F(ValueParsersTest, TimestampRefusals) {
  struct Case {
    const char* Text;
    int64_t Before;
    const char* Message;
  } cases[] = {
      {"u25/12/14", 0, "Unrecognised time format '25/12/14'\n"},
      {"25/12/2014_", 0, "Unrecognised time format '25/12/2014_'\n"},
      {"25/12/2014_12:00:00x", 0,
       "Unrecognised time format '25/12/2014_12:00:00x'\n"},
      {"1:30", 0, "Unrecognised time format '1:30'\n"},
      {"", 0, "Unrecognised time format ''\n"},
  };
  for (const Case& c : cases) {
    int64_t field = c.Before;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParseTimestamp(c.Text, "older than", options_.NowSeconds, &field),
              kOptionsRefused);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.Message);
    EXPECT_EQ(field, c.Before);
  }
}

TEST_F(ValueParsersTest, Quantities) {
  struct Case {
    const char* Text;
    int32_t Bytes;
  } cases[] = {
      {"100", 100},          {"10k", 10240},        {"1.5m", 1572864},
      {"1m512k", 1572864},   {"1 MB 512 kb", 1572864}, {"2 G", INT32_MAX},
      {"1g", 1073741824},    {"3 bytes", 3},        {"99999999999k", INT32_MAX},
      // Not quantities: each would otherwise be read in part.
      {"10x", -1},           {"", -1},              {"1.2.3", -1},
      {"1 2", -1},           {"5 kbytes", -1},      {"k", -1},
  };
  for (const Case& c : cases) {
    int32_t bytes = 7;
    EXPECT_EQ(ParseQuantity(c.Text, SizeUnits, 1, &bytes), c.Bytes >= 0) << c.Text;
    EXPECT_EQ(bytes, c.Bytes >= 0 ? c.Bytes : 0) << c.Text;
  }
  // An age too long for its field saturates, as sizes do.
  int32_t seconds = 0;
  EXPECT_EQ(0, ParseAge("99999999:0:0", "older than", &seconds));
  EXPECT_EQ(INT32_MAX, seconds);
}

TEST_F(ValueParsersTest, OptionValues) {
  // Each row: the option, its value, and what RunOptions holds afterwards.
  struct Case {
    char Option;
    const char* Value;
    int64_t RunOptions::*Field64;
    int32_t RunOptions::*Field32;
    int64_t Expected;
  } cases[] = {
      {'T', "60", nullptr, &RunOptions::OlderThan, 3600},
      {'T', "60,10", nullptr, &RunOptions::YoungerThan, 600},
      {'T', ",10", nullptr, &RunOptions::OlderThan, 0},
      {'T', "t25/12/2014", &RunOptions::PutBefore, nullptr, 1419465600},
      {'T', "fu25/12/2014_12:00", &RunOptions::PutAfter, nullptr, 1419508800},
      {'r', "5", nullptr, &RunOptions::RangeLast, 5},
      {'r', "5..9", nullptr, &RunOptions::RangeLast, 9},
      {'r', "5#3", nullptr, &RunOptions::RangeLast, 7},
      {'r', "#3", nullptr, &RunOptions::RangeFirst, 0},
      {'r', "#3", nullptr, &RunOptions::RangeLast, 3},
      {'r', "5..", nullptr, &RunOptions::RangeLast, 0},
      {'r', "10..5", nullptr, &RunOptions::RangeFirst, 10},
      {'r', "2147483647#9", nullptr, &RunOptions::RangeLast, INT32_MAX},
      {'P', "3,7", nullptr, &RunOptions::PriorityMax, 7},
      {'P', ",7", nullptr, &RunOptions::PriorityMin, -1},
      {'P', "4", nullptr, &RunOptions::PriorityMin, 4},
      {'P', "7,3", nullptr, &RunOptions::PriorityMin, 3},
      {'P', "7,3", nullptr, &RunOptions::PriorityMax, 7},
      {'D', "r", nullptr, &RunOptions::Delay, 100},
      {'D', "r50", nullptr, &RunOptions::Delay, 50},
      {'D', "-500", nullptr, &RunOptions::Delay, -500},
      {'R', "*:60", nullptr, &RunOptions::Rate, -1},
      {'R', "*:60", nullptr, &RunOptions::RateDuration, 60},
      {'R', "10", nullptr, &RunOptions::Rate, 10},
      {'R', "10", nullptr, &RunOptions::RateDuration, 0},
      {'R', "5:*", nullptr, &RunOptions::RateDuration, -1},
      {'w', "-5", nullptr, &RunOptions::WaitInterval, -1},
      {'w', "30", nullptr, &RunOptions::WaitInterval, 30},
      // Past what an MQGET can wait (milliseconds in 32 bits): unlimited.
      {'w', "2147483", nullptr, &RunOptions::WaitInterval, 2147483},
      {'w', "2147484", nullptr, &RunOptions::WaitInterval, -1},
      {'w', "99999999999", nullptr, &RunOptions::WaitInterval, -1},
  };
  for (const Case& c : cases) {
    RunOptions o = options_;
    int rc = -1;
    switch (c.Option) {
      case 'T': rc = ParseTimeOnQueue(&o, c.Value); break;
      case 'r': rc = ParseMessageRange(&o, c.Value); break;
      case 'P': rc = ParsePriorityRange(&o, c.Value); break;
      case 'D': rc = ParseDelay(&o, c.Value); break;
      case 'R': rc = ParseRate(&o, c.Value); break;
      case 'w': rc = ParseWait(&o, c.Value); break;
    }
    std::string label = std::string("-") + c.Option + c.Value;
    EXPECT_EQ(rc, 0) << label;
    int64_t got = c.Field64 != nullptr ? o.*c.Field64 : o.*c.Field32;
    EXPECT_EQ(got, c.Expected) << label;
  }
}

TEST_F(ValueParsersTest, RangeRefusals) {
  for (const char* text : {"5x", "5.9", "5#x", "#0", "5#", "x", "5...9", "..9x"}) {
    RunOptions o = options_;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParseMessageRange(&o, text), kOptionsRefused) << text;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("Invalid message range parameter '") + text + "'\n");
  }
}

}  // namespace
