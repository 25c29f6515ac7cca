// The whole-command-line checks, the range ordering and the selection report.
#include <gtest/gtest.h>

#include <string>

#include "tests/zeplo/driver/options_util.h"

namespace {

using CheckOptionsTest = OptionsFixture;

// kOptionsNow is 1419465600: an hour before is 1419462000, ten minutes
// before 1419465000.
TEST_F(CheckOptionsTest, DerivedSettings) {
  const struct {
    const char* args;
    const char* fields;
  } cases[] = {
      {"-iQ1 -fq1.txt", "InputFile= OutputFile=q1.txt"},
      {"-oQ1 -fq1.txt", "InputFile=q1.txt OutputFile="},
      {"-iQ1 -ds", "OutputFile=stdout"},
      {"-iQ1 -T60,10", "YoungerThan=3600 OlderThan=600 PutAfter=1419462000 PutBefore=1419465000"},
      {"-iQ1 -T10,60", "PutAfter=1419462000 PutBefore=1419465000"},
      {"-iQ1 -T60", "PutAfter=0 PutBefore=1419462000"},
      {"-iQ1 -fmsg%n.txt", "OutputFileHasInserts=1 LimitsActive=1 MaxMessagesPerFile=1"},
      {"-iQ1 -f*",
       "Generic=1 OutputFileHasInserts=1 LimitsActive=1 MaxMessagesPerFile=0 MaxFileSize=524288000"},
      {"-iQ1 -f* -Lm7", "MaxMessagesPerFile=7 MaxFileSize=0"},
      {"-oQ1 -fin%I*.txt", "Generic=1 InputFileHasInserts=1 LimitsActive=0"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_EQ(0, Check(c.args, &err)) << c.args << "\n" << err;
    EXPECT_EQ(c.fields, Fields(options_, c.fields)) << c.args;
    EXPECT_EQ("", err) << c.args;
  }
}

TEST_F(CheckOptionsTest, GenericLoadIgnoresLimits) {
  std::string err;
  EXPECT_EQ(0, Check("-oQ1 -fin* -Lm5", &err));
  EXPECT_EQ(err, "-L parameters are ignored in generic load\n\n");
  EXPECT_FALSE(options_.LimitsActive);
}

TEST_F(CheckOptionsTest, RangeOrdering) {
  struct Case {
    int32_t First, Last;
    RangeLine Line;
    int32_t WantFirst, WantLast;
    const char* Text;
  } cases[] = {
      {10, 5, RangeLine::Between, 5, 10, "  Message indexes 5 -> 10.\n"},
      {5, 5, RangeLine::Single, 5, 5, "  Message index 5 only.\n"},
      {5, 0, RangeLine::Onwards, 5, 0, "  Message indexes 5 onwards.\n"},
      {0, 5, RangeLine::UpTo, 1, 5, "  Message index up to 5.\n"},
      {0, 0, RangeLine::None, 0, 0, ""},
  };
  char* argv[] = {const_cast<char*>("zeplo"), nullptr};
  for (const Case& c : cases) {
    RunOptionsInit(&options_, 1, argv);
    options_.RangeFirst = c.First;
    options_.RangeLast = c.Last;
    RangeLine line = NormaliseRange(&options_);
    EXPECT_EQ(line, c.Line);
    EXPECT_EQ(options_.RangeFirst, c.WantFirst);
    EXPECT_EQ(options_.RangeLast, c.WantLast);
    testing::internal::CaptureStderr();
    PrintSelectionReport(&options_, line);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("Message selection active:\n") + c.Text + "\n");
  }
}

TEST_F(CheckOptionsTest, SelectionReportLines) {
  struct Case {
    std::string Args;
    std::string Report;
  } cases[] = {
      {"-iQ1 -Gi: -z1536,2m -P,6",
       "Inverse Message selection active:\n"
       "  Message size greater or equal to 1 KB 512 bytes \n"
       "  Message size less than 2 MBs \n"
       "  Message priority less than or equal to 6\n\n"},
      {"-iQ1 -gxm0A0B -eABC -EX -x0aff -XC1 -SNO",
       "Message selection active:\n"
       "  Message Identifier 0x'0A0B" + std::string(44, '0') + "'\n"
       "  Not containing the ASCII string 'NO'\n"
       "  Containing the EBCDIC string 'ABC'\n"
       "  Not containing the EBCDIC string 'X'\n"
       "  Containing the HEX string 0x'0AFF'\n"
       "  Not containing the HEX string 0x'C1'\n\n"},
      {"-iQ1 -Gt:QM1/APP.* -HColour='red' -r3",
       "Message selection active:\n"
       "  Message index 3 only.\n"
       "  Messages matching selector 'Colour='red''\n"
       "  Messages targeted to QM1/APP.*\n\n"},
      {"-iQ1 -T60,10",
       "Message selection active:\n"
       "  Younger than (1 hour) Wed Dec 24 23:00:00 2014\n"
       "  Older   than (10 minutes) Wed Dec 24 23:50:00 2014\n\n"},
      {"-iQ1 -T1441",
       "Message selection active:\n"
       "  Older than (1 day 1 minute) Tue Dec 23 23:59:00 2014\n\n"},
      {"-iQ1 -Tfu25/12/2014_12:00 -Vt",
       "Current Time:1419465600\n"
       "Message selection active:\n"
       "  Put after  Thu Dec 25 12:00:00 2014\n"
       "  Put after  1419508800 (-43200)\n"},
      {"-iQ1 -Ttu25/12/2014_11:00 -Vt",
       "Current Time:1419465600\n"
       "Message selection active:\n"
       "  Put before Thu Dec 25 11:00:00 2014\n"
       "  Put before 1419505200 (-39600)"},
  };
  for (const Case& c : cases) {
    std::string err;
    ASSERT_EQ(0, Check(c.Args, &err)) << c.Args << "\n" << err;
    RangeLine range = NormaliseRange(&options_);
    testing::internal::CaptureStderr();
    PrintSelectionReport(&options_, range);
    std::string report = testing::internal::GetCapturedStderr();
    // The trace line of a put time has no newline of its own.
    EXPECT_EQ(c.Report, report.substr(0, c.Report.size())) << c.Args;
  }
}

}  // namespace
