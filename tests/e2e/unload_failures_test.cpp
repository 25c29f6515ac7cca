// Unloading when something breaks, with the real binary against localqm:
// a get or a commit failing in mid-run, the queue deleted or the queue
// manager stopped while the run waits, a file that cannot be opened or
// written, messages larger than the buffer, and the -w wait itself. The
// rule every case checks: a message is either in the file and gone from
// the queue (committed), or still on the queue; the rolled-back report
// counts only what stayed done.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

// The two count lines: `read` messages read, `written` written to `files`
// files, every message `size` bytes long.
std::string Counts(int read, int files, int written, int size = 2) {
  char lines[160];
  snprintf(lines, sizeof lines,
           "Read    - Files:   0  Messages:%7d  Bytes:%12d\n"
           "Written - Files:%4d  Messages:%7d  Bytes:%12d\n",
           read, read * size, files, written, written * size);
  return lines;
}
const std::string kRolledBack = "\nOperation rolled back, completed operations as follows:\n";

class UnloadFailureTest : public QueueTest {
 public:
  void TearDown() override { RunLocalqm({"fault", "QM1", "--clear"}); }

  static void Reset(const std::vector<std::string>& texts) {
    LocalqmOrFail({"fault", "QM1", "--clear"});
    LocalqmOrFail({"clear", "QM1", "Q1"});
    Put(texts);
  }
  // Message data lengths in a message file.
  static std::vector<size_t> FileMessageLengths(const std::string& name) {
    std::vector<size_t> lengths;
    for (const std::string& data : FileMessages(name)) lengths.push_back(data.size());
    return lengths;
  }
  static size_t MessagesInFile(const std::string& name) { return FileMessages(name).size(); }
  // Runs zeplo on QM1 with `args` after setting the localqm fault `fault`
  // (none when empty), which is cleared again after the run.
  static RunResult RunWithFault(const std::string& fault, const std::string& args) {
    if (!fault.empty()) LocalqmOrFail(Words("fault QM1 " + fault));
    RunResult r = RunZeplo(Words("-m QM1 " + args));
    LocalqmOrFail({"fault", "QM1", "--clear"});
    return r;
  }
};

const std::vector<std::string> kSeven = {"m1", "m2", "m3", "m4", "m5", "m6", "m7"};

// A get or a commit fails in mid-run: what was committed stays moved, the
// open unit goes back to the queue and out of the file again.
TEST_F(UnloadFailureTest, FailureMidRunLeavesEveryUncommittedMessage) {
  const std::string broken = "MQGET(Q1) failed RC(2009) Connection broken\n";
  const std::string backedOut = "MQCMIT(QM1) failed RC(2003) Backed out\n";
  const std::string getFails = "MQGET --reason 2009 --queue Q1 --after ";  // + good gets
  const std::string commitFails = "MQCMIT --reason 2003 --times 1 --after ";  // + good commits
  struct Case {
    const char* name;
    std::string args, fault;
    std::string first;  // the error line
    int moved;          // messages read and written before the failure
    std::vector<std::string> left;
    int committed;  // messages the rolled-back report keeps; -1: no report
  } cases[] = {
      // A browse takes nothing off the queue, so there is nothing to undo.
      {"browse", "-i Q1", getFails + "4", broken, 4, kSeven, -1},
      // Units of two: m1..m4 committed, m5 in the open unit goes back.
      {"units of 2", "-I Q1 -t 2", getFails + "5", broken, 5, {"m5", "m6", "m7"}, 4},
      // No count limit: nothing is committed before the queue runs dry.
      {"one unit", "-I Q1 -t -1", getFails + "5", broken, 5, kSeven, 0},
      // Outside syncpoint each message is browsed, then taken: every get
      // is final and nothing is backed out.
      {"no syncpoint", "-I Q1 -t 0", getFails + "10", broken, 5, {"m6", "m7"}, -1},
      // The second commit (m4..m6) fails: m1..m3 stay moved.
      {"commit", "-I Q1 -t 3", commitFails + "1", backedOut, 6, {"m4", "m5", "m6", "m7"}, 3},
      // The only commit, when the queue is found empty, fails: all return.
      {"final commit", "-I Q1", commitFails + "0", backedOut, 7, kSeven, 0},
  };
  for (const Case& c : cases) {
    Reset(kSeven);
    RunResult r = RunWithFault(c.fault, "-F out.zpd " + c.args);
    EXPECT_EQ(Status(c.first == broken ? 2009 : 2003), r.exitStatus) << c.name << "\n" << r.err;
    // A file the backed-out unit opened holds only its messages: it goes.
    int keptFiles = c.committed == 0 ? 0 : 1;
    EXPECT_EQ(
        c.first + Counts(c.moved, 1, c.moved) +
            (c.committed < 0 ? "" : kRolledBack + Counts(c.committed, keptFiles, c.committed)),
        AfterBanner(r.err))
        << c.name;
    EXPECT_EQ(c.left, QueueData()) << c.name;
    // What went back to the queue left the file again: every message is in
    // one place only.
    EXPECT_EQ(static_cast<size_t>(c.committed >= 0 ? c.committed : c.moved),
              MessagesInFile("out.zpd"))
        << c.name;
    EXPECT_EQ(keptFiles == 1, FileExists(ScratchPath("out.zpd"))) << c.name;
  }
}

