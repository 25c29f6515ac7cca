// MQCB, the registry of consumers per connection, and what MQCLOSE and
// MQDISC ask of it.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "localqm/api/api.h"
#include "localqm/consume/consume.h"
#include "localqm/consume/consume_internal.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

void StopAllAtExit();

// Every record, Hconn-keyed by search. Made on the first MQCB and never
// freed by a static destructor: a delivery thread may still look at it
// while the process exits (see StopAllAtExit).
std::vector<LqmConsumeConn*>* gRecords = nullptr;

// Set once the first MQCB made the registry. MQCLOSE and MQDISC of a
// process that never asked for asynchronous consume then touch nothing
// here: no lock or registry is made for them, so a library unloaded
// after plain MQI use leaves no never-freed block behind.
std::atomic<bool> gRegistryMade{false};

std::vector<LqmConsumeConn*>& Records() {
  if (gRecords == nullptr) {
    gRecords = new std::vector<LqmConsumeConn*>();
    gRegistryMade.store(true, std::memory_order_release);
    // Registered after the connection table's own handler (a connection
    // exists before any MQCB), so it runs first: delivery has stopped
    // before the units of work are backed out.
    atexit(StopAllAtExit);
  }
  return *gRecords;
}

// The record whose callback the calling thread runs, or null.
thread_local const LqmConsumeConn* tCallbackOf = nullptr;

// A process that exits with delivery running: each loop is asked to stop
// and given a moment to finish its callback; one that does not (or the
// thread calling exit from a callback) is left detached.
void StopAllAtExit() {
  std::unique_lock<std::mutex> lock(LqmConsumeLock());
  if (gRecords == nullptr) return;
  for (LqmConsumeConn* c : *gRecords) {
    if (!c->Delivering || LqmInCallbackOf(c)) {
      if (c->Thread.joinable() && c->Thread.get_id() == std::this_thread::get_id())
        c->Thread.detach();
      continue;
    }
    c->StopPending = true;
    LqmConsumeWake(c);
    LqmConsumeChanged().wait_for(lock, std::chrono::seconds(2), [c] { return !c->Delivering; });
    if (!c->Thread.joinable()) continue;
    std::thread t = std::move(c->Thread);
    if (c->Delivering) {
      t.detach();
      continue;
    }
    lock.unlock();
    t.join();
    lock.lock();
  }
}

// The first version-1 checks of an MQCBD for REGISTER. 0 or the reason.
int CheckCallbackDesc(const MQCBD* cbd) {
  if (cbd == nullptr || memcmp(cbd->StrucId, MQCBD_STRUC_ID, 4) != 0 ||
      cbd->Version != MQCBD_VERSION_1)
    return MQRC_CBD_ERROR;
  if (cbd->CallbackType != MQCBT_MESSAGE_CONSUMER && cbd->CallbackType != MQCBT_EVENT_HANDLER)
    return MQRC_CALLBACK_TYPE_ERROR;
  constexpr MQLONG kValid = MQCBDO_START_CALL | MQCBDO_STOP_CALL | MQCBDO_REGISTER_CALL |
                            MQCBDO_DEREGISTER_CALL | MQCBDO_FAIL_IF_QUIESCING | MQCBDO_EVENT_CALL |
                            MQCBDO_MC_EVENT_CALL;
  if ((cbd->Options & ~kValid) != 0) return MQRC_CBD_OPTIONS_ERROR;
  if (cbd->MaxMsgLength < MQCBD_FULL_MSG_LENGTH) return MQRC_MAX_MSG_LENGTH_ERROR;
  bool named = cbd->CallbackName[0] != '\0' && cbd->CallbackName[0] != ' ';
  if ((cbd->CallbackFunction == nullptr) == !named) return MQRC_CALLBACK_ROUTINE_ERROR;
  // A function named for loading from a library is not something this
  // queue manager does: the address must be given.
  if (named) return MQRC_CALLBACK_LINK_ERROR;
  return 0;
}

