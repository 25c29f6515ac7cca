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
int AddDiscoveredQueue(RunOptions* options, const PcfQueueInfo* queue, void* context) {
  GenericRun* run = static_cast<GenericRun*>(context);
  if (queue->Type != MQQT_LOCAL || queue->DefinitionType == MQQDT_TEMPORARY_DYNAMIC ||
      queue->Depth == 0)
    return 0;
  // The command server's own queues: unloading them would read requests.
  if (strcmp(queue->Name, "SYSTEM.ADMIN.COMMAND.QUEUE") == 0 ||
      strcmp(queue->Name, "SYSTEM.COMMAND.INPUT") == 0)
    return 0;
  const QueueList* masks = options->InputList;
  for (int32_t i = 0; masks != nullptr && i < masks->Count; ++i) {
    char mask[kMqNameLength + 1];
    CopyMqName(mask, masks->Entries[i].QueueName, kMqNameLength, kMqNameLength);
    if (!MatchQueueMask(options, queue->Name, mask)) continue;
    QueueFileEntry entry{};
    snprintf(entry.QueueName, sizeof entry.QueueName, "%s", queue->Name);
    entry.Depth = queue->Depth;
    return AddQueueFileEntry(options, &entry, &run->QueueFiles);
  }
  return 0;
}

int AddExistingFile(RunOptions* options, QueueFileEntry* entry, void* context) {
  GenericRun* run = static_cast<GenericRun*>(context);
  for (const QueueFileEntry* q = run->QueueFiles; q != nullptr; q = q->Next)
    if (strcmp(q->QueueName, entry->QueueName) == 0) entry->Selected = true;
  return AddQueueFileEntry(options, entry, &run->ExistingFiles);
}

void PrintNoQueuesFound(const RunOptions* options) {
  fputs("No non-empty queues found matching ", stderr);
  const QueueList* masks = options->InputList;
  int32_t n = masks != nullptr ? masks->Count : 0;
  for (int32_t i = 0; i < n; ++i) {
    if (i > 0) fputs(i == n - 1 ? " or " : ",", stderr);
    fprintf(stderr, "'%.48s'", masks->Entries[i].QueueName);
  }
  fputs(".\n", stderr);
}

// Adopts the queue's freshly opened file as the run's output file, the
// first of its roll-over sequence.
void StartQueueFile(RunOptions* options, const QueueFileEntry* q, FILE* stream) {
  ResetRunCounters(options);
  snprintf(options->OutputFile, sizeof options->OutputFile, "%s", q->Path);
  snprintf(options->CurrentOutputFile, sizeof options->CurrentOutputFile, "%s", q->Path);
  snprintf(options->GenericBaseName, sizeof options->GenericBaseName, "%s", q->BaseName);
  options->OutputStream = stream;
  options->WrittenFiles = 1;
  options->FileOpenTime = static_cast<int64_t>(time(nullptr));
  StartProgress(options, q->Depth);
}

// Unloads one queue (its line already started). Returns the loop's code,
// or the close failure of a file that did not reach the disk whole.
int UnloadQueue(RunOptions* options, const QueueFileEntry* q, MQHOBJ hobj, FILE* stream) {
  StartQueueFile(options, q, stream);
  QueueElement element{};
  element.Hobj = hobj;
  element.BackoutHobj = MQHO_UNUSABLE_HOBJ;
  snprintf(element.Name, sizeof element.Name, "%s", q->QueueName);
  fflush(stdout);
  options->MessageIndex = -1;
  int rc = RunProcessingLoop(options, &element, options->Interactive);
  int closeRc = CloseOutputFile(options);
  EndProgress(options, false);
  return rc != 0 ? rc : closeRc;
}

void PrintOutcome(const RunOptions* options, const QueueFileEntry* q, int rc) {
  if (rc != 0)
    printf("RC(%d) %s\n", rc, MqReasonText(rc));
  else if (options->WrittenCount == q->Depth)
    puts("Done.");
  else if (options->SelectionActive)
    puts("Filtered.");
  else
    puts("Changing.");
}

void UnloadAll(RunOptions* options, GenericRun* run, Totals* totals) {
  QmgrSlot& slot = options->Qmgrs[options->InputSlot];
  for (const QueueFileEntry* q = run->QueueFiles; q != nullptr; q = q->Next) {
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
    FileAccessModeFor(options->FileAccessMode, 'w', mode);
    FILE* stream = fopen(q->Path, mode);
    if (stream == nullptr) {
      printf("File Error RC(%d)\n", errno);
    } else {
      int rc = UnloadQueue(options, q, hobj, stream);
      bool ordinary = IsOrdinaryQueue(options, q->QueueName);
      (ordinary ? totals->Queues : totals->SystemQueues)++;
      (ordinary ? totals->Messages : totals->SystemMessages) +=
          static_cast<int32_t>(options->WrittenCount);
      PrintOutcome(options, q, rc);
    }
    slot.Api->MQCLOSE(slot.Hconn, &hobj, MQCO_NONE, &compCode, &reason);
    fflush(stdout);
    if (options->ExitMessage[0] != '\0') {
      fprintf(stderr, "%.*s\n", kExitMessageLength - 1, options->ExitMessage);
      options->ExitMessage[0] = '\0';
    }
  }
}

}  // namespace

int GenericUnload(RunOptions* options) {
  if (options->DestructiveGet) {
    fputs("You can not do a destructive generic unload.\n", stderr);
    return MQRC_OPTIONS_ERROR;
  }
  // Only queue masks say what to unload; without them nothing is connected.
  const QmgrSlot& slot = options->Qmgrs[options->InputSlot];
  if (options->InputList == nullptr || slot.Api == nullptr || slot.Hconn == MQHC_UNUSABLE_HCONN) {
    fputs("A generic unload needs input queue names.\n", stderr);
    return MQRC_OPTIONS_ERROR;
  }
  if (ParseGenericFileSpec(options, options->OutputFile) != 0) return MQRC_OPTIONS_ERROR;
  GenericRun run{};
  int rc = InquireQueues(options, AddDiscoveredQueue, &run);
  if (rc == 0 && run.QueueFiles == nullptr) PrintNoQueuesFound(options);
  if (rc == 0 && run.QueueFiles != nullptr) {
    QueueListRelease(&options->InputList);  // each queue goes to the loop on its own
    rc = ScanGenericDirectory(options, AddExistingFile, &run);
    GroupQueueFiles(run.ExistingFiles);
    if (rc == 0) rc = CheckExistingFiles(options, &run, stdin);
    if (rc == 0) {
      Totals totals;
      UnloadAll(options, &run, &totals);
      printf("\nTotal : %d Queues, %d Messages\n", totals.Queues, totals.Messages);
      if (totals.SystemQueues > 0)
        printf(" plus : %d System Queues, %d Messages\n", totals.SystemQueues,
               totals.SystemMessages);
    }
  }
  GenericRunRelease(&run);
  return rc;
}
