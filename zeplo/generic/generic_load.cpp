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
int AddLoadFile(RunOptions* options, QueueFileEntry* entry, void* context) {
  GenericRun* run = static_cast<GenericRun*>(context);
  if (!IsOrdinaryQueue(options, entry->QueueName)) return 0;
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
  return wanted ? AddQueueFileEntry(options, entry, &run->QueueFiles) : 0;
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

// Loads the group `head` starts from its opened first file onto `hobj`.
// Returns the loop's code.
int LoadGroup(RunOptions* options, const QueueFileEntry* head, MQHOBJ hobj, FILE* stream) {
  ResetRunCounters(options);
  StartProgress(options, GroupBytes(head));
  // The files after the first are found by number, $2 onwards.
  options->InputFileHasInserts = head->Indexed;
  options->InputStream = stream;
  options->ReadFiles = 1;
  snprintf(options->CurrentInputFile, sizeof options->CurrentInputFile, "%s", head->Path);
  options->OutputHobj = hobj;
  fflush(stdout);
  options->MessageIndex = -1;
  int rc = RunProcessingLoop(options, nullptr, options->Interactive);
  CloseInputFile(options);
  EndProgress(options, false);
  options->OutputHobj = MQHO_UNUSABLE_HOBJ;
  return rc;
}

int32_t LoadAll(RunOptions* options, GenericRun* run, int32_t* queues) {
  QmgrSlot& slot = options->Qmgrs[options->OutputSlot];
  int32_t messages = 0;
  for (const QueueFileEntry* head = run->QueueFiles; head != nullptr; head = head->Next) {
    if (!head->GroupHead) continue;
    snprintf(options->InputFile, sizeof options->InputFile, "%s", head->Path);
    snprintf(options->OutputQueueName, sizeof options->OutputQueueName, "%s", head->QueueName);
    snprintf(options->GenericBaseName, sizeof options->GenericBaseName, "%s", head->BaseName);
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
    } else {
      char mode[21];
      FileAccessModeFor(options->FileAccessMode, 'r', mode);
      FILE* stream = fopen(head->Path, mode);
      if (stream == nullptr) {
        printf("File Error RC(%d)\n", errno);
      } else {
        int rc = LoadGroup(options, head, hobj, stream);
        (*queues)++;
        messages += static_cast<int32_t>(options->WrittenCount);
        if (rc == 0)
          printf("%-6d Done.\n", static_cast<int>(options->WrittenCount));
        else
          printf("RC(%d) %s\n", rc, MqReasonText(rc));
      }
      slot.Api->MQCLOSE(slot.Hconn, &hobj, MQCO_NONE, &compCode, &reason);
    }
    fflush(stdout);
    if (options->ExitMessage[0] != '\0') {
      fprintf(stderr, "%.*s\n", kExitMessageLength - 1, options->ExitMessage);
      options->ExitMessage[0] = '\0';
    }
  }
  return messages;
}

}  // namespace

int GenericLoad(RunOptions* options) {
  // Files are loaded onto queues only: a file-to-file run has no connection.
  const QmgrSlot& slot = options->Qmgrs[options->OutputSlot];
  if (options->OutputQueueName[0] == '\0' || slot.Api == nullptr ||
      slot.Hconn == MQHC_UNUSABLE_HCONN) {
    fputs("A generic load needs output queue names.\n", stderr);
    return MQRC_OPTIONS_ERROR;
  }
  if (ParseGenericFileSpec(options, options->InputFile) != 0) return MQRC_OPTIONS_ERROR;
  GenericRun run{};
  int rc = ScanGenericDirectory(options, AddLoadFile, &run);
  GroupQueueFiles(run.QueueFiles);
  if (rc == 0 && run.QueueFiles == nullptr) fputs("No matching ZEPLO files found.\n", stderr);
  if (rc == 0 && run.QueueFiles != nullptr) rc = CheckLoadFiles(options, &run, stdin);
  if (rc == 0 && run.QueueFiles != nullptr) {
    QueueListRelease(&options->OutputList);  // each queue is opened on its own
    int32_t queues = 0;
    int32_t messages = LoadAll(options, &run, &queues);
    printf("\nTotal : %d Queues, %d Messages\n", queues, messages);
  }
  GenericRunRelease(&run);
  return rc;
}
