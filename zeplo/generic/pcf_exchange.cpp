// The two requests to the command server: Inquire Queue for generic
// unload and Inquire Queue Status for the queue summary. Each sends one
// PCF request with a temporary dynamic queue as its ReplyToQ and reads the
// replies, one PCF message each, until the one marked MQCFC_LAST.
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/engine/engine.h"
#include "zeplo/generic/generic.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr const char kCommandQueue[] = "SYSTEM.ADMIN.COMMAND.QUEUE";
constexpr const char kModelQueue[] = "SYSTEM.DEFAULT.MODEL.QUEUE";
constexpr MQLONG kReplyWaitMs = 10000;

// The queue managers whose command server takes no status inquiry.
bool StatusInquiryPossible(const QmgrSlot& slot) {
  return slot.Platform != MQPL_ZOS && (slot.CommandLevel == 0 || slot.CommandLevel >= 915);
}

// Opens a temporary dynamic queue for the replies; its name goes to `name`
// (49 bytes). Returns the MQOPEN completion and reason.
void OpenReplyQueue(QmgrSlot& slot, MQHOBJ* hobj, char* name, MQLONG* compCode,
                    MQLONG* reason) {
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, kModelQueue);
  SetMqField(od.DynamicQName, "AMQ.*");
  slot.Api->MQOPEN(slot.Hconn, &od, MQOO_INPUT_SHARED | MQOO_FAIL_IF_QUIESCING, hobj, compCode,
                   reason);
  CopyMqNameN(name, kMqNameLength + 1, od.ObjectName, MQ_Q_NAME_LENGTH, 0, nullptr);
}

// The descriptor of a request: IBM MQ's defaults with MsgType request,
// Format MQADMIN and the reply queue.
MQMD RequestDescriptor(const char* replyQueue) {
  MQMD md = {MQMD_DEFAULT};
  md.MsgType = MQMT_REQUEST;
  memcpy(md.Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH);
  SetMqField(md.ReplyToQ, replyQueue);
  return md;
}

MQPMO RequestPutOptions() {
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Options = MQPMO_NO_SYNCPOINT | MQPMO_FAIL_IF_QUIESCING;
  return pmo;
}

// Gets the next reply into the area (grown when a reply does not fit, so
// a long reply is read rather than refused). *length gets its length.
void GetReply(QmgrSlot& slot, MQHOBJ hobj, unsigned char** area, int32_t* areaSize,
              MQLONG* length, MQLONG* compCode, MQLONG* reason) {
  for (;;) {
    MQMD md = {MQMD_DEFAULT};  // MsgId and CorrelId none: replies in arrival order
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = MQGMO_WAIT | MQGMO_NO_SYNCPOINT | MQGMO_FAIL_IF_QUIESCING | MQGMO_CONVERT;
    gmo.WaitInterval = kReplyWaitMs;
    *length = 0;
    slot.Api->MQGET(slot.Hconn, hobj, &md, &gmo, *areaSize, *area, length, compCode, reason);
    if (*reason != MQRC_TRUNCATED_MSG_FAILED || *length <= *areaSize ||
        *length > INT32_MAX - kPcfReserve)
      return;
    unsigned char* bigger = static_cast<unsigned char*>(
        CSGetMem(static_cast<size_t>(*length) + kPcfReserve, "MQPCF Area"));
    if (bigger == nullptr) return;
    CSFreeMem(*area);
    *area = bigger;
    *areaSize = *length;
  }
}

// What the Inquire Queue exchange keeps between replies.
struct InquireState {
  Run* Owner;
  PcfQueueHandler Handler;
  void* Context;
};

