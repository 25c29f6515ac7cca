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
  // `count` messages put `age` seconds ago (the put time is UTC).
  static void Put(int count, long age, const std::string& text) {
    time_t when = time(nullptr) - age;
    struct tm utc;
    gmtime_r(&when, &utc);
    char date[16], clock[16];
    strftime(date, sizeof date, "%Y%m%d", &utc);
    strftime(clock, sizeof clock, "%H%M%S00", &utc);
    LocalqmOrFail({"put", "QM1", "Q1", "--text", text, "--count", std::to_string(count),
                   "--putdate", date, "--puttime", clock});
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
  EXPECT_EQ("Read    - Files:   0  Messages:     11  Bytes:       5,993",
            LineAfter(err, "Read ", 0));
  EXPECT_EQ("        0         0         7         0         0         3 ",
            LineAfter(err, "< 2  secs < 10 secs < 1   min < 1  hour < 1   day < 1  week ", 2));
  EXPECT_EQ("        0         0         0         0         0         1 ",
            LineAfter(err, "< 2 weeks < 4 weeks < 3 month < 6 month < 1  year > 1  year ", 2));
  EXPECT_EQ("     7      3      0      1      0      0      0      0 ",
            LineAfter(err, "< 100B <  1KB <  4KB <100KB <  1MB < 10MB < 50MB > 50MB ", 2));
  // The biggest is the one old message; the ids are its MsgId in hex.
  std::vector<MessageFields> messages = BrowseMessages("QM1", "Q1");  // the summary moves nothing
  ASSERT_EQ(11u, messages.size());
  const std::string id = "     Message Id:" + messages[10]["MsgId"];
  EXPECT_EQ(id, LineAfter(err, "Biggest  Message : 4.9 KBs "));
  EXPECT_EQ(id, LineAfter(err, "Oldest   Message : 57 Weeks 1 Day "));
  EXPECT_EQ("Messages                   11          20   55.0 %", LineAfter(err, "Messages  ", 0));
  EXPECT_TRUE(Has(err, "Queue File Size          1 MB     100 MBs    1.0 %\n")) << err;
}

TEST_F(QueueSummaryTest, FileSizesOnlyWhereTheCommandServerIsAsked) {
  Put(1, 5, "hello");
  for (const char* q : {"QMOLD --cmdlevel 910", "QMZ --platform 1"}) {
    std::vector<std::string> create = Words(std::string("create ") + q);
    LocalqmOrFail(create);
    LocalqmOrFail({"define", create[1], "Q1"});
  }
  // The queues of QMOLD and QMZ are empty: zero tables, no youngest or
  // biggest lines.
  const struct {
    const char* args;
    bool fileSizes;
  } cases[] = {{"-m QM1 -i Q1 -ds", true}, {"-m QM1 -i Q1 -ds-", false},
               {"-m QMOLD -i Q1 -ds", false}, {"-m QMZ -i Q1 -ds", false}};
  for (const auto& c : cases) {
    RunResult r = RunZeplo(Words(c.args));
    EXPECT_EQ(0, r.exitStatus) << c.args << r.err;
    EXPECT_TRUE(Has(r.err, "\nMessages  ")) << c.args;
    EXPECT_EQ(c.fileSizes, Has(r.err, "Queue File Size")) << c.args;
    const bool messages = Has(c.args, "QM1");
    EXPECT_EQ(messages, Has(r.err, "Youngest")) << c.args;
    EXPECT_EQ(messages, Has(r.err, "Biggest")) << c.args;
  }
  // A stopped command server only costs the file sizes.
  LocalqmOrFail({"cmdserver", "QM1", "stop"});
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-ds"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "MQGET on object 'QM1/Q1' returned 2033 No message available.\n"
                         "No response from command server.\n"))
      << r.err;
  EXPECT_TRUE(Has(r.err, "Messages                    1          20")) << r.err;
  EXPECT_FALSE(Has(r.err, "Queue File Size"));
  // The request waits for the server; started, it answers it, and the
  // reply, its queue gone with the run, goes to the dead-letter queue.
  EXPECT_EQ("1\n", LocalqmOrFail({"depth", "QM1", "SYSTEM.ADMIN.COMMAND.QUEUE"}));
  EXPECT_EQ("Served : 1\nCommandServer : running\n", LocalqmOrFail({"cmdserver", "QM1", "start"}));
  EXPECT_EQ("1\n", LocalqmOrFail({"depth", "QM1", "SYSTEM.DEAD.LETTER.QUEUE"}));
}

}  // namespace
