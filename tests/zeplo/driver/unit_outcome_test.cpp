// However a run fails, got messages end either on their output or back on
// the input queue: a unit whose backout fails is not committed by the
// disconnect at the end of the run.
#include <string>
#include <vector>

#include "tests/zeplo/driver/localqm_run.h"

namespace {

class UnitOutcomeTest : public LocalqmRunTest {};

TEST_F(UnitOutcomeTest, FailedWriteAndFailedBackoutsLoseNothing) {
  struct Case {
    const char* backoutFaults;  // how many MQBACKs fail; "0": every one
    const char* output;
    int status;
  } cases[] = {
      {"1", "-F/dev/full", 2102 & 0xFF},  // the disconnect backs out again
      {"0", "-F/dev/full", 2102 & 0xFF},  // left to the queue manager
      {"0", "-oNOT.THERE", 2085 & 0xFF},  // nothing got, nothing to lose
  };
  for (const Case& c : cases) {
    Admin("clear QM1 Q1");
    Admin("put QM1 Q1 --text m --count 3");
    Admin(std::string("fault QM1 MQBACK --reason 2195 --times ") + c.backoutFaults);
    int status = RunInChild({"-q", "-mQM1", "-IQ1", c.output});
    Admin("fault QM1 --clear");
    EXPECT_EQ(c.status, status) << c.backoutFaults << " " << c.output;
    EXPECT_EQ("3\n", Admin("depth QM1 Q1")) << c.backoutFaults << " " << c.output;
  }
}

}  // namespace
