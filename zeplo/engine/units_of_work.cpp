// Units of work: the -t batching rule, commit and backout on one or two
// queue managers. With two queue managers the output side is committed
// first: a failure between the two commits then leaves the messages on
// both queues (a duplicate, which the run reports message by message)
// rather than on neither (a loss). Each side is backed out on its own,
// whatever happened to the other, and the output file goes back with them.
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/mq/mq.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// True when a slot has a connection that a commit or backout can act on.
bool SlotConnected(const Run* run, int slot) {
  if (slot < 0 || slot > 1) return false;
  const QmgrSlot& q = run->Qmgrs[slot];
  return q.Api != nullptr && q.Hconn != MQHC_UNUSABLE_HCONN;
}

void ResetUncommittedCounts(Run* run) {
  run->Counters.UncommittedReadCount = 0;
  run->Counters.UncommittedReadBytes = 0;
  run->Counters.UncommittedWrittenCount = 0;
  run->Counters.UncommittedWrittenBytes = 0;
  run->Counters.UncommittedWrittenFiles = 0;
  run->Engine.UowMessageCount = 0;
  run->Engine.UnitMsgIdCount = 0;
}

// MQBACK on one side, remembering a failure for the disconnect.
int BackoutSide(Run* run, int slot) {
  int rc = BackoutQmgr(run, slot);
  if (slot >= 0 && slot <= 1) run->Engine.BackoutFailed[slot] = rc != 0;
  return rc;
}

// The output side has committed a unit whose gets the input side did not:
// its messages may now be on both queue managers. Says how many, and which.
void ReportUnitOnBothSides(const Run* run) {
  const QmgrSlot& in = run->Qmgrs[run->Options->InputSlot];
  const QmgrSlot& out = run->Qmgrs[run->Options->OutputSlot];
  fprintf(stderr,
          "%d messages committed on queue manager '%s' were not removed for certain from "
          "queue manager '%s': they may now be on both. Their MsgIds:\n",
          run->Engine.UowMessageCount, out.Name, in.Name);
  for (int32_t i = 0; i < run->Engine.UnitMsgIdCount; i++) {
    char hex[2 * MQ_MSG_ID_LENGTH + 1];
    BytesToHex(run->Engine.UnitMsgIds[i], MQ_MSG_ID_LENGTH, hex, 0);
    fprintf(stderr, "  MsgId X'%s'\n", hex);
  }
  if (run->Engine.UnitMsgIdCount < run->Engine.UowMessageCount) {
    fprintf(stderr, "  (%d MsgIds could not be kept)\n",
            run->Engine.UowMessageCount - run->Engine.UnitMsgIdCount);
  }
}

}  // namespace

int CommitQmgr(Run* run, int slot) {
  if (!SlotConnected(run, slot)) return 0;  // nothing can be pending
  QmgrSlot& q = run->Qmgrs[slot];
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  q.Api->MQCMIT(q.Hconn, &compCode, &reason);
  if (run->Options->PrintApis) ReportMqiCall("MQCMIT", q.Name, nullptr, reason);
  if (compCode == MQCC_OK) return 0;
  // A warning counts as failure: the unit's outcome is not known to be a
  // commit. A reason of 0 with a bad completion code must still fail.
  if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
  // Errors never reach a commit (they back out), so this text is the
  // first of the run.
  run->StopRequested = true;
  return SetExitMessage(run, reason, "MQCMIT(%s) failed RC(%d) %s", q.Name, reason,
                        MqReasonText(reason));
}

int BackoutQmgr(Run* run, int slot) {
  if (!SlotConnected(run, slot)) return 0;
  QmgrSlot& q = run->Qmgrs[slot];
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  q.Api->MQBACK(q.Hconn, &compCode, &reason);
  if (run->Options->PrintApis) ReportMqiCall("MQBACK", q.Name, nullptr, reason);
  if (compCode != MQCC_FAILED) return 0;  // a warning is ignored
  if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
  // The error that caused the backout stays the one shown.
  return SetExitMessage(run, reason, "MQBCK(%s) failed RC(%d) %s", q.Name, reason,
                        MqReasonText(reason));
}

