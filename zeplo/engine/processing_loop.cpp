// The processing loop: set-up checks, source preparation, the choice of
// syncpoint, the read-select-deliver cycle with status and progress, and
// the resolution of the unit of work however the cycle ends.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/logreplay/logreplay.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/banned.h"

// The sources this build reads are an input queue (or several, consumed
// asynchronously), a message file, a browse listing, a delimited file and
// a queue manager's log.

namespace {

// The next file of a numbered input sequence: 0 with InputStream set when
// one opened, 0 without at the normal end of the sequence, or the failure
// (a gap in the numbers, a file that cannot be read).
int OpenNextInputFile(Run* run) {
  run->Files.FinishedInputBytes += run->Files.InputFileBytes;
  CloseInputFile(run);
  run->Files.InputFileBytes = 0;
  return OpenInputFile(run);
}

int ReadFromFile(Run* run) {
  for (;;) {
    int rc = run->Options->NonNative ? ReadDelimitedMessage(run) : ReadInputFileMessage(run);
    if (rc != 0 || !run->StopRequested || !run->Options->InputFileHasInserts) return rc;
    rc = OpenNextInputFile(run);
    if (rc != 0 || run->Files.InputStream == nullptr) return rc;  // StopRequested stays set
    ResetDelimitedFile(run);
    run->StopRequested = false;
  }
}

// What the progress line measures: the bytes of a file source, or the
// messages written from a queue.
int64_t ProgressDone(const Run* run, const QueueElement* inputQueue) {
  if (inputQueue != nullptr) return run->Counters.WrittenCount;
  const FileState& f = run->Files;
  return f.FinishedInputBytes + (f.InputStream != nullptr ? f.InputFileBytes : 0);
}

// The preliminary count of a delimited file: every record read and
// counted, nothing built or delivered. The input is closed afterwards, so
// that the real pass opens the first file of the input again.
int CountDelimitedFile(Run* run) {
  run->Files.CountingPass = true;
  run->Files.FoundCount = 0;
  run->Files.FoundWithPropsCount = 0;
  int rc = 0;
  while (rc == 0 && !run->StopRequested) {
    rc = ReadNextMessage(run, nullptr);
    if (rc != 0 || run->StopRequested) break;
    run->Counters.ReadCount++;
    if (run->Files.ProgressTotal != 0) UpdateProgress(run, ProgressDone(run, nullptr));
  }
  run->StopRequested = false;
  run->Files.FinishedInputBytes += run->Files.InputFileBytes;
  CloseInputFile(run);
  ResetDelimitedFile(run);
  return rc;
}

// Prepares a file source. Returns 0 to go on, 1 when the call is over
// with 0 (an input holding nothing, or a preliminary count made), or an
// error code.
int PrepareSource(Run* run, QueueElement* inputQueue) {
  if (run->Options->LogMode) return PrepareLogReader(run);
  if (inputQueue != nullptr) return 0;
  if (run->Options->NonNative) {
    int rc = CheckDelimiters(run);
    if (rc != 0) return rc;
    if (run->Settings.PreliminaryCount) {
      rc = CountDelimitedFile(run);
      return rc != 0 ? rc : 1;
    }
    run->Counters.ReadCount = 0;
    return 0;
  }
  if (run->Options->InputFile[0] != '\0' || run->Files.InputStream != nullptr) {
    bool listing = false;  // the reader keeps the kind of file it found
    bool empty = false;
    int rc = PrepareMessageFile(run, &listing, &empty);
    if (rc != 0) return rc;
    if (empty) return 1;
  }
  return 0;
}

// The read-select-deliver cycle. Returns the code that ended it.
int RunCycle(Run* run, QueueElement* inputQueue) {
  for (;;) {
    // The message boundary: nothing of a message is in hand.
    if (PendingStopSignal() != 0) return StopForSignal(run);
    run->Counters.MessageIndex++;
    if (run->Options->StatusReports) {
      int64_t now = time(nullptr);
      if (run->Engine.StatusCount >= run->Options->StatusEveryMessages ||
          run->Engine.StatusTime + run->Options->StatusEverySeconds < now) {
        PrintStatusLine(run, now);
      }
    }
    int rc = ReadNextMessage(run, inputQueue);
    if (rc != 0 || run->StopRequested) return rc;
    rc = ProcessMessage(run, inputQueue);
    if (rc != 0 || run->StopRequested) return rc;
    if (run->Options->Rate != 0) {
      bool leave = false;
      rc = PaceByRate(run, &leave);
      if (rc != 0 || leave) return rc;
    }
    if (run->Files.ProgressTotal != 0) UpdateProgress(run, ProgressDone(run, inputQueue));
  }
}

// The loop's refusals before anything is read. Returns 0 or the code.
int CheckLoopInputs(Run* run, const QueueElement* inputQueue) {
  const RunOptions* o = run->Options;
  if ((o->Context == ContextMode::PassAll || o->Context == ContextMode::PassIdentity) &&
      inputQueue == nullptr) {
    return SetExitMessage(run, MQRC_CONTEXT_NOT_AVAILABLE,
                          "An input queue must be supplied to pass context");
  }
  if ((o->AsciiLines || o->AsciiColumns || o->WriteIndex || o->ShowTimeOnQueue || o->Summary ||
       o->Printable) &&
      o->OutputFile[0] == '\0') {
    return SetExitMessage(run, MQRC_OPTIONS_ERROR, "Display options require an output file");
  }
  return 0;
}

// Starts the engine's per-call state: syncpoint, unit, status and rate.
void StartLoopState(Run* run, const QueueElement* inputQueue) {
  const RunOptions* o = run->Options;
  EngineState& e = run->Engine;
  e.UseSyncpoint = o->TransactionLimit != 0 &&
                   ((inputQueue != nullptr && o->DestructiveGet) || o->OutputQueueName[0] != '\0');
  e.UowMessageCount = 0;
  e.UnflushedCount = 0;
  run->Counters.MessageIndex = 0;
  run->Counters.SelectedCount = 0;
  e.LastMessageTime = time(nullptr);
  e.StatusCount = 0;
  e.ThruputCount = 0;
  e.StatusTime = o->NowSeconds != 0 ? o->NowSeconds : e.LastMessageTime;
  e.ThruputTime = e.StatusTime;
  if (o->Rate != 0) {
    e.PeriodStart = ElapsedMilliseconds();
    e.PeriodCount = 0;
    e.RateGuess = 1000;
    e.RateSlow = false;
    if (o->Rate == -1) e.TargetDepth = InquireTargetDepth(run);
    e.RateEndTime = o->RateDuration > 0 ? e.LastMessageTime + o->RateDuration : 0;
  }
}

}  // namespace

