// Message selection: the filters of the command line applied to the message
// in hand, in a fixed order, and ProcessMessage, which counts, selects,
// takes, delivers and accounts for one message.
#include <cstdio>
#include <cstring>

#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/logreplay/logreplay.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr uint32_t kSizeNotSet = 0xFFFFFFFFu;

// Offsets inside the headers the filters look into (integers in the
// message's own encoding, names as 48-character fields).
constexpr int kDlhReasonOffset = 8;
constexpr int kDlhDestQNameOffset = 12;
constexpr int kDlhDestQMgrNameOffset = 60;
constexpr int kXqhRemoteQNameOffset = 8;
constexpr int kXqhRemoteQMgrNameOffset = 56;

bool FormatIs(const MQMD* md, const char* format) {
  return memcmp(md->Format, format, MQ_FORMAT_LENGTH) == 0;
}

// Reads a 32-bit integer of message data in the byte order its
// descriptor's Encoding names (normal = big-endian, reversed = native x86).
int32_t ReadMessageInt(const unsigned char* p, MQLONG encoding) {
  uint32_t v;
  if ((encoding & MQENC_INTEGER_MASK) == MQENC_INTEGER_NORMAL) {
    v = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
  } else {
    v = (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[0]};
  }
  return static_cast<int32_t>(v);
}

// Every listed string (up to the first free entry) must occur (wantAll),
// or none may occur (!wantAll).
bool SearchListPasses(const SearchString* list, const unsigned char* data, int64_t length,
                      bool wantAll) {
  for (int i = 0; i < kSearchStringsPerKind; i++) {
    int32_t n = list[i].Length;
    if (n <= 0) break;
    if (n > kSearchStringBytes) n = kSearchStringBytes;
    bool found = FindBytes(data, length, list[i].Text, n) >= 0;
    if (found != wantAll) return false;
  }
  return true;
}

// The target names of a dead-letter or transmission header, or false when
// the message carries neither or the header is not wholly in hand.
bool TargetNames(const Run* run, char (&qmgr)[MQ_Q_MGR_NAME_LENGTH],
                 char (&queue)[MQ_Q_NAME_LENGTH]) {
  const MQMD* md = run->Message.Descriptor;
  const unsigned char* data = run->Message.Cursor;
  int64_t length = ReceivedLength(run);
  int queueOffset, qmgrOffset;
  if (FormatIs(md, MQFMT_DEAD_LETTER_HEADER)) {
    if (length < MQDLH_LENGTH_1) return false;
    queueOffset = kDlhDestQNameOffset;
    qmgrOffset = kDlhDestQMgrNameOffset;
  } else if (FormatIs(md, MQFMT_XMIT_Q_HEADER)) {
    if (length < MQXQH_LENGTH_1) return false;
    queueOffset = kXqhRemoteQNameOffset;
    qmgrOffset = kXqhRemoteQMgrNameOffset;
  } else {
    return false;
  }
  memcpy(queue, data + queueOffset, sizeof queue);
  memcpy(qmgr, data + qmgrOffset, sizeof qmgr);
  if (IsEbcdicCcsid(md->CodedCharSetId)) {
    // Names of a header from an EBCDIC system are in EBCDIC too; the masks
    // were typed here, in ASCII.
    EbcdicToAscii(reinterpret_cast<unsigned char*>(queue), reinterpret_cast<unsigned char*>(queue),
                  sizeof queue);
    EbcdicToAscii(reinterpret_cast<unsigned char*>(qmgr), reinterpret_cast<unsigned char*>(qmgr),
                  sizeof qmgr);
  }
  return true;
}

bool InRange(const Run* run) {
  if (run->Options->RangeFirst == 0) return true;
  if (run->Counters.MessageIndex < run->Options->RangeFirst) return false;
  return run->Options->RangeLast == 0 || run->Counters.MessageIndex <= run->Options->RangeLast;
}

// True when the message has somewhere to go (or is counted): otherwise it
// has only been read, and for a destructive get without filters removed.
bool HasSink(const Run* run) {
  return run->Engine.Output.Hobj != MQHO_UNUSABLE_HOBJ || run->Options->OutputList != nullptr ||
         run->Options->OutputFile[0] != '\0' || run->Options->Count;
}

}  // namespace

