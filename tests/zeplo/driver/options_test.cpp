// The option loop: argument vectors in, RunOptions fields or a refusal out.
#include <gtest/gtest.h>

#include <string>

#include "tests/zeplo/driver/options_util.h"

namespace {

using OptionsTest = OptionsFixture;

TEST_F(OptionsTest, AcceptedCommandLines) {
  const struct {
    const char* args;
    const char* fields;  // what the parsed options hold
  } cases[] = {
      {"-m QM1 -iQ1 -m QM2 -oQ2", "InputSlot=0 OutputSlot=1 Qmgrs[0].Name=QM1 Qmgrs[1].Name=QM2"},
      {"-m QM1 -oQ1 -m QM2 -iQ2", "InputSlot=1 OutputSlot=0"},
      {"-iQ1 -Ar:QM1/REPLY.Q",  // reply-to fields (1) and message type (4)
       "Override.ReplyToQMgr=QM1 Override.ReplyToQ=REPLY.Q Override.MsgType=1 OverrideFields=5"},
      {"-iQ1 -$: -Ar:QM1:A/B", "Override.ReplyToQMgr=QM1 Override.ReplyToQ=A/B"},
      {"-iQ1 -Ar:R", "Override.ReplyToQ=R Override.ReplyToQMgr="},
      {"-iQ1 -Af:AB", "Override.Format=AB"},
      {"-iQ1 -c1208", "Convert=1 ConvertCcsid=1208 ConvertEncoding=546"},
      {"-iQ1 -gmABC", "SelectByMsgId=1 SelectMsgId=414243(20*21) SelectionActive=0"},
      {"-iQ1 -gxc0A", "SelectByCorrelId=1 SelectCorrelId=0A(00*23)"},
      {"-iQ1 -Gr:2085 -Gi:",
       "DlqReason=2085 SelectByDlqReason=1 InvertSelection=1 SelectionActive=1"},
      {"-iQ1 -Gt:QM*/APP.*",
       "TargetQmgrMask=QM* TargetQueueMask=APP.* TargetQmgrMaskLength=3 TargetQueueMaskLength=5 "
       "SelectByTarget=1"},
      {"-iQ1 -ds-", "Summary=1 SummaryNoQStatus=1"},
      {"-iQ1 -dw", "DataWidth=0"},
      {"-iQ1 -Lm5 -Ls1m", "LimitsActive=1 MaxMessagesPerFile=5 MaxFileSize=1048576 MaxFileAge=0"},
      {"-iQ1 -Ls10m", "MaxFileSize=10485760 MaxMessagesPerFile=0"},
      {"-iQ1 -Ls3G", "MaxFileSize=3221225472"},  // units in either case
      {"-iQ1 -La2H", "MaxFileAge=7200"},
      {"-fa -nd:[]", "MsgStartDelimiter=[ MsgEndDelimiter=]"},
      {"-fa -nie:x:y", "IncludeMsgDelimiters=1 IncludePropDelimiters=0 MsgEndDelimiter=x:y"},
      {"-iQ1 -OS(CFH3)a", "FullData=1 Cfh3Processing=1 AsyncPut=1"},
      {"-iQ1 -OS(a", "FullData=1 AsyncPut=1"},
      {"-iQ1 -vs", "StatusReports=1 StatusEveryMessages=1000"},
      {"-iQ1 -Ca -Cn", "Context=6"},  // the last one holds: ContextMode::None
      {"-iQ1 -x414 -Xff00 -sAB -eAB",
       "SearchHex[0]=41 SearchHexNot[0]=FF00 SearchAscii[0]=4142 SearchEbcdic[0]=C1C2 "
       "SelectionActive=1"},
      // The value grammars: options of different fields share a row. -w
      // past what an MQGET can wait (milliseconds in 32 bits) is unlimited.
      {"-iQ1 -T60 -r5 -P3,7 -Dr -R*:60 -w-5",
       "OlderThan=3600 RangeLast=5 PriorityMax=7 Delay=100 Rate=-1 RateDuration=60 WaitInterval=-1"},
      {"-iQ1 -T60,10 -r5..9 -P,7 -Dr50 -R10 -w30",
       "YoungerThan=600 RangeLast=9 PriorityMin=-1 Delay=50 Rate=10 RateDuration=0 WaitInterval=30"},
      {"-iQ1 -T,10 -r5#3 -P4 -D-500 -R5:* -w2147483",
       "OlderThan=0 RangeLast=7 PriorityMin=4 Delay=-500 RateDuration=-1 WaitInterval=2147483"},
      {"-iQ1 -Tt25/12/2014 -r#3 -P7,3 -w2147484",
       "PutBefore=1419465600 RangeFirst=0 RangeLast=3 PriorityMin=3 PriorityMax=7 WaitInterval=-1"},
      {"-iQ1 -Tfu25/12/2014_12:00 -r5.. -w99999999999", "PutAfter=1419508800 RangeLast=0 WaitInterval=-1"},
      {"-iQ1 -r10..5", "RangeFirst=10"},
      {"-iQ1 -r2147483647#9", "RangeLast=2147483647"},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(Words(c.args));
    ASSERT_EQ(0, p.Rc) << c.args << "\n" << p.Err;
    ASSERT_FALSE(p.EndRun) << c.args << "\n" << p.Err;
    EXPECT_EQ(c.fields, Fields(options_, c.fields)) << c.args;
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
