// The data of an "AQM Put Message" record of the queue manager's recovery
// log, as its formatter dumps it: the 160-byte log record header, the
// 268-byte descriptor part, 20 unused bytes, then the first piece of the
// message data. Integers are in the platform's byte order. localqm's log
// writer and zeplo's log reader both go by this one definition.
//
// Not part of the MQI proper: the layout IBM MQ's formatted log shows.
#ifndef MQI_MQ_LOG_RECORD_H_
#define MQI_MQ_LOG_RECORD_H_

#include <cstddef>

#include "mqi/mq_structs.h"

// Offsets in the log record header (on disk: never change).
enum MqLogHeaderOffset : int {
  kMqLogVersionOffset = 4,  // must hold kMqLogHeaderVersion
  kMqLogBackoutCountOffset = 32,
  kMqLogTotalLengthOffset = 40,  // the whole message's data length
  kMqLogMsgIdOffset = 52,
  kMqLogCorrelIdOffset = 76,
  kMqLogGroupIdOffset = 100,
  kMqLogMsgSeqNumberOffset = 124,
  kMqLogOffsetOffset = 128,
  kMqLogOriginalLengthOffset = 132,
  kMqLogMsgFlagsOffset = 136,
  kMqLogExpiryOffset = 156,
};

enum : int {
  kMqLogHeaderVersion = 4,
  kMqLogHeaderBytes = 160,
  kMqLogDescriptorBytes = 268,
  kMqLogUnusedBytes = 20,
  kMqLogFixedBytes = kMqLogHeaderBytes + kMqLogDescriptorBytes + kMqLogUnusedBytes,
};

// The descriptor part: these MQMD fields, one after another at their MQMD
// widths (the version-1 descriptor without Expiry, MsgId, CorrelId and
// BackoutCount, which the header holds).
struct MqLogDescriptorField {
  size_t Offset;  // in MQMD
  size_t Width;
};
inline constexpr MqLogDescriptorField kMqLogDescriptorFields[] = {
    {offsetof(MQMD, StrucId), 4},
    {offsetof(MQMD, Version), 4},
    {offsetof(MQMD, Report), 4},
    {offsetof(MQMD, MsgType), 4},
    {offsetof(MQMD, Feedback), 4},
    {offsetof(MQMD, Encoding), 4},
    {offsetof(MQMD, CodedCharSetId), 4},
    {offsetof(MQMD, Format), 8},
    {offsetof(MQMD, Priority), 4},
    {offsetof(MQMD, Persistence), 4},
    {offsetof(MQMD, ReplyToQ), 48},
    {offsetof(MQMD, ReplyToQMgr), 48},
    {offsetof(MQMD, UserIdentifier), 12},
    {offsetof(MQMD, AccountingToken), 32},
    {offsetof(MQMD, ApplIdentityData), 32},
    {offsetof(MQMD, PutApplType), 4},
    {offsetof(MQMD, PutApplName), 28},
    {offsetof(MQMD, PutDate), 8},
    {offsetof(MQMD, PutTime), 8},
    {offsetof(MQMD, ApplOriginData), 4},
};

constexpr size_t MqLogDescriptorWidth() {
  size_t sum = 0;
  for (const MqLogDescriptorField& f : kMqLogDescriptorFields) sum += f.Width;
  return sum;
}
static_assert(MqLogDescriptorWidth() == kMqLogDescriptorBytes, "descriptor part size");
static_assert(MQMD_LENGTH_1 - 4 - 24 - 24 - 4 == kMqLogDescriptorBytes,
              "the descriptor part is the version-1 MQMD less four fields");

#endif  // MQI_MQ_LOG_RECORD_H_
