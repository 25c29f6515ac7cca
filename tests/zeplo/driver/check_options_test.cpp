// The whole-command-line checks, the range ordering and the selection report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "zeplo/driver/driver.h"
#include "zeplo/cs/cs.h"
#include "zeplo/names/names.h"

namespace {

class CheckOptionsTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override { Release(); }
  void Release() {
    QueueListRelease(&options_.InputList);
    QueueListRelease(&options_.OutputList);
    if (options_.Selector != nullptr) CSFreeMem(options_.Selector);
    options_.Selector = nullptr;
  }

  // Parses and checks "zeplo <args>"; returns CheckOptions' code and its
  // standard error. Parsing itself must succeed.
  int Check(const std::vector<std::string>& args, std::string* err) {
    Release();
    words_.emplace_back(std::vector<std::string>{"zeplo", "-q"});
    std::vector<std::string>& words = words_.back();
    words.insert(words.end(), args.begin(), args.end());
    argv_.emplace_back();
    for (std::string& w : words) argv_.back().push_back(w.data());
    argv_.back().push_back(nullptr);
    int argc = static_cast<int>(words.size());
    RunOptionsInit(&options_, argc, argv_.back().data());
    options_.NowSeconds = 1419465600;
    bool endRun = true;
    testing::internal::CaptureStderr();
    int rc = ParseOptions(&options_, argc, argv_.back().data(), &endRun);
    std::string parseErr = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 0) << parseErr;
    EXPECT_FALSE(endRun);
    testing::internal::CaptureStderr();
    rc = CheckOptions(&options_);
    *err = testing::internal::GetCapturedStderr();
    return rc;
  }

  RunOptions options_{};
  std::deque<std::vector<std::string>> words_;
  std::deque<std::vector<char*>> argv_;
};

TEST_F(CheckOptionsTest, DerivedSettings) {
  using Check_ = std::function<bool(const RunOptions&)>;
  struct Case {
    std::vector<std::string> Args;
    Check_ Holds;
  } cases[] = {
      {{"-iQ1", "-fq1.txt"},
       [](const RunOptions& o) {
         return o.InputFile[0] == '\0' && strcmp(o.OutputFile, "q1.txt") == 0;
       }},
      {{"-oQ1", "-fq1.txt"},
       [](const RunOptions& o) {
         return strcmp(o.InputFile, "q1.txt") == 0 && o.OutputFile[0] == '\0';
       }},
      {{"-iQ1", "-ds"},
       [](const RunOptions& o) { return strcmp(o.OutputFile, "stdout") == 0; }},
      {{"-iQ1", "-T60,10"},
       [](const RunOptions& o) {
         return o.YoungerThan == 3600 && o.OlderThan == 600 &&
                o.PutAfter == 1419465600 - 3600 && o.PutBefore == 1419465600 - 600;
       }},
      {{"-iQ1", "-T10,60"},
       [](const RunOptions& o) {
         return o.PutAfter == 1419465600 - 3600 && o.PutBefore == 1419465600 - 600;
       }},
      {{"-iQ1", "-T60"},
       [](const RunOptions& o) {
         return o.PutAfter == 0 && o.PutBefore == 1419465600 - 3600;
       }},
      {{"-iQ1", "-fmsg%n.txt"},
       [](const RunOptions& o) {
         return o.OutputFileHasInserts && o.LimitsActive &&
                o.MaxMessagesPerFile == 1;
       }},
      {{"-iQ1", "-f*"},
       [](const RunOptions& o) {
         return o.Generic && o.OutputFileHasInserts && o.LimitsActive &&
                o.MaxMessagesPerFile == 0 && o.MaxFileSize == 524288000;
       }},
      {{"-iQ1", "-f*", "-Lm7"},
       [](const RunOptions& o) {
         return o.MaxMessagesPerFile == 7 && o.MaxFileSize == 0;
       }},
      {{"-oQ1", "-fin%I*.txt"},
       [](const RunOptions& o) {
         return o.Generic && o.InputFileHasInserts && !o.LimitsActive;
       }},
  };
  for (const Case& c : cases) {
    std::string line, err;
    for (const std::string& a : c.Args) line += a + " ";
    EXPECT_EQ(Check(c.Args, &err), 0) << line << err;
    EXPECT_TRUE(c.Holds(options_)) << line;
    EXPECT_EQ(err, "") << line;
    if (options_.Selector != nullptr) {
      CSFreeMem(options_.Selector);
      options_.Selector = nullptr;
    }
  }
}

TEST_F(CheckOptionsTest, GenericLoadIgnoresLimits) {
  std::string err;
  EXPECT_EQ(Check({"-oQ1", "-fin*", "-Lm5"}, &err), 0);
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
    std::vector<std::string> Args;
    std::string Report;
  } cases[] = {
      {{"-iQ1", "-Gi:", "-z1536,2m", "-P,6"},
       "Inverse Message selection active:\n"
       "  Message size greater or equal to 1 KB 512 bytes \n"
       "  Message size less than 2 MBs \n"
       "  Message priority less than or equal to 6\n\n"},
      {{"-iQ1", "-gxm0A0B", "-eABC", "-EX", "-x0aff", "-XC1", "-SNO"},
       "Message selection active:\n"
       "  Message Identifier 0x'0A0B" + std::string(44, '0') + "'\n"
       "  Not containing the ASCII string 'NO'\n"
       "  Containing the EBCDIC string 'ABC'\n"
       "  Not containing the EBCDIC string 'X'\n"
       "  Containing the HEX string 0x'0AFF'\n"
       "  Not containing the HEX string 0x'C1'\n\n"},
      {{"-iQ1", "-Gt:QM1/APP.*", "-HColour='red'", "-r3"},
       "Message selection active:\n"
       "  Message index 3 only.\n"
       "  Messages matching selector 'Colour='red''\n"
       "  Messages targeted to QM1/APP.*\n\n"},
      {{"-iQ1", "-T60,10"},
       "Message selection active:\n"
       "  Younger than (1 hour) Wed Dec 24 23:00:00 2014\n"
       "  Older   than (10 minutes) Wed Dec 24 23:50:00 2014\n\n"},
      {{"-iQ1", "-T1441"},
       "Message selection active:\n"
       "  Older than (1 day 1 minute) Tue Dec 23 23:59:00 2014\n\n"},
      {{"-iQ1", "-Tfu25/12/2014_12:00", "-Vt"},
       "Current Time:1419465600\n"
       "Message selection active:\n"
       "  Put after  Thu Dec 25 12:00:00 2014\n"
       "  Put after  1419508800 (-43200)\n"},
      {{"-iQ1", "-Ttu25/12/2014_11:00", "-Vt"},
       "Current Time:1419465600\n"
       "Message selection active:\n"
       "  Put before Thu Dec 25 11:00:00 2014\n"
       "  Put before 1419505200 (-39600)"},
  };
  for (const Case& c : cases) {
    std::string line, err;
    for (const std::string& a : c.Args) line += a + " ";
    ASSERT_EQ(Check(c.Args, &err), 0) << line << err;
    RangeLine range = NormaliseRange(&options_);
    testing::internal::CaptureStderr();
    PrintSelectionReport(&options_, range);
    std::string report = testing::internal::GetCapturedStderr();
    // The trace line of a put time has no newline of its own.
    EXPECT_EQ(report.substr(0, c.Report.size()), c.Report) << line;
    if (options_.Selector != nullptr) {
      CSFreeMem(options_.Selector);
      options_.Selector = nullptr;
    }
  }
}

}  // namespace
