// Copying and moving messages from queue to queue with the real binary
// against localqm: single queues, distribution lists and individual queues
// with a failing destination, destination files, two queue managers, the
// context modes, and a put failing in the middle of a unit of work.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using Fields = std::map<std::string, std::string>;

class CopyTest : public ::testing::Test {
 public:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default"});
    for (const char* q : {"Q1", "Q2", "Q3"}) LocalqmOrFail({"define", "QM1", q});
  }
  static void Put(const std::vector<std::string>& texts, const std::string& queue = "Q1",
                  const std::string& qmgr = "QM1") {
    for (const std::string& t : texts) LocalqmOrFail({"put", qmgr, queue, "--text", t});
  }
  // Every message of a queue, as localqm's browse lists its fields.
  static std::vector<Fields> Browse(const std::string& queue, const std::string& qmgr = "QM1") {
    std::vector<Fields> messages;
    for (const std::string& line : SplitLines(LocalqmOrFail({"browse", qmgr, queue}))) {
      size_t colon = line.find(" : ");
      if (colon == std::string::npos) continue;
      std::string key = line.substr(0, colon);
      if (key == "Message") messages.emplace_back();
      if (!messages.empty()) messages.back()[key] = line.substr(colon + 3);
    }
    return messages;
  }
  static std::vector<std::string> Data(const std::string& queue, const std::string& qmgr = "QM1") {
    std::vector<std::string> out;
    for (Fields& f : Browse(queue, qmgr)) out.push_back(f["Data"]);
    return out;
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
};

const std::vector<std::string> kThree = {"first", "second", "third"};

TEST_F(CopyTest, CopyKeepsTheSourceMoveEmptiesIt) {
  struct Case {
    const char* input;
    size_t sourceLeft;
  } cases[] = {{"-i", 3}, {"-I", 0}};
  for (const Case& c : cases) {
    for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"clear", "QM1", q});
    Put(kThree);
    std::vector<Fields> before = Browse("Q1");
    RunResult r = RunZeplo({"-m", "QM1", c.input, "Q1", "-o", "Q2"});
    EXPECT_EQ(0, r.exitStatus) << c.input << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, "Written - Files:   0  Messages:      3  Bytes:          16")) << r.err;
    EXPECT_EQ(c.sourceLeft, Browse("Q1").size()) << c.input;
    std::vector<Fields> after = Browse("Q2");
    ASSERT_EQ(3u, after.size()) << c.input;
    // The default context mode sets all context: each copy is the message.
    for (size_t i = 0; i < 3; i++) {
      for (const char* field : {"Data", "MsgId", "PutDate", "PutTime", "UserIdentifier"}) {
        EXPECT_EQ(before[i][field], after[i][field]) << c.input << " " << field << " " << i;
      }
    }
  }
}

TEST_F(CopyTest, DistributionListWithAFullDestination) {
  LocalqmOrFail({"alter", "QM1", "Q3", "--maxdepth", "1"});
  struct Case {
    const char* name;
    std::vector<std::string> extra;
    std::vector<std::string> source, q2, q3;
    const char* counts;
  } cases[] = {
      // Under syncpoint the unit with the failed put goes back whole.
      {"syncpoint", {}, kThree, {}, {}, "Written - Files:   0  Messages:      0"},
      // Without it the first message reached both queues, the second only
      // the one with room, and the run stops there.
      {"no syncpoint", {"-t", "0"}, {"third"}, {"first", "second"}, {"first"},
       "Written - Files:   0  Messages:      3"},
  };
  for (const Case& c : cases) {
    for (const char* q : {"Q1", "Q2", "Q3"}) LocalqmOrFail({"clear", "QM1", q});
    Put(kThree);
    std::vector<std::string> args = {"-m", "QM1", "-I", "Q1", "-o", "Q2", "-o", "Q3"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    RunResult r = RunZeplo(args);
    EXPECT_EQ(2053 & 0xFF, r.exitStatus) << c.name << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, "MQPUT(Q3) failed RC(2053)")) << c.name << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, c.counts)) << c.name << "\n" << r.err;
    EXPECT_EQ(c.source, Data("Q1")) << c.name;
    EXPECT_EQ(c.q2, Data("Q2")) << c.name;
    EXPECT_EQ(c.q3, Data("Q3")) << c.name;
  }
}

