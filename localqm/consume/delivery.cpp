// The delivery loop: the consumers of a connection in turn, one MQGET
// without wait each, the callback with what it got, the no-message events,
// and the sleep on the queue manager's counter when nobody had anything.
#include <cstring>

#include "localqm/api/api.h"
#include "localqm/consume/consume_internal.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// The longest sleep of an idle loop: the counter wakes it for every put
// and every control change, this only bounds how late an expiry or a
// change nobody posted is noticed.
constexpr int64_t kIdleSliceMs = 500;
// The first data buffer of a consumer that takes whole messages.
constexpr size_t kFirstBufferBytes = 65536;

constexpr MQLONG kBrowseOptions = MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT;

// Failures that concern the whole connection rather than one queue: they
// end delivery.
bool ConnectionFailure(MQLONG reason) {
  switch (reason) {
    case MQRC_CONNECTION_BROKEN:
    case MQRC_HCONN_ERROR:
    case MQRC_Q_MGR_STOPPING:
    case MQRC_Q_MGR_QUIESCING:
    case MQRC_Q_MGR_NOT_AVAILABLE:
    case MQRC_CONNECTION_QUIESCING:
    case MQRC_CONNECTION_STOPPING:
      return true;
    default:
      return false;
  }
}

// What one MQGET of a turn brought.
struct TurnGet {
  MQMD Md;
  MQGMO Gmo;
  MQLONG DataLength, BufferLength, CompCode, Reason;
};

// The MQGET of one turn, with the lock released. A whole-message consumer
// gets a buffer that grows until the message fits; a browse that did not
// fit has moved the cursor onto the message, so it is read again under it.
void GetForTurn(LqmConsumeConn* c, const LqmConsumer& k, TurnGet* g) {
  MQLONG options = k.Gmo.Options & ~MQGMO_WAIT;
  if ((options & MQGMO_BROWSE_FIRST) != 0 && k.BrowsedOnce)
    options = (options & ~MQGMO_BROWSE_FIRST) | MQGMO_BROWSE_NEXT;
  bool whole = k.Cbd.MaxMsgLength == MQCBD_FULL_MSG_LENGTH;
  if (whole && c->Buffer.size() < kFirstBufferBytes) c->Buffer.resize(kFirstBufferBytes);
  for (;;) {
    g->Md = k.Md;
    g->Gmo = k.Gmo;
    g->Gmo.Options = options;
    g->Gmo.WaitInterval = 0;
    g->BufferLength = whole ? static_cast<MQLONG>(c->Buffer.size()) : k.Cbd.MaxMsgLength;
    if (static_cast<size_t>(g->BufferLength) > c->Buffer.size())
      c->Buffer.resize(static_cast<size_t>(g->BufferLength));
    g->DataLength = 0;
    LqmMQGET(c->Hconn, k.Hobj, &g->Md, &g->Gmo, g->BufferLength, c->Buffer.data(), &g->DataLength,
             &g->CompCode, &g->Reason);
    if (!whole || g->Reason != MQRC_TRUNCATED_MSG_FAILED || g->DataLength <= g->BufferLength)
      return;
    c->Buffer.resize(static_cast<size_t>(g->DataLength));
    if ((options & kBrowseOptions) != 0)
      options = (options & ~kBrowseOptions) | MQGMO_BROWSE_MSG_UNDER_CURSOR;
  }
}

