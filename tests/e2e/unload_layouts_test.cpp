// The layouts of an unloaded queue with the real binary against localqm:
// every display option's data lines compared whole, the descriptor lines
// and the header, the time-on-queue listing, standard output, the null file
// and the two counting displays. Every run browses, so the queue must keep
// all its messages.
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

class UnloadLayoutsTest : public ::testing::Test {
 public:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default"});
    LocalqmOrFail({"define", "QM1", "Q1"});
    for (const char* hex : kMessageHex) {
      if (hex[0] == '\0')
        LocalqmOrFail({"put", "QM1", "Q1", "--text", ""});
      else
        LocalqmOrFail({"put", "QM1", "Q1", "--hex", hex});
    }
  }
  static int Depth() {
    std::string out = LocalqmOrFail({"depth", "QM1", "Q1"});
    size_t digits = out.find_last_of("0123456789");
    if (digits == std::string::npos) return -1;
    size_t start = out.find_last_not_of("0123456789", digits);
    return atoi(out.c_str() + (start == std::string::npos ? 0 : start + 1));
  }
};

TEST_F(UnloadLayoutsTest, SelectionNumbersAndCountsOnlyTheSelected) {
  // Messages 1 and 5 hold an "l". Index lines number the messages written;
  // the time-on-queue listing numbers them by their place in the queue.
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> linesWith;  // lines of the file (or "out:" text)
  } cases[] = {
      {{"-dNHi", "-F", "out.zpd"}, {"* Index 1", "* Index 2"}},
      {{"-dHT", "-F", "out.zpd"}, {"    1. MsgId:", "    5. MsgId:"}},
      {{"-dk"}, {"err:Counted -             Messages:      2  Bytes:          43"}},
      {{"-dK"}, {"out:2"}},
  };
  for (const Case& c : cases) {
    std::remove(ScratchPath("out.zpd").c_str());
    std::vector<std::string> args = {"-m", "QM1", "-i", "Q1", "-s", "l"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = RunZeplo(args);
    EXPECT_EQ(0, r.exitStatus) << c.args[0] << "\n" << r.err;
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
    EXPECT_EQ(c.linesWith, found) << c.args[0];
  }
}

TEST_F(UnloadLayoutsTest, DisplayRefusalsLeaveTheQueueAlone) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      // Counting only browses.
      {{"-I", "Q1", "-dK"}, "Count option is not valid with move, use browse"},
      // Layouts that write into a file, with no file to write.
      {{"-i", "Q1", "-dA"}, "Display options require an output file"},
      {{"-I", "Q1", "-di"}, "Display options require an output file"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-m", "QM1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = RunZeplo(args);
    std::string label = c.args[0] + " " + c.args[2];
    EXPECT_EQ(2046 & 0xFF, r.exitStatus) << label << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.err)) << label << "\n" << r.err;
    EXPECT_FALSE(FileExists(ScratchPath("out.zpd"))) << label;
    EXPECT_EQ(kMessages, Depth()) << label;
  }
}

}  // namespace