// The run waits for more messages and its queue goes away under it, or
// its queue manager stops. The run ends at once with the reason, and what
// was committed before the wait stays committed.
TEST_F(UnloadFailureTest, QueueOrQueueManagerGoingAwayDuringTheWait) {
  struct Case {
    const char* name;
    std::string fault;   // set before the run
    std::string action;  // done while the run waits
    int reason;
    const char* text;
  } cases[] = {
      // An open queue cannot be removed with the admin command; the queue
      // manager reports a deleted queue to the get that waits on it (the
      // third: the first takes the message, the second finds no more and
      // lets the unit be committed before waiting).
      {"queue deleted", "fault QM1 MQGET --reason 2052 --after 2", "", 2052, "Queue deleted"},
      {"qmgr stopped", "", "stop QM1", 2162, "QMgr stopping"},
  };
  for (const Case& c : cases) {
    Reset({"early"});
    if (!c.fault.empty()) LocalqmOrFail(Words(c.fault));
    BackgroundRun run({"-m", "QM1", "-I", "Q1", "-w", "60", "-F", "out.zpd"});
    if (!c.action.empty()) {
      // The message is committed before the wait begins.
      ASSERT_TRUE(WaitFor([] { return MessagesInFile("out.zpd") == 1 && Depth() == 0; }, 30000))
          << c.name;
      LocalqmOrFail(Words(c.action));
    }
    const RunResult& r = run.Finish();
    EXPECT_LT(run.Seconds(), 50.0) << c.name << ": the run sat out its wait";
    EXPECT_EQ(Status(c.reason), r.exitStatus) << c.name << "\n" << r.err;
    EXPECT_EQ("MQGET(Q1) failed RC(" + std::to_string(c.reason) + ") " + c.text + "\n" +
                  // The unit backed out held nothing: no rolled-back report.
                  Counts(1, 1, 1, 5),
              AfterBanner(r.err))
        << c.name;
    EXPECT_EQ(std::vector<size_t>{5}, FileMessageLengths("out.zpd")) << c.name;
    // A restarted queue manager does not bring the committed message back.
    RunLocalqm({"start", "QM1"});
    EXPECT_EQ(0, Depth()) << c.name;
  }
}

// The number of messages on a count line of the given label; -1 if none.
int CountedMessages(const std::string& text, const std::string& label) {
  for (const std::string& line : SplitLines(text)) {
    size_t at = line.rfind(label, 0) == 0 ? line.find("Messages:") : std::string::npos;
    std::string count = at == std::string::npos ? "" : line.substr(at + 9, 8);
    std::erase(count, ',');  // thousands are grouped
    if (!count.empty()) return atoi(count.c_str());
  }
  return -1;
}

