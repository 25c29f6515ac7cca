// Pacing of the puts: the -D delays before each message (fixed, random, or
// replaying the gaps between the recorded put times) and the -R rates after
// each message (a fixed number per second, or as fast as the target queue's
// consumer takes them). The arithmetic is kept apart from the clock and the
// sleeps so that it can be checked without waiting.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "zeplo/engine/engine.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// Waits this long or longer are announced on standard output.
constexpr int64_t kAnnounceWaitMs = 5000;
// -R *: a depth above this means the consumer is not keeping up.
constexpr int32_t kDeepTargetQueue = 5000;
// -R *: below this guess the rate is never considered slow.
constexpr int32_t kSlowRateGuess = 499;

// The relative-delay reference: the put time of the message that set it and
// the millisecond clock when it was delivered. Process-wide, so a generic
// load keeps replaying the gaps across its files. A separate flag marks it
// as set, because the clock legitimately reads 0 on its first call.
struct RelativeReference {
  bool Set;
  int32_t ReferenceClock;
  char ReferencePutDate[8];
  char ReferencePutTime[8];
  int64_t ReferenceCentiseconds;
};
RelativeReference gReference;

void SetReference(const MQMD* md, int32_t nowMs, int64_t centiseconds) {
  gReference.Set = true;
  gReference.ReferenceClock = nowMs;
  memcpy(gReference.ReferencePutDate, md->PutDate, sizeof gReference.ReferencePutDate);
  memcpy(gReference.ReferencePutTime, md->PutTime, sizeof gReference.ReferencePutTime);
  gReference.ReferenceCentiseconds = centiseconds;
}

// Milliseconds from `start` to `now` on the 32-bit clock, across its wrap
// (about every 24 days). Never negative.
int32_t MillisecondsBetween(int32_t start, int32_t now) {
  int32_t gone = static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(start));
  return gone < 0 ? 0 : gone;
}

// A double as a 32-bit integer, truncated toward zero. A value the type
// cannot hold (NaN, an infinity, anything out of range) gives the smallest
// 32-bit integer, which is what the hardware conversion yields.
int32_t TruncateToInt32(double value) {
  if (std::isnan(value) || value >= 2147483648.0 || value < -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// numerator / denominator in floating point, with the IEEE results for a
// zero denominator spelled out rather than left to the division.
double Divide(double numerator, double denominator) {
  if (denominator != 0.0) return numerator / denominator;
  if (numerator > 0.0) return HUGE_VAL;
  if (numerator < 0.0) return -HUGE_VAL;
  return std::nan("");
}

void AnnounceWait(int64_t waitMs) {
  char clock[16] = "";
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) != nullptr) strftime(clock, sizeof clock, "%H:%M", &local);
  char duration[96];
  FormatDuration(duration, (waitMs + 500) / 1000, false);
  printf("%5.5s - sleeping for %s\n", clock, duration);
  fflush(stdout);
}

// The end of a period, common to both rates. Returns true when the rate's
// end time has passed and the cycle is to be left.
bool EndPeriod(RunOptions* options) {
  if (options->RateEndTime != 0 && time(nullptr) > options->RateEndTime) {
    puts("Required Rate End Time Reached.");
    fflush(stdout);
    return true;
  }
  options->PeriodCount = 0;
  options->PeriodStart = ElapsedMilliseconds();
  return false;
}

}  // namespace

int32_t RandomDelayMilliseconds(int32_t delay) {
  double magnitude = delay < 0 ? -static_cast<double>(delay) : static_cast<double>(delay);
  double wait = magnitude * rand() / 2147483647.0;
  // -D -2147483648 can draw one more than a 32-bit wait holds.
  return wait >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(wait);
}

void ResetRelativeDelay() { gReference = RelativeReference{}; }

bool PacedByDelay(const RunOptions* options) {
  return options->Delay != 0 || options->RelativeDelay;
}

int64_t RelativeDelayWait(RunOptions* options, int32_t nowMs) {
  const MQMD* md = options->Message.Descriptor;
  int64_t seconds = 0;
  int64_t centiseconds = 0;
  // Without a put time there is no gap to replay; the reference stays.
  if (MqDateTimeToEpochCs(md->PutDate, md->PutTime, &seconds, &centiseconds) != 0) return 0;
  if (!gReference.Set) {
    SetReference(md, nowMs, centiseconds);
    return 0;
  }
  int64_t offset = (centiseconds - gReference.ReferenceCentiseconds) * 10;
  if (offset < 0) {
    // The put times went backwards: start replaying from this message.
    SetReference(md, nowMs, centiseconds);
    return 0;
  }
  int64_t elapsed = MillisecondsBetween(gReference.ReferenceClock, nowMs);
  if (offset <= elapsed) return 0;
  int64_t wait = offset - elapsed;
  // 64-bit so that a gap of days scaled by a percentage cannot overflow.
  int32_t percent = options->Delay;
  if (percent != 100) wait = wait * percent / 100;
  if (wait <= 0) return 0;
  return wait > INT32_MAX ? INT32_MAX : wait;
}

