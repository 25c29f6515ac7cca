// Queue input: storage growth, the get options and wait arithmetic, the
// get cycle against the fake queue manager, and opening the input queues.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "tests/zeplo/engine/fake_mq.h"
#include "zeplo/cs/cs.h"
#include "zeplo/engine/engine.h"
#include "zeplo/names/names.h"

namespace {

class QueueInputTest : public ::testing::Test {
 public:
  void SetUp() override {
    ReleaseMessageStorage(&options_);  // a case that starts over
    FakeReset(&options_);
    memset(&element_, 0, sizeof element_);
    element_.Hobj = 1;
    element_.BackoutHobj = MQHO_UNUSABLE_HOBJ;
    snprintf(element_.Name, sizeof element_.Name, "Q1");
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
  RunOptions options;
  FakeReset(&options);
  struct Case {
    int64_t request;
    int32_t capacity;
  } cases[] = {{1, 4096}, {4096, 4096}, {4097, 8192}, {10000, 12288}, {5000, 12288}};
  for (const Case& c : cases) {
    ASSERT_EQ(0, AllocateMessageStorage(&options, c.request)) << c.request;
    EXPECT_EQ(c.capacity, options.Message.Capacity) << c.request;
    EXPECT_EQ(0, options.Message.Capacity % 4096);
  }
  // Growing keeps the content.
  memcpy(options.Message.Storage, "keep me", 7);
  unsigned char* before = options.Message.Storage;
  ASSERT_EQ(0, AllocateMessageStorage(&options, 100000));
  EXPECT_NE(before, options.Message.Storage);
  EXPECT_EQ(0, memcmp(options.Message.Storage, "keep me", 7));
  // A size that cannot be held is refused and the old block stays.
  unsigned char* kept = options.Message.Storage;
  EXPECT_EQ(MQRC_STORAGE_NOT_AVAILABLE, AllocateMessageStorage(&options, int64_t{1} << 40));
  EXPECT_STREQ("Unable to allocate 1099511627776 bytes message storage", options.ExitMessage);
  EXPECT_EQ(kept, options.Message.Storage);
  EXPECT_EQ(102400, options.Message.Capacity);
  ReleaseMessageStorage(&options);
  EXPECT_EQ(nullptr, options.Message.Storage);
  ReleaseMessageStorage(&options);  // safe twice
}

TEST(GetWaitTest, Table) {
  struct Case {
    int32_t waitInterval;
    int64_t sinceLast;
    int32_t expected;
  } cases[] = {
      {0, 0, 0}, {0, 100, 0}, {-1, 0, 3600}, {-1, 99999, 3600},
      {5, 0, 5}, {5, 3, 2},   {5, 5, 0},     {5, 70, 0},
      {5, -10, 5},  // the clock went back: never wait longer than asked
  };
  for (const Case& c : cases) {
    RunOptions options;
    FakeReset(&options);
    options.WaitInterval = c.waitInterval;
    options.LastMessageTime = 1000;
    EXPECT_EQ(c.expected, GetWaitSeconds(&options, 1000 + c.sinceLast))
        << c.waitInterval << " after " << c.sinceLast;
  }
}

TEST(GetOptionsTest, Table) {
  struct Case {
    const char* name;
    bool destructive, selection, noRfh2, underCursor;
    int32_t limit;
    MQLONG expected;
  } cases[] = {
      {"browse", false, false, false, false, 200,
       MQGMO_PROPERTIES_FORCE_MQRFH2 | MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT},
      {"browse, no properties header", false, false, true, false, 200,
       MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT},
      {"get", true, false, true, false, 200, MQGMO_SYNCPOINT},
      {"get with -t 0", true, false, true, false, 0, MQGMO_NO_SYNCPOINT},
      {"get with filters browses first", true, true, true, false, 200,
       MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT},
      {"the take under the cursor", true, true, true, true, 200,
       MQGMO_MSG_UNDER_CURSOR | MQGMO_SYNCPOINT},
      {"the take under the cursor with -t 0", true, true, true, true, 0,
       MQGMO_MSG_UNDER_CURSOR | MQGMO_NO_SYNCPOINT},
  };
  for (const Case& c : cases) {
    RunOptions options;
    FakeReset(&options);
    options.DestructiveGet = c.destructive;
    options.SelectionActive = c.selection;
    options.NoForceRfh2 = c.noRfh2;
    options.TransactionLimit = c.limit;
    EXPECT_EQ(c.expected, SetGetOptions(&options, 0, c.underCursor)) << c.name;
  }
}

TEST_F(QueueInputTest, LargeMessageGrowsTheStorageOnce) {
  FakeAddMessage(std::string(10000, 'x'));
  ASSERT_EQ(0, Get());
  EXPECT_EQ(10000, options_.Message.DataLength);
  EXPECT_EQ(12288, options_.Message.Capacity);
  EXPECT_EQ((std::vector<MQLONG>{4096, 12288}), gFake.GetBufferLengths);
  EXPECT_EQ(std::string(10000, 'x'), Data());
  EXPECT_FALSE(options_.StopRequested);
}

TEST_F(QueueInputTest, EmptyQueueWithNoWaitStops) {
  options_.WaitInterval = 0;
  ASSERT_EQ(0, Get());
  EXPECT_TRUE(options_.StopRequested);
  EXPECT_EQ(1u, gFake.GetOptions.size());
  EXPECT_EQ(-1, gFake.GetWaitIntervals[0]);  // no MQGMO_WAIT
}

TEST_F(QueueInputTest, WaitIsWhatIsLeftOfTheInterval) {
  options_.WaitInterval = 5;
  options_.LastMessageTime = time(nullptr) - 2;
  FakeAddMessage("m");
  ASSERT_EQ(0, Get());
  ASSERT_EQ(1u, gFake.GetWaitIntervals.size());
  // 3 seconds left (2 when the clock ticked in between).
  EXPECT_GE(gFake.GetWaitIntervals[0], 2000);
  EXPECT_LE(gFake.GetWaitIntervals[0], 3000);
  EXPECT_GE(options_.LastMessageTime, time(nullptr) - 1);
}

TEST_F(QueueInputTest, PartialUnitIsCommittedBeforeWaiting) {
  options_.DestructiveGet = true;
  options_.UseSyncpoint = true;
  options_.WaitInterval = 30;
  options_.UowMessageCount = 2;
  FakeAddMessage("late");
  gFake.Faults.push_back({"MQGET", 0, MQCC_FAILED, MQRC_NO_MSG_AVAILABLE});
  ASSERT_EQ(0, Get());
  EXPECT_EQ((std::vector<std::string>{"MQGET", "MQCMIT(10)", "MQGET"}), gFake.Calls);
  EXPECT_EQ(-1, gFake.GetWaitIntervals[0]);  // no waiting with a unit open
  EXPECT_GT(gFake.GetWaitIntervals[1], 0);   // waits once it is committed
  EXPECT_EQ(0, options_.UowMessageCount);
  EXPECT_EQ("late", Data());
}

TEST_F(QueueInputTest, DescriptorOnlyRunsReadDataOnlyWhenAFilterNeedsIt) {
  options_.NoData = true;
  FakeAddMessage(std::string(9000, 'd'));
  ASSERT_EQ(0, Get());
  EXPECT_EQ(0, gFake.GetBufferLengths[0]);
  EXPECT_NE(0, gFake.GetOptions[0] & MQGMO_ACCEPT_TRUNCATED_MSG);
  EXPECT_EQ(9000, options_.Message.DataLength);  // full length all the same

  SetUp();
  options_.NoData = true;
  options_.SearchAscii[0].Length = 1;
  FakeAddMessage(std::string(9000, 'd'));
  ASSERT_EQ(0, Get());
  EXPECT_EQ(0, gFake.GetOptions.back() & MQGMO_ACCEPT_TRUNCATED_MSG);
  EXPECT_EQ(std::string(9000, 'd'), Data());
}

TEST_F(QueueInputTest, RateReplayTable) {
  // Empty source: refused with the rate text.
  options_.Rate = 10;
  options_.RateDuration = 5;
  ASSERT_EQ(0, Get());
  EXPECT_TRUE(options_.StopRequested);
  EXPECT_STREQ("'Required rate' processing not possible since the source queue is empty.\n",
               options_.ExitMessage);

  // At the end of a queue already read: browsed again from the first.
  SetUp();
  options_.Rate = 10;
  options_.RateDuration = 5;
  FakeAddMessage("one");
  FakeAddMessage("two");
  ASSERT_EQ(0, Get());
  ASSERT_EQ(0, Get());
  options_.ReadCount = 2;
  ASSERT_EQ(0, Get());
  EXPECT_EQ("one", Data());
  EXPECT_NE(0, gFake.GetOptions.back() & MQGMO_BROWSE_FIRST);
  EXPECT_EQ(0, gFake.GetOptions.back() & MQGMO_BROWSE_NEXT);
}

TEST_F(QueueInputTest, FailureTexts) {
  gFake.Faults.push_back({"MQGET", 0, MQCC_FAILED, 2009});
  EXPECT_EQ(2009, Get());
  EXPECT_STREQ("MQGET(Q1) failed RC(2009) Connection broken", options_.ExitMessage);

  // Under the cursor, a message someone else took is no error text.
  SetUp();
  EXPECT_EQ(MQRC_NO_MSG_UNDER_CURSOR, Get(true));
  EXPECT_STREQ("", options_.ExitMessage);
  EXPECT_FALSE(options_.StopRequested);

  // A queue manager that claims truncation without a longer message does
  // not make the loop spin.
  SetUp();
  gFake.Faults.push_back({"MQGET", 0, MQCC_FAILED, MQRC_TRUNCATED_MSG_FAILED});
  EXPECT_EQ(MQRC_TRUNCATED_MSG_FAILED, Get());
}

TEST_F(QueueInputTest, MatchFieldsAndConversionReachTheGet) {
  options_.SelectByCorrelId = true;
  memcpy(options_.SelectCorrelId, "CORREL", 6);
  options_.Convert = true;
  options_.ConvertCcsid = 37;
  options_.ConvertEncoding = 785;
  struct Seen {
    MQLONG Ccsid, Encoding, MatchOptions, Version;
    char Correl[6];
  };
  static Seen seen;
  MqApi api = gFakeApi;
  api.MQGET = [](MQHCONN, MQHOBJ, PMQVOID md, PMQVOID gmo, MQLONG, PMQVOID, PMQLONG,
                 PMQLONG cc, PMQLONG rc) {
    seen.Ccsid = static_cast<MQMD*>(md)->CodedCharSetId;
    seen.Encoding = static_cast<MQMD*>(md)->Encoding;
    memcpy(seen.Correl, static_cast<MQMD*>(md)->CorrelId, 6);
    seen.MatchOptions = static_cast<MQGMO*>(gmo)->MatchOptions;
    seen.Version = static_cast<MQGMO*>(gmo)->Version;
    *cc = MQCC_FAILED;
    *rc = MQRC_NO_MSG_AVAILABLE;
  };
  options_.Qmgrs[0].Api = &api;
  options_.SelectByGroupId = true;
  ASSERT_EQ(0, Get());
  EXPECT_EQ(37, seen.Ccsid);
  EXPECT_EQ(785, seen.Encoding);
  EXPECT_EQ(0, memcmp(seen.Correl, "CORREL", 6));
  EXPECT_EQ(MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID | MQMO_MATCH_GROUP_ID, seen.MatchOptions);
  EXPECT_GE(seen.Version, MQGMO_VERSION_2);
}

// ---- Opening the input queues ------------------------------------------------

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
    CSReleaseMem(&list_->Elements);
    QueueListRelease(&list_);
  }
  RunOptions options_;
  QueueList* list_ = nullptr;
};

