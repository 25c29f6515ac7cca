// The two record kinds the reader uses: "AQM Put Message", from which a
// message is rebuilt, and "AQM Put Part", whose data is kept until the
// message that links to it comes.
#include <cstdio>
#include <cstring>

#include "zeplo/files/files.h"
#include "zeplo/logreplay/logreplay_internal.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int kFormatError = 2110;        // MQRC_FORMAT_ERROR
constexpr int kIncompleteMessage = 2242;  // MQRC_INCOMPLETE_MSG
constexpr int kNoListStorage = 4018;      // MQRCCF_NO_STORAGE

// What the header lines of a put record say.
struct RecordHeader {
  char Queue[kMqNameLength + 1];
  char PrevLsn[kLsnLength + 1];
  bool HavePrevLine;
  int64_t Location;
  int64_t Length;
  bool Skip;  // the record is to be passed over without error
};

int FormatError(Run* run, const char* text) {
  ReportMessage(run, "%s", text);
  return kFormatError;
}

// Reads the lines after LogRecdType up to "Data  .". Returns 0 (with
// h->Skip for a Data.Locn line without its colons after a PrevLSN line),
// 2110 when the record or the input ends first or Data.Locn is not
// recognised, 2242 for a bad PrevLSN.
int ReadRecordHeader(Run* run, LogReplay* lr, bool part, RecordHeader* h) {
  *h = RecordHeader{};
  const int lengthColon = part ? kPartLengthColon : kMessageLengthColon;
  for (;;) {
    if (!ReadLogLine(run, lr)) return FormatError(run, "Log ended inside a log record.\n");
    if (LineStarts(lr, "Data  .")) return 0;
    if (LineStarts(lr, "LOG RECORD")) {
      // Reading on would take the next record's lines for this one's.
      lr->LineHeld = true;
      return FormatError(run, "Log record without data.\n");
    }
    if (LineStarts(lr, "QueueName") || LineStarts(lr, "ObjectName")) {
      int from = kValueColumn < lr->LineLength ? kValueColumn : lr->LineLength;
      CopyMqName(h->Queue, lr->Line + from, lr->LineLength - from, kMqNameLength);
    } else if (LineStarts(lr, "PrevLSN")) {
      int rc = ParseLsn(run, lr, kValueColumn, h->PrevLsn);
      if (rc != 0) return rc;
      h->HavePrevLine = true;
    } else if (LineStarts(lr, "Data.Locn")) {
      if (LineAt(lr, kLocnColon) != ':' || LineAt(lr, lengthColon) != ':') {
        if (!h->HavePrevLine) return FormatError(run, "Data.Locn line not recognised.\n");
        h->Skip = true;
        return 0;
      }
      h->Location = LineNumberAt(lr, kValueColumn);
      h->Length = LineNumberAt(lr, lengthColon + 2);
    }
  }
}

int32_t IntAt(const unsigned char* bytes, int offset) {
  int32_t value;
  memcpy(&value, bytes + offset, sizeof value);
  return value;
}

// The descriptor of a put-message record: its 268-byte part, then the
// fields the header holds.
void FillDescriptor(MQMD* md, const unsigned char* header, const unsigned char* part) {
  for (const MqLogDescriptorField& f : kMqLogDescriptorFields) {
    memcpy(reinterpret_cast<unsigned char*>(md) + f.Offset, part, f.Width);
    part += f.Width;
  }
  md->Expiry = IntAt(header, kMqLogExpiryOffset);
  md->BackoutCount = IntAt(header, kMqLogBackoutCountOffset);
  memcpy(md->MsgId, header + kMqLogMsgIdOffset, 24);
  memcpy(md->CorrelId, header + kMqLogCorrelIdOffset, 24);
  memcpy(md->GroupId, header + kMqLogGroupIdOffset, 24);
  md->MsgSeqNumber = IntAt(header, kMqLogMsgSeqNumberOffset);
  md->Offset = IntAt(header, kMqLogOffsetOffset);
  md->OriginalLength = IntAt(header, kMqLogOriginalLengthOffset);
  md->MsgFlags = IntAt(header, kMqLogMsgFlagsOffset);
}

