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
int RequeueToBackoutQueue(RunOptions* options, QueueElement* inputQueue) {
  QmgrSlot& slot = options->Qmgrs[options->InputSlot];
  MessageBuffer& m = options->Message;
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  if (inputQueue->BackoutHobj == MQHO_UNUSABLE_HOBJ) {
    MQOD od = {MQOD_DEFAULT};
    SetMqField(od.ObjectName, inputQueue->BackoutQueueName);
    slot.Api->MQOPEN(slot.Hconn, &od, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT, &inputQueue->BackoutHobj,
                     &compCode, &reason);
    int rc =
        CheckMqiCall(options, "MQOPEN", slot.Name, inputQueue->BackoutQueueName, compCode, reason);
    if (rc != 0) {
      inputQueue->BackoutHobj = MQHO_UNUSABLE_HOBJ;
      return rc;
    }
  }
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Options = (options->TransactionLimit != 0 ? MQPMO_SYNCPOINT : MQPMO_NO_SYNCPOINT) |
                MQPMO_SET_ALL_CONTEXT;
  slot.Api->MQPUT(slot.Hconn, inputQueue->BackoutHobj, m.Descriptor, &pmo,
                  m.DataLength < 0 ? 0 : m.DataLength, m.Cursor, &compCode, &reason);
  int rc =
      CheckMqiCall(options, "MQPUT", slot.Name, inputQueue->BackoutQueueName, compCode, reason);
  if (rc == 0) return 0;
  return SetExitMessage(options, rc, "MQPUT(%s) failed RC(%d) %s", inputQueue->BackoutQueueName, rc,
                        MqReasonText(rc));
}

int WriteToOutputFile(RunOptions* options) {
  int64_t countBefore = options->WrittenCount;
  uint64_t bytesBefore = options->WrittenBytes;
  int rc = WriteMessage(options);
  // What the writer counted is also what the open unit of work has done.
  options->UncommittedWrittenCount += options->WrittenCount - countBefore;
  options->UncommittedWrittenBytes += options->WrittenBytes - bytesBefore;
  if (options->WrittenCount != countBefore && options->OutputStream != nullptr) {
    options->UnflushedCount++;
  }
  return rc;
}

}  // namespace

int DeliverMessage(RunOptions* options, QueueElement* inputQueue) {
  if (options->Delay != 0 || options->RelativeDelay) DelayMessage(options);
  if (options->StripHeaders) StripMessageHeaders(options);
  // The queue summary (-ds) takes the message here once it is built; the
  // driver refuses it until then.
  // Only a message taken off its queue is requeued: a browse never changes
  // a queue, so a browsed message goes where every other one goes.
  if (!options->NoBackout && options->DestructiveGet && inputQueue != nullptr &&
      inputQueue->BackoutThreshold > 0 &&
      options->Message.Descriptor->BackoutCount >= inputQueue->BackoutThreshold) {
    return RequeueToBackoutQueue(options, inputQueue);
  }
  if (options->OutputHobj != MQHO_UNUSABLE_HOBJ || options->OutputList != nullptr) {
    int rc = PutToOutputs(options, inputQueue);
    if (rc == 0) NoteMessageInUnit(options);
    return rc;
  }
  return WriteToOutputFile(options);
}

int MakeOutputRoom(RunOptions* options, const QueueElement* inputQueue) {
  int64_t length = options->Message.DataLength < 0 ? 0 : options->Message.DataLength;
  bool wasOpen = options->OutputStream != nullptr;
  int rc = PrepareOutputFile(options, length, inputQueue != nullptr ? inputQueue->Name : nullptr);
  // A file closed (and perhaps reopened) by the roll-over was flushed.
  if (!wasOpen || options->OutputStream == nullptr || options->FileMessageCount == 0) {
    options->UnflushedCount = 0;
  }
  return rc;
}

int FlushOutputForCommit(RunOptions* options) {
  if (options->UnflushedCount == 0 || options->OutputStream == nullptr) {
    options->UnflushedCount = 0;
    return 0;
  }
  // A stream may report a failed write only through its error flag.
  if (fflush(options->OutputStream) != 0 || ferror(options->OutputStream)) {
    int error = errno != 0 ? errno : EIO;
    return SetExitMessage(options, MQRC_RESOURCE_PROBLEM, "Error flushing data to file '%s'RC(%d)",
                          options->CurrentOutputFile, error);
  }
  options->UnflushedCount = 0;
  return 0;
}
