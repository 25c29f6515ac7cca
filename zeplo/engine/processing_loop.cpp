// The processing loop: set-up checks, source preparation, the choice of
// syncpoint, the read-select-deliver cycle with status and progress, and
// the resolution of the unit of work however the cycle ends.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/banned.h"

// The sources this build reads are an input queue, a message file and a
// browse listing. The run driver refuses the others (log replay, delimited
// files, several queues consumed at once) before the loop is called; the
// places where their readers join are marked below.

namespace {

// Whether the source of this loop call is a browse-sample listing; decided
// by the input file's first line, kept for the reads that follow.
bool gSourceIsListing = false;

// The next file of a numbered input sequence. Returns 0 with *opened
// telling whether one opened, or the code of a refused name.
int OpenNextInputFile(RunOptions* options, bool* opened) {
  options->FinishedInputBytes += options->InputFileBytes;
  CloseInputFile(options);
  options->InputFileBytes = 0;
  int rc = OpenRunFiles(options, false, true, false);
  *opened = rc == 0 && options->InputStream != nullptr;
  // A missing later file is the normal end of the sequence and leaves no
  // text; a text (a name that repeats the file just read) is a failure.
  return rc != 0 && options->ExitMessage[0] != '\0' ? rc : 0;
}

int ReadFromFile(RunOptions* options) {
  for (;;) {
    // A delimited file's reader goes here, before the native reader.
    int rc = gSourceIsListing ? ReadBrowseListingMessage(options) : ReadMessageFileMessage(options);
    if (rc != 0 || !options->StopRequested || !options->InputFileHasInserts) return rc;
    bool opened = false;
    rc = OpenNextInputFile(options, &opened);
    if (rc != 0 || !opened) return rc;  // StopRequested stays set
    options->StopRequested = false;
  }
}

// Prepares a file source. Returns 0 to go on, 1 when the call is over
// with 0 (an input holding nothing), or an error code.
int PrepareSource(RunOptions* options, QueueElement* inputQueue) {
  gSourceIsListing = false;
  // The log reader and a delimited file (with its counting pass) are
  // prepared here, ahead of the message file.
  if (inputQueue != nullptr) return 0;
  if (options->InputFile[0] != '\0' || options->InputStream != nullptr) {
    bool empty = false;
    int rc = PrepareMessageFile(options, &gSourceIsListing, &empty);
    if (rc != 0) return rc;
    if (empty) return 1;
  }
  return 0;
}

void ShowLoopProgress(RunOptions* options, QueueElement* inputQueue, bool interactive) {
  int64_t done;
  if (inputQueue == nullptr) {  // a file source: its bytes
    done = options->FinishedInputBytes +
           (options->InputStream != nullptr ? options->InputFileBytes : 0);
  } else {
    done = options->WrittenCount;
  }
  int32_t percent = ProgressPercent(done, options->ProgressTotal);
  int64_t now = time(nullptr);
  if (percent == options->ProgressLastPercent || now == options->ProgressLastTime || !interactive) {
    return;
  }
  options->ProgressLastPercent = percent;
  options->ProgressLastTime = now;
  char text[64];
  FormatProgressText(percent, ProgressEtaSeconds(percent, now - options->ProgressStart), text,
                     sizeof text);
  ShowProgress(options, text);
}

// The read-select-deliver cycle. Returns the code that ended it.
int RunCycle(RunOptions* options, QueueElement* inputQueue, bool interactive) {
  for (;;) {
    // The message boundary: nothing of a message is in hand.
    if (PendingStopSignal() != 0) return StopForSignal(options);
    options->MessageIndex++;
    if (options->StatusReports) {
      int64_t now = time(nullptr);
      if (options->StatusCount >= options->StatusEveryMessages ||
          options->StatusTime + options->StatusEverySeconds < now) {
        PrintStatusLine(options, now);
      }
    }
    int rc = ReadNextMessage(options, inputQueue, interactive);
    if (rc != 0 || options->StopRequested) return rc;
    rc = ProcessMessage(options, inputQueue, interactive);
    if (rc != 0 || options->StopRequested) return rc;
    if (options->Rate != 0) {
      bool leave = false;
      rc = PaceByRate(options, &leave);
      if (rc != 0 || leave) return rc;
    }
    if (options->ProgressTotal != 0) ShowLoopProgress(options, inputQueue, interactive);
  }
}

}  // namespace