TEST_F(OpenInputTest, OpenOptionsTable) {
  struct Case {
    const char* name;
    bool destructive, selection, exclusive, noBackout, purge;
    MQLONG expected;
    bool selectionAfter;
  } cases[] = {
      {"browse", false, true, false, false, false, MQOO_BROWSE | MQOO_INQUIRE, false},
      {"browse exclusive", false, false, true, true, false, 12, false},
      {"get", true, false, false, false, false, MQOO_INPUT_SHARED | MQOO_INQUIRE, false},
      {"get with filters", true, true, false, true, false, MQOO_INPUT_SHARED | MQOO_BROWSE, true},
      {"get exclusive with filters", true, true, true, true, false,
       MQOO_INPUT_EXCLUSIVE | MQOO_BROWSE, true},
      {"purge never browses", true, true, false, true, true, MQOO_INPUT_SHARED, false},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    options_.DestructiveGet = c.destructive;
    options_.SelectionActive = c.selection;
    options_.ExclusiveInput = c.exclusive;
    options_.NoBackout = c.noBackout;
    options_.Purge = c.purge;
    ASSERT_EQ(0, OpenInputQueues(&options_)) << c.name;
    ASSERT_FALSE(gFake.OpenOptions.empty()) << c.name;
    EXPECT_EQ(c.expected, gFake.OpenOptions[0]) << c.name;
    EXPECT_EQ(c.selectionAfter, options_.SelectionActive) << c.name;
    EXPECT_STREQ("IN.Q", list_->Elements[0].Name) << c.name;
    EXPECT_EQ(MQHO_UNUSABLE_HOBJ, list_->Elements[0].BackoutHobj) << c.name;
  }
}

