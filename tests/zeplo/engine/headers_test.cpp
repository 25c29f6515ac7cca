// Header stripping, the EBCDIC code-page set and the descriptor repairs,
// plus the loop's clock, progress arithmetic and status line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/zeplo/engine/fake_mq.h"
#include "zeplo/engine/engine.h"
#include "zeplo/util/util.h"

namespace {

void PutLong(std::string* s, size_t at, int32_t v, bool bigEndian) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; i++) {
    int shift = bigEndian ? 24 - 8 * i : 8 * i;
    (*s)[at + i] = static_cast<char>((u >> shift) & 0xFF);
  }
}

class HeadersTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&options_);
    storage_.assign(4096, 0);
    options_.Message.Storage = storage_.data();
    options_.Message.Capacity = 4096;
    options_.Message.Cursor = storage_.data();
    ResetDescriptor(options_.Message.Descriptor);
  }
  void SetData(const std::string& data, const char* format, MQLONG encoding, MQLONG ccsid) {
    memcpy(storage_.data(), data.data(), data.size());
    options_.Message.DataLength = static_cast<int32_t>(data.size());
    MQMD* md = options_.Message.Descriptor;
    memcpy(md->Format, format, 8);
    md->Encoding = encoding;
    md->CodedCharSetId = ccsid;
  }
  static std::string DeadLetter(const char* innerFormat, bool bigEndian, bool ebcdic) {
    std::string dlh(MQDLH_LENGTH_1, ' ');
    memcpy(&dlh[0], "DLH ", 4);
    PutLong(&dlh, 108, 273, bigEndian);   // Encoding
    PutLong(&dlh, 112, 500, bigEndian);   // CodedCharSetId
    memcpy(&dlh[116], innerFormat, 8);
    PutLong(&dlh, 124, 6, bigEndian);     // PutApplType
    memcpy(&dlh[128], "SENDER", 6);
    memcpy(&dlh[156], "20240315", 8);
    memcpy(&dlh[164], "12345678", 8);
    if (ebcdic) {
      for (size_t at : {size_t{116}, size_t{128}, size_t{156}, size_t{164}}) {
        size_t n = at == 128 ? 28 : 8;
        AsciiToEbcdic(reinterpret_cast<unsigned char*>(&dlh[at]),
                      reinterpret_cast<unsigned char*>(&dlh[at]), static_cast<int>(n));
      }
    }
    return dlh;
  }
  RunOptions options_;
  std::vector<unsigned char> storage_;
};

TEST_F(HeadersTest, DeadLetterHeaderTable) {
  struct Case {
    const char* name;
    bool bigEndian, ebcdic;
  } cases[] = {
      {"native order, ASCII", false, false},
      {"big-endian integers", true, false},
      {"big-endian, EBCDIC", true, true},
  };
  for (const Case& c : cases) {
    SetUp();
    SetData(DeadLetter(MQFMT_STRING, c.bigEndian, c.ebcdic) + "body", MQFMT_DEAD_LETTER_HEADER,
            c.bigEndian ? 273 : 546, c.ebcdic ? 500 : 819);
    StripMessageHeaders(&options_);
    const MQMD* md = options_.Message.Descriptor;
    EXPECT_EQ(4, options_.Message.DataLength) << c.name;
    EXPECT_EQ(0, memcmp(options_.Message.Cursor, "body", 4)) << c.name;
    EXPECT_EQ(273, md->Encoding) << c.name;
    EXPECT_EQ(500, md->CodedCharSetId) << c.name;
    EXPECT_EQ(6, md->PutApplType) << c.name;
    EXPECT_EQ(0, memcmp(md->Format, MQFMT_STRING, 8)) << c.name;
    EXPECT_EQ(0, memcmp(md->PutApplName, "SENDER", 6)) << c.name;
    EXPECT_EQ(0, memcmp(md->PutDate, "20240315", 8)) << c.name;
    EXPECT_EQ(0, memcmp(md->PutTime, "12345678", 8)) << c.name;
  }
}

TEST_F(HeadersTest, DeadLetterAroundTransmissionHeaderLosesBoth) {
  std::string xqh(MQXQH_LENGTH_1, '\0');
  memcpy(&xqh[0], "XQH ", 4);
  MQMD inner = {MQMD_DEFAULT};
  inner.Priority = 7;
  memcpy(inner.Format, "INNER   ", 8);
  memcpy(inner.PutApplName, "ORIGIN", 6);
  memcpy(&xqh[104], &inner, MQMD_LENGTH_1);
  SetData(DeadLetter(MQFMT_XMIT_Q_HEADER, false, false) + xqh + "payload",
          MQFMT_DEAD_LETTER_HEADER, 546, 819);
  StripMessageHeaders(&options_);
  const MQMD* md = options_.Message.Descriptor;
  EXPECT_EQ(7, options_.Message.DataLength);
  EXPECT_EQ(0, memcmp(options_.Message.Cursor, "payload", 7));
  EXPECT_EQ(7, md->Priority);
  EXPECT_EQ(0, memcmp(md->Format, "INNER   ", 8));
  EXPECT_EQ(0, memcmp(md->PutApplName, "ORIGIN", 6));
}

