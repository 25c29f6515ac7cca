// The queue summary: bucket boundaries, youngest/oldest/smallest/biggest
// with ties, ages measured from the start of the run, and the "Queue Size
// Summary" arithmetic in both its forms.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/zeplo/engine/engine_test_util.h"

namespace {

constexpr int64_t kNow = 1700000000;  // the start of the run

struct SummaryTest : ::testing::Test {
  TestRun o;
  SummaryStatistics s{};
  void SetUp() override {
    o.Parsed.NowSeconds = kNow;
    o.Parsed.NowCentiseconds = kNow * 100;
    o.Message.Descriptor = &o.Message.OwnDescriptor;
  }
  // One message put `age` seconds before the start (no put time when
  // age is INT64_MIN), of `size` bytes, with MsgId byte `id`.
  void Add(int64_t age, int32_t size, unsigned char id) {
    MQMD* md = o.Message.Descriptor;
    memset(md, ' ', sizeof *md);
    if (age != INT64_MIN) {
      int64_t when = kNow - age;
      EpochToMqDateTime(&when, md->PutDate, md->PutTime, true);
    }
    memset(md->MsgId, id, sizeof md->MsgId);
    o.Message.DataLength = size;
    o.Counters.SelectedCount++;
    o.Counters.ReadCount++;
    o.Counters.ReadBytes += static_cast<uint64_t>(size);
    AccumulateStatistics(&o, &s);
  }
  std::string Display(const QueueElement& queue) {
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    DisplaySummary(out, &o, &s, &queue);
    fclose(out);
    std::string result(text, length);
    free(text);
    return result.substr(result.find("Queue Size Summary"));
  }
};

TEST_F(SummaryTest, MessagesFallInTheirBuckets) {
  for (int i = 0; i < 7; ++i) Add(30, 99, 1);
  for (int i = 0; i < 3; ++i) Add(2 * 86400, 100, 2);
  Add(-10, 1024, 3);            // put after the start: a negative age
  Add(INT64_MIN, 52428800, 4);  // no put time: as old as the epoch
  Add(1, 52428799, 5);
  Add(1, 99, 6);                // ties keep the earlier message
  const uint32_t ages[kAgeBucketCount] = {2, 0, 7, 0, 0, 3, 0, 0, 0, 0, 0, 2};
  const uint32_t sizes[kSizeBucketCount] = {8, 3, 1, 0, 0, 0, 1, 1};
  for (int i = 0; i < kAgeBucketCount; ++i) EXPECT_EQ(s.AgeCounts[i], ages[i]) << AgeBuckets[i].Label;
  for (int i = 0; i < kSizeBucketCount; ++i)
    EXPECT_EQ(s.SizeCounts[i], sizes[i]) << SizeBuckets[i].Label;
  EXPECT_EQ(s.YoungestAgeSeconds, -10);
  EXPECT_EQ(s.YoungestMsgId[0], 3);
  EXPECT_EQ(s.OldestAgeSeconds, kNow);
  EXPECT_EQ(s.OldestMsgId[0], 4);
  EXPECT_EQ(s.SmallestSize, 99);
  EXPECT_EQ(s.SmallestMsgId[0], 1);
  EXPECT_EQ(s.LargestSize, 52428800);
  EXPECT_EQ(s.LargestMsgId[0], 4);
}

TEST_F(SummaryTest, QueueSizeAgainstLimitsOrFileSize) {
  const std::string kHead =
      "Queue Size Summary\n==================\n"
      "                     Current     Maximum     Full\n"
      "                    ---------   ---------  -------\n"
      "Messages                    4          10   40.0 %\n";
  for (int i = 0; i < 4; ++i) Add(5, 64, 1);
  QueueElement limits{};
  limits.MaxDepth = 10;
  limits.MaxMsgLength = 100;
  EXPECT_EQ(Display(limits),
            kHead +
            "Message Bytes       256 bytes  1000 bytes   25.6 %\n");
  // With the file sizes of the status inquiry (megabytes).
  o.Counters.ReadBytes = 524288;
  QueueElement files = limits;
  files.QueueFileSize = 1;
  files.MaxQueueFileSize = 2;
  EXPECT_EQ(Display(files),
            kHead +
            "Message Bytes         512 KBs       2 MBs   25.0 %\n"
            "Data Bytes         513.42 KBs       2 MBs   25.1 %\n"
            "Queue File Size          1 MB       2 MBs   50.0 %\n");
  // A queue whose limits multiply to 0 shows 0 %, not a division by zero.
  limits.MaxMsgLength = 0;
  EXPECT_NE(Display(limits).find("0 bytes    0.0 %"), std::string::npos);
}

}  // namespace
