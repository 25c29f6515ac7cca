// Runs that go wrong on the way, with the real binary against localqm: a
// message is never lost, never left in two places without the run saying
// so, and a failure never exits 0. Two queue managers failing on one side,
// deliveries failing outside syncpoint, queues copied onto themselves,
// browses over poison messages, empty names, long waits and paced units.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using Texts = std::vector<std::string>;

class SafetyTest : public QueueTest {
 public:
  SafetyTest() : QueueTest({"SRC", "DST", "BOQ"}) {}
  void SetUp() override {
    QueueTest::SetUp();
    LocalqmOrFail({"create", "QM2"});
    LocalqmOrFail({"define", "QM2", "DST"});
  }
  // SRC holds m1..mN; every other queue is empty, no fault is set.
  static void Fill(int n) {
    for (const char* qm : {"QM1", "QM2"}) {
      LocalqmOrFail({"fault", qm, "--clear"});
      LocalqmOrFail({"clear", qm, "DST"});
    }
    LocalqmOrFail({"clear", "QM1", "SRC"});
    LocalqmOrFail({"clear", "QM1", "BOQ"});
    for (int i = 1; i <= n; i++)
      LocalqmOrFail({"put", "QM1", "SRC", "--text", "m" + std::to_string(i)});
  }
  static Texts MsgIds(const std::string& qmgr, const std::string& queue) {
    Texts ids;
    for (MessageFields& f : BrowseMessages(qmgr, queue)) ids.push_back(f["MsgId"]);
    return ids;
  }
  // The MsgIds of the message file's sections, in order.
  static Texts FileIds(const std::string& name) {
    Texts ids;
    for (const std::string& line : SplitLines(ReadFileText(ScratchPath(name))))
      if (line.rfind("A MSI ", 0) == 0) ids.push_back(line.substr(6));
    return ids;
  }
  static RunResult Zeplo(const Texts& args) {
    Texts all = {"-m", "QM1"};
    all.insert(all.end(), args.begin(), args.end());
    return RunZeplo(all);
  }
};

// A failing output queue manager backs out its own unit; the input side is
// backed out whatever happened there, and is never disconnected (which
// commits) while its gets are not resolved.
TEST_F(SafetyTest, TwoQueueManagersBackEachSideOutOnItsOwn) {
  // Units of three: m1..m6 are committed, the put of m8 fails, and so do
  // the output side's backouts (its connection is broken).
  Fill(10);
  LocalqmOrFail({"fault", "QM2", "MQPUT", "--reason", "2009", "--after", "7"});
  LocalqmOrFail({"fault", "QM2", "MQBACK", "--reason", "2009"});
  RunResult broken = Zeplo({"-I", "SRC", "-m", "QM2", "-o", "DST", "-t", "3"});
  LocalqmOrFail({"fault", "QM2", "--clear"});
  EXPECT_EQ(Status(2009), broken.exitStatus) << broken.err;
  EXPECT_EQ((Texts{"m7", "m8", "m9", "m10"}), QueueData("SRC", "QM1"));
  EXPECT_EQ((Texts{"m1", "m2", "m3", "m4", "m5", "m6"}), QueueData("DST", "QM2"));
  // The output queue manager stops under an open unit (-t -1: one unit,
  // kept open through the wait); the next message's put finds it stopped.
  Fill(3);
  BackgroundRun run({"-m", "QM1", "-I", "SRC", "-m", "QM2", "-o", "DST", "-t", "-1", "-w", "60"});
  // Taken in the open unit: no longer to be seen on the queue.
  ASSERT_TRUE(WaitFor([] { return QueueData("SRC", "QM1").empty(); }, 30000));
  LocalqmOrFail({"stop", "QM2"});
  LocalqmOrFail({"put", "QM1", "SRC", "--text", "late"});
  const RunResult& r = run.Finish();
  LocalqmOrFail({"start", "QM2"});
  EXPECT_EQ(Status(2162), r.exitStatus) << r.err;
  EXPECT_EQ((Texts{"m1", "m2", "m3", "late"}), QueueData("SRC", "QM1"));
  EXPECT_EQ(Texts{}, QueueData("DST", "QM2"));
}

