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
  void SetUp() override { FakeReset(&o_); }
  RunOptions o_;
};

TEST_F(UnitsOfWorkTest, BatchingTable) {
  struct Case {
    int32_t limit;
    bool syncpoint;
    int messages;
    size_t commits;
    int32_t leftInUnit;
  } cases[] = {
      {3, true, 7, 2, 1},      // commits after 3 and 6
      {1, true, 4, 4, 0},      {-1, true, 50, 0, 50},  // -t -1: never on count
      {3, false, 7, 0, 0},     {200, true, 199, 0, 199},
  };
  for (const Case& c : cases) {
    SetUp();
    o_.TransactionLimit = c.limit;
    o_.UseSyncpoint = c.syncpoint;
    for (int i = 0; i < c.messages; i++) {
      o_.UncommittedReadCount++;
      o_.UncommittedWrittenBytes += 10;
      ASSERT_EQ(0, CountInUnit(&o_));
    }
    EXPECT_EQ(c.commits, gFake.Calls.size()) << c.limit << "/" << c.messages;
    EXPECT_EQ(c.leftInUnit, o_.UowMessageCount) << c.limit << "/" << c.messages;
    int pending = c.commits > 0 ? c.leftInUnit : c.messages;  // reset by each commit
    EXPECT_EQ(pending, o_.UncommittedReadCount);
    EXPECT_EQ(10u * static_cast<unsigned>(pending), o_.UncommittedWrittenBytes);
  }
}

TEST_F(UnitsOfWorkTest, OrderOfCallsTable) {
  struct Case {
    bool twoQmgrs, destructive, syncpoint, connected;
    Calls commit, backout;
  } cases[] = {
      {true, true, true, true, {"MQCMIT(20)", "MQCMIT(10)"}, {"MQBACK(20)", "MQBACK(10)"}},
      {true, false, true, true, {"MQCMIT(20)"}, {"MQBACK(20)"}},  // a browse has no unit
      {false, true, true, true, {"MQCMIT(10)"}, {"MQBACK(10)"}},
      {false, true, false, true, {}, {"MQBACK(10)"}},
      {false, true, true, false, {}, {}},  // nothing to resolve without a connection
  };
  for (const Case& c : cases) {
    FakeReset(&o_, c.twoQmgrs);
    o_.UseSyncpoint = c.syncpoint;
    o_.DestructiveGet = c.destructive;
    if (!c.connected) o_.Qmgrs[0].Hconn = MQHC_UNUSABLE_HCONN;
    EXPECT_EQ(0, CommitAll(&o_));
    EXPECT_EQ(c.commit, gFake.Calls);
    gFake.Calls.clear();
    o_.UowMessageCount = 4;
    o_.UncommittedReadCount = 4;
    EXPECT_EQ(0, BackoutAll(&o_));
    EXPECT_EQ(c.backout, gFake.Calls);
    EXPECT_TRUE(o_.RolledBack);
    EXPECT_EQ(0, o_.UowMessageCount);
    EXPECT_EQ(4, o_.UncommittedReadCount);  // what was undone, for the report
  }
}

TEST_F(UnitsOfWorkTest, FailedCommitTable) {
  struct Case {
    bool twoQmgrs;
    int skip;
    MQLONG compCode, reason;
    int rc;
    const char* text;
  } cases[] = {
      {false, 0, MQCC_FAILED, 2009, 2009, "MQCMIT(QM1) failed RC(2009) Connection broken"},
      {false, 0, MQCC_WARNING, 2003, 2003, "MQCMIT(QM1) failed RC(2003) Backed out"},
      {false, 0, MQCC_FAILED, 0, 2195, "MQCMIT(QM1) failed RC(2195) Unexpected error"},
      {true, 0, MQCC_FAILED, 2009, 2009, "MQCMIT(QM2) failed RC(2009) Connection broken"},
      {true, 1, MQCC_FAILED, 2009, 2009, "MQCMIT(QM1) failed RC(2009) Connection broken"},
  };
  for (const Case& c : cases) {
    FakeReset(&o_, c.twoQmgrs);
    o_.UseSyncpoint = o_.DestructiveGet = true;
    o_.TransactionLimit = 2;
    o_.UowMessageCount = 1;
    o_.UncommittedReadCount = 7;
    gFake.Faults.push_back({"MQCMIT", c.skip, c.compCode, c.reason});
    EXPECT_EQ(c.rc, CountInUnit(&o_)) << c.text;
    EXPECT_STREQ(c.text, o_.ExitMessage);
    EXPECT_TRUE(o_.StopRequested);
    EXPECT_EQ(7, o_.UncommittedReadCount);  // nothing may be forgotten
  }
}

TEST_F(UnitsOfWorkTest, FailedBackoutTable) {
  struct Case {
    const char* earlier;
    MQLONG compCode;
    int rc;
    const char* text;
  } cases[] = {
      {"MQPUT(Q) failed", MQCC_FAILED, 2009, "MQPUT(Q) failed"},  // the cause stays shown
      {"", MQCC_FAILED, 2009, "MQBCK(QM1) failed RC(2009) Connection broken"},
      {"", MQCC_WARNING, 0, ""},  // a warning is ignored
  };
  for (const Case& c : cases) {
    SetUp();
    snprintf(o_.ExitMessage, sizeof o_.ExitMessage, "%s", c.earlier);
    gFake.Faults.push_back({"MQBACK", 0, c.compCode, 2009});
    EXPECT_EQ(c.rc, BackoutAll(&o_));
    EXPECT_STREQ(c.text, o_.ExitMessage);
    EXPECT_TRUE(o_.RolledBack);
  }
}

TEST_F(UnitsOfWorkTest, FlushFailureCommitsNothing) {
  o_.UseSyncpoint = true;
  o_.TransactionLimit = 1;
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(nullptr, full);
  fputs("pending", full);
  o_.OutputStream = full;
  o_.UnflushedCount = 1;
  snprintf(o_.CurrentOutputFile, sizeof o_.CurrentOutputFile, "/dev/full");
  EXPECT_EQ(MQRC_RESOURCE_PROBLEM, CountInUnit(&o_));
  EXPECT_STREQ("Error flushing data to file '/dev/full'RC(28)", o_.ExitMessage);
  EXPECT_TRUE(gFake.Calls.empty());
  o_.OutputStream = nullptr;
  fclose(full);
}

}  // namespace
