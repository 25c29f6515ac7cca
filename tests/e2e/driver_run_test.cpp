// Whole runs through the real binary against localqm, as the driver sees
// them: which slots are connected, the final count lines, the bare count of
// -dK, exit statuses of failed steps, and the disconnect at the end.
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
  }
  static void Put(const std::string& text, int count = 1) {
    LocalqmOrFail({"put", "QM1", "Q1", "--text", text, "--count",
                   std::to_string(count)});
  }
  // Standard error without the banner (its four lines come first).
  static std::string AfterBanner(const std::string& err) {
    size_t at = err.find("\n\n");
    return at == std::string::npos ? err : err.substr(at + 2);
  }
};

TEST_F(DriverRunTest, CountLinesOfAnUnload) {
  Put("0123456789", 3);
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-f", "q1.txt"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(AfterBanner(r.err),
            "Read    - Files:   0  Messages:      3  Bytes:          30\n"
            "Written - Files:   1  Messages:      3  Bytes:          30\n");
  EXPECT_TRUE(FileExists(ScratchPath("q1.txt")));
}

TEST_F(DriverRunTest, CountingRuns) {
  Put("abcd", 12);
  struct Case {
    std::vector<std::string> Args;
    std::string Out, Err;
  } cases[] = {
      // -dK: the bare count on standard output, nothing else anywhere.
      {{"-m", "QM1", "-i", "Q1", "-dK"}, "12", ""},
      {{"-m", "QM1", "-i", "Q1", "-dk", "-q"}, "12", ""},
      {{"-m", "QM1", "-i", "Q1", "-dk"}, "",
       "Read    - Files:   0  Messages:     12  Bytes:          48\n"
       "Counted -             Messages:     12  Bytes:          48\n"},
      // Only reading (browse with no output): the Read line alone.
      {{"-m", "QM1", "-i", "Q1", "-r", "2..4"}, "",
       "Message selection active:\n"
       "  Message indexes 2 -> 4.\n\n"
       "Read    - Files:   0  Messages:      4  Bytes:          16\n"},
  };
  for (const Case& c : cases) {
    RunResult r = RunZeplo(c.Args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, c.Out);
    EXPECT_EQ(c.Err.empty() ? r.err : AfterBanner(r.err), c.Err);
  }
}

TEST_F(DriverRunTest, LargeCountsAreGrouped) {
  std::string big(1234567, 'x');
  ASSERT_TRUE(WriteFileText(ScratchPath("big.bin"), big));
  LocalqmOrFail({"put", "QM1", "Q1", "--file", ScratchPath("big.bin")});
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-dk"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.err.find("Messages:      1  Bytes:   1,234,567\n"),
            std::string::npos)
      << r.err;
}

TEST_F(DriverRunTest, FailedStepsGiveTheirReason) {
  Put("m");
  struct Case {
    std::vector<std::string> Args;
    int Status;  // the reason, cut to 8 bits by the platform
    std::string ErrHas;
    bool CountsShown;  // only once the run got as far as its messages
  } cases[] = {
      {{"-m", "NOSUCHQM", "-i", "Q1", "-f", "x.txt"}, 2058 & 0xFF, "2058",
       false},
      {{"-m", "QM1", "-i", "NOSUCH", "-f", "x.txt"}, 2085 & 0xFF, "2085",
       false},
      // The output file is opened for the first message, so the failure
      // comes with the counts of what was read.
      {{"-m", "QM1", "-i", "Q1", "-f", "/nonexistent-dir/x.txt"}, 2208 & 0xFF,
       "/nonexistent-dir/x.txt", true},
  };
  for (const Case& c : cases) {
    RunResult r = RunZeplo(c.Args);
    EXPECT_EQ(r.exitStatus, c.Status) << r.err;
    EXPECT_NE(r.err.find(c.ErrHas), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Read    -") != std::string::npos, c.CountsShown)
        << r.err;
  }
}

TEST_F(DriverRunTest, DisconnectIsTheLastCall) {
  Put("m");
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-f", "out.txt", "-va"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::vector<std::string> lines = SplitLines(r.err);
  size_t disc = 0, written = 0;
  for (size_t i = 0; i < lines.size(); i++) {
    if (lines[i].rfind("MQDISC", 0) == 0) disc = i;
    if (lines[i].rfind("Written", 0) == 0) written = i;
  }
  ASSERT_GT(disc, 0u) << r.err;
  EXPECT_GT(disc, written);
  EXPECT_EQ(disc, lines.size() - 1);
}

TEST_F(DriverRunTest, FileToFileConnectsNothing) {
  Put("abc", 2);
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

// Runs that put to queues: two queue managers, distribution lists, and the
// report of a unit of work backed out.
class DriverQueueRunTest : public DriverRunTest {
 protected:
  void SetUp() override {
    DriverRunTest::SetUp();
    LocalqmOrFail({"create", "QM2"});
    LocalqmOrFail({"define", "QM2", "Q2"});
    LocalqmOrFail({"define", "QM1", "Q3"});
  }
};

TEST_F(DriverQueueRunTest, SecondQueueManagerConnectsSecondAndLeavesFirst) {
  Put("hello", 3);
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-m", "QM2", "-o", "Q2", "-va"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::vector<std::string> connects, disconnects;
  for (const std::string& line : SplitLines(r.err)) {
    if (line.rfind("MQCONN", 0) == 0) connects.push_back(line);
    if (line.rfind("MQDISC", 0) == 0) disconnects.push_back(line);
  }
  ASSERT_EQ(connects.size(), 2u) << r.err;
  EXPECT_NE(connects[0].find("'QM1'"), std::string::npos);
  EXPECT_NE(connects[1].find("'QM2'"), std::string::npos);
  ASSERT_EQ(disconnects.size(), 2u) << r.err;
  EXPECT_NE(disconnects[0].find("'QM2'"), std::string::npos);
  EXPECT_NE(disconnects[1].find("'QM1'"), std::string::npos);
  EXPECT_NE(r.err.find("Read    - Files:   0  Messages:      3  Bytes:          15\n"
                       "Written - Files:   0  Messages:      3  Bytes:          15\n"),
            std::string::npos);
}

TEST_F(DriverQueueRunTest, FailedOpenOfOneDestinationMovesNothing) {
  Put("hello", 2);
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q3", "-o", "NOSUCH"});
  EXPECT_EQ(r.exitStatus, 2085 & 0xFF) << r.err;
  EXPECT_EQ(r.err.find("Read    -"), std::string::npos) << r.err;
  EXPECT_EQ(LocalqmOrFail({"depth", "QM1", "Q1"}), "2\n");  // nothing moved
}

TEST_F(DriverQueueRunTest, RolledBackReportShowsWhatWasCommitted) {
  Put("hello", 5);
  LocalqmOrFail({"fault", "QM1", "MQPUT", "--reason", "2053", "--queue", "Q3",
                 "--after", "3"});
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-o", "Q3", "-t", "2"});
  EXPECT_EQ(r.exitStatus, 2053 & 0xFF) << r.err;
  EXPECT_EQ(AfterBanner(r.err),
            "MQPUT(Q3) failed RC(2053) Queue full\n"
            "Read    - Files:   0  Messages:      4  Bytes:          20\n"
            "Written - Files:   0  Messages:      3  Bytes:          15\n"
            "\nOperation rolled back, completed operations as follows:\n"
            "Read    - Files:   0  Messages:      2  Bytes:          10\n"
            "Written - Files:   0  Messages:      2  Bytes:          10\n");
}

}  // namespace
