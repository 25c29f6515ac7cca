// Queue input: opening the input queues, releasing the message storage
// (grown by the files layer's GrowMessageStorage, shared by every reader),
// and the MQGET cycle with its wait, match, conversion and end-of-queue
// rules.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/cs/cs.h"
#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int32_t kUnlimitedWaitSeconds = 3600;  // one MQGET wait, re-issued
constexpr int32_t kWaitSliceSeconds = 1;         // the longest single MQGET wait
constexpr MQLONG kBrowseOptions =
    MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT | MQGMO_BROWSE_MSG_UNDER_CURSOR;

int OpenOneInputQueue(Run* run, QueueElement* element, const char* qmgrName, MQLONG openOptions) {
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  MQOD od = {MQOD_DEFAULT};
  od.Version = MQOD_VERSION_3;  // the resolved names come back from version 3
  SetMqField(od.ObjectName, element->Name);
  // A queue manager named with the queue goes to the queue manager, which
  // opens its own queue and refuses another's (2045 for input): dropping
  // it would read the connected queue manager's queue of that name.
  SetMqField(od.ObjectQMgrName, qmgrName);
  if (run->Options->Selector != nullptr) {
    od.Version = MQOD_VERSION_4;
    od.SelectionString.VSPtr = run->Options->Selector;
    od.SelectionString.VSLength = static_cast<MQLONG>(strlen(run->Options->Selector));
  }
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQOPEN(slot.Hconn, &od, openOptions, &element->Hobj, &compCode, &reason);
  if (compCode == MQCC_FAILED && reason == MQRC_NOT_AUTHORIZED &&
      (openOptions & MQOO_INQUIRE) != 0) {
    fprintf(stderr,
            "Cannot open queue '%s' for inquire. Backout requeue processing "
            "is disabled, ZEPLO will continue.\n",
            element->Name);
    run->Settings.NoBackout = true;
    openOptions &= ~MQOO_INQUIRE;
    slot.Api->MQOPEN(slot.Hconn, &od, openOptions, &element->Hobj, &compCode, &reason);
  }
  const char* shownQmgr = qmgrName[0] != '\0' ? qmgrName : slot.Name;
  int rc = CheckMqiCall(run, "MQOPEN", shownQmgr, element->Name, compCode, reason);
  if (rc != 0) {
    element->Hobj = MQHO_UNUSABLE_HOBJ;
    return rc;
  }
  CopyMqName(element->ResolvedName, od.ResolvedQName, MQ_Q_NAME_LENGTH);
  CopyMqName(element->ResolvedQmgrName, od.ResolvedQMgrName, MQ_Q_MGR_NAME_LENGTH);
  return 0;
}

// Backout queue, threshold and limits of one opened queue. A failure is
// reported but not fatal: the queue is then read without backout requeue.
void InquireInputQueue(Run* run, QueueElement* element) {
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  MQLONG selectors[4] = {MQCA_BACKOUT_REQ_Q_NAME, MQIA_BACKOUT_THRESHOLD, MQIA_MAX_Q_DEPTH,
                         MQIA_MAX_MSG_LENGTH};
  MQLONG values[3] = {0, 0, 0};
  char backoutName[MQ_Q_NAME_LENGTH];
  memset(backoutName, ' ', sizeof backoutName);
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQINQ(slot.Hconn, element->Hobj, 4, selectors, 3, values, MQ_Q_NAME_LENGTH, backoutName,
                  &compCode, &reason);
  if (CheckMqiCall(run, "MQINQ", slot.Name, element->Name, compCode, reason) != 0) return;
  int nameLength = 0;
  CopyMqName(element->BackoutQueueName, backoutName, MQ_Q_NAME_LENGTH, MQ_Q_NAME_LENGTH,
             &nameLength);
  element->BackoutThreshold = nameLength > 0 ? values[0] : 0;
  element->MaxDepth = values[1];
  element->MaxMsgLength = values[2];
}

