// The -vs/-vt status line.
#include <cstdio>
#include <ctime>

#include "zeplo/engine/engine.h"
#include "zeplo/util/banned.h"

void PrintStatusLine(Run* run, int64_t now) {
  run->Engine.ThruputCount += run->Engine.StatusCount;
  char clock[16] = "";
  time_t t = static_cast<time_t>(now);
  struct tm local;
  if (localtime_r(&t, &local) != nullptr) {
    strftime(clock, sizeof clock, "%H:%M:%S", &local);
  }
  if (now != run->Engine.ThruputTime) {
    double thruput = static_cast<double>(run->Engine.ThruputCount) /
                     static_cast<double>(now - run->Engine.ThruputTime);
    fprintf(stderr, "%.8s> Status - Read:%10d Written:%10d Thruput:%8.1f msg/sec\n", clock,
            static_cast<int>(run->Counters.ReadCount), static_cast<int>(run->Counters.WrittenCount), thruput);
    run->Engine.ThruputCount = 0;
    run->Engine.ThruputTime = now;
  } else {
    // Two lines in one second: no rate can be given, keep accumulating.
    fprintf(stderr, "%.8s> Status - Read:%10d Written:%10d Thruput:       * msg/sec\n", clock,
            static_cast<int>(run->Counters.ReadCount), static_cast<int>(run->Counters.WrittenCount));
  }
  fflush(stderr);
  run->Engine.StatusTime = now;
  run->Engine.StatusCount = 0;
}
