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
int SkipToNextRecord(Run* run, LogReplay* lr) {
  while (ReadLogLine(run, lr)) {
    if (LineStarts(lr, "LOG RECORD")) return ParseLsn(run, lr, kLsnColumn, lr->CurrentLsn);
  }
  return 0;
}

// The end of the log: the progress line a last time, then the result.
int EndOfLog(Run* run, LogReplay* lr) {
  // Parts read since the last message belong to no message that will
  // come: their data is lost to this replay, which must say so.
  CheckStrayParts(run, lr);
  run->StopRequested = true;
  ShowLogProgress(run, lr);
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

int FindFirstLogRecord(Run* run) {
  LogReplay* lr = run->Log;
  while (ReadLogLine(run, lr)) {
    if (!LineStarts(lr, "LOG RECORD")) continue;
    lr->Records = 1;
    return ParseLsn(run, lr, kLsnColumn, lr->CurrentLsn);
  }
  return kNoLogRecords;
}

int PrepareLogReader(Run* run) {
  int rc = FindFirstLogRecord(run);
  if (rc != 0) {
    ReportMessage(run, "No MQ log records found.\n");
    if (run->Log->FromFile)
      ReportMessage(run, "Are you sure file '%s' is the output from DMPMQLOG ?\n",
                    run->Options->LogPath);
  }
  return rc;
}

int NextLogMessage(Run* run) {
  LogReplay* lr = run->Log;
  CheckStrayParts(run, lr);
  for (;;) {
    LogTick(run, lr);
    if (!ReadLogLine(run, lr)) return EndOfLog(run, lr);
    // A record without a LogRecdType line still moves the current LSN on.
    if (LineStarts(lr, "LOG RECORD")) {
      int rc = ParseLsn(run, lr, kLsnColumn, lr->CurrentLsn);
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
      rc = ReadPutMessageRecord(run, lr, &built);
    } else if (TypeIs(lr, "AQM Put Part")) {
      rc = ReadPutPartRecord(run, lr);
    }
    if (rc == 0) rc = SkipToNextRecord(run, lr);
    if (rc != 0 || built) return rc;
  }
}
