// Pacing: the relative-delay arithmetic over sequences of put times, the
// random delay's range, both rate algorithms checked by what they print and
// how they move their state, and one real wait by order of magnitude. (The
// paced runs themselves are timed by the end-to-end tests.)
#include <ctime>
#include <regex>
#include <tuple>

#include "tests/zeplo/engine/engine_test_util.h"

namespace {

class PacingTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&options_);
  }
  void PutTime(const char* date, const char* time) {
    MQMD* md = options_.Message.Descriptor;
    memcpy(md->PutDate, date, 8);
    memcpy(md->PutTime, time, 8);
  }
  TestRun options_;
};

TEST_F(PacingTest, RelativeDelayReplaysTheGapsBetweenPutTimes) {
  struct Case {
    const char* name;
    int32_t percent;
    std::vector<std::tuple<std::string, int32_t, int64_t>> steps;  // put date+time, clock, wait
  } cases[] = {
      // The reference is taken at clock 0, the clock's very first reading.
      {"gap minus the time already gone", 100,
       {{"2026120612000000", 0, 0}, {"2026120612000200", 500, 1500},
        {"2026120612000250", 2600, 0}}},
      {"hundredths count", 100, {{"2026120612000000", 0, 0}, {"2026120612000055", 0, 550}}},
      {"half of each gap", 50, {{"2026120612000000", 10, 0}, {"2026120612000400", 1010, 1500}}},
      {"put times going backwards restart from there", 100,
       {{"2026120612001000", 0, 0}, {"2026120612000500", 100, 0}, {"2026120612000600", 200, 900}}},
      {"across midnight", 100, {{"2026120623595900", 0, 0}, {"2026120700000100", 0, 2000}}},
      {"no put time: no wait, reference kept", 100,
       {{std::string(16, ' '), 0, 0}, {"2026120612000000", 0, 0}, {"2026120X12000000", 0, 0},
        {"2026120612000100", 0, 1000}}},
      // 364 days at 90 percent does not fit 32 bits: the wait is capped,
      // never wrapped into a short or negative one.
      {"a year apart", 90, {{"2026010100000000", 0, 0}, {"2026123100000000", 0, INT32_MAX}}},
      // The 32-bit clock wraps after about 24 days: 501 ms have gone.
      {"clock wraps", 100,
       {{"2026120612000000", INT32_MAX - 100, 0}, {"2026120612000200", INT32_MIN + 400, 1499}}},
      {"negative percent", -50, {{"2026120612000000", 0, 0}, {"2026120612000500", 0, 0}}},
  };
  for (const Case& c : cases) {
    SetUp();
    options_.Parsed.RelativeDelay = true;
    options_.Parsed.Delay = c.percent;
    for (const auto& [when, now, wait] : c.steps) {
      PutTime(when.c_str(), when.c_str() + 8);
      EXPECT_EQ(wait, RelativeDelayWait(&options_, now)) << c.name << ", " << when;
    }
  }
}

TEST_F(PacingTest, RandomDelayStaysWithinItsBound) {
  for (int32_t delay : {-100, -1, INT32_MIN}) {
    int32_t bound = delay == INT32_MIN ? INT32_MAX : -delay, low = INT32_MAX, high = -1;
    for (int i = 0; i < 2000; i++) {
      int32_t ms = RandomDelayMilliseconds(delay);
      low = std::min(low, ms);
      high = std::max(high, ms);
    }
    EXPECT_GE(low, 0) << delay;
    EXPECT_LE(high, bound) << delay;
    EXPECT_TRUE(bound < 100 || (low < bound / 2 && high > bound / 2)) << delay;  // spread out
  }
}

