// Thousands of generated command lines through the option loop, the checks
// and the reports: whatever the input, the run either refuses it with 2046
// or yields options that keep their invariants, and nothing reads or
// writes out of bounds (the sanitizer build watches).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "zeplo/cs/cs.h"
#include "zeplo/driver/driver.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"

namespace {

// Values that sit on the edges of the option grammars.
const char* const kValues[] = {
    "", "?", "0", "-1", "1", "5..9", "#3", "5#", "..", "x", "*", "*:*", ":",
    "1k,1m", ",", "1:2:3", "1:2:3:4", "f", "t", "fu", "tu25/12/2014_12:00",
    "f12:30", "s10m", "a2h", "m0", "s", "a", "r:QM/Q", "r:'Q'", "t:REPLY",
    "c:1208", "f:MQSTR", "p:9", "e:", "r:", "t:", "i:", "x", "xm0A", "mABC",
    "xq", "s:<", "e:>", "d:[]", "d:abc", "p:{", "q:}", "in1!BFW", "B:",
    "S(CFH3)", "S(", "aBeFIrT", "s50t9", "!", "mtTv", "ds-", "xtest", "w80",
    "AT", "QM1", "Q1", "QM1/Q1", "'Q1'", "file:/nonexistent/zeplo", "%n",
    "out%i.txt", "*", "99999999999", "-99999999999", "1.5m", "10x",
    "2147483647#2147483647", "r", "r50", "-500", "10:*", "1208:111",
    "s99999999999999999999999k", "a99999999999999999999h",
    "m99999999999999999999", "w99999999999999999999", "s99999999999999999",
    "99999999999999999999:99999999999999999999", "x99999999999999999999999",
};

const char kLetters[] = "aAbcCdDeEfFgGhHiIljLmnoOpPqrRsStTuUvVwxXz$?";

TEST(OptionsRobustnessTest, GeneratedCommandLines) {
  // Help displays page and ask questions: give them nothing to read. What
  // the lines print on standard error is put aside.
  FILE* null = fopen("/dev/null", "r+");
  ASSERT_NE(nullptr, null);
  SetHelpStreams(null, null);
  testing::internal::CaptureStderr();
  std::mt19937 rng(20261206);
  auto longValue = [&rng] {
    static const char kChars[] = "aZ09:/#,\\'.%*?-_ ";
    std::string v(rng() % 320, ' ');
    for (char& ch : v) ch = kChars[rng() % (sizeof kChars - 1)];
    return v;
  };
  int refused = 0, accepted = 0;
  for (int round = 0; round < 20000; round++) {
    std::vector<std::string> words = {"zeplo"};
    for (int i = 0, count = static_cast<int>(rng() % 7); i < count; i++) {
      char letter = kLetters[rng() % (sizeof kLetters - 1)];
      std::string value =
          rng() % 5 == 0 ? longValue() : kValues[rng() % (sizeof kValues / sizeof *kValues)];
      bool apart = rng() % 3 == 0;  // "-x value" rather than "-xvalue"
      words.push_back(std::string("-") + letter + (apart ? "" : value));
      if (apart) words.push_back(value);
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(words.size());

    RunOptions o;
    RunOptionsInit(&o, argc, argv.data());
    ResetHelpState();
    bool endRun = false;
    int rc = ParseOptions(&o, argc, argv.data(), &endRun);
    ASSERT_TRUE(rc == 0 || rc == kOptionsRefused) << rc;
    if (!endRun) {
      ASSERT_EQ(0, rc);
      rc = CheckOptions(&o);
      ASSERT_TRUE(rc == 0 || rc == kOptionsRefused);
    }
    if (!endRun && rc == 0) {
      accepted++;
      RangeLine line = NormaliseRange(&o);
      PrintSelectionReport(&o, line);
      PrintLimitsReport(&o);
      // Invariants the rest of the program relies on.
      EXPECT_LE(strlen(o.InputFile), static_cast<size_t>(kFileNameLength));
      EXPECT_LE(strlen(o.OutputFile), static_cast<size_t>(kFileNameLength));
      EXPECT_LE(strlen(o.Qmgrs[0].Name), static_cast<size_t>(kMqNameLength));
      EXPECT_LE(strlen(o.MsgStartDelimiter), static_cast<size_t>(kDelimiterLength));
      if (o.RangeFirst != 0 && o.RangeLast != 0) { EXPECT_LE(o.RangeFirst, o.RangeLast); }
      EXPECT_GE(o.InitialBufferSize, 1);
      for (const SearchString* list : {o.SearchAscii, o.SearchHexNot})
        for (int i = 0; i < kSearchStringsPerKind; i++) {
          EXPECT_GE(list[i].Length, 0);
          EXPECT_LT(list[i].Length, kSearchStringBytes);
        }
      if (o.LimitsActive && !o.Generic) { EXPECT_TRUE(o.OutputFileHasInserts); }
    } else {
      refused++;
    }
    QueueListRelease(&o.InputList);
    QueueListRelease(&o.OutputList);
    if (o.Selector != nullptr) CSFreeMem(o.Selector);
    ReleasePasswords(&o);
  }
  testing::internal::GetCapturedStderr();
  SetHelpStreams(stderr, stdin);
  fclose(null);
  // The generator must reach both outcomes, or it tests nothing.
  EXPECT_GT(accepted, 100);
  EXPECT_GT(refused, 100);
}

}  // namespace
