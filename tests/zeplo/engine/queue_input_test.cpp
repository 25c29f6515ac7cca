// Queue input: storage growth, get options and waits, the get cycle against
// the fake queue manager, and opening the input queues.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "tests/zeplo/engine/fake_mq.h"
#include "zeplo/cs/cs.h"
#include "zeplo/engine/engine.h"
#include "zeplo/names/names.h"

namespace {

using Longs = std::vector<MQLONG>;

class QueueInputTest : public ::testing::Test {
 public:
  void SetUp() override {
    ReleaseMessageStorage(&options_);  // a case that starts over
    FakeReset(&options_);
    element_ = QueueElement{1, "Q1", 0, 0, "", 0, MQHO_UNUSABLE_HOBJ, 0, 0, 0, 0};
    options_.LastMessageTime = time(nullptr);
    ASSERT_EQ(0, AllocateMessageStorage(&options_, 1));
  }
  void TearDown() override { ReleaseMessageStorage(&options_); }
  int Get(bool underCursor = false) { return GetQueueMessage(&options_, &element_, underCursor); }
  std::string Data() const {
    return std::string(reinterpret_cast<const char*>(options_.Message.Cursor),
                       static_cast<size_t>(options_.Message.DataLength));
  }
  RunOptions options_{};
  QueueElement element_;
};

TEST(StorageTest, RoundingGrowthAndRefusal) {
  RunOptions o;
  FakeReset(&o);
  for (auto [request, capacity] : {std::pair{1, 4096}, {4096, 4096}, {4097, 8192},
                                   {10000, 12288}, {5000, 12288}}) {
    ASSERT_EQ(0, AllocateMessageStorage(&o, request));
    EXPECT_EQ(capacity, o.Message.Capacity) << request;  // never shrinks
  }
  memcpy(o.Message.Storage, "keep me", 7);
  ASSERT_EQ(0, AllocateMessageStorage(&o, 100000));
  EXPECT_EQ(0, memcmp(o.Message.Storage, "keep me", 7));
  unsigned char* kept = o.Message.Storage;
  EXPECT_EQ(MQRC_STORAGE_NOT_AVAILABLE, AllocateMessageStorage(&o, int64_t{1} << 40));
  EXPECT_STREQ("Unable to allocate 1099511627776 bytes message storage", o.ExitMessage);
  EXPECT_EQ(kept, o.Message.Storage);  // the old block stays in use
  ReleaseMessageStorage(&o);
  ReleaseMessageStorage(&o);  // safe twice
  EXPECT_EQ(nullptr, o.Message.Storage);
}

TEST(GetWaitTest, Table) {
  // {-w, seconds since the last message, seconds to wait}
  int cases[][3] = {{0, 0, 0}, {0, 100, 0}, {-1, 0, 3600}, {-1, 99999, 3600}, {5, 0, 5},
                    {5, 3, 2}, {5, 5, 0},   {5, 70, 0},    {5, -10, 5}};  // clock went back
  for (auto& c : cases) {
    RunOptions o;
    FakeReset(&o);
    o.WaitInterval = c[0];
    o.LastMessageTime = 1000;
    EXPECT_EQ(c[2], GetWaitSeconds(&o, 1000 + c[1])) << c[0] << " after " << c[1];
  }
}

TEST(GetOptionsTest, Table) {
  struct Case {
    bool destructive, selection, noRfh2, underCursor;
    int32_t limit;
    MQLONG expected;
  } cases[] = {
      {false, false, false, false, 200,
       MQGMO_PROPERTIES_FORCE_MQRFH2 | MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT},
      {false, false, true, false, 200, MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT},
      {true, false, true, false, 200, MQGMO_SYNCPOINT},
      {true, false, true, false, 0, MQGMO_NO_SYNCPOINT},
      {true, true, true, false, 200, MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT},
      {true, true, true, true, 200, MQGMO_MSG_UNDER_CURSOR | MQGMO_SYNCPOINT},
      {true, true, true, true, 0, MQGMO_MSG_UNDER_CURSOR | MQGMO_NO_SYNCPOINT},
  };
  int row = 0;
  for (const Case& c : cases) {
    RunOptions o;
    FakeReset(&o);
    o.DestructiveGet = c.destructive;
    o.SelectionActive = c.selection;
    o.NoForceRfh2 = c.noRfh2;
    o.TransactionLimit = c.limit;
    EXPECT_EQ(c.expected, SetGetOptions(&o, 0, c.underCursor)) << "row " << row++;
  }
}

TEST_F(QueueInputTest, LargeMessageGrowsTheStorageOnce) {
  for (bool destructive : {false, true}) {
    SetUp();
    options_.DestructiveGet = destructive;
    FakeAddMessage("small");
    FakeAddMessage(std::string(10000, 'x'));
    FakeAddMessage("after");
    for (const std::string& expected : {std::string("small"), std::string(10000, 'x'),
                                        std::string("after")}) {
      ASSERT_EQ(0, Get());
      EXPECT_EQ(expected, Data()) << destructive;  // nothing skipped
    }
    EXPECT_EQ(12288, options_.Message.Capacity);
    EXPECT_EQ((Longs{4096, 4096, 12288, 12288}), gFake.GetBufferLengths);
    // A browse reads the message that did not fit again under the cursor.
    EXPECT_EQ(!destructive, (gFake.GetOptions[2] & MQGMO_BROWSE_MSG_UNDER_CURSOR) != 0);
  }
}

TEST_F(QueueInputTest, WaitsTable) {
  // -w 0 on an empty queue: one get, no wait, the run stops.
  options_.WaitInterval = 0;
  ASSERT_EQ(0, Get());
  EXPECT_TRUE(options_.StopRequested);
  EXPECT_EQ((Longs{-1}), gFake.GetWaits);

  // The wait is what is left of the -w interval.
  SetUp();
  options_.WaitInterval = 5;
  options_.LastMessageTime = time(nullptr) - 2;
  FakeAddMessage("m");
  ASSERT_EQ(0, Get());
  EXPECT_GE(gFake.GetWaits[0], 2000);
  EXPECT_LE(gFake.GetWaits[0], 3000);

  // A partial unit is committed before waiting, never left open during it.
  SetUp();
  options_.DestructiveGet = options_.UseSyncpoint = true;
  options_.WaitInterval = 30;
  options_.UowMessageCount = 2;
  FakeAddMessage("late");
  gFake.Faults.push_back({"MQGET", 0, MQCC_FAILED, MQRC_NO_MSG_AVAILABLE});
  ASSERT_EQ(0, Get());
  EXPECT_EQ((std::vector<std::string>{"MQGET", "MQCMIT(10)", "MQGET"}), gFake.Calls);
  EXPECT_EQ(-1, gFake.GetWaits[0]);
  EXPECT_GT(gFake.GetWaits[1], 0);
  EXPECT_EQ("late", Data());
}

TEST_F(QueueInputTest, DescriptorOnlyRunsReadDataOnlyWhenAFilterNeedsIt) {
  for (bool search : {false, true}) {
    SetUp();
    options_.NoData = true;
    options_.SearchAscii[0].Length = search ? 1 : 0;
    FakeAddMessage(std::string(9000, 'd'));
    ASSERT_EQ(0, Get());
    EXPECT_EQ(search ? 4096 : 0, gFake.GetBufferLengths[0]);
    EXPECT_EQ(!search, (gFake.GetOptions[0] & MQGMO_ACCEPT_TRUNCATED_MSG) != 0);
    EXPECT_EQ(9000, options_.Message.DataLength);  // the full length either way
  }
}

TEST_F(QueueInputTest, RateReplay) {
  options_.Rate = 10;
  options_.RateDuration = 5;
  ASSERT_EQ(0, Get());  // an empty source cannot be replayed
  EXPECT_TRUE(options_.StopRequested);
  EXPECT_STREQ("'Required rate' processing not possible since the source queue is empty.\n",
               options_.ExitMessage);

  SetUp();
  options_.Rate = 10;
  options_.RateDuration = 5;
  FakeAddMessage("one");
  FakeAddMessage("two");
  ASSERT_EQ(0, Get());
  ASSERT_EQ(0, Get());
  options_.ReadCount = 2;
  ASSERT_EQ(0, Get());  // past the end: browsed again from the first
  EXPECT_EQ("one", Data());
  EXPECT_EQ(MQGMO_BROWSE_FIRST, gFake.GetOptions.back() & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT));
}