int64_t FindBytes(const unsigned char* buffer, int64_t length, const unsigned char* needle,
                  int64_t needleLength) {
  if (needleLength <= 0) return 0;
  if (buffer == nullptr || needle == nullptr || length < needleLength) {
    return -1;
  }
  int64_t pos = 0;
  while (length - pos >= needleLength) {
    // Only positions where the whole needle still fits are candidates.
    const void* hit =
        memchr(buffer + pos, needle[0], static_cast<size_t>(length - pos - needleLength + 1));
    if (hit == nullptr) return -1;
    pos = static_cast<const unsigned char*>(hit) - buffer;
    if (memcmp(buffer + pos, needle, static_cast<size_t>(needleLength)) == 0) {
      return pos;
    }
    pos++;
  }
  return -1;
}

bool MatchesTarget(const Run* run, const char* qmgrName, const char* queueName) {
  char queue[kMqNameLength + 1];
  char qmgr[kMqNameLength + 1];
  int queueLength = 0;
  int qmgrLength = 0;
  CopyMqName(queue, queueName, kMqNameLength, kMqNameLength, &queueLength);
  CopyMqName(qmgr, qmgrName, kMqNameLength, kMqNameLength, &qmgrLength);
  if (!MatchName(queue, queueLength, run->Options->TargetQueueMask, run->Options->TargetQueueMaskLength)) {
    return false;
  }
  // A mask given without a queue manager part ("-G t:Q1") names the queue
  // on any queue manager, as the selection report says.
  if (run->Options->TargetQmgrMaskLength == 0) return true;
  return MatchName(qmgr, qmgrLength, run->Options->TargetQmgrMask, run->Options->TargetQmgrMaskLength);
}

bool InTimeWindow(const Run* run) {
  const MQMD* md = run->Message.Descriptor;
  int64_t putTime = MqDateTimeToEpoch(md->PutDate, md->PutTime);
  if (run->Options->TimeTrace) {
    fprintf(stderr, "Mesage Timestamp Date %.8s Time %.6s UTC Time %d\n", md->PutDate, md->PutTime,
            static_cast<int>(putTime));
    fflush(stderr);
  }
  if (putTime < 1) return false;
  if (run->Options->PutBefore != 0 && putTime >= run->Options->PutBefore) return false;
  if (run->Options->PutAfter != 0 && putTime < run->Options->PutAfter) return false;
  return true;
}

bool MessageSelected(Run* run) {
  const MessageBuffer& m = run->Message;
  const MQMD* md = m.Descriptor;
  if (!InRange(run)) return false;

  if (run->Options->SelectByMsgId && memcmp(md->MsgId, run->Options->SelectMsgId, sizeof md->MsgId) != 0) {
    return false;
  }
  if (run->Options->SelectByCorrelId &&
      memcmp(md->CorrelId, run->Options->SelectCorrelId, sizeof md->CorrelId) != 0) {
    return false;
  }
  if (run->Options->SelectByGroupId &&
      memcmp(md->GroupId, run->Options->SelectGroupId, sizeof md->GroupId) != 0) {
    return false;
  }

  // DataLength is the full length even when only the descriptor was read.
  uint32_t size = static_cast<uint32_t>(m.DataLength < 0 ? 0 : m.DataLength);
  if (run->Options->SizeBelow != kSizeNotSet && size >= run->Options->SizeBelow) {
    return false;
  }
  if (run->Options->SizeAtLeast != kSizeNotSet && size < run->Options->SizeAtLeast) {
    return false;
  }

  if (run->Options->PriorityMin != -1 && md->Priority < run->Options->PriorityMin) {
    return false;
  }
  if (run->Options->PriorityMax != -1 && md->Priority > run->Options->PriorityMax) {
    return false;
  }

  const unsigned char* data = m.Cursor;
  int64_t length = ReceivedLength(run);
  if (run->Options->SelectByDlqReason) {
    if (!FormatIs(md, MQFMT_DEAD_LETTER_HEADER)) return false;
    if (length < MQDLH_LENGTH_1) return false;  // header not in hand
    if (ReadMessageInt(data + kDlhReasonOffset, md->Encoding) != run->Options->DlqReason) {
      return false;
    }
  }
  if (run->Options->SelectByTarget) {
    char qmgr[MQ_Q_MGR_NAME_LENGTH];
    char queue[MQ_Q_NAME_LENGTH];
    if (!TargetNames(run, qmgr, queue)) return false;
    if (!MatchesTarget(run, qmgr, queue)) return false;
  }

  if (!SearchListPasses(run->Options->SearchAscii, data, length, true)) return false;
  if (!SearchListPasses(run->Options->SearchAsciiNot, data, length, false)) return false;
  if (!SearchListPasses(run->Options->SearchEbcdic, data, length, true)) return false;
  if (!SearchListPasses(run->Options->SearchEbcdicNot, data, length, false)) return false;
  if (!SearchListPasses(run->Options->SearchHex, data, length, true)) return false;
  if (!SearchListPasses(run->Options->SearchHexNot, data, length, false)) return false;

  if ((run->Options->PutAfter != 0 || run->Options->PutBefore != 0) && !InTimeWindow(run)) {
    return false;
  }
  return true;
}