void DelayMessage(RunOptions* options) {
  if (!options->RelativeDelay) {
    if (options->Delay > 0) {
      SleepMilliseconds(options->Delay);
    } else if (options->Delay < 0) {
      SleepMilliseconds(RandomDelayMilliseconds(options->Delay));
    }
    return;
  }
  int64_t wait = RelativeDelayWait(options, ElapsedMilliseconds());
  if (wait <= 0) return;
  if (wait > kAnnounceWaitMs) AnnounceWait(wait);
  SleepMilliseconds(static_cast<int32_t>(wait));
}

int32_t EndFixedRatePeriod(const RunOptions* options, int32_t elapsed) {
  if (elapsed < 0) elapsed = 0;
  int32_t remain = 1000 - elapsed;
  if (remain < 0) {
    printf("Can not achieve %d msgs/second, took %.1f seconds\n", options->Rate, elapsed / 1000.0);
    fflush(stdout);
    return 0;
  }
  printf("%d msgs sent in %d milliseconds\n", options->Rate, elapsed);
  fflush(stdout);
  return remain;
}

int32_t EndTargetRatePeriod(RunOptions* options, int32_t elapsed, int32_t depth) {
  if (elapsed < 0) elapsed = 0;
  int32_t remain = 1000 - elapsed;
  // What the consumer took: what we added plus what was there minus what
  // is left.
  int64_t processed64 = static_cast<int64_t>(options->PeriodCount) + options->TargetDepth - depth;
  int32_t processed = processed64 > INT32_MAX   ? INT32_MAX
                      : processed64 < INT32_MIN ? INT32_MIN
                                                : static_cast<int32_t>(processed64);
  if (options->RateDetails) {
    printf("  Period:%d Guess:%d Rate:%d Remain:%d Depth:%d Processed:%d\n", elapsed,
           options->RateGuess, options->PeriodCount, options->TargetDepth, depth, processed);
  }
  options->TargetDepth = depth;

  double factor = 1.0;
  if (remain > 5) {
    factor = elapsed == 0 ? 2.0 : 1000.0 / elapsed;
  } else if (remain < -5) {
    factor = 1000.0 / elapsed;
    options->RateSlow = true;
  }
  if (depth > kDeepTargetQueue) {
    factor = Divide(std::trunc(processed * factor), options->RateGuess);
  } else if (depth < kDeepTargetQueue && options->RateGuess == 0 && processed != 0) {
    options->RateGuess = processed;
  }

  if (processed == 0) {
    puts("Target Queue does not appear to be being processed.");
    options->RateSlow = false;
  } else if (options->RateDetails) {
    printf("%5d msgs sent in %4d milliseconds\n", processed, elapsed);
  } else {
    printf("Message Rate %5d msgs/sec\n", processed);
  }
  fflush(stdout);

  if (options->RateGuess > kSlowRateGuess && options->RateSlow) {
    if (factor < 0.95) factor = 0.95;
    if (factor > 1.05) factor = 1.05;
  }
  if (options->RateGuess <= kSlowRateGuess) options->RateSlow = false;
  if (options->RateDetails) printf("  Adjust:%.2f\n", factor);
  options->RateGuess = TruncateToInt32(options->RateGuess * factor);
  return remain;
}

int PaceByRate(RunOptions* options, bool* leaveCycle) {
  *leaveCycle = false;
  if (options->Rate == 0 || options->Rate < -1) return 0;  // no rate to keep
  options->PeriodCount++;

  if (options->Rate > 0) {
    if (options->PeriodCount < options->Rate) return 0;
    int32_t elapsed = MillisecondsBetween(options->PeriodStart, ElapsedMilliseconds());
    SleepMilliseconds(EndFixedRatePeriod(options, elapsed));
    if (options->UseSyncpoint) {
      int rc = CommitAll(options);
      if (rc != 0) return rc;
    }
  } else {
    if (static_cast<int64_t>(options->TargetDepth) + options->PeriodCount < options->RateGuess) {
      return 0;
    }
    if (options->UseSyncpoint) {
      int rc = CommitAll(options);
      if (rc != 0) return rc;
    }
    int32_t elapsed = MillisecondsBetween(options->PeriodStart, ElapsedMilliseconds());
    int32_t remain = EndTargetRatePeriod(options, elapsed, InquireTargetDepth(options));
    if (remain > 30) {
      if (options->RateDetails) printf("  Sleeping for %d\n", remain);
      fflush(stdout);
      SleepMilliseconds(remain);
    } else if (options->RateDetails) {
      puts("  Sleep skipped");
      fflush(stdout);
    }
  }
  *leaveCycle = EndPeriod(options);
  return 0;
}