TEST_F(HeadersTest, HeadersLongerThanTheDataAreLeftAlone) {
  struct Case {
    const char* format;
    int32_t length;
  } cases[] = {{MQFMT_DEAD_LETTER_HEADER, MQDLH_LENGTH_1 - 1},
               {MQFMT_XMIT_Q_HEADER, MQXQH_LENGTH_1 - 1},
               {MQFMT_DEAD_LETTER_HEADER, 0}};
  for (const Case& c : cases) {
    SetUp();
    SetData(std::string(static_cast<size_t>(c.length), 'z'), c.format, 546, 819);
    StripMessageHeaders(&options_);
    EXPECT_EQ(c.length, options_.Message.DataLength) << c.format;
    EXPECT_EQ(options_.Message.Storage, options_.Message.Cursor) << c.format;
    EXPECT_EQ(0, memcmp(options_.Message.Descriptor->Format, c.format, 8));
  }
}

TEST(EbcdicCcsidTest, Table) {
  struct Case {
    MQLONG ccsid;
    bool ebcdic;
  } cases[] = {{37, true},    {500, true},   {1047, true},  {835, true},   {1145, true},
               {4371, true},  {61712, true}, {61711, true}, {819, false},  {1208, false},
               {437, false},  {36, false},   {38, false},   {1139, false}, {1150, false},
               {0, false},    {-1, false},   {61713, false}};
  for (const Case& c : cases) EXPECT_EQ(c.ebcdic, IsEbcdicCcsid(c.ccsid)) << c.ccsid;
}

TEST(ConvertDescriptorTest, SwapAndTranslate) {
  MQMD md = {MQMD_DEFAULT};
  md.Version = 0x01000000;  // 1 in the other byte order
  md.Priority = 0x05000000;
  md.BackoutCount = 0x02000000;
  AsciiToEbcdic(reinterpret_cast<unsigned char*>(md.Format),
                reinterpret_cast<const unsigned char*>("MQSTR   "), 8);
  AsciiToEbcdic(reinterpret_cast<unsigned char*>(md.PutDate),
                reinterpret_cast<const unsigned char*>("20240101"), 8);
  ConvertDescriptorFields(&md, true, true);
  EXPECT_EQ(1, md.Version);
  EXPECT_EQ(5, md.Priority);
  EXPECT_EQ(2, md.BackoutCount);
  EXPECT_EQ(0, memcmp(md.Format, "MQSTR   ", 8));
  EXPECT_EQ(0, memcmp(md.PutDate, "20240101", 8));
  // Neither asked: nothing changes.
  MQMD before = md;
  ConvertDescriptorFields(&md, false, false);
  EXPECT_EQ(0, memcmp(&before, &md, sizeof md));
}

TEST(ClockTest, ProgressTable) {
  struct Case {
    int64_t done, total;
    int32_t percent;
    int64_t elapsed, eta;
  } cases[] = {
      {0, 100, 0, 50, 0},        {1, 100, 1, 10, 990},    {50, 100, 50, 30, 30},
      {99, 100, 99, 99, 1},      {100, 100, 99, 100, 1},  {250, 100, 99, 5, 0},
      {1, 3, 33, 10, 20},        {-5, 100, 0, 1, 0},      {5, 0, 0, 1, 0},
      {INT64_MAX / 2, INT64_MAX, 49, 49, 51},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.percent, ProgressPercent(c.done, c.total)) << c.done << "/" << c.total;
    EXPECT_EQ(c.eta, ProgressEtaSeconds(c.percent, c.elapsed)) << c.percent;
  }
}

TEST(ClockTest, SleepSplitsSecondsAndRemainder) {
  int32_t start = ElapsedMilliseconds();
  SleepMilliseconds(1020);
  SleepMilliseconds(-50);
  int32_t took = ElapsedMilliseconds() - start;
  EXPECT_GE(took, 1015);
  EXPECT_LT(took, 3000);
}

TEST(StatusLineTest, ThroughputAndTheSameSecond) {
  RunOptions options;
  FakeReset(&options);
  options.ThruputTime = 1000;
  options.StatusCount = 10;
  options.ReadCount = 10;
  options.WrittenCount = 8;
  testing::internal::CaptureStderr();
  PrintStatusLine(&options, 1004);
  options.StatusCount = 10;
  options.ReadCount = 20;
  PrintStatusLine(&options, 1004);
  options.StatusCount = 5;
  PrintStatusLine(&options, 1005);
  std::string err = testing::internal::GetCapturedStderr();
  // Drop the local-time prefix of each line before comparing.
  std::string bodies;
  size_t pos = 0;
  while (pos < err.size()) {
    size_t end = err.find('\n', pos);
    bodies += err.substr(pos + 8, end - pos - 7);
    pos = end + 1;
  }
  EXPECT_EQ(
      "> Status - Read:        10 Written:         8 Thruput:     2.5 msg/sec\n"
      "> Status - Read:        20 Written:         8 Thruput:       * msg/sec\n"
      "> Status - Read:        20 Written:         8 Thruput:    15.0 msg/sec\n",
      bodies);
  EXPECT_EQ(0u, options.StatusCount);
  EXPECT_EQ(1005, options.StatusTime);
  EXPECT_EQ(0, options.ThruputCount);
}

}  // namespace
