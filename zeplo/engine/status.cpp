// The -vs/-vt status line.
#include <cstdio>
#include <ctime>

#include "zeplo/engine/engine.h"
#include "zeplo/util/banned.h"

void PrintStatusLine(RunOptions* options, int64_t now) {
  options->ThruputCount += options->StatusCount;
  char clock[16] = "";
  time_t t = static_cast<time_t>(now);
  struct tm local;
  if (localtime_r(&t, &local) != nullptr) {
    strftime(clock, sizeof clock, "%H:%M:%S", &local);
  }
  if (now != options->ThruputTime) {
    double thruput = static_cast<double>(options->ThruputCount) /
                     static_cast<double>(now - options->ThruputTime);
    fprintf(stderr, "%.8s> Status - Read:%10d Written:%10d Thruput:%8.1f msg/sec\n", clock,
            static_cast<int>(options->ReadCount), static_cast<int>(options->WrittenCount), thruput);
    options->ThruputCount = 0;
    options->ThruputTime = now;
  } else {
    // Two lines in one second: no rate can be given, keep accumulating.
    fprintf(stderr, "%.8s> Status - Read:%10d Written:%10d Thruput:       * msg/sec\n", clock,
            static_cast<int>(options->ReadCount), static_cast<int>(options->WrittenCount));
  }
  fflush(stderr);
  options->StatusTime = now;
  options->StatusCount = 0;
}
