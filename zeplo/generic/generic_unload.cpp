// Generic unload: every non-empty local queue that matches the input masks
// goes to a file of its own, each through the processing loop exactly as
// a single-queue unload by browse.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/generic/generic.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

struct Totals {
  int32_t Queues = 0, Messages = 0;
  int32_t SystemQueues = 0, SystemMessages = 0;
};

// Inquire Queue handler: keeps the non-empty local queues that a mask
// names, in the order of the masks.
int AddDiscoveredQueue(Run* run, const PcfQueueInfo* queue, void*) {
  if (queue->Type != MQQT_LOCAL || queue->DefinitionType == MQQDT_TEMPORARY_DYNAMIC ||
      queue->Depth == 0)
    return 0;
  // The command server's own queues: unloading them would read requests.
  if (strcmp(queue->Name, "SYSTEM.ADMIN.COMMAND.QUEUE") == 0 ||
      strcmp(queue->Name, "SYSTEM.COMMAND.INPUT") == 0)
    return 0;
  const QueueList* masks = run->Options->InputList;
  for (int32_t i = 0; masks != nullptr && i < masks->Count; ++i) {
    char mask[kMqNameLength + 1];
    CopyMqName(mask, masks->Entries[i].QueueName, kMqNameLength, kMqNameLength);
    if (!MatchQueueMask(run->Options, queue->Name, mask)) continue;
    QueueFileEntry entry{};
    snprintf(entry.QueueName, sizeof entry.QueueName, "%s", queue->Name);
    entry.Depth = queue->Depth;
    return AddQueueFileEntry(run, &entry, &run->Generic.QueueFiles);
  }
  return 0;
}

int AddExistingFile(Run* run, QueueFileEntry* entry, void*) {
  for (const QueueFileEntry* q = run->Generic.QueueFiles; q != nullptr; q = q->Next)
    if (strcmp(q->QueueName, entry->QueueName) == 0) entry->Selected = true;
  return AddQueueFileEntry(run, entry, &run->Generic.ExistingFiles);
}

void PrintNoQueuesFound(const Run* run) {
  fputs("No non-empty queues found matching ", stderr);
  const QueueList* masks = run->Options->InputList;
  int32_t n = masks != nullptr ? masks->Count : 0;
  for (int32_t i = 0; i < n; ++i) {
    if (i > 0) fputs(i == n - 1 ? " or " : ",", stderr);
    fprintf(stderr, "'%.48s'", masks->Entries[i].QueueName);
  }
  fputs(".\n", stderr);
}

// Unloads one queue (its line already started) in a run of its own,
// *queueRun over *queueOptions, into its freshly opened file, the first of
// its roll-over sequence. Returns the loop's code, or the close failure of
// a file that did not reach the disk whole.
int UnloadQueue(const Run* run, const QueueFileEntry* q, MQHOBJ hobj, FILE* stream,
                RunOptions* queueOptions, Run* queueRun) {
  StartQueueRun(run, queueOptions, queueRun);
  snprintf(queueOptions->OutputFile, sizeof queueOptions->OutputFile, "%s", q->Path);
  FileState* files = &queueRun->Files;
  snprintf(files->CurrentOutputFile, sizeof files->CurrentOutputFile, "%s", q->Path);
  snprintf(files->GenericBaseName, sizeof files->GenericBaseName, "%s", q->BaseName);
  files->OutputStream = stream;
  files->FileOpenTime = static_cast<int64_t>(time(nullptr));
  queueRun->Counters.WrittenFiles = 1;
  StartProgress(queueRun, q->Depth);
  QueueElement element{};
  element.Hobj = hobj;
  element.BackoutHobj = MQHO_UNUSABLE_HOBJ;
  snprintf(element.Name, sizeof element.Name, "%s", q->QueueName);
  fflush(stdout);
  queueRun->Counters.MessageIndex = -1;
  int rc = RunProcessingLoop(queueRun, &element);
  int closeRc = CloseOutputFile(queueRun);
  EndProgress(queueRun, false);
  return rc != 0 ? rc : closeRc;
}

