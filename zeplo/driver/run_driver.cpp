// The run from start to exit: options, checks, connections, reports, the
// choice of mode, the opens, the processing loop, the final report and the
// disconnects. The return code is the process exit status.
//
// Every path that got as far as connecting leaves through the disconnect,
// output slot first. Modes whose machinery this build lacks (the file
// format self-test, generic unload and load, log replay, delimited files,
// several input queues consumed at once, the queue summary) are refused
// where the run chooses its mode, with code 2046 and one message, before
// anything is read.
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/driver/driver.h"
#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/banned.h"

namespace {

bool HasEntries(const QueueList* list) { return list != nullptr && list->Count > 0; }

int Unavailable(const char* what) {
  fprintf(stderr, "Sorry, %s is not available in this build.\n", what);
  return kOptionsRefused;
}

// The labelled blocks the option parser made.
void ReleaseParsedOptions(RunOptions* options) {
  QueueListRelease(&options->InputList);
  QueueListRelease(&options->OutputList);
  CSReleaseMem(&options->Selector);
}

// True for the reasons of a connection that can no longer commit: the
// queue manager backs its unit out, and the disconnect only frees it.
bool ConnectionGone(int reason) {
  return reason == MQRC_CONNECTION_BROKEN || reason == MQRC_CONNECTION_STOPPING ||
         reason == MQRC_HCONN_ERROR || reason == MQRC_Q_MGR_NOT_AVAILABLE ||
         reason == MQRC_Q_MGR_STOPPING;
}

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

  // -dxtest asks for the file format round trip before the run; asked
  // for and not run would read as passed.
  if (run->Options->SelfTest) return Unavailable("the file format self-test");
  if (strchr(run->Options->OutputFile, '*') != nullptr) {
    *quiet = true;
    return Unavailable("generic unload to many files");
  }
  if (strchr(run->Options->InputFile, '*') != nullptr) {
    *quiet = true;
    return Unavailable("generic load from many files");
  }

  if (run->Options->LogMode) {
    if (run->Options->InputList != nullptr && run->Options->InputList->Count > 1) {
      fputs("Only one queue name is allowed in log mode.\n", stderr);
      return kOptionsRefused;
    }
    run->Settings.InitialBufferSize = 1048576;
    return Unavailable("replaying messages from a queue manager log");
  }

  // Delimited files are read (after a preliminary count on a terminal)
  // by a reader this build lacks.
  if (run->Options->NonNative) return Unavailable("loading delimited files");
  // Two or more input queues are consumed asynchronously, not one by one.
  if (run->Options->InputList != nullptr && run->Options->InputList->Count >= 2)
    return Unavailable("reading several input queues at once");

  if (run->Options->InputList == nullptr) {
    run->Settings.SelectionActive = false;
  } else {
    int rc = OpenInputQueues(run);
    if (rc != 0) return rc;
  }

  if (run->Options->Summary) return Unavailable("the queue summary display");
  if (run->Options->OutputQueueName[0] != '\0') {
    int rc = OpenOutputQueues(run);
    if (rc != 0) return rc;
  }

  run->Counters.MessageIndex = -1;
  if (strcmp(run->Options->OutputFile, "null") == 0) run->Settings.OutputIsNull = true;
  int rc = OpenRunFiles(run, true, true, false);
  if (rc != 0) return rc;
  // An error text without a code would end the run as a success.
  if (run->ExitMessage[0] != '\0') return MQRC_FILE_SYSTEM_ERROR;
  run->Settings.NoData = (run->Settings.OutputIsNull || run->Options->Summary) && !run->Options->FullData;
  return 0;
}

}  // namespace

int GroupThousands(const char* text, char* out, size_t size) {
  if (size == 0) return 0;
  int digits = 0;
  for (const char* p = text; *p != '\0'; p++)
    if (*p >= '0' && *p <= '9') digits++;
  size_t n = 0;
  for (const char* p = text; *p != '\0' && n + 1 < size; p++) {
    out[n++] = *p;
    if (*p >= '0' && *p <= '9') {
      digits--;
      if (digits > 0 && digits % 3 == 0 && n + 1 < size) out[n++] = ',';
    }
  }
  out[n] = '\0';
  return static_cast<int>(n);
}

