// Unloading with data conversion (-c): text is converted, and a message the
// queue manager cannot convert still arrives, unconverted, instead of
// stopping the run (a move must not lose it).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using UnloadConvert = QueueTest;

TEST_F(UnloadConvert, UnconvertibleMessagesArriveUnconverted) {
  // EBCDIC 500 "HELLO" as MQSTR, then binary data without a format.
  LocalqmOrFail(Words("put QM1 Q1 --hex C8C5D3D3D6 --format MQSTR --ccsid 500"));
  LocalqmOrFail({"put", "QM1", "Q1", "--hex", "00FF00FF", "--format", ""});
  RunResult r = RunZeplo(Words("-m QM1 -I Q1 -c 819 -F out.zpd -q"));
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ((std::vector<std::string>{"HELLO", std::string("\0\xFF\0\xFF", 4)}),
            FileMessages("out.zpd"));
  EXPECT_EQ(0, Depth());
}

}  // namespace