TEST_F(OpenInputTest, PassingContextNeedsADestructiveGet) {
  options_.Context = ContextMode::PassAll;
  EXPECT_EQ(MQRC_CONTEXT_NOT_AVAILABLE, OpenInputQueues(&options_));
  EXPECT_TRUE(gFake.OpenOptions.empty());

  TearDown();
  SetUp();
  options_.Context = ContextMode::PassIdentity;
  options_.DestructiveGet = true;
  options_.NoBackout = true;
  ASSERT_EQ(0, OpenInputQueues(&options_));
  EXPECT_EQ(MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, gFake.OpenOptions[0]);
}

TEST_F(OpenInputTest, InquireRefusedDisablesBackoutRequeue) {
  gFake.Faults.push_back({"MQOPEN", 0, MQCC_FAILED, MQRC_NOT_AUTHORIZED});
  ASSERT_EQ(0, OpenInputQueues(&options_));
  ASSERT_EQ(2u, gFake.OpenOptions.size());
  EXPECT_NE(0, gFake.OpenOptions[0] & MQOO_INQUIRE);
  EXPECT_EQ(0, gFake.OpenOptions[1] & MQOO_INQUIRE);
  EXPECT_TRUE(options_.NoBackout);
  EXPECT_EQ(0, std::count(gFake.Calls.begin(), gFake.Calls.end(), "MQINQ"));
}