int ProcessMessage(Run* run, QueueElement* inputQueue) {
  MessageBuffer& m = run->Message;
  int64_t length = m.DataLength < 0 ? 0 : m.DataLength;
  run->Engine.StatusCount++;
  run->Counters.ReadCount++;
  run->Counters.UncommittedReadCount++;
  run->Counters.ReadBytes += static_cast<uint64_t>(length);
  run->Counters.UncommittedReadBytes += static_cast<uint64_t>(length);

  bool sink = HasSink(run);
  bool selected = MessageSelected(run);
  if (run->Options->InvertSelection) selected = !selected;
  // Browsed for selection: a destructive run that looks before it takes.
  bool takeUnderCursor = run->Settings.SelectionActive && run->Options->DestructiveGet &&
                         inputQueue != nullptr && !run->Options->LogMode;

  if (selected) {
    if (sink && run->Options->LogMode) {
      int rc = CheckLogMessage(run);
      if (rc != 0) return rc;
    }
    if (sink && !run->Options->Count && run->Options->OutputFile[0] != '\0') {
      int rc = MakeOutputRoom(run, inputQueue);
      if (rc != 0) return rc;
    }
    if (takeUnderCursor) {
      int rc = GetQueueMessage(run, inputQueue, true);
      // Another application took the message between our browse and get.
      if (rc == MQRC_NO_MSG_UNDER_CURSOR) return 0;
      if (rc != 0) return rc;
      if (run->StopRequested) return 0;
    }
    run->Counters.SelectedCount++;
    if (sink) {
      run->Engine.PutsForMessage = 0;
      run->Engine.BytesForMessage = 0;
      int rc = DeliverMessage(run, inputQueue);
      if (rc != 0 && RescueApplies(run, inputQueue)) {
        // Taken outside syncpoint: off the file with whatever part of it
        // was written, and back where it came from.
        RollBackOutputFiles(run);
        RescueTakenMessage(run, inputQueue);
      }
      if (rc != 0) return rc;
      if (RescueApplies(run, inputQueue) && run->Options->OutputFile[0] != '\0') {
        // Delivered for good: a later failure goes back no further.
        rc = MarkOutputCommitted(run);
        if (rc != 0) return rc;
      }
      if (run->Options->OutputFileHasInserts && FileLimitReached(run)) {
        int rc2 = CloseOutputFile(run);
        if (rc2 != 0) return rc2;
      }
    }
  }

  if (run->Options->RangeFirst != 0 && run->Options->RangeLast != 0 &&
      run->Counters.MessageIndex >= run->Options->RangeLast) {
    if (run->Engine.UseSyncpoint) run->Engine.UowMessageCount++;
    run->StopRequested = true;
    return 0;
  }
  return CountInUnit(run);
}
