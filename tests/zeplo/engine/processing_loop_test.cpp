// The processing loop and its units of work against the fake queue
// manager: batching, commit and backout order and texts,
// faults in mid-unit and at the last commit, filters on a move, ranges,
// and the status line.
#include <algorithm>

#include "tests/zeplo/engine/engine_test_util.h"

namespace {

using Strings = std::vector<std::string>;

class ProcessingLoopTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&o_);
    element_ = OpenedQueue(1, "IN.Q");
    o_.Counters.MessageIndex = -1;
  }
  void TearDown() override { CloseOutputFile(&o_); }
  int Run(int messages) {
    for (int i = 1; i <= messages; i++) FakeAddMessage("msg" + std::to_string(i));
    return RunProcessingLoop(&o_, &element_);
  }
  static Strings Left() {
    Strings out;
    for (const FakeMessage& m : gFake.Queue) out.push_back(m.Data);
    return out;
  }
  TestRun o_;
  QueueElement element_;
};

// A browse reads up to the end of a range and takes nothing; a move takes
// only what its filters select, and skips one taken by someone else.
TEST_F(ProcessingLoopTest, RangesAndFiltersChooseWhatIsTaken) {
  const Strings all = {"keep 1", "take 2", "keep 3", "take 4"};
  struct {
    int first, last;
    bool inverted, move, takenElsewhere;
    int read, selected;
    Strings left;
  } cases[] = {
      {3, 3, false, false, false, 3, 1, all},
      {2, 3, false, false, false, 3, 2, all},
      {2, 3, true, false, false, 3, 1, all},
      {3, 0, false, false, false, 4, 2, all},
      {0, 0, false, true, false, 4, 2, {"keep 1", "keep 3"}},
      // Calls: browse 1, browse 2, take 2 (gone), ...
      {0, 0, false, true, true, 4, 1, {"keep 1", "take 2", "keep 3"}},
  };
  for (const auto& c : cases) {
    SetUp();
    const auto row = &c - cases;
    for (const std::string& m : all) FakeAddMessage(m);
    o_.Parsed.RangeFirst = c.first, o_.Parsed.RangeLast = c.last;
    o_.Parsed.InvertSelection = c.inverted;
    o_.Settings.SelectionActive = true;
    if (c.move) o_.Parsed.DestructiveGet = true, o_.Parsed.SearchAscii[0] = SearchString{4, "take"};
    else snprintf(o_.Parsed.OutputFile, sizeof o_.Parsed.OutputFile, "null");
    if (c.takenElsewhere) gFake.Faults.push_back({"MQGET", 2, MQCC_FAILED, MQRC_NO_MSG_UNDER_CURSOR});
    ASSERT_EQ(0, RunProcessingLoop(&o_, &element_)) << row;
    EXPECT_STREQ("", o_.ExitMessage) << row;
    EXPECT_EQ(c.read, o_.Counters.ReadCount) << row;
    EXPECT_EQ(c.selected, o_.Counters.SelectedCount) << row;
    EXPECT_EQ(c.left, Left()) << row;
    CloseOutputFile(&o_);
  }
}

// The last unit is committed when the source ends; when that commit
// fails, the unit goes back rather than waiting for a disconnect that
// would commit it.
TEST_F(ProcessingLoopTest, FailedLastCommitBacksOutItsUnit) {
  o_.Parsed.DestructiveGet = true;
  o_.Parsed.TransactionLimit = 3;
  gFake.Faults.push_back({"MQCMIT", 2, MQCC_FAILED, 2009});
  EXPECT_EQ(2009, Run(7));
  EXPECT_EQ(1, std::count(gFake.Calls.begin(), gFake.Calls.end(), "MQBACK(10)"));
  EXPECT_EQ(Strings{"msg7"}, Left());
  EXPECT_TRUE(gFake.Pending.empty());
  EXPECT_TRUE(o_.RolledBack);
  EXPECT_EQ(0, o_.Engine.UowMessageCount);  // nothing left open for the disconnect
}