TEST_F(OpenInputTest, OpenFailureEndsWithItsReason) {
  gFake.Faults.push_back({"MQOPEN", 0, MQCC_FAILED, 2085});
  EXPECT_EQ(2085, OpenInputQueues(&options_));
  EXPECT_EQ(MQHO_UNUSABLE_HOBJ, list_->Elements[0].Hobj);
}

TEST_F(OpenInputTest, InquiredLimitsAndBackoutSettings) {
  struct Case {
    const char* backoutQueue;
    MQLONG threshold;
    MQLONG storedThreshold;
  } cases[] = {{"BACKOUT.Q", 3, 3}, {"", 3, 0}};
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    gFake.BackoutQueue = c.backoutQueue;
    gFake.BackoutThreshold = c.threshold;
    gFake.MaxDepth = 777;
    gFake.MaxMsgLength = 1024;
    ASSERT_EQ(0, OpenInputQueues(&options_));
    const QueueElement& e = list_->Elements[0];
    EXPECT_STREQ(c.backoutQueue, e.BackoutQueueName);
    EXPECT_EQ(c.storedThreshold, e.BackoutThreshold);
    EXPECT_EQ(777, e.MaxDepth);
    EXPECT_EQ(1024, e.MaxMsgLength);
  }
}

}  // namespace
