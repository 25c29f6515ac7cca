// The record loop: from one "AQM Put Message" record of the chosen queue to
// the next, keeping the parts met on the way, with the progress line.
#include <cstdio>

#include "zeplo/logreplay/logreplay_internal.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int kNoLogRecords = 2142;  // MQRC_HEADER_ERROR
constexpr int kSystemError = 2195;   // MQRC_UNEXPECTED_ERROR

// Reads on to the next "LOG RECORD" line and takes its LSN as the current
// one. The end of the input is not an error here: the next read finds it.
int SkipToNextRecord(RunOptions* options, LogReplay* lr) {
  while (ReadLogLine(options, lr)) {
    if (LineStarts(lr, "LOG RECORD")) return ParseLsn(options, lr, kLsnColumn, lr->CurrentLsn);
  }
  return 0;
}

// The end of the log: the progress line a last time, then the result.
int EndOfLog(RunOptions* options, LogReplay* lr) {
  // Parts read since the last message belong to no message that will
  // come: their data is lost to this replay, which must say so.
  CheckStrayParts(options, lr);
  options->StopRequested = true;
  ShowLogProgress(options, lr);
  fputs("\n\n", stderr);
  fflush(stderr);
  lr->ProgressShowing = false;
  lr->ProgressLength = 0;
  if (lr->PendingResult != 0) return lr->PendingResult;
  // Messages the formatter never printed are not in this replay: a run
  // that ends here must not look complete.
  return lr->SourceFailed ? kSystemError : 0;
}

bool TypeIs(const LogReplay* lr, const char* type) {
  return lr->LineLength > kValueColumn && strncmp(lr->Line + kValueColumn, type, strlen(type)) == 0;
}

}  // namespace

int FindFirstLogRecord(RunOptions* options) {
  LogReplay* lr = LogReplayState();
  while (ReadLogLine(options, lr)) {
    if (!LineStarts(lr, "LOG RECORD")) continue;
    lr->Records = 1;
    return ParseLsn(options, lr, kLsnColumn, lr->CurrentLsn);
  }
  return kNoLogRecords;
}

int PrepareLogReader(RunOptions* options) {
  int rc = FindFirstLogRecord(options);
  if (rc != 0) {
    ReportMessage(options, "No MQ log records found.\n");
    if (LogReplayState()->FromFile)
      ReportMessage(options, "Are you sure file '%s' is the output from DMPMQLOG ?\n",
                    options->LogPath);
  }
  return rc;
}

int NextLogMessage(RunOptions* options) {
  LogReplay* lr = LogReplayState();
  CheckStrayParts(options, lr);
  for (;;) {
    LogTick(options, lr);
    if (!ReadLogLine(options, lr)) return EndOfLog(options, lr);
    // A record without a LogRecdType line still moves the current LSN on.
    if (LineStarts(lr, "LOG RECORD")) {
      int rc = ParseLsn(options, lr, kLsnColumn, lr->CurrentLsn);
      if (rc != 0) return rc;
      continue;
    }
    if (!LineStarts(lr, "LogRecdType")) continue;
    lr->Records++;
    bool built = false;
    int rc = 0;
    if (TypeIs(lr, "AQM Put Message")) {
      lr->PutMessages++;
      lr->PendingResult = 0;  // parts reported unused may belong to a later one
      rc = ReadPutMessageRecord(options, lr, &built);
    } else if (TypeIs(lr, "AQM Put Part")) {
      rc = ReadPutPartRecord(options, lr);
    }
    if (rc == 0) rc = SkipToNextRecord(options, lr);
    if (rc != 0 || built) return rc;
  }
}