int ReadNextMessage(RunOptions* options, QueueElement* inputQueue, bool interactive) {
  (void)interactive;
  // The log reader comes first here once it is built.
  int rc =
      inputQueue != nullptr ? GetQueueMessage(options, inputQueue, false) : ReadFromFile(options);
  options->Message.Cursor = options->Message.Storage;
  return rc;
}

int RunProcessingLoop(RunOptions* options, QueueElement* inputQueue, bool interactive) {
  int rc = 0;
  bool cycled = false;

  if (options->DataWidth <= 0) {
    options->DataWidth = 25;
  } else if (options->DataWidth < 10) {
    options->DataWidth = 10;
  }
  if ((options->Context == ContextMode::PassAll || options->Context == ContextMode::PassIdentity) &&
      inputQueue == nullptr) {
    return SetExitMessage(options, MQRC_CONTEXT_NOT_AVAILABLE,
                          "An input queue must be supplied to pass context");
  }
  if ((options->AsciiLines || options->AsciiColumns || options->WriteIndex ||
       options->ShowTimeOnQueue || options->Summary || options->Printable) &&
      options->OutputFile[0] == '\0') {
    return SetExitMessage(options, MQRC_OPTIONS_ERROR, "Display options require an output file");
  }

  options->Message.Descriptor = &options->Message.OwnDescriptor;
  rc = GrowMessageStorage(options, options->InitialBufferSize);
  if (rc == 0) rc = AllocateLineStorage(options, 1);
  if (rc != 0) goto done;

  rc = PrepareSource(options, inputQueue);
  if (rc == 1) {
    rc = 0;
    goto done;
  }
  if (rc != 0) goto done;

  if (options->OutputStream != nullptr) {
    rc = WriteFileHeader(options, inputQueue != nullptr ? inputQueue->Name : nullptr);
    if (rc != 0) goto done;
  }

  options->UseSyncpoint =
      options->TransactionLimit != 0 &&
      ((inputQueue != nullptr && options->DestructiveGet) || options->OutputQueueName[0] != '\0');
  options->UowMessageCount = 0;
  options->UnflushedCount = 0;
  options->MessageIndex = 0;
  options->SelectedCount = 0;
  options->LastMessageTime = time(nullptr);
  options->StatusCount = 0;
  options->ThruputCount = 0;
  options->StatusTime = options->NowSeconds != 0 ? options->NowSeconds : options->LastMessageTime;
  options->ThruputTime = options->StatusTime;
  options->ProgressLastPercent = -1;

  if (options->Rate != 0) {
    options->PeriodStart = ElapsedMilliseconds();
    options->PeriodCount = 0;
    options->RateGuess = 1000;
    options->RateSlow = false;
    if (options->Rate == -1) options->TargetDepth = InquireTargetDepth(options);
    options->RateEndTime =
        options->RateDuration > 0 ? options->LastMessageTime + options->RateDuration : 0;
  }

  // A move into a file records where the file stands, so that a backout
  // can take the messages of its unit out of the file again.
  if (inputQueue != nullptr && options->DestructiveGet && options->OutputFile[0] != '\0') {
    rc = MarkOutputCommitted(options);
    if (rc != 0) goto done;
  }

  cycled = true;
  // Two or more input queues would be consumed asynchronously here instead.
  rc = RunCycle(options, inputQueue, interactive);

done:
  if (cycled && options->UseSyncpoint) {
    if (rc == 0 && options->UowMessageCount > 0) {
      rc = FlushOutputForCommit(options);
      if (rc == 0) rc = CommitAll(options);
    }
    // Whatever failed, the last flush and commit included, the open unit
    // goes back: a file write that never reached the disk or a commit that
    // did not happen must not leave got messages to a later commit. The
    // reason stays the run's code; a failed backout only adds its text
    // when none is set, and leaves the unit counted for the disconnect.
    if (rc != 0) BackoutAll(options);
  }
  ReleaseUnitRecords(options);
  ReleaseMessageStorage(options);
  ReleaseLineStorage(options);
  return rc;
}
