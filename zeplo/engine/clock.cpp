// The millisecond clock and sleep used for pacing and delays.
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>

#include "zeplo/engine/engine.h"
#include "zeplo/util/banned.h"

int32_t ElapsedMilliseconds() {
  // Process-relative so that the value fits the 32-bit fields that keep
  // it (PeriodStart, RelativeStartMs) for about 24 days of run time. The
  // origin is the process's, not a run's: it is set once and never reset.
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
