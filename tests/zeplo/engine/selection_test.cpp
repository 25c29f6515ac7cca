// Selection: the filters over a message in hand, FindBytes, the target
// masks, the put-time window and the log-message check.
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
    FakeReset(&options_);
    storage_.assign(8192, 0);
    options_.Message.Storage = storage_.data();
    options_.Message.Capacity = static_cast<int32_t>(storage_.size());
    options_.Message.Cursor = storage_.data();
    ResetDescriptor(options_.Message.Descriptor);
    options_.MessageIndex = 1;
  }
  void SetData(const std::string& data) {
    memcpy(storage_.data(), data.data(), data.size());
    options_.Message.DataLength = static_cast<int32_t>(data.size());
  }
  void SetFormat(const char* format) {
    memcpy(options_.Message.Descriptor->Format, format, MQ_FORMAT_LENGTH);
  }
  // A dead-letter header naming qmgr/queue with `reason` in the given byte
  // order, followed by `body`.
  void SetDeadLetter(MQLONG reason, const char* qmgr, const char* queue, bool bigEndian,
                     const std::string& body = "payload") {
    unsigned char dlh[MQDLH_LENGTH_1];
    memset(dlh, ' ', sizeof dlh);
    memcpy(dlh, "DLH ", 4);
    uint32_t r = static_cast<uint32_t>(reason);
    for (int i = 0; i < 4; i++) {
      dlh[8 + (bigEndian ? i : 3 - i)] = static_cast<unsigned char>(r >> (24 - 8 * i));
    }
    memcpy(dlh + 12, queue, strlen(queue));
    memcpy(dlh + 60, qmgr, strlen(qmgr));
    std::string data(reinterpret_cast<char*>(dlh), sizeof dlh);
    SetData(data + body);
    SetFormat(MQFMT_DEAD_LETTER_HEADER);
    options_.Message.Descriptor->Encoding = bigEndian ? 273 : 546;
  }
  void SetTargetMasks(const char* qmgrMask, const char* queueMask) {
    options_.SelectByTarget = true;
    snprintf(options_.TargetQmgrMask, sizeof options_.TargetQmgrMask, "%s", qmgrMask);
    snprintf(options_.TargetQueueMask, sizeof options_.TargetQueueMask, "%s", queueMask);
    options_.TargetQmgrMaskLength = static_cast<int32_t>(strlen(qmgrMask));
    options_.TargetQueueMaskLength = static_cast<int32_t>(strlen(queueMask));
  }
  static void AddSearch(SearchString* list, const std::string& text) {
    for (int i = 0; i < kSearchStringsPerKind; i++) {
      if (list[i].Length == 0) {
        list[i].Length = static_cast<int32_t>(text.size());
        memcpy(list[i].Text, text.data(), text.size());
        return;
      }
    }
  }
  RunOptions options_;
  std::vector<unsigned char> storage_;
};

TEST(FindBytesTest, Table) {
  struct Case {
    const char* buffer;
    const char* needle;
    int64_t expected;
  } cases[] = {
      {"hello world", "world", 6},
      {"hello world", "hello", 0},
      {"hello world", "", 0},
      {"", "", 0},
      {"", "a", -1},
      {"aaab", "aab", 1},         // restart one byte after a false start
      {"abcabd", "abd", 3},
      {"hello", "hello!", -1},    // needle longer than the buffer
      {"hello wor", "world", -1}, // would match only past the end
      {"Hello", "hello", -1},     // case-sensitive
      {"xyzxyz", "z", 2},
  };
  for (const Case& c : cases) {
    auto b = reinterpret_cast<const unsigned char*>(c.buffer);
    auto n = reinterpret_cast<const unsigned char*>(c.needle);
    EXPECT_EQ(c.expected,
              FindBytes(b, static_cast<int64_t>(strlen(c.buffer)), n,
                        static_cast<int64_t>(strlen(c.needle))))
        << c.buffer << " / " << c.needle;
  }
}

TEST(FindBytesTest, NeverLooksPastTheGivenLength) {
  // The needle sits right after the declared length: it must not be found.
  const unsigned char data[] = {'a', 'b', 'c', 'X', 'Y'};
  const unsigned char needle[] = {'c', 'X'};
  EXPECT_EQ(-1, FindBytes(data, 3, needle, 2));
  EXPECT_EQ(2, FindBytes(data, 4, needle, 2));
  const unsigned char zeros[] = {0, 0, 1, 0};
  const unsigned char binary[] = {0, 1};
  EXPECT_EQ(1, FindBytes(zeros, 4, binary, 2));
}

