// The processing loop end to end against the fake queue manager: set-up
// refusals, units of work over a whole run, faults in mid-unit, filters on
// a destructive run, ranges, the backout requeue and delivery to a file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/zeplo/engine/fake_mq.h"
#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"

namespace {

class ProcessingLoopTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&options_);
    element_ = QueueElement{1, "IN.Q", 0, 0, "", 0, MQHO_UNUSABLE_HOBJ, 0, 0, 0, 0};
    options_.MessageIndex = -1;
  }
  void TearDown() override {
    if (options_.OutputStream != nullptr) CloseOutputFile(&options_);
  }
  int Run() { return RunProcessingLoop(&options_, &element_, false); }
  size_t CountCalls(const std::string& call) const {
    return static_cast<size_t>(std::count(gFake.Calls.begin(), gFake.Calls.end(), call));
  }
  std::vector<std::string> QueueData() const {
    std::vector<std::string> out;
    for (const FakeMessage& m : gFake.Queue) out.push_back(m.Data);
    return out;
  }
  void Fill(int n) {
    for (int i = 1; i <= n; i++) FakeAddMessage("msg" + std::to_string(i));
  }
  RunOptions options_;
  QueueElement element_;
};

TEST_F(ProcessingLoopTest, SetupRefusals) {
  struct Case {
    const char* name;
    ContextMode context;
    bool display, withQueue;
    int rc;
    const char* text;
  } cases[] = {
      {"pass all, no input queue", ContextMode::PassAll, false, false, 2098,
       "An input queue must be supplied to pass context"},
      {"pass identity, no input queue", ContextMode::PassIdentity, false, false, 2098,
       "An input queue must be supplied to pass context"},
      {"file display, no output file", ContextMode::SetAll, true, true, 2046,
       "Display options require an output file"},
  };
  for (const Case& c : cases) {
    SetUp();
    options_.Context = c.context;
    options_.WriteIndex = c.display;
    int rc = RunProcessingLoop(&options_, c.withQueue ? &element_ : nullptr, false);
    EXPECT_EQ(c.rc, rc) << c.name;
    EXPECT_STREQ(c.text, options_.ExitMessage) << c.name;
    EXPECT_EQ(-1, options_.MessageIndex) << c.name;  // never started
    EXPECT_TRUE(gFake.Calls.empty()) << c.name;
  }
}

TEST_F(ProcessingLoopTest, MoveInUnitsOfThree) {
  Fill(7);
  options_.DestructiveGet = true;
  options_.TransactionLimit = 3;
  ASSERT_EQ(0, Run());
  EXPECT_TRUE(gFake.Queue.empty());
  EXPECT_TRUE(gFake.Pending.empty());  // everything committed
  EXPECT_EQ(3u, CountCalls("MQCMIT(10)"));  // after 3, 6, and at the empty queue
  EXPECT_EQ(0u, CountCalls("MQBACK(10)"));
  EXPECT_EQ(7, options_.ReadCount);
  EXPECT_EQ(0, options_.UncommittedReadCount);
  EXPECT_FALSE(options_.RolledBack);
}

TEST_F(ProcessingLoopTest, NoSyncpointWithTransactionLimitZero) {
  Fill(4);
  options_.DestructiveGet = true;
  options_.TransactionLimit = 0;
  gFake.Faults.push_back({"MQGET", 2, MQCC_FAILED, 2009});
  EXPECT_EQ(2009, Run());
  EXPECT_EQ(0u, CountCalls("MQCMIT(10)"));
  EXPECT_EQ(0u, CountCalls("MQBACK(10)"));
  // What was moved stays moved; nothing is rolled back.
  EXPECT_EQ((std::vector<std::string>{"msg3", "msg4"}), QueueData());
  EXPECT_FALSE(options_.RolledBack);
}

TEST_F(ProcessingLoopTest, FaultInMidUnitLosesNothing) {
  Fill(7);
  options_.DestructiveGet = true;
  options_.TransactionLimit = 3;
  // The fifth MQGET fails: messages 1-3 are committed, 4 is in the open unit.
  gFake.Faults.push_back({"MQGET", 4, MQCC_FAILED, 2009});
  EXPECT_EQ(2009, Run());
  EXPECT_STREQ("MQGET(IN.Q) failed RC(2009) Connection broken", options_.ExitMessage);
  EXPECT_EQ(1u, CountCalls("MQCMIT(10)"));
  EXPECT_EQ(1u, CountCalls("MQBACK(10)"));
  EXPECT_TRUE(options_.RolledBack);
  EXPECT_EQ((std::vector<std::string>{"msg4", "msg5", "msg6", "msg7"}), QueueData());
  EXPECT_EQ(4, options_.ReadCount);
  EXPECT_EQ(1, options_.UncommittedReadCount);  // what the backout undid
  EXPECT_EQ(nullptr, options_.Message.Storage);  // freed on the error path too
}

