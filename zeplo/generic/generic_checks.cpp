// The checks made before a generic unload or load touches anything, with
// their questions: files already in the directory, roll-over sequences,
// unreadable files, and queues that cannot be opened or are not empty.
#include <cstdio>
#include <cstring>

#include "zeplo/generic/generic.h"
#include "zeplo/mq/mq.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// Lists the group heads whose Selected flag is `selected`; a group of
// roll-over files shows where it ends. Returns how many were listed.
int ListHeads(const QueueFileEntry* list, bool selected) {
  int listed = 0;
  for (const QueueFileEntry* e = list; e != nullptr; e = e->Next) {
    if (!e->GroupHead || e->Selected != selected) continue;
    if (e->Indexed && e->Index != e->MaxIndex)
      fprintf(stderr, "%s[-> %c%d]\n", e->Path, '$', e->MaxIndex);
    else
      fprintf(stderr, "%s\n", e->Path);
    listed++;
  }
  return listed;
}

// What to do with files of queues that are not being unloaded: 'c', 'd'
// or 'q'. The end of input quits.
char AskContinueDeleteQuit(FILE* in) {
  for (;;) {
    fputs("What would you like to do? (c)ontinue, (d)elete the files, (q)uit ", stderr);
    fflush(stderr);
    char line[100];
    if (fgets(line, sizeof line, in) == nullptr) return 'q';
    if (strchr(line, '\n') == nullptr) {
      int c;
      do c = fgetc(in);
      while (c != EOF && c != '\n');
    }
    if (line[0] == 'c' || line[0] == 'd' || line[0] == 'q') return line[0];
  }
}

// Opens `queue` on queue-manager slot `slot` with `openOptions`, then,
// when asked, inquires its depth into *depth, and closes it. Returns the
// open's reason.
MQLONG ProbeQueue(QmgrSlot& slot, const char* queue, MQLONG openOptions, MQLONG* depth) {
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, queue);
  MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
  MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
  slot.Api->MQOPEN(slot.Hconn, &od, openOptions, &hobj, &compCode, &reason);
  if (compCode == MQCC_FAILED) return reason != MQRC_NONE ? reason : MQRC_UNEXPECTED_ERROR;
  if (depth != nullptr) {
    MQLONG selector = MQIA_CURRENT_Q_DEPTH, value = 0;
    MQLONG inqCode = MQCC_OK, inqReason = MQRC_NONE;
    slot.Api->MQINQ(slot.Hconn, hobj, 1, &selector, 1, &value, 0, nullptr, &inqCode, &inqReason);
    *depth = inqCode == MQCC_FAILED ? 0 : value;
  }
  slot.Api->MQCLOSE(slot.Hconn, &hobj, MQCO_NONE, &compCode, &reason);
  return 0;
}

// The index sequence of every group of roll-over files. True when a file
// is missing (each gap printed).
bool IndexGaps(const Run* run, const QueueFileEntry* list) {
  const FileState* files = &run->Files;
  bool gaps = false;
  for (const QueueFileEntry* e = list; e != nullptr; e = e->Next) {
    if (!e->Indexed) continue;
    if (e->GroupHead && e->Index != 1) {
      fprintf(stderr, "Indexed File '%s%s%c%d%s' should start at index 1\n",
              files->GenericDirectory, e->BaseName, '$', e->MinIndex, files->GenericFileType);
      gaps = true;
    }
    const QueueFileEntry* next = e->Next;
    if (next != nullptr && !next->GroupHead && next->Index != e->Index + 1) {
      fprintf(stderr, "Indexed File '%s%s%c%d%s' appears to be missing\n",
              files->GenericDirectory, e->BaseName, '$', e->Index + 1, files->GenericFileType);
      gaps = true;
    }
  }
  return gaps;
}

}  // namespace

int CheckExistingFiles(Run* run, FILE* in) {
  const GenericRun* lists = &run->Generic;
  if (!run->Options->ForceOverwrite && ListHeads(lists->ExistingFiles, true) > 0) {
    if (!AskYes("\nThese files already exist and will be deleted.\n"
                "Are you sure you want to continue? ",
                in))
      return MQRC_OBJECT_ALREADY_EXISTS;
    fputs("\n", stderr);
  }
  bool deleteOthers = false;
  if (ListHeads(lists->ExistingFiles, false) > 0) {
    fputs("\nThese files already exist and will not be affected by the download."
          "\nHowever, they could affect and contaminate a future upload.\n",
          stderr);
    char answer = AskContinueDeleteQuit(in);
    if (answer == 'q') return MQRC_OBJECT_ALREADY_EXISTS;
    deleteOthers = answer == 'd';
    fputs("\n", stderr);
  }
  for (const QueueFileEntry* e = lists->ExistingFiles; e != nullptr; e = e->Next) {
    if (!e->Selected && !deleteOthers) continue;
    if (remove(e->Path) != 0) {
      fprintf(stderr, "Attempt to delete file '%s' failed.\n", e->Path);
      return MQRC_OBJECT_ALREADY_EXISTS;
    }
  }
  int failure = 0;
  for (const QueueFileEntry* q = lists->QueueFiles; q != nullptr; q = q->Next) {
    MQLONG reason = ProbeQueue(run->Qmgrs[run->Options->InputSlot], q->QueueName,
                               MQOO_BROWSE | MQOO_FAIL_IF_QUIESCING, nullptr);
    if (reason == 0) continue;
    fprintf(stderr, "%-48s RC(%d) %s\n", q->QueueName, reason, MqReasonText(reason));
    failure = reason;
  }
  if (failure != 0 &&
      !AskYes("\nError accessing these queues.\nAre you sure you want to continue? ", in))
    return failure;
  return 0;
}

int CheckLoadFiles(Run* run, FILE* in) {
  const GenericRun* lists = &run->Generic;
  if (IndexGaps(run, lists->QueueFiles)) return MQRC_OBJECT_ALREADY_EXISTS;
  int unreadable = 0;
  for (const QueueFileEntry* e = lists->QueueFiles; e != nullptr; e = e->Next) {
    FILE* f = fopen(e->Path, "r");
    if (f != nullptr) {
      fclose(f);
      continue;
    }
    fprintf(stderr, "%s\n", e->Path);
    unreadable++;
  }
  if (unreadable > 0) {
    if (!AskYes("\nThese files can not be read.\nAre you sure you want to continue? ", in))
      return MQRC_OBJECT_ALREADY_EXISTS;
    fputs("\n", stderr);
  }
  int problem = 0;
  for (const QueueFileEntry* e = lists->QueueFiles; e != nullptr; e = e->Next) {
    if (!e->GroupHead) continue;
    MQLONG depth = 0;
    MQLONG reason = ProbeQueue(run->Qmgrs[run->Options->OutputSlot], e->QueueName,
                               MQOO_INQUIRE | MQOO_OUTPUT | MQOO_FAIL_IF_QUIESCING, &depth);
    if (reason != 0) {
      fprintf(stderr, "%-48s RC(%d) %s\n", e->QueueName, reason, MqReasonText(reason));
      problem = reason;
    } else if (depth != 0) {
      fprintf(stderr, "%-48s Not empty.\n", e->QueueName);
      problem = MQRC_Q_NOT_EMPTY;
    }
  }
  if (problem == 0) return 0;
  if (!AskYes("\nThere are potential problems with these queues.\n"
              "Are you sure you want to continue? ",
              in))
    return problem;
  fputs("\n", stderr);
  return 0;
}
