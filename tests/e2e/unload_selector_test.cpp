// An SQL92 selector is applied by the queue manager when the queue is
// opened. One that cannot select must refuse the open: a move that ignored
// the selector would take every message.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_util.h"

namespace {

TEST(UnloadSelector, QueueManagerWithoutSelectionRefusesTheOpen) {
  LocalqmOrFail({"create", "QM1", "--default"});
  LocalqmOrFail({"define", "QM1", "Q1"});
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "red", "--count", "2"});

  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-H", "colour = 'red'", "-f", "out.zpd"});
  EXPECT_EQ(Status(2551), r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos,
            r.err.find("MQOPEN on object 'QM1/Q1' returned 2551 Selection not available."))
      << r.err;
  EXPECT_FALSE(FileExists(ScratchPath("out.zpd")));
  EXPECT_EQ("2\n", LocalqmOrFail({"depth", "QM1", "Q1"}));
}

}  // namespace