// The output side has committed and the input side's commit fails: the
// unit is on both queue managers, and the run names every message of it.
TEST_F(SafetyTest, InputCommitFailingAfterTheOutputCommitNamesTheDuplicates) {
  Fill(7);
  // The second unit (m4..m6) is committed on QM2, not on QM1.
  LocalqmOrFail({"fault", "QM1", "MQCMIT", "--reason", "2009", "--after", "1", "--times", "1"});
  RunResult r = Zeplo({"-I", "SRC", "-m", "QM2", "-o", "DST", "-t", "3"});
  LocalqmOrFail({"fault", "QM1", "--clear"});
  EXPECT_EQ(Status(2009), r.exitStatus) << r.err;
  Texts source = MsgIds("QM1", "SRC");
  ASSERT_EQ(4u, source.size());
  std::string named =
      "3 messages committed on queue manager 'QM2' were not removed for certain "
      "from queue manager 'QM1': they may now be on both. Their MsgIds:\n";
  for (int i = 0; i < 3; i++) named += "  MsgId X'" + source[i] + "'\n";
  EXPECT_TRUE(Has(r.err, named)) << r.err;
  EXPECT_EQ((Texts{"m1", "m2", "m3", "m4", "m5", "m6"}), QueueData("DST", "QM2"));
  // What arrived is counted as written; what is back is not counted read.
  EXPECT_TRUE(Has(r.err,
                  "completed operations as follows:\n"
                  "Read    - Files:   0  Messages:      3  Bytes:           6\n"
                  "Written - Files:   0  Messages:      6  Bytes:          12\n"))
      << r.err;
}

// The output side's commit fails: the input side is never committed after
// it, so the unit goes back to its queue rather than nowhere.
TEST_F(SafetyTest, OutputCommitFailingLeavesTheUnitOnTheInput) {
  Fill(7);
  LocalqmOrFail({"fault", "QM2", "MQCMIT", "--reason", "2009", "--after", "1", "--times", "1"});
  RunResult r = Zeplo({"-I", "SRC", "-m", "QM2", "-o", "DST", "-t", "3"});
  LocalqmOrFail({"fault", "QM2", "--clear"});
  EXPECT_EQ(Status(2009), r.exitStatus) << r.err;
  EXPECT_EQ((Texts{"m4", "m5", "m6", "m7"}), QueueData("SRC", "QM1"));
  EXPECT_EQ((Texts{"m1", "m2", "m3"}), QueueData("DST", "QM2"));
}

