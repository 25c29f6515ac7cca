// The run from start to exit: options, checks, connections, reports, the
// choice of mode, the opens, the processing loop, the final report and the
// disconnects. The return code is the process exit status.
//
// Every path that got as far as connecting leaves through the disconnect,
// output slot first.
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/driver/driver.h"
#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/generic/generic.h"
#include "zeplo/logreplay/logreplay.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// True when the run has no output of any kind (it only reads, counts or
// removes messages).
bool NoOutputAtAll(const Run* run) {
  return run->Engine.Output.Hobj == MQHO_UNUSABLE_HOBJ && run->Options->OutputList == nullptr &&
         run->Options->OutputFile[0] == '\0';
}

void PrintCountLine(const char* label, int32_t files, int64_t messages, uint64_t bytes) {
  char line[160];
  FormatCountLine(label, files, messages, bytes, line, sizeof line);
  fputs(line, stderr);  // one write per line
}

// Opens the steps between connecting and the processing loop. Returns 0 to
// run the loop; otherwise the run's code, with *quiet set when the run ends
// without the final report.
int PrepareRun(Run* run, bool* quiet) {
  *quiet = false;
  const RunOptions* options = run->Options;
  if (!options->Quiet) {
    if (options->SelectionActive || options->SelectByMsgId || options->SelectByCorrelId ||
        options->SelectByGroupId)
      PrintSelectionReport(options, options->RangeReport);
    if (options->LimitsActive) PrintLimitsReport(options);
  }

  // The generic modes print their own counts and end the run.
  if (strchr(run->Options->OutputFile, '*') != nullptr) {
    *quiet = true;
    return GenericUnload(run);
  }
  if (strchr(run->Options->InputFile, '*') != nullptr) {
    *quiet = true;
    return GenericLoad(run);
  }

  if (run->Options->LogMode) {
    if (run->Options->InputList != nullptr && run->Options->InputList->Count > 1) {
      fputs("Only one queue name is allowed in log mode.\n", stderr);
      return kOptionsRefused;
    }
    run->Settings.InitialBufferSize = kLogMessageStorage;
    char queue[kMqNameLength + 1] = "";
    if (HasInputQueues(run->Options))
      CopyMqName(queue, run->Options->InputList->Entries[0].QueueName, kMqNameLength);
    int rc = OpenLogSource(run, queue);
    if (rc != 0) return rc;
  }

  // The log stands in for the input queue, which is never opened.
  if (run->Options->InputList == nullptr || run->Options->LogMode) {
    run->Settings.SelectionActive = false;
  } else {
    int rc = OpenInputQueues(run);
    if (rc != 0) return rc;
  }

  // The queue file sizes for the summary; nothing in the inquiry ends the run.
  if (run->Options->Summary && !run->Options->SummaryNoQStatus)
    InquireQueueStatus(run, run->Engine.Input.Elements);
  if (run->Options->OutputQueueName[0] != '\0') {
    int rc = OpenOutputQueues(run);
    if (rc != 0) return rc;
  }

  // A delimited file is counted first when someone at a terminal can be
  // asked whether to go on; the progress line runs for the count too.
  if (run->Settings.PreliminaryCount) run->Files.CountingPass = true;

  run->Counters.MessageIndex = -1;
  if (strcmp(run->Options->OutputFile, "null") == 0) run->Settings.OutputIsNull = true;
  int rc = OpenInputFile(run);
  if (rc != 0) return rc;
  // An error text without a code would end the run as a success.
  if (run->ExitMessage[0] != '\0') return MQRC_FILE_SYSTEM_ERROR;
  run->Settings.NoData = (run->Settings.OutputIsNull || run->Options->Summary) && !run->Options->FullData;
  return 0;
}

