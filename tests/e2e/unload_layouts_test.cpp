// The layouts of an unloaded queue with the real binary against localqm:
// every display option's data lines compared whole, standard output, the
// null file and the two counting displays, the selection numbers and the
// display refusals. Every run browses, so the queue must keep all its
// messages. (Descriptor lines and headers are pinned by the writer's
// fixtures, tests/data/files.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

// Five messages that between them reach every branch of the layouts: text
// with a double quote and a tilde (escaped in S lines, not string-safe in
// the ASCII layout), an unsafe byte before a letter (the first S line of a
// message is then empty), no data at all, text lines ended by CR LF and by
// LF LF, and 26 bytes (one more than an X line holds by default).
const char* const kMessageHex[] = {
    "48656C6C6F2C2022776F726C6422207E78",  // Hello, "world" ~x
    "0141",
    "",
    "410D0A420A0A",                                          // A CR LF B LF LF
    "6162636465666768696A6B6C6D6E6F707172737475767778797A",  // a..z
};
const int kMessages = 5;  // of 51 data bytes in all

class UnloadLayoutsTest : public QueueTest {
 public:
  void SetUp() override {
    QueueTest::SetUp();
    for (const char* hex : kMessageHex)
      LocalqmOrFail({"put", "QM1", "Q1", hex[0] == '\0' ? "--text" : "--hex", hex});
  }
  // A browse of Q1 with the options of `args` (split at spaces).
  static RunResult Browse(const std::string& args) { return RunZeplo(Words("-m QM1 -i Q1 " + args)); }
};

// Each message's section with -dNH: the N line, the data lines, an empty
// line. Raw is the exception (no N line with -dN, and the data as is).
std::string Sections(const std::vector<std::string>& data) {
  std::string text;
  for (const std::string& d : data) text += "N\n" + d + "\n";
  return text;
}

// The data lines of each message in the default (hex) layout.
const std::vector<std::string> kHexLines = {
    "X 48656C6C6F2C2022776F726C6422207E78\n", "X 0141\n", "X \n", "X 410D0A420A0A\n",
    "X 6162636465666768696A6B6C6D6E6F70717273747576777879\nX 7A\n"};

TEST_F(UnloadLayoutsTest, DataLinesOfEveryLayout) {
  const std::string blanks48(48, ' '), blanks50(50, ' ');
  std::string indexed;
  for (size_t i = 0; i < kHexLines.size(); i++)
    indexed += "* Index " + std::to_string(i + 1) + "\n" + Sections({kHexLines[i]});
  struct Case {
    const char* options;
    std::string expected;
  } cases[] = {
      {"-dNH", Sections(kHexLines)},
      {"-dNHA", Sections({"S \"Hello, \"\nX 22\nS \"world\"\nX 22\nS \" \"\nX 7E\nS \"x\"\n",
                          "S \nX 01\nS \"A\"\n", "S \n", "S \"A\"\nX 0D0A\nS \"B\"\nX 0A0A\n",
                          "S \"abcdefghijklmnopqrstuvwxyz\"\n"})},
      {"-dNHp",
       Sections({"S \"Hello, ~\"world~\" ~~x\"\n", "S \nX 01\nS \"A\"\n", "S \n",
                 "S \"A\"\nX 0D0A\nS \"B\"\nX 0A0A\n", "S \"abcdefghijklmnopqrstuvwxyz\"\n"})},
      {"-dNHt", Sections({"T Hello, \"world\" ~x\n", "T \nX 01\nT A\n", "T \n", "T A\nT B\nT \n",
                          "T abcdefghijklmnopqrstuvwxyz\n"})},
      // The ASCII column starts at the same place on every line.
      {"-dNHa", Sections({"X 48656C6C6F2C2022776F726C6422207E78" + std::string(18, ' ') +
                              "<Hello, \"world\" ~x>\n",
                          "X 0141" + blanks48 + "<.A>\n", "X \n",
                          "X 410D0A420A0A" + std::string(40, ' ') + "<A..B..>\n",
                          "X 6162636465666768696A6B6C6D6E6F70717273747576777879  "
                          "<abcdefghijklmnopqrstuvwxy>\nX 7A" +
                              blanks50 + "<z>\n"})},
      // Widths below 10 are raised to 10.
      {"-dNHw5", Sections({"X 48656C6C6F2C2022776F\nX 726C6422207E78\n", "X 0141\n", "X \n",
                           "X 410D0A420A0A\n",
                           "X 6162636465666768696A\nX 6B6C6D6E6F7071727374\nX 75767778797A\n"})},
      {"-dNHr", std::string("Hello, \"world\" ~x\n\x01"
                            "A\n\nA\r\nB\n\n\nabcdefghijklmnopqrstuvwxyz\n")},
      {"-dNHi", indexed},
  };
  for (const Case& c : cases) {
    RunResult r = Browse(std::string("-F out.zpd ") + c.options);
    EXPECT_EQ(0, r.exitStatus) << c.options << "\n" << r.err;
    EXPECT_EQ(c.expected, ReadFileText(ScratchPath("out.zpd"))) << c.options;
    EXPECT_TRUE(Has(r.err, "Written - Files:   1  Messages:      5  Bytes:          51"))
        << c.options << "\n" << r.err;
  }
  EXPECT_EQ(kMessages, Depth());
}