// A consumer's descriptor and get options, copied as their versions say.
int CopyConsumerRequest(const void* pMsgDesc, const void* pGetMsgOpts, LqmConsumer* k) {
  const MQMD* md = static_cast<const MQMD*>(pMsgDesc);
  if (md == nullptr || memcmp(md->StrucId, MQMD_STRUC_ID, 4) != 0 || md->Version < MQMD_VERSION_1 ||
      md->Version > MQMD_VERSION_2)
    return MQRC_MD_ERROR;
  const MQGMO* gmo = static_cast<const MQGMO*>(pGetMsgOpts);
  if (gmo == nullptr || memcmp(gmo->StrucId, MQGMO_STRUC_ID, 4) != 0 ||
      gmo->Version < MQGMO_VERSION_1 || gmo->Version > MQGMO_VERSION_4)
    return MQRC_GMO_ERROR;
  k->Md = MQMD{MQMD_DEFAULT};
  memcpy(&k->Md, md, md->Version >= MQMD_VERSION_2 ? sizeof(MQMD) : MQMD_LENGTH_1);
  k->Gmo = MQGMO{MQGMO_DEFAULT};
  size_t length = gmo->Version >= MQGMO_VERSION_4   ? sizeof(MQGMO)
                  : gmo->Version == MQGMO_VERSION_3 ? MQGMO_LENGTH_3
                  : gmo->Version == MQGMO_VERSION_2 ? MQGMO_LENGTH_2
                                                    : MQGMO_LENGTH_1;
  memcpy(&k->Gmo, gmo, length);
  k->Gmo.Version = MQGMO_VERSION_4;
  // Delivery moves its own cursor; a consumer cannot name a message under it.
  if ((k->Gmo.Options & (MQGMO_MSG_UNDER_CURSOR | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0)
    return MQRC_OPTIONS_ERROR;
  if ((k->Gmo.Options & MQGMO_WAIT) != 0 && k->Gmo.WaitInterval < 0 &&
      k->Gmo.WaitInterval != MQWI_UNLIMITED)
    return MQRC_WAIT_INTERVAL_ERROR;
  return 0;
}

// The API's view of Hconn and, for a consumer, Hobj: 0 or the reason. The
// notify counter's address comes along for the record.
int CheckHandles(MQHCONN hconn, MQHOBJ hobj, bool consumer, volatile uint32_t** notify) {
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn = LqmFindConnection(hconn);
  if (conn == nullptr) return MQRC_HCONN_ERROR;
  *notify = conn->Main.Notify;
  if (!consumer) return 0;
  LqmHandle* h = LqmFindHandle(conn, hobj);
  if (h == nullptr) return MQRC_HOBJ_ERROR;
  constexpr MQLONG kReadable =
      MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE | MQOO_BROWSE;
  if (h->ObjectType != MQOT_Q || h->DistList || (h->Options & kReadable) == 0)
    return MQRC_NOT_OPEN_FOR_INPUT;
  return 0;
}

void Register(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, const LqmConsumer& k,
              MQLONG suspendOrResume) {
  bool handler = k.Cbd.CallbackType == MQCBT_EVENT_HANDLER;
  LqmConsumer* existing =
      handler ? (c->HasEventHandler ? &c->EventHandler : nullptr) : LqmConsumerFind(c, k.Hobj);
  bool replaced = existing != nullptr;
  if (existing == nullptr) {
    if (handler) {
      c->HasEventHandler = true;
      existing = &c->EventHandler;
    } else {
      c->Consumers.push_back(k);
      existing = &c->Consumers.back();
    }
  }
  bool suspended = replaced && existing->Suspended;
  *existing = k;
  existing->Suspended = suspendOrResume == MQOP_SUSPEND || (suspended && suspendOrResume == 0);
  LqmConsumer copy = *existing;
  LqmConsumeWake(c);
  // Replacing a registration makes no first or last call.
  if (!replaced) LqmControlCall(c, lock, copy, MQCBCT_REGISTER_CALL);
}

void Deregister(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, MQHOBJ hobj, bool handler) {
  LqmConsumer gone;
  if (handler) {
    gone = c->EventHandler;
    c->HasEventHandler = false;
  } else {
    for (size_t i = 0; i < c->Consumers.size(); ++i) {
      if (c->Consumers[i].Hobj != hobj) continue;
      gone = c->Consumers[i];
      c->Consumers.erase(c->Consumers.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  LqmConsumeWake(c);
  LqmControlCall(c, lock, gone, MQCBCT_DEREGISTER_CALL);
}

// The part of MQCB after the handles have been checked. 0 or the reason.
int ManageCallback(MQHCONN hconn, MQLONG op, MQLONG base, const MQCBD* cbd, MQHOBJ hobj,
                   const void* pMsgDesc, const void* pGetMsgOpts, volatile uint32_t* notify) {
  bool handler = cbd != nullptr && cbd->CallbackType == MQCBT_EVENT_HANDLER;
  LqmConsumer k{};
  if (base == MQOP_REGISTER) {
    int rc = CheckCallbackDesc(cbd);
    if (rc != 0) return rc;
    k.Cbd = *cbd;
    k.Hobj = handler ? MQHO_NONE : hobj;
    if (!handler) rc = CopyConsumerRequest(pMsgDesc, pGetMsgOpts, &k);
    if (rc != 0) return rc;
    k.EmptySinceMs = -1;
  }
  std::unique_lock<std::mutex> lock(LqmConsumeLock());
  LqmConsumeConn* c =
      base == MQOP_REGISTER ? LqmConsumeFindOrAdd(hconn, notify) : LqmConsumeFind(hconn);
  // Only the consumers themselves may change the registry of a started
  // connection; a suspended or stopped one is free to everyone.
  if (c != nullptr && c->Delivering && c->State == LqmConsumeState::kStarted && !c->StopPending &&
      !LqmInCallbackOf(c))
    return MQRC_HCONN_ASYNC_ACTIVE;
  if (base == MQOP_REGISTER) {
    Register(c, lock, k, op & (MQOP_SUSPEND | MQOP_RESUME));
    return 0;
  }
  LqmConsumer* found = c == nullptr ? nullptr
                       : handler    ? (c->HasEventHandler ? &c->EventHandler : nullptr)
                                    : LqmConsumerFind(c, hobj);
  if (found == nullptr) return MQRC_CALLBACK_NOT_REGISTERED;
  if (base == MQOP_DEREGISTER) {
    Deregister(c, lock, hobj, handler);
  } else {
    found->Suspended = base == MQOP_SUSPEND;
    if (!found->Suspended) found->FailedGet = false;
    LqmConsumeWake(c);
  }
  return 0;
}

}  // namespace

// Both live for the whole process, never destroyed: a delivery thread
// left detached at exit may still use them after static destructors ran.
std::mutex& LqmConsumeLock() {
  static std::mutex* lock = new std::mutex();
  return *lock;
}

std::condition_variable& LqmConsumeChanged() {
  static std::condition_variable* changed = new std::condition_variable();
  return *changed;
}

LqmConsumeConn* LqmConsumeFind(MQHCONN hconn) {
  for (LqmConsumeConn* c : Records())
    if (c->Hconn == hconn) return c;
  return nullptr;
}

LqmConsumeConn* LqmConsumeFindOrAdd(MQHCONN hconn, volatile uint32_t* notify) {
  LqmConsumeConn* c = LqmConsumeFind(hconn);
  if (c != nullptr) return c;
  c = new LqmConsumeConn{};
  c->Hconn = hconn;
  c->Notify = notify;
  c->State = LqmConsumeState::kStopped;
  Records().push_back(c);
  return c;
}

void LqmConsumeErase(MQHCONN hconn) {
  auto& records = Records();
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i]->Hconn != hconn) continue;
    delete records[i];
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

LqmConsumer* LqmConsumerFind(LqmConsumeConn* c, MQHOBJ hobj) {
  for (LqmConsumer& k : c->Consumers)
    if (k.Hobj == hobj) return &k;
  return nullptr;
}

bool LqmInCallbackOf(const LqmConsumeConn* c) {
  return c == nullptr ? tCallbackOf != nullptr : tCallbackOf == c;
}

void LqmInvoke(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, const LqmConsumer& k,
               MQLONG callType, MQLONG compCode, MQLONG reason, MQMD* md, MQGMO* gmo, void* buffer,
               MQLONG dataLength, MQLONG bufferLength) {
  LqmConsumer* live = k.Hobj == MQHO_NONE ? (c->HasEventHandler ? &c->EventHandler : nullptr)
                                          : LqmConsumerFind(c, k.Hobj);
  MQCBC cbc{};
  memcpy(cbc.StrucId, MQCBC_STRUC_ID, 4);
  cbc.Version = MQCBC_VERSION_2;
  cbc.CallType = callType;
  cbc.Hobj = k.Hobj;
  cbc.CallbackArea = live != nullptr ? live->Cbd.CallbackArea : k.Cbd.CallbackArea;
  cbc.ConnectionArea = c->ConnectionArea;
  cbc.CompCode = compCode;
  cbc.Reason = reason;
  cbc.State = live != nullptr && live->FailedGet ? MQCS_SUSPENDED : MQCS_NONE;
  cbc.DataLength = dataLength;
  cbc.BufferLength = bufferLength;
  cbc.Flags = MQCBCF_NONE;
  cbc.ReconnectDelay = MQRD_NO_RECONNECT;
  auto function = reinterpret_cast<PMQCB_FUNCTION>(k.Cbd.CallbackFunction);

  const LqmConsumeConn* outer = tCallbackOf;
  c->InCallback = true;
  tCallbackOf = c;
  lock.unlock();
  function(c->Hconn, md, gmo, buffer, &cbc);
  lock.lock();
  tCallbackOf = outer;
  c->InCallback = false;
  c->ConnectionArea = cbc.ConnectionArea;
  live = k.Hobj == MQHO_NONE ? (c->HasEventHandler ? &c->EventHandler : nullptr)
                             : LqmConsumerFind(c, k.Hobj);
  if (live != nullptr) live->Cbd.CallbackArea = cbc.CallbackArea;
  LqmConsumeChanged().notify_all();
}

void LqmControlCall(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, const LqmConsumer& k,
                    MQLONG callType) {
  MQLONG wanted = callType == MQCBCT_REGISTER_CALL     ? MQCBDO_REGISTER_CALL
                  : callType == MQCBCT_DEREGISTER_CALL ? MQCBDO_DEREGISTER_CALL
                  : callType == MQCBCT_START_CALL      ? MQCBDO_START_CALL
                                                       : MQCBDO_STOP_CALL;
  if ((k.Cbd.Options & wanted) == 0) return;
  // Callbacks of one connection never run side by side: while one runs or
  // a loop may start one, the call waits for the loop to make it.
  if (c->InCallback || c->Delivering) {
    c->Pending.push_back(LqmPendingCall{k, callType});
    LqmConsumeWake(c);
    return;
  }
  LqmInvoke(c, lock, k, callType, MQCC_OK, MQRC_NONE, nullptr, nullptr, nullptr, 0, 0);
}

void LqmMQCB(MQHCONN Hconn, MQLONG Operation, PMQVOID pCallbackDesc, MQHOBJ Hobj, PMQVOID pMsgDesc,
             PMQVOID pGetMsgOpts, PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  MQLONG base = Operation & ~(MQOP_SUSPEND | MQOP_RESUME);
  MQLONG extra = Operation & (MQOP_SUSPEND | MQOP_RESUME);
  bool valid = (base == MQOP_REGISTER && extra != (MQOP_SUSPEND | MQOP_RESUME)) ||
               (base == 0 && (extra == MQOP_SUSPEND || extra == MQOP_RESUME)) ||
               (base == MQOP_DEREGISTER && extra == 0);
  if (!valid) return LqmReport(MQRC_OPERATION_ERROR, pCompCode, pReason);
  if (base == 0) base = extra;
  const MQCBD* cbd = static_cast<const MQCBD*>(pCallbackDesc);
  bool handler = cbd != nullptr && memcmp(cbd->StrucId, MQCBD_STRUC_ID, 4) == 0 &&
                 cbd->CallbackType == MQCBT_EVENT_HANDLER;
  if (!handler) cbd = base == MQOP_REGISTER ? cbd : nullptr;
  volatile uint32_t* notify = nullptr;
  int rc = CheckHandles(Hconn, Hobj, !handler && base == MQOP_REGISTER, &notify);
  if (rc == 0)
    rc = ManageCallback(Hconn, Operation, base, cbd, Hobj, pMsgDesc, pGetMsgOpts, notify);
  LqmReport(rc, pCompCode, pReason);
}

void LqmConsumeHandleClosed(MQHCONN hconn, MQHOBJ hobj) {
  if (!gRegistryMade.load(std::memory_order_acquire)) return;
  std::unique_lock<std::mutex> lock(LqmConsumeLock());
  LqmConsumeConn* c = LqmConsumeFind(hconn);
  if (c != nullptr && LqmConsumerFind(c, hobj) != nullptr) Deregister(c, lock, hobj, false);
}

int LqmConsumeDisconnect(MQHCONN hconn) {
  if (!gRegistryMade.load(std::memory_order_acquire)) return 0;
  std::unique_lock<std::mutex> lock(LqmConsumeLock());
  LqmConsumeConn* c = LqmConsumeFind(hconn);
  if (c == nullptr) return 0;
  if (LqmInCallbackOf(c)) return MQRC_ENVIRONMENT_ERROR;
  LqmStopAndWait(c, lock);
  while (!c->Consumers.empty()) Deregister(c, lock, c->Consumers.front().Hobj, false);
  if (c->HasEventHandler) Deregister(c, lock, MQHO_NONE, true);
  LqmConsumeErase(hconn);
  return 0;
}