TEST_F(CopyTest, IndividualQueuesAndDestinationFiles) {
  WriteFileText(ScratchPath("dests.txt"), "* where the copies go\nQ2\n\nQ3\n");
  struct Case {
    std::vector<std::string> outputs;
    const char* listing;
  } cases[] = {
      {{"-o", "Q2", "-o", "Q3", "-OI"}, "Output Destinations : Q2\n                    : Q3\n\n"},
      {{"-o", "file:dests.txt"}, "Output Destinations : Q2\n                    : Q3\n\n"},
      {{"-o", "file:dests.txt", "-OI"}, "Output Destinations : Q2\n                    : Q3\n\n"},
  };
  for (const Case& c : cases) {
    for (const char* q : {"Q1", "Q2", "Q3"}) LocalqmOrFail({"clear", "QM1", q});
    Put(kThree);
    std::vector<std::string> args = {"-m", "QM1", "-i", "Q1", "-vd"};
    args.insert(args.end(), c.outputs.begin(), c.outputs.end());
    RunResult r = RunZeplo(args);
    EXPECT_EQ(0, r.exitStatus) << r.err;
    EXPECT_TRUE(Has(r.err, c.listing)) << r.err;
    EXPECT_TRUE(Has(r.err, "Written - Files:   0  Messages:      6")) << r.err;
    EXPECT_EQ(kThree, Data("Q2"));
    EXPECT_EQ(kThree, Data("Q3"));
  }
  // One individual queue refusing puts: named, the unit backed out.
  for (const char* q : {"Q1", "Q2", "Q3"}) LocalqmOrFail({"clear", "QM1", q});
  Put(kThree);
  LocalqmOrFail({"alter", "QM1", "Q2", "--put", "disabled"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-o", "Q3", "-OI"});
  EXPECT_EQ(2051 & 0xFF, r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "MQPUT(Q2) failed RC(2051)")) << r.err;
  EXPECT_EQ(kThree, Data("Q1"));
  EXPECT_TRUE(Data("Q3").empty());
}

TEST_F(CopyTest, MissingDestinationStopsBeforeAnyMessageMoves) {
  Put(kThree);
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-o", "NOT.THERE", "-o", "Q3"});
  EXPECT_EQ(2085 & 0xFF, r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "MQOPEN on object 'NOT.THERE' returned 2085")) << r.err;
  EXPECT_FALSE(Has(r.err, "Written")) << r.err;  // no count lines
  EXPECT_EQ(kThree, Data("Q1"));
  EXPECT_TRUE(Data("Q2").empty());
}

TEST_F(CopyTest, ContextModesDecideWhatThePutDescriptorKeeps) {
  // keepsTime: the put date and time; keepsAppl: the putting application.
  struct Case {
    const char* mode;
    bool keepsIdentity, keepsTime, keepsAppl;
    const char* user;  // expected UserIdentifier when identity is not kept
  } cases[] = {
      {"A", true, true, true, ""},        {"t", true, false, true, ""},
      {"I", true, false, false, ""},      {"a", true, true, true, ""},
      {"i", true, false, false, ""},      {"d", false, false, false, nullptr},
      {"n", false, false, false, ""},
  };
  for (const Case& c : cases) {
    for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"clear", "QM1", q});
    LocalqmOrFail({"put", "QM1", "Q1", "--text", "ctx", "--user", "bob", "--applid", "myid",
                   "--putappl", "myapp", "--putdate", "20200101", "--puttime", "10000000",
                   "--applorigin", "ORIG"});
    RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-C", c.mode});
    ASSERT_EQ(0, r.exitStatus) << c.mode << "\n" << r.err;
    std::vector<Fields> out = Browse("Q2");
    ASSERT_EQ(1u, out.size()) << c.mode;
    Fields& f = out[0];
    EXPECT_EQ("ctx", f["Data"]) << c.mode;
    if (c.keepsIdentity) {
      EXPECT_EQ("bob", f["UserIdentifier"]) << c.mode;
      EXPECT_EQ("myid", f["ApplIdentityData"]) << c.mode;
    } else {
      if (c.user != nullptr) {
        EXPECT_EQ(c.user, f["UserIdentifier"]) << c.mode;
      }
      EXPECT_NE("bob", f["UserIdentifier"]) << c.mode;
      EXPECT_EQ("", f["ApplIdentityData"]) << c.mode;
    }
    EXPECT_EQ(c.keepsTime, f["PutDate"] == "20200101") << c.mode << " " << f["PutDate"];
    EXPECT_EQ(c.keepsAppl, f["PutApplName"] == "myapp") << c.mode << " " << f["PutApplName"];
    if (std::string(c.mode) == "n") {
      EXPECT_EQ("", f["PutDate"]);
      EXPECT_EQ("", f["PutApplName"]);
    }
  }
  // Passing context needs a queue that was really got from.
  Put({"x"});
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-C", "a"});
  EXPECT_EQ(2098 & 0xFF, r.exitStatus) << r.err;
}

