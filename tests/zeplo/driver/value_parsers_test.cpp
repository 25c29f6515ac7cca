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