void PrintOutcome(const Run* queueRun, const QueueFileEntry* q, int rc) {
  if (rc != 0)
    printf("RC(%d) %s\n", rc, MqReasonText(rc));
  else if (queueRun->Counters.WrittenCount == q->Depth)
    puts("Done.");
  else if (queueRun->Settings.SelectionActive)
    puts("Filtered.");
  else
    puts("Changing.");
}

void UnloadAll(Run* run, Totals* totals) {
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  for (const QueueFileEntry* q = run->Generic.QueueFiles; q != nullptr; q = q->Next) {
    printf("%-48s %6d  ", q->QueueName, q->Depth);
    MQOD od = {MQOD_DEFAULT};
    SetMqField(od.ObjectName, q->QueueName);
    MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    slot.Api->MQOPEN(slot.Hconn, &od, MQOO_BROWSE | MQOO_FAIL_IF_QUIESCING, &hobj, &compCode,
                     &reason);
    if (compCode == MQCC_FAILED) {
      printf("RC(%d) %s\n", reason, MqReasonText(reason));
      continue;
    }
    char mode[21];
    FileAccessModeFor(run->Options->FileAccessMode, 'w', mode);
    FILE* stream = fopen(q->Path, mode);
    if (stream == nullptr) {
      printf("File Error RC(%d)\n", errno);
    } else {
      RunOptions queueOptions;
      Run queueRun;
      int rc = UnloadQueue(run, q, hobj, stream, &queueOptions, &queueRun);
      EndQueueRun(run, &queueRun);
      bool ordinary = IsOrdinaryQueue(run, q->QueueName);
      (ordinary ? totals->Queues : totals->SystemQueues)++;
      (ordinary ? totals->Messages : totals->SystemMessages) +=
          static_cast<int32_t>(queueRun.Counters.WrittenCount);
      PrintOutcome(&queueRun, q, rc);
      fflush(stdout);
      if (queueRun.ExitMessage[0] != '\0')
        fprintf(stderr, "%.*s\n", kExitMessageLength - 1, queueRun.ExitMessage);
    }
    slot.Api->MQCLOSE(slot.Hconn, &hobj, MQCO_NONE, &compCode, &reason);
    fflush(stdout);
  }
}

}  // namespace

int GenericUnload(Run* run) {
  const RunOptions* options = run->Options;
  if (options->DestructiveGet) {
    fputs("You can not do a destructive generic unload.\n", stderr);
    return MQRC_OPTIONS_ERROR;
  }
  // Only queue masks say what to unload; without them nothing is connected.
  const QmgrSlot& slot = run->Qmgrs[options->InputSlot];
  if (options->InputList == nullptr || slot.Api == nullptr || slot.Hconn == MQHC_UNUSABLE_HCONN) {
    fputs("A generic unload needs input queue names.\n", stderr);
    return MQRC_OPTIONS_ERROR;
  }
  if (ParseGenericFileSpec(run, options->OutputFile) != 0) return MQRC_OPTIONS_ERROR;
  int rc = InquireQueues(run, AddDiscoveredQueue, nullptr);
  if (rc == 0 && run->Generic.QueueFiles == nullptr) PrintNoQueuesFound(run);
  if (rc == 0 && run->Generic.QueueFiles != nullptr) {
    rc = ScanGenericDirectory(run, AddExistingFile, nullptr);
    GroupQueueFiles(run->Generic.ExistingFiles);
    if (rc == 0) rc = CheckExistingFiles(run, stdin);
    if (rc == 0) {
      Totals totals;
      UnloadAll(run, &totals);
      printf("\nTotal : %d Queues, %d Messages\n", totals.Queues, totals.Messages);
      if (totals.SystemQueues > 0)
        printf(" plus : %d System Queues, %d Messages\n", totals.SystemQueues,
               totals.SystemMessages);
    }
  }
  GenericRunRelease(&run->Generic);
  return rc;
}