// Outside syncpoint a message is off its queue once got: it is taken only
// when its output is open, and one that cannot be delivered goes back (or,
// when that fails too, into a rescue file that loads like any other).
TEST_F(SafetyTest, OutsideSyncpointNothingVanishes) {
  ASSERT_TRUE(WriteFileText(ScratchPath("exists.zpd"), "keep\n"));
  struct {
    const char* output;
    const char* putBack;  // MQPUT1's failure, or null
    int reason;
    Texts source, target;
    const char* err;
  } cases[] = {
      // clang-format off
      {"DST", nullptr, 2053, {"m3", "m2"}, {"m1"}, ": it was put back on queue 'SRC'.\n"},
      {"exists.zpd", nullptr, 2208, {"m1", "m2", "m3"}, {}, "File 'exists.zpd' already exists."},
      {"DST", "2051", 2053, {"m3"}, {"m1"},
       "and could not be put back on queue 'SRC' (RC(2051) Put inhibited): it was saved in file "
       "'zeplo-rescue-"},
      // clang-format on
  };
  for (const auto& c : cases) {
    Fill(3);
    LocalqmOrFail({"alter", "QM1", "DST", "--maxdepth", "1"});
    if (c.putBack != nullptr) LocalqmOrFail({"fault", "QM1", "MQPUT1", "--reason", c.putBack});
    bool file = std::string(c.output).find('.') != std::string::npos;
    RunResult r = Zeplo({"-I", "SRC", "-t", "0", file ? "-f" : "-o", c.output});
    LocalqmOrFail({"fault", "QM1", "--clear"});
    LocalqmOrFail({"alter", "QM1", "DST", "--maxdepth", "5000"});
    EXPECT_EQ(Status(c.reason), r.exitStatus) << c.err << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, c.err)) << r.err;
    EXPECT_EQ(c.source, QueueData("SRC", "QM1")) << c.err;
    EXPECT_EQ(c.target, QueueData("DST", "QM1")) << c.err;
    if (c.putBack == nullptr) continue;
    // The rescued message loads back with its descriptor.
    size_t at = r.err.find("zeplo-rescue-");
    std::string rescue = r.err.substr(at, r.err.find('\'', at) - at);
    RunResult load = Zeplo({"-f", rescue, "-o", "SRC"});
    EXPECT_EQ(0, load.exitStatus) << load.err;
    EXPECT_EQ((Texts{"m3", "m2"}), QueueData("SRC", "QM1"));
    EXPECT_EQ(FileIds(rescue).at(0), MsgIds("QM1", "SRC").at(1));
  }
  // A file write that fails in the middle of a message: the file keeps
  // whole messages only, the one in hand goes back to its queue.
  LocalqmOrFail({"clear", "QM1", "SRC"});
  ASSERT_TRUE(WriteFileText(ScratchPath("big.txt"), std::string(100000, 'y')));
  LocalqmOrFail({"put", "QM1", "SRC", "--file", ScratchPath("big.txt"), "--count", "20"});
  std::string command =
      "trap '' XFSZ; ulimit -f 1024; exec '" + ZeploPath() + "' -m QM1 -I SRC -t 0 -F out.zpd";
  RunResult r = RunProgram("/bin/bash", {"-c", command});
  EXPECT_EQ(Status(2102), r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "could not be delivered: it was put back on queue 'SRC'.")) << r.err;
  size_t inFile = FileIds("out.zpd").size();
  EXPECT_EQ(20u, inFile + MsgIds("QM1", "SRC").size());
  LocalqmOrFail({"clear", "QM1", "DST"});
  RunResult load = Zeplo({"-f", "out.zpd", "-o", "DST"});
  EXPECT_EQ(0, load.exitStatus) << load.err;
  EXPECT_EQ(inFile, MsgIds("QM1", "DST").size());
}

TEST_F(SafetyTest, QueueIsNeverCopiedOntoItself) {
  LocalqmOrFail({"define", "QM1", "ALIAS", "--type", "alias", "--target", "SRC"});
  const Texts cases[] = {
      {"-I", "SRC", "-o", "SRC"},
      {"-i", "SRC", "-o", "SRC"},
      {"-i", "ALIAS", "-o", "SRC"},
      {"-i", "SRC", "-o", "DST", "-o", "ALIAS"},
      {"-i", "SRC", "-o", "DST", "-o", "ALIAS", "-OI"},
      {"-i", "SRC", "-m", "QM2", "-o", "QM1/SRC"},  // routed back from the other one
  };
  for (const Texts& args : cases) {
    Fill(3);
    RunResult r = Zeplo(args);
    std::string name = args[1] + " " + args.back();
    EXPECT_EQ(Status(2046), r.exitStatus) << name << "\n" << r.err;
    EXPECT_TRUE(
        Has(r.err, "' is the input queue QM1/SRC: a queue can not be copied onto itself.\n"))
        << name << "\n"
        << r.err;
    EXPECT_EQ((Texts{"m1", "m2", "m3"}), QueueData("SRC", "QM1")) << name;
    EXPECT_EQ(Texts{}, QueueData("DST", "QM1")) << name;
  }
}

// Only a destructive get requeues a message backed out too often: a browse
// copies it like any other and leaves the backout queue alone.
TEST_F(SafetyTest, BrowseNeverRequeuesPoisonMessages) {
  LocalqmOrFail({"alter", "QM1", "SRC", "--boqname", "BOQ", "--bothresh", "3"});
  for (const Texts& output : {Texts{"-o", "DST"}, Texts{"-f", "null"}, Texts{"-F", "out.zpd"}}) {
    Fill(1);
    LocalqmOrFail({"put", "QM1", "SRC", "--text", "poison", "--backout", "5"});
    Texts args = {"-i", "SRC"};
    args.insert(args.end(), output.begin(), output.end());
    RunResult r = Zeplo(args);
    EXPECT_EQ(0, r.exitStatus) << output[1] << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, "Messages:      2")) << output[1] << "\n" << r.err;
    EXPECT_EQ(Texts{}, QueueData("BOQ", "QM1")) << output[1];
    EXPECT_EQ((Texts{"m1", "poison"}), QueueData("SRC", "QM1")) << output[1];
    Texts copied = output[0] == "-o" ? Texts{"m1", "poison"} : Texts{};
    EXPECT_EQ(copied, QueueData("DST", "QM1")) << output[1];
  }
  EXPECT_EQ(2u, FileIds("out.zpd").size());
}

