// The queue summary (-ds): statistics gathered from each message's
// descriptor, and the display of counts, age and size buckets, extremes
// and how full the queue is.
#include <cstdio>
#include <cstring>

#include "zeplo/engine/engine.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

// A message falls in the first bucket whose limit lies above its value;
// the last bucket (limit 0) takes the rest. Labels are printed as they
// stand: every label of a table has the width of its column.
const SummaryBucket AgeBuckets[kAgeBucketCount] = {
    {"< 2  secs", 2},        {"< 10 secs", 10},        {"< 1   min", 60},
    {"< 1  hour", 3600},     {"< 1   day", 86400},     {"< 1  week", 604800},
    {"< 2 weeks", 1209600},  {"< 4 weeks", 2419200},   {"< 3 month", 7862400},
    {"< 6 month", 15724800}, {"< 1  year", 31449600},  {"> 1  year", 0},
};
const SummaryBucket SizeBuckets[kSizeBucketCount] = {
    {"< 100B", 100},     {"<  1KB", 1024},       {"<  4KB", 4096},       {"<100KB", 102400},
    {"<  1MB", 1048576}, {"< 10MB", 10485760},   {"< 50MB", 52428800},   {"> 50MB", 0},
};

namespace {

// Bytes of a message in the queue's file besides its data (its descriptor).
constexpr int64_t kFileBytesPerMessage = 364;
// Bytes to megabytes, as the queue file sizes count them.
constexpr double kBytesToMegabytes = 9.536743e-7;

void CopyIds(const MQMD* md, MQBYTE24 msgId, MQBYTE24 correlId) {
  memcpy(msgId, md->MsgId, sizeof(MQBYTE24));
  memcpy(correlId, md->CorrelId, sizeof(MQBYTE24));
}

// An age in centiseconds: compound with short names from a minute up,
// with hundredths on the last unit below it.
void FormatAge(int64_t centiseconds, char (&out)[kQuantityTextSize]) {
  int flags = kQuantityCompound | kQuantityShortNames;
  if (centiseconds <= 5999) flags |= kQuantityFraction;
  FormatQuantity(centiseconds, out, TimeUnitsCs, flags);
}

double Percent(double part, double whole) { return whole != 0 ? part / whole * 100 : 0.0; }

// The "Queue Size Summary": messages and bytes against the queue's limits,
// and, from the status inquiry, against its file size.
void PrintQueueSize(FILE* out, const Run* run, const QueueElement* queue) {
  const RunCounters& counts = run->Counters;
  const int flags = kQuantityShortNames | kQuantityTwoDecimals;
  char current[kQuantityTextSize], maximum[kQuantityTextSize];
  PrintHeading(out, "Queue Size Summary");
  fputs("\n                     Current     Maximum     Full\n", out);
  fputs("                    ---------   ---------  -------\n", out);
  double readBytes = static_cast<double>(counts.ReadBytes);
  if (queue->MaxDepth != 0) {
    fprintf(out, "Messages          %11d %11d  %5.1f %%\n", static_cast<int>(counts.ReadCount),
            queue->MaxDepth, Percent(static_cast<double>(counts.ReadCount), queue->MaxDepth));
    FormatQuantity(static_cast<int64_t>(counts.ReadBytes), current, SizeUnits, flags);
    double percent;
    if (queue->MaxQueueFileSize != 0) {
      FormatQuantity(queue->MaxQueueFileSize, maximum, LargeSizeUnits, flags);
      percent = Percent(readBytes * kBytesToMegabytes, queue->MaxQueueFileSize);
    } else {
      int64_t limit = int64_t{queue->MaxDepth} * queue->MaxMsgLength;
      if (limit > 1048576)
        FormatQuantity(limit >> 20, maximum, LargeSizeUnits, flags);
      else
        FormatQuantity(limit, maximum, SizeUnits, flags);
      percent = Percent(readBytes, static_cast<double>(limit));
    }
    fprintf(out, "Message Bytes      %11s %11s %5.1f %%\n", current, maximum, percent);
  }
  if (queue->MaxQueueFileSize != 0) {
    // Each message also costs its descriptor in the file.
    int64_t data = counts.ReadCount * kFileBytesPerMessage +
                   static_cast<int64_t>(counts.ReadBytes);
    FormatQuantity(data, current, SizeUnits, flags);
    FormatQuantity(queue->MaxQueueFileSize, maximum, LargeSizeUnits, flags);
    fprintf(out, "Data Bytes         %11s %11s %5.1f %%\n", current, maximum,
            Percent(static_cast<double>(data) * kBytesToMegabytes, queue->MaxQueueFileSize));
    FormatQuantity(queue->QueueFileSize, current, LargeSizeUnits, flags);
    fprintf(out, "Queue File Size    %11s %11s %5.1f %%\n", current, maximum,
            Percent(queue->QueueFileSize, queue->MaxQueueFileSize));
  }
}

}  // namespace

void CountInBucket(uint32_t value, uint32_t* counts, const SummaryBucket* buckets,
                   int bucketCount) {
  int i = 0;
  while (i < bucketCount - 1 && buckets[i].Limit <= value) i++;
  counts[i]++;
}

