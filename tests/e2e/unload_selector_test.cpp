// An SQL92 selector (-H) is applied by the queue manager when the queue is
// opened: a move takes only what it selects, and a selector the queue
// manager cannot parse refuses the open before anything moves.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_util.h"

namespace {

class UnloadSelectorTest : public QueueTest {
 protected:
  void SetUp() override {
    QueueTest::SetUp();
    for (const char* p : {"2", "7", "5", "0"})
      LocalqmOrFail({"put", "QM1", "Q1", "--text", std::string("p") + p, "--priority", p});
  }
};

TEST_F(UnloadSelectorTest, MoveTakesOnlyTheSelectedMessages) {
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-H", "Root.MQMD.Priority > 4", "-f", "out.zpd"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("  Messages matching selector 'Root.MQMD.Priority > 4'"))
      << r.err;
  std::string file = ReadFileText(ScratchPath("out.zpd"));
  EXPECT_NE(std::string::npos, file.find("A PRI 7")) << file;
  EXPECT_NE(std::string::npos, file.find("A PRI 5")) << file;
  EXPECT_EQ(std::string::npos, file.find("A PRI 2")) << file;
  EXPECT_EQ("2\n", LocalqmOrFail({"depth", "QM1", "Q1"}));
}

TEST_F(UnloadSelectorTest, SelectorThatDoesNotParseRefusesTheOpen) {
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-H", "colour = 'red", "-f", "out.zpd"});
  EXPECT_EQ(Status(2459), r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos,
            r.err.find("MQOPEN on object 'QM1/Q1' returned 2459 Selector syntax error."))
      << r.err;
  EXPECT_FALSE(FileExists(ScratchPath("out.zpd")));
  EXPECT_EQ("4\n", LocalqmOrFail({"depth", "QM1", "Q1"}));
}

}  // namespace
