// Messages and the progress line while a log is read, and the length check
// of a rebuilt message.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "zeplo/logreplay/logreplay_internal.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int kIncompleteMessage = 2242;  // MQRC_INCOMPLETE_MSG

void Backspaces(int32_t n) {
  static const char kRun[] = "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b";
  while (n > 0) {
    int32_t k = n < 16 ? n : 16;
    fwrite(kRun, 1, static_cast<size_t>(k), stderr);
    n -= k;
  }
}

}  // namespace

void ShowLogProgress(Run* run, LogReplay* lr) {
  char text[160];
  int n = snprintf(text, sizeof text, "DMPMQLOG Records : Line:%u Records:%u Messages (%u, %u, %u)",
                   static_cast<unsigned>(lr->LineNumber), lr->Records, lr->PutMessages,
                   lr->QueueMessages, static_cast<unsigned>(run->Counters.WrittenCount));
  if (n < 0) return;
  if (lr->ProgressShowing) Backspaces(lr->ProgressLength);
  fputs(text, stderr);
  fflush(stderr);
  lr->ProgressShowing = true;
  lr->ProgressLength = n < static_cast<int>(sizeof text) ? n : static_cast<int>(sizeof text) - 1;
}

void LogTick(Run* run, LogReplay* lr) {
  if (++lr->Ticks % kProgressTicks == 0) ShowLogProgress(run, lr);
}

void ReportMessage(Run* run, const char* format, ...) {
  LogReplay* lr = run->Log;  // null before the source is opened
  if (lr != nullptr && lr->ProgressShowing) {
    // The message goes below the progress line, which stays as it is now.
    ShowLogProgress(run, lr);
    fputc('\n', stderr);
    lr->ProgressShowing = false;
    lr->ProgressLength = 0;
  }
  if (lr != nullptr && lr->FromFile) fprintf(stderr, "Line No. %d: ", static_cast<int>(lr->LineNumber));
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fflush(stderr);
}

int CheckLogMessage(Run* run) {
  MessageBuffer& m = run->Message;
  // A block of the queue manager's own may lead the data: "ZRFP", the
  // version bytes 01 00 00 01, then the block's length.
  if (m.DataLength >= 12 && memcmp(m.Cursor, "ZRFP", 4) == 0) {
    static const unsigned char kVersion[4] = {1, 0, 0, 1};
    int32_t blockLength;
    memcpy(&blockLength, m.Cursor + 8, sizeof blockLength);
    if (memcmp(m.Cursor + 4, kVersion, 4) == 0 && blockLength > 0 && blockLength <= m.DataLength) {
      m.Cursor += blockLength;
      m.DataLength -= blockLength;
    }
  }
  if (m.DataLength != m.ExpectedLength) {
    // The message number is the log's count of put records, 0 before any.
    int32_t number = run->Log != nullptr ? static_cast<int32_t>(run->Log->PutMessages) : 0;
    ReportMessage(run, "Can not construct message %d, message length does not match.\n",
                  static_cast<int>(number));
    return kIncompleteMessage;
  }
  return 0;
}
