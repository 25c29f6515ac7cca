// Selection of the message in hand: FindBytes, the filters in their order,
// a descriptor-only read, and the log-message check. (Header stripping
// itself is run whole, in every byte order and code page, by the end-to-end
// tests.)
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/zeplo/test_run.h"
#include "tests/zeplo/fake_mq/fake_mq.h"
#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/logreplay/logreplay.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

namespace {

// A dead-letter header for qmgr/queue with `reason`, integers in either
// byte order, and the inner format, put application and put time.
std::string DeadLetter(MQLONG reason, const char* qmgr, const char* queue, bool bigEndian = false,
                       const char* inner = MQFMT_STRING, MQLONG innerEncoding = 273,
                       MQLONG innerCcsid = 500) {
  std::string h(MQDLH_LENGTH_1, ' ');
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) h[at + i] = static_cast<char>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
  };
  put(8, static_cast<uint32_t>(reason));
  memcpy(&h[12], queue, strlen(queue));
  memcpy(&h[60], qmgr, strlen(qmgr));
  put(108, static_cast<uint32_t>(innerEncoding)), put(112, static_cast<uint32_t>(innerCcsid));
  put(124, 6);  // PutApplType
  memcpy(&h[116], inner, 8);
  memcpy(&h[128], "SENDER", 6);
  memcpy(&h[156], "2024031512345678", 16);  // PutDate, PutTime
  return h;
}

class SelectionTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&o_);
    storage_.assign(8192, 0);
    o_.Message.Storage = o_.Message.Cursor = storage_.data();
    o_.Message.Capacity = 8192;
    md_ = o_.Message.Descriptor;
    ResetDescriptorDefaults(md_);
    o_.Counters.MessageIndex = 1;
  }
  void Data(const std::string& data, const char* format = MQFMT_STRING, MQLONG encoding = 546) {
    memcpy(storage_.data(), data.data(), data.size());
    o_.Message.DataLength = static_cast<int32_t>(data.size());
    memcpy(md_->Format, format, MQ_FORMAT_LENGTH);
    md_->Encoding = encoding;
  }
  void Dlq(MQLONG reason, const char* qmgr, const char* queue, bool bigEndian = false) {
    Data(DeadLetter(reason, qmgr, queue, bigEndian) + "payload", MQFMT_DEAD_LETTER_HEADER,
         bigEndian ? 273 : 546);
  }
  void Target(const char* qmgrMask, const char* queueMask) {
    o_.Parsed.SelectByTarget = true;
    o_.Parsed.TargetQmgrMaskLength = snprintf(o_.Parsed.TargetQmgrMask, sizeof o_.Parsed.TargetQmgrMask, "%s", qmgrMask);
    o_.Parsed.TargetQueueMaskLength = snprintf(o_.Parsed.TargetQueueMask, sizeof o_.Parsed.TargetQueueMask, "%s", queueMask);
  }
  static void Search(SearchString* list, const std::string& text) {
    int i = 0;
    while (list[i].Length != 0) i++;
    list[i].Length = static_cast<int32_t>(text.size());
    memcpy(list[i].Text, text.data(), text.size());
  }
  void Window(int64_t after, int64_t before) {
    memcpy(md_->PutDate, "20240102", 8);
    memcpy(md_->PutTime, "03040500", 8);
    int64_t put = MqDateTimeToEpoch("20240102", "030405");
    o_.Parsed.PutAfter = after == 0 ? 0 : put + after;
    o_.Parsed.PutBefore = before == 0 ? 0 : put + before;
  }
  TestRun o_;
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
      {"abcXY", "cX", 3, -1},  // would run past the given length
      {"abcXY", "cX", 4, 2},           {std::string("\0\0\1\0", 4), std::string("\0\1", 2), -1, 1},
  };
  for (const Case& c : cases) {
    int64_t n = c.length < 0 ? static_cast<int64_t>(c.buffer.size()) : c.length;
    EXPECT_EQ(c.expected, FindBytes(reinterpret_cast<const unsigned char*>(c.buffer.data()), n,
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
      {"range: below", [](T* t) { t->o_.Parsed.RangeFirst = 2; t->o_.Parsed.RangeLast = 4; }, false},
      {"range: last", [](T* t) { t->o_.Parsed.RangeFirst = 2; t->o_.Parsed.RangeLast = t->o_.Counters.MessageIndex = 4; }, true},
      {"range: above", [](T* t) { t->o_.Parsed.RangeFirst = 2; t->o_.Parsed.RangeLast = 4; t->o_.Counters.MessageIndex = 5; }, false},
      {"range: open end", [](T* t) { t->o_.Parsed.RangeFirst = 5; t->o_.Counters.MessageIndex = 900; }, true},
      {"msgid differs", [](T* t) { t->o_.Parsed.SelectByMsgId = true; t->o_.Parsed.SelectMsgId[0] = 'X'; }, false},
      {"msgid equal", [](T* t) { t->o_.Parsed.SelectByMsgId = true; t->o_.Parsed.SelectMsgId[0] = t->md_->MsgId[0] = 'X'; }, true},
      {"correlid differs in its last byte", [](T* t) { t->o_.Parsed.SelectByCorrelId = true; t->o_.Parsed.SelectCorrelId[23] = 1; }, false},
      {"size below excludes its bound", [](T* t) { t->Data("0123456789"); t->o_.Parsed.SizeBelow = 10; }, false},
      {"size at least includes its bound", [](T* t) { t->Data("0123456789"); t->o_.Parsed.SizeAtLeast = 10; }, true},
      {"size of a descriptor-only read is the full length", [](T* t) {
         t->o_.Settings.NoData = true; t->o_.Message.DataLength = 100000; t->o_.Parsed.SizeAtLeast = 50000; }, true},
      {"priority under min", [](T* t) { t->o_.Parsed.PriorityMin = 5; t->md_->Priority = 4; }, false},
      {"priority at max", [](T* t) { t->o_.Parsed.PriorityMin = 5; t->o_.Parsed.PriorityMax = t->md_->Priority = 7; }, true},
      {"priority over max", [](T* t) { t->o_.Parsed.PriorityMax = 7; t->md_->Priority = 8; }, false},
      {"dlq reason", [](T* t) { t->Dlq(2053, "QM", "Q"); t->o_.Parsed.SelectByDlqReason = true; t->o_.Parsed.DlqReason = 2053; }, true},
      {"dlq reason, big-endian", [](T* t) { t->Dlq(2053, "QM", "Q", true); t->o_.Parsed.SelectByDlqReason = true; t->o_.Parsed.DlqReason = 2053; }, true},
      {"dlq reason differs", [](T* t) { t->Dlq(2085, "QM", "Q"); t->o_.Parsed.SelectByDlqReason = true; t->o_.Parsed.DlqReason = 2053; }, false},
      {"dlq reason, header cut short", [](T* t) {
         t->Dlq(2053, "QM", "Q"); t->o_.Message.DataLength = 100; t->o_.Parsed.SelectByDlqReason = true; t->o_.Parsed.DlqReason = 2053; }, false},
      {"target Q? matches Q1", [](T* t) { t->Dlq(1, "QMX", "Q1"); t->Target("*", "Q?"); }, true},
      {"target Q? not Q12", [](T* t) { t->Dlq(1, "QMX", "Q12"); t->Target("*", "Q?"); }, false},
      {"target qmgr mask", [](T* t) { t->Dlq(1, "QMX", "Q1"); t->Target("QMY", "Q?"); }, false},
      {"target is case-sensitive", [](T* t) { t->Dlq(1, "QMX", "q1"); t->Target("*", "Q?"); }, false},
      {"target of a plain message", [](T* t) { t->Data("plain"); t->Target("*", "*"); }, false},
      {"target in a transmission header", [](T* t) {
         std::string x(MQXQH_LENGTH_1, ' ');
         memcpy(&x[8], "REMOTE.Q", 8); memcpy(&x[56], "RQM", 3);
         t->Data(x, MQFMT_XMIT_Q_HEADER); t->Target("R*", "REMOTE.?"); }, true},
      {"all three -s present", [](T* t) {
         t->Data("alpha beta gamma"); for (auto s : {"alpha", "beta", "gamma"}) Search(t->o_.Parsed.SearchAscii, s); }, true},
      {"one of three -s missing", [](T* t) {
         t->Data("alpha beta"); for (auto s : {"alpha", "beta", "gamma"}) Search(t->o_.Parsed.SearchAscii, s); }, false},
      {"-S present", [](T* t) { t->Data("alpha beta"); Search(t->o_.Parsed.SearchAsciiNot, "beta"); }, false},
      {"-S absent", [](T* t) { t->Data("alpha beta"); Search(t->o_.Parsed.SearchAsciiNot, "delta"); }, true},
      {"-x 414243 finds ABC", [](T* t) { t->Data("xxABCxx"); Search(t->o_.Parsed.SearchHex, "ABC"); }, true},
      {"-e ABC finds C1C2C3", [](T* t) { t->Data("\x40\xC1\xC2\xC3"); Search(t->o_.Parsed.SearchEbcdic, "\xC1\xC2\xC3"); }, true},
      {"-E present", [](T* t) { t->Data("\xC1\xC2"); Search(t->o_.Parsed.SearchEbcdicNot, "\xC2"); }, false},
      {"-X present", [](T* t) { t->Data(std::string("a\0b", 3)); Search(t->o_.Parsed.SearchHexNot, std::string(1, '\0')); }, false},
      {"a string past the end of the data", [](T* t) {
         t->Data("abcdef"); t->o_.Message.DataLength = 4; Search(t->o_.Parsed.SearchAscii, "def"); }, false},
      {"put time inside the window", [](T* t) { t->Window(-5, 5); }, true},
      {"put time at PutBefore is outside", [](T* t) { t->Window(-5, 0); t->o_.Parsed.PutBefore = t->o_.Parsed.PutAfter + 5; }, false},
      {"put time at PutAfter is inside", [](T* t) { t->Window(-5, 0); t->o_.Parsed.PutAfter += 5; }, true},
      {"a blank put date is in no window", [](T* t) { memset(t->md_->PutDate, ' ', 8); t->o_.Parsed.PutAfter = 1; }, false},
  };
  for (const Case& c : cases) {
    SetUp();
    c.setup(this);
    EXPECT_EQ(c.selected, MessageSelected(&o_)) << c.name;
  }
}

TEST_F(SelectionTest, DescriptorOnlyReadHoldsNoData) {
  Data("needle left by an earlier message");
  o_.Settings.NoData = true;
  EXPECT_EQ(33, ReceivedLength(&o_));  // a file or log reader hands over everything
  QueueList list = {};
  o_.Parsed.InputList = &list;
  EXPECT_EQ(0, ReceivedLength(&o_));  // a descriptor-only get does not
  Search(o_.Parsed.SearchAscii, "needle");  // a filter that looks makes the run read the data
  EXPECT_EQ(33, ReceivedLength(&o_));
}

TEST_F(SelectionTest, LogMessageCheck) {
  o_.Message.ExpectedLength = 5;
  Data(std::string("ZRFP\x01\x00\x00\x01\x10\x00\x00\x00" "1234hello", 21));
  EXPECT_EQ(0, CheckLogMessage(&o_));  // the leading block is skipped first
  EXPECT_EQ(0, memcmp(o_.Message.Cursor, "hello", 5));
  SetUp();
  o_.Message.ExpectedLength = 5;
  Data(std::string("ZRFP\x01\x00\x00\x01\x00\x00\x00\x40" "1234hello", 21));
  EXPECT_EQ(MQRC_INCOMPLETE_MSG, CheckLogMessage(&o_));  // a block past the data
  EXPECT_EQ(o_.Message.Storage, o_.Message.Cursor);
}

TEST(EbcdicCcsidTest, Table) {
  for (MQLONG ccsid : {37, 500, 1047, 835, 1145, 4371, 61711, 61712}) EXPECT_TRUE(IsEbcdicCcsid(ccsid)) << ccsid;
  for (MQLONG ccsid : {819, 1208, 437, 36, 38, 1139, 1150, 0, -1, 61713}) EXPECT_FALSE(IsEbcdicCcsid(ccsid)) << ccsid;
}

}  // namespace
