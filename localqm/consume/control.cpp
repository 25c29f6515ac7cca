// MQCTL: starting delivery on a library thread or on the caller's,
// stopping, suspending and resuming it.
#include <cstring>

#include "localqm/api/api.h"
#include "localqm/consume/consume.h"
#include "localqm/consume/consume_internal.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

void ThreadMain(LqmConsumeConn* c) {
  std::unique_lock<std::mutex> lock(LqmConsumeLock());
  LqmDeliver(c, lock, true);
}

// Joins a loop thread that has ended on its own (a callback stopped it).
void JoinEnded(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock) {
  if (!c->Thread.joinable() || c->Delivering) return;
  if (c->Thread.get_id() == std::this_thread::get_id()) return;
  std::thread t = std::move(c->Thread);
  lock.unlock();
  t.join();
  lock.lock();
}

// Waits for a stop that a callback asked for to take effect.
void WaitStopped(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock) {
  LqmConsumeChanged().wait(lock, [c] { return !c->Delivering; });
  JoinEnded(c, lock);
}

// Runs the loop on the calling thread (START_WAIT, or RESUME of a
// connection suspended under START_WAIT). Returns the reason to report.
MQLONG DeliverHere(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, bool startCalls) {
  c->State = LqmConsumeState::kStarted;
  c->Delivering = true;
  c->OwnThread = false;
  LqmDeliver(c, lock, startCalls);
  if (c->StoppedInStart) return MQRC_CONNECTION_STOPPED;
  return c->EndReason;
}

MQLONG Start(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, MQPTR area) {
  if (LqmInCallbackOf(c)) {
    // From a consumer, a start only withdraws a stop it asked for.
    c->StopPending = false;
    return 0;
  }
  if (c->State == LqmConsumeState::kSuspended) return MQRC_OPERATION_NOT_ALLOWED;
  if (c->Delivering && !c->StopPending) return MQRC_HCONN_ASYNC_ACTIVE;
  WaitStopped(c, lock);
  c->ConnectionArea = area;
  c->State = LqmConsumeState::kStarted;
  c->Delivering = true;
  c->OwnThread = true;
  c->StartCallsDone = false;
  c->Thread = std::thread(ThreadMain, c);
  LqmConsumeChanged().wait(lock, [c] { return c->StartCallsDone || !c->Delivering; });
  return c->StoppedInStart ? MQRC_CONNECTION_STOPPED : 0;
}

MQLONG StartWait(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, MQPTR area) {
  if (LqmInCallbackOf(nullptr)) return MQRC_ENVIRONMENT_ERROR;
  if (c->State == LqmConsumeState::kSuspended) return MQRC_OPERATION_NOT_ALLOWED;
  if (c->Delivering && !c->StopPending) return MQRC_OPERATION_NOT_ALLOWED;
  WaitStopped(c, lock);
  bool any = false;
  for (const LqmConsumer& k : c->Consumers) any = any || !k.Suspended;
  if (!any) return MQRC_NO_CALLBACKS_ACTIVE;
  c->ConnectionArea = area;
  return DeliverHere(c, lock, true);
}

MQLONG Suspend(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock) {
  if (c->State == LqmConsumeState::kStopped) return MQRC_OPERATION_NOT_ALLOWED;
  c->State = LqmConsumeState::kSuspended;
  LqmConsumeWake(c);
  // From outside, the call returns once no callback can start.
  if (!LqmInCallbackOf(c))
    LqmConsumeChanged().wait(lock, [c] { return c->Parked || !c->Delivering; });
  return 0;
}

MQLONG Resume(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock) {
  if (c->State == LqmConsumeState::kStopped) return MQRC_OPERATION_NOT_ALLOWED;
  if (c->State == LqmConsumeState::kStarted) return 0;
  if (c->Delivering || LqmInCallbackOf(c)) {
    c->State = LqmConsumeState::kStarted;
    LqmConsumeWake(c);
    return 0;
  }
  return DeliverHere(c, lock, false);  // suspended under START_WAIT: blocks as it did
}

void Report(MQLONG reason, PMQLONG pCompCode, PMQLONG pReason) {
  if (reason == MQRC_CONNECTION_SUSPENDED) {
    *pCompCode = MQCC_WARNING;
    *pReason = reason;
    return;
  }
  LqmReport(reason, pCompCode, pReason);
}

bool ConnectionExists(MQHCONN hconn, volatile uint32_t** notify) {
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn = LqmFindConnection(hconn);
  if (conn != nullptr) *notify = conn->Main.Notify;
  return conn != nullptr;
}

}  // namespace

void LqmStopAndWait(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock) {
  if (c->Delivering) {
    c->StopPending = true;
    LqmConsumeWake(c);
  } else if (c->State == LqmConsumeState::kSuspended) {
    // Suspended under START_WAIT: no loop is left to make the stop calls.
    c->Delivering = true;
    c->OwnThread = false;
    c->StopPending = true;
    LqmDeliver(c, lock, false);
  }
  WaitStopped(c, lock);
  c->State = LqmConsumeState::kStopped;
}

void LqmMQCTL(MQHCONN Hconn, MQLONG Operation, PMQVOID pControlOpts, PMQLONG pCompCode,
              PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  volatile uint32_t* notify = nullptr;
  if (!ConnectionExists(Hconn, &notify)) return LqmReport(MQRC_HCONN_ERROR, pCompCode, pReason);
  const MQCTLO* ctlo = static_cast<const MQCTLO*>(pControlOpts);
  if (ctlo == nullptr || memcmp(ctlo->StrucId, MQCTLO_STRUC_ID, 4) != 0 ||
      ctlo->Version != MQCTLO_VERSION_1)
    return LqmReport(MQRC_CTLO_ERROR, pCompCode, pReason);
  if ((ctlo->Options & ~(MQCTLO_THREAD_AFFINITY | MQCTLO_FAIL_IF_QUIESCING)) != 0)
    return LqmReport(MQRC_OPTIONS_ERROR, pCompCode, pReason);

  std::unique_lock<std::mutex> lock(LqmConsumeLock());
  LqmConsumeConn* c = LqmConsumeFindOrAdd(Hconn, notify);
  MQLONG reason;
  switch (Operation) {
    case MQOP_START:
      reason = Start(c, lock, ctlo->ConnectionArea);
      break;
    case MQOP_START_WAIT:
      reason = StartWait(c, lock, ctlo->ConnectionArea);
      break;
    case MQOP_STOP:
      reason = 0;
      if (LqmInCallbackOf(c)) {
        c->StopPending = true;  // takes effect when the callback returns
        LqmConsumeWake(c);
      } else {
        LqmStopAndWait(c, lock);
      }
      break;
    case MQOP_SUSPEND:
      reason = Suspend(c, lock);
      break;
    case MQOP_RESUME:
      reason = Resume(c, lock);
      break;
    default:
      reason = MQRC_OPERATION_ERROR;
      break;
  }
  Report(reason, pCompCode, pReason);
}
