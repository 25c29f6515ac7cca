// Putting the message in hand to the outputs: the context table of open
// and put options, one MQPUT with its two retries, the -A overrides and
// the PCF header repair, and the counting rules for a single queue, a
// distribution list and individual queues.
#include <cstdio>
#include <cstring>

#include "zeplo/engine/engine.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// How each -C choice opens the outputs and puts the messages.
struct ContextRow {
  ContextMode Mode;
  MQLONG OpenOptions;
  MQLONG PutOption;
};
constexpr ContextRow kContextRows[] = {
    {ContextMode::SetAll, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT, MQPMO_SET_ALL_CONTEXT},
    {ContextMode::SetAllUpdateTimes, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT, MQPMO_SET_ALL_CONTEXT},
    {ContextMode::SetIdentity, MQOO_OUTPUT | MQOO_SET_IDENTITY_CONTEXT, MQPMO_SET_IDENTITY_CONTEXT},
    {ContextMode::PassAll, MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT, MQPMO_PASS_ALL_CONTEXT},
    {ContextMode::PassIdentity, MQOO_OUTPUT | MQOO_PASS_IDENTITY_CONTEXT,
     MQPMO_PASS_IDENTITY_CONTEXT},
    {ContextMode::Default, MQOO_OUTPUT, MQPMO_DEFAULT_CONTEXT},
    {ContextMode::None, MQOO_OUTPUT, MQPMO_NO_CONTEXT},
};

const ContextRow& RowFor(ContextMode mode) {
  for (const ContextRow& row : kContextRows) {
    if (row.Mode == mode) return row;
  }
  return kContextRows[0];  // an unknown value behaves as the default
}

// The PCF header's Version sits after Type and StrucLength.
constexpr int64_t kCfhVersionOffset = 8;
constexpr int32_t kCfhRepairedVersion = 3;

bool IsPcfMessage(const MQMD* md) {
  return memcmp(md->Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH) == 0 ||
         memcmp(md->Format, MQFMT_PCF, MQ_FORMAT_LENGTH) == 0;
}

// PCF integers are in the message's own byte order: reversed (little-endian)
// integer encoding, or normal (big-endian) for anything else.
bool LittleEndianIntegers(const MQMD* md) {
  return (md->Encoding & MQENC_INTEGER_MASK) == MQENC_INTEGER_REVERSED;
}

// The MQCFH Version of the message in hand. False when the data in hand is
// too short to hold it.
bool ReadCfhVersion(const Run* run, int32_t* version) {
  if (ReceivedLength(run) < kCfhVersionOffset + 4) return false;
  const unsigned char* p = run->Message.Cursor + kCfhVersionOffset;
  uint32_t v = LittleEndianIntegers(run->Message.Descriptor)
                   ? p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24)
                   : (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
  *version = static_cast<int32_t>(v);
  return true;
}

void WriteCfhVersion(Run* run, int32_t version) {
  unsigned char* p = run->Message.Cursor + kCfhVersionOffset;
  uint32_t v = static_cast<uint32_t>(version);
  for (int i = 0; i < 4; i++) {
    int shift = LittleEndianIntegers(run->Message.Descriptor) ? 8 * i : 8 * (3 - i);
    p[i] = static_cast<unsigned char>(v >> shift);
  }
}

// -O S(CFH3): PCF messages with an old header are raised to version 3.
void RepairCfhVersion(Run* run) {
  int32_t version = 0;
  if (!IsPcfMessage(run->Message.Descriptor) || !ReadCfhVersion(run, &version)) return;
  if (version >= kCfhRepairedVersion) return;
  printf("\nMQCFH updated from %d to %d\n", version, kCfhRepairedVersion);
  WriteCfhVersion(run, kCfhRepairedVersion);
}