// Part of GetQueueMessage: what to do when the queue has no message.
// Returns 0 to try again, 1 when the read is over (StopRequested), or an
// error code.
int NoMessageAvailable(Run* run, MQGMO* gmo, int64_t now) {
  if (run->Options->Rate != 0 && run->Options->RateDuration != 0) {
    // Replaying the queue until the rate's end time.
    if (run->Counters.ReadCount == 0) {
      SetExitMessage(run, 0, "%s",
                     "'Required rate' processing not possible since the source "
                     "queue is empty.\n");
      run->StopRequested = true;
      return 1;
    }
    gmo->Options = (gmo->Options & ~MQGMO_BROWSE_NEXT) | MQGMO_BROWSE_FIRST;
    return 0;
  }
  // Nothing written is left in a buffer and nothing got is left
  // uncommitted while the run waits for more.
  int rc = FlushOutputForCommit(run);
  if (rc != 0) return rc;
  if (run->Engine.UowMessageCount > 0 && run->Options->TransactionLimit != -1) {
    rc = CommitAll(run);
    if (rc != 0) return rc;
  }
  if (run->Options->WaitInterval == -1) return 0;
  if (now - run->Engine.LastMessageTime >= run->Options->WaitInterval) {
    run->StopRequested = true;
    return 1;
  }
  return 0;
}

// The wait of the next MQGET into gmo: what is left of -w, cut to the age
// an open output file may still reach (-La); an output file that is old
// enough is closed first. No wait while a unit of work or unflushed
// output is pending (the no-message path commits and flushes first), nor
// for the browsed message under the cursor. Returns 0 or the close's code.
int SetGetWait(Run* run, bool underCursor, int64_t now, MQGMO* gmo) {
  const RunOptions* o = run->Options;
  FileState& files = run->Files;
  // The browsed message is there or it is not: never wait for it.
  int32_t wait = underCursor ? 0 : GetWaitSeconds(run, now);
  if (files.OutputStream != nullptr && files.FileMessageCount > 0 && o->MaxFileAge > 0) {
    int64_t age = now - files.FileOpenTime;
    if (age < o->MaxFileAge) {
      int64_t left = o->MaxFileAge - age;
      if (left < wait) wait = static_cast<int32_t>(left);
    } else {
      // The file is old enough: close it now rather than after the wait,
      // the next message opens the next file.
      int rc = CloseOutputFile(run);
      if (rc != 0) return rc;
      run->Engine.UnflushedCount = 0;
    }
  }
  bool waitOn;
  if (wait == 0) {
    waitOn = false;
  } else if (run->Engine.UowMessageCount > 0 && o->TransactionLimit != -1) {
    waitOn = false;  // commit the partial unit first (no-message path)
  } else if (files.OutputStream == nullptr) {
    waitOn = true;
  } else {
    waitOn = run->Engine.UnflushedCount == 0;  // flush first, then wait
  }
  if (waitOn) {
    // Waited for in slices, so that a stop signal is seen within one; an
    // empty queue brings the caller back here until the wait is over.
    gmo->Options |= MQGMO_WAIT;
    gmo->WaitInterval = (wait < kWaitSliceSeconds ? wait : kWaitSliceSeconds) * 1000;
  } else {
    gmo->Options &= ~MQGMO_WAIT;
    gmo->WaitInterval = 0;
  }
  return 0;
}

// True when the get handed over a message. A conversion warning
// (MQRC_FORMAT_ERROR for MQFMT_NONE data, the CCSID and encoding errors,
// MQRC_NOT_CONVERTED) still hands it over unconverted, and a destructive
// get has taken it: treating it as a failure would stop the run on every
// binary message of a -c unload and, outside syncpoint, lose the message.
bool HandsOverMessage(MQLONG compCode, MQLONG reason) {
  bool conversionWarning = compCode == MQCC_WARNING && reason >= MQRC_FORMAT_ERROR &&
                           reason <= MQRC_CONVERTED_MSG_TOO_BIG;
  return compCode != MQCC_FAILED &&
         (reason == MQRC_NONE || reason == MQRC_TRUNCATED_MSG_ACCEPTED || conversionWarning);
}