// Whatever a failure's code, its exit status is not 0.
TEST_F(SafetyTest, FailuresNeverExitZero) {
  Fill(1);
  LocalqmOrFail({"fault", "QM1", "MQPUT", "--reason", "2048", "--queue", "DST"});
  EXPECT_EQ(255, Zeplo({"-I", "SRC", "-o", "DST"}).exitStatus);
  // A numbered input whose next name repeats the file just read (%o counts
  // selected messages, and none is selected).
  ASSERT_TRUE(
      WriteFileText(ScratchPath("in1.zpd"), ReadFileText(SourcePath("tests/data/files/hex.zpd"))));
  RunResult r = Zeplo({"-f", "in%o.zpd", "-o", "DST", "-s", "no such text"});
  EXPECT_EQ(Status(2208), r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "Duplicate input file 'in1.zpd'")) << r.err;
}

// A name given empty, or a list naming no queue, would leave the run
// without the input or output it was meant to have (with -I, a purge).
TEST_F(SafetyTest, EmptyNamesAreRefused) {
  ASSERT_TRUE(WriteFileText(ScratchPath("comments.txt"), "* nothing here\n\n"));
  const struct {
    Texts args;
    const char* err;
  } cases[] = {
      {{"-I", "", "-i", "SRC", "-f", "x.zpd"}, "Sorry, the destination '' names no queue.\n"},
      {{"-I", "SRC", "-o", "QM1/"}, "Sorry, the destination 'QM1/' names no queue.\n"},
      {{"-I", "SRC", "-o", "file:comments.txt"},
       "Sorry, the destination 'file:comments.txt' names no queue.\n"},
      {{"-I", "SRC", "-f", ""}, "Sorry, the file name given is empty\n"},
      {{"-I", "SRC", "-m", "", "-o", "DST"}, "Sorry, the Queue Manager name given is empty.\n"},
  };
  for (const auto& c : cases) {
    Fill(2);
    RunResult r = Zeplo(c.args);
    EXPECT_EQ(Status(2046), r.exitStatus) << c.err << r.err;
    EXPECT_TRUE(Has(r.err, c.err)) << r.err;
    EXPECT_EQ((Texts{"m1", "m2"}), QueueData("SRC", "QM1")) << c.err;
  }
  // Named on purpose, a move with no output at all still empties the queue.
  EXPECT_EQ(0, Zeplo({"-I", "SRC"}).exitStatus);
  EXPECT_EQ(Texts{}, QueueData("SRC", "QM1"));
}

// A wait longer than an MQGET can be given waits for ever, rather than
// failing every get (or wrapping to a short wait).
TEST_F(SafetyTest, WaitPastTheLimitWaitsForEver) {
  Fill(1);
  RunResult r = RunProgram(
      ZeploPath(), {"-m", "QM1", "-i", "SRC", "-F", "out.zpd", "-w", "2147484"}, "", {}, 3000);
  EXPECT_EQ(-9, r.exitStatus) << r.err;  // still waiting when the harness ended it
  EXPECT_EQ(1u, FileIds("out.zpd").size());
}

// -D paces the puts, and each one reaches the queue when it is made, not
// in a burst at the end of a unit of 200.
TEST_F(SafetyTest, PacedMessagesReachTheQueueAtTheirPace) {
  Fill(4);
  BackgroundRun run({"-m", "QM1", "-i", "SRC", "-o", "DST", "-D", "500"});
  std::string depth;
  ASSERT_TRUE(WaitFor(
      [&depth] {
        return (depth = LocalqmOrFail({"depth", "QM1", "DST"})) != "0\n";
      },
      30000));
  EXPECT_NE("4\n", depth) << "the first paced message came with the last";
  EXPECT_EQ(0, run.Finish().exitStatus);
  EXPECT_EQ(4, Depth("DST"));
}

}  // namespace
