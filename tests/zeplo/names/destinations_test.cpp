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

TEST(DestinationsTest, ListsGrowByDoublingKeepOrderAndASpareZeroEntry) {
  ScopedOptions options;
  options->QueueSeparator = ':';
  std::string expected;
  for (int i = 0; i < 25; ++i) {
    std::string name = "QM:Q/" + std::to_string(i);
    ASSERT_EQ(0, AddDestination(options.get(), name.c_str(), true));
    expected += (i ? " QM/Q/" : "QM/Q/") + std::to_string(i);
    const QueueList* list = options->InputList;
    EXPECT_EQ(i < 10 ? 10 : i < 20 ? 20 : 40, list->Capacity);
    EXPECT_EQ(std::string(96, '\0'),
              std::string(reinterpret_cast<const char*>(&list->Entries[list->Count]), 96));
  }
  EXPECT_EQ(expected, Entries(options->InputList));
  EXPECT_EQ(QueueListBytes(40), CSMemSize(options->InputList));
  EXPECT_EQ(nullptr, options->OutputList);
}

TEST(DestinationsTest, OutputListAndTheFirstOutputQueue) {
  ScopedOptions first;  // a first -o kept outside the list leads it
  ASSERT_EQ(0, ParseDestination(first.get(), 0, "QM1/Q1", first->OutputQmgrName,
                                first->OutputQueueName, false));
  EXPECT_EQ(nullptr, first->OutputList);
  ASSERT_EQ(0, AddDestination(first.get(), "Q2", false));
  EXPECT_EQ("QM1/Q1 /Q2", Entries(first->OutputList));

  ScopedOptions none;  // no first -o: the first entry names the output queue
  ASSERT_EQ(0, AddDestination(none.get(), "QM9/Q9", false));
  ASSERT_EQ(0, AddDestination(none.get(), "Q10", false));
  EXPECT_EQ("QM9/Q9 /Q10", Entries(none->OutputList));
  EXPECT_STREQ("Q9", none->OutputQueueName);
  EXPECT_STREQ("", none->OutputQmgrName);
}

TEST(DestinationsTest, EmptyAndRefusedTextsAddNothingButKeepEarlierEntries) {
  ScopedOptions options;
  ASSERT_EQ(0, AddDestination(options.get(), "Q1", true));
  for (const std::string& text : {std::string(), std::string("QM/"), std::string("''"), k49}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(2046, AddDestination(options.get(), text.c_str(), true)) << text;
    std::string err = testing::internal::GetCapturedStderr();
    if (text != k49) {
      EXPECT_EQ("Sorry, the destination '" + text + "' names no queue.\n", err);
    }
  }
  EXPECT_EQ("/Q1", Entries(options->InputList));
}

}  // namespace