// A message got: the time -w counts from and, for one taken off its queue,
// the descriptor as got, which a rescue or the report of a unit needs
// whatever delivery changes in it.
void NoteGot(Run* run, const MQGMO& gmo, MQLONG dataLength) {
  run->Engine.LastMessageTime = time(nullptr);
  if ((gmo.Options & kBrowseOptions) != 0) return;
  run->Engine.TakenDescriptor = *run->Message.Descriptor;
  run->Engine.TakenLength = dataLength;
  run->Engine.TakenData = run->Message.Storage;
}

}  // namespace

void ReleaseMessageStorage(Run* run) {
  MessageBuffer& m = run->Message;
  if (m.Storage != nullptr) {
    if (run->Options->MemoryTrace) fprintf(stderr, "Freeing %p\n", static_cast<void*>(m.Storage));
    CSFreeMem(m.Storage);
  }
  if (m.PropStorage != nullptr) {
    if (run->Options->MemoryTrace) fprintf(stderr, "Freeing %p\n", static_cast<void*>(m.PropStorage));
    CSFreeMem(m.PropStorage);
  }
  m.Storage = nullptr;
  m.Capacity = 0;
  m.Cursor = nullptr;
  m.DataLength = 0;
  m.PropStorage = nullptr;
  m.PropCapacity = 0;
  m.Descriptor = &m.OwnDescriptor;
}

int64_t ReceivedLength(const Run* run) {
  const MessageBuffer& m = run->Message;
  if (m.Storage == nullptr || m.Cursor == nullptr || m.DataLength <= 0) return 0;
  // A reader may hand us a cursor into a buffer that is not Storage (the
  // consume callback); then the reader vouches for DataLength.
  if (m.Cursor < m.Storage || m.Cursor > m.Storage + m.Capacity) return m.DataLength;
  int64_t room = m.Storage + m.Capacity - m.Cursor;
  // A descriptor-only get leaves nothing of the data in the storage; the
  // file and log readers always hand over the whole message.
  if (run->Settings.NoData && !NeedsMessageData(run) && run->Options->InputList != nullptr &&
      !run->Options->LogMode) {
    return 0;
  }
  return m.DataLength < room ? m.DataLength : room;
}

bool NeedsMessageData(const Run* run) {
  const SearchString* lists[] = {run->Options->SearchAscii,  run->Options->SearchAsciiNot,
                                 run->Options->SearchEbcdic, run->Options->SearchEbcdicNot,
                                 run->Options->SearchHex,    run->Options->SearchHexNot};
  for (const SearchString* list : lists) {
    if (list[0].Length > 0) return true;
  }
  return run->Options->SelectByDlqReason || run->Options->SelectByTarget || run->Options->StripHeaders;
}

MQLONG SetGetOptions(const Run* run, MQLONG gmoOptions, bool underCursor) {
  if (!run->Settings.NoForceRfh2) gmoOptions |= MQGMO_PROPERTIES_FORCE_MQRFH2;
  MQLONG syncpoint = run->Options->TransactionLimit != 0 ? MQGMO_SYNCPOINT : MQGMO_NO_SYNCPOINT;
  if (underCursor) {
    gmoOptions |= MQGMO_MSG_UNDER_CURSOR | syncpoint;
  } else if (!run->Options->DestructiveGet || run->Settings.SelectionActive) {
    // Browses never run under syncpoint: nothing is taken by them.
    gmoOptions |= MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT;
  } else {
    gmoOptions |= syncpoint;
  }
  return gmoOptions;
}

void SetGetMatching(const Run* run, MQMD* md, MQGMO* gmo) {
  const RunOptions* o = run->Options;
  if (o->SelectByMsgId) memcpy(md->MsgId, o->SelectMsgId, sizeof md->MsgId);
  if (o->SelectByCorrelId) memcpy(md->CorrelId, o->SelectCorrelId, sizeof md->CorrelId);
  if (o->SelectByGroupId) {
    memcpy(md->GroupId, o->SelectGroupId, sizeof md->GroupId);
    gmo->MatchOptions |= MQMO_MATCH_GROUP_ID;
    if (gmo->Version < MQGMO_VERSION_2) gmo->Version = MQGMO_VERSION_2;
  }
  if (o->Convert) {
    gmo->Options |= MQGMO_CONVERT;
    md->CodedCharSetId = o->ConvertCcsid;
    md->Encoding = o->ConvertEncoding;
  }
}

