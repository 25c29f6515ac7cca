// Units of work: the -t batching rule, commit and backout order on one and
// two queue managers, their texts, and the counters the driver reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/zeplo/engine/fake_mq.h"
#include "zeplo/engine/engine.h"

namespace {

using Calls = std::vector<std::string>;

class UnitsOfWorkTest : public ::testing::Test {
 public:
  void SetUp() override { FakeReset(&options_); }
  // Marks `n` messages as read and written in the open unit.
  void Handle(int n) {
    for (int i = 0; i < n; i++) {
      options_.UncommittedReadCount++;
      options_.UncommittedReadBytes += 10;
      options_.UncommittedWrittenCount++;
      options_.UncommittedWrittenBytes += 10;
      ASSERT_EQ(0, CountInUnit(&options_));
    }
  }
  RunOptions options_;
};

TEST_F(UnitsOfWorkTest, BatchingTable) {
  struct Case {
    const char* name;
    int32_t limit;
    bool syncpoint;
    int messages;
    size_t commits;
    int32_t leftInUnit;
  } cases[] = {
      {"-t 3 over 7 messages commits after 3 and 6", 3, true, 7, 2, 1},
      {"-t 1 commits every message", 1, true, 4, 4, 0},
      {"-t -1 never commits on count", -1, true, 50, 0, 50},
      {"no syncpoint counts nothing", 3, false, 7, 0, 0},
      {"-t 200 (default) over 199", 200, true, 199, 0, 199},
  };
  for (const Case& c : cases) {
    SetUp();
    options_.DestructiveGet = true;
    options_.TransactionLimit = c.limit;
    options_.UseSyncpoint = c.syncpoint;
    Handle(c.messages);
    EXPECT_EQ(c.commits, gFake.Calls.size()) << c.name;
    EXPECT_EQ(c.leftInUnit, options_.UowMessageCount) << c.name;
  }
}

TEST_F(UnitsOfWorkTest, CommitResetsWhatWasUncommitted) {
  options_.UseSyncpoint = true;
  options_.TransactionLimit = 3;
  Handle(3);
  EXPECT_EQ(0, options_.UncommittedReadCount);
  EXPECT_EQ(0u, options_.UncommittedWrittenBytes);
  Handle(2);
  EXPECT_EQ(2, options_.UncommittedReadCount);
  EXPECT_EQ(20u, options_.UncommittedWrittenBytes);
}

TEST_F(UnitsOfWorkTest, TwoQueueManagersCommitOutputFirst) {
  struct Case {
    bool destructive;
    Calls commit;
    Calls backout;
  } cases[] = {
      {true, {"MQCMIT(20)", "MQCMIT(10)"}, {"MQBACK(20)", "MQBACK(10)"}},
      // A browsed input has nothing to commit or back out.
      {false, {"MQCMIT(20)"}, {"MQBACK(20)"}},
  };
  for (const Case& c : cases) {
    FakeReset(&options_, true);
    options_.UseSyncpoint = true;
    options_.DestructiveGet = c.destructive;
    EXPECT_EQ(0, CommitAll(&options_));
    EXPECT_EQ(c.commit, gFake.Calls);
    gFake.Calls.clear();
    options_.UowMessageCount = 4;
    EXPECT_EQ(0, BackoutAll(&options_));
    EXPECT_EQ(c.backout, gFake.Calls);
    EXPECT_TRUE(options_.RolledBack);
    EXPECT_EQ(0, options_.UowMessageCount);
  }
}

TEST_F(UnitsOfWorkTest, SameQueueManagerCommitsOnlyWithSyncpoint) {
  options_.UseSyncpoint = false;
  EXPECT_EQ(0, CommitAll(&options_));
  EXPECT_TRUE(gFake.Calls.empty());
  options_.UseSyncpoint = true;
  EXPECT_EQ(0, CommitAll(&options_));
  EXPECT_EQ(Calls{"MQCMIT(10)"}, gFake.Calls);
}

TEST_F(UnitsOfWorkTest, FailedCommitTable) {
  struct Case {
    const char* name;
    MQLONG compCode;
    MQLONG reason;
    int expectedRc;
    const char* text;
  } cases[] = {
      {"failure", MQCC_FAILED, 2009, 2009, "MQCMIT(QM1) failed RC(2009) Connection broken"},
      {"a warning counts as failure", MQCC_WARNING, 2003, 2003,
       "MQCMIT(QM1) failed RC(2003) Backed out"},
      {"a failure without reason still fails", MQCC_FAILED, 0, 2195,
       "MQCMIT(QM1) failed RC(2195) Unexpected error"},
  };
  for (const Case& c : cases) {
    SetUp();
    options_.UseSyncpoint = true;
    options_.TransactionLimit = 2;
    options_.UncommittedReadCount = 7;
    gFake.Faults.push_back({"MQCMIT", 0, c.compCode, c.reason});
    options_.UowMessageCount = 1;
    EXPECT_EQ(c.expectedRc, CountInUnit(&options_)) << c.name;
    EXPECT_STREQ(c.text, options_.ExitMessage) << c.name;
    EXPECT_TRUE(options_.StopRequested) << c.name;
    // Nothing was committed, so nothing may be forgotten.
    EXPECT_EQ(7, options_.UncommittedReadCount) << c.name;
  }
}

TEST_F(UnitsOfWorkTest, InputSideCommitFailureAfterOutputSide) {
  FakeReset(&options_, true);
  options_.UseSyncpoint = true;
  options_.DestructiveGet = true;
  gFake.Faults.push_back({"MQCMIT", 1, MQCC_FAILED, 2009});
  EXPECT_EQ(2009, CommitAll(&options_));
  EXPECT_EQ((Calls{"MQCMIT(20)", "MQCMIT(10)"}), gFake.Calls);
  EXPECT_STREQ("MQCMIT(QM1) failed RC(2009) Connection broken", options_.ExitMessage);
}

TEST_F(UnitsOfWorkTest, BackoutKeepsTheFirstErrorText) {
  options_.UseSyncpoint = true;
  options_.DestructiveGet = true;
  options_.UncommittedReadCount = 3;
  snprintf(options_.ExitMessage, sizeof options_.ExitMessage, "MQPUT(Q) failed");
  gFake.Faults.push_back({"MQBACK", 0, MQCC_FAILED, 2009});
  EXPECT_EQ(2009, BackoutAll(&options_));
  EXPECT_STREQ("MQPUT(Q) failed", options_.ExitMessage);
  EXPECT_TRUE(options_.RolledBack);

  // With no text yet the backout failure is shown, spelled as ever.
  SetUp();
  gFake.Faults.push_back({"MQBACK", 0, MQCC_FAILED, 2009});
  EXPECT_EQ(2009, BackoutAll(&options_));
  EXPECT_STREQ("MQBCK(QM1) failed RC(2009) Connection broken", options_.ExitMessage);

  // A warning is ignored, and the undone counts stay for the report.
  SetUp();
  options_.UncommittedReadCount = 3;
  gFake.Faults.push_back({"MQBACK", 0, MQCC_WARNING, 2003});
  EXPECT_EQ(0, BackoutAll(&options_));
  EXPECT_EQ(3, options_.UncommittedReadCount);
}

TEST_F(UnitsOfWorkTest, UnconnectedSlotIsLeftAlone) {
  options_.Qmgrs[0].Hconn = MQHC_UNUSABLE_HCONN;
  options_.UseSyncpoint = true;
  EXPECT_EQ(0, CommitAll(&options_));
  EXPECT_EQ(0, BackoutAll(&options_));
  EXPECT_TRUE(gFake.Calls.empty());
}

TEST_F(UnitsOfWorkTest, FlushFailureCommitsNothing) {
  options_.UseSyncpoint = true;
  options_.TransactionLimit = 1;
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(nullptr, full);
  char buffer[64];
  setvbuf(full, buffer, _IOFBF, sizeof buffer);
  fputs("pending", full);
  options_.OutputStream = full;
  options_.UnflushedCount = 1;
  snprintf(options_.CurrentOutputFile, sizeof options_.CurrentOutputFile, "/dev/full");
  EXPECT_EQ(MQRC_RESOURCE_PROBLEM, CountInUnit(&options_));
  EXPECT_STREQ("Error flushing data to file '/dev/full'RC(28)", options_.ExitMessage);
  EXPECT_TRUE(gFake.Calls.empty());
  options_.OutputStream = nullptr;
  fclose(full);
}

}  // namespace