// The preliminary count of a delimited file and the question after it.
// Returns 0 to go on with the real pass; otherwise the run's code, with
// *quiet set when the run ends without the final report (nothing found,
// or any answer but yes).
int CountFirst(Run* run, bool* quiet) {
  run->Counters.MessageIndex = -1;
  int rc = RunProcessingLoop(run, nullptr);
  EndProgress(run, true);
  run->Files.CountingPass = false;
  if (rc != 0) return rc;
  *quiet = true;
  if (run->Counters.ReadCount == 0) {
    fputs("No messages were found in the file with those delimiters.\n", stderr);
    return 0;
  }
  fputs("Do you want to continue? (y/n)\n", stderr);
  fflush(stderr);
  char answer[kExitMessageLength];
  if (fgets(answer, sizeof answer, stdin) == nullptr || (answer[0] != 'y' && answer[0] != 'Y'))
    return 0;
  *quiet = false;
  run->Settings.PreliminaryCount = false;
  run->StopRequested = false;
  RunCounters& c = run->Counters;
  c.ReadCount = c.WrittenCount = 0;
  c.ReadBytes = c.WrittenBytes = 0;
  c.ReadFiles = c.WrittenFiles = 0;
  run->Files.InputFileBytes = run->Files.FinishedInputBytes = 0;
  return OpenInputFile(run);
}

}  // namespace

void ReleaseParsedOptions(RunOptions* options) {
  QueueListRelease(&options->InputList);
  QueueListRelease(&options->OutputList);
  CSReleaseMem(&options->Selector);
  ReleasePasswords(options);
}

void PrintFinalReport(const Run* run, bool countsDue) {
  if (run->ExitMessage[0] != '\0')
    fprintf(stderr, "%.*s\n", kExitMessageLength - 1, run->ExitMessage);
  if (run->Settings.Quiet) {
    // -dK: the count alone, for scripts; only when messages were counted.
    if (run->Options->Count && countsDue) {
      printf("%lld", static_cast<long long>(run->Counters.WrittenCount));
      fflush(stdout);
    }
    return;
  }
  if (countsDue && run->Options->Summary) {
    DisplaySummary(stderr, run, &run->Engine.Summary, run->Engine.Input.Elements);
  } else if (countsDue) {
    PrintCountLine("Read", run->Counters.ReadFiles, run->Counters.ReadCount, run->Counters.ReadBytes);
    if (NoOutputAtAll(run)) {
      if (run->Options->Count)
        PrintCountLine("Counted", -1, run->Counters.WrittenCount, run->Counters.WrittenBytes);
    } else if (run->Options->Count) {
      PrintCountLine("Counted", -1, run->Counters.WrittenCount, run->Counters.WrittenBytes);
    } else if (!run->Settings.OutputIsNull) {
      PrintCountLine("Written", run->Counters.WrittenFiles, run->Counters.WrittenCount,
                     run->Counters.WrittenBytes);
    }
  }
  // A backout of a unit that held nothing changed nothing worth reporting.
  const RunCounters& c = run->Counters;
  if (run->RolledBack && (c.UncommittedReadCount > 0 || c.UncommittedWrittenCount > 0)) {
    fputs("\nOperation rolled back, completed operations as follows:\n", stderr);
    PrintCountLine("Read", run->Counters.ReadFiles, run->Counters.ReadCount - run->Counters.UncommittedReadCount,
                   run->Counters.ReadBytes - run->Counters.UncommittedReadBytes);
    if (!NoOutputAtAll(run))
      PrintCountLine("Written", run->Counters.WrittenFiles - run->Counters.UncommittedWrittenFiles,
                     run->Counters.WrittenCount - run->Counters.UncommittedWrittenCount,
                     run->Counters.WrittenBytes - run->Counters.UncommittedWrittenBytes);
  }
}

