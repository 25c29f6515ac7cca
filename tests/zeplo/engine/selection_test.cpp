// Selection: the filters over a message in hand, FindBytes, the target
// masks and the log-message check.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/zeplo/engine/fake_mq.h"
#include "zeplo/engine/engine.h"
#include "zeplo/util/util.h"

namespace {

class SelectionTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&o_);
    storage_.assign(8192, 0);
    o_.Message.Storage = o_.Message.Cursor = storage_.data();
    o_.Message.Capacity = 8192;
    ResetDescriptor(o_.Message.Descriptor);
    md_ = o_.Message.Descriptor;
    o_.MessageIndex = 1;
  }
  void Data(const std::string& data, const char* format = MQFMT_STRING) {
    memcpy(storage_.data(), data.data(), data.size());
    o_.Message.DataLength = static_cast<int32_t>(data.size());
    memcpy(md_->Format, format, MQ_FORMAT_LENGTH);
  }
  // A dead-letter header for qmgr/queue with `reason` in the given order.
  void DeadLetter(MQLONG reason, const char* qmgr, const char* queue, bool bigEndian = false) {
    std::string dlh(MQDLH_LENGTH_1, ' ');
    for (int i = 0; i < 4; i++) {
      int shift = bigEndian ? 24 - 8 * i : 8 * i;
      dlh[8 + i] = static_cast<char>((static_cast<uint32_t>(reason) >> shift) & 0xFF);
    }
    memcpy(&dlh[12], queue, strlen(queue));
    memcpy(&dlh[60], qmgr, strlen(qmgr));
    Data(dlh + "payload", MQFMT_DEAD_LETTER_HEADER);
    md_->Encoding = bigEndian ? 273 : 546;
  }
  void Target(const char* qmgrMask, const char* queueMask) {
    o_.SelectByTarget = true;
    snprintf(o_.TargetQmgrMask, sizeof o_.TargetQmgrMask, "%s", qmgrMask);
    snprintf(o_.TargetQueueMask, sizeof o_.TargetQueueMask, "%s", queueMask);
    o_.TargetQmgrMaskLength = static_cast<int32_t>(strlen(qmgrMask));
    o_.TargetQueueMaskLength = static_cast<int32_t>(strlen(queueMask));
  }
  static void Search(SearchString* list, const std::string& text) {
    int i = 0;
    while (list[i].Length != 0) i++;
    list[i].Length = static_cast<int32_t>(text.size());
    memcpy(list[i].Text, text.data(), text.size());
  }
  void PutTime(const char* date, const char* time) {
    memcpy(md_->PutDate, date, 8);
    memcpy(md_->PutTime, time, 8);
  }
  RunOptions o_;
  MQMD* md_;
  std::vector<unsigned char> storage_;
};

TEST(FindBytesTest, Table) {
  struct Case {
    std::string buffer, needle;
    int64_t length, expected;  // length -1: the whole buffer
  } cases[] = {
      {"hello world", "world", -1, 6}, {"hello world", "", -1, 0}, {"", "", -1, 0},
      {"", "a", -1, -1},               {"aaab", "aab", -1, 1},      {"abcabd", "abd", -1, 3},
      {"hello", "hello!", -1, -1},     {"Hello", "hello", -1, -1},  {"xyzxyz", "z", -1, 2},
      {"abcXY", "cX", 3, -1},  // the match would run past the given length
      {"abcXY", "cX", 4, 2},           {std::string("\0\0\1\0", 4), std::string("\0\1", 2), -1, 1},
  };
  for (const Case& c : cases) {
    int64_t length = c.length < 0 ? static_cast<int64_t>(c.buffer.size()) : c.length;
    EXPECT_EQ(c.expected,
              FindBytes(reinterpret_cast<const unsigned char*>(c.buffer.data()), length,
                        reinterpret_cast<const unsigned char*>(c.needle.data()),
                        static_cast<int64_t>(c.needle.size())))
        << c.buffer << " / " << c.needle;
  }
}

