// The millisecond clock and sleep used for pacing and delays, and the
// progress arithmetic of the loop.
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>

#include "zeplo/engine/engine.h"
#include "zeplo/util/banned.h"

int32_t ElapsedMilliseconds() {
  // Process-relative so that the value fits the 32-bit fields that keep
  // it (PeriodStart, ReferenceClock) for about 24 days of run time.
  static int64_t firstMs = -1;
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  int64_t nowMs = static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
  if (firstMs < 0) firstMs = nowMs;
  return static_cast<int32_t>(static_cast<uint32_t>(nowMs - firstMs));
}

void SleepMilliseconds(int32_t milliseconds) {
  if (milliseconds <= 0 || PendingStopSignal() != 0) return;
  // usleep is not required to accept a full second or more, so the whole
  // seconds go to sleep() and only the remainder to usleep().
  unsigned int seconds = static_cast<unsigned int>(milliseconds / 1000);
  useconds_t micros = static_cast<useconds_t>((milliseconds % 1000) * 1000);
  // A stop signal interrupts either sleep: the caller's next message
  // boundary then ends the run.
  if (seconds > 0 && sleep(seconds) != 0) return;
  if (micros > 0 && PendingStopSignal() == 0) usleep(micros);
}

int32_t ProgressPercent(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  // done * 100 could overflow only for absurd totals; divide first then.
  int64_t percent = done > INT64_MAX / 100 ? done / (total / 100 + 1) : done * 100 / total;
  return percent > 99 ? 99 : static_cast<int32_t>(percent);
}

int64_t ProgressEtaSeconds(int32_t percent, int64_t elapsedSeconds) {
  if (percent <= 0) return 0;
  double eta = (100.0 - percent) / percent * static_cast<double>(elapsedSeconds);
  return static_cast<int64_t>(eta);
}
