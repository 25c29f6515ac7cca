// Several input queues consumed at once, with the real binary against
// localqm: drained into one file or moved to a queue, units of work, the
// file rolled over by age, failures and stop signals that must lose
// nothing, and an MQ library without MQCB.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

const std::vector<std::string> kAll = {"a1", "a2", "a3", "a4", "b1", "b2", "b3"};

class ConsumeQueuesTest : public QueueTest {
 public:
  ConsumeQueuesTest() : QueueTest({"Q1", "Q2", "Q3"}) {}
  void TearDown() override { RunLocalqm({"fault", "QM1", "--clear"}); }

  // Q1 holds a1..a4, Q2 b1..b3, Q3 nothing.
  static void Fill() {
    LocalqmOrFail({"fault", "QM1", "--clear"});
    for (const char* q : {"Q1", "Q2", "Q3"}) LocalqmOrFail({"clear", "QM1", q});
    for (const std::string& t : kAll)
      LocalqmOrFail({"put", "QM1", t[0] == 'a' ? "Q1" : "Q2", "--text", t});
  }
  // Every message on the three queues, sorted: what conservation compares.
  static std::vector<std::string> Everywhere() {
    std::vector<std::string> all;
    for (const char* q : {"Q1", "Q2", "Q3"})
      for (const std::string& d : QueueData(q)) all.push_back(d);
    return Sorted(all);
  }
  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
  static std::vector<std::string> FileData(const std::string& name) { return Sorted(FileMessages(name)); }
};

// Drained into one file; or, with a library without the optional entry
// points, refused before anything moves, with no count lines.
TEST_F(ConsumeQueuesTest, EveryQueueDrainsIntoOneFile) {
  const std::string counts =
      "Read    - Files:   0  Messages:      7  Bytes:          14\n"
      "Written - Files:   1  Messages:      7  Bytes:          14\n";
  struct Case {
    const char* name;
    std::vector<std::string> args, env;
    std::string err;
    size_t leftOnQ1, leftOnQ2;
  } cases[] = {
      // clang-format off
      {"browse, no wait", {"-i", "Q1", "-i", "Q2", "-i", "Q3"}, {}, counts, 4, 3},
      {"get, no wait", {"-I", "Q1", "-I", "Q2", "-I", "Q3", "-t", "2"}, {}, counts, 0, 0},
      {"get, waiting", {"-I", "Q1", "-I", "Q2", "-I", "Q3", "-w", "1"}, {}, counts, 0, 0},
      {"no MQCB", {"-I", "Q1", "-I", "Q2"}, {"MQ_INSTALLATION_PATH=" + MqInstallPath() + "-nocb"},
       "Consuming from multiple queues requires MQCB support in your MQ installation\n", 4, 3},
      // clang-format on
  };
  for (const Case& c : cases) {
    Fill();
    std::remove(ScratchPath("all.zpd").c_str());  // the last row's file
    std::vector<std::string> args = {"-m", "QM1", "-F", "all.zpd"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = RunZeplo(args, "", c.env);
    const bool moved = c.err == counts;
    EXPECT_EQ(moved ? 0 : Status(2298), r.exitStatus) << c.name << "\n" << r.err;
    EXPECT_EQ(c.err, AfterBanner(r.err)) << c.name;
    EXPECT_EQ(moved ? kAll : std::vector<std::string>{}, FileData("all.zpd")) << c.name;
    EXPECT_EQ(c.leftOnQ1, QueueData("Q1").size()) << c.name;
    EXPECT_EQ(c.leftOnQ2, QueueData("Q2").size()) << c.name;
  }
}

// -t 3 commits after every third message and once more when every queue
// has gone idle: while the run still listens, everything is committed.
TEST_F(ConsumeQueuesTest, UnitsOfWorkEveryLimitAndWhenAllIdle) {
  Fill();
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-I", "Q2", "-o", "Q3", "-t", "3", "-va"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  size_t commits = 0;
  for (const std::string& line : SplitLines(r.err)) commits += Has(line, "MQCMIT on qmgr 'QM1' returned 0");
  EXPECT_EQ(3u, commits) << r.err;
  EXPECT_EQ(kAll, Everywhere());

  Fill();
  BackgroundRun run({"-m", "QM1", "-I", "Q1", "-I", "Q2", "-o", "Q3", "-t", "5", "-w", "3"});
  // A browse sees committed messages only.
  EXPECT_TRUE(WaitFor([&] { return run.Done() || QueueData("Q3").size() == 7; }, 30000));
  EXPECT_FALSE(run.Done()) << "nothing was committed before the run ended";
  EXPECT_EQ(0, run.Finish().exitStatus) << run.Finish().err;
  EXPECT_EQ(7u, QueueData("Q3").size());
}

// A queue failing its gets (as when it is deleted), a commit failing, an
// output queue filling up: the run stops with the reason, backs out its
// open unit, and every message is still somewhere, once.
TEST_F(ConsumeQueuesTest, FailuresStopBackOutAndLoseNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> fault;
    int reason;
    const char* text;
  } cases[] = {
      // clang-format off
      {"queue deleted", {"MQGET", "--queue", "Q2", "--reason", "2052", "--after", "1"}, 2052,
       "MQCB(CALLBACK)(QM1/Q2) failed RC(2052) Queue deleted\n"},
      {"commit backed out", {"MQCMIT", "--reason", "2003", "--after", "1", "--times", "1"}, 2003,
       "MQCMIT(QM1) failed RC(2003) "},
      {"output full", {"MQPUT", "--queue", "Q3", "--reason", "2053", "--after", "3"}, 2053,
       "MQPUT(Q3) failed RC(2053) "},
      // clang-format on
  };
  for (const char* wait : {"0", "5"}) {
    for (const Case& c : cases) {
      Fill();
      std::vector<std::string> fault = {"fault", "QM1"};
      fault.insert(fault.end(), c.fault.begin(), c.fault.end());
      LocalqmOrFail(fault);
      RunResult r =
          RunZeplo({"-m", "QM1", "-I", "Q1", "-I", "Q2", "-o", "Q3", "-t", "2", "-w", wait});
      LocalqmOrFail({"fault", "QM1", "--clear"});
      std::string what = std::string(c.name) + " -w " + wait;
      EXPECT_EQ(Status(c.reason), r.exitStatus) << what << "\n" << r.err;
      std::string err = AfterBanner(r.err);
      EXPECT_EQ(0u, err.find(c.text)) << what << "\n" << err;
      EXPECT_NE(std::string::npos, err.find("Operation rolled back")) << what << "\n" << err;
      EXPECT_EQ(kAll, Everywhere()) << what;
    }
  }
}