// Reads the parameters of one Inquire Queue reply. Returns 0 or the
// parser's reason.
int ReadQueueInfo(PcfContext* reply, PcfQueueInfo* info) {
  memset(info, 0, sizeof *info);
  PcfParameter p;
  int rc;
  while ((rc = PcfNextParameter(reply, &p)) == 0) {
    if (p.Type == MQCFT_INTEGER) {
      MQLONG v = PcfReadLong(p.Value);
      if (p.Parameter == MQIA_DEFINITION_TYPE) info->DefinitionType = v;
      if (p.Parameter == MQIA_Q_TYPE) info->Type = v;
      if (p.Parameter == MQIA_CURRENT_Q_DEPTH) info->Depth = v;
    } else if (p.Type == MQCFT_STRING && p.Parameter == MQCA_Q_NAME) {
      CopyMqNameN(info->Name, sizeof info->Name, reinterpret_cast<const char*>(p.Value), p.Length,
                  kMqNameLength, nullptr);
    }
  }
  return rc == kPcfNoMoreParameters ? 0 : rc;
}

// Handles one Inquire Queue reply of `length` bytes in the area. Sets
// *last when it is marked MQCFC_LAST; *stop when the exchange must end.
int HandleQueueReply(InquireState* state, unsigned char* area, MQLONG length, bool* last,
                     bool* stop) {
  PcfContext reply;
  MQLONG command = 0;
  int rc = PcfStartReply(&reply, area, length, &command);
  if (rc != 0) {
    // Without a whole header there is no telling whether more follow.
    fprintf(stderr, "Failed to parse command server response. RC(%d) %s\n", rc, MqReasonText(rc));
    *stop = true;
    return rc;
  }
  MQCFH header;
  memcpy(&header, area, sizeof header);
  *last = (header.Control & MQCFC_LAST) != 0;
  if (command != MQCMD_INQUIRE_Q) {
    fprintf(stderr, "Wrong command server response. CMD(%d)\n", command);
    return MQRCCF_COMMAND_REPLY_ERROR;
  }
  if (header.Reason != 0) {
    fprintf(stderr, "Command Server Response failure. RC(%d) %s\n", header.Reason,
            MqReasonText(header.Reason));
    return header.Reason;
  }
  PcfQueueInfo info;
  rc = ReadQueueInfo(&reply, &info);
  if (rc != 0) {
    // A reply damaged part way is not taken as the description of a queue.
    fprintf(stderr, "Failed to parse command server response. RC(%d) %s\n", rc, MqReasonText(rc));
    return rc;
  }
  rc = state->Handler(state->Owner, &info, state->Context);
  if (rc != 0) *stop = true;
  return rc;
}

// Reads the Inquire Queue replies from `hobj`. Returns the exchange's result.
int ReadQueueReplies(InquireState* state, MQHOBJ hobj, unsigned char** area, int32_t areaSize) {
  QmgrSlot& slot = state->Owner->Qmgrs[state->Owner->Options->InputSlot];
  int result = 0;
  for (;;) {
    MQLONG length = 0, compCode = MQCC_OK, reason = MQRC_NONE;
    GetReply(slot, hobj, area, &areaSize, &length, &compCode, &reason);
    if (compCode == MQCC_FAILED) {
      if (reason == MQRC_NO_MSG_AVAILABLE)
        fputs("No response from command server.\n", stderr);
      else
        fprintf(stderr, "MQGET failed for 'Query Queue' command. RC(%d) %s\n", reason,
                MqReasonText(reason));
      return reason;
    }
    bool last = false, stop = false;
    result = HandleQueueReply(state, *area, length < areaSize ? length : areaSize, &last, &stop);
    if (last || stop) return result;
  }
}

}  // namespace

void GenericQueueName(const Run* run, char* out) {
  const QueueList* list = run->Options->InputList;
  char mask[kMqNameLength + 1] = "*";
  if (list != nullptr && list->Count == 1)
    CopyMqName(mask, list->Entries[0].QueueName, kMqNameLength, kMqNameLength);
  char* cut = strchr(mask, '*');
  if (cut != nullptr) *cut = '\0';
  char* unknown = strchr(mask, '?');
  if (unknown != nullptr) cut = unknown;
  if (cut != nullptr) {
    cut[0] = '*';
    cut[1] = '\0';
  }
  snprintf(out, kMqNameLength + 1, "%s", mask);
}