// The no-message rule of one consumer (see consume.h). Returns true when
// the event was made; otherwise lowers *nextDueMs to when it falls due.
bool NoMessage(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, const LqmConsumer& k,
               TurnGet* g, int64_t* nextDueMs) {
  MQLONG wait = (k.Gmo.Options & MQGMO_WAIT) != 0 ? k.Gmo.WaitInterval : 0;
  LqmConsumer* live = LqmConsumerFind(c, k.Hobj);
  if (wait == MQWI_UNLIMITED || live == nullptr || live->EmptyReported) return false;
  int64_t now = LqmNowMs();
  if (live->EmptySinceMs < 0) live->EmptySinceMs = now;
  if (now - live->EmptySinceMs < wait) {
    int64_t due = live->EmptySinceMs + wait;
    if (*nextDueMs < 0 || due < *nextDueMs) *nextDueMs = due;
    return false;
  }
  if (wait == 0)
    live->EmptyReported = true;
  else
    live->EmptySinceMs = now;  // the next report one interval on
  LqmInvoke(c, lock, k, MQCBCT_EVENT_CALL, MQCC_FAILED, MQRC_NO_MSG_AVAILABLE, &g->Md, &g->Gmo,
            nullptr, 0, 0);
  return true;
}

// A failed get: the whole connection's (delivery ends; the event handler
// hears of it, or the consumer when there is none) or the queue's (the
// consumer hears of it and is suspended).
void GetFailed(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, const LqmConsumer& k,
               TurnGet* g) {
  if (g->Reason == MQRC_HOBJ_ERROR && LqmConsumerFind(c, k.Hobj) == nullptr) return;  // closed
  if (ConnectionFailure(g->Reason)) {
    c->StopPending = true;
    c->EndReason = g->Reason;
    if (g->Reason == MQRC_HCONN_ERROR) return;  // nobody left to tell
    if (c->HasEventHandler) {
      LqmConsumer handler = c->EventHandler;
      LqmInvoke(c, lock, handler, MQCBCT_EVENT_CALL, MQCC_FAILED, g->Reason, nullptr, nullptr,
                nullptr, 0, 0);
      return;
    }
  } else if (LqmConsumer* live = LqmConsumerFind(c, k.Hobj)) {
    live->Suspended = true;
    live->FailedGet = true;
  }
  LqmInvoke(c, lock, k, MQCBCT_EVENT_CALL, MQCC_FAILED, g->Reason, &g->Md, &g->Gmo, nullptr, 0, 0);
}

