// The option loop: argument vectors in, RunOptions fields or a refusal out.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "zeplo/driver/driver.h"
#include "zeplo/cs/cs.h"
#include "zeplo/names/names.h"

namespace {

struct Parsed {
  int Rc;
  bool EndRun;
  std::string Err;
};

class OptionsTest : public testing::Test {
 protected:
  void TearDown() override { Release(); }

  void Release() {
    QueueListRelease(&options_.InputList);
    QueueListRelease(&options_.OutputList);
    if (options_.Selector != nullptr) CSFreeMem(options_.Selector);
    options_.Selector = nullptr;
  }

  // Parses "zeplo <args>" into options_. The words stay alive for the
  // test, as argv does for a run (some fields point into it).
  Parsed Parse(const std::vector<std::string>& args) {
    Release();
    words_.emplace_back(std::vector<std::string>{"zeplo"});
    std::vector<std::string>& words = words_.back();
    words.insert(words.end(), args.begin(), args.end());
    argv_.emplace_back();
    for (std::string& w : words) argv_.back().push_back(w.data());
    argv_.back().push_back(nullptr);
    char** argv = argv_.back().data();
    int argc = static_cast<int>(words.size());
    RunOptionsInit(&options_, argc, argv);
    ResetHelpState();
    Parsed p;
    testing::internal::CaptureStderr();
    p.Rc = ParseOptions(&options_, argc, argv, &p.EndRun);
    p.Err = testing::internal::GetCapturedStderr();
    return p;
  }

  RunOptions options_{};
  std::deque<std::vector<std::string>> words_;
  std::deque<std::vector<char*>> argv_;
};

std::string IdText(const MQBYTE24& id) {
  return std::string(reinterpret_cast<const char*>(id), 24);
}

TEST_F(OptionsTest, AcceptedCommandLines) {
  using Check = std::function<bool(const RunOptions&)>;
  struct Case {
    std::vector<std::string> Args;
    Check Holds;
  } cases[] = {
      {{"-m", "QM1", "-iQ1", "-m", "QM2", "-oQ2"},
       [](const RunOptions& o) {
         return o.InputSlot == 0 && o.OutputSlot == 1 &&
                strcmp(o.Qmgrs[0].Name, "QM1") == 0 &&
                strcmp(o.Qmgrs[1].Name, "QM2") == 0;
       }},
      {{"-m", "QM1", "-oQ1", "-m", "QM2", "-iQ2"},
       [](const RunOptions& o) { return o.InputSlot == 1 && o.OutputSlot == 0; }},
      {{"-iQ1", "-Ar:QM1/REPLY.Q"},
       [](const RunOptions& o) {
         return strcmp(o.Override.ReplyToQMgr, "QM1") == 0 &&
                strcmp(o.Override.ReplyToQ, "REPLY.Q") == 0 &&
                o.Override.MsgType == MQMT_REQUEST &&
                o.OverrideFields == (kOverrideReplyTo | kOverrideMsgType);
       }},
      {{"-iQ1", "-$:", "-Ar:QM1:A/B"},
       [](const RunOptions& o) {
         return strcmp(o.Override.ReplyToQMgr, "QM1") == 0 &&
                strcmp(o.Override.ReplyToQ, "A/B") == 0;
       }},
      {{"-iQ1", "-Ar:R"},
       [](const RunOptions& o) {
         return strcmp(o.Override.ReplyToQ, "R") == 0 &&
                o.Override.ReplyToQMgr[0] == '\0';
       }},
      {{"-iQ1", "-Af:AB"},
       [](const RunOptions& o) {
         return memcmp(o.Override.Format, "AB\0\0\0\0\0\0", 8) == 0;
       }},
      {{"-iQ1", "-c1208"},
       [](const RunOptions& o) {
         return o.Convert && o.ConvertCcsid == 1208 && o.ConvertEncoding == 546;
       }},
      {{"-iQ1", "-gmABC"},
       [](const RunOptions& o) {
         return o.SelectByMsgId &&
                IdText(o.SelectMsgId) == "ABC" + std::string(21, ' ') &&
                !o.SelectionActive;
       }},
      {{"-iQ1", "-gxc0A"},
       [](const RunOptions& o) {
         return o.SelectByCorrelId && o.SelectCorrelId[0] == 0x0A &&
                IdText(o.SelectCorrelId).substr(1) == std::string(23, '\0');
       }},
      {{"-iQ1", "-Gr:2085", "-Gi:"},
       [](const RunOptions& o) {
         return o.DlqReason == 2085 && o.SelectByDlqReason &&
                o.InvertSelection && o.SelectionActive;
       }},
      {{"-iQ1", "-Gt:QM*/APP.*"},
       [](const RunOptions& o) {
         return strcmp(o.TargetQmgrMask, "QM*") == 0 &&
                strcmp(o.TargetQueueMask, "APP.*") == 0 &&
                o.TargetQmgrMaskLength == 3 && o.TargetQueueMaskLength == 5 &&
                o.SelectByTarget;
       }},
      {{"-iQ1", "-ds-"},
       [](const RunOptions& o) { return o.Summary && o.SummaryNoQStatus; }},
      {{"-iQ1", "-dw"}, [](const RunOptions& o) { return o.DataWidth == 0; }},
      {{"-iQ1", "-Lm5", "-Ls1m"},
       [](const RunOptions& o) {
         return o.LimitsActive && o.MaxMessagesPerFile == 5 &&
                o.MaxFileSize == 1048576 && o.MaxFileAge == 0;
       }},
      {{"-iQ1", "-Ls10m"},
       [](const RunOptions& o) {
         return o.MaxFileSize == 10485760 && o.MaxMessagesPerFile == 0;
       }},
      {{"-iQ1", "-Ls3G"},  // units in either case
       [](const RunOptions& o) { return o.MaxFileSize == 3LL * 1073741824; }},
      {{"-iQ1", "-La2H"}, [](const RunOptions& o) { return o.MaxFileAge == 7200; }},
      {{"-fa", "-nd:[]"},
       [](const RunOptions& o) {
         return strcmp(o.MsgStartDelimiter, "[") == 0 &&
                strcmp(o.MsgEndDelimiter, "]") == 0;
       }},
      {{"-fa", "-nie:x:y"},
       [](const RunOptions& o) {
         return o.IncludeMsgDelimiters && !o.IncludePropDelimiters &&
                strcmp(o.MsgEndDelimiter, "x:y") == 0;
       }},
      {{"-iQ1", "-OS(CFH3)a"},
       [](const RunOptions& o) {
         return o.FullData && o.Cfh3Processing && o.AsyncPut;
       }},
      {{"-iQ1", "-OS(a"},
       [](const RunOptions& o) { return o.FullData && o.AsyncPut; }},
      {{"-iQ1", "-vs"},
       [](const RunOptions& o) {
         return o.StatusReports && o.StatusEveryMessages == 1000;
       }},
      {{"-iQ1", "-Ca", "-Cn"},
       [](const RunOptions& o) { return o.Context == ContextMode::None; }},
      {{"-iQ1", "-x414", "-Xff00", "-sAB", "-eAB"},
       [](const RunOptions& o) {
         return o.SearchHex[0].Length == 1 && o.SearchHex[0].Text[0] == 0x41 &&
                o.SearchHexNot[0].Length == 2 && o.SearchHexNot[0].Text[0] == 0xFF &&
                o.SearchAscii[0].Length == 2 && o.SearchEbcdic[0].Text[0] == 0xC1 &&
                o.SelectionActive;
       }},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.Args) line += a + " ";
    Parsed p = Parse(c.Args);
    ASSERT_EQ(p.Rc, 0) << line << p.Err;
    ASSERT_FALSE(p.EndRun) << line << p.Err;
    EXPECT_TRUE(c.Holds(options_)) << line;
    if (options_.Selector != nullptr) {
      CSFreeMem(options_.Selector);
      options_.Selector = nullptr;
    }
  }
}

