// localqm consume, inside: the registry of consumers per connection and
// the delivery loop, shared by registry.cpp (MQCB and the hooks),
// control.cpp (MQCTL) and delivery.cpp (the loop and the callback calls).
//
// Every field of an LqmConsumeConn is read and written under
// LqmConsumeLock(), except Buffer, which only the thread that runs the
// delivery loop (Delivering) touches. Records are made by the first MQCB
// of a connection and deleted by its MQDISC; their addresses stay fixed.
#ifndef LOCALQM_CONSUME_CONSUME_INTERNAL_H_
#define LOCALQM_CONSUME_CONSUME_INTERNAL_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "mqi/mqi.h"

// One registered callback: a message consumer on Hobj, or the event
// handler (Hobj MQHO_NONE).
struct LqmConsumer {
  MQHOBJ Hobj;
  MQCBD Cbd;             // as registered; CallbackArea keeps what callbacks left in it
  MQMD Md;               // selection and conversion of every get (version as given)
  MQGMO Gmo;             // the registered options, held as version 4
  bool Suspended;        // by MQCB, or by the library after a failed get
  bool FailedGet;        // suspended by the library: State MQCS_SUSPENDED
  bool BrowsedOnce;      // MQGMO_BROWSE_FIRST has been done: later turns browse next
  int64_t EmptySinceMs;  // when the queue was found empty this spell; -1 when not
  bool EmptyReported;    // this spell's 2033 event was made (WaitInterval 0)
};

enum class LqmConsumeState { kStopped, kStarted, kSuspended };

// A control call (register, deregister) that has to wait until the
// running callback returns.
struct LqmPendingCall {
  LqmConsumer Consumer;
  MQLONG CallType;
};

struct LqmConsumeConn {
  MQHCONN Hconn;
  volatile uint32_t* Notify;           // the queue manager's wake-up counter
  std::vector<LqmConsumer> Consumers;  // message consumers, in registration order
  bool HasEventHandler;
  LqmConsumer EventHandler;
  LqmConsumeState State;
  bool StopPending;     // delivery ends once the running callback returns
  bool Delivering;      // a delivery loop runs (own thread or a START_WAIT caller)
  bool OwnThread;       // ... on Thread
  bool Parked;          // the loop waits while suspended
  bool InCallback;      // a callback of this connection is running
  bool StartCallsDone;  // the loop has made its start calls
  bool StoppedInStart;  // a start call stopped the connection
  MQLONG EndReason;     // why the last loop ended: 0, 2446, 2521, a connection failure
  MQPTR ConnectionArea;
  size_t Next;  // the consumer whose turn comes next
  std::vector<LqmPendingCall> Pending;
  std::thread Thread;  // joinable until joined by STOP, START or MQDISC
  std::vector<unsigned char> Buffer;
};

// The registry lock and the condition signalled on every change of a
// record's state (waiters re-check their own condition).
std::mutex& LqmConsumeLock();
std::condition_variable& LqmConsumeChanged();

// The record of hconn, or null. REQUIRES: the lock.
LqmConsumeConn* LqmConsumeFind(MQHCONN hconn);
// The record of hconn, made when missing. REQUIRES: the lock.
LqmConsumeConn* LqmConsumeFindOrAdd(MQHCONN hconn, volatile uint32_t* notify);
// Removes and frees the record. REQUIRES: the lock; no loop runs on it.
void LqmConsumeErase(MQHCONN hconn);

// The consumer registered on hobj, or null. REQUIRES: the lock.
LqmConsumer* LqmConsumerFind(LqmConsumeConn* c, MQHOBJ hobj);

// True when the calling thread is running a callback of c (of any
// connection when c is null).
bool LqmInCallbackOf(const LqmConsumeConn* c);

// Wakes a loop that waits for messages (it sleeps on the queue manager's
// counter) and every waiter on the condition. REQUIRES: the lock.
void LqmConsumeWake(LqmConsumeConn* c);

// Calls `k`'s function with a control call (MQCBCT_REGISTER_CALL, ...)
// when its Options ask for it: at once when no callback of c runs and no
// loop delivers, otherwise after the running callback. REQUIRES: the lock
// (released while the callback runs).
void LqmControlCall(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, const LqmConsumer& k,
                    MQLONG callType);

// Calls one callback with the lock released, keeping what it leaves in
// its areas. md, gmo, buffer may be null. REQUIRES: the lock.
void LqmInvoke(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, const LqmConsumer& k,
               MQLONG callType, MQLONG compCode, MQLONG reason, MQMD* md, MQGMO* gmo, void* buffer,
               MQLONG dataLength, MQLONG bufferLength);

// The delivery loop: start calls (when startCalls), turns until stopped,
// suspended (on the caller's thread only) or without consumers, stop
// calls. Sets EndReason. REQUIRES: the lock, Delivering set by the caller.
// Returns with the lock held and Delivering cleared.
void LqmDeliver(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock, bool startCalls);

// Asks the loop to stop and waits until it has ended, then joins its
// thread (never the calling one). REQUIRES: the lock; not called from a
// callback of c.
void LqmStopAndWait(LqmConsumeConn* c, std::unique_lock<std::mutex>& lock);

#endif  // LOCALQM_CONSUME_CONSUME_INTERNAL_H_