TEST_F(PacingTest, TargetRateFollowsTheConsumer) {
  struct Case {
    const char* name;
    int32_t guess, targetDepth, periodCount;
    bool slow, details;
    int32_t elapsed, depth;
    const char* printed;
    int32_t newGuess;
    bool newSlow;
  } cases[] = {
      {"consumer keeps up in half a second", 1000, 0, 1000, false, false, 500, 0,
       "Message Rate  1000 msgs/sec\n", 2000, false},
      {"nobody reads the queue", 1000, 0, 1000, false, false, 200, 1000,
       "Target Queue does not appear to be being processed.\n", 5000, false},
      {"slow period is damped to 5 percent", 1000, 0, 1000, false, true, 2000, 0,
       "  Period:2000 Guess:1000 Rate:1000 Remain:0 Depth:0 Processed:1000\n"
       " 1000 msgs sent in 2000 milliseconds\n"
       "  Adjust:0.95\n",
       950, true},
      {"on time", 800, 100, 700, false, true, 1003, 0,
       "  Period:1003 Guess:800 Rate:700 Remain:100 Depth:0 Processed:800\n"
       "  800 msgs sent in 1003 milliseconds\n"
       "  Adjust:1.00\n",
       800, false},
      {"deep queue scales to what was taken", 1000, 5500, 1000, false, false, 1000, 6000,
       "Message Rate   500 msgs/sec\n", 500, false},
      {"no guess yet takes what was processed", 0, 0, 300, false, false, 1000, 0,
       "Message Rate   300 msgs/sec\n", 300, false},
      {"depth of exactly 5000 changes nothing", 0, 5000, 10, false, false, 1000, 5000,
       "Message Rate    10 msgs/sec\n", 0, false},
      // A guess of 0 against a deep queue divides by zero: the result is not
      // a number, which becomes the smallest 32-bit integer.
      {"zero guess on a deep queue", 0, 6000, 10, false, false, 1000, 6000,
       "Message Rate    10 msgs/sec\n", INT32_MIN, false},
      {"instant period doubles", 100, 0, 100, false, false, 0, 0, "Message Rate   100 msgs/sec\n",
       200, false},
      {"small guesses are never slow", 400, 0, 400, true, false, 1003, 0,
       "Message Rate   400 msgs/sec\n", 400, false},
  };
  for (const Case& c : cases) {
    options_.Engine.RateGuess = c.guess;
    options_.Engine.TargetDepth = c.targetDepth;
    options_.Engine.PeriodCount = c.periodCount;
    options_.Engine.RateSlow = c.slow;
    options_.Parsed.RateDetails = c.details;
    int32_t remain = 0;
    auto period = [&] { remain = EndTargetRatePeriod(&options_, c.elapsed, c.depth); };
    EXPECT_EQ(c.printed, Captured(period, true)) << c.name;
    EXPECT_EQ(1000 - c.elapsed, remain) << c.name;
    EXPECT_EQ(c.newGuess, options_.Engine.RateGuess) << c.name;
    EXPECT_EQ(c.newSlow, options_.Engine.RateSlow) << c.name;
    EXPECT_EQ(c.depth, options_.Engine.TargetDepth) << c.name;
  }
}

TEST_F(PacingTest, OverrunPeriodSleepsNothing) {
  options_.Parsed.Rate = 5;
  EXPECT_EQ("Can not achieve 5 msgs/second, took 1.5 seconds\n5 msgs sent in 400 milliseconds\n",
            Captured([&] {
              EXPECT_EQ(0, EndFixedRatePeriod(&options_, 1500));
              EXPECT_EQ(600, EndFixedRatePeriod(&options_, 400));
            }, true));
}

TEST_F(PacingTest, LongRelativeWaitIsAnnounced) {
  options_.Parsed.RelativeDelay = true;
  options_.Parsed.Delay = 100;
  testing::internal::CaptureStdout();
  PutTime("20261206", "12000000");
  DelayMessage(&options_);  // the reference: no wait
  PutTime("20261206", "12000520");
  int32_t start = ElapsedMilliseconds();
  DelayMessage(&options_);
  int32_t took = ElapsedMilliseconds() - start;
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(out, std::regex("[0-2][0-9]:[0-5][0-9] - sleeping for 5 seconds\n")))
      << out;
  EXPECT_GE(took, 4500);
  EXPECT_LT(took, 15000);
}

}  // namespace