TEST_F(SelectionTest, FilterTable) {
  struct Case {
    const char* name;
    std::function<void(SelectionTest*)> setup;
    bool selected;
  } cases[] = {
      {"no filters", [](SelectionTest*) {}, true},
      {"range below first", [](SelectionTest* t) {
         t->options_.RangeFirst = 2; t->options_.RangeLast = 4; t->options_.MessageIndex = 1;
       }, false},
      {"range inside", [](SelectionTest* t) {
         t->options_.RangeFirst = 2; t->options_.RangeLast = 4; t->options_.MessageIndex = 4;
       }, true},
      {"range above last", [](SelectionTest* t) {
         t->options_.RangeFirst = 2; t->options_.RangeLast = 4; t->options_.MessageIndex = 5;
       }, false},
      {"open-ended range", [](SelectionTest* t) {
         t->options_.RangeFirst = 5; t->options_.MessageIndex = 900;
       }, true},
      {"msgid differs", [](SelectionTest* t) {
         t->options_.SelectByMsgId = true; t->options_.SelectMsgId[0] = 'X';
       }, false},
      {"msgid equal", [](SelectionTest* t) {
         t->options_.SelectByMsgId = true; t->options_.SelectMsgId[0] = 'X';
         t->options_.Message.Descriptor->MsgId[0] = 'X';
       }, true},
      {"correlid differs in the last byte", [](SelectionTest* t) {
         t->options_.SelectByCorrelId = true; t->options_.SelectCorrelId[23] = 1;
       }, false},
      {"size below, exact bound is excluded", [](SelectionTest* t) {
         t->SetData("0123456789"); t->options_.SizeBelow = 10;
       }, false},
      {"size below", [](SelectionTest* t) {
         t->SetData("012345678"); t->options_.SizeBelow = 10;
       }, true},
      {"size at least, exact bound is included", [](SelectionTest* t) {
         t->SetData("0123456789"); t->options_.SizeAtLeast = 10;
       }, true},
      {"size at least uses the full length of a descriptor-only read", [](SelectionTest* t) {
         t->options_.Message.DataLength = 100000; t->options_.SizeAtLeast = 50000;
         t->options_.NoData = true;
       }, true},
      {"priority under min", [](SelectionTest* t) {
         t->options_.PriorityMin = 5; t->options_.Message.Descriptor->Priority = 4;
       }, false},
      {"priority within", [](SelectionTest* t) {
         t->options_.PriorityMin = 5; t->options_.PriorityMax = 7;
         t->options_.Message.Descriptor->Priority = 7;
       }, true},
      {"priority over max", [](SelectionTest* t) {
         t->options_.PriorityMax = 7; t->options_.Message.Descriptor->Priority = 8;
       }, false},
      {"dlq reason matches (native order)", [](SelectionTest* t) {
         t->SetDeadLetter(2053, "QM1", "Q1", false);
         t->options_.SelectByDlqReason = true; t->options_.DlqReason = 2053;
       }, true},
      {"dlq reason matches (big-endian header)", [](SelectionTest* t) {
         t->SetDeadLetter(2053, "QM1", "Q1", true);
         t->options_.SelectByDlqReason = true; t->options_.DlqReason = 2053;
       }, true},
      {"dlq reason differs", [](SelectionTest* t) {
         t->SetDeadLetter(2085, "QM1", "Q1", false);
         t->options_.SelectByDlqReason = true; t->options_.DlqReason = 2053;
       }, false},
      {"dlq reason on a message without the header format", [](SelectionTest* t) {
         t->SetDeadLetter(2053, "QM1", "Q1", false); t->SetFormat(MQFMT_STRING);
         t->options_.SelectByDlqReason = true; t->options_.DlqReason = 2053;
       }, false},
      {"dlq reason with a header cut short", [](SelectionTest* t) {
         t->SetDeadLetter(2053, "QM1", "Q1", false);
         t->options_.Message.DataLength = 100;
         t->options_.SelectByDlqReason = true; t->options_.DlqReason = 2053;
       }, false},
      {"target Q? on any qmgr matches Q1", [](SelectionTest* t) {
         t->SetDeadLetter(2053, "QMX", "Q1", false); t->SetTargetMasks("*", "Q?");
       }, true},
      {"target Q? does not match Q12", [](SelectionTest* t) {
         t->SetDeadLetter(2053, "QMX", "Q12", false); t->SetTargetMasks("*", "Q?");
       }, false},
      {"target qmgr mask must match too", [](SelectionTest* t) {
         t->SetDeadLetter(2053, "QMX", "Q1", false); t->SetTargetMasks("QMY", "Q?");
       }, false},
      {"target is case-sensitive", [](SelectionTest* t) {
         t->SetDeadLetter(2053, "QMX", "q1", false); t->SetTargetMasks("*", "Q?");
       }, false},
      {"target on a plain message", [](SelectionTest* t) {
         t->SetData("plain"); t->SetTargetMasks("*", "*");
       }, false},
      {"all three -s strings present", [](SelectionTest* t) {
         t->SetData("alpha beta gamma");
         AddSearch(t->options_.SearchAscii, "alpha");
         AddSearch(t->options_.SearchAscii, "beta");
         AddSearch(t->options_.SearchAscii, "gamma");
       }, true},
      {"one of three -s strings missing", [](SelectionTest* t) {
         t->SetData("alpha beta");
         AddSearch(t->options_.SearchAscii, "alpha");
         AddSearch(t->options_.SearchAscii, "beta");
         AddSearch(t->options_.SearchAscii, "gamma");
       }, false},
      {"-S string present", [](SelectionTest* t) {
         t->SetData("alpha beta"); AddSearch(t->options_.SearchAsciiNot, "beta");
       }, false},
      {"-S string absent", [](SelectionTest* t) {
         t->SetData("alpha beta"); AddSearch(t->options_.SearchAsciiNot, "delta");
       }, true},
      {"-x 414243 finds ABC", [](SelectionTest* t) {
         t->SetData("xxABCxx"); AddSearch(t->options_.SearchHex, "ABC");
       }, true},
      {"-e ABC finds EBCDIC C1C2C3", [](SelectionTest* t) {
         t->SetData("\x40\xC1\xC2\xC3\x40"); AddSearch(t->options_.SearchEbcdic, "\xC1\xC2\xC3");
       }, true},
      {"-E string present", [](SelectionTest* t) {
         t->SetData("\xC1\xC2"); AddSearch(t->options_.SearchEbcdicNot, "\xC2");
       }, false},
      {"-X bytes present", [](SelectionTest* t) {
         t->SetData(std::string("a\0b", 3)); AddSearch(t->options_.SearchHexNot, std::string("\0", 1));
       }, false},
      {"a search string only across the end of the data", [](SelectionTest* t) {
         t->SetData("abcdef"); t->options_.Message.DataLength = 4;
         AddSearch(t->options_.SearchAscii, "def");
       }, false},
      {"entries after a free one are ignored", [](SelectionTest* t) {
         t->SetData("alpha");
         t->options_.SearchAscii[1].Length = 4; memcpy(t->options_.SearchAscii[1].Text, "zzzz", 4);
       }, true},
      {"put time inside the window", [](SelectionTest* t) {
         int64_t put = MqDateTimeToEpoch("20240102", "030405");
         t->options_.PutAfter = put - 10; t->options_.PutBefore = put + 10;
         memcpy(t->options_.Message.Descriptor->PutDate, "20240102", 8);
         memcpy(t->options_.Message.Descriptor->PutTime, "03040500", 8);
       }, true},
      {"put time equal to PutBefore is outside", [](SelectionTest* t) {
         t->options_.PutBefore = MqDateTimeToEpoch("20240102", "030405");
         memcpy(t->options_.Message.Descriptor->PutDate, "20240102", 8);
         memcpy(t->options_.Message.Descriptor->PutTime, "03040500", 8);
       }, false},
      {"put time equal to PutAfter is inside", [](SelectionTest* t) {
         t->options_.PutAfter = MqDateTimeToEpoch("20240102", "030405");
         memcpy(t->options_.Message.Descriptor->PutDate, "20240102", 8);
         memcpy(t->options_.Message.Descriptor->PutTime, "03040500", 8);
       }, true},
      {"blank put date is never in a window", [](SelectionTest* t) {
         t->options_.PutAfter = 1;
         memset(t->options_.Message.Descriptor->PutDate, ' ', 8);
       }, false},
  };
  for (const Case& c : cases) {
    SetUp();
    c.setup(this);
    EXPECT_EQ(c.selected, MessageSelected(&options_)) << c.name;
  }
}