TEST_F(UnloadLayoutsTest, StandardOutputNullAndCounting) {
  struct Case {
    std::string args;
    std::string out;       // standard output, whole
    const char* errHas;    // a line standard error must hold ("" = nothing)
    const char* errLacks;  // text standard error must not hold
  } cases[] = {
      {"-f stdout -dNH", Sections(kHexLines), "Written - Files:   1  Messages:      5  Bytes:          51",
       "Counted"},
      {"-f null", "", "Read    - Files:   0  Messages:      5  Bytes:          51", "Written"},
      {"-dk", "", "Counted -             Messages:      5  Bytes:          51", "Written"},
      {"-dK", "5", "", "Read"},
      // Quiet counting still gives the bare count.
      {"-dk -q", "5", "", "Read"},
      // Only reading (a browse with no output): the Read line alone.
      {"-r 2..4", "",
       "Message selection active:\n  Message indexes 2 -> 4.\n\n"
       "Read    - Files:   0  Messages:      4  Bytes:          25\n",
       "Written"},
      {"-q -f null", "", "", "Read"},
  };
  for (const Case& c : cases) {
    RunResult r = Browse(c.args);
    const std::string& label = c.args;
    EXPECT_EQ(0, r.exitStatus) << label << "\n" << r.err;
    EXPECT_EQ(c.out, r.out) << label;
    if (c.errHas[0] == '\0')
      EXPECT_EQ("", r.err) << label;
    else
      EXPECT_NE(std::string::npos, r.err.find(c.errHas)) << label << "\n" << r.err;
    EXPECT_EQ(std::string::npos, r.err.find(c.errLacks)) << label << "\n" << r.err;
    // Neither name is a file: both select the standard output.
    EXPECT_FALSE(FileExists(ScratchPath("stdout"))) << label;
    EXPECT_FALSE(FileExists(ScratchPath("null"))) << label;
  }
  EXPECT_EQ(kMessages, Depth());
}

TEST_F(UnloadLayoutsTest, SelectionNumbersAndCountsOnlyTheSelected) {
  // Messages 1 and 5 hold an "l". Index lines number the messages written;
  // the time-on-queue listing numbers them by their place in the queue.
  struct Case {
    std::string args;
    std::vector<std::string> linesWith;  // lines of the file (or "out:" text)
  } cases[] = {
      {"-dNHi -F out.zpd", {"* Index 1", "* Index 2"}},
      {"-dHT -F out.zpd", {"    1. MsgId:", "    5. MsgId:"}},
      {"-dk", {"err:Counted -             Messages:      2  Bytes:          43"}},
      {"-dK", {"out:2"}},
  };
  for (const Case& c : cases) {
    std::remove(ScratchPath("out.zpd").c_str());
    RunResult r = Browse("-s l " + c.args);
    EXPECT_EQ(0, r.exitStatus) << c.args << "\n" << r.err;
    std::vector<std::string> found;
    if (c.linesWith[0].rfind("out:", 0) == 0) {
      found.push_back("out:" + r.out);
    } else if (c.linesWith[0].rfind("err:", 0) == 0) {
      for (const std::string& line : SplitLines(r.err))
        if (line.rfind("Counted", 0) == 0) found.push_back("err:" + line);
    } else {
      for (const std::string& line : SplitLines(ReadFileText(ScratchPath("out.zpd")))) {
        if (line.rfind("* Index", 0) == 0) found.push_back(line);
        if (line.find(". MsgId:") != std::string::npos) found.push_back(line.substr(0, 13));
      }
    }
    EXPECT_EQ(c.linesWith, found) << c.args;
  }
}

TEST_F(UnloadLayoutsTest, DisplayRefusalsLeaveTheQueueAlone) {
  struct Case {
    std::string label;  // the arguments after -m QM1
    const char* err;
  } cases[] = {
      // Counting only browses.
      {"-I Q1 -dK", "Count option is not valid with move, use browse"},
      // Layouts that write into a file, with no file to write.
      {"-i Q1 -dA", "Display options require an output file"},
      {"-I Q1 -di", "Display options require an output file"},
  };
  for (const Case& c : cases) {
    const std::string& label = c.label;
    RunResult r = RunZeplo(Words("-m QM1 " + label));
    EXPECT_EQ(2046 & 0xFF, r.exitStatus) << label << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.err)) << label << "\n" << r.err;
    EXPECT_FALSE(FileExists(ScratchPath("out.zpd"))) << label;
    EXPECT_EQ(kMessages, Depth()) << label;
  }
}

}  // namespace
