// Selection of the message in hand: FindBytes, the filters in their order,
// a descriptor-only read, and the log-message check. (Header stripping
// itself is run whole, in every byte order and code page, by the end-to-end
// tests.)
#include "tests/zeplo/engine/engine_test_util.h"
#include "zeplo/logreplay/logreplay.h"

namespace {

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

class SelectionTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&o_);
    storage_.assign(8192, 0);
    o_.Message.Storage = o_.Message.Cursor = storage_.data();
    o_.Message.Capacity = 8192;
    ResetDescriptorDefaults(md_ = o_.Message.Descriptor);
    o_.Counters.MessageIndex = 1;
  }
  void Data(const std::string& data, const char* format = MQFMT_STRING, MQLONG encoding = 546) {
    memcpy(storage_.data(), data.data(), data.size());
    o_.Message.DataLength = static_cast<int32_t>(data.size());
    memcpy(md_->Format, format, MQ_FORMAT_LENGTH);
    md_->Encoding = encoding;
  }
  // A dead-letter message for qmgr/queue with `reason`, in either byte order.
  void Dlq(MQLONG reason, const char* qmgr, const char* queue, bool bigEndian = false) {
    std::string h(MQDLH_LENGTH_1, ' ');
    for (int i = 0; i < 4; i++) h[8 + i] = static_cast<char>(reason >> (bigEndian ? 24 - 8 * i : 8 * i));
    memcpy(&h[12], queue, strlen(queue));
    memcpy(&h[60], qmgr, strlen(qmgr));
    Data(h + "payload", MQFMT_DEAD_LETTER_HEADER, bigEndian ? 273 : 546);
  }
  void DlqReason(MQLONG reason, MQLONG wanted, bool bigEndian = false) {
    Dlq(reason, "QM", "Q", bigEndian);
    o_.Parsed.SelectByDlqReason = true;
    o_.Parsed.DlqReason = wanted;
  }
  void Target(const char* qmgrMask, const char* queueMask) {
    RunOptions& p = o_.Parsed;
    p.SelectByTarget = true;
    p.TargetQmgrMaskLength = snprintf(p.TargetQmgrMask, sizeof p.TargetQmgrMask, "%s", qmgrMask);
    p.TargetQueueMaskLength = snprintf(p.TargetQueueMask, sizeof p.TargetQueueMask, "%s", queueMask);
  }
  // Adds the search strings to `list` after `data` is made the message.
  void Search(const std::string& data, SearchString* list, std::vector<std::string> texts) {
    Data(data);
    for (size_t i = 0; i < texts.size(); i++) {
      list[i].Length = static_cast<int32_t>(texts[i].size());
      memcpy(list[i].Text, texts[i].data(), texts[i].size());
    }
  }
  // Put times `after` and `before` seconds from the message's (0: none).
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
    EXPECT_EQ(c.expected, FindBytes(U(c.buffer), n, U(c.needle), static_cast<int64_t>(c.needle.size())))
        << c.buffer << " / " << c.needle;
  }
}

