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
bool SlotConnected(const RunOptions* options, int slot) {
  if (slot < 0 || slot > 1) return false;
  const QmgrSlot& q = options->Qmgrs[slot];
  return q.Api != nullptr && q.Hconn != MQHC_UNUSABLE_HCONN;
}

void ResetUncommittedCounts(RunOptions* options) {
  options->UncommittedReadCount = 0;
  options->UncommittedReadBytes = 0;
  options->UncommittedWrittenCount = 0;
  options->UncommittedWrittenBytes = 0;
  options->UncommittedWrittenFiles = 0;
  options->UowMessageCount = 0;
  options->UnitMsgIdCount = 0;
}

// MQBACK on one side, remembering a failure for the disconnect.
int BackoutSide(RunOptions* options, int slot) {
  int rc = BackoutQmgr(options, slot);
  if (slot >= 0 && slot <= 1) options->BackoutFailed[slot] = rc != 0;
  return rc;
}

// The output side has committed a unit whose gets the input side did not:
// its messages may now be on both queue managers. Says how many, and which.
void ReportUnitOnBothSides(const RunOptions* options) {
  const QmgrSlot& in = options->Qmgrs[options->InputSlot];
  const QmgrSlot& out = options->Qmgrs[options->OutputSlot];
  fprintf(stderr,
          "%d messages committed on queue manager '%s' were not removed for certain from "
          "queue manager '%s': they may now be on both. Their MsgIds:\n",
          options->UowMessageCount, out.Name, in.Name);
  for (int32_t i = 0; i < options->UnitMsgIdCount; i++) {
    char hex[2 * MQ_MSG_ID_LENGTH + 1];
    BytesToHex(options->UnitMsgIds[i], MQ_MSG_ID_LENGTH, hex, 0);
    fprintf(stderr, "  MsgId X'%s'\n", hex);
  }
  if (options->UnitMsgIdCount < options->UowMessageCount) {
    fprintf(stderr, "  (%d MsgIds could not be kept)\n",
            options->UowMessageCount - options->UnitMsgIdCount);
  }
}

}  // namespace

int CommitQmgr(RunOptions* options, int slot) {
  if (!SlotConnected(options, slot)) return 0;  // nothing can be pending
  QmgrSlot& q = options->Qmgrs[slot];
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  q.Api->MQCMIT(q.Hconn, &compCode, &reason);
  if (options->PrintApis) ReportMqiCall("MQCMIT", q.Name, nullptr, reason);
  if (compCode == MQCC_OK) return 0;
  // A warning counts as failure: the unit's outcome is not known to be a
  // commit. A reason of 0 with a bad completion code must still fail.
  if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
  // Overwrites on purpose: a failed commit outranks any informational text
  // left by the cycle (errors never reach a commit, they back out).
  snprintf(options->ExitMessage, sizeof options->ExitMessage, "MQCMIT(%s) failed RC(%d) %s", q.Name,
           reason, MqReasonText(reason));
  options->StopRequested = true;
  return reason;
}

int BackoutQmgr(RunOptions* options, int slot) {
  if (!SlotConnected(options, slot)) return 0;
  QmgrSlot& q = options->Qmgrs[slot];
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  q.Api->MQBACK(q.Hconn, &compCode, &reason);
  if (options->PrintApis) ReportMqiCall("MQBACK", q.Name, nullptr, reason);
  if (compCode != MQCC_FAILED) return 0;  // a warning is ignored
  if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
  // The error that caused the backout stays the one shown.
  return SetExitMessage(options, reason, "MQBCK(%s) failed RC(%d) %s", q.Name, reason,
                        MqReasonText(reason));
}

int CommitAll(RunOptions* options) {
  int rc = 0;
  if (options->InputSlot == options->OutputSlot) {
    if (options->UseSyncpoint) rc = CommitQmgr(options, options->InputSlot);
    if (rc != 0) return rc;
  } else {
    rc = CommitQmgr(options, options->OutputSlot);
    if (rc != 0) return rc;
    // The puts are done for good: what is written stays written whatever
    // the input side does next.
    options->UncommittedWrittenCount = 0;
    options->UncommittedWrittenBytes = 0;
    if (options->DestructiveGet) {
      rc = CommitQmgr(options, options->InputSlot);
      if (rc != 0) {
        ReportUnitOnBothSides(options);
        return rc;
      }
    }
  }
  ResetUncommittedCounts(options);
  // The file now holds only committed messages: a later backout goes back
  // to here, not further.
  return options->OutputFile[0] != '\0' ? MarkOutputCommitted(options) : 0;
}

int BackoutAll(RunOptions* options) {
  options->RolledBack = true;
  // Each side goes back on its own: a failure on one must not leave the
  // other's unit open for a disconnect to commit.
  int rc = 0;
  if (options->InputSlot != options->OutputSlot) rc = BackoutSide(options, options->OutputSlot);
  if (options->InputSlot == options->OutputSlot || options->DestructiveGet) {
    int input = BackoutSide(options, options->InputSlot);
    if (rc == 0) rc = input;
  }
  // The got messages go back to their queue (now, or when the queue
  // manager backs out what a failed backout left), so they leave the file.
  int files = RollBackOutputFiles(options);
  if (rc == 0) rc = files;
  if (rc == 0) options->UowMessageCount = 0;
  options->UnitMsgIdCount = 0;
  return rc;
}

void NoteMessageInUnit(RunOptions* options) {
  if (options->InputSlot == options->OutputSlot || !options->UseSyncpoint ||
      !options->DestructiveGet) {
    return;
  }
  if (options->UnitMsgIdCount == options->UnitMsgIdCapacity) {
    int64_t wanted =
        options->UnitMsgIdCapacity == 0 ? 256 : int64_t{options->UnitMsgIdCapacity} * 2;
    if (wanted > INT32_MAX / MQ_MSG_ID_LENGTH) return;
    auto* ids = static_cast<MQBYTE24*>(
        CSGetMem(static_cast<size_t>(wanted) * MQ_MSG_ID_LENGTH, "UNITMSGIDS"));
    if (ids == nullptr) return;  // the report says how many it could not keep
    if (options->UnitMsgIdCount > 0) {
      memcpy(ids, options->UnitMsgIds,
             static_cast<size_t>(options->UnitMsgIdCount) * MQ_MSG_ID_LENGTH);
    }
    CSReleaseMem(&options->UnitMsgIds);
    options->UnitMsgIds = ids;
    options->UnitMsgIdCapacity = static_cast<int32_t>(wanted);
  }
  memcpy(options->UnitMsgIds[options->UnitMsgIdCount++], options->TakenDescriptor.MsgId,
         MQ_MSG_ID_LENGTH);
}

void ReleaseUnitRecords(RunOptions* options) {
  CSReleaseMem(&options->UnitMsgIds);
  options->UnitMsgIdCount = 0;
  options->UnitMsgIdCapacity = 0;
  ReleaseUnitFiles(options);
}

int CountInUnit(RunOptions* options) {
  if (!options->UseSyncpoint) return 0;
  options->UowMessageCount++;
  if (options->TransactionLimit == -1 ||
      (options->UowMessageCount < options->TransactionLimit && !PacedByDelay(options))) {
    return 0;
  }
  // The file is not transactional; flushing before the commit means that
  // a committed (removed) message is never only in a stdio buffer.
  int rc = FlushOutputForCommit(options);
  if (rc != 0) return rc;
  return CommitAll(options);
}