int FormatCountLine(const char* label, int32_t files, int64_t messages, uint64_t bytes, char* out,
                    size_t size) {
  char raw[32], count[48], byteText[48];
  snprintf(raw, sizeof raw, "%lld", static_cast<long long>(messages));
  GroupThousands(raw, count, sizeof count);
  snprintf(raw, sizeof raw, "%10llu", static_cast<unsigned long long>(bytes));
  GroupThousands(raw, byteText, sizeof byteText);
  int n;
  if (files >= 0)
    n = snprintf(out, size, "%-7s - Files:%4d  Messages:%7s  Bytes:%12s\n", label, files, count,
                 byteText);
  else
    n = snprintf(out, size, "%-7s -             Messages:%7s  Bytes:%12s\n", label, count,
                 byteText);
  if (n < 0) n = 0;
  if (size > 0 && static_cast<size_t>(n) >= size) n = static_cast<int>(size - 1);
  return n;
}

void PrintFinalReport(const Run* run, bool countsDue) {
  if (run->ExitMessage[0] != '\0')
    fprintf(stderr, "%.*s\n", kExitMessageLength - 1, run->ExitMessage);
  if (run->Options->Quiet) {
    // -dK: the count alone, for scripts; only when messages were counted.
    if (run->Options->Count && countsDue) {
      printf("%lld", static_cast<long long>(run->Counters.WrittenCount));
      fflush(stdout);
    }
    return;
  }
  if (countsDue && !run->Options->Summary) {
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
      PrintCountLine("Written", run->Counters.WrittenFiles,
                     run->Counters.WrittenCount - run->Counters.UncommittedWrittenCount,
                     run->Counters.WrittenBytes - run->Counters.UncommittedWrittenBytes);
  }
}

void DisconnectQmgrs(Run* run) {
  // A unit whose backout failed may still be open, and MQDISC commits an
  // open unit: got messages that never reached their output would be
  // lost. It is backed out once more; if that fails too while the
  // connection still works, the connections are left to the queue
  // manager, which backs out what a process leaves open.
  int backout = run->Engine.BackoutFailed ? BackoutAll(run) : 0;
  bool unitOpen = backout != 0 && !ConnectionGone(backout);
  int slots[2] = {run->Options->OutputSlot, run->Options->InputSlot};
  int count = run->Options->OutputSlot == run->Options->InputSlot ? 1 : 2;
  for (int i = 0; i < count; i++) {
    QmgrSlot* slot = &run->Qmgrs[slots[i]];
    if (slot->Hconn == MQHC_UNUSABLE_HCONN || slot->Api == nullptr) continue;
    if (unitOpen) continue;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    slot->Api->MQDISC(&slot->Hconn, &compCode, &reason);
    if (run->Options->PrintApis || reason != MQRC_NONE)
      ReportMqiCall("MQDISC", slot->Name, nullptr, reason);
    slot->Hconn = MQHC_UNUSABLE_HCONN;
  }
}

int RunDriver(Run* run) {
  int rc = 0;
  bool countsDue = false;
  bool quiet = false;
  const RunOptions* options = run->Options;
  const bool inputQueues = HasEntries(options->InputList);
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
  if (rc == 0 && !quiet) {
    QueueElement* first = options->LogMode ? nullptr : run->Engine.Input.Elements;
    run->Counters.MessageIndex = -1;
    rc = RunProcessingLoop(run, first);
    EndProgress(run, true);
    countsDue = rc == 0 || run->Counters.MessageIndex >= 0;
  }
  if (!quiet) PrintFinalReport(run, countsDue);
  DisconnectQmgrs(run);
  ReleaseEngineQueues(run);
  ReleaseFileState(run);
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
