// Reason descriptions and the one-line call report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include <sys/wait.h>

#include "zeplo/mq/mq.h"

namespace {

TEST(ReasonTextTest, KnownRowsHaveTheirExactTexts) {
  struct {
    int64_t code;
    const char* text;
  } const kRows[] = {
      {0, "OK"}, {2002, "Already connected"}, {2003, "Backed out"},
      {2009, "Connection broken"}, {2012, "Environment error"}, {2018, "Hconn error"},
      {2030, "Message to big for queue"}, {2033, "No message available"},
      {2035, "Not authorized"}, {2051, "Put inhibited"}, {2053, "Queue full"},
      {2058, "QMgr name error"}, {2059, "QMgr not available"},
      {2071, "Storage not available"}, {2079, "Truncated message accepted"},
      {2080, "Truncated message failed"}, {2085, "Unknown object name"},
      {2086, "Unknown object QMgr"}, {2119, "Not converted"},
      {2120, "Converted message to big"}, {2139, "MQCNO Error"}, {2161, "QMgr quiescing"},
      {2162, "QMgr stopping"}, {2195, "Unexpected error"}, {2298, "Function not supported"},
      {2537, "Channel Not Available"}, {2538, "Host Not Available"}, {3008, "Command failed"},
      // Codes held by two rows: the first in table order wins.
      {2192, "Pageset full"}, {3029, "Mode value error"}, {3250, "Listener status not found"},
      {6104, "Attribute Locked"}, {6119, "Inconsistent Format"}, {6129, "Reference Error"},
      // The program's own codes.
      {33844, "Repository not available"}, {10000, "OK with text"},
      {10001, "Data Incomplete"}, {10002, "Max Source Reached"},
      {10003, "Collate not suitable"}, {10004, "Progress message"},
      {200000, "MQEV:Not an event message"}, {200001, "MQEV:Not a statistics message"},
      // Feedback codes.
      {256, "Quit"}, {258, "Expiration"}, {259, "Confirm on Arrival"},
      {260, "Confirm on Delivery"}, {271, "Transmission Q Message Error"},
      // Unknown codes have no text.
      {12345, ""}, {-1, ""}, {1, ""}, {65536, ""}, {INT64_MAX, ""},
  };
  for (const auto& row : kRows) EXPECT_STREQ(row.text, MqReasonText(row.code)) << row.code;
}

TEST(ReasonTextTest, TablesHaveTheirDocumentedShape) {
  // Main table: reason codes, then PCF reason codes, then feedback codes,
  // each group sorted by name, then the program's own rows.
  const char* const kGroups[] = {"MQRC_", "MQRCCF_", "MQFB_"};
  size_t row = 0;
  for (const char* prefix : kGroups) {
    std::string previous;
    size_t start = row;
    while (row < kMqMainReasonCount) {
      const char* name = kMqMainReasons[row].Name;
      bool inGroup = std::strncmp(name, prefix, std::strlen(prefix)) == 0 &&
                     !(std::strcmp(prefix, "MQRC_") == 0 && std::strncmp(name, "MQRCCF_", 7) == 0);
      if (!inGroup) break;
      EXPECT_LT(previous, name) << "out of order at " << name;
      previous = name;
      ++row;
    }
    EXPECT_GT(row - start, 40u) << prefix;
  }
  EXPECT_EQ(8u, kMqMainReasonCount - row) << "own rows at the end";
  for (size_t i = 0; i < kMqMainReasonCount; ++i) {
    std::string text = kMqMainReasons[i].Text;
    EXPECT_FALSE(text.empty()) << kMqMainReasons[i].Name;
    EXPECT_NE('.', text.back()) << kMqMainReasons[i].Name;
    EXPECT_EQ(std::string::npos, text.find("  ")) << kMqMainReasons[i].Name;
    EXPECT_EQ(std::string::npos, text.find('_')) << kMqMainReasons[i].Name;
  }
  // Feedback table: an empty first row for 0, then ascending codes from 256.
  size_t feedbackCodes = 0;
  for (size_t i = 0; i < kMqMainReasonCount; ++i) {
    if (std::strncmp(kMqMainReasons[i].Name, "MQFB_", 5) == 0 && kMqMainReasons[i].Code >= 256) {
      ++feedbackCodes;
    }
  }
  ASSERT_EQ(1 + feedbackCodes, kMqFeedbackReasonCount);
  EXPECT_EQ(0, kMqFeedbackReasons[0].Code);
  EXPECT_STREQ("", kMqFeedbackReasons[0].Text);
  EXPECT_EQ(256, kMqFeedbackReasons[1].Code);
  for (size_t i = 2; i < kMqFeedbackReasonCount; ++i) {
    EXPECT_LT(kMqFeedbackReasons[i - 1].Code, kMqFeedbackReasons[i].Code);
  }
}

TEST(ReasonTextTest, GeneratedTableIsFresh) {
  std::string command = std::string("python3 '") + ZEPLO_SOURCE_DIR +
                        "/zeplo/mq/gen_reason_texts.py' --check";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "run zeplo/mq/gen_reason_texts.py";
}

struct ReportCase {
  const char* label;
  const char* qmgr;
  const char* object;
  MQLONG reason;
  const char* line;
};

TEST(ReportMqiCallTest, LinesNameWhatIsPresent) {
  // A 60-character object field with no terminator: only 48 are shown.
  static const char kLongField[60] = {
      'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
      'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '0', '1', '2', '3', '4', '5',
      '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l',
      'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x'};
  const ReportCase cases[] = {
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
      {"MQINQ", nullptr, kLongField, -1,
       "MQINQ on object 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijkl' returned -1.\n"},
      {nullptr, nullptr, nullptr, 0, " returned 0 OK.\n"},
  };
  for (const ReportCase& c : cases) {
    char line[300];
    size_t length = FormatMqiCall(line, sizeof line, c.label, c.qmgr, c.object, c.reason);
    EXPECT_STREQ(c.line, line);
    EXPECT_EQ(std::strlen(c.line), length);
    testing::internal::CaptureStderr();
    ReportMqiCall(c.label, c.qmgr, c.object, c.reason);
    EXPECT_EQ(c.line, testing::internal::GetCapturedStderr());
  }
}

TEST(ReportMqiCallTest, OverlongLineIsCutButStillEndsTheLine) {
  std::string label(2000, 'L');
  char line[64];
  std::memset(line, 0x5A, sizeof line);
  size_t length = FormatMqiCall(line, 40, label.c_str(), "QM1", "Q1", 2033);
  EXPECT_EQ(std::strlen(line), length);
  ASSERT_LT(length, 40u);
  EXPECT_EQ(".\n", std::string(line + length - 2));
  EXPECT_EQ(0x5A, static_cast<unsigned char>(line[40])) << "wrote past the buffer";
  testing::internal::CaptureStderr();
  ReportMqiCall(label.c_str(), "QM1", "Q1", 2033);
  std::string out = testing::internal::GetCapturedStderr();
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(".\n", out.substr(out.size() - 2));
}

}  // namespace
