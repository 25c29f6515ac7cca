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

// One entry-point table per queue-manager slot: the first connected slot
// (the input's) uses the first, a separate output slot the second.
MqApi g_apiTables[2];

// The run record lives in static storage: it is large, and whatever it
// points to stays reachable until the process ends.
RunOptions g_options;

bool HasEntries(const QueueList* list) { return list != nullptr && list->Count > 0; }

int Unavailable(const char* what) {
  fprintf(stderr, "Sorry, %s is not available in this build.\n", what);
  return kOptionsRefused;
}

void ReleaseRunStorage(RunOptions* options) {
  ReleaseQueueElements(options);  // the engine's arrays hung on the lists
  QueueListRelease(&options->InputList);
  ReleaseOutputQueues(options);  // the arrays the engine hung on the list
  QueueListRelease(&options->OutputList);
  if (options->Selector != nullptr) {
    CSFreeMem(options->Selector);
    options->Selector = nullptr;
  }
}

// True when the run has no output of any kind (it only reads, counts or
// removes messages).
bool NoOutputAtAll(const RunOptions* options) {
  return options->OutputHobj == MQHO_UNUSABLE_HOBJ && options->OutputList == nullptr &&
         options->OutputFile[0] == '\0';
}

void PrintCountLine(const char* label, int32_t files, int64_t messages, uint64_t bytes) {
  char line[160];
  FormatCountLine(label, files, messages, bytes, line, sizeof line);
  fputs(line, stderr);  // one write per line
}