// Numbers are read whole: each of these was once read in part (1d as one
// minute, 10x as 0 bytes, abc as no filter) and would widen a selection.
TEST_F(OptionsTest, NumbersNotReadWholeAreRefused) {
  struct Case {
    const char* Option;
    const char* Value;
  } cases[] = {
      {"-T", "1d"},     {"-T", "2h"},      {"-T", "abc"},    {"-T", "-5"},
      {"-T", "60,1x"},  {"-T", "1::2"},    {"-T", "1:2:3:4"}, {"-z", "10x"},
      {"-z", "1k,2q"},  {"-z", "."},       {"-P", "abc"},    {"-P", "3,x"},
      {"-P", "-1"},     {"-D", "5s"},      {"-D", "rx"},     {"-R", "10/s"},
      {"-R", "5:1m"},   {"-R", ":60"},     {"-w", "5s"},     {"-t", "1O0"},
      {"-t", "-2"},     {"-b", "64k"},     {"-c", "1208x"},  {"-c", "1208:1g"},
      {"-c", "1208:"},  {"-A", "p:9x"},    {"-A", "c:"},     {"-A", "e:1h"},
      {"-G", "r:abc"},  {"-G", "r:65536x"}, {"-L", "m5x"},
  };
  for (const Case& c : cases) {
    Parsed p = Parse({"-iQ1", c.Option, c.Value});
    std::string label = std::string(c.Option) + " " + c.Value;
    EXPECT_EQ(p.Rc, kOptionsRefused) << label;
    std::string want = std::string("Sorry, '") + c.Value + "' is not a valid value for " + c.Option + "\n";
    if (std::string(c.Option) == "-L") want = std::string("Invalid -Lm parameter '") + c.Value + "'\n";
    EXPECT_EQ(p.Err, want) << label;
  }
}

}  // namespace
