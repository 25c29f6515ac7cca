// Descriptor overrides wherever a message is delivered, context passed on
// a selective move, and the moves that are refused before anything is
// taken, with the real binary against localqm.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

constexpr int kRefused = 2046 & 0xFF;

class ShapingMovesTest : public QueueTest {
 public:
  ShapingMovesTest() : QueueTest({"Q1", "Q2"}) {}
  void SetUp() override {
    QueueTest::SetUp();
    LocalqmOrFail({"create", "QM2"});
    LocalqmOrFail({"define", "QM2", "Q2"});
    for (const char* put : {"one --priority 2", "two --priority 1"})
      LocalqmOrFail(Words(std::string("put QM1 Q1 --text ") + put));
  }
};

// The selected message is got under the cursor, which saves its context:
// passing it on is allowed, and only that message moves.
TEST_F(ShapingMovesTest, ContextPassedOnASelectiveMove) {
  for (const char* mode : {"a", "i"}) {
    RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q2", "-r", "1", "-C", mode});
    ASSERT_EQ(0, r.exitStatus) << mode << "\n" << r.err;
  }
  EXPECT_EQ(0, Depth("Q1"));
  EXPECT_EQ(2, Depth("Q2"));
}

// Refused before anything is taken: each leaves both messages on Q1.
TEST_F(ShapingMovesTest, MovesThatCouldNotBeUndoneAreRefused) {
  const struct {
    const char* Args;  // after -m QM1 -I Q1
    int Status;
    const char* Message;
  } cases[] = {
      {"-f t.txt -dT", kRefused, "Time on queue option is not valid with move, use browse\n"},
      {"-f r.txt -dr", kRefused, "Raw byte option is not valid with move, use browse\n"},
      {"-m QM2 -o Q2 -C a", Status(2098),
       "Sorry, context can only be passed between queues of one Queue Manager\n"},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(Words(std::string("-m QM1 -I Q1 ") + c.Args));
    EXPECT_EQ(c.Status, r.exitStatus) << c.Message << r.err;
    EXPECT_EQ(c.Message, AfterBanner(r.err));
    EXPECT_EQ(2, Depth("Q1"));
  }
  EXPECT_EQ(0, Depth("Q2", "QM2"));
}

}  // namespace