TEST_F(CopyTest, PutFailingMidUnitLeavesEveryMessageOnceSomewhere) {
  Put({"m1", "m2", "m3", "m4", "m5", "m6", "m7"});
  // The fifth put fails: units 1-3 are committed, the unit of 4 and 5 goes
  // back to the source.
  LocalqmOrFail({"fault", "QM1", "MQPUT", "--reason", "2053", "--queue", "Q2", "--after", "4"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-t", "3"});
  LocalqmOrFail({"fault", "QM1", "--clear"});
  EXPECT_EQ(2053 & 0xFF, r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "MQPUT(Q2) failed RC(2053)")) << r.err;
  EXPECT_TRUE(Has(r.err, "Operation rolled back")) << r.err;
  EXPECT_TRUE(Has(r.err, "Written - Files:   0  Messages:      3")) << r.err;
  EXPECT_EQ((std::vector<std::string>{"m1", "m2", "m3"}), Data("Q2"));
  EXPECT_EQ((std::vector<std::string>{"m4", "m5", "m6", "m7"}), Data("Q1"));
}

TEST_F(CopyTest, TwoQueueManagersCommitOutputThenInput) {
  LocalqmOrFail({"create", "QM2"});
  LocalqmOrFail({"define", "QM2", "R1"});
  Put({"a", "b", "c", "d", "e"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-m", "QM2", "-o", "R1", "-t", "2", "-va"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "e"}), Data("R1", "QM2"));
  EXPECT_TRUE(Data("Q1").empty());
  // Each commit is on the output queue manager first.
  size_t qm2 = r.err.find("MQCMIT on qmgr 'QM2'");
  size_t qm1 = r.err.find("MQCMIT on qmgr 'QM1'");
  ASSERT_NE(std::string::npos, qm2) << r.err;
  ASSERT_NE(std::string::npos, qm1) << r.err;
  EXPECT_LT(qm2, qm1);

  // A put failure on the second queue manager backs out both sides.
  Put({"f", "g", "h"});
  LocalqmOrFail({"fault", "QM2", "MQPUT", "--reason", "2053", "--after", "1"});
  r = RunZeplo({"-m", "QM1", "-I", "Q1", "-m", "QM2", "-o", "R1"});
  LocalqmOrFail({"fault", "QM2", "--clear"});
  EXPECT_EQ(2053 & 0xFF, r.exitStatus) << r.err;
  EXPECT_EQ((std::vector<std::string>{"f", "g", "h"}), Data("Q1"));
  EXPECT_EQ(5u, Data("R1", "QM2").size());
}

TEST_F(CopyTest, RefusedAsynchronousPutGoesOnSynchronously) {
  LocalqmOrFail({"alter-qmgr", "QM1", "--refuse-async-put"});
  Put(kThree);
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-O", "a", "-va"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(kThree, Data("Q2"));
  // One refusal, then every put synchronous and successful.
  size_t refused = 0, ok = 0;
  for (const std::string& l : SplitLines(r.err)) {
    if (Has(l, "MQPUT on object 'Q2' returned 2046")) refused++;
    if (Has(l, "MQPUT on object 'Q2' returned 0")) ok++;
  }
  EXPECT_EQ(1u, refused) << r.err;
  EXPECT_EQ(3u, ok) << r.err;
  EXPECT_FALSE(Has(r.err, "failed")) << r.err;
}

TEST_F(CopyTest, TargetRateWatchesTheQueueBehindAnAlias) {
  LocalqmOrFail({"define", "QM1", "ALIAS.Q", "--type", "alias", "--target", "Q2"});
  // A full target that nobody reads: the first message ends a period.
  LocalqmOrFail({"put", "QM1", "Q2", "--text", "fill", "--count", "1000"});
  Put(kThree);
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "ALIAS.Q", "-R", "*"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "Monitoring depth of queue 'Q2'\n\n")) << r.err;
  EXPECT_EQ("Target Queue does not appear to be being processed.\n", r.out);
  EXPECT_EQ(1003u, Data("Q2").size());
}

TEST_F(CopyTest, MessagesBackedOutTooOftenGoToTheBackoutQueue) {
  LocalqmOrFail({"define", "QM1", "BOQ"});
  LocalqmOrFail({"alter", "QM1", "Q1", "--boqname", "BOQ", "--bothresh", "3"});
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "fresh"});
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "poison", "--backout", "5"});
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "tired", "--backout", "3"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ((std::vector<std::string>{"fresh"}), Data("Q2"));
  EXPECT_EQ((std::vector<std::string>{"poison", "tired"}), Data("BOQ"));
  EXPECT_TRUE(Data("Q1").empty());
  // -O B ignores the backout settings.
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "poison", "--backout", "5"});
  r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-O", "B"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ((std::vector<std::string>{"fresh", "poison"}), Data("Q2"));
}

TEST_F(CopyTest, RateWithADurationReplaysTheBrowsedQueueUntilItsEnd) {
  Put(kThree);
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-R", "5:2"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("Required Rate End Time Reached.", lines.back()) << r.out;
  // Five a second for two to three seconds: whole periods of five, each
  // announced, every one a copy of the three messages in turn.
  size_t periods = lines.size() - 1;
  EXPECT_GE(periods, 2u) << r.out;
  EXPECT_LE(periods, 4u) << r.out;
  for (size_t i = 0; i < periods; i++) {
    EXPECT_EQ(0u, lines[i].rfind("5 msgs sent in ", 0)) << lines[i];
  }
  std::vector<std::string> copies = Data("Q2");
  ASSERT_EQ(5 * periods, copies.size());
  for (size_t i = 0; i < copies.size(); i++) EXPECT_EQ(kThree[i % 3], copies[i]) << i;
  EXPECT_EQ(kThree, Data("Q1"));
}

}  // namespace
