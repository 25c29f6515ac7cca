// The progress line: a short text rewritten in place on standard error
// while a file is loaded or a queue unloaded at a terminal.
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
void Erase(RunOptions* opts) {
  int32_t n = opts->ProgressTextLength;
  Repeat('\b', n);
  Repeat(' ', n);
  Repeat('\b', n);
  opts->ProgressTextLength = 0;
}

}  // namespace

void StartProgress(RunOptions* opts, int64_t total) {
  EndProgress(opts, false);
  opts->ProgressTotal = 0;
  if (!opts->Interactive) return;
  // Quiet runs show no percentage, but a counting pass still reports.
  opts->ProgressTotal = opts->Quiet && !opts->CountingPass ? 0 : total;
  opts->ProgressStart = static_cast<int64_t>(std::time(nullptr));
  opts->ProgressLastPercent = -1;
  opts->ProgressLastTime = 0;
  opts->ProgressTextLength = 0;
  opts->ProgressActive = true;
}

void ShowProgress(RunOptions* opts, const char* text) {
  int32_t length = static_cast<int32_t>(std::strlen(text));
  int32_t previous = opts->ProgressTextLength;
  if (previous > length) {
    Repeat('\b', previous - length);
    Repeat(' ', previous - length);
  }
  Repeat('\b', previous);
  std::fputs(text, stderr);
  opts->ProgressTextLength = length;
  std::fflush(stderr);
}

void EndProgress(RunOptions* opts, bool newline) {
  if (!opts->ProgressActive) return;
  if (opts->CountingPass) {
    char text[96];
    int n = std::snprintf(text, sizeof(text), ": %d messages found", opts->FoundCount);
    if (opts->PropStartDelimiter[0] != '\0' && n >= 0 && static_cast<size_t>(n) < sizeof(text)) {
      std::snprintf(text + n, sizeof(text) - static_cast<size_t>(n), " (%d with properties)",
                    opts->FoundWithPropsCount);
    }
    ShowProgress(opts, text);
    opts->FoundCount = 0;
    opts->FoundWithPropsCount = 0;
  } else {
    Erase(opts);
  }
  if (newline) std::fputc('\n', stderr);
  std::fflush(stderr);
  opts->ProgressActive = false;
  opts->ProgressTextLength = 0;
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