// The queue manager stops while messages are streaming out. Whenever that
// happens, each message is on the queue or committed to the file.
TEST_F(UnloadFailureTest, QueueManagerStoppedInMidStream) {
  constexpr int kMessages = 5000;
  struct Case {
    const char* input;
    int unit;
  } cases[] = {{"-I", 7}, {"-i", 0}};
  for (const Case& c : cases) {
    RunLocalqm({"start", "QM1"});
    Reset({});
    LocalqmOrFail({"alter", "QM1", "Q1", "--maxdepth", std::to_string(kMessages)});
    LocalqmOrFail({"put", "QM1", "Q1", "--text", "abcdefgh", "--count", std::to_string(kMessages)});
    std::remove(ScratchPath("out.zpd").c_str());  // the last case's file
    BackgroundRun run({"-m", "QM1", c.input, "Q1", "-t", std::to_string(c.unit), "-F", "out.zpd"});
    ASSERT_TRUE(WaitFor([] { return MessagesInFile("out.zpd") > 0; }, 30000)) << c.input;
    LocalqmOrFail({"stop", "QM1"});
    const RunResult& r = run.Finish();
    LocalqmOrFail({"start", "QM1"});
    int left = Depth();
    int inFile = static_cast<int>(MessagesInFile("out.zpd"));
    std::string err = AfterBanner(r.err);
    if (r.exitStatus == 0) {
      // The run won the race: everything went.
      EXPECT_EQ(kMessages, inFile) << err;
      EXPECT_EQ(std::string(c.input) == "-i" ? kMessages : 0, left);
      continue;
    }
    EXPECT_EQ(Status(2162), r.exitStatus) << c.input << "\n" << err;
    // The stop can hit a get or a commit.
    EXPECT_TRUE(err.rfind("MQGET(Q1) failed RC(2162) QMgr stopping\n", 0) == 0 ||
                err.rfind("MQCMIT(QM1) failed RC(2162) QMgr stopping\n", 0) == 0)
        << err;
    if (std::string(c.input) == "-i") {
      EXPECT_EQ(inFile, CountedMessages(err, "Written")) << err;
      EXPECT_EQ(kMessages, left);
      EXPECT_EQ(std::string::npos, err.find("rolled back")) << err;
      continue;
    }
    // What the rolled-back report keeps is what left the queue, and the
    // undone unit's messages were taken back out of the file. Without the
    // report the stop found the unit empty: all was committed.
    size_t report = err.find(kRolledBack);
    int committed =
        CountedMessages(report == std::string::npos ? err : err.substr(report + 2), "Written");
    EXPECT_EQ(kMessages, committed + left) << c.input << " -t " << c.unit << "\n" << err;
    EXPECT_EQ(inFile, committed) << err;
  }
}

// The program itself is ended in the middle of a unit: Ctrl-C at its
// terminal, or a signal from outside. Its gets were under syncpoint, so
// every message of the open unit goes back to the queue. A signal it can
// catch stops it at a message boundary: it backs the unit out itself and
// takes the unit's messages out of the file again (a file the unit opened
// goes). Only SIGKILL leaves them in the file as well.
TEST_F(UnloadFailureTest, RunEndedInMidUnitLosesNothing) {
  struct Case {
    const char* name;
    const char* keys;  // typed at the terminal; null: the signal is sent
    int sendSignal;
    int status;
    size_t inFile;
  } cases[] = {
      {"Ctrl-C", "\x03", 0, Status(2549), 0},
      {"SIGTERM", nullptr, SIGTERM, Status(2549), 0},
      {"SIGHUP", nullptr, SIGHUP, Status(2549), 0},
      {"SIGKILL", nullptr, SIGKILL, -SIGKILL, 4},
  };
  for (const Case& c : cases) {
    Reset({"m1", "m2", "m3", "m4"});
    std::remove(ScratchPath("out.zpd").c_str());
    PtySession pty;
    // One unit for the whole run: nothing is committed before the end.
    ASSERT_TRUE(PtyStart(&pty, ZeploPath(),
                         {"-m", "QM1", "-I", "Q1", "-t", "-1", "-w", "60", "-F", "out.zpd"}));
    ASSERT_TRUE(WaitFor([] { return MessagesInFile("out.zpd") == 4; }, 30000)) << c.name;
    if (c.keys != nullptr) {
      PtySend(&pty, c.keys);
    } else {
      kill(pty.pid, c.sendSignal);
    }
    EXPECT_EQ(c.status, PtyFinish(&pty)) << c.name << "\n" << PtyText(pty);
    EXPECT_EQ(c.inFile, MessagesInFile("out.zpd")) << c.name;
    if (c.inFile == 0) {
      EXPECT_NE(std::string::npos, PtyText(pty).find(" at a message boundary\n")) << c.name;
      EXPECT_FALSE(FileExists(ScratchPath("out.zpd"))) << c.name;
    }
    // The next connection finds the unit of the dead one backed out.
    RunResult count = RunZeplo({"-m", "QM1", "-i", "Q1", "-dK"});
    EXPECT_EQ("4", count.out) << c.name << "\n" << count.err;
    EXPECT_EQ((std::vector<std::string>{"m1", "m2", "m3", "m4"}), QueueData()) << c.name;
  }
}

