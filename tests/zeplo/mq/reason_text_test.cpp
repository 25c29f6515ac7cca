// Reason descriptions and the one-line call report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/wait.h>

#include "tests/zeplo/test_run.h"
#include "zeplo/mq/mq.h"

namespace {

TEST(ReasonTextTest, KnownRowsHaveTheirExactTexts) {
  struct {
    int64_t code;
    const char* text;
  } const kRows[] = {
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
