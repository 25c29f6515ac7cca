// The queue summary: bucket boundaries, youngest/oldest/smallest/biggest
// with ties, ages measured from the start of the run, and the "Queue Size
// Summary" arithmetic in both its forms.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/zeplo/test_run.h"
#include "zeplo/engine/engine.h"
#include "zeplo/util/util.h"

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

}  // namespace
