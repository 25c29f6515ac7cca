// Copying and moving messages from queue to queue with the real binary
// against localqm: single queues, lists and individual queues with a
// failing destination, destination files, the context modes, a put failing
// in the middle of a unit of work, two queue managers, and the put options
// that pace or retry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using Texts = std::vector<std::string>;
const Texts kThree = {"first", "second", "third"};

class CopyTest : public QueueTest {
 public:
  CopyTest() : QueueTest({"Q1", "Q2", "Q3"}) {}
  // Empties Q1..Q3 and puts texts on Q1.
  static void Refill(const Texts& texts) {
    for (const char* q : {"Q1", "Q2", "Q3"}) LocalqmOrFail({"clear", "QM1", q});
    Put(texts);
  }
};

TEST_F(CopyTest, OutputsTakeEveryMessageOnceAndStopAtTheFirstFailure) {
  WriteFileText(ScratchPath("dests.txt"), "* where the copies go\nQ2\n\nQ3\n");
  const char* q3HoldsOne = "alter QM1 Q3 --maxdepth 1";
  const Texts seven = {"m1", "m2", "m3", "m4", "m5", "m6", "m7"};
  struct {
    const char* args;
    const char* setup;  // a localqm command before the run
    int reason;
    const char* err;
    Texts q1, q2, q3;
    Texts in = kThree;
  } cases[] = {
      // clang-format off
      {"-I Q1 -o Q2", "", 0, "Written - Files:   0  Messages:      3", {}, kThree, {}},
      {"-i Q1 -o Q2 -o Q3 -OI -vd", "", 0,
       "Output Destinations : Q2\n                    : Q3\n\n", kThree, kThree, kThree},
      {"-i Q1 -o file:dests.txt", "", 0, "Messages:      6", kThree, kThree, kThree},
      // Q3 holds one message: under syncpoint the unit goes back whole;
      // without, the first message reached both, the second only Q2 and,
      // taken already, goes back to Q1 rather than vanish.
      {"-I Q1 -o Q2 -o Q3", q3HoldsOne, 2053, "MQPUT(Q3) failed RC(2053)", kThree, {}, {}},
      {"-I Q1 -o Q2 -o Q3 -t 0", q3HoldsOne, 2053,
       "' reached only 1 of its 2 destinations: it was put back on queue 'Q1'.\n",
       {"third", "second"}, {"first", "second"}, {"first"}},
      // A destination that does not exist stops the run before anything
      // is read or moved.
      {"-I Q1 -o Q2 -o NOT.THERE", "", 2085, "MQOPEN on object 'NOT.THERE' returned 2085",
       kThree, {}, {}},
      // The fifth put fails: the unit of messages 4 and 5 goes back. The
      // report counts what was read and put, then only what stayed done.
      {"-I Q1 -o Q2 -t 3", "fault QM1 MQPUT --reason 2053 --queue Q2 --after 4", 2053,
       "\n\nMQPUT(Q2) failed RC(2053) Queue full\n"
       "Read    - Files:   0  Messages:      5  Bytes:          10\n"
       "Written - Files:   0  Messages:      4  Bytes:           8\n"
       "\nOperation rolled back, completed operations as follows:\n"
       "Read    - Files:   0  Messages:      3  Bytes:           6\n"
       "Written - Files:   0  Messages:      3  Bytes:           6\n",
       {"m4", "m5", "m6", "m7"}, {"m1", "m2", "m3"}, {}, seven},
      // clang-format on
  };
  for (const auto& c : cases) {
    Refill(c.in);
    if (*c.setup) LocalqmOrFail(Words(c.setup));
    RunResult r = RunZeplo(Words(std::string("-m QM1 ") + c.args));
    if (*c.setup) {
      LocalqmOrFail({"fault", "QM1", "--clear"});
      LocalqmOrFail({"alter", "QM1", "Q3", "--maxdepth", "5000"});
    }
    EXPECT_EQ(Status(c.reason), r.exitStatus) << c.args << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, c.err)) << c.args << "\n" << r.err;
    EXPECT_EQ(c.reason != 2085, Has(r.err, "Read    -")) << c.args << "\n" << r.err;
    EXPECT_EQ(c.q1, QueueData("Q1")) << c.args;
    EXPECT_EQ(c.q2, QueueData("Q2")) << c.args;
    EXPECT_EQ(c.q3, QueueData("Q3")) << c.args;
  }
}