int InquireQueues(Run* run, PcfQueueHandler handler, void* context) {
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
  MQHOBJ commandQueue = MQHO_UNUSABLE_HOBJ, replyQueue = MQHO_UNUSABLE_HOBJ;
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, kCommandQueue);
  slot.Api->MQOPEN(slot.Hconn, &od, MQOO_OUTPUT | MQOO_FAIL_IF_QUIESCING, &commandQueue,
                   &compCode, &reason);
  if (compCode == MQCC_FAILED) {
    fprintf(stderr, "Can not open SYSTEM.ADMIN.COMMAND.QUEUE. RC(%d) %s\n", reason,
            MqReasonText(reason));
    return reason;
  }
  char replyName[kMqNameLength + 1];
  OpenReplyQueue(slot, &replyQueue, replyName, &compCode, &reason);
  if (compCode == MQCC_FAILED) {
    fprintf(stderr, "Can not open SYSTEM.DEFAULT.MODEL.QUEUE. RC(%d) %s\n", reason,
            MqReasonText(reason));
    return reason;
  }
  // Both queues stay open until the disconnect, which removes the
  // temporary one with whatever replies are left on it.
  PcfContext request;
  unsigned char* area = nullptr;
  int rc = PcfStartRequest(&request, &area, MQCMD_INQUIRE_Q, slot.Platform == MQPL_ZOS);
  char name[kMqNameLength + 1];
  GenericQueueName(run, name);
  MQLONG type = MQQT_LOCAL;
  const MQLONG attrs[] = {MQCA_Q_NAME, MQIA_Q_TYPE, MQIA_CURRENT_Q_DEPTH, MQIA_DEFINITION_TYPE};
  if (rc == 0) {
    MQCFH* header = reinterpret_cast<MQCFH*>(area);
    if (header->Version < MQCFH_VERSION_2) header->Version = MQCFH_VERSION_2;
    rc = PcfAddParameter(&request, MQCFT_STRING, MQCA_Q_NAME, name, -1);
  }
  if (rc == 0) rc = PcfAddParameter(&request, MQCFT_INTEGER, MQIA_Q_TYPE, &type, 4);
  if (rc == 0) rc = PcfAddParameter(&request, MQCFT_INTEGER_LIST, MQIACF_Q_ATTRS, attrs, sizeof attrs);
  if (rc != 0) {
    fprintf(stderr, "Failed to allocate command buffer. RC(%d) %s\n", rc, MqReasonText(rc));
    CSReleaseMem(&area);
    return rc;
  }
  MQMD md = RequestDescriptor(replyName);
  MQPMO pmo = RequestPutOptions();
  slot.Api->MQPUT(slot.Hconn, commandQueue, &md, &pmo, request.Position, area, &compCode, &reason);
  if (compCode == MQCC_FAILED) {
    fprintf(stderr, "Failed to MQPUT 'Query Queue' command. RC(%d) %s\n", reason,
            MqReasonText(reason));
    CSReleaseMem(&area);
    return reason;
  }
  InquireState state{run, handler, context};
  rc = ReadQueueReplies(&state, replyQueue, &area, request.Size);
  CSReleaseMem(&area);
  return rc;
}

