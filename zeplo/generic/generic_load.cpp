// Generic load: the message files of a directory back onto the queues
// their names give, one queue (one group of roll-over files) at a time,
// each through the processing loop reading a file.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

// Directory scan: keeps the files of ordinary queues that an output mask
// names (the first matching mask decides).
int AddLoadFile(Run* run, QueueFileEntry* entry, void*) {
  if (!IsOrdinaryQueue(run, entry->QueueName)) return 0;
  const RunOptions* options = run->Options;
  const QueueList* masks = options->OutputList;
  bool wanted = false;
  if (masks == nullptr) {
    wanted = MatchQueueMask(options, entry->QueueName, options->OutputQueueName);
  } else {
    for (int32_t i = 0; i < masks->Count && !wanted; ++i) {
      char mask[kMqNameLength + 1];
      CopyMqName(mask, masks->Entries[i].QueueName, kMqNameLength, kMqNameLength);
      wanted = MatchQueueMask(options, entry->QueueName, mask);
    }
  }
  return wanted ? AddQueueFileEntry(run, entry, &run->Generic.QueueFiles) : 0;
}

// Bytes of every file of the group that `head` starts.
int64_t GroupBytes(const QueueFileEntry* head) {
  int64_t total = 0;
  for (const QueueFileEntry* e = head; e != nullptr && (e == head || !e->GroupHead); e = e->Next) {
    struct stat st;
    if (stat(e->Path, &st) == 0) total += static_cast<int64_t>(st.st_size);
  }
  return total;
}

// Loads the group `head` starts from its opened first file onto `hobj`
// in a run of its own, *queueRun over *queueOptions. Returns the loop's
// code.
int LoadGroup(const Run* run, const QueueFileEntry* head, MQHOBJ hobj, FILE* stream,
              RunOptions* queueOptions, Run* queueRun) {
  StartQueueRun(run, queueOptions, queueRun);
  snprintf(queueOptions->InputFile, sizeof queueOptions->InputFile, "%s", head->Path);
  snprintf(queueOptions->OutputQueueName, sizeof queueOptions->OutputQueueName, "%s",
           head->QueueName);
  // The files after the first are found by number, $2 onwards.
  queueOptions->InputFileHasInserts = head->Indexed;
  FileState* files = &queueRun->Files;
  snprintf(files->GenericBaseName, sizeof files->GenericBaseName, "%s", head->BaseName);
  StartProgress(queueRun, GroupBytes(head));
  files->InputStream = stream;
  snprintf(files->CurrentInputFile, sizeof files->CurrentInputFile, "%s", head->Path);
  queueRun->Counters.ReadFiles = 1;
  queueRun->Engine.Output.Hobj = hobj;
  fflush(stdout);
  queueRun->Counters.MessageIndex = -1;
  int rc = RunProcessingLoop(queueRun, nullptr);
  CloseInputFile(queueRun);
  EndProgress(queueRun, false);
  queueRun->Engine.Output.Hobj = MQHO_UNUSABLE_HOBJ;  // the caller closes it
  return rc;
}

int32_t LoadAll(Run* run, int32_t* queues) {
  QmgrSlot& slot = run->Qmgrs[run->Options->OutputSlot];
  int32_t messages = 0;
  for (const QueueFileEntry* head = run->Generic.QueueFiles; head != nullptr; head = head->Next) {
    if (!head->GroupHead) continue;
    printf("%-48s ", head->QueueName);
    MQOD od = {MQOD_DEFAULT};
    SetMqField(od.ObjectName, head->QueueName);
    SetMqField(od.ObjectQMgrName, slot.Name);
    MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    slot.Api->MQOPEN(slot.Hconn, &od, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT | MQOO_FAIL_IF_QUIESCING,
                     &hobj, &compCode, &reason);
    if (compCode == MQCC_FAILED) {
      printf("RC(%d) %s\n", reason, MqReasonText(reason));
      fflush(stdout);
      continue;
    }
    char mode[21];
    FileAccessModeFor(run->Options->FileAccessMode, 'r', mode);
    FILE* stream = fopen(head->Path, mode);
    if (stream == nullptr) {
      printf("File Error RC(%d)\n", errno);
    } else {
      RunOptions queueOptions;
      Run queueRun;
      int rc = LoadGroup(run, head, hobj, stream, &queueOptions, &queueRun);
      EndQueueRun(run, &queueRun);
      (*queues)++;
      messages += static_cast<int32_t>(queueRun.Counters.WrittenCount);
      if (rc == 0)
        printf("%-6d Done.\n", static_cast<int>(queueRun.Counters.WrittenCount));
      else
        printf("RC(%d) %s\n", rc, MqReasonText(rc));
      fflush(stdout);
      if (queueRun.ExitMessage[0] != '\0')
        fprintf(stderr, "%.*s\n", kExitMessageLength - 1, queueRun.ExitMessage);
    }
    slot.Api->MQCLOSE(slot.Hconn, &hobj, MQCO_NONE, &compCode, &reason);
    fflush(stdout);
  }
  return messages;
}

}  // namespace

int GenericLoad(Run* run) {
  const RunOptions* options = run->Options;
  // Files are loaded onto queues only: a file-to-file run has no connection.
  const QmgrSlot& slot = run->Qmgrs[options->OutputSlot];
  if (options->OutputQueueName[0] == '\0' || slot.Api == nullptr ||
      slot.Hconn == MQHC_UNUSABLE_HCONN) {
    fputs("A generic load needs output queue names.\n", stderr);
    return MQRC_OPTIONS_ERROR;
  }
  if (ParseGenericFileSpec(run, options->InputFile) != 0) return MQRC_OPTIONS_ERROR;
  int rc = ScanGenericDirectory(run, AddLoadFile, nullptr);
  GroupQueueFiles(run->Generic.QueueFiles);
  if (rc == 0 && run->Generic.QueueFiles == nullptr)
    fputs("No matching ZEPLO files found.\n", stderr);
  if (rc == 0 && run->Generic.QueueFiles != nullptr) rc = CheckLoadFiles(run, stdin);
  if (rc == 0 && run->Generic.QueueFiles != nullptr) {
    int32_t queues = 0;
    int32_t messages = LoadAll(run, &queues);
    printf("\nTotal : %d Queues, %d Messages\n", queues, messages);
  }
  GenericRunRelease(&run->Generic);
  return rc;
}