TEST_F(SelectionTest, FilterTable) {
  using T = SelectionTest;
  struct Case {
    const char* name;
    std::function<void(T&, RunOptions&)> setup;
    bool selected;
  } cases[] = {
      {"no filters", [](T&, RunOptions&) {}, true},
      {"range: below", [](T&, RunOptions& p) { p.RangeFirst = 2, p.RangeLast = 4; }, false},
      {"range: last", [](T& t, RunOptions& p) { p.RangeFirst = 2, p.RangeLast = t.o_.Counters.MessageIndex = 4; }, true},
      {"range: above", [](T& t, RunOptions& p) { p.RangeFirst = 2, p.RangeLast = 4, t.o_.Counters.MessageIndex = 5; }, false},
      {"range: open end", [](T& t, RunOptions& p) { p.RangeFirst = 5, t.o_.Counters.MessageIndex = 900; }, true},
      {"msgid differs", [](T&, RunOptions& p) { p.SelectByMsgId = true, p.SelectMsgId[0] = 'X'; }, false},
      {"msgid equal", [](T& t, RunOptions& p) { p.SelectByMsgId = true, p.SelectMsgId[0] = t.md_->MsgId[0] = 'X'; }, true},
      {"correlid's last byte", [](T&, RunOptions& p) { p.SelectByCorrelId = true, p.SelectCorrelId[23] = 1; }, false},
      {"size below excludes its bound", [](T& t, RunOptions& p) { t.Data("0123456789"), p.SizeBelow = 10; }, false},
      {"size at least includes its bound", [](T& t, RunOptions& p) { t.Data("0123456789"), p.SizeAtLeast = 10; }, true},
      {"size of a descriptor-only read is the full length", [](T& t, RunOptions& p) {
         t.o_.Settings.NoData = true, t.o_.Message.DataLength = 100000, p.SizeAtLeast = 50000; }, true},
      {"priority under min", [](T& t, RunOptions& p) { p.PriorityMin = 5, t.md_->Priority = 4; }, false},
      {"priority at max", [](T& t, RunOptions& p) { p.PriorityMin = 5, p.PriorityMax = t.md_->Priority = 7; }, true},
      {"priority over max", [](T& t, RunOptions& p) { p.PriorityMax = 7, t.md_->Priority = 8; }, false},
      {"dlq reason", [](T& t, RunOptions&) { t.DlqReason(2053, 2053); }, true},
      {"dlq reason, big-endian", [](T& t, RunOptions&) { t.DlqReason(2053, 2053, true); }, true},
      {"dlq reason differs", [](T& t, RunOptions&) { t.DlqReason(2085, 2053); }, false},
      {"dlq reason, header cut short", [](T& t, RunOptions&) { t.DlqReason(2053, 2053), t.o_.Message.DataLength = 100; }, false},
      {"target Q? matches Q1", [](T& t, RunOptions&) { t.Dlq(1, "QMX", "Q1"), t.Target("*", "Q?"); }, true},
      {"target Q? not Q12", [](T& t, RunOptions&) { t.Dlq(1, "QMX", "Q12"), t.Target("*", "Q?"); }, false},
      {"target qmgr mask", [](T& t, RunOptions&) { t.Dlq(1, "QMX", "Q1"), t.Target("QMY", "Q?"); }, false},
      {"target is case-sensitive", [](T& t, RunOptions&) { t.Dlq(1, "QMX", "q1"), t.Target("*", "Q?"); }, false},
      {"target of a plain message", [](T& t, RunOptions&) { t.Data("plain"), t.Target("*", "*"); }, false},
      {"target in a transmission header", [](T& t, RunOptions&) {
         std::string x(MQXQH_LENGTH_1, ' ');
         memcpy(&x[8], "REMOTE.Q", 8), memcpy(&x[56], "RQM", 3);
         t.Data(x, MQFMT_XMIT_Q_HEADER), t.Target("R*", "REMOTE.?"); }, true},
      {"all three -s present", [](T& t, RunOptions& p) { t.Search("alpha beta gamma", p.SearchAscii, {"alpha", "beta", "gamma"}); }, true},
      {"one of three -s missing", [](T& t, RunOptions& p) { t.Search("alpha beta", p.SearchAscii, {"alpha", "beta", "gamma"}); }, false},
      {"-S present", [](T& t, RunOptions& p) { t.Search("alpha beta", p.SearchAsciiNot, {"beta"}); }, false},
      {"-S absent", [](T& t, RunOptions& p) { t.Search("alpha beta", p.SearchAsciiNot, {"delta"}); }, true},
      {"-x 414243 finds ABC", [](T& t, RunOptions& p) { t.Search("xxABCxx", p.SearchHex, {"ABC"}); }, true},
      {"-e ABC finds C1C2C3", [](T& t, RunOptions& p) { t.Search("\x40\xC1\xC2\xC3", p.SearchEbcdic, {"\xC1\xC2\xC3"}); }, true},
      {"-E present", [](T& t, RunOptions& p) { t.Search("\xC1\xC2", p.SearchEbcdicNot, {"\xC2"}); }, false},
      {"-X present", [](T& t, RunOptions& p) { t.Search(std::string("a\0b", 3), p.SearchHexNot, {std::string(1, '\0')}); }, false},
      {"a string past the end of the data", [](T& t, RunOptions& p) {
         t.Search("abcdef", p.SearchAscii, {"def"}), t.o_.Message.DataLength = 4; }, false},
      {"put time inside the window", [](T& t, RunOptions&) { t.Window(-5, 5); }, true},
      {"put time at PutBefore is outside", [](T& t, RunOptions& p) { t.Window(-5, 0), p.PutBefore = p.PutAfter + 5; }, false},
      {"put time at PutAfter is inside", [](T& t, RunOptions& p) { t.Window(-5, 0), p.PutAfter += 5; }, true},
      {"a blank put date is in no window", [](T& t, RunOptions& p) { memset(t.md_->PutDate, ' ', 8), p.PutAfter = 1; }, false},
  };
  for (const Case& c : cases) {
    SetUp();
    c.setup(*this, o_.Parsed);
    EXPECT_EQ(c.selected, MessageSelected(&o_)) << c.name;
  }
}

TEST_F(SelectionTest, DescriptorOnlyReadAndLogMessageCheck) {
  Data("needle left by an earlier message");
  o_.Settings.NoData = true;
  EXPECT_EQ(33, ReceivedLength(&o_));  // a file or log reader hands over everything
  QueueList list = {};
  o_.Parsed.InputList = &list;
  EXPECT_EQ(0, ReceivedLength(&o_));  // a descriptor-only get does not
  o_.Parsed.SearchAscii[0] = SearchString{6, "needle"};  // a filter that looks reads the data
  EXPECT_EQ(33, ReceivedLength(&o_));
  // A log message: the leading block is skipped first; a block past the
  // data leaves the message incomplete.
  for (char blockEnd : {'\x10', '\x40'}) {
    SetUp();
    o_.Message.ExpectedLength = 5;
    Data(std::string("ZRFP\x01\x00\x00\x01", 8) + blockEnd + std::string(3, '\0') + "1234hello");
    EXPECT_EQ(blockEnd == '\x10' ? 0 : MQRC_INCOMPLETE_MSG, CheckLogMessage(&o_));
    EXPECT_EQ(blockEnd == '\x10' ? 16 : 0, o_.Message.Cursor - o_.Message.Storage);
  }
  for (MQLONG ccsid : {37, 500, 1047, 835, 1145, 4371, 61711, 61712}) EXPECT_TRUE(IsEbcdicCcsid(ccsid)) << ccsid;
  for (MQLONG ccsid : {819, 1208, 437, 36, 38, 1139, 1150, 0, -1, 61713}) EXPECT_FALSE(IsEbcdicCcsid(ccsid)) << ccsid;
}

}  // namespace