TEST_F(SelectionTest, TransmissionHeaderNamesTheTarget) {
  std::string xqh(MQXQH_LENGTH_1, ' ');
  memcpy(&xqh[0], "XQH ", 4);
  memcpy(&xqh[8], "REMOTE.Q", 8);
  memcpy(&xqh[56], "REMOTEQM", 8);
  SetData(xqh + "body");
  SetFormat(MQFMT_XMIT_Q_HEADER);
  SetTargetMasks("REMOTE*", "REMOTE.?");
  EXPECT_TRUE(MessageSelected(&options_));
  SetTargetMasks("REMOTE*", "LOCAL.Q");
  EXPECT_FALSE(MessageSelected(&options_));
}

TEST_F(SelectionTest, DescriptorOnlyReadNeverSearchesStaleStorage) {
  // The storage still holds an earlier message's bytes; a descriptor-only
  // read must not look at them.
  SetData("needle in stale storage");
  options_.NoData = true;
  options_.Message.DataLength = 5000;
  EXPECT_EQ(0, ReceivedLength(&options_));
  AddSearch(options_.SearchAscii, "needle");
  // With a search filter the run reads the data, so it is in hand again.
  EXPECT_TRUE(NeedsMessageData(&options_));
  EXPECT_EQ(5000, ReceivedLength(&options_));
}

