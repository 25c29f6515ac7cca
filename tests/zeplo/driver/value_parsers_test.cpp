// The value grammars of -T, -z, -P, -r, -D, -R and -w.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "zeplo/driver/driver.h"
#include "zeplo/util/util.h"

namespace {

constexpr int64_t kNow = 1419465600;  // 25/12/2014 00:00:00 UTC

TEST(ValueParsersTest, Timestamps) {
  setenv("TZ", "UTC", 1);  // so that "local" timestamps have known values
  tzset();
  struct Case { const char* Text; int64_t Epoch; const char* Message; };  // "": accepted
  const Case cases[] = {
      {"25/12/2014", kNow, ""}, {"u25/12/2014_12:00", 1419508800, ""},
      {"25/12/2014_12:00:30", 1419508830, ""}, {"25/12/2014_07", 1419490800, ""},
      {"12:30", kNow + 12 * 3600 + 30 * 60, ""},  // today
      {"u01/01/1970", 0, ""},
      {"u25/12/14", 0, "Unrecognised time format '25/12/14'\n"},
      {"25/12/2014_", 0, "Unrecognised time format '25/12/2014_'\n"},
      {"25/12/2014_12:00:00x", 0, "Unrecognised time format '25/12/2014_12:00:00x'\n"},
      {"1:30", 0, "Unrecognised time format '1:30'\n"},
      {"", 0, "Unrecognised time format ''\n"},
  };
  for (const Case& c : cases) {
    int64_t field = 0;  // 0: not set before
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.Message[0] ? kOptionsRefused : 0,
              ParseTimestamp(c.Text, "older than", kNow, &field)) << c.Text;
    EXPECT_EQ(c.Message, testing::internal::GetCapturedStderr());
    EXPECT_EQ(c.Epoch, field) << c.Text;
  }
}

TEST(ValueParsersTest, Quantities) {
  struct Case { const char* Text; int32_t Bytes; };
  const Case cases[] = {
      {"100", 100},          {"10k", 10240},        {"1.5m", 1572864},
      {"1m512k", 1572864},   {"1 MB 512 kb", 1572864}, {"2 G", INT32_MAX},
      {"1g", 1073741824},    {"3 bytes", 3},        {"99999999999k", INT32_MAX},
      // Not quantities: each would otherwise be read in part.
      {"10x", -1},           {"", -1},              {"1.2.3", -1},
      {"1 2", -1},           {"5 kbytes", -1},      {"k", -1},
  };
  for (const Case& c : cases) {
    int32_t bytes = 7;
    EXPECT_EQ(c.Bytes >= 0, ParseQuantity(c.Text, SizeUnits, 1, &bytes)) << c.Text;
    EXPECT_EQ(c.Bytes >= 0 ? c.Bytes : 0, bytes) << c.Text;
  }
  // An age too long for its field saturates, as sizes do.
  int32_t seconds = 0;
  EXPECT_EQ(0, ParseAge("99999999:0:0", "older than", &seconds));
  EXPECT_EQ(INT32_MAX, seconds);
}

TEST(ValueParsersTest, RangeRefusals) {
  char* argv[] = {const_cast<char*>("zeplo"), nullptr};
  for (const char* text : {"5x", "5.9", "5#x", "#0", "5#", "x", "5...9", "..9x"}) {
    RunOptions o;
    RunOptionsInit(&o, 1, argv);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kOptionsRefused, ParseMessageRange(&o, text)) << text;
    EXPECT_EQ(std::string("Invalid message range parameter '") + text + "'\n",
              testing::internal::GetCapturedStderr());
  }
}

}  // namespace