// One consumer's turn. Returns true when a callback was made.
bool Turn(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, const LqmConsumer& k,
          int64_t* nextDueMs) {
  TurnGet g;
  lock.unlock();
  GetForTurn(c, k, &g);
  lock.lock();
  if (g.Reason == MQRC_NO_MSG_AVAILABLE) return NoMessage(c, lock, k, &g, nextDueMs);
  if (g.CompCode == MQCC_FAILED) {
    GetFailed(c, lock, k, &g);
    return true;
  }
  if (LqmConsumer* live = LqmConsumerFind(c, k.Hobj)) {
    live->EmptySinceMs = -1;
    live->EmptyReported = false;
    if ((k.Gmo.Options & MQGMO_BROWSE_FIRST) != 0) live->BrowsedOnce = true;
  }
  // A message already taken is delivered even when its consumer has gone
  // meanwhile (its handle closed by another thread): dropping it would
  // lose it.
  bool browsed = (g.Gmo.Options & (kBrowseOptions | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0;
  MQLONG held = g.DataLength < g.BufferLength ? g.DataLength : g.BufferLength;
  LqmInvoke(c, lock, k, browsed ? MQCBCT_MSG_NOT_REMOVED : MQCBCT_MSG_REMOVED, g.CompCode, g.Reason,
            &g.Md, &g.Gmo, held > 0 ? c->Buffer.data() : nullptr, g.DataLength, g.BufferLength);
  return true;
}

// Makes the control calls that waited for the running callback.
void RunPending(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock) {
  while (!c->Pending.empty()) {
    LqmPendingCall call = c->Pending.front();
    c->Pending.erase(c->Pending.begin());
    LqmInvoke(c, lock, call.Consumer, call.CallType, MQCC_OK, MQRC_NONE, nullptr, nullptr, nullptr,
              0, 0);
  }
}

// Start or stop calls to every callback that asked for them.
void CallEveryone(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, MQLONG callType) {
  std::vector<LqmConsumer> targets = c->Consumers;
  if (c->HasEventHandler) targets.push_back(c->EventHandler);
  MQLONG wanted = callType == MQCBCT_START_CALL ? MQCBDO_START_CALL : MQCBDO_STOP_CALL;
  for (const LqmConsumer& k : targets)
    if ((k.Cbd.Options & wanted) != 0)
      LqmInvoke(c, lock, k, callType, MQCC_OK, MQRC_NONE, nullptr, nullptr, nullptr, 0, 0);
}

// The index of the next consumer that is not suspended; SIZE_MAX if none.
size_t NextActive(LqmConsumeConn* c) {
  size_t n = c->Consumers.size();
  for (size_t i = 0; i < n; ++i) {
    size_t at = (c->Next + i) % n;
    if (!c->Consumers[at].Suspended) return at;
  }
  return SIZE_MAX;
}

size_t ActiveCount(const LqmConsumeConn* c) {
  size_t active = 0;
  for (const LqmConsumer& k : c->Consumers) active += k.Suspended ? 0 : 1;
  return active;
}

// Sleeps until the queue manager's counter moves past `seen` (a put, a
// commit, or a control change posted by LqmConsumeWake) or nextDueMs.
void IdleWait(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, uint32_t seen,
              int64_t nextDueMs) {
  int64_t slice = kIdleSliceMs;
  if (nextDueMs >= 0) {
    int64_t left = nextDueMs - LqmNowMs();
    if (left < slice) slice = left < 1 ? 1 : left;
  }
  LqmStore counter{};
  counter.Notify = c->Notify;
  lock.unlock();
  LqmNotifyWait(&counter, seen, static_cast<long>(slice));
  lock.lock();
}

}  // namespace

void LqmConsumeWake(LqmConsumeConn* c) {
  if (c->Delivering) {
    LqmStore counter{};
    counter.Notify = c->Notify;
    LqmNotifyPost(&counter);
  }
  LqmConsumeChanged().notify_all();
}

void LqmDeliver(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, bool startCalls) {
  c->EndReason = 0;
  c->StartCallsDone = false;
  if (startCalls) CallEveryone(c, lock, MQCBCT_START_CALL);
  c->StoppedInStart = startCalls && c->StopPending;
  c->StartCallsDone = true;
  LqmConsumeChanged().notify_all();

  size_t idleTurns = 0;
  uint32_t seen = 0;
  int64_t nextDueMs = -1;
  for (;;) {
    RunPending(c, lock);
    if (c->StopPending) break;
    if (c->State == LqmConsumeState::kSuspended) {
      if (!c->OwnThread) {
        c->EndReason = MQRC_CONNECTION_SUSPENDED;
        c->Delivering = false;
        LqmConsumeChanged().notify_all();
        return;  // still started, suspended: RESUME continues on its caller
      }
      c->Parked = true;
      LqmConsumeChanged().notify_all();
      LqmConsumeChanged().wait(lock);
      c->Parked = false;
      continue;
    }
    size_t active = ActiveCount(c);
    if (active == 0) {
      if (!c->OwnThread) {
        c->EndReason = MQRC_NO_CALLBACKS_ACTIVE;
        break;  // an implicit stop
      }
      LqmConsumeChanged().wait(lock);
      continue;
    }
    if (idleTurns == 0) {
      LqmStore counter{};
      counter.Notify = c->Notify;
      seen = LqmNotifyRead(&counter);
      nextDueMs = -1;
    }
    size_t at = NextActive(c);
    c->Next = at + 1;
    LqmConsumer k = c->Consumers[at];
    if (Turn(c, lock, k, &nextDueMs)) {
      idleTurns = 0;
    } else if (++idleTurns >= active) {
      IdleWait(c, lock, seen, nextDueMs);
      idleTurns = 0;
    }
  }
  c->StopPending = false;
  CallEveryone(c, lock, MQCBCT_STOP_CALL);
  RunPending(c, lock);
  c->State = LqmConsumeState::kStopped;
  c->Delivering = false;
  LqmConsumeChanged().notify_all();
}