TEST_F(SelectionTest, FilterTable) {
  using T = SelectionTest;
  struct Case {
    const char* name;
    std::function<void(T*)> setup;
    bool selected;
  } cases[] = {
      {"no filters", [](T*) {}, true},
      {"range: below", [](T* t) { t->o_.RangeFirst = 2; t->o_.RangeLast = 4; }, false},
      {"range: last", [](T* t) { t->o_.RangeFirst = 2; t->o_.RangeLast = 4; t->o_.MessageIndex = 4; }, true},
      {"range: above", [](T* t) { t->o_.RangeFirst = 2; t->o_.RangeLast = 4; t->o_.MessageIndex = 5; }, false},
      {"range: open end", [](T* t) { t->o_.RangeFirst = 5; t->o_.MessageIndex = 900; }, true},
      {"msgid differs", [](T* t) { t->o_.SelectByMsgId = true; t->o_.SelectMsgId[0] = 'X'; }, false},
      {"msgid equal", [](T* t) { t->o_.SelectByMsgId = true; t->o_.SelectMsgId[0] = t->md_->MsgId[0] = 'X'; }, true},
      {"correlid differs in its last byte", [](T* t) { t->o_.SelectByCorrelId = true; t->o_.SelectCorrelId[23] = 1; }, false},
      {"size below excludes its bound", [](T* t) { t->Data("0123456789"); t->o_.SizeBelow = 10; }, false},
      {"size below", [](T* t) { t->Data("012345678"); t->o_.SizeBelow = 10; }, true},
      {"size at least includes its bound", [](T* t) { t->Data("0123456789"); t->o_.SizeAtLeast = 10; }, true},
      {"size of a descriptor-only read is the full length", [](T* t) {
         t->o_.NoData = true; t->o_.Message.DataLength = 100000; t->o_.SizeAtLeast = 50000; }, true},
      {"priority under min", [](T* t) { t->o_.PriorityMin = 5; t->md_->Priority = 4; }, false},
      {"priority at max", [](T* t) { t->o_.PriorityMin = 5; t->o_.PriorityMax = 7; t->md_->Priority = 7; }, true},
      {"priority over max", [](T* t) { t->o_.PriorityMax = 7; t->md_->Priority = 8; }, false},
      {"dlq reason", [](T* t) { t->DeadLetter(2053, "QM", "Q"); t->o_.SelectByDlqReason = true; t->o_.DlqReason = 2053; }, true},
      {"dlq reason, big-endian header", [](T* t) {
         t->DeadLetter(2053, "QM", "Q", true); t->o_.SelectByDlqReason = true; t->o_.DlqReason = 2053; }, true},
      {"dlq reason differs", [](T* t) { t->DeadLetter(2085, "QM", "Q"); t->o_.SelectByDlqReason = true; t->o_.DlqReason = 2053; }, false},
      {"dlq reason, not a dead-letter format", [](T* t) {
         t->DeadLetter(2053, "QM", "Q"); memcpy(t->md_->Format, MQFMT_STRING, 8);
         t->o_.SelectByDlqReason = true; t->o_.DlqReason = 2053; }, false},
      {"dlq reason, header cut short", [](T* t) {
         t->DeadLetter(2053, "QM", "Q"); t->o_.Message.DataLength = 100;
         t->o_.SelectByDlqReason = true; t->o_.DlqReason = 2053; }, false},
      {"target Q? matches Q1 on any qmgr", [](T* t) { t->DeadLetter(1, "QMX", "Q1"); t->Target("*", "Q?"); }, true},
      {"target Q? does not match Q12", [](T* t) { t->DeadLetter(1, "QMX", "Q12"); t->Target("*", "Q?"); }, false},
      {"target qmgr mask must match too", [](T* t) { t->DeadLetter(1, "QMX", "Q1"); t->Target("QMY", "Q?"); }, false},
      {"target is case-sensitive", [](T* t) { t->DeadLetter(1, "QMX", "q1"); t->Target("*", "Q?"); }, false},
      {"target of a plain message", [](T* t) { t->Data("plain"); t->Target("*", "*"); }, false},
      {"target in a transmission header", [](T* t) {
         std::string xqh(MQXQH_LENGTH_1, ' ');
         memcpy(&xqh[8], "REMOTE.Q", 8); memcpy(&xqh[56], "RQM", 3);
         t->Data(xqh + "body", MQFMT_XMIT_Q_HEADER); t->Target("R*", "REMOTE.?"); }, true},
      {"all three -s present", [](T* t) {
         t->Data("alpha beta gamma");
         for (const char* s : {"alpha", "beta", "gamma"}) Search(t->o_.SearchAscii, s); }, true},
      {"one of three -s missing", [](T* t) {
         t->Data("alpha beta");
         for (const char* s : {"alpha", "beta", "gamma"}) Search(t->o_.SearchAscii, s); }, false},
      {"-S present", [](T* t) { t->Data("alpha beta"); Search(t->o_.SearchAsciiNot, "beta"); }, false},
      {"-S absent", [](T* t) { t->Data("alpha beta"); Search(t->o_.SearchAsciiNot, "delta"); }, true},
      {"-x 414243 finds ABC", [](T* t) { t->Data("xxABCxx"); Search(t->o_.SearchHex, "ABC"); }, true},
      {"-e ABC finds C1C2C3", [](T* t) { t->Data("\x40\xC1\xC2\xC3"); Search(t->o_.SearchEbcdic, "\xC1\xC2\xC3"); }, true},
      {"-E present", [](T* t) { t->Data("\xC1\xC2"); Search(t->o_.SearchEbcdicNot, "\xC2"); }, false},
      {"-X present", [](T* t) { t->Data(std::string("a\0b", 3)); Search(t->o_.SearchHexNot, std::string(1, '\0')); }, false},
      {"a string only past the end of the data", [](T* t) {
         t->Data("abcdef"); t->o_.Message.DataLength = 4; Search(t->o_.SearchAscii, "def"); }, false},
      {"entries after a free one are ignored", [](T* t) {
         t->Data("alpha"); t->o_.SearchAscii[1].Length = 4; memcpy(t->o_.SearchAscii[1].Text, "zzzz", 4); }, true},
      {"put time inside the window", [](T* t) {
         t->PutTime("20240102", "03040500");
         t->o_.PutAfter = MqDateTimeToEpoch("20240102", "030400");
         t->o_.PutBefore = MqDateTimeToEpoch("20240102", "030410"); }, true},
      {"put time at PutBefore is outside", [](T* t) {
         t->PutTime("20240102", "03040500"); t->o_.PutBefore = MqDateTimeToEpoch("20240102", "030405"); }, false},
      {"put time at PutAfter is inside", [](T* t) {
         t->PutTime("20240102", "03040500"); t->o_.PutAfter = MqDateTimeToEpoch("20240102", "030405"); }, true},
      {"a blank put date is in no window", [](T* t) { t->PutTime("        ", "        "); t->o_.PutAfter = 1; }, false},
  };
  for (const Case& c : cases) {
    SetUp();
    c.setup(this);
    EXPECT_EQ(c.selected, MessageSelected(&o_)) << c.name;
  }
}