// The output cannot be opened or written, or no storage can be had for
// the messages: the run stops before anything moves.
TEST_F(UnloadFailureTest, OutputOrStorageFailingMovesNothing) {
  ASSERT_EQ(0, RunProgram("/bin/mkdir", {ScratchPath("adir")}).exitStatus);
  const std::string writeFailed = "Can not write to file '/dev/full'\n";
  struct Case {
    std::string args, fault;
    int reason;
    std::string err;
    bool whole;  // err is the whole text after the banner, not just its start
  };
  std::vector<Case> cases = {
      {"-I Q1 -F /dev/full -t 2", "", 2102,
       writeFailed + Counts(1, 1, 0) + kRolledBack + Counts(0, 1, 0), true},
      // The write fails and so does the backout of the get (once, or every
      // time). The normal disconnect at the end of the run would commit the
      // open unit, taking a message off the queue that never reached the
      // file. The first error stays the one shown.
      {"-I Q1 -F /dev/full", "MQBACK --reason 2195 --times 1", 2102, writeFailed, false},
      {"-I Q1 -F /dev/full", "MQBACK --reason 2195 --times 0", 2102, writeFailed, false},
      // A first storage size beyond what a message length can describe is
      // refused as storage not available, before any message is touched.
      {"-I Q1 -F out.zpd -b 2097151", "", 2071,
       "Unable to allocate 2147483648 bytes message storage\n", true},
  };
  // The output is a directory. Without -F an existing name is refused
  // before any open is tried.
  for (const std::string input : {"-i", "-I"}) {
    for (const auto& [args, first] : std::vector<std::pair<std::string, std::string>>{
             {"-F adir", "Can not open output file 'adir'"},
             {"-F adir -a b", "Can not open output file 'adir'(wb)"},
             {"-f adir", "File 'adir' already exists."}}) {
      cases.push_back({input + " Q1 " + args, "", 2208,
                       first + "\n\n" + Counts(1, 0, 0) +
                           (input == "-I" ? kRolledBack + Counts(0, 0, 0) : ""),
                       true});
    }
  }
  for (const Case& c : cases) {
    Reset({"m1", "m2", "m3"});
    RunResult r = RunWithFault(c.fault, c.args);
    EXPECT_EQ(Status(c.reason), r.exitStatus) << c.args << "\n" << r.err;
    std::string err = AfterBanner(r.err);
    EXPECT_EQ(c.err, c.whole ? err : err.substr(0, c.err.size())) << c.args << "\n" << err;
    EXPECT_EQ((std::vector<std::string>{"m1", "m2", "m3"}), QueueData()) << c.args;
    EXPECT_FALSE(FileExists(ScratchPath("out.zpd"))) << c.args;
  }
}

