// localqm consume: asynchronous message consumption (MQCB, MQCTL).
//
// A connection registers message consumers (one per object handle) and at
// most one event handler with MQCB, then starts delivery with MQCTL:
//   MQOP_START       delivery runs on a thread owned by the library; the
//                    call returns once the consumers' start calls are made.
//   MQOP_START_WAIT  delivery runs on the caller's thread until a callback
//                    stops it (MQCC_OK), the connection is suspended
//                    (warning 2521), or no consumer is left that is not
//                    suspended (2446, MQRC_NO_CALLBACKS_ACTIVE).
//   MQOP_STOP        from outside a callback: waits for the running
//                    callback and the stop calls, then returns; the
//                    registrations stay. From inside a callback: takes
//                    effect when that callback returns.
//   MQOP_SUSPEND / MQOP_RESUME  pause and continue delivery.
//
// Delivery: the consumers of a connection are served in turn, one callback
// at a time, never two at once. Each turn is an MQGET without wait on the
// consumer's handle with its registered MQMD and MQGMO (so a syncpoint get
// joins the connection's unit of work, and a callback may MQCMIT it).
// A message is handed over as MQCBCT_MSG_REMOVED, or MQCBCT_MSG_NOT_REMOVED
// when browsed. When the consumer's MQGMO asks to wait, a queue that stays
// empty for its WaitInterval is reported once as an MQCBCT_EVENT_CALL with
// MQRC_NO_MSG_AVAILABLE (2033); with a WaitInterval above 0 the report
// repeats every interval while the queue stays empty, with 0 it comes once
// per empty spell (never again until a message has been delivered), with
// MQWI_UNLIMITED never. A get that fails otherwise is reported to the
// consumer as an event with MQCC_FAILED and the consumer is suspended, so
// that a broken queue is not retried in a loop; a failure of the whole
// connection (queue manager stopping, connection broken) goes to the event
// handler when one is registered, otherwise to the consumer, and stops
// delivery. Start, stop, register and deregister calls are made to the
// consumers whose MQCBD Options ask for them.
//
// Threads: the registry has its own lock, never held while an MQI call or
// a callback runs, and never taken while the API lock is held. Callbacks
// run with no lock of localqm held, so they may call any MQI function.
// While a connection is started, other threads may only stop, suspend or
// disconnect it (MQCB from them is refused with 2500); other calls are not
// policed. MQDISC stops delivery, deregisters every consumer and then
// disconnects; from inside a callback of the same connection it is refused
// with MQRC_ENVIRONMENT_ERROR. At process exit, delivery threads are asked
// to stop before the connections are backed out.
#ifndef LOCALQM_CONSUME_CONSUME_H_
#define LOCALQM_CONSUME_CONSUME_H_

#include "mqi/mqi.h"

// MQCB: Operation MQOP_REGISTER (optionally with MQOP_SUSPEND or
// MQOP_RESUME), MQOP_DEREGISTER, MQOP_SUSPEND or MQOP_RESUME. Reasons:
// 2018 bad Hconn, 2019 bad Hobj, 2037 handle not open for input or browse,
// 2444 bad MQCBD, 2483 bad CallbackType, 2484 bad MQCBD Options, 2485 bad
// MaxMsgLength, 2486 neither or both of function and name, 2487 a
// CallbackName (only function pointers are supported), 2026 bad MQMD, 2186
// bad MQGMO, 2046 get options a consumer cannot use, 2448 nothing
// registered on Hobj, 2488 bad Operation, 2500 connection started by
// another thread.
void LqmMQCB(MQHCONN Hconn, MQLONG Operation, PMQVOID pCallbackDesc, MQHOBJ Hobj, PMQVOID pMsgDesc,
             PMQVOID pGetMsgOpts, PMQLONG pCompCode, PMQLONG pReason);

// MQCTL: Operation MQOP_START, MQOP_START_WAIT, MQOP_STOP, MQOP_SUSPEND or
// MQOP_RESUME, as described above. Reasons: 2018, 2445 bad MQCTLO, 2046
// bad MQCTLO Options, 2488 bad Operation, 2534 not allowed in the current
// state (start while suspended, suspend or resume while stopped,
// START_WAIT while started), 2012 START_WAIT from inside a callback, 2446,
// 2521 (warning), 2528 a consumer stopped the connection in its start call.
void LqmMQCTL(MQHCONN Hconn, MQLONG Operation, PMQVOID pControlOpts, PMQLONG pCompCode,
              PMQLONG pReason);

// For MQCLOSE, after a handle closed (API lock not held): its consumer, if
// any, is deregistered (with its deregister call when asked for).
void LqmConsumeHandleClosed(MQHCONN hconn, MQHOBJ hobj);

// For MQDISC, before the connection ends (API lock not held): stops
// delivery and deregisters everything. Returns 0, or 2012 when called from
// a callback of this connection (the disconnect must then be refused).
int LqmConsumeDisconnect(MQHCONN hconn);

#endif  // LOCALQM_CONSUME_CONSUME_H_