void AccumulateStatistics(const Run* run, SummaryStatistics* s) {
  const RunOptions* options = run->Options;
  const MQMD* md = run->Message.Descriptor;
  int64_t putSeconds = 0, putCentiseconds = 0;
  if (MqDateTimeToEpochCs(md->PutDate, md->PutTime, &putSeconds, &putCentiseconds) != 0)
    putSeconds = putCentiseconds = 0;
  int64_t ageSeconds = options->NowSeconds - putSeconds;
  int64_t ageCentiseconds = options->NowCentiseconds - putCentiseconds;
  int32_t size = run->Message.DataLength < 0 ? 0 : run->Message.DataLength;
  bool first = run->Counters.SelectedCount == 1;
  if (first || ageSeconds < s->YoungestAgeSeconds) {
    s->YoungestAgeSeconds = ageSeconds;
    s->YoungestAgeCentiseconds = ageCentiseconds;
    CopyIds(md, s->YoungestMsgId, s->YoungestCorrelId);
  }
  if (first || ageSeconds > s->OldestAgeSeconds) {
    s->OldestAgeSeconds = ageSeconds;
    s->OldestAgeCentiseconds = ageCentiseconds;
    CopyIds(md, s->OldestMsgId, s->OldestCorrelId);
  }
  if (first || size < s->SmallestSize) {
    s->SmallestSize = size;
    CopyIds(md, s->SmallestMsgId, s->SmallestCorrelId);
  }
  if (first || size > s->LargestSize) {
    s->LargestSize = size;
    CopyIds(md, s->LargestMsgId, s->LargestCorrelId);
  }
  s->TotalAgeCentiseconds += ageCentiseconds;
  // A put time after the start of the run gives a negative age, which as
  // an unsigned value lands in the last bucket.
  CountInBucket(static_cast<uint32_t>(ageSeconds), s->AgeCounts, AgeBuckets, kAgeBucketCount);
  CountInBucket(static_cast<uint32_t>(size), s->SizeCounts, SizeBuckets, kSizeBucketCount);
}

void PrintHeading(FILE* out, const char* title) {
  fprintf(out, "\n%s\n", title);
  for (size_t i = strlen(title); i > 0; --i) fputc('=', out);
}

void PrintBucketTable(FILE* out, const char* title, const uint32_t* counts,
                      const SummaryBucket* buckets, int bucketCount, int perRow) {
  PrintHeading(out, title);
  fputs("\n\n", out);
  int width = static_cast<int>(strlen(buckets[0].Label));
  for (int row = 0; row < bucketCount; row += perRow) {
    int end = row + perRow < bucketCount ? row + perRow : bucketCount;
    for (int i = row; i < end; ++i) fprintf(out, "%s ", buckets[i].Label);
    fputc('\n', out);
    for (int i = row; i < end; ++i) fprintf(out, "%.*s ", width, "------------------------");
    fputc('\n', out);
    for (int i = row; i < end; ++i) fprintf(out, "%*u ", width, counts[i]);
    fputs("\n\n", out);
  }
}

void PrintSummaryIds(FILE* out, const Run* run, const MQBYTE* msgId,
                     const MQBYTE* correlId) {
  const RunOptions* options = run->Options;
  char hex[2 * sizeof(MQBYTE24) + 1];
  if (options->SummaryMsgIds) {
    BytesToHex(msgId, sizeof(MQBYTE24), hex, 0);
    fprintf(out, "     Message Id:%48.48s\n", hex);
  }
  if (options->SummaryCorrelIds) {
    BytesToHex(correlId, sizeof(MQBYTE24), hex, 0);
    fprintf(out, "     Correl  Id:%48.48s\n", hex);
  }
  if (options->SummaryMsgIds || options->SummaryCorrelIds) fputc('\n', out);
}

void DisplaySummary(FILE* out, const Run* run, const SummaryStatistics* s,
                    const QueueElement* inputQueue) {
  const RunCounters& counts = run->Counters;
  char line[160];
  FormatCountLine("Read", counts.ReadFiles, counts.ReadCount, counts.ReadBytes, line,
                  sizeof line);
  fputs(line, out);
  PrintBucketTable(out, "Message Ages", s->AgeCounts, AgeBuckets, kAgeBucketCount, 6);
  char text[kQuantityTextSize];
  if (counts.ReadCount > 0) {
    FormatAge(s->YoungestAgeCentiseconds, text);
    fprintf(out, "%-8.8s Message : %s\n", "Youngest", text);
    PrintSummaryIds(out, run, s->YoungestMsgId, s->YoungestCorrelId);
    FormatAge(s->OldestAgeCentiseconds, text);
    fprintf(out, "%-8.8s Message : %s\n", "Oldest", text);
    PrintSummaryIds(out, run, s->OldestMsgId, s->OldestCorrelId);
    FormatAge(s->TotalAgeCentiseconds / counts.ReadCount, text);
    fprintf(out, "%-8.8s Message : %s\n", "Average", text);
  }
  PrintBucketTable(out, "Message Sizes", s->SizeCounts, SizeBuckets, kSizeBucketCount, 8);
  if (counts.ReadCount > 0) {
    FormatQuantity(s->SmallestSize, text, SizeUnits, 0);
    fprintf(out, "Smallest Message : %s\n", text);
    PrintSummaryIds(out, run, s->SmallestMsgId, s->SmallestCorrelId);
    FormatQuantity(s->LargestSize, text, SizeUnits, 0);
    fprintf(out, "Biggest  Message : %s\n", text);
    PrintSummaryIds(out, run, s->LargestMsgId, s->LargestCorrelId);
    FormatQuantity(static_cast<int64_t>(counts.ReadBytes) / counts.ReadCount, text, SizeUnits,
                   0);
    fprintf(out, "Average  Message : %s\n", text);
  }
  if (inputQueue != nullptr && (inputQueue->MaxDepth != 0 || inputQueue->MaxQueueFileSize != 0))
    PrintQueueSize(out, run, inputQueue);
  fflush(out);
}