TEST_F(ProcessingLoopTest, CommitAndBackoutTable) {
  const Strings both = {"MQCMIT(20)", "MQCMIT(10)"}, one = {"MQCMIT(10)"}, back = {"MQBACK(10)"};
  struct Case {
    bool twoQmgrs, destructive;
    const char* before;  // an error text set earlier
    FakeFault fault;     // MQBACK: the call is BackoutAll, else CommitAll
    int rc;
    Strings calls;
    const char* text;
  } cases[] = {
      {true, true, "", {}, 0, both, ""},  // output side first
      {true, false, "", {}, 0, {"MQCMIT(20)"}, ""},  // a browse has no unit
      {false, true, "", {"MQCMIT", 0, MQCC_WARNING, 2003}, 2003, one, "MQCMIT(QM1) failed RC(2003) Backed out"},
      {false, true, "", {"MQCMIT", 0, MQCC_FAILED, 0}, 2195, one, "MQCMIT(QM1) failed RC(2195) Unexpected error"},
      {true, true, "", {"MQCMIT", 1, MQCC_FAILED, 2009}, 2009, both, "MQCMIT(QM1) failed RC(2009) Connection broken"},
      // A failed commit or backout leaves an earlier error text alone: the
      // first sticks. A backout's warning is ignored.
      {false, true, "Can not write to file 'f'", {"MQCMIT", 0, MQCC_FAILED, 2009}, 2009, one, "Can not write to file 'f'"},
      {false, true, "MQPUT(Q) failed", {"MQBACK", 0, MQCC_FAILED, 2009}, 2009, back, "MQPUT(Q) failed"},
      {false, true, "", {"MQBACK", 0, MQCC_FAILED, 2009}, 2009, back, "MQBCK(QM1) failed RC(2009) Connection broken"},
      {false, true, "", {"MQBACK", 0, MQCC_WARNING, 2009}, 0, back, ""},
  };
  for (const Case& c : cases) {
    FakeReset(&o_, c.twoQmgrs);
    const bool backout = c.fault.Call == "MQBACK";
    o_.Engine.UseSyncpoint = true;
    o_.Parsed.DestructiveGet = c.destructive;
    o_.Counters.UncommittedReadCount = 3;
    snprintf(o_.ExitMessage, sizeof o_.ExitMessage, "%s", c.before);
    if (!c.fault.Call.empty()) gFake.Faults = {c.fault};
    EXPECT_EQ(c.rc, backout ? BackoutAll(&o_) : CommitAll(&o_)) << c.text;
    EXPECT_EQ(c.calls, gFake.Calls) << c.text;
    EXPECT_STREQ(c.text, o_.ExitMessage);
    // Reset only by a commit; a backout keeps what was undone.
    EXPECT_EQ(c.rc != 0 || backout ? 3 : 0, o_.Counters.UncommittedReadCount) << c.text;
  }
}

TEST_F(ProcessingLoopTest, FlushFailureCommitsNothing) {
  o_.Engine.UseSyncpoint = true;
  o_.Parsed.TransactionLimit = 1;
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(nullptr, full);
  fputs("pending", full);
  o_.Files.OutputStream = full;
  o_.Engine.UnflushedCount = 1;
  snprintf(o_.Files.CurrentOutputFile, sizeof o_.Files.CurrentOutputFile, "/dev/full");
  EXPECT_EQ(MQRC_RESOURCE_PROBLEM, CountInUnit(&o_));
  EXPECT_STREQ("Error flushing data to file '/dev/full'RC(28)", o_.ExitMessage);
  EXPECT_TRUE(gFake.Calls.empty());
  o_.Files.OutputStream = nullptr;
  fclose(full);
}

TEST_F(ProcessingLoopTest, StatusLineAndProgress) {
  o_.Engine.ThruputTime = 1000;
  o_.Counters.WrittenCount = 8;
  std::string err = Captured([&] {
    for (auto [count, now] : {std::pair{10, 1004}, {10, 1004}, {5, 1005}}) {
      o_.Engine.StatusCount = count;
      o_.Counters.ReadCount += count;
      PrintStatusLine(&o_, now);
    }
  });
  Strings lines;  // without the local time HH:MM:SS at their front
  for (size_t p = 0, e; (e = err.find('\n', p)) != std::string::npos; p = e + 1)
    lines.push_back(err.substr(p + 8, e - p - 8));
  EXPECT_EQ((Strings{"> Status - Read:        10 Written:         8 Thruput:     2.5 msg/sec",
                     "> Status - Read:        20 Written:         8 Thruput:       * msg/sec",
                     "> Status - Read:        25 Written:         8 Thruput:    15.0 msg/sec"}),
            lines);
  EXPECT_EQ(0u, o_.Engine.StatusCount);
  // {done, total, percent, elapsed, eta}
  int64_t progress[][5] = {{0, 100, 0, 50, 0}, {1, 100, 1, 10, 990}, {50, 100, 50, 30, 30},
                           {250, 100, 99, 99, 1}, {1, 3, 33, 10, 20}, {5, 0, 0, 1, 0}};
  for (auto& p : progress) {
    EXPECT_EQ(p[2], ProgressPercent(p[0], p[1]));
    EXPECT_EQ(p[4], ProgressEtaSeconds(static_cast<int32_t>(p[2]), p[3]));
  }
}

}  // namespace