void DisconnectQmgrs(Run* run) {
  int slots[2] = {run->Options->OutputSlot, run->Options->InputSlot};
  int count = run->Options->OutputSlot == run->Options->InputSlot ? 1 : 2;
  for (int i = 0; i < count; i++) {
    QmgrSlot* slot = &run->Qmgrs[slots[i]];
    if (slot->Hconn == MQHC_UNUSABLE_HCONN || slot->Api == nullptr) continue;
    // MQDISC commits an open unit: got messages that never reached their
    // output would be lost. A unit whose backout failed is backed out once
    // more; if that fails too, the connection is left to the queue
    // manager, which backs out what a process leaves open. The other
    // side, resolved as intended, is disconnected as usual.
    bool* backoutFailed = &run->Engine.BackoutFailed[slots[i]];
    if (*backoutFailed && BackoutQmgr(run, slots[i]) != 0) continue;
    *backoutFailed = false;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    slot->Api->MQDISC(&slot->Hconn, &compCode, &reason);
    if (run->Options->PrintApis || reason != MQRC_NONE)
      ReportMqiCall("MQDISC", slot->Name, nullptr, reason);
    slot->Hconn = MQHC_UNUSABLE_HCONN;
  }
}

int ExitStatusFor(int returnCode) {
  if (returnCode == 0) return 0;
  int low = returnCode & 0xFF;
  return low != 0 ? low : 255;
}

int RunDriver(Run* run) {
  int rc = 0;
  bool countsDue = false;
  bool quiet = false;
  const RunOptions* options = run->Options;
  const bool inputQueues = HasInputQueues(options);
  const bool outputQueue = options->OutputQueueName[0] != '\0';
  // One entry-point table per queue-manager slot: the input's, and a
  // separate output slot's. They are used until the disconnect below.
  MqApi apiTables[2] = {};

  if (outputQueue || (inputQueues && !options->LogMode)) {
    QmgrSlot* input = &run->Qmgrs[options->InputSlot];
    input->Api = &apiTables[0];
    rc = ConnectQmgr(run, options->InputSlot);
    if (rc == 0 && options->OutputSlot != options->InputSlot) {
      run->Qmgrs[options->OutputSlot].Api = &apiTables[1];
      rc = ConnectQmgr(run, options->OutputSlot);
    }
    // Queue managers before 7.0 cannot hand properties over as MQRFH2.
    if (rc == 0 && input->CommandLevel <= 699) run->Settings.NoForceRfh2 = true;
  }

  if (rc == 0) rc = PrepareRun(run, &quiet);
  if (rc == 0 && !quiet && run->Settings.PreliminaryCount) rc = CountFirst(run, &quiet);
  if (rc == 0 && !quiet) {
    QueueElement* first = options->LogMode ? nullptr : run->Engine.Input.Elements;
    run->Counters.MessageIndex = -1;
    // From here on a Ctrl-C (or SIGTERM, SIGHUP) ends the run at a message
    // boundary, its unit backed out and its file put back, with the report.
    // Before, nothing is in flight and a signal ends the process as usual.
    CatchStopSignals();
    rc = RunProcessingLoop(run, first);
    int closed = CloseOutputFile(run);  // its end line, and any write error
    if (rc == 0) rc = closed;
    EndProgress(run, true);
    // The formatter is waited for before the report: it is over by then.
    if (options->LogMode) ReleaseLogReplay(run);
    countsDue = rc == 0 || run->Counters.MessageIndex >= 0;
  }
  if (!quiet) PrintFinalReport(run, countsDue);
  DisconnectQmgrs(run);
  ReleaseEngineQueues(run);
  // A run that ended early may have left the formatter running.
  ReleaseLogReplay(run);
  return rc;
}

int ZeploMain(int argc, char** argv) {
  RunOptions options;
  RunOptionsInit(&options, argc, argv);
  bool endRun = false;
  int rc = ParseOptions(&options, argc, argv, &endRun);
  if (!endRun) {
    // A list that exists but holds nothing (an empty destination file)
    // counts as no list at all.
    if (options.InputList != nullptr && options.InputList->Count == 0)
      QueueListRelease(&options.InputList);
    if (options.OutputList != nullptr && options.OutputList->Count == 0)
      QueueListRelease(&options.OutputList);
    rc = CheckOptions(&options);
    if (rc == 0) {
      Run run;
      RunInit(&run, &options);
      rc = RunDriver(&run);
    }
  }
  fflush(stdout);
  ReleaseParsedOptions(&options);
  return rc;
}
