// The progress line: a short text rewritten in place on standard error
// while a file is loaded or a queue unloaded at a terminal.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

// Writes `n` copies of `c` to standard error.
void Repeat(char c, int32_t n) {
  char run[64];
  std::memset(run, c, sizeof(run));
  while (n > 0) {
    int32_t k = n < static_cast<int32_t>(sizeof(run)) ? n : static_cast<int32_t>(sizeof(run));
    std::fwrite(run, 1, static_cast<size_t>(k), stderr);
    n -= k;
  }
}

// Blanks out the text on screen and leaves the cursor where it began.
void Erase(Run* run) {
  int32_t n = run->Files.ProgressTextLength;
  Repeat('\b', n);
  Repeat(' ', n);
  Repeat('\b', n);
  run->Files.ProgressTextLength = 0;
}

}  // namespace

void StartProgress(Run* run, int64_t total) {
  EndProgress(run, false);
  run->Files.ProgressTotal = 0;
  // Quiet runs show no percentage, and so have no progress line to end
  // with a newline; a counting pass still reports.
  if (!run->Options->Interactive || (run->Options->Quiet && !run->Files.CountingPass)) return;
  run->Files.ProgressTotal = total;
  run->Files.ProgressStart = static_cast<int64_t>(std::time(nullptr));
  run->Files.ProgressLastPercent = -1;
  run->Files.ProgressLastTime = 0;
  run->Files.ProgressTextLength = 0;
  run->Files.ProgressActive = true;
}

void ShowProgress(Run* run, const char* text) {
  int32_t length = static_cast<int32_t>(std::strlen(text));
  int32_t previous = run->Files.ProgressTextLength;
  if (previous > length) {
    Repeat('\b', previous - length);
    Repeat(' ', previous - length);
  }
  Repeat('\b', previous);
  std::fputs(text, stderr);
  run->Files.ProgressTextLength = length;
  std::fflush(stderr);
}

void EndProgress(Run* run, bool newline) {
  if (!run->Files.ProgressActive) return;
  if (run->Files.CountingPass) {
    char text[96];
    int n = std::snprintf(text, sizeof(text), ": %d messages found", run->Files.FoundCount);
    if (run->Options->PropStartDelimiter[0] != '\0' && n >= 0 && static_cast<size_t>(n) < sizeof(text)) {
      std::snprintf(text + n, sizeof(text) - static_cast<size_t>(n), " (%d with properties)",
                    run->Files.FoundWithPropsCount);
    }
    ShowProgress(run, text);
    run->Files.FoundCount = 0;
    run->Files.FoundWithPropsCount = 0;
  } else {
    Erase(run);
  }
  if (newline) std::fputc('\n', stderr);
  std::fflush(stderr);
  run->Files.ProgressActive = false;
  run->Files.ProgressTextLength = 0;
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

void UpdateProgress(Run* run, int64_t done) {
  FileState& f = run->Files;
  if (f.ProgressTotal == 0 || !run->Options->Interactive) return;
  int32_t percent = ProgressPercent(done, f.ProgressTotal);
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (percent == f.ProgressLastPercent || now == f.ProgressLastTime) return;
  f.ProgressLastPercent = percent;
  f.ProgressLastTime = now;
  char text[64];
  FormatProgressText(percent, ProgressEtaSeconds(percent, now - f.ProgressStart), text,
                     sizeof text);
  ShowProgress(run, text);
}

void FormatProgressText(int32_t percent, int64_t etaSeconds, char* text, size_t textSize) {
  if (etaSeconds > 60) {
    std::snprintf(text, textSize, ": %2d%%  ETA:%lld mins", percent,
                  static_cast<long long>(etaSeconds / 60));
  } else {
    std::snprintf(text, textSize, ": %2d%%  ETA:%lld secs", percent,
                  static_cast<long long>(etaSeconds));
  }
}
