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

// Makes the message in hand the relative-delay reference: its put time and
// the millisecond clock now. The reference lives in EngineState for the
// whole run, so a generic load keeps replaying the gaps across its files.
// A separate flag marks it as set: the clock legitimately reads 0 on its
// first call.
void SetReference(EngineState* engine, int32_t nowMs, int64_t centiseconds) {
  engine->RelativeSet = true;
  engine->RelativeStartMs = nowMs;
  engine->RelativePutCs = centiseconds;
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
bool EndPeriod(Run* run) {
  if (run->Engine.RateEndTime != 0 && time(nullptr) > run->Engine.RateEndTime) {
    puts("Required Rate End Time Reached.");
    fflush(stdout);
    return true;
  }
  run->Engine.PeriodCount = 0;
  run->Engine.PeriodStart = ElapsedMilliseconds();
  return false;
}

}  // namespace

int32_t RandomDelayMilliseconds(int32_t delay) {
  double magnitude = delay < 0 ? -static_cast<double>(delay) : static_cast<double>(delay);
  double wait = magnitude * rand() / 2147483647.0;
  // -D -2147483648 can draw one more than a 32-bit wait holds.
  return wait >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(wait);
}

bool PacedByDelay(const Run* run) {
  return run->Options->Delay != 0 || run->Options->RelativeDelay;
}

int64_t RelativeDelayWait(Run* run, int32_t nowMs) {
  const MQMD* md = run->Message.Descriptor;
  int64_t seconds = 0;
  int64_t centiseconds = 0;
  // Without a put time there is no gap to replay; the reference stays.
  if (MqDateTimeToEpochCs(md->PutDate, md->PutTime, &seconds, &centiseconds) != 0) return 0;
  EngineState* engine = &run->Engine;
  if (!engine->RelativeSet) {
    SetReference(engine, nowMs, centiseconds);
    return 0;
  }
  int64_t offset = (centiseconds - engine->RelativePutCs) * 10;
  if (offset < 0) {
    // The put times went backwards: start replaying from this message.
    SetReference(engine, nowMs, centiseconds);
    return 0;
  }
  int64_t elapsed = MillisecondsBetween(engine->RelativeStartMs, nowMs);
  if (offset <= elapsed) return 0;
  int64_t wait = offset - elapsed;
  // 64-bit so that a gap of days scaled by a percentage cannot overflow.
  int32_t percent = run->Options->Delay;
  if (percent != 100) wait = wait * percent / 100;
  if (wait <= 0) return 0;
  return wait > INT32_MAX ? INT32_MAX : wait;
}

void DelayMessage(Run* run) {
  if (!run->Options->RelativeDelay) {
    if (run->Options->Delay > 0) {
      SleepMilliseconds(run->Options->Delay);
    } else if (run->Options->Delay < 0) {
      SleepMilliseconds(RandomDelayMilliseconds(run->Options->Delay));
    }
    return;
  }
  int64_t wait = RelativeDelayWait(run, ElapsedMilliseconds());
  if (wait <= 0) return;
  if (wait > kAnnounceWaitMs) AnnounceWait(wait);
  SleepMilliseconds(static_cast<int32_t>(wait));
}

int32_t EndFixedRatePeriod(const Run* run, int32_t elapsed) {
  if (elapsed < 0) elapsed = 0;
  int32_t remain = 1000 - elapsed;
  if (remain < 0) {
    printf("Can not achieve %d msgs/second, took %.1f seconds\n", run->Options->Rate, elapsed / 1000.0);
    fflush(stdout);
    return 0;
  }
  printf("%d msgs sent in %d milliseconds\n", run->Options->Rate, elapsed);
  fflush(stdout);
  return remain;
}

int32_t EndTargetRatePeriod(Run* run, int32_t elapsed, int32_t depth) {
  if (elapsed < 0) elapsed = 0;
  int32_t remain = 1000 - elapsed;
  // What the consumer took: what we added plus what was there minus what
  // is left.
  int64_t processed64 = static_cast<int64_t>(run->Engine.PeriodCount) + run->Engine.TargetDepth - depth;
  int32_t processed = processed64 > INT32_MAX   ? INT32_MAX
                      : processed64 < INT32_MIN ? INT32_MIN
                                                : static_cast<int32_t>(processed64);
  if (run->Options->RateDetails) {
    printf("  Period:%d Guess:%d Rate:%d Remain:%d Depth:%d Processed:%d\n", elapsed,
           run->Engine.RateGuess, run->Engine.PeriodCount, run->Engine.TargetDepth, depth, processed);
  }
  run->Engine.TargetDepth = depth;

  double factor = 1.0;
  if (remain > 5) {
    factor = elapsed == 0 ? 2.0 : 1000.0 / elapsed;
  } else if (remain < -5) {
    factor = 1000.0 / elapsed;
    run->Engine.RateSlow = true;
  }
  if (depth > kDeepTargetQueue) {
    factor = Divide(std::trunc(processed * factor), run->Engine.RateGuess);
  } else if (depth < kDeepTargetQueue && run->Engine.RateGuess == 0 && processed != 0) {
    run->Engine.RateGuess = processed;
  }

  if (processed == 0) {
    puts("Target Queue does not appear to be being processed.");
    run->Engine.RateSlow = false;
  } else if (run->Options->RateDetails) {
    printf("%5d msgs sent in %4d milliseconds\n", processed, elapsed);
  } else {
    printf("Message Rate %5d msgs/sec\n", processed);
  }
  fflush(stdout);

  if (run->Engine.RateGuess > kSlowRateGuess && run->Engine.RateSlow) {
    if (factor < 0.95) factor = 0.95;
    if (factor > 1.05) factor = 1.05;
  }
  if (run->Engine.RateGuess <= kSlowRateGuess) run->Engine.RateSlow = false;
  if (run->Options->RateDetails) printf("  Adjust:%.2f\n", factor);
  run->Engine.RateGuess = TruncateToInt32(run->Engine.RateGuess * factor);
  return remain;
}

int PaceByRate(Run* run, bool* leaveCycle) {
  *leaveCycle = false;
  if (run->Options->Rate == 0 || run->Options->Rate < -1) return 0;  // no rate to keep
  run->Engine.PeriodCount++;

  if (run->Options->Rate > 0) {
    if (run->Engine.PeriodCount < run->Options->Rate) return 0;
    int32_t elapsed = MillisecondsBetween(run->Engine.PeriodStart, ElapsedMilliseconds());
    SleepMilliseconds(EndFixedRatePeriod(run, elapsed));
    if (run->Engine.UseSyncpoint) {
      int rc = CommitAll(run);
      if (rc != 0) return rc;
    }
  } else {
    if (static_cast<int64_t>(run->Engine.TargetDepth) + run->Engine.PeriodCount < run->Engine.RateGuess) {
      return 0;
    }
    if (run->Engine.UseSyncpoint) {
      int rc = CommitAll(run);
      if (rc != 0) return rc;
    }
    int32_t elapsed = MillisecondsBetween(run->Engine.PeriodStart, ElapsedMilliseconds());
    int32_t remain = EndTargetRatePeriod(run, elapsed, InquireTargetDepth(run));
    if (remain > 30) {
      if (run->Options->RateDetails) printf("  Sleeping for %d\n", remain);
      fflush(stdout);
      SleepMilliseconds(remain);
    } else if (run->Options->RateDetails) {
      puts("  Sleep skipped");
      fflush(stdout);
    }
  }
  *leaveCycle = EndPeriod(run);
  return 0;
}
