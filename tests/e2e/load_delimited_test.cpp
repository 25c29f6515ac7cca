// Loading plain files onto queues with the real binary against localqm:
// lines, whole binary files, numbered files, refusals and faults that leave
// the queue alone, and the count and question at a terminal. (Records with
// properties become an exact MQRFH2 in the delimited reader's tests.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

// Records 1 and 3 carry properties; the second section is laid out over
// lines and indented, as people write it.
const char kOrders[] =
    "<props><usr><region>EMEA</region><qty dt='i4'>5</qty></usr></props>\n"
    "<order>first</order>\n"
    "<order>second</order>\n"
    "<props>\n  <usr>\n    <region>APAC</region>\n    <qty dt='i4'>12</qty>\n  </usr>\n</props>\n"
    "<order>third</order>\n";

class LoadDelimitedTest : public QueueTest {
 public:
  static std::vector<MessageFields> Browse() { return BrowseMessages("QM1", "Q1", true); }
};

TEST_F(LoadDelimitedTest, LinesBecomeMessages) {
  ASSERT_TRUE(WriteFileText(ScratchPath("lines.txt"), "alpha\n\nbeta gamma\nlast"));
  RunResult r = RunZeplo({"-m", "QM1", "-o", "Q1", "-f", "lines.txt", "-nn", "-Cd"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "Read    - Files:   1  Messages:      4  Bytes:")) << r.err;
  std::vector<MessageFields> got = Browse();
  ASSERT_EQ(4u, got.size());
  const char* want[] = {"alpha", "", "beta gamma", "last"};
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(Hex(want[i]), got[i]["DataHex"]) << i;
    EXPECT_EQ("MQSTR", got[i]["Format"]) << i;
    EXPECT_EQ("8", got[i]["MsgType"]) << i;
  }
}

TEST_F(LoadDelimitedTest, WholeFilesAndNumberedFiles) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  ASSERT_TRUE(WriteFileText(ScratchPath("part1.bin"), bytes));
  ASSERT_TRUE(WriteFileText(ScratchPath("part2.bin"), "second file\n"));
  RunResult r = RunZeplo({"-m", "QM1", "-o", "Q1", "-f", "part%n.bin", "-n1", "-Cn"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  std::vector<MessageFields> got = Browse();
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(Hex(bytes), got[0]["DataHex"]);
  EXPECT_EQ(Hex("second file\n"), got[1]["DataHex"]);
  EXPECT_NE(std::string::npos, r.err.find("Read    - Files:   2  Messages:      2")) << r.err;
}

TEST_F(LoadDelimitedTest, RefusalsAndFaultsLeaveTheQueueAlone) {
  ASSERT_TRUE(WriteFileText(ScratchPath("lines.txt"), "a\nb\n"));
  ASSERT_TRUE(WriteFileText(ScratchPath("cut.txt"), "<m>a</m><m>b"));
  struct {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      {"-f lines.txt -nn", Status(3229),
       "A non-ZEPLO file should be loaded with either DEFAULT or NO context.\n"},
      {"-f lines.txt -ns:AB -ne:AB -Cd", Status(3229), "Message delimiters are the same.\n"},
      {"-f cut.txt -ns:<m> -ne:</m> -Cd", Status(2208),
       "No end delimiter found for the message at byte 8 of file 'cut.txt'\n"},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(Words("-q -m QM1 -o Q1 " + c.args));
    EXPECT_EQ(c.status, r.exitStatus) << c.message;
    EXPECT_EQ(std::string(c.message) + "\n", r.err);  // the text, then the run's newline
    EXPECT_EQ(0, Depth("Q1")) << c.message;
  }
}

TEST_F(LoadDelimitedTest, CountAndQuestionAtATerminal) {
  ASSERT_TRUE(WriteFileText(ScratchPath("orders.txt"), kOrders));
  ASSERT_TRUE(WriteFileText(ScratchPath("empty.txt"), "nothing to see\n"));
  struct {
    const char* answer;
    const char* depth;
  } cases[] = {{"n\n", "0\n"}, {"y\n", "3\n"}};
  for (const auto& c : cases) {
    LocalqmOrFail({"clear", "QM1", "Q1"});
    PtySession pty;
    ASSERT_TRUE(PtyStart(&pty, ZeploPath(),
                         Words("-m QM1 -o Q1 -f orders.txt -ns:<order> -ne:</order> -np:<props> "
                               "-nq:</props> -Cd")));
    ASSERT_TRUE(PtyWaitFor(&pty, ": 3 messages found (2 with properties)\n"
                                 "Do you want to continue? (y/n)\n"))
        << PtyText(pty);
    PtySend(&pty, c.answer);
    EXPECT_EQ(0, PtyFinish(&pty)) << PtyText(pty);
    EXPECT_EQ(c.depth, LocalqmOrFail({"depth", "QM1", "Q1"})) << c.answer;
    bool counted = PtyText(pty).find("Written - Files:   0  Messages:      3") != std::string::npos;
    EXPECT_EQ(c.answer[0] == 'y', counted) << PtyText(pty);
  }
  // Nothing found: no question, nothing put.
  PtySession pty;
  ASSERT_TRUE(PtyStart(&pty, ZeploPath(), Words("-m QM1 -o Q1 -f empty.txt -ns:<m> -ne:</m> -Cd")));
  EXPECT_EQ(0, PtyFinish(&pty));
  std::string shown = PtyText(pty);
  EXPECT_NE(std::string::npos,
            shown.find(": 0 messages found\nNo messages were found in the file with those "
                       "delimiters.\n"))
      << shown;
  EXPECT_EQ(std::string::npos, shown.find("Do you want")) << shown;
}

}  // namespace
