// Units of work: the -t batching rule, commit and backout on one or two
// queue managers. With two queue managers the output side is committed
// first: a failure between the two commits then leaves the messages on
// both queues (a duplicate) rather than on neither (a loss).
#include <cstdio>

#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/mq/mq.h"
#include "zeplo/util/banned.h"

namespace {

// True when a slot has a connection that a commit or backout can act on.
bool SlotConnected(const Run* run, int slot) {
  if (slot < 0 || slot > 1) return false;
  const QmgrSlot& q = run->Qmgrs[slot];
  return q.Api != nullptr && q.Hconn != MQHC_UNUSABLE_HCONN;
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
    if (run->Options->DestructiveGet) {
      rc = CommitQmgr(run, run->Options->InputSlot);
      if (rc != 0) return rc;
    }
  }
  run->Counters.UncommittedReadCount = 0;
  run->Counters.UncommittedReadBytes = 0;
  run->Counters.UncommittedWrittenCount = 0;
  run->Counters.UncommittedWrittenBytes = 0;
  run->Engine.UowMessageCount = 0;
  return 0;
}

int BackoutAll(Run* run) {
  run->RolledBack = true;
  // Until a backout works, the unit may still hold got messages that a
  // disconnect would commit.
  run->Engine.BackoutFailed = true;
  int rc = 0;
  if (run->Options->InputSlot != run->Options->OutputSlot) {
    rc = BackoutQmgr(run, run->Options->OutputSlot);
    if (rc != 0) return rc;
  }
  if (run->Options->InputSlot == run->Options->OutputSlot || run->Options->DestructiveGet) {
    rc = BackoutQmgr(run, run->Options->InputSlot);
    if (rc != 0) return rc;
  }
  run->Engine.BackoutFailed = false;
  run->Engine.UowMessageCount = 0;
  return 0;
}

int CountInUnit(Run* run) {
  if (!run->Engine.UseSyncpoint) return 0;
  run->Engine.UowMessageCount++;
  if (run->Options->TransactionLimit == -1 || run->Engine.UowMessageCount < run->Options->TransactionLimit) {
    return 0;
  }
  // The file is not transactional; flushing before the commit means that
  // a committed (removed) message is never only in a stdio buffer.
  int rc = FlushOutputForCommit(run);
  if (rc != 0) return rc;
  return CommitAll(run);
}