int CommitAll(Run* run) {
  if (int synced = MakeOutputDurable(run); synced != 0) return synced;
  int rc = 0;
  if (run->Options->InputSlot == run->Options->OutputSlot) {
    if (run->Engine.UseSyncpoint) rc = CommitQmgr(run, run->Options->InputSlot);
    if (rc != 0) return rc;
  } else {
    rc = CommitQmgr(run, run->Options->OutputSlot);
    if (rc != 0) return rc;
    // The puts are done for good: what is written stays written whatever
    // the input side does next.
    run->Counters.UncommittedWrittenCount = 0;
    run->Counters.UncommittedWrittenBytes = 0;
    if (run->Options->DestructiveGet) {
      rc = CommitQmgr(run, run->Options->InputSlot);
      if (rc != 0) {
        ReportUnitOnBothSides(run);
        return rc;
      }
    }
  }
  ResetUncommittedCounts(run);
  // The file now holds only committed messages: a later backout goes back
  // to here, not further.
  return run->Options->OutputFile[0] != '\0' ? MarkOutputCommitted(run) : 0;
}

int BackoutAll(Run* run) {
  run->RolledBack = true;
  // Each side goes back on its own: a failure on one must not leave the
  // other's unit open for a disconnect to commit.
  int rc = 0;
  if (run->Options->InputSlot != run->Options->OutputSlot)
    rc = BackoutSide(run, run->Options->OutputSlot);
  if (run->Options->InputSlot == run->Options->OutputSlot || run->Options->DestructiveGet) {
    int input = BackoutSide(run, run->Options->InputSlot);
    if (rc == 0) rc = input;
  }
  // The got messages go back to their queue (now, or when the queue
  // manager backs out what a failed backout left), so they leave the file.
  int files = RollBackOutputFiles(run);
  if (rc == 0) rc = files;
  if (rc == 0) run->Engine.UowMessageCount = 0;
  run->Engine.UnitMsgIdCount = 0;
  return rc;
}

void NoteMessageInUnit(Run* run) {
  if (run->Options->InputSlot == run->Options->OutputSlot || !run->Engine.UseSyncpoint ||
      !run->Options->DestructiveGet) {
    return;
  }
  if (run->Engine.UnitMsgIdCount == run->Engine.UnitMsgIdCapacity) {
    int64_t wanted =
        run->Engine.UnitMsgIdCapacity == 0 ? 256 : int64_t{run->Engine.UnitMsgIdCapacity} * 2;
    if (wanted > INT32_MAX / MQ_MSG_ID_LENGTH) return;
    auto* ids = static_cast<MQBYTE24*>(
        CSGetMem(static_cast<size_t>(wanted) * MQ_MSG_ID_LENGTH, "UNITMSGIDS"));
    if (ids == nullptr) return;  // the report says how many it could not keep
    if (run->Engine.UnitMsgIdCount > 0) {
      memcpy(ids, run->Engine.UnitMsgIds,
             static_cast<size_t>(run->Engine.UnitMsgIdCount) * MQ_MSG_ID_LENGTH);
    }
    CSReleaseMem(&run->Engine.UnitMsgIds);
    run->Engine.UnitMsgIds = ids;
    run->Engine.UnitMsgIdCapacity = static_cast<int32_t>(wanted);
  }
  memcpy(run->Engine.UnitMsgIds[run->Engine.UnitMsgIdCount++], run->Engine.TakenDescriptor.MsgId,
         MQ_MSG_ID_LENGTH);
}

void ReleaseUnitRecords(Run* run) {
  CSReleaseMem(&run->Engine.UnitMsgIds);
  run->Engine.UnitMsgIdCount = 0;
  run->Engine.UnitMsgIdCapacity = 0;
  ReleaseUnitFiles(run);
}

int CountInUnit(Run* run) {
  if (!run->Engine.UseSyncpoint) return 0;
  run->Engine.UowMessageCount++;
  if (run->Options->TransactionLimit == -1 ||
      (run->Engine.UowMessageCount < run->Options->TransactionLimit && !PacedByDelay(run))) {
    return 0;
  }
  // The file is not transactional; flushing before the commit means that
  // a committed (removed) message is never only in a stdio buffer.
  int rc = FlushOutputForCommit(run);
  if (rc != 0) return rc;
  return CommitAll(run);
}