// The header and descriptor of a put-message record into the message's
// descriptor. Returns 0, 2110 for a version not recognised, 2242.
int ReadMessageHeader(Run* run, LogReplay* lr,
                      unsigned char (&header)[kMqLogHeaderBytes]) {
  unsigned char part[kMqLogDescriptorBytes];
  unsigned char unused[kMqLogUnusedBytes];
  int rc = ReadDumpBytes(run, lr, header, sizeof header);
  if (rc != 0) return rc;
  int32_t headerVersion = IntAt(header, kMqLogVersionOffset);
  if (headerVersion != kMqLogHeaderVersion) {
    ReportMessage(run, "Message Header Version %d not recognised.\n", headerVersion);
    return kFormatError;
  }
  rc = ReadDumpBytes(run, lr, part, sizeof part);
  if (rc != 0) return rc;
  if (memcmp(part, MQMD_STRUC_ID, 4) != 0)
    return FormatError(run, "Unrecongnised message format.\n");
  int32_t version = IntAt(part, 4);
  if (version != MQMD_VERSION_1 && version != MQMD_VERSION_2) {
    ReportMessage(run, "Unrecognised MQMD version %d.\n", version);
    return kFormatError;
  }
  MessageBuffer& m = run->Message;
  StartMessage(&m);
  FillDescriptor(m.Descriptor, header, part);
  return ReadDumpBytes(run, lr, unused, sizeof unused);
}

}  // namespace

int ReadPutMessageRecord(Run* run, LogReplay* lr, bool* built) {
  *built = false;
  RecordHeader h;
  int rc = ReadRecordHeader(run, lr, false, &h);
  if (rc != 0 || h.Skip || !MatchQueueMask(run->Options, h.Queue, lr->QueueName)) return rc;
  lr->QueueMessages++;
  if (!StartDump(run, lr)) {
    ReportMessage(run, "Data dump line missing.\n");
    return kIncompleteMessage;
  }
  unsigned char header[kMqLogHeaderBytes];
  rc = ReadMessageHeader(run, lr, header);
  if (rc != 0) return rc;
  int32_t total = IntAt(header, kMqLogTotalLengthOffset);
  if (total < 0 || total > kLogMaxMessageLength) {
    ReportMessage(run, "Message length %d not recognised.\n", total);
    return kFormatError;
  }
  // The record's own piece of the data: what its dump holds after the
  // fixed parts just read.
  int64_t piece = h.Length - lr->DumpBytes;
  if (piece < 0 || piece > kLogMaxMessageLength) {
    ReportMessage(run, "Data length %lld not recognised.\n", static_cast<long long>(h.Length));
    return kFormatError;
  }
  MessageBuffer& m = run->Message;
  rc = GrowMessageStorage(run, piece > total ? piece : total);
  if (rc == 0) rc = ReadDumpBytes(run, lr, m.Storage, piece);
  if (rc == 0) rc = CheckDumpEnd(run, lr);
  int64_t length = piece;
  if (rc == 0 && h.PrevLsn[0] != '\0')
    rc = JoinMessageParts(run, lr, h.PrevLsn, &length, total);
  if (rc != 0) return rc;
  m.Cursor = m.Storage;
  m.DataLength = static_cast<int32_t>(length);
  m.ExpectedLength = total;
  *built = true;
  return 0;
}

int ReadPutPartRecord(Run* run, LogReplay* lr) {
  RecordHeader h;
  int rc = ReadRecordHeader(run, lr, true, &h);
  if (rc != 0 || h.Skip || !MatchQueueMask(run->Options, h.Queue, lr->QueueName)) return rc;
  // No dump, or nothing where the data should be: nothing to keep.
  if (!StartDump(run, lr) || h.Location == 0 || h.Length == 0) return 0;
  if (h.Length > int64_t{kLogMaxMessageLength} + kPartPrefixBytes) {
    ReportMessage(run, "Data length %lld not recognised.\n", static_cast<long long>(h.Length));
    return kFormatError;
  }
  int32_t length = static_cast<int32_t>(h.Length);
  MessagePart* part = TakePartSlot(lr, length);
  if (part == nullptr) {
    ReportMessage(run, "Can not allocate %d bytes for a message part.\n", length);
    return kNoListStorage;
  }
  part->LineNumber = lr->LineNumber;
  snprintf(part->Lsn, sizeof part->Lsn, "%s", lr->CurrentLsn);
  snprintf(part->PrevLsn, sizeof part->PrevLsn, "%s", h.PrevLsn);
  rc = ReadDumpBytes(run, lr, PartData(part), length);
  if (rc == 0) rc = CheckDumpEnd(run, lr);
  if (rc != 0) {
    FreePartSlot(lr, part);  // half-read data must never join a message
    return rc;
  }
  lr->PartsRead = true;
  return 0;
}
