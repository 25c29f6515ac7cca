// Destination texts, name masks and the input list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/zeplo/names/names_test_util.h"

namespace {

const std::string k48(48, 'Q'), k49(49, 'Q');

TEST(DestinationsTest, ParseDestinationTable) {
  // Message: on standard error; refused (2046) when set.
  struct Case { std::string Text; char Separator; std::string Qmgr, Queue; bool Quoted;
                std::string Message; };
  const Case kCases[] = {
      {"QM1/Q1", 0, "QM1", "Q1", false, ""}, {"QM1#Q1", 0, "QM1", "Q1", false, ""},
      {"QM1,Q1", 0, "QM1", "Q1", false, ""},
      {"A#B/C", 0, "A", "B/C", false, ""},  // '#' wins wherever it stands
      {"A/B#C", 0, "A/B", "C", false, ""}, {"A,B\\C", 0, "A", "B\\C", false, ""},
      {"QM1:Q1/X", ':', "QM1", "Q1/X", false, ""}, {"QM1/Q1", ':', "", "QM1/Q1", false, ""},
      {"'Q1'", 0, "", "Q1", true, ""}, {"'QM1/q1", 0, "QM1", "q1", true, ""},
      {"'", 0, "", "", true, ""}, {k48 + "/" + k48, 0, k48, k48, false, ""},
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

TEST(MasksTest, MatchTable) {
  struct Case { std::string Name, Mask; bool Exact, NoCase; };
  const Case kCases[] = {
      {"", "*", true, true},          {"ANY.Q", "*", true, true},
      {"Q1", "Q?", true, true},       {"Q", "Q?", false, false},
      {"Q12", "Q?", false, false},    {"APP.X.IN", "APP.*.IN", true, true},
      {"APP..IN", "APP.*.IN", true, true}, {"APP.X.OUT", "APP.*.IN", false, false},
      {"A", "A**", true, true},       {"AB", "A**", true, true},
      {"APP.IN", "app.*", false, true}, {"", "", true, true},
      {"Q1", "", false, false},       {"", "?", false, false},
      {"ABAB", "*AB", true, true},    {"AXBXD", "A*B*C", false, false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.Exact, MatchName(c.Name.data(), c.Name.size(), c.Mask.data(), c.Mask.size()))
        << c.Name << " ~ " << c.Mask;
    EXPECT_EQ(c.NoCase, MatchNameNoCase(c.Name.data(), c.Name.size(), c.Mask.data(), c.Mask.size()))
        << c.Name << " ~ " << c.Mask;
  }
  EXPECT_TRUE(MatchName("Q1XYZ", 2, "Q?*****", 2));  // lengths, not terminators
}

TEST(MasksTest, InputListAndQuotedDestinations) {
  ScopedOptions options;
  EXPECT_FALSE(InInputList(options.get(), "Q1"));  // no list at all
  const std::string full(48, 'F');                 // an entry without a terminator
  for (const std::string& text : {std::string("APP.*"), std::string("QM1/SYS?EM.X"), full}) {
    ASSERT_EQ(0, AddDestination(options.get(), text.c_str(), true));
  }
  struct Case { std::string Name; bool Before, After; };  // before and after a quoted one
  const Case kCases[] = {{"app.in", true, false},   {"APP.in", true, true},
                         {"System.X", true, false}, {"Exact", false, true},
                         {"EXACT", false, false},   {full, true, true},
                         {full + "F", false, false}};
  for (const Case& c : kCases) EXPECT_EQ(c.Before, InInputList(options.get(), c.Name.c_str()));
  EXPECT_TRUE(MatchQueueMask(options.get(), "APP.IN", "app.*"));
  ASSERT_EQ(0, AddDestination(options.get(), "'Exact'", true));
  for (const Case& c : kCases) EXPECT_EQ(c.After, InInputList(options.get(), c.Name.c_str()));
  EXPECT_FALSE(MatchQueueMask(options.get(), "APP.IN", "app.*"));
  // An entry whose queue name is empty selects every name.
  options->InputList->Entries[options->InputList->Count++] = Destination{};
  EXPECT_TRUE(InInputList(options.get(), "ANYTHING"));
}

}  // namespace
