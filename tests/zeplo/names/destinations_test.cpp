#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/zeplo/names/names_test_util.h"
#include "zeplo/cs/cs.h"

namespace {

const std::string k48(48, 'Q');
const std::string k49(49, 'Q');

struct ParseCase {
  std::string Text;
  char Separator;
  int Rc;
  const char* Qmgr;
  std::string Queue;
  bool Quoted;
  std::string Message;  // on standard error
};

const ParseCase kParseCases[] = {
    {"QM1/Q1", 0, 0, "QM1", "Q1", false, ""},
    {"QM1#Q1", 0, 0, "QM1", "Q1", false, ""},
    {"QM1,Q1", 0, 0, "QM1", "Q1", false, ""},
    {"QM1\\Q1", 0, 0, "QM1", "Q1", false, ""},
    {"A#B/C", 0, 0, "A", "B/C", false, ""},  // '#' wins wherever it stands
    {"A/B#C", 0, 0, "A/B", "C", false, ""},
    {"A,B\\C", 0, 0, "A", "B\\C", false, ""},
    {"QM1:Q1/X", ':', 0, "QM1", "Q1/X", false, ""},
    {"QM1/Q1", ':', 0, "", "QM1/Q1", false, ""},
    {"/Q1", 0, 0, "", "Q1", false, ""},
    {"'Q1'", 0, 0, "", "Q1", true, ""},
    {"'QM1/q1", 0, 0, "QM1", "q1", true, ""},
    {"'", 0, 0, "", "", true, ""},
    {"", 0, 0, "", "", false, ""},
    {k48, 0, 0, "", k48, false, ""},
    {k48 + "/" + k48, 0, 0, k48.c_str(), k48, false, ""},
    {k49, 0, 2046, "", "", false, "The Queue name '" + k49 + "' is too long.\n"},
    {"'" + k49 + "'", 0, 2046, "", "", true, "The Queue name '" + k49 + "' is too long.\n"},
    {k49 + "/Q", 0, 2046, "", "", false,
     "The Queue Manager part of destination '" + k49 + "/Q' is too long.\n"},
    {"QM/" + k49, 0, 2046, "", "", false,
     "The Queue name part of destination 'QM/" + k49 + "' is too long.\n"},
};

TEST(DestinationsTest, ParseDestinationTable) {
  for (const ParseCase& c : kParseCases) {
    ScopedOptions options;
    char qmgr[49], queue[49];
    std::memset(qmgr, 'X', sizeof qmgr);
    std::memset(queue, 'X', sizeof queue);
    testing::internal::CaptureStderr();
    int rc = ParseDestination(options.get(), c.Separator, c.Text.c_str(), qmgr, queue, false);
    EXPECT_EQ(c.Message, testing::internal::GetCapturedStderr()) << c.Text;
    EXPECT_EQ(c.Rc, rc) << c.Text;
    EXPECT_STREQ(c.Qmgr, qmgr) << c.Text;  // always terminated, even at 48
    EXPECT_EQ(c.Queue, queue) << c.Text;
    EXPECT_EQ(c.Quoted, options->QuotedName) << c.Text;
    EXPECT_EQ(nullptr, options->OutputList);
  }
}

TEST(DestinationsTest, ListsGrowByDoublingAndKeepOrder) {
  ScopedOptions options;
  std::string expected;
  for (int i = 0; i < 25; ++i) {
    std::string name = "Q" + std::to_string(i);
    ASSERT_EQ(0, AddDestination(options.get(), name.c_str(), true));
    expected += (i ? " /" : "/") + name;
    const QueueList* list = options->InputList;
    EXPECT_EQ(i < 10 ? 10 : i < 20 ? 20 : 40, list->Capacity);
    // The spare entry after the last one in use stays zero.
    EXPECT_EQ(std::string(96, '\0'),
              std::string(reinterpret_cast<const char*>(&list->Entries[list->Count]), 96));
  }
  EXPECT_EQ(expected, Entries(options->InputList));
  EXPECT_EQ(nullptr, options->OutputList);
  EXPECT_EQ(QueueListBytes(40), CSMemSize(options->InputList));
}

TEST(DestinationsTest, FirstOutputQueueLeadsTheOutputList) {
  ScopedOptions options;
  ASSERT_EQ(0, ParseDestination(options.get(), 0, "QM1/Q1", options->OutputQmgrName,
                                options->OutputQueueName, false));
  EXPECT_EQ(nullptr, options->OutputList);
  ASSERT_EQ(0, AddDestination(options.get(), "Q2", false));
  ASSERT_EQ(0, AddDestination(options.get(), "QM3#Q3", false));
  EXPECT_EQ("QM1/Q1 /Q2 QM3/Q3", Entries(options->OutputList));
  EXPECT_STREQ("Q1", options->OutputQueueName);
}

TEST(DestinationsTest, OutputQueueNameComesFromTheFirstListEntry) {
  ScopedOptions options;
  ASSERT_EQ(0, AddDestination(options.get(), "QM9/Q9", false));
  EXPECT_STREQ("Q9", options->OutputQueueName);
  EXPECT_STREQ("", options->OutputQmgrName);
  ASSERT_EQ(0, AddDestination(options.get(), "Q10", false));
  EXPECT_EQ("QM9/Q9 /Q10", Entries(options->OutputList));
}

TEST(DestinationsTest, EmptyAndRefusedTextsAddNothingButKeepEarlierEntries) {
  ScopedOptions options;
  ASSERT_EQ(0, AddDestination(options.get(), "Q1", true));
  EXPECT_EQ(0, AddDestination(options.get(), "", true));
  EXPECT_EQ(0, AddDestination(options.get(), "QM/", true));
  testing::internal::CaptureStderr();
  EXPECT_EQ(2046, AddDestination(options.get(), k49.c_str(), true));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ("/Q1", Entries(options->InputList));
}

TEST(DestinationsTest, SeparatorOptionAppliesToListEntries) {
  ScopedOptions options;
  options->QueueSeparator = ':';
  ASSERT_EQ(0, AddDestination(options.get(), "QM1:A/B", true));
  EXPECT_EQ("QM1/A/B", Entries(options->InputList));
}

}  // namespace