TEST_F(QueueInputTest, FailureTable) {
  struct Case {
    MQLONG reason;
    bool underCursor;
    const char* text;
  } cases[] = {
      {2009, false, "MQGET(Q1) failed RC(2009) Connection broken"},
      // Someone else took the browsed message: no text, the caller skips it.
      {MQRC_NO_MSG_UNDER_CURSOR, true, ""},
      // A truncation claim without a longer message must not spin.
      {MQRC_TRUNCATED_MSG_FAILED, false, "MQGET(Q1) failed RC(2080) Truncated message failed"},
  };
  for (const Case& c : cases) {
    SetUp();
    gFake.Faults.push_back({"MQGET", 0, MQCC_FAILED, c.reason});
    EXPECT_EQ(c.reason, Get(c.underCursor));
    EXPECT_STREQ(c.text, options_.ExitMessage);
    EXPECT_FALSE(options_.StopRequested);
  }
}

class OpenInputTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&options_);
    list_ = static_cast<QueueList*>(CSGetMem(QueueListBytes(2), "QUEUELIST"));
    memset(list_, 0, QueueListBytes(2));
    list_->Capacity = 2;
    list_->Count = 1;
    memcpy(list_->Entries[0].QueueName, "IN.Q", 4);
    options_.InputList = list_;
  }
  void TearDown() override {
    ReleaseQueueElements(&options_);
    QueueListRelease(&list_);
  }
  void Restart() {
    TearDown();
    SetUp();
  }
  RunOptions options_;
  QueueList* list_ = nullptr;
};