int ReadNextMessage(Run* run, QueueElement* inputQueue) {
  int rc = run->Options->LogMode    ? NextLogMessage(run)
           : inputQueue != nullptr ? GetQueueMessage(run, inputQueue, false)
                                   : ReadFromFile(run);
  // A delimited record is handed on where it lies (in the file buffer, or
  // assembled with its properties); every other reader fills the storage.
  if (run->Options->LogMode || inputQueue != nullptr || !run->Options->NonNative)
    run->Message.Cursor = run->Message.Storage;
  return rc;
}

int RunProcessingLoop(Run* run, QueueElement* inputQueue) {
  int rc = CheckLoopInputs(run, inputQueue);
  bool cycled = false;
  if (rc != 0) return rc;

  run->Message.Descriptor = &run->Message.OwnDescriptor;
  rc = GrowMessageStorage(run, run->Settings.InitialBufferSize);
  if (rc == 0) rc = AllocateLineStorage(run, 1);
  if (rc != 0) goto done;

  rc = PrepareSource(run, inputQueue);
  if (rc == 1) {
    rc = 0;
    goto done;
  }
  if (rc != 0) goto done;

  if (run->Files.OutputStream != nullptr) {
    rc = WriteFileHeader(run, inputQueue != nullptr ? inputQueue->Name : nullptr);
    if (rc != 0) goto done;
  }
  StartLoopState(run, inputQueue);

  // A move into a file records where the file stands, so that a backout
  // can take the messages of its unit out of the file again.
  if (inputQueue != nullptr && run->Options->DestructiveGet &&
      run->Options->OutputFile[0] != '\0') {
    rc = MarkOutputCommitted(run);
    if (rc != 0) goto done;
  }

  cycled = true;
  if (inputQueue != nullptr && run->Engine.Input.Count >= 2) {
    rc = ConsumeQueues(run);
  } else {
    rc = RunCycle(run, inputQueue);
  }

done:
  if (cycled && run->Engine.UseSyncpoint) {
    if (rc == 0 && run->Engine.UowMessageCount > 0) {
      rc = FlushOutputForCommit(run);
      if (rc == 0) rc = CommitAll(run);
    }
    // Whatever failed, the last flush and commit included, the open unit
    // goes back: a file write that never reached the disk or a commit that
    // did not happen must not leave got messages to a later commit. The
    // reason stays the run's code; a failed backout only adds its text
    // when none is set, and leaves the unit counted for the disconnect.
    if (rc != 0) BackoutAll(run);
  }
  ReleaseUnitRecords(run);
  ReleaseMessageStorage(run);
  ReleaseLineStorage(run);
  ReleaseDelimitedFile(run);
  return rc;
}