// Opens the steps between connecting and the processing loop. Returns 0 to
// run the loop; otherwise the run's code, with *quiet set when the run ends
// without the final report.
int PrepareRun(RunOptions* options, bool* quiet) {
  *quiet = false;
  RangeLine range = NormaliseRange(options);
  if (!options->Quiet) {
    if (options->SelectionActive || options->SelectByMsgId || options->SelectByCorrelId ||
        options->SelectByGroupId)
      PrintSelectionReport(options, range);
    if (options->LimitsActive) PrintLimitsReport(options);
  }

  // -dxtest asks for the file format round trip before the run; asked
  // for and not run would read as passed.
  if (options->SelfTest) return Unavailable("the file format self-test");
  if (strchr(options->OutputFile, '*') != nullptr) {
    *quiet = true;
    return Unavailable("generic unload to many files");
  }
  if (strchr(options->InputFile, '*') != nullptr) {
    *quiet = true;
    return Unavailable("generic load from many files");
  }

  if (options->LogMode) {
    if (options->InputList != nullptr && options->InputList->Count > 1) {
      fputs("Only one queue name is allowed in log mode.\n", stderr);
      return kOptionsRefused;
    }
    options->InitialBufferSize = 1048576;
    return Unavailable("replaying messages from a queue manager log");
  }

  // Delimited files are read (after a preliminary count on a terminal)
  // by a reader this build lacks.
  if (options->NonNative) return Unavailable("loading delimited files");
  // Two or more input queues are consumed asynchronously, not one by one.
  if (options->InputList != nullptr && options->InputList->Count >= 2)
    return Unavailable("reading several input queues at once");

  if (options->InputList == nullptr) {
    options->SelectionActive = false;
  } else {
    int rc = OpenInputQueues(options);
    if (rc != 0) return rc;
  }

  if (options->Summary) return Unavailable("the queue summary display");
  if (options->OutputQueueName[0] != '\0') {
    int rc = OpenOutputQueues(options);
    if (rc != 0) return rc;
  }

  options->MessageIndex = -1;
  if (strcmp(options->OutputFile, "null") == 0) options->OutputIsNull = true;
  int rc = OpenRunFiles(options, true, true, false);
  if (rc != 0) return rc;
  // An error text without a code would end the run as a success.
  if (options->ExitMessage[0] != '\0') return MQRC_FILE_SYSTEM_ERROR;
  options->NoData = (options->OutputIsNull || options->Summary) && !options->FullData;
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

void PrintFinalReport(RunOptions* options, bool countsDue) {
  if (options->ExitMessage[0] != '\0')
    fprintf(stderr, "%.*s\n", kExitMessageLength - 1, options->ExitMessage);
  if (options->Quiet) {
    // -dK: the count alone, for scripts; only when messages were counted.
    if (options->Count && countsDue) {
      printf("%lld", static_cast<long long>(options->WrittenCount));
      fflush(stdout);
    }
    return;
  }
  if (countsDue && !options->Summary) {
    PrintCountLine("Read", options->ReadFiles, options->ReadCount, options->ReadBytes);
    if (NoOutputAtAll(options)) {
      if (options->Count)
        PrintCountLine("Counted", -1, options->WrittenCount, options->WrittenBytes);
    } else if (options->Count) {
      PrintCountLine("Counted", -1, options->WrittenCount, options->WrittenBytes);
    } else if (!options->OutputIsNull) {
      PrintCountLine("Written", options->WrittenFiles, options->WrittenCount,
                     options->WrittenBytes);
    }
  }
  if (options->RolledBack) {
    fputs("\nOperation rolled back, completed operations as follows:\n", stderr);
    PrintCountLine("Read", options->ReadFiles, options->ReadCount - options->UncommittedReadCount,
                   options->ReadBytes - options->UncommittedReadBytes);
    if (!NoOutputAtAll(options))
      PrintCountLine("Written", options->WrittenFiles - options->UncommittedWrittenFiles,
                     options->WrittenCount - options->UncommittedWrittenCount,
                     options->WrittenBytes - options->UncommittedWrittenBytes);
  }
}

void DisconnectQmgrs(RunOptions* options) {
  int slots[2] = {options->OutputSlot, options->InputSlot};
  int count = options->OutputSlot == options->InputSlot ? 1 : 2;
  for (int i = 0; i < count; i++) {
    QmgrSlot* slot = &options->Qmgrs[slots[i]];
    if (slot->Hconn == MQHC_UNUSABLE_HCONN || slot->Api == nullptr) continue;
    // MQDISC commits an open unit: got messages that never reached their
    // output would be lost. A unit whose backout failed is backed out once
    // more; if that fails too, the connection is left to the queue
    // manager, which backs out what a process leaves open. The other
    // side, resolved as intended, is disconnected as usual.
    if (options->BackoutFailed[slots[i]] && BackoutQmgr(options, slots[i]) != 0) continue;
    options->BackoutFailed[slots[i]] = false;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    slot->Api->MQDISC(&slot->Hconn, &compCode, &reason);
    if (options->PrintApis || reason != MQRC_NONE)
      ReportMqiCall("MQDISC", slot->Name, nullptr, reason);
    slot->Hconn = MQHC_UNUSABLE_HCONN;
  }
}

int ExitStatusFor(int returnCode) {
  if (returnCode == 0) return 0;
  int low = returnCode & 0xFF;
  return low != 0 ? low : 255;
}

int RunDriver(RunOptions* options) {
  int rc = 0;
  bool countsDue = false;
  bool quiet = false;
  const bool inputQueues = HasEntries(options->InputList);
  const bool outputQueue = options->OutputQueueName[0] != '\0';

  if (outputQueue || (inputQueues && !options->LogMode)) {
    QmgrSlot* input = &options->Qmgrs[options->InputSlot];
    input->Api = &g_apiTables[0];
    rc = ConnectQmgr(options, options->InputSlot);
    if (rc == 0 && options->OutputSlot != options->InputSlot) {
      options->Qmgrs[options->OutputSlot].Api = &g_apiTables[1];
      rc = ConnectQmgr(options, options->OutputSlot);
    }
    // Queue managers before 7.0 cannot hand properties over as MQRFH2.
    if (rc == 0 && input->CommandLevel <= 699) options->NoForceRfh2 = true;
  }

  if (rc == 0) rc = PrepareRun(options, &quiet);
  if (rc == 0 && !quiet) {
    QueueElement* first = nullptr;
    if (options->InputList != nullptr && !options->LogMode) first = options->InputList->Elements;
    options->MessageIndex = -1;
    // From here on a Ctrl-C (or SIGTERM, SIGHUP) ends the run at a message
    // boundary, its unit backed out and its file put back, with the report.
    // Before, nothing is in flight and a signal ends the process as usual.
    CatchStopSignals();
    rc = RunProcessingLoop(options, first, options->Interactive);
    EndProgress(options, true);
    countsDue = rc == 0 || options->MessageIndex >= 0;
  }
  if (!quiet) PrintFinalReport(options, countsDue);
  DisconnectQmgrs(options);
  return rc;
}

int ZeploMain(int argc, char** argv) {
  RunOptions* options = &g_options;
  RunOptionsInit(options, argc, argv);
  bool endRun = false;
  int rc = ParseOptions(options, argc, argv, &endRun);
  if (!endRun) {
    // A list that exists but holds nothing (an empty destination file)
    // counts as no list at all.
    if (options->InputList != nullptr && options->InputList->Count == 0)
      QueueListRelease(&options->InputList);
    if (options->OutputList != nullptr && options->OutputList->Count == 0)
      QueueListRelease(&options->OutputList);
    rc = CheckOptions(options);
    if (rc == 0) rc = RunDriver(options);
  }
  fflush(stdout);
  ReleaseRunStorage(options);
  return rc;
}