namespace {

// Reads the Inquire Queue Status replies into `element` until the last.
void ReadStatusReplies(Run* run, QueueElement* element, MQHOBJ hobj, unsigned char** area,
                       int32_t areaSize) {
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  for (;;) {
    MQLONG length = 0, compCode = MQCC_OK, reason = MQRC_NONE;
    GetReply(slot, hobj, area, &areaSize, &length, &compCode, &reason);
    if (CheckMqiCall(run, "MQGET", slot.Name, element->Name, compCode, reason) != 0) {
      if (reason == MQRC_NO_MSG_AVAILABLE) fputs("No response from command server.\n", stderr);
      return;
    }
    PcfContext reply;
    MQLONG command = 0;
    int rc = PcfStartReply(&reply, *area, length < areaSize ? length : areaSize, &command);
    if (rc != 0) {
      fprintf(stderr, "Failed to parse command server response. RC(%d) %s\n", rc,
              MqReasonText(rc));
      return;
    }
    MQCFH header;
    memcpy(&header, *area, sizeof header);
    if (CheckMqiCall(run, "Inquire Queue Status", slot.Name, element->Name,
                     header.Reason != 0 ? MQCC_FAILED : MQCC_OK, header.Reason) != 0)
      return;
    PcfParameter p;
    while ((rc = PcfNextParameter(&reply, &p)) == 0) {
      if (p.Type != MQCFT_INTEGER) continue;
      if (p.Parameter == MQIACF_CUR_Q_FILE_SIZE) element->QueueFileSize = PcfReadLong(p.Value);
      if (p.Parameter == MQIACF_CUR_MAX_FILE_SIZE)
        element->MaxQueueFileSize = PcfReadLong(p.Value);
    }
    if (rc != kPcfNoMoreParameters) {
      fprintf(stderr, "Failed to parse command server response. RC(%d) %s\n", rc,
              MqReasonText(rc));
      return;
    }
    if ((header.Control & MQCFC_LAST) != 0) return;
  }
}

}  // namespace

void InquireQueueStatus(Run* run, QueueElement* element) {
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  if (element == nullptr || !StatusInquiryPossible(slot)) return;
  MQHOBJ replyQueue = MQHO_UNUSABLE_HOBJ;
  MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
  char replyName[kMqNameLength + 1];
  OpenReplyQueue(slot, &replyQueue, replyName, &compCode, &reason);
  if (CheckMqiCall(run, "MQOPEN", slot.Name, kModelQueue, compCode, reason) != 0) return;

  PcfContext request;
  unsigned char* area = nullptr;
  // The status type goes in its own parameter: a command server refuses
  // MQIA_Q_TYPE (20) in this command.
  MQLONG statusType = MQIACF_Q_STATUS;
  const MQLONG attrs[] = {MQIACF_CUR_Q_FILE_SIZE, MQIACF_CUR_MAX_FILE_SIZE};
  int rc = PcfStartRequest(&request, &area, MQCMD_INQUIRE_Q_STATUS, false);
  if (rc == 0) rc = PcfAddParameter(&request, MQCFT_STRING, MQCA_Q_NAME, element->Name, -1);
  if (rc == 0)
    rc = PcfAddParameter(&request, MQCFT_INTEGER, MQIACF_Q_STATUS_TYPE, &statusType, 4);
  if (rc == 0)
    rc = PcfAddParameter(&request, MQCFT_INTEGER_LIST, MQIACF_Q_STATUS_ATTRS, attrs, sizeof attrs);
  if (rc != 0) {
    fprintf(stderr, "Failed to allocate command buffer. RC(%d) %s\n", rc, MqReasonText(rc));
  } else {
    MQOD od = {MQOD_DEFAULT};
    SetMqField(od.ObjectName, kCommandQueue);
    MQMD md = RequestDescriptor(replyName);
    MQPMO pmo = RequestPutOptions();
    slot.Api->MQPUT1(slot.Hconn, &od, &md, &pmo, request.Position, area, &compCode, &reason);
    if (CheckMqiCall(run, "MQPUT1", slot.Name, kCommandQueue, compCode, reason) == 0)
      ReadStatusReplies(run, element, replyQueue, &area, request.Size);
  }
  CSReleaseMem(&area);
  slot.Api->MQCLOSE(slot.Hconn, &replyQueue, MQCO_NONE, &compCode, &reason);
  CheckMqiCall(run, "MQCLOSE", slot.Name, replyName, compCode, reason);
}
