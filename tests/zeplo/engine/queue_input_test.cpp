// Queue input against the fake queue manager: waits, failures, and the
// refusals and fallbacks of opening the input queues. (Storage growth is
// the files layer's; the get options are judged by what whole runs keep
// and lose, end to end, as are large messages read whole.)
#include <ctime>

#include "tests/zeplo/engine/engine_test_util.h"

namespace {

using Longs = std::vector<MQLONG>;

class QueueInputTest : public ::testing::Test {
 public:
  void SetUp() override {
    TearDown();  // a case that starts over
    FakeReset(&o_);
    element_ = OpenedQueue(1, "Q1");
    o_.Engine.LastMessageTime = time(nullptr);
    ASSERT_EQ(0, GrowMessageStorage(&o_, 1));
    list_ = static_cast<QueueList*>(CSGetMem(QueueListBytes(1), "QUEUELIST"));
    memset(list_, 0, QueueListBytes(1));
    list_->Count = list_->Capacity = 1;
    memcpy(list_->Entries[0].QueueName, "IN.Q", 4);
  }
  void TearDown() override {
    ReleaseMessageStorage(&o_);
    ReleaseEngineQueues(&o_);
    QueueListRelease(&list_);
  }
  int Get(bool underCursor = false) { return GetQueueMessage(&o_, &element_, underCursor); }
  TestRun o_{};
  QueueElement element_;
  QueueList* list_ = nullptr;
};

TEST_F(QueueInputTest, WaitTable) {
  // {-w, seconds since the last message, seconds to wait}
  int cases[][3] = {{0, 100, 0}, {-1, 99999, 3600}, {5, 0, 5}, {5, 3, 2}, {5, 70, 0}, {5, -10, 5}};
  for (auto& c : cases) {
    o_.Parsed.WaitInterval = c[0];
    o_.Engine.LastMessageTime = 1000;
    EXPECT_EQ(c[2], GetWaitSeconds(&o_, 1000 + c[1])) << c[0] << " after " << c[1];
  }
  // A partial unit is committed before waiting, never left open during it.
  o_.Parsed.DestructiveGet = o_.Engine.UseSyncpoint = true;
  o_.Parsed.WaitInterval = 30;
  o_.Engine.UowMessageCount = 2;
  o_.Engine.LastMessageTime = time(nullptr);
  FakeAddMessage("late");
  gFake.Faults.push_back({"MQGET", 0, MQCC_FAILED, MQRC_NO_MSG_AVAILABLE});
  ASSERT_EQ(0, Get());
  EXPECT_EQ((std::vector<std::string>{"MQGET", "MQCMIT(10)", "MQGET"}), gFake.Calls);
  EXPECT_EQ(-1, gFake.GetWaits[0]);
  // The wait goes by in one-second gets, so that a stop signal is seen.
  EXPECT_EQ(1000, gFake.GetWaits[1]);
  // -w 0 on an empty queue: no wait, the run stops.
  SetUp();
  ASSERT_EQ(0, Get());
  EXPECT_TRUE(o_.StopRequested);
  EXPECT_EQ((Longs{-1}), gFake.GetWaits);
}

TEST_F(QueueInputTest, FailureTable) {
  struct Case {
    MQLONG reason;
    bool underCursor;
    const char* text;
  } cases[] = {
      {2009, false, "MQGET(Q1) failed RC(2009) Connection broken"},
      {MQRC_NO_MSG_UNDER_CURSOR, true, ""},  // someone else took it: skipped silently
      {MQRC_TRUNCATED_MSG_FAILED, false, "MQGET(Q1) failed RC(2080) Truncated message failed"},
  };
  for (const Case& c : cases) {
    SetUp();
    gFake.Faults.push_back({"MQGET", 0, MQCC_FAILED, c.reason});
    EXPECT_EQ(c.reason, Get(c.underCursor));
    EXPECT_STREQ(c.text, o_.ExitMessage);
  }
  SetUp();  // replaying an empty source for a rate is refused
  o_.Parsed.Rate = 10;
  o_.Parsed.RateDuration = 5;
  ASSERT_EQ(0, Get());
  EXPECT_TRUE(o_.StopRequested);
  EXPECT_STREQ("'Required rate' processing not possible since the source queue is empty.\n", o_.ExitMessage);
}

TEST_F(QueueInputTest, OpenTable) {
  const char* refused = "Cannot open queue 'IN.Q' for inquire. Backout requeue processing is "
                        "disabled, ZEPLO will continue.\n";
  struct Case {
    bool destructive, selection, noBackout, purge;
    ContextMode context;
    MQLONG fault;
    int rc;
    Longs opens;
    const char* backoutQueue;  // what the queue names; null: not asked
    std::string err = "";
  } cases[] = {
      {true, true, true, true, ContextMode::SetAll, 0, 0, {MQOO_INPUT_SHARED}, nullptr},  // purge
      {false, false, true, false, ContextMode::PassAll, 0, 2098, {}, nullptr,
       "To pass context you must GET the source message not browse"},
      {true, false, true, false, ContextMode::PassIdentity, 0, 0,
       {MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT}, nullptr},
      {false, false, false, false, ContextMode::SetAll, 2035, 0,
       {MQOO_BROWSE | MQOO_INQUIRE, MQOO_BROWSE}, nullptr, refused},
      {false, false, true, false, ContextMode::SetAll, 2085, 2085, {MQOO_BROWSE}, nullptr,
       "MQOPEN on object 'QM1/IN.Q' returned 2085"},
      {false, false, false, false, ContextMode::SetAll, 0, 0, {MQOO_BROWSE | MQOO_INQUIRE}, "BO.Q"},
      {false, false, false, false, ContextMode::SetAll, 0, 0, {MQOO_BROWSE | MQOO_INQUIRE}, ""},
  };
  for (const Case& c : cases) {
    SetUp();
    const auto row = &c - cases;
    o_.Parsed.InputList = list_;
    o_.Parsed.DestructiveGet = c.destructive;
    o_.Settings.SelectionActive = c.selection;
    o_.Settings.NoBackout = c.noBackout;
    o_.Parsed.Purge = c.purge;
    o_.Parsed.Context = c.context;
    gFake.BackoutQueue = c.backoutQueue != nullptr ? c.backoutQueue : "BACKOUT.Q";
    gFake.BackoutThreshold = 3, gFake.MaxDepth = 77, gFake.MaxMsgLength = 1234;
    if (c.fault != 0) gFake.Faults.push_back({"MQOPEN", 0, MQCC_FAILED, c.fault});
    std::string err = Captured([&] { EXPECT_EQ(c.rc, OpenInputQueues(&o_)) << row; });
    EXPECT_NE(std::string::npos, err.find(c.err)) << row << err;
    EXPECT_EQ(c.opens, gFake.OpenOptions) << row;
    EXPECT_EQ(c.selection && c.destructive && !c.purge, o_.Settings.SelectionActive) << row;
    if (c.rc != 0 || c.opens.empty()) continue;
    const QueueElement& e = o_.Engine.Input.Elements[0];
    EXPECT_STREQ("IN.Q", e.Name) << row;
    // A queue without a backout queue, or not asked, is read without requeue.
    const char* bq = c.backoutQueue != nullptr ? c.backoutQueue : "";
    EXPECT_STREQ(bq, e.BackoutQueueName) << row;
    EXPECT_EQ(bq[0] != '\0' ? 3 : 0, e.BackoutThreshold) << row;
    EXPECT_EQ(c.backoutQueue != nullptr ? 77 : 0, e.MaxDepth) << row;
    EXPECT_EQ(c.backoutQueue != nullptr ? 1234 : 0, e.MaxMsgLength) << row;
    EXPECT_EQ(c.backoutQueue == nullptr, o_.Settings.NoBackout) << row;
  }
}

}  // namespace
