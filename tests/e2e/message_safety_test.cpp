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

// "m<from>" .. "m<to>".
Texts M(int from, int to) {
  Texts out;
  for (int i = from; i <= to; i++) out.push_back("m" + std::to_string(i));
  return out;
}

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
    Put(M(1, n), "SRC");
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

// Units of three from SRC on QM1 to DST on QM2, one side failing: a
// failing output queue manager backs out its own unit; the input side is
// backed out whatever happened there, and is never disconnected (which
// commits) while its gets are not resolved, nor committed before the
// output side.
TEST_F(SafetyTest, TwoQueueManagersBackEachSideOutOnItsOwn) {
  const struct {
    const char* name;
    int messages;
    Texts faults;
    Texts source, target;
  } cases[] = {
      // m1..m6 are committed, the put of m8 fails, and so do the output
      // side's backouts (its connection is broken).
      {"output put and backout", 10,
       {"QM2 MQPUT --reason 2009 --after 7", "QM2 MQBACK --reason 2009"}, M(7, 10), M(1, 6)},
      // The output side has committed the second unit, the input side has
      // not: the run names every message of that unit.
      {"input commit", 7, {"QM1 MQCMIT --reason 2009 --after 1 --times 1"}, M(4, 7), M(1, 6)},
      // The unit goes back to its queue rather than nowhere.
      {"output commit", 7, {"QM2 MQCMIT --reason 2009 --after 1 --times 1"}, M(4, 7), M(1, 3)},
  };
  for (const auto& c : cases) {
    Fill(c.messages);
    for (const std::string& f : c.faults) LocalqmOrFail(Words("fault " + f));
    RunResult r = Zeplo(Words("-I SRC -m QM2 -o DST -t 3"));
    EXPECT_EQ(Status(2009), r.exitStatus) << c.name << "\n" << r.err;
    EXPECT_EQ(c.source, QueueData("SRC", "QM1")) << c.name;
    EXPECT_EQ(c.target, QueueData("DST", "QM2")) << c.name;
    if (c.name != std::string("input commit")) continue;
    Texts source = MsgIds("QM1", "SRC");
    std::string named =
        "3 messages committed on queue manager 'QM2' were not removed for certain "
        "from queue manager 'QM1': they may now be on both. Their MsgIds:\n";
    for (int i = 0; i < 3; i++) named += "  MsgId X'" + source.at(i) + "'\n";
    EXPECT_TRUE(Has(r.err, named)) << r.err;
    // What arrived is counted as written; what is back is not counted read.
    EXPECT_TRUE(Has(r.err,
                    "completed operations as follows:\n"
                    "Read    - Files:   0  Messages:      3  Bytes:           6\n"
                    "Written - Files:   0  Messages:      6  Bytes:          12\n"))
        << r.err;
  }
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
      {"-o DST", nullptr, 2053, {"m3", "m2"}, {"m1"}, ": it was put back on queue 'SRC'.\n"},
      {"-f exists.zpd", nullptr, 2208, M(1, 3), {}, "File 'exists.zpd' already exists."},
      {"-o DST", "2051", 2053, {"m3"}, {"m1"},
       "and could not be put back on queue 'SRC' (RC(2051) Put inhibited): it was saved in file "
       "'zeplo-rescue-"},
      // clang-format on
  };
  for (const auto& c : cases) {
    Fill(3);
    LocalqmOrFail({"alter", "QM1", "DST", "--maxdepth", "1"});
    if (c.putBack != nullptr) LocalqmOrFail({"fault", "QM1", "MQPUT1", "--reason", c.putBack});
    RunResult r = Zeplo(Words(std::string("-I SRC -t 0 ") + c.output));
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

// Only a destructive get requeues a message backed out too often: a browse
// copies it like any other and leaves the backout queue alone.
TEST_F(SafetyTest, BrowseNeverRequeuesPoisonMessages) {
  LocalqmOrFail({"alter", "QM1", "SRC", "--boqname", "BOQ", "--bothresh", "3"});
  for (std::string output : {"-o DST", "-f null", "-F out.zpd"}) {
    Fill(1);
    LocalqmOrFail({"put", "QM1", "SRC", "--text", "poison", "--backout", "5"});
    RunResult r = Zeplo(Words("-i SRC " + output));
    EXPECT_EQ(0, r.exitStatus) << output << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, "Messages:      2")) << output << "\n" << r.err;
    EXPECT_EQ(Texts{}, QueueData("BOQ", "QM1")) << output;
    EXPECT_EQ((Texts{"m1", "poison"}), QueueData("SRC", "QM1")) << output;
    EXPECT_EQ((output == "-o DST" ? Texts{"m1", "poison"} : Texts{}), QueueData("DST", "QM1"))
        << output;
  }
  EXPECT_EQ(2u, FileIds("out.zpd").size());
}

