// The final report: count lines, the bare -dK count and the rolled-back
// report, in the cases whole runs do not easily reach.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/zeplo/test_run.h"
#include "zeplo/driver/driver.h"
#include "zeplo/util/util.h"

namespace {

TEST(GroupThousandsTest, CommasCountDigitsOnly) {
  const struct { const char *In, *Out; } cases[] = {
      {"0", "0"}, {"999", "999"}, {"1000", "1,000"}, {"   1234567", "   1,234,567"},
      {"1234567890123", "1,234,567,890,123"}, {"-1234", "-1,234"}, {"      9999", "      9,999"},
  };
  for (const auto& c : cases) {
    char out[64];
    GroupThousands(c.In, out, sizeof out);
    EXPECT_STREQ(c.Out, out);
  }
  char tiny[4];
  EXPECT_EQ(3, GroupThousands("1234567", tiny, sizeof tiny));
  EXPECT_STREQ("1,2", tiny);
}

TEST(FinalReportTest, WhichLinesShow) {
  // The report's standard error (nothing goes to standard output) for a
  // fresh run that read 12 messages and wrote 10 to one file, then `set`.
  auto report = [](void (*set)(TestRun*), bool countsDue) {
    auto o = std::make_unique<TestRun>();
    char* argv[] = {const_cast<char*>("zeplo"), nullptr};
    RunOptionsInit(&o->Parsed, 1, argv);
    RunInit(o.get(), &o->Parsed);
    o->Counters.ReadCount = 12, o->Counters.ReadBytes = 1200;
    o->Counters.WrittenCount = 10, o->Counters.WrittenBytes = 1000, o->Counters.WrittenFiles = 1;
    set(o.get());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    PrintFinalReport(o.get(), countsDue);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    return err;
  };
  const std::string read = "Read    - Files:   0  Messages:     12  Bytes:       1,200\n";
  const std::string written = "Written - Files:   1  Messages:     10  Bytes:       1,000\n";
  const std::string counted = "Counted -             Messages:     10  Bytes:       1,000\n";
  const struct { const char* Name; void (*Set)(TestRun*); bool CountsDue; std::string Err; }
  cases[] = {
      {"no output, count", [](TestRun* o) { o->Parsed.Count = true; }, true, read + counted},
      {"null file",
       [](TestRun* o) {
         snprintf(o->Parsed.OutputFile, 8, "null"), o->Settings.OutputIsNull = true;
       },
       true, read},
      {"error text and counts",
       [](TestRun* o) {
         snprintf(o->ExitMessage, 40, "MQGET(Q1) failed RC(2009)"), o->Engine.Output.Hobj = 5;
       },
       true, "MQGET(Q1) failed RC(2009)\n" + read + written},
      {"error text, no counts", [](TestRun* o) { snprintf(o->ExitMessage, 40, "Can not open"); },
       false, "Can not open\n"},
      {"quiet", [](TestRun* o) { o->Settings.Quiet = true; }, true, ""},
      {"quiet count, not reached", [](TestRun* o) { o->Settings.Quiet = o->Parsed.Count = true; },
       false, ""},
      {"rolled back",
       [](TestRun* o) {
         o->RolledBack = true;
         o->Engine.Output.Hobj = 5;
         o->Counters.UncommittedReadCount = o->Counters.UncommittedWrittenCount = 2;
         o->Counters.UncommittedReadBytes = o->Counters.UncommittedWrittenBytes = 200;
       },
       false,
       "\nOperation rolled back, completed operations as follows:\n"
       "Read    - Files:   0  Messages:     10  Bytes:       1,000\n"
       "Written - Files:   1  Messages:      8  Bytes:         800\n"},
      {"rolled back, no output",
       [](TestRun* o) {
         o->RolledBack = true;
         o->Counters.UncommittedReadCount = 12, o->Counters.UncommittedReadBytes = 1200;
       },
       false,
       "\nOperation rolled back, completed operations as follows:\n"
       "Read    - Files:   0  Messages:      0  Bytes:           0\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Err, report(c.Set, c.CountsDue)) << c.Name;
  // The summary takes the place of the count lines.
  std::string err = report([](TestRun* o) { o->Parsed.Summary = true; }, true);
  EXPECT_EQ(read + "\nMessage Ages\n", err.substr(0, read.size() + 14));
  EXPECT_EQ(std::string::npos, err.find("Written"));
}

}  // namespace