// The storage starts at one page and grows to the next multiple of 4096
// when a get reports truncation; the message is then read again whole.
TEST_F(UnloadFailureTest, StorageGrowsForLargeMessages) {
  struct Case {
    std::vector<size_t> sizes;  // between a small first and a small last message
    std::string extra;
    std::vector<int> grown;  // storage sizes after the first page
  } cases[] = {
      {{4096}, "", {}},
      {{4097}, "", {8192}},
      // Each larger message grows the storage again; it never shrinks.
      {{10000, 20000, 9000}, "", {12288, 20480}},
      // -b gives the first size in kilobytes: no regrowth needed.
      {{10000}, " -b 16", {}},
  };
  for (const Case& c : cases) {
    for (const std::string input : {"-i", "-I"}) {
      Reset({"before"});
      std::vector<size_t> expected = {6};
      for (size_t size : c.sizes) {
        ASSERT_TRUE(WriteFileText(ScratchPath("big.bin"), std::string(size, 'Z')));
        LocalqmOrFail({"put", "QM1", "Q1", "--file", ScratchPath("big.bin")});
        expected.push_back(size);
      }
      LocalqmOrFail({"put", "QM1", "Q1", "--text", "after"});
      expected.push_back(5);
      RunResult r = RunZeplo(Words("-m QM1 " + input + " Q1 -F out.zpd -Vm -va" + c.extra));
      const std::string label = input + " " + std::to_string(c.sizes[0]);
      ASSERT_EQ(0, r.exitStatus) << label << "\n" << r.err;
      // The message page, then the line storage; each truncated get grows
      // the page before the message is read again.
      std::vector<std::string> trace, want = {c.extra.empty() ? "Allocating 4096 bytes"
                                                              : "Allocating 16384 bytes",
                                              "Allocating 1024 bytes"};
      for (int size : c.grown)
        want.insert(want.end(), {"2080", "Allocating " + std::to_string(size) + " bytes"});
      for (const std::string& line : SplitLines(r.err)) {
        if (line.rfind("Allocating ", 0) == 0) trace.push_back(line);
        if (line.find("returned 2080 Truncated message failed.") != std::string::npos)
          trace.push_back("2080");
      }
      EXPECT_EQ(want, trace) << label;
      // Every message once, whole, in its place: a browse that had to grow
      // neither skips nor repeats a message.
      EXPECT_EQ(expected, FileMessageLengths("out.zpd")) << label;
      EXPECT_EQ(input == "-i" ? static_cast<int>(expected.size()) : 0, Depth()) << label;
    }
  }
}

// A message put by another process while the run waits is taken, and the
// wait starts again from it.
TEST_F(UnloadFailureTest, MessagePutDuringTheWaitIsTaken) {
  for (const char* input : {"-i", "-I"}) {
    Reset({"early"});
    BackgroundRun run({"-m", "QM1", input, "Q1", "-w", "6", "-F", "out.zpd"});
    // Waiting: the first message has been flushed to the file.
    ASSERT_TRUE(WaitFor([] { return MessagesInFile("out.zpd") == 1; }, 30000)) << input;
    EXPECT_FALSE(run.Done()) << input << ": the run did not wait";
    auto put = std::chrono::steady_clock::now();
    LocalqmOrFail({"put", "QM1", "Q1", "--text", "late-message"});
    // The waiting get wakes for it: the message is in the file while the
    // run still waits for more.
    EXPECT_TRUE(WaitFor([] { return MessagesInFile("out.zpd") == 2; }, 30000)) << input;
    EXPECT_FALSE(run.Done()) << input << ": the message was taken only at the end of the wait";
    const RunResult& r = run.Finish();
    double sincePut = std::chrono::duration<double>(std::chrono::steady_clock::now() - put).count();
    EXPECT_EQ(0, r.exitStatus) << input << "\n" << r.err;
    EXPECT_EQ((std::vector<size_t>{5, 12}), FileMessageLengths("out.zpd")) << input;
    EXPECT_TRUE(Has(r.err, "Read    - Files:   0  Messages:      2  Bytes:          17\n"))
        << r.err;
    EXPECT_GE(sincePut, 4.5) << input << ": the wait did not restart at the late message";
    EXPECT_EQ(std::string(input) == "-i" ? 2u : 0u, QueueData().size()) << input;
  }
}

}  // namespace
