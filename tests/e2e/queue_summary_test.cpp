// The queue summary (-ds) with the real binary against localqm: messages of
// chosen ages and sizes counted into their buckets, the identifiers of
// -dM, the queue file sizes asked of the command server, and the runs that
// do without them (-ds-, older command levels, z/OS, a stopped server).
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

// The put date and time (UTC) of a message `age` seconds old.
std::vector<std::string> PutTimeOptions(long age) {
  time_t when = time(nullptr) - age;
  struct tm utc;
  gmtime_r(&when, &utc);
  char date[16], clock[16];
  strftime(date, sizeof date, "%Y%m%d", &utc);
  strftime(clock, sizeof clock, "%H%M%S00", &utc);
  return {"--putdate", date, "--puttime", clock};
}

// The line `skip` lines after the first line that begins with `start` in
// `text`, or "" when there is none.
std::string LineAfter(const std::string& text, const std::string& start, int skip = 1) {
  std::vector<std::string> lines = SplitLines(text);
  for (size_t i = 0; i + skip < lines.size(); ++i)
    if (lines[i].rfind(start, 0) == 0) return lines[i + skip];
  return "";
}

class QueueSummaryTest : public ::testing::Test {
 public:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default"});
    LocalqmOrFail({"define", "QM1", "Q1", "--maxdepth", "20"});
  }
  static void Put(int count, long age, const std::string& text) {
    std::vector<std::string> args = {"put", "QM1", "Q1", "--text", text, "--count",
                                     std::to_string(count)};
    std::vector<std::string> times = PutTimeOptions(age);
    args.insert(args.end(), times.begin(), times.end());
    LocalqmOrFail(args);
  }
};

TEST_F(QueueSummaryTest, MessagesAreCountedByAgeAndSize) {
  Put(7, 30, std::string(99, 'a'));
  Put(3, 2 * 86400, std::string(100, 'b'));
  Put(1, 400 * 86400, std::string(5000, 'c'));
  LocalqmOrFail({"maxfsize", "QM1", "Q1", "100"});
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-ds", "-dM"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  std::string err = AfterBanner(r.err);
  EXPECT_EQ(LineAfter(err, "Read ", 0), "Read    - Files:   0  Messages:     11  Bytes:       5,993");
  EXPECT_EQ(LineAfter(err, "< 2  secs < 10 secs < 1   min < 1  hour < 1   day < 1  week ", 2),
            "        0         0         7         0         0         3 ");
  EXPECT_EQ(LineAfter(err, "< 2 weeks < 4 weeks < 3 month < 6 month < 1  year > 1  year ", 2),
            "        0         0         0         0         0         1 ");
  EXPECT_EQ(LineAfter(err, "< 100B <  1KB <  4KB <100KB <  1MB < 10MB < 50MB > 50MB ", 2),
            "     7      3      0      1      0      0      0      0 ");
  // The biggest is the one old message; the ids are its MsgId in hex.
  std::string biggestId = LineAfter(err, "Biggest  Message : 4.9 KBs ");
  std::vector<MessageFields> messages = BrowseMessages("QM1", "Q1");
  ASSERT_EQ(11u, messages.size());
  EXPECT_EQ("     Message Id:" + messages[10]["MsgId"], biggestId);
  EXPECT_EQ(LineAfter(err, "Oldest   Message : 57 Weeks 1 Day "), biggestId);
  EXPECT_EQ(LineAfter(err, "Messages  ", 0), "Messages                   11          20   55.0 %");
  EXPECT_NE(err.find("Queue File Size          1 MB     100 MBs    1.0 %\n"), std::string::npos)
      << err;
  // The summary moves nothing.
  EXPECT_EQ(11u, BrowseMessages("QM1", "Q1").size());
}

TEST_F(QueueSummaryTest, FileSizesOnlyWhereTheCommandServerIsAsked) {
  Put(2, 5, "hello");
  LocalqmOrFail({"create", "QMOLD", "--cmdlevel", "910"});
  LocalqmOrFail({"define", "QMOLD", "Q1"});
  LocalqmOrFail({"create", "QMZ", "--platform", "1"});
  LocalqmOrFail({"define", "QMZ", "Q1"});
  struct Case {
    std::vector<std::string> args;
    bool fileSizes;
  } cases[] = {
      {{"-m", "QM1", "-i", "Q1", "-ds"}, true},
      {{"-m", "QM1", "-i", "Q1", "-ds-"}, false},
      {{"-m", "QMOLD", "-i", "Q1", "-ds"}, false},
      {{"-m", "QMZ", "-i", "Q1", "-ds"}, false},
  };
  for (const Case& c : cases) {
    RunResult r = RunZeplo(c.args);
    EXPECT_EQ(0, r.exitStatus) << c.args[1] << r.err;
    EXPECT_NE(r.err.find("\nMessages  "), std::string::npos) << c.args[1] << c.args[4];
    EXPECT_EQ(r.err.find("Queue File Size") != std::string::npos, c.fileSizes)
        << c.args[1] << c.args[4];
  }
  // An empty queue: zero tables, no youngest or biggest lines.
  RunResult empty = RunZeplo({"-m", "QMOLD", "-i", "Q1", "-ds"});
  EXPECT_EQ(0, empty.exitStatus);
  EXPECT_EQ(std::string::npos, empty.err.find("Youngest"));
  EXPECT_EQ(std::string::npos, empty.err.find("Biggest"));
}

TEST_F(QueueSummaryTest, AStoppedCommandServerOnlyCostsTheFileSizes) {
  Put(1, 5, "hello");
  LocalqmOrFail({"cmdserver", "QM1", "stop"});
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-ds"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_NE(r.err.find("MQGET on object 'QM1/Q1' returned 2033 No message available.\n"
                       "No response from command server.\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Messages                    1          20"), std::string::npos) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("Queue File Size"));
  // The request waits for the server; started, it answers it, and the
  // reply, its queue gone with the run, goes to the dead-letter queue.
  EXPECT_EQ("1\n", LocalqmOrFail({"depth", "QM1", "SYSTEM.ADMIN.COMMAND.QUEUE"}));
  EXPECT_EQ("Served : 1\nCommandServer : running\n", LocalqmOrFail({"cmdserver", "QM1", "start"}));
  EXPECT_EQ("1\n", LocalqmOrFail({"depth", "QM1", "SYSTEM.DEAD.LETTER.QUEUE"}));
}

}  // namespace