TEST_F(ProcessingLoopTest, FiltersOnAMoveTakeOnlyTheSelected) {
  FakeAddMessage("keep 1");
  FakeAddMessage("take 2");
  FakeAddMessage("keep 3");
  FakeAddMessage("take 4");
  options_.DestructiveGet = true;
  options_.SelectionActive = true;
  options_.SearchAscii[0].Length = 4;
  memcpy(options_.SearchAscii[0].Text, "take", 4);
  ASSERT_EQ(0, Run());
  EXPECT_EQ((std::vector<std::string>{"keep 1", "keep 3"}), QueueData());
  EXPECT_EQ(4, options_.ReadCount);
  EXPECT_EQ(2, options_.SelectedCount);
  EXPECT_TRUE(gFake.Pending.empty());
}

TEST_F(ProcessingLoopTest, MessageTakenByAnotherApplicationIsSkipped) {
  Fill(3);
  options_.DestructiveGet = true;
  options_.SelectionActive = true;
  options_.PriorityMin = 0;
  // Get calls: browse 1, take 1 (gone), browse 2, take 2, ...
  gFake.Faults.push_back({"MQGET", 1, MQCC_FAILED, MQRC_NO_MSG_UNDER_CURSOR});
  ASSERT_EQ(0, Run());
  EXPECT_STREQ("", options_.ExitMessage);
  EXPECT_EQ((std::vector<std::string>{"msg1"}), QueueData());
  EXPECT_EQ(2, options_.SelectedCount);
}

TEST_F(ProcessingLoopTest, RangeEndsTheRun) {
  struct Case {
    int32_t first, last;
    bool invert;
    int64_t read;
    int32_t selected;
  } cases[] = {
      {3, 3, false, 3, 1},
      {2, 4, false, 4, 3},
      {2, 4, true, 4, 1},   // inverted: only message 1, still ends at 4
      {5, 0, false, 9, 5},  // open-ended
  };
  for (const Case& c : cases) {
    SetUp();
    Fill(9);
    options_.RangeFirst = c.first;
    options_.RangeLast = c.last;
    options_.InvertSelection = c.invert;
    options_.SelectionActive = true;
    snprintf(options_.OutputFile, sizeof options_.OutputFile, "null");
    ASSERT_EQ(0, Run()) << c.first << ".." << c.last;
    EXPECT_EQ(c.read, options_.ReadCount) << c.first << ".." << c.last;
    EXPECT_EQ(c.selected, options_.SelectedCount) << c.first << ".." << c.last;
    EXPECT_EQ(9u, gFake.Queue.size());  // browsed, nothing taken
    CloseOutputFile(&options_);
  }
}

TEST_F(ProcessingLoopTest, BackedOutTooOftenGoesToTheBackoutQueue) {
  FakeAddMessage("poison", 0, 5);
  FakeAddMessage("fine", 0, 0);
  options_.DestructiveGet = true;
  element_.BackoutThreshold = 3;
  snprintf(element_.BackoutQueueName, sizeof element_.BackoutQueueName, "BACKOUT.Q");
  snprintf(options_.OutputFile, sizeof options_.OutputFile, "null");
  ASSERT_EQ(0, Run());
  ASSERT_EQ(1u, gFake.Puts.size());
  EXPECT_EQ("poison", gFake.Puts[0].Data);
  EXPECT_EQ(1, options_.WrittenCount);  // only "fine" was written
  EXPECT_EQ(1u, CountCalls("MQOPEN"));  // the backout queue, opened once
}

TEST_F(ProcessingLoopTest, BrowseToAFile) {
  char path[] = "/tmp/zeplo_loop_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  Fill(3);
  options_.ForceOverwrite = true;
  snprintf(options_.OutputFile, sizeof options_.OutputFile, "%s", path);
  ASSERT_EQ(0, OpenRunFiles(&options_, false, false, true));
  ASSERT_EQ(0, Run());
  ASSERT_EQ(0, CloseOutputFile(&options_));
  EXPECT_EQ(3, options_.WrittenCount);
  EXPECT_EQ(3u, gFake.Queue.size());  // a browse leaves the queue alone
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  EXPECT_NE(std::string::npos, s.find("* ZEPLO"));
  // Each message's data appears once, in hex or as text.
  for (const char* hex : {"6D736731", "6D736732", "6D736733"}) {
    EXPECT_NE(std::string::npos, s.find(hex)) << hex << "\n" << s;
  }
  unlink(path);
}

}  // namespace
