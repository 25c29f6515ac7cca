// Reason descriptions and the one-line call report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/wait.h>

#include "tests/zeplo/test_run.h"
#include "zeplo/mq/mq.h"

namespace {

TEST(ReasonTextTest, KnownRowsHaveTheirExactTexts) {
  const struct { int64_t code; const char* text; } kRows[] = {
      {0, "OK"}, {2030, "Message to big for queue"}, {2139, "MQCNO Error"},
      {2195, "Unexpected error"}, {2537, "Channel Not Available"},
      // Codes held by two rows: the first in table order wins.
      {2192, "Pageset full"}, {3029, "Mode value error"}, {3250, "Listener status not found"},
      {6104, "Attribute Locked"}, {6119, "Inconsistent Format"}, {6129, "Reference Error"},
      // The program's own codes and the feedback codes.
      {33844, "Repository not available"}, {10004, "Progress message"},
      {200001, "MQEV:Not a statistics message"}, {256, "Quit"}, {271, "Transmission Q Message Error"},
      // Unknown codes have no text.
      {12345, ""}, {-1, ""}, {1, ""}, {65536, ""}, {INT64_MAX, ""},
  };
  for (const auto& row : kRows) EXPECT_STREQ(row.text, MqReasonText(row.code)) << row.code;
  std::string command =
      std::string("python3 '") + ZEPLO_SOURCE_DIR + "/zeplo/mq/gen_reason_texts.py' --check";
  int status = std::system(command.c_str());
  EXPECT_EQ(0, WIFEXITED(status) ? WEXITSTATUS(status) : -1) << "run zeplo/mq/gen_reason_texts.py";
}

TEST(ReportMqiCallTest, LinesNameWhatIsPresent) {
  // A 60-character object field: only 48 are shown.
  const std::string longField = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwx";
  const std::string label2000(2000, 'L');
  const struct { const char* label; const char* qmgr; const char* object; MQLONG reason;
                 const char* line; } cases[] = {
      {"MQOPEN", "QM1", "Q1", 2085, "MQOPEN on object 'QM1/Q1' returned 2085 Unknown object name.\n"},
      {"MQCONN", "QM1", nullptr, 0, "MQCONN on qmgr 'QM1' returned 0 OK.\n"},
      {"MQGET", "", "Q1", 2033, "MQGET on object 'Q1' returned 2033 No message available.\n"},
      {"MQGET", nullptr, "Q1", 2033, "MQGET on object 'Q1' returned 2033 No message available.\n"},
      {"MQDISC", nullptr, nullptr, 12345, "MQDISC returned 12345.\n"},
      {"MQPUT", "QM1     ", "Q1 padded  ", 0, "MQPUT on object 'QM1/Q1' returned 0 OK.\n"},
      {"MQPUT", " QM1", "Q1", 0, "MQPUT on object 'Q1' returned 0 OK.\n"},
      {"MQPUT", "QM1", " ", 0, "MQPUT on qmgr 'QM1' returned 0 OK.\n"},
      {"MQOPEN", "%s%n", "Q%d", 2035, "MQOPEN on object '%s%n/Q%d' returned 2035 Not authorized.\n"},
      {"MQCTL(START_WAIT) >", "QM1", nullptr, 2446,
       "MQCTL(START_WAIT) > on qmgr 'QM1' returned 2446 No callbacks active.\n"},
      {"MQINQ", nullptr, longField.c_str(), -1,
       "MQINQ on object 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijkl' returned -1.\n"},
      {nullptr, nullptr, nullptr, 0, " returned 0 OK.\n"},
  };
  for (const auto& c : cases) {
    char line[300];
    size_t length = FormatMqiCall(line, sizeof line, c.label, c.qmgr, c.object, c.reason);
    EXPECT_STREQ(c.line, line);
    EXPECT_EQ(std::strlen(c.line), length);
    testing::internal::CaptureStderr();
    ReportMqiCall(c.label, c.qmgr, c.object, c.reason);
    EXPECT_EQ(c.line, testing::internal::GetCapturedStderr());
  }
  // An overlong line is cut but still ends the line.
  char line[64];
  std::memset(line, 0x5A, sizeof line);
  size_t length = FormatMqiCall(line, 40, label2000.c_str(), "QM1", "Q1", 2033);
  EXPECT_EQ(std::strlen(line), length);
  ASSERT_LT(length, 40u);
  EXPECT_EQ(".\n", std::string(line + length - 2));
  EXPECT_EQ(0x5A, static_cast<unsigned char>(line[40])) << "wrote past the buffer";
  testing::internal::CaptureStderr();
  ReportMqiCall(label2000.c_str(), "QM1", "Q1", 2033);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(".\n", out.substr(out.size() - std::min<size_t>(2, out.size())));
}

// The call-and-report rule and the first-error-wins text every MQI caller
// of the program shares.
TEST(CheckMqiCallTest, ReportsFailuresAlwaysAndSuccessesWhenAsked) {
  const struct { bool printApis; MQLONG compCode, reason; int rc; const char* report; } cases[] = {
      {false, MQCC_OK, MQRC_NONE, 0, ""},
      {true, MQCC_OK, MQRC_NONE, 0, "MQOPEN on object 'QM1/Q1' returned 0 OK.\n"},
      {false, MQCC_WARNING, 2079, 0, ""},
      {false, MQCC_FAILED, 2085, 2085, "MQOPEN on object 'QM1/Q1' returned 2085 Unknown object name.\n"},
      // A failure without a reason must not read as success.
      {false, MQCC_FAILED, MQRC_NONE, 2195, "MQOPEN on object 'QM1/Q1' returned 0 OK.\n"},
  };
  TestRun options{};
  for (const auto& c : cases) {
    options.Parsed.PrintApis = c.printApis;
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.rc, CheckMqiCall(&options, "MQOPEN", "QM1", "Q1", c.compCode, c.reason));
    EXPECT_EQ(c.report, testing::internal::GetCapturedStderr()) << c.reason;
  }
}

}  // namespace