TEST_F(SelectionTest, DescriptorOnlyReadNeverSearchesStaleStorage) {
  Data("needle left by an earlier message");
  o_.NoData = true;
  o_.Message.DataLength = 5000;
  EXPECT_EQ(0, ReceivedLength(&o_));
  Search(o_.SearchAscii, "needle");  // now the run reads the data
  EXPECT_TRUE(NeedsMessageData(&o_));
  EXPECT_EQ(5000, ReceivedLength(&o_));
}

TEST_F(SelectionTest, TargetNamesStayInsideTheirFields) {
  Target("QM1", "A*");
  char qmgr[48], queue[48];
  memset(qmgr, ' ', 48);
  memcpy(qmgr, "QM1", 3);
  memset(queue, 'A', 48);  // a full name without terminator
  EXPECT_TRUE(MatchesTarget(&o_, qmgr, queue));
  memcpy(qmgr, "QM1X", 4);
  EXPECT_FALSE(MatchesTarget(&o_, qmgr, queue));
}

TEST_F(SelectionTest, LogMessageCheck) {
  o_.Message.ExpectedLength = 5;
  Data("hell");
  EXPECT_EQ(MQRC_INCOMPLETE_MSG, CheckLogMessage(&o_));
  std::string block("ZRFP\x01\x00\x00\x01\x10\x00\x00\x00" "1234hello", 21);
  Data(block);  // the leading block is skipped before the length check
  EXPECT_EQ(0, CheckLogMessage(&o_));
  EXPECT_EQ(0, memcmp(o_.Message.Cursor, "hello", 5));
  block[10] = 0x40;  // a block length beyond the data is not trusted
  SetUp();
  o_.Message.ExpectedLength = 5;
  Data(block);
  EXPECT_EQ(MQRC_INCOMPLETE_MSG, CheckLogMessage(&o_));
  EXPECT_EQ(o_.Message.Storage, o_.Message.Cursor);
}

}  // namespace
