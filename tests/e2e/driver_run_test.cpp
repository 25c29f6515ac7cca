// Whole runs through the real binary against localqm, as the driver sees
// them: a queue manager that is not there, and a run that needs none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

class DriverRunTest : public testing::Test {
 protected:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default"});
    LocalqmOrFail({"define", "QM1", "Q1"});
    LocalqmOrFail({"put", "QM1", "Q1", "--text", "abc", "--count", "2"});
  }
  // Standard error without the banner (its four lines come first).
};

TEST_F(DriverRunTest, UnknownQueueManagerStopsBeforeAnyMessage) {
  RunResult r = RunZeplo({"-m", "NOSUCHQM", "-i", "Q1", "-f", "x.txt"});
  EXPECT_EQ(r.exitStatus, 2058 & 0xFF) << r.err;
  EXPECT_NE(r.err.find("2058"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Read    -"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(ScratchPath("x.txt")));
}

TEST_F(DriverRunTest, FileToFileConnectsNothing) {
  ASSERT_EQ(RunZeplo({"-q", "-m", "QM1", "-i", "Q1", "-f", "u.txt"}).exitStatus, 0);
  // No queue named: no MQ library is loaded, so none needs to be in reach.
  RunResult r = RunZeplo({"-f", "u.txt", "-f", "v.txt", "-dA"}, "",
                         {"MQ_INSTALLATION_PATH=/nonexistent"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(AfterBanner(r.err),
            "Read    - Files:   1  Messages:      2  Bytes:           6\n"
            "Written - Files:   1  Messages:      2  Bytes:           6\n");
  EXPECT_TRUE(FileExists(ScratchPath("v.txt")));
}

}  // namespace