int32_t GetWaitSeconds(const Run* run, int64_t now) {
  if (run->Options->WaitInterval == 0) return 0;
  if (run->Options->WaitInterval == -1) return kUnlimitedWaitSeconds;
  int64_t left = run->Options->WaitInterval - (now - run->Engine.LastMessageTime);
  if (left < 0) return 0;
  return left > run->Options->WaitInterval ? run->Options->WaitInterval : static_cast<int32_t>(left);
}

int OpenInputQueues(Run* run) {
  QueueList* list = run->Options->InputList;
  if (list == nullptr || list->Count <= 0) return 0;
  if (!run->Options->DestructiveGet || run->Options->Purge) run->Settings.SelectionActive = false;

  MQLONG openOptions;
  if (run->Options->DestructiveGet) {
    openOptions = run->Options->ExclusiveInput ? MQOO_INPUT_EXCLUSIVE : MQOO_INPUT_SHARED;
    if (run->Settings.SelectionActive) openOptions |= MQOO_BROWSE;
  } else {
    openOptions = MQOO_BROWSE;
    if (run->Options->ExclusiveInput) openOptions |= MQOO_INPUT_EXCLUSIVE;
  }
  if (run->Options->Context == ContextMode::PassAll || run->Options->Context == ContextMode::PassIdentity) {
    // Context is saved only by a get that takes the message; a browse
    // has nothing to pass on. A selection browses first, but the message
    // put is the one then got under the cursor, which saves it.
    if (!run->Options->DestructiveGet) {
      fprintf(stderr, "To pass context you must GET the source message not browse\n");
      return MQRC_CONTEXT_NOT_AVAILABLE;
    }
    openOptions |= MQOO_SAVE_ALL_CONTEXT;
  }
  if (!run->Settings.NoBackout) openOptions |= MQOO_INQUIRE;
  const RunOptions* o = run->Options;
  if (o->DestructiveGet && !run->Settings.SelectionActive && !o->Purge &&
      o->TransactionLimit == 0 && o->OutputFile[0] != '\0' && strcmp(o->OutputFile, "null") != 0) {
    // Outside syncpoint a got message is gone from its queue at once. Each
    // message is browsed first and taken only once the output file it goes
    // to is open (an overwrite refused, a missing directory or a roll-over
    // name in the way then leave it on its queue).
    run->Settings.SelectionActive = true;
    openOptions |= MQOO_BROWSE;
  }

  size_t bytes = sizeof(QueueElement) * static_cast<size_t>(list->Count);
  QueueElement* elements = static_cast<QueueElement*>(CSGetMem(bytes, "HOBJS"));
  if (elements == nullptr) {
    fprintf(stderr, "Can not allocate queue element array. Max queues = %d\n", list->Count);
    return MQRC_OPTIONS_ERROR;
  }
  memset(static_cast<void*>(elements), 0, bytes);
  // Opened again (another run of the loop over the same list): the old
  // array's handles belong to the same connection and are not reused.
  ReleaseInputQueues(run);
  run->Engine.Input.Elements = elements;
  run->Engine.Input.Count = list->Count;
  for (int32_t i = 0; i < list->Count; i++) {
    elements[i].Hobj = MQHO_UNUSABLE_HOBJ;
    elements[i].BackoutHobj = MQHO_UNUSABLE_HOBJ;
    CopyMqName(elements[i].Name, list->Entries[i].QueueName, MQ_Q_NAME_LENGTH, MQ_Q_NAME_LENGTH);
  }

  for (int32_t i = 0; i < list->Count; i++) {
    // NoBackout may be switched on by the first queue's refused inquire.
    MQLONG thisOpen = run->Settings.NoBackout ? (openOptions & ~MQOO_INQUIRE) : openOptions;
    int rc = OpenOneInputQueue(run, &elements[i], list->Entries[i].QmgrName, thisOpen);
    if (rc != 0) return rc;
    if (!run->Settings.NoBackout) InquireInputQueue(run, &elements[i]);
  }
  return 0;
}