// A broker refuses an old PCF header in a version-2 descriptor; the same
// message in a version-1 descriptor is accepted, as long as nothing of the
// version-2 part (grouping, segmentation) would be lost.
bool CanRetryAsVersion1(const Run* run) {
  const MQMD* md = run->Message.Descriptor;
  int32_t version = 0;
  if (md->Version < MQMD_VERSION_2 || run->Message.DataLength < MQCFH_STRUC_LENGTH ||
      !ReadCfhVersion(run, &version) || version > 2) {
    return false;
  }
  static const MQBYTE24 kNoGroup = {0};
  return memcmp(md->GroupId, kNoGroup, sizeof kNoGroup) == 0 && md->MsgSeqNumber == 1 &&
         md->Offset == 0 && md->MsgFlags == 0;
}

void ReportPut(const char* qmgrName, const char* queueName, MQLONG reason) {
  if (queueName == kDistributionListName) {
    char bare[512];
    FormatMqiCall(bare, sizeof bare, "MQPUT", nullptr, nullptr, reason);
    fprintf(stderr, "MQPUT on object '%s' %s", kDistributionListName, bare + strlen("MQPUT "));
    return;
  }
  ReportMqiCall("MQPUT", qmgrName, queueName, reason);
}

// The failed put of this message ends the run.
void SetPutFailure(Run* run, const char* qmgrName, const char* queueName, MQLONG reason) {
  char destination[kDestinationTextSize];
  FormatDestination(qmgrName, queueName, destination, sizeof destination);
  SetExitMessage(run, reason, "MQPUT(%s) failed RC(%d) %s", destination, reason,
                 MqReasonText(reason));
}

}  // namespace

MQLONG OutputOpenOptions(const Run* run) {
  MQLONG openOptions = RowFor(run->Options->Context).OpenOptions;
  if (run->Options->Rate == -1) openOptions |= MQOO_RESOLVE_LOCAL_Q;
  return openOptions;
}

MQLONG PutContextOption(ContextMode mode) { return RowFor(mode).PutOption; }

int PutOneMessage(Run* run, MQHOBJ hobj, const char* qmgrName, const char* queueName,
                  MQPMO* pmo, MQLONG* compCode, MQLONG* reason) {
  QmgrSlot& slot = run->Qmgrs[run->Options->OutputSlot];
  MessageBuffer& m = run->Message;
  MQMD* md = m.Descriptor;
  *compCode = MQCC_OK;
  *reason = MQRC_NONE;

  // Every byte put must be in hand: a shorter buffer would send whatever
  // lies beyond it.
  int64_t length = m.DataLength < 0 ? 0 : m.DataLength;
  if (ReceivedLength(run) < length) {
    *compCode = MQCC_FAILED;
    *reason = MQRC_UNEXPECTED_ERROR;
    return *reason;
  }
  if (run->Options->Cfh3Processing) RepairCfhVersion(run);
  if (run->Options->Context == ContextMode::SetAllUpdateTimes) {
    EpochToMqDateTime(nullptr, md->PutDate, md->PutTime, true);
  }

  // At most one retry of each kind: the asynchronous option is dropped for
  // good, and a version-1 descriptor never qualifies for the second retry.
  for (int attempt = 0; attempt < 3; attempt++) {
    slot.Api->MQPUT(slot.Hconn, hobj, md, pmo, static_cast<MQLONG>(length), m.Cursor, compCode,
                    reason);
    if (run->Options->PrintApis) ReportPut(qmgrName, queueName, *reason);
    if (*compCode != MQCC_FAILED) return 0;
    if (*reason == MQRC_OPTIONS_ERROR && run->Settings.AsyncPut &&
        (pmo->Options & MQPMO_ASYNC_RESPONSE) != 0) {
      run->Settings.AsyncPut = false;
      pmo->Options &= ~MQPMO_ASYNC_RESPONSE;
      continue;
    }
    if (*reason == MQRC_CFH_ERROR && CanRetryAsVersion1(run)) {
      md->Version = MQMD_VERSION_1;
      continue;
    }
    break;
  }
  if (*reason == MQRC_NONE) *reason = MQRC_UNEXPECTED_ERROR;
  return *reason;
}