// Runs refused before anything moves. A queue is never copied onto
// itself (the last of those routed back from QM2); a name given empty, or
// a list naming no queue, would leave the run without the input or output
// it was meant to have (with -I, a purge); a numbered input whose next
// name repeats the file just read (%o counts selected messages, and none
// is selected) would read it for ever.
TEST_F(SafetyTest, RefusedRunsMoveNothing) {
  LocalqmOrFail({"define", "QM1", "ALIAS", "--type", "alias", "--target", "SRC"});
  ASSERT_TRUE(WriteFileText(ScratchPath("comments.txt"), "* nothing here\n\n"));
  ASSERT_TRUE(
      WriteFileText(ScratchPath("in1.zpd"), ReadFileText(SourcePath("tests/data/files/hex.zpd"))));
  const char* itself = "' is the input queue QM1/SRC: a queue can not be copied onto itself.\n";
  const struct {
    Texts args;
    const char* err;
    int reason = 2046;
  } cases[] = {
      {{"-I", "SRC", "-o", "SRC"}, itself},
      {{"-i", "SRC", "-o", "SRC"}, itself},
      {{"-i", "ALIAS", "-o", "SRC"}, itself},
      {{"-i", "SRC", "-o", "DST", "-o", "ALIAS"}, itself},
      {{"-i", "SRC", "-o", "DST", "-o", "ALIAS", "-OI"}, itself},
      {{"-i", "SRC", "-m", "QM2", "-o", "QM1/SRC"}, itself},
      {{"-I", "", "-i", "SRC", "-f", "x.zpd"}, "Sorry, the destination '' names no queue.\n"},
      {{"-I", "SRC", "-o", "QM1/"}, "Sorry, the destination 'QM1/' names no queue.\n"},
      {{"-I", "SRC", "-o", "file:comments.txt"},
       "Sorry, the destination 'file:comments.txt' names no queue.\n"},
      {{"-I", "SRC", "-f", ""}, "Sorry, the file name given is empty\n"},
      {{"-I", "SRC", "-m", "", "-o", "DST"}, "Sorry, the Queue Manager name given is empty.\n"},
      {{"-f", "in%o.zpd", "-o", "DST", "-s", "no such text"}, "Duplicate input file 'in1.zpd'",
       2208},
  };
  for (const auto& c : cases) {
    Fill(2);
    RunResult r = Zeplo(c.args);
    EXPECT_EQ(Status(c.reason), r.exitStatus) << c.err << r.err;
    EXPECT_TRUE(Has(r.err, c.err)) << r.err;
    EXPECT_EQ(M(1, 2), QueueData("SRC", "QM1")) << c.err;
    EXPECT_EQ(Texts{}, QueueData("DST", "QM1")) << c.err;
  }
  // Named on purpose, a move with no output at all still empties the queue.
  EXPECT_EQ(0, Zeplo({"-I", "SRC"}).exitStatus);
  EXPECT_EQ(Texts{}, QueueData("SRC", "QM1"));
  // Whatever a failure's code, its exit status is not 0.
  Fill(1);
  LocalqmOrFail({"fault", "QM1", "MQPUT", "--reason", "2048", "--queue", "DST"});
  EXPECT_EQ(255, Zeplo({"-I", "SRC", "-o", "DST"}).exitStatus);
}

// -D paces the puts, and each one reaches the queue when it is made, not
// in a burst at the end of a unit of 200. A wait longer than an MQGET can
// be given waits for ever, rather than failing every get (or wrapping to a
// short wait); it runs while the paced one does.
TEST_F(SafetyTest, PacedPutsAndLongWaits) {
  Fill(4);
  BackgroundRun run({"-m", "QM1", "-i", "SRC", "-o", "DST", "-D", "500"});
  int depth = 0;
  ASSERT_TRUE(WaitFor([&depth] { return (depth = Depth("DST")) != 0; }, 30000));
  EXPECT_NE(4, depth) << "the first paced message came with the last";
  RunResult r = RunProgram(
      ZeploPath(), {"-m", "QM1", "-i", "SRC", "-F", "out.zpd", "-w", "2147484"}, "", {}, 3000);
  EXPECT_EQ(-9, r.exitStatus) << r.err;  // still waiting when the harness ended it
  EXPECT_EQ(4u, FileIds("out.zpd").size());
  EXPECT_EQ(0, run.Finish().exitStatus);
  EXPECT_EQ(4, Depth("DST"));
}

}  // namespace