TEST(MatchesTargetTest, NamesAreCutAtTheFirstBlank) {
  RunOptions options;
  FakeReset(&options);
  snprintf(options.TargetQmgrMask, sizeof options.TargetQmgrMask, "QM1");
  snprintf(options.TargetQueueMask, sizeof options.TargetQueueMask, "APP.*.IN");
  options.TargetQmgrMaskLength = 3;
  options.TargetQueueMaskLength = 8;
  char qmgr[48];
  char queue[48];
  memset(qmgr, ' ', 48);
  memset(queue, ' ', 48);
  memcpy(qmgr, "QM1", 3);
  memcpy(queue, "APP.X.IN", 8);
  EXPECT_TRUE(MatchesTarget(&options, qmgr, queue));
  memcpy(queue, "APP.X.OUT", 9);
  EXPECT_FALSE(MatchesTarget(&options, qmgr, queue));
  // A full 48-character name without terminator stays within its field.
  memset(queue, 'A', 48);
  snprintf(options.TargetQueueMask, sizeof options.TargetQueueMask, "A*");
  options.TargetQueueMaskLength = 2;
  EXPECT_TRUE(MatchesTarget(&options, qmgr, queue));
}

TEST_F(SelectionTest, LogMessageCheck) {
  options_.Message.ExpectedLength = 5;
  SetData("hello");
  EXPECT_EQ(0, CheckLogMessage(&options_));
  SetData("hell");
  EXPECT_EQ(MQRC_INCOMPLETE_MSG, CheckLogMessage(&options_));

  // A leading block is skipped before the length is compared.
  std::string block("ZRFP", 4);
  int32_t marker = 0x01000001;
  int32_t blockLength = 16;
  block.append(reinterpret_cast<char*>(&marker), 4);
  block.append(reinterpret_cast<char*>(&blockLength), 4);
  block.append("1234", 4);
  SetData(block + "hello");
  EXPECT_EQ(0, CheckLogMessage(&options_));
  EXPECT_EQ(0, memcmp(options_.Message.Cursor, "hello", 5));

  // A block length beyond the data is not trusted.
  SetUp();
  options_.Message.ExpectedLength = 5;
  blockLength = 1 << 30;
  block.replace(8, 4, reinterpret_cast<char*>(&blockLength), 4);
  SetData(block + "hello");
  EXPECT_EQ(MQRC_INCOMPLETE_MSG, CheckLogMessage(&options_));
  EXPECT_EQ(options_.Message.Storage, options_.Message.Cursor);
}

}  // namespace