// Outside syncpoint a consumed message that cannot be delivered goes back
// to its queue whole, with its own MsgId.
TEST_F(ConsumeQueuesTest, UndeliveredMessageOutsideSyncpointGoesBack) {
  Fill();
  std::vector<std::string> ids;
  for (const char* q : {"Q1", "Q2"})
    for (const MessageFields& m : BrowseMessages("QM1", q)) ids.push_back(m.at("MsgId"));
  LocalqmOrFail({"fault", "QM1", "MQPUT", "--queue", "Q3", "--reason", "2053", "--after", "2"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-I", "Q2", "-o", "Q3", "-t", "0"});
  EXPECT_EQ(Status(2053), r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(": it was put back on queue 'Q")) << r.err;
  EXPECT_EQ(kAll, Everywhere());
  for (const char* q : {"Q1", "Q2", "Q3"})
    for (const MessageFields& m : BrowseMessages("QM1", q))
      EXPECT_NE(ids.end(), std::find(ids.begin(), ids.end(), m.at("MsgId"))) << m.at("Data");
}

// True when process `pid` is alive and has closed `path` (none of its
// /proc fd links leads there).
bool RunsWithoutOpen(const std::string& pid, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path wanted = fs::weakly_canonical(path, ec);
  fs::directory_iterator fds("/proc/" + pid + "/fd", ec);
  if (ec) return false;
  for (const auto& fd : fds) {
    std::error_code linkError;
    if (fs::read_symlink(fd.path(), linkError) == wanted) return false;
  }
  return true;
}

TEST_F(ConsumeQueuesTest, OutputFileRollsOverByAgeWhileConsuming) {
  Fill();
  // a1..a4 and b1..b3 go into the first file at once; consumption stops
  // when it is a second old and the file closes; "late", put after that,
  // opens the second file.
  PtySession pty;
  ASSERT_TRUE(
      PtyStart(&pty, ZeploPath(),
               {"-m", "QM1", "-I", "Q1", "-I", "Q2", "-f", "out%n.zpd", "-La1s", "-w", "4"}));
  EXPECT_TRUE(WaitFor(
      [&] {
        return FileData("out1.zpd").size() == 7 &&
               RunsWithoutOpen(std::to_string(pty.pid), ScratchPath("out1.zpd"));
      },
      30000));
  LocalqmOrFail({"put", "QM1", "Q2", "--text", "late"});
  EXPECT_EQ(0, PtyFinish(&pty)) << PtyText(pty);
  EXPECT_EQ(kAll, FileData("out1.zpd"));
  EXPECT_EQ(std::vector<std::string>{"late"}, FileData("out2.zpd"));
  EXPECT_TRUE(Has(PtyText(pty), "Written - Files:   2  Messages:      8")) << PtyText(pty);
}

// A stop signal while the run listens ends it at once, not when -w runs
// out: the one unit is backed out, the file it opened removed.
TEST_F(ConsumeQueuesTest, StopSignalBacksTheUnitOut) {
  Fill();
  PtySession pty;
  ASSERT_TRUE(
      PtyStart(&pty, ZeploPath(),
               {"-m", "QM1", "-I", "Q1", "-I", "Q2", "-t", "-1", "-w", "600", "-F", "all.zpd"}));
  ASSERT_TRUE(WaitFor([] { return FileData("all.zpd").size() == kAll.size(); }, 30000));
  kill(pty.pid, SIGTERM);
  EXPECT_EQ(Status(2549), PtyFinish(&pty)) << PtyText(pty);
  EXPECT_NE(std::string::npos, PtyText(pty).find(" at a message boundary\n")) << PtyText(pty);
  EXPECT_FALSE(FileExists(ScratchPath("all.zpd")));
  EXPECT_EQ(kAll, Everywhere());
}

}  // namespace
