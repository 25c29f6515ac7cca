// Unloading and moving queues with the real binary against localqm: browse
// against move, large messages, faults in mid-unit on the get and on the
// put side, and filters on a move. Nothing may be lost whatever fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

class UnloadTest : public ::testing::Test {
 public:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default"});
    LocalqmOrFail({"define", "QM1", "Q1"});
  }
  static void Put(const std::vector<std::string>& texts) {
    for (const std::string& t : texts) LocalqmOrFail({"put", "QM1", "Q1", "--text", t});
  }
  static int Depth() {
    std::string out = LocalqmOrFail({"depth", "QM1", "Q1"});
    size_t digits = out.find_last_of("0123456789");
    if (digits == std::string::npos) return -1;
    size_t start = out.find_last_not_of("0123456789", digits);
    return atoi(out.c_str() + (start == std::string::npos ? 0 : start + 1));
  }
  // Messages in a message file: one MsgId attribute line each.
  static int MessagesInFile(const std::string& name) {
    int n = 0;
    for (const std::string& line : SplitLines(ReadFileText(ScratchPath(name)))) {
      if (line.rfind("A MSI ", 0) == 0) n++;
    }
    return n;
  }
  static bool FileHolds(const std::string& name, const std::string& text) {
    std::string hex;
    const char* digits = "0123456789ABCDEF";
    for (unsigned char c : text) {
      hex += digits[c >> 4];
      hex += digits[c & 15];
    }
    std::string file = ReadFileText(ScratchPath(name));
    return file.find(hex) != std::string::npos || file.find(text) != std::string::npos;
  }
};

TEST_F(UnloadTest, BrowseLeavesTheQueueMoveEmptiesIt) {
  struct Case {
    const char* inputOption;
    int depthAfter;
  } cases[] = {{"-i", 3}, {"-I", 0}};
  for (const Case& c : cases) {
    LocalqmOrFail({"clear", "QM1", "Q1"});
    Put({"first", "second", "third"});
    RunResult r = RunZeplo({"-m", "QM1", c.inputOption, "Q1", "-F", "out.zpd"});
    EXPECT_EQ(0, r.exitStatus) << c.inputOption << "\n" << r.err;
    EXPECT_EQ(c.depthAfter, Depth()) << c.inputOption;
    EXPECT_EQ(3, MessagesInFile("out.zpd")) << c.inputOption;
    for (const char* t : {"first", "second", "third"}) {
      EXPECT_TRUE(FileHolds("out.zpd", t)) << c.inputOption << " " << t;
    }
  }
}

TEST_F(UnloadTest, LargeMessageIsNotSkippedWhenTheBufferGrows) {
  std::string big(10000, 'B');
  Put({"small1", big, "small2"});
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-F", "out.zpd"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(3, MessagesInFile("out.zpd"));
  EXPECT_TRUE(FileHolds("out.zpd", "small2"));
  EXPECT_TRUE(FileHolds("out.zpd", std::string(10, 'B')));
}

TEST_F(UnloadTest, FaultInMidUnitBacksOutOnlyThatUnit) {
  Put({"m1", "m2", "m3", "m4", "m5", "m6", "m7"});
  // The fifth get fails: units 1-3 are committed, message 4 is in the open
  // unit and must go back to the queue.
  LocalqmOrFail({"fault", "QM1", "MQGET", "--reason", "2009", "--queue", "Q1", "--after", "4"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-t", "3", "-F", "out.zpd"});
  EXPECT_EQ(2009 & 0xFF, r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("MQGET(Q1) failed RC(2009)")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("Operation rolled back")) << r.err;
  LocalqmOrFail({"fault", "QM1", "--clear"});
  EXPECT_EQ(4, Depth());
  // The file is not transactional: message 4 was written before the fault.
  EXPECT_EQ(4, MessagesInFile("out.zpd"));
  // Everything is either still on the queue or was committed to the file.
  std::string left = LocalqmOrFail({"browse", "QM1", "Q1"});
  for (const char* t : {"m4", "m5", "m6", "m7"}) {
    EXPECT_NE(std::string::npos, left.find(t)) << t << "\n" << left;
  }
}

TEST_F(UnloadTest, PutFailureInAMoveLosesAndDuplicatesNothing) {
  LocalqmOrFail({"define", "QM1", "Q2"});
  Put({"p1", "p2", "p3", "p4", "p5", "p6", "p7"});
  // The fifth put fails: two units of two are committed, message 5 was got
  // in the open unit and goes back to Q1.
  LocalqmOrFail({"fault", "QM1", "MQPUT", "--reason", "2053", "--queue", "Q2", "--after", "4"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-t", "2"});
  EXPECT_EQ(2053 & 0xFF, r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("MQPUT(Q2) failed RC(2053)")) << r.err;
  LocalqmOrFail({"fault", "QM1", "--clear"});
  std::string moved = LocalqmOrFail({"browse", "QM1", "Q2"});
  std::string left = LocalqmOrFail({"browse", "QM1", "Q1"});
  for (int i = 1; i <= 7; i++) {
    std::string t = "p" + std::to_string(i);
    bool inMoved = moved.find(t) != std::string::npos;
    bool inLeft = left.find(t) != std::string::npos;
    EXPECT_NE(inMoved, inLeft) << t << " must be on exactly one queue";
    EXPECT_EQ(i <= 4, inMoved) << t;
  }
}

TEST_F(UnloadTest, FiltersOnAMoveTakeOnlyMatchingMessages) {
  Put({"keep one", "take two", "keep three", "take four"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-s", "take", "-F", "out.zpd"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(2, Depth());
  EXPECT_EQ(2, MessagesInFile("out.zpd"));
  EXPECT_TRUE(FileHolds("out.zpd", "take two"));
  EXPECT_FALSE(FileHolds("out.zpd", "keep one"));
  std::string left = LocalqmOrFail({"browse", "QM1", "Q1"});
  EXPECT_NE(std::string::npos, left.find("keep three")) << left;
}

}  // namespace
