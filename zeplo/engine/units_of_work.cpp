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
bool SlotConnected(const RunOptions* options, int slot) {
  if (slot < 0 || slot > 1) return false;
  const QmgrSlot& q = options->Qmgrs[slot];
  return q.Api != nullptr && q.Hconn != MQHC_UNUSABLE_HCONN;
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
  if (int synced = MakeOutputDurable(options); synced != 0) return synced;
  int rc = 0;
  if (options->InputSlot == options->OutputSlot) {
    if (options->UseSyncpoint) rc = CommitQmgr(options, options->InputSlot);
    if (rc != 0) return rc;
  } else {
    rc = CommitQmgr(options, options->OutputSlot);
    if (rc != 0) return rc;
    if (options->DestructiveGet) {
      rc = CommitQmgr(options, options->InputSlot);
      if (rc != 0) return rc;
    }
  }
  options->UncommittedReadCount = 0;
  options->UncommittedReadBytes = 0;
  options->UncommittedWrittenCount = 0;
  options->UncommittedWrittenBytes = 0;
  options->UowMessageCount = 0;
  return 0;
}

int BackoutAll(RunOptions* options) {
  options->RolledBack = true;
  // Until a backout works, the unit may still hold got messages that a
  // disconnect would commit.
  options->BackoutFailed = true;
  int rc = 0;
  if (options->InputSlot != options->OutputSlot) {
    rc = BackoutQmgr(options, options->OutputSlot);
    if (rc != 0) return rc;
  }
  if (options->InputSlot == options->OutputSlot || options->DestructiveGet) {
    rc = BackoutQmgr(options, options->InputSlot);
    if (rc != 0) return rc;
  }
  options->BackoutFailed = false;
  options->UowMessageCount = 0;
  return 0;
}

int CountInUnit(RunOptions* options) {
  if (!options->UseSyncpoint) return 0;
  options->UowMessageCount++;
  if (options->TransactionLimit == -1 || options->UowMessageCount < options->TransactionLimit) {
    return 0;
  }
  // The file is not transactional; flushing before the commit means that
  // a committed (removed) message is never only in a stdio buffer.
  int rc = FlushOutputForCommit(options);
  if (rc != 0) return rc;
  return CommitAll(options);
}