TEST_F(CopyTest, ContextModesDecideWhatThePutDescriptorKeeps) {
  // What the copy keeps of the user and application identity, the put
  // date and the application name, and whether date and user are empty.
  const struct {
    const char* mode;
    const char* kept;
  } cases[] = {{"A", "11110"}, {"t", "11010"}, {"I", "11000"}, {"a", "11110"},
               {"i", "11000"}, {"d", "00000"}, {"n", "00001"}};
  for (const auto& c : cases) {
    Refill({});
    LocalqmOrFail({"put", "QM1", "Q1", "--text", "ctx", "--user", "bob", "--applid", "myid",
                   "--putappl", "myapp", "--putdate", "20200101", "--puttime", "10000000"});
    RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-C", c.mode});
    ASSERT_EQ(0, r.exitStatus) << c.mode << "\n" << r.err;
    MessageFields f = BrowseMessages("QM1", "Q2").at(0);
    std::string kept;
    for (bool b : {f["UserIdentifier"] == "bob", f["ApplIdentityData"] == "myid",
                   f["PutDate"] == "20200101", f["PutApplName"] == "myapp",
                   f["PutDate"].empty() && f["UserIdentifier"].empty()})
      kept += b ? '1' : '0';
    EXPECT_EQ(c.kept, kept) << c.mode;
  }
  Refill({"x"});  // context passes only from a queue really got from
  EXPECT_EQ(Status(2098), RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-C", "a"}).exitStatus);
}

// Connected in the order named, left in the reverse order; each unit is
// committed on the output side first. One unit for the whole run (-t -1)
// is committed at its end, a unit of a single message too: never left to
// the disconnect, which syncs no file.
TEST_F(CopyTest, UnitsAreCommittedOutputThenInput) {
  LocalqmOrFail({"create", "QM2"});
  LocalqmOrFail({"define", "QM2", "R1"});
  const struct {
    const char* args;
    Texts data;
    const char* qmgr;
    const char* queue;
    Texts calls;
  } cases[] = {
      {"-I Q1 -m QM2 -o R1 -t 2 -va", {"a", "b", "c", "d", "e"}, "QM2", "R1",
       {"MQCONN QM1", "MQCONN QM2", "MQCMIT QM2", "MQCMIT QM1", "MQCMIT QM2", "MQCMIT QM1",
        "MQCMIT QM2", "MQCMIT QM1", "MQDISC QM2", "MQDISC QM1"}},
      {"-I Q1 -o Q2 -t -1 -va", {"only"}, "QM1", "Q2", {"MQCONN QM1", "MQCMIT QM1", "MQDISC QM1"}},
  };
  for (const auto& c : cases) {
    Refill(c.data);
    RunResult r = RunZeplo(Words(std::string("-m QM1 ") + c.args));
    EXPECT_EQ(0, r.exitStatus) << c.args << "\n" << r.err;
    EXPECT_EQ(c.data, QueueData(c.queue, c.qmgr)) << c.args;
    Texts calls;
    for (const std::string& l : SplitLines(r.err)) {
      for (const char* call : {"MQCONN", "MQCMIT", "MQDISC"}) {
        if (l.rfind(call, 0) == 0) calls.push_back(l.substr(0, 6) + " " + l.substr(16, 3));
      }
    }
    EXPECT_EQ(c.calls, calls) << c.args << "\n" << r.err;
  }
  // A put failure on the second queue manager backs out both sides.
  Refill({"f", "g", "h"});
  LocalqmOrFail({"fault", "QM2", "MQPUT", "--reason", "2053", "--after", "1"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-m", "QM2", "-o", "R1"});
  LocalqmOrFail({"fault", "QM2", "--clear"});
  EXPECT_EQ(Status(2053), r.exitStatus) << r.err;
  EXPECT_EQ((Texts{"f", "g", "h"}), QueueData("Q1"));
  EXPECT_EQ((Texts{"a", "b", "c", "d", "e"}), QueueData("R1", "QM2"));
}

TEST_F(CopyTest, PacingAndRetriedPuts) {
  LocalqmOrFail({"alter-qmgr", "QM1", "--refuse-async-put"});
  LocalqmOrFail({"define", "QM1", "ALIAS.Q", "--type", "alias", "--target", "Q3"});
  // -O a: one refusal, then every put synchronous and nothing reported.
  Refill(kThree);
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-O", "a", "-va"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(kThree, QueueData("Q2"));
  size_t refused = 0;
  for (const std::string& l : SplitLines(r.err))
    refused += Has(l, "MQPUT on object 'Q2' returned 2046");
  EXPECT_EQ(1u, refused) << r.err;
  EXPECT_FALSE(Has(r.err, "failed")) << r.err;

  // -R *: the queue behind the alias is watched; nobody reads it.
  Refill(kThree);
  LocalqmOrFail({"put", "QM1", "Q3", "--text", "fill", "--count", "1000"});
  r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "ALIAS.Q", "-R", "*"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "Monitoring depth of queue 'Q3'\n\n")) << r.err;
  EXPECT_EQ("Target Queue does not appear to be being processed.\n", r.out);

  // -R 5:2: five a second, the browsed queue replayed, until the end time.
  Refill(kThree);
  r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-R", "5:2"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  Texts lines = SplitLines(r.out);
  ASSERT_GE(lines.size(), 3u) << r.out;
  ASSERT_LE(lines.size(), 5u) << r.out;
  EXPECT_EQ("Required Rate End Time Reached.", lines.back());
  EXPECT_EQ(0u, lines[0].rfind("5 msgs sent in ", 0)) << lines[0];
  Texts copies = QueueData("Q2");
  ASSERT_EQ(5 * (lines.size() - 1), copies.size());
  for (size_t i = 0; i < copies.size(); i++) EXPECT_EQ(kThree[i % 3], copies[i]) << i;
}

TEST_F(CopyTest, MessagesBackedOutTooOftenGoToTheBackoutQueue) {
  LocalqmOrFail({"define", "QM1", "BOQ"});
  LocalqmOrFail({"alter", "QM1", "Q1", "--boqname", "BOQ", "--bothresh", "3"});
  Refill({"fresh"});
  // The threshold itself is too often; one below it is not.
  for (const char* backouts : {"5", "3", "2"})
    LocalqmOrFail({"put", "QM1", "Q1", "--text", std::string("b") + backouts, "--backout", backouts});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ((Texts{"fresh", "b2"}), QueueData("Q2"));
  EXPECT_EQ((Texts{"b5", "b3"}), QueueData("BOQ"));
}

}  // namespace