void ReleaseInputQueues(Run* run) {
  InputQueues& input = run->Engine.Input;
  CSReleaseMem(&input.Elements);
  input = InputQueues{};
}

void ReleaseEngineQueues(Run* run) {
  ReleaseInputQueues(run);
  ReleaseOutputQueues(run);
}

int GetQueueMessage(Run* run, QueueElement* element, bool underCursor) {
  MessageBuffer& m = run->Message;
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  if (element == nullptr || slot.Api == nullptr) return MQRC_UNEXPECTED_ERROR;
  MQGMO gmo = {MQGMO_DEFAULT};
  gmo.Options = SetGetOptions(run, gmo.Options, underCursor);
  bool descriptorOnly = run->Settings.NoData && !NeedsMessageData(run);
  MQLONG baseOptions = gmo.Options;

  for (;;) {
    // Between two gets of a wait nothing is in hand: a boundary too.
    if (PendingStopSignal() != 0) return StopForSignal(run);
    m.Descriptor = &m.OwnDescriptor;
    ResetDescriptorDefaults(m.Descriptor);
    MQMD* md = m.Descriptor;
    int64_t now = time(nullptr);
    gmo.Options = baseOptions;

    int rc = SetGetWait(run, underCursor, now, &gmo);
    if (rc != 0) return rc;
    SetGetMatching(run, md, &gmo);
    MQLONG bufferLength = m.Capacity;
    if (descriptorOnly) {
      gmo.Options |= MQGMO_ACCEPT_TRUNCATED_MSG;
      bufferLength = 0;
    }

    MQLONG dataLength = 0;
    MQLONG compCode = MQCC_OK;
    MQLONG reason = MQRC_NONE;
    slot.Api->MQGET(slot.Hconn, element->Hobj, md, &gmo, bufferLength, m.Storage, &dataLength,
                    &compCode, &reason);
    if (run->Options->PrintApis) ReportMqiCall("MQGET", slot.Name, element->Name, reason);
    m.DataLength = dataLength;
    m.Cursor = m.Storage;

    if (HandsOverMessage(compCode, reason)) {
      NoteGot(run, gmo, dataLength);
      return 0;
    }
    if (reason == MQRC_TRUNCATED_MSG_FAILED && dataLength > m.Capacity) {
      rc = GrowMessageStorage(run, dataLength);
      if (rc != 0) return rc;
      // A browse that did not fit has still moved the cursor onto the
      // message: browsing "next" again would skip it, so it is read again
      // under the cursor.
      if ((baseOptions & (MQGMO_BROWSE_NEXT | MQGMO_BROWSE_FIRST)) != 0) {
        baseOptions = (baseOptions & ~(MQGMO_BROWSE_NEXT | MQGMO_BROWSE_FIRST)) |
                      MQGMO_BROWSE_MSG_UNDER_CURSOR;
      }
      continue;
    }
    if (reason == MQRC_NO_MSG_AVAILABLE && !underCursor) {
      m.DataLength = 0;
      rc = NoMessageAvailable(run, &gmo, time(nullptr));
      if (rc == 1) return 0;
      if (rc != 0) return rc;
      baseOptions = gmo.Options & ~MQGMO_WAIT;
      continue;
    }
    m.DataLength = 0;
    if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
    // A message taken by someone else between browse and get is not an
    // error of this run: the caller skips it without a text.
    if (underCursor && reason == MQRC_NO_MSG_UNDER_CURSOR) return reason;
    return SetExitMessage(run, reason, "MQGET(%s) failed RC(%d) %s", element->Name, reason,
                          MqReasonText(reason));
  }
}
