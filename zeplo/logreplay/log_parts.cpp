// The stored parts of messages not yet rebuilt, and joining them to the
// message that links to them.
//
// A message longer than one piece is logged as its parts, oldest first,
// each linked to the one before, then its put-message record linked to the
// newest part. The message data is the record's own piece followed by the
// parts from the oldest to the newest. The chain is walked from the newest
// part back (without recursion, so a message of many thousand parts costs
// no stack), and the parts are appended as the walk unwinds.
#include <cstdio>
#include <cstring>
#include <new>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/logreplay/logreplay_internal.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int kIncompleteMessage = 2242;  // MQRC_INCOMPLETE_MSG

// The stored part with LSN `lsn` that holds data, searched outward from
// `hint`: the older part of a message lies next to the newer one.
MessagePart* FindPart(LogReplay* lr, MessagePart* hint, const char* lsn) {
  MessagePart* forward = hint != nullptr ? hint : lr->Parts;
  MessagePart* backward = forward != nullptr ? forward->Previous : nullptr;
  while (forward != nullptr || backward != nullptr) {
    if (forward != nullptr) {
      if (forward->DataLength != 0 && strcmp(forward->Lsn, lsn) == 0) return forward;
      forward = forward->Next;
    }
    if (backward != nullptr) {
      if (backward->DataLength != 0 && strcmp(backward->Lsn, lsn) == 0) return backward;
      backward = backward->Previous;
    }
  }
  return nullptr;
}

// A part's message data: without the 16-byte "AQPX" prefix when it has one.
void PartBytes(MessagePart* part, const unsigned char** data, int32_t* length) {
  *data = PartData(part);
  *length = part->DataLength;
  if (*length >= 4 && memcmp(*data, "AQPX", 4) == 0) {
    int32_t skip = *length < kPartPrefixBytes ? *length : kPartPrefixBytes;
    *data += skip;
    *length -= skip;
  }
}

void ClearJoin(MessagePart* stack) {
  while (stack != nullptr) {
    MessagePart* next = stack->JoinNext;
    stack->Joining = false;
    stack->JoinNext = nullptr;
    stack = next;
  }
}

}  // namespace

MessagePart* TakePartSlot(LogReplay* lr, int32_t length) {
  // The first free slot with room, looking on from the last one taken, so
  // that a long run of freed slots is refilled in one pass.
  if (lr->FreeParts > 0) {
    MessagePart* start = lr->FreeHint != nullptr ? lr->FreeHint : lr->Parts;
    MessagePart* p = start;
    do {
      if (p->DataLength == 0 && p->Capacity >= length) {
        p->DataLength = length;
        lr->FreeParts--;
        lr->FreeHint = p->Next;
        lr->LastStored = p;
        return p;
      }
      p = p->Next != nullptr ? p->Next : lr->Parts;
    } while (p != start);
  }
  void* block = CSGetMem(sizeof(MessagePart) + static_cast<size_t>(length), "MSGPART");
  if (block == nullptr) return nullptr;
  MessagePart* part = new (block) MessagePart{};
  part->Capacity = length;
  part->DataLength = length;
  part->Previous = lr->PartsTail;
  if (lr->PartsTail != nullptr) {
    lr->PartsTail->Next = part;
  } else {
    lr->Parts = part;
  }
  lr->PartsTail = part;
  lr->LastStored = part;
  return part;
}

void FreePartSlot(LogReplay* lr, MessagePart* part) {
  if (part->DataLength == 0) return;
  part->DataLength = 0;
  lr->FreeParts++;
}

int JoinMessageParts(Run* run, LogReplay* lr, const char* prevLsn, int64_t* length,
                     int64_t total) {
  MessagePart* stack = nullptr;  // the newest part at the bottom
  int64_t joined = *length;
  const char* lsn = prevLsn;
  MessagePart* hint = lr->LastStored;
  for (bool required = false; lsn[0] != '\0' && joined != total; required = true) {
    MessagePart* part = FindPart(lr, hint, lsn);
    if (part == nullptr && !required) break;  // the message goes on without parts
    if (part == nullptr || part->Joining) {
      ReportMessage(run, "Can not construct message %d, LSN '%s' missing.\n",
                    static_cast<int>(lr->PutMessages), lsn);
      ClearJoin(stack);
      return kIncompleteMessage;
    }
    const unsigned char* data;
    int32_t bytes;
    PartBytes(part, &data, &bytes);
    joined += bytes;
    part->Joining = true;
    part->JoinNext = stack;
    stack = part;
    lsn = part->PrevLsn;
    hint = part;
  }
  if (stack == nullptr) return 0;
  // Room for the whole message at once, twice over for the messages after.
  MessageBuffer& m = run->Message;
  if (joined > m.Capacity) {
    int64_t wanted = joined * 2 <= INT32_MAX - 4096 ? joined * 2 : joined;
    int rc = GrowMessageStorage(run, wanted);
    if (rc != 0) {
      ClearJoin(stack);
      return rc;
    }
  }
  // The stack pops the oldest part first.
  for (MessagePart* part = stack; part != nullptr; part = part->JoinNext) {
    const unsigned char* data;
    int32_t bytes;
    PartBytes(part, &data, &bytes);
    if (bytes > 0) memcpy(m.Storage + *length, data, static_cast<size_t>(bytes));
    *length += bytes;
    FreePartSlot(lr, part);
  }
  ClearJoin(stack);
  return 0;
}

void CheckStrayParts(Run* run, LogReplay* lr) {
  if (!lr->PartsRead) return;
  lr->PartsRead = false;
  for (MessagePart* p = lr->Parts; p != nullptr; p = p->Next) {
    if (p->DataLength == 0) continue;
    ReportMessage(run, "Extra message parts for message %d unused.\n",
                  static_cast<int>(lr->PutMessages));
    lr->PendingResult = 2110;  // MQRC_FORMAT_ERROR, unless a message comes
  }
}

void ReleaseParts(LogReplay* lr) {
  MessagePart* p = lr->Parts;
  while (p != nullptr) {
    MessagePart* next = p->Next;
    CSFreeMem(p);
    p = next;
  }
  lr->Parts = lr->PartsTail = lr->LastStored = lr->FreeHint = nullptr;
  lr->FreeParts = 0;
}
