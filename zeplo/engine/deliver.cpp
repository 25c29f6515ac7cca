// DeliverMessage: one selected message to its sink, in a fixed order:
// delay, header stripping, backout requeue, and then the output queues or
// the output file.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/mq/mq.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// A message backed out too often goes to its queue's backout queue rather
// than to the outputs. Returns 0 or the MQOPEN/MQPUT reason.
int RequeueToBackoutQueue(Run* run, QueueElement* inputQueue) {
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  MessageBuffer& m = run->Message;
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  if (inputQueue->BackoutHobj == MQHO_UNUSABLE_HOBJ) {
    MQOD od = {MQOD_DEFAULT};
    SetMqField(od.ObjectName, inputQueue->BackoutQueueName);
    slot.Api->MQOPEN(slot.Hconn, &od, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT, &inputQueue->BackoutHobj,
                     &compCode, &reason);
    int rc =
        CheckMqiCall(run, "MQOPEN", slot.Name, inputQueue->BackoutQueueName, compCode, reason);
    if (rc != 0) {
      inputQueue->BackoutHobj = MQHO_UNUSABLE_HOBJ;
      return rc;
    }
  }
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Options = (run->Options->TransactionLimit != 0 ? MQPMO_SYNCPOINT : MQPMO_NO_SYNCPOINT) |
                MQPMO_SET_ALL_CONTEXT;
  slot.Api->MQPUT(slot.Hconn, inputQueue->BackoutHobj, m.Descriptor, &pmo,
                  m.DataLength < 0 ? 0 : m.DataLength, m.Cursor, &compCode, &reason);
  int rc =
      CheckMqiCall(run, "MQPUT", slot.Name, inputQueue->BackoutQueueName, compCode, reason);
  if (rc == 0) return 0;
  return SetExitMessage(run, rc, "MQPUT(%s) failed RC(%d) %s", inputQueue->BackoutQueueName, rc,
                        MqReasonText(rc));
}

// The -A fields replace the message's own wherever it is delivered: a
// queue, a message file or a converted file all show the overridden
// descriptor.
void ApplyOverrides(const Run* run, MQMD* md) {
  const MQMD* o = &run->Options->Override;
  uint32_t fields = run->Options->OverrideFields;
  if (fields == 0) return;
  if (fields & kOverrideCodedCharSetId) md->CodedCharSetId = o->CodedCharSetId;
  if (fields & kOverridePriority) md->Priority = o->Priority;
  if (fields & kOverrideMsgType) md->MsgType = o->MsgType;
  if (fields & kOverrideExpiry) md->Expiry = o->Expiry;
  if (fields & kOverrideReplyTo) {
    memcpy(md->ReplyToQ, o->ReplyToQ, sizeof md->ReplyToQ);
    memcpy(md->ReplyToQMgr, o->ReplyToQMgr, sizeof md->ReplyToQMgr);
  }
  if (fields & kOverrideFormat) memcpy(md->Format, o->Format, sizeof md->Format);
}

int WriteToOutputFile(Run* run) {
  int64_t countBefore = run->Counters.WrittenCount;
  uint64_t bytesBefore = run->Counters.WrittenBytes;
  int rc = WriteMessage(run);
  // What the writer counted is also what the open unit of work has done.
  run->Counters.UncommittedWrittenCount += run->Counters.WrittenCount - countBefore;
  run->Counters.UncommittedWrittenBytes += run->Counters.WrittenBytes - bytesBefore;
  if (run->Counters.WrittenCount != countBefore && run->Files.OutputStream != nullptr) {
    run->Engine.UnflushedCount++;
  }
  return rc;
}

}  // namespace

int DeliverMessage(Run* run, QueueElement* inputQueue) {
  if (run->Options->Delay != 0 || run->Options->RelativeDelay) DelayMessage(run);
  if (run->Options->StripHeaders) StripMessageHeaders(run);
  if (run->Options->Summary) {  // -ds: counted, never put or written
    AccumulateStatistics(run, &run->Engine.Summary);
    return 0;
  }
  // Only a message taken off its queue is requeued: a browse never changes
  // a queue, so a browsed message goes where every other one goes.
  if (!run->Settings.NoBackout && run->Options->DestructiveGet && inputQueue != nullptr &&
      inputQueue->BackoutThreshold > 0 &&
      run->Message.Descriptor->BackoutCount >= inputQueue->BackoutThreshold) {
    return RequeueToBackoutQueue(run, inputQueue);
  }
  ApplyOverrides(run, run->Message.Descriptor);
  if (run->Engine.Output.Hobj != MQHO_UNUSABLE_HOBJ || run->Options->OutputList != nullptr) {
    int rc = PutToOutputs(run, inputQueue);
    if (rc == 0) NoteMessageInUnit(run);
    return rc;
  }
  return WriteToOutputFile(run);
}

int MakeOutputRoom(Run* run, const QueueElement* inputQueue) {
  int64_t length = run->Message.DataLength < 0 ? 0 : run->Message.DataLength;
  bool wasOpen = run->Files.OutputStream != nullptr;
  int rc = PrepareOutputFile(run, length, inputQueue != nullptr ? inputQueue->Name : nullptr);
  // A file closed (and perhaps reopened) by the roll-over was flushed.
  if (!wasOpen || run->Files.OutputStream == nullptr || run->Files.FileMessageCount == 0) {
    run->Engine.UnflushedCount = 0;
  }
  return rc;
}

int FlushOutputForCommit(Run* run) {
  if (run->Engine.UnflushedCount == 0 || run->Files.OutputStream == nullptr) {
    run->Engine.UnflushedCount = 0;
    return 0;
  }
  // A stream may report a failed write only through its error flag.
  if (fflush(run->Files.OutputStream) != 0 || ferror(run->Files.OutputStream)) {
    int error = errno != 0 ? errno : EIO;
    return SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Error flushing data to file '%s'RC(%d)",
                          run->Files.CurrentOutputFile, error);
  }
  run->Engine.UnflushedCount = 0;
  return 0;
}