int PutToOutputs(Run* run, QueueElement* inputQueue) {
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Options = (run->Options->TransactionLimit != 0 ? MQPMO_SYNCPOINT : MQPMO_NO_SYNCPOINT) |
                PutContextOption(run->Options->Context);
  if (run->Settings.AsyncPut) pmo.Options |= MQPMO_ASYNC_RESPONSE;
  pmo.Context = inputQueue != nullptr ? inputQueue->Hobj : MQHO_UNUSABLE_HOBJ;

  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  int32_t puts = 0;
  QueueList* list = run->Options->OutputList;

  const QueueElement* individual = run->Engine.Output.Elements;
  if (list != nullptr && run->Options->IndividualQueues && individual != nullptr) {
    bool failed = false;
    for (int32_t i = 0; i < list->Count; i++) {
      const Destination& d = list->Entries[i];
      MQLONG oneCode = MQCC_OK;
      MQLONG oneReason = MQRC_NONE;
      PutOneMessage(run, individual[i].Hobj, d.QmgrName, d.QueueName, &pmo, &oneCode,
                    &oneReason);
      if (oneCode != MQCC_FAILED) {
        puts++;
      } else if (!failed) {
        failed = true;
        compCode = oneCode;
        reason = oneReason;
        SetPutFailure(run, d.QmgrName, d.QueueName, oneReason);
      }
    }
  } else if (list != nullptr) {
    puts = list->Count;
    MQRR* responses = run->Engine.Output.Responses;
    if (responses != nullptr) {
      memset(static_cast<void*>(responses), 0, sizeof(MQRR) * static_cast<size_t>(list->Count));
    }
    if (pmo.Version < MQPMO_VERSION_2) pmo.Version = MQPMO_VERSION_2;
    pmo.RecsPresent = list->Count;
    pmo.ResponseRecPtr = responses;
    PutOneMessage(run, run->Engine.Output.Hobj, nullptr, kDistributionListName, &pmo, &compCode,
                  &reason);
    if (compCode == MQCC_FAILED || reason == MQRC_MULTIPLE_REASONS) {
      bool named = false;
      for (int32_t i = 0; responses != nullptr && i < list->Count; i++) {
        if (responses[i].CompCode != MQCC_FAILED) continue;
        puts--;
        if (named) continue;
        named = true;
        // A destination that did not get the message fails the put as a
        // whole, as it does for individual queues: under syncpoint the unit
        // goes back and the message stays on its source for every queue.
        compCode = MQCC_FAILED;
        reason = responses[i].Reason != MQRC_NONE ? responses[i].Reason : MQRC_UNEXPECTED_ERROR;
        SetPutFailure(run, list->Entries[i].QmgrName, list->Entries[i].QueueName, reason);
      }
      if (compCode == MQCC_FAILED && !named) {
        SetPutFailure(run, list->Entries[0].QmgrName, list->Entries[0].QueueName, reason);
        puts = 0;
      }
    }
  } else {
    PutOneMessage(run, run->Engine.Output.Hobj, run->Options->OutputQmgrName, run->Options->OutputQueueName,
                  &pmo, &compCode, &reason);
    puts = compCode != MQCC_FAILED ? 1 : 0;
    if (compCode == MQCC_FAILED) {
      SetPutFailure(run, run->Options->OutputQmgrName, run->Options->OutputQueueName, reason);
    }
  }

  run->Engine.PutsForMessage = puts;
  int64_t length = run->Message.DataLength < 0 ? 0 : run->Message.DataLength;
  run->Engine.BytesForMessage = static_cast<int64_t>(puts) * length;
  if (compCode != MQCC_FAILED) reason = MQRC_NONE;                  // warnings are not errors
  if (reason != MQRC_NONE && run->Engine.UseSyncpoint) return reason;  // backed out
  run->Counters.WrittenCount += puts;
  run->Counters.UncommittedWrittenCount += puts;
  run->Counters.WrittenBytes += static_cast<uint64_t>(run->Engine.BytesForMessage);
  run->Counters.UncommittedWrittenBytes += static_cast<uint64_t>(run->Engine.BytesForMessage);
  return reason;
}