TEST_F(OpenInputTest, OpenOptionsTable) {
  struct Case {
    bool destructive, selection, exclusive, noBackout, purge;
    MQLONG expected;
    bool selectionAfter;
  } cases[] = {
      {false, true, false, false, false, MQOO_BROWSE | MQOO_INQUIRE, false},
      {false, false, true, true, false, 12, false},
      {true, false, false, false, false, MQOO_INPUT_SHARED | MQOO_INQUIRE, false},
      {true, true, false, true, false, MQOO_INPUT_SHARED | MQOO_BROWSE, true},
      {true, true, true, true, false, MQOO_INPUT_EXCLUSIVE | MQOO_BROWSE, true},
      {true, true, false, true, true, MQOO_INPUT_SHARED, false},  // purge never browses
  };
  for (const Case& c : cases) {
    Restart();
    options_.DestructiveGet = c.destructive;
    options_.SelectionActive = c.selection;
    options_.ExclusiveInput = c.exclusive;
    options_.NoBackout = c.noBackout;
    options_.Purge = c.purge;
    ASSERT_EQ(0, OpenInputQueues(&options_));
    EXPECT_EQ((Longs{c.expected}), gFake.OpenOptions);
    EXPECT_EQ(c.selectionAfter, options_.SelectionActive);
    EXPECT_STREQ("IN.Q", list_->Elements[0].Name);
  }
}

TEST_F(OpenInputTest, ContextInquireAndFailures) {
  options_.Context = ContextMode::PassAll;  // a browse has no context to pass
  EXPECT_EQ(MQRC_CONTEXT_NOT_AVAILABLE, OpenInputQueues(&options_));
  EXPECT_TRUE(gFake.OpenOptions.empty());

  Restart();
  options_.Context = ContextMode::PassIdentity;
  options_.DestructiveGet = options_.NoBackout = true;
  ASSERT_EQ(0, OpenInputQueues(&options_));
  EXPECT_EQ((Longs{MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT}), gFake.OpenOptions);

  Restart();  // inquire refused: opened again without it, requeue disabled
  gFake.Faults.push_back({"MQOPEN", 0, MQCC_FAILED, MQRC_NOT_AUTHORIZED});
  ASSERT_EQ(0, OpenInputQueues(&options_));
  EXPECT_EQ((Longs{MQOO_BROWSE | MQOO_INQUIRE, MQOO_BROWSE}), gFake.OpenOptions);
  EXPECT_TRUE(options_.NoBackout);
  EXPECT_EQ(0, std::count(gFake.Calls.begin(), gFake.Calls.end(), "MQINQ"));

  Restart();
  gFake.Faults.push_back({"MQOPEN", 0, MQCC_FAILED, 2085});
  EXPECT_EQ(2085, OpenInputQueues(&options_));
  EXPECT_EQ(MQHO_UNUSABLE_HOBJ, list_->Elements[0].Hobj);
}

TEST_F(OpenInputTest, InquiredLimitsAndBackoutSettings) {
  for (const char* backout : {"BACKOUT.Q", ""}) {
    Restart();
    gFake.BackoutQueue = backout;
    gFake.BackoutThreshold = 3;
    gFake.MaxDepth = 777;
    ASSERT_EQ(0, OpenInputQueues(&options_));
    const QueueElement& e = list_->Elements[0];
    EXPECT_STREQ(backout, e.BackoutQueueName);
    EXPECT_EQ(backout[0] != '\0' ? 3 : 0, e.BackoutThreshold);  // no queue, no threshold
    EXPECT_EQ(777, e.MaxDepth);
    EXPECT_EQ(MQHO_UNUSABLE_HOBJ, e.BackoutHobj);
  }
}

}  // namespace
