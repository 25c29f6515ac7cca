#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/zeplo/names/names_test_util.h"
#include "zeplo/cs/cs.h"

namespace {

const std::string k48(48, 'Q'), k49(49, 'Q');

TEST(DestinationsTest, ParseDestinationTable) {
  struct Case {
    std::string Text;
    char Separator;
    std::string Qmgr, Queue;
    bool Quoted;
    std::string Message;  // on standard error; refused (2046) when set
  };
  const Case kCases[] = {
      {"QM1/Q1", 0, "QM1", "Q1", false, ""},
      {"QM1#Q1", 0, "QM1", "Q1", false, ""},
      {"QM1,Q1", 0, "QM1", "Q1", false, ""},
      {"A#B/C", 0, "A", "B/C", false, ""},  // '#' wins wherever it stands
      {"A/B#C", 0, "A/B", "C", false, ""},
      {"A,B\\C", 0, "A", "B\\C", false, ""},
      {"QM1:Q1/X", ':', "QM1", "Q1/X", false, ""},
      {"QM1/Q1", ':', "", "QM1/Q1", false, ""},
      {"'Q1'", 0, "", "Q1", true, ""},
      {"'QM1/q1", 0, "QM1", "q1", true, ""},
      {"'", 0, "", "", true, ""},
      {k48 + "/" + k48, 0, k48, k48, false, ""},
      {k49, 0, "", "", false, "The Queue name '" + k49 + "' is too long.\n"},
      {"'" + k49 + "'", 0, "", "", true, "The Queue name '" + k49 + "' is too long.\n"},
      {k49 + "/Q", 0, "", "", false,
       "The Queue Manager part of destination '" + k49 + "/Q' is too long.\n"},
      {"QM/" + k49, 0, "", "", false,
       "The Queue name part of destination 'QM/" + k49 + "' is too long.\n"},
  };
  for (const Case& c : kCases) {
    ScopedOptions options;
    char qmgr[49], queue[49];
    std::memset(qmgr, 'X', sizeof qmgr);
    std::memset(queue, 'X', sizeof queue);
    testing::internal::CaptureStderr();
    int rc = ParseDestination(options.get(), c.Separator, c.Text.c_str(), qmgr, queue, false);
    EXPECT_EQ(c.Message, testing::internal::GetCapturedStderr()) << c.Text;
    EXPECT_EQ(c.Message.empty() ? 0 : 2046, rc) << c.Text;
    EXPECT_EQ(c.Qmgr, qmgr) << c.Text;  // terminated even at 48 characters
    EXPECT_EQ(c.Queue, queue) << c.Text;
    EXPECT_EQ(c.Quoted, options->QuotedName) << c.Text;
  }
}

}  // namespace
