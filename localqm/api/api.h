// localqm api: the MQI calls, with IBM MQ's signatures and documented
// results, implemented over the core store. The shared libraries
// (libmqm_r.so, libmqic_r.so) export each LqmXXX below as the plain MQI
// name; the admin command calls them directly.
//
// Every call reports through *pCompCode and *pReason (when those pointers
// are null there is nowhere to report, and the call does nothing). Every
// structure is read by its Version: a caller of an older version is never
// read or written past that version's length. Handles are small integers
// local to the process: Hconn indexes the process's connections, Hobj the
// connection's open objects; 0 and -1 are never valid.
//
// Threads: one process-wide lock serialises the calls; an MQGET that waits
// lets go of it while it sleeps, so other threads keep working.
#ifndef LOCALQM_API_API_H_
#define LOCALQM_API_API_H_

#include <memory>
#include <mutex>
#include <vector>

#include "localqm/core/core.h"
#include "localqm/core/selector.h"
#include "mqi/mqi.h"

// ---- the MQI (connect.cpp, open.cpp, put.cpp, get.cpp, inquire.cpp) ----

// Connect to a queue manager by name (blank: the default). Reasons: 2058
// unknown name or no default, 2059 stopped, 2139 bad MQCNO or a version
// above the queue manager's maximum, 2035 user or password wrong or
// missing while users are defined, 2595 bad MQCSP, 2018 null pHconn.
void LqmMQCONN(PMQCHAR pQMgrName, PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason);
void LqmMQCONNX(PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn, PMQLONG pCompCode,
                PMQLONG pReason);
// Commits the open unit of work, closes every handle (removing temporary
// dynamic queues) and ends the connection; *pHconn becomes
// MQHC_UNUSABLE_HCONN. 2018 for a bad handle. A process that ends without
// MQDISC has its units of work backed out instead: at exit (or when the
// library is unloaded) for each connection it made itself, or by the next
// connect to the queue manager when it could not (killed, _exit).
void LqmMQDISC(PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason);
// Opens the queue manager (inquire only), a local, alias or model queue,
// a queue of another queue manager of the same data root, or a
// distribution list. Reasons as IBM MQ: 2018, 2019, 2044, 2043, 2046,
// 2045, 2085, 2087, 2082, 2001, 2042, 2035, 2011, 2100, 2136, 2154, 2155, 2156.
void LqmMQOPEN(MQHCONN Hconn, PMQVOID pObjDesc, MQLONG Options, PMQHOBJ pHobj,
               PMQLONG pCompCode, PMQLONG pReason);
// Closes a handle; a temporary dynamic queue is removed, a permanent one
// with MQCO_DELETE (2055 when not empty) or MQCO_DELETE_PURGE.
void LqmMQCLOSE(MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode,
                PMQLONG pReason);
// Gets or browses a message in priority then arrival order, matching on
// MsgId/CorrelId/GroupId, waiting (other processes' puts wake it), under
// syncpoint or not, converting MQSTR data on MQGMO_CONVERT. DataLength is
// always the full length. Reasons: 2033, 2034, 2080 (message left; a browse
// cursor still moves onto it), 2079/2119/2110 (warnings), 2016, 2036, 2037,
// 2046, 2090, 2247, 2004, 2005, 2010, 2026, 2186, 2162. A version-1 MQMD
// gets non-default version-2 fields as an MQMDE in front of the data.
void LqmMQGET(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pGetMsgOpts,
              MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength, PMQLONG pCompCode,
              PMQLONG pReason);
// Puts a message with the context the MQPMO asks for, a new MsgId unless
// one is given, to a queue or every destination of a distribution list
// (per-destination results in the response records; 2136 when they
// differ). Reasons: 2051, 2053, 2030, 2031, 2047, 2050, 2049 (warning),
// 2013, 2014, 2027 (also for reports asked for without a ReplyToQ), 2029, 2039, 2046, 2093-2097,
// 2173, 2026, 2004, 2005, 2052, 2154-2159, 2235 (a PCF header the queue manager refuses, see
// LqmCheckPcfHeader). A version-1 MQMD may carry an MQMDE in front of the data.
void LqmMQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts,
              MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason);
// MQOPEN for output (plus the context the MQPMO needs), MQPUT, MQCLOSE.
// Faults set on MQPUT1 apply; those on MQOPEN and MQPUT do not.
void LqmMQPUT1(MQHCONN Hconn, PMQVOID pObjDesc, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts,
               MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason);
// Inquires attributes of the queue manager or a queue, in selector order:
// integers into pIntAttrs, characters (blank-padded) one after another
// into pCharAttrs. Warnings 2022, 2008, 2068 (value -1 or blanks); failures
// 2038, 2065, 2067, 2021, 2006, 2023, 2007, 2052.
void LqmMQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
              MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
              PMQLONG pCompCode, PMQLONG pReason);
// Sets MQIA_INHIBIT_PUT and MQIA_INHIBIT_GET (handle opened with MQOO_SET).
void LqmMQSET(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
              MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
              PMQLONG pCompCode, PMQLONG pReason);
// Commit or back out the connection's unit of work on every queue manager
// it touched. Backout returns gets (BackoutCount + 1) and drops puts. A
// fault of 2003 on MQCMIT backs the unit of work out, as the reason says.
void LqmMQCMIT(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason);
void LqmMQBACK(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason);

// ---- process state shared by the calls (connect.cpp) ----

// One destination of a distribution list.
struct LqmDest {
  char Queue[kLqmNameLength + 1];   // local queue the messages go to
  char Qmgr[kLqmNameLength + 1];    // its queue manager
  LqmStore* Store;                  // that queue manager's store
  MQLONG OpenReason;                // 0 when it opened
  bool Remote;                      // another queue manager of the data root
};

struct LqmHandle {
  bool InUse;
  MQLONG ObjectType;       // MQOT_Q or MQOT_Q_MGR
  MQLONG Options;          // the MQOPEN options
  char ObjectName[kLqmNameLength + 1];  // as opened (alias, or the dynamic name)
  char BaseQueue[kLqmNameLength + 1];   // the local queue behind it
  bool Alias;
  bool TempDynamic;        // created by this handle, removed when it closes
  bool PermDynamic;
  bool Remote;             // BaseQueue lives in Store, another queue manager
  bool Registered;         // has a row in the store's open-handle table
  LqmStore* Store;         // where BaseQueue lives
  std::vector<LqmDest> Dests;  // distribution list; empty otherwise
  bool DistList;
  bool CursorValid;        // browse cursor: the last message browsed
  int64_t CursorRank;
  int64_t CursorId;
  bool HasContext;         // context saved by the last destructive get
  MQMD SavedContext;
  // The SelectionString of the open: messages it does not select are
  // invisible to this handle's gets and browses. Null: no selection.
  std::shared_ptr<const LqmSelector> Selector;
};

struct LqmConnection {
  bool InUse;
  long OwnerPid;                    // the process that connected (a forked
                                    // child inherits the record, not the
                                    // connection)
  LqmStore Main;
  std::vector<LqmStore*> Remotes;   // other queue managers put to directly
  std::vector<LqmHandle> Handles;   // Hobj = index + 1
  char UserId[13];                  // MQMD.UserIdentifier for default context
  char ApplName[29];                // MQMD.PutApplName for default context
  MQBYTE AccountingToken[32];
};

// The lock every call holds while it touches process state or a store.
std::mutex& LqmApiLock();
// After a call ended by an exception: rolls back the store transactions the
// call left open on connection `hconn` (nothing for an unknown handle), so
// the next call starts clean. The unit of work itself stays as it was.
void LqmAbandonCall(MQHCONN hconn);
// The connection for Hconn, or null (the caller then reports 2018).
LqmConnection* LqmFindConnection(MQHCONN hconn);
// The open handle for Hobj on a connection, or null (2019).
LqmHandle* LqmFindHandle(LqmConnection* conn, MQHOBJ hobj);
// Both at once, as a call on an object handle starts: 0, MQRC_HCONN_ERROR
// (2018) when Hconn is no live connection, MQRC_HOBJ_ERROR (2019) when Hobj
// is not open on it. The pointers stay owned by the connection table and
// are only good while LqmApiLock() is held.
int LqmFindConnHandle(MQHCONN hconn, MQHOBJ hobj, LqmConnection** conn, LqmHandle** h);
// The store of another queue manager of the data root, opened once per
// connection and registered there so its units of work are tracked.
// 0; 2087 when there is no such queue manager.
int LqmRemoteStore(LqmConnection* conn, const char* qmgr, LqmStore** out);
// Starts a call's transaction on `store`: begins it, refuses with 2162
// when the queue manager has been stopped, and applies the faults set for
// `call` on `queue` (call null: no fault check). On failure the
// transaction is already ended. *qmgr (may be null) gets the attributes.
int LqmCallBegin(LqmStore* store, const char* call, const char* queue, LqmQmgr* qmgr);
// Sets the completion code for a reason: 0 OK, warnings listed in the
// implementation, everything else MQCC_FAILED.
void LqmReport(MQLONG reason, PMQLONG pCompCode, PMQLONG pReason);
// 2161 when the caller asked to fail while the queue manager quiesces and
// it does; otherwise 0. Reads the queue manager outside any transaction.
int LqmQuiesceCheck(LqmStore* store, bool failIfQuiescing);
bool LqmIsWarning(MQLONG reason);

// Internal pieces shared between the calls (open.cpp, put.cpp). faultCall
// names the call whose faults apply (null: none).
int LqmOpenObject(LqmConnection* conn, MQOD* od, MQLONG options, const char* faultCall,
                  MQHOBJ* hobj, MQLONG* warning);
int LqmCloseObject(LqmConnection* conn, MQHOBJ hobj, MQLONG options);
// The selector of an MQOD (version 4 SelectionString, by pointer or
// offset; VSLength -1 for a terminated string) for an open with `options`.
// *out is null when nothing is to be selected: no string, a blank one, or
// a handle that cannot get or browse (a selector on an output-only open is
// ignored, as IBM MQ ignores it). Returns 0; 2519 for a string that cannot
// be read or is longer than 10240 bytes; 2516 for the queue manager
// object; 2459 or 2504 from LqmSelectorParse.
int LqmOpenSelector(const MQOD* od, MQLONG options, std::shared_ptr<const LqmSelector>* out);
// LqmMsgFind for a get or browse on handle `h`: the first message from
// *match on that the handle's selector selects (every message when it has
// none). *match moves past the messages passed over. 0 or 2033.
int LqmFindSelected(const LqmHandle* h, LqmStore* store, const char* queue, LqmMatch* match,
                    LqmMessage* out);

// Both return the failure reason (0: the call worked) and set *warning to
// a warning reason (2136 when some destinations failed, 2049, ...) or 0.
int LqmPutOnHandle(LqmConnection* conn, LqmHandle* h, MQMD* md, MQPMO* pmo, MQLONG length,
                   const void* buffer, const char* faultCall, MQLONG* warning);

// The check of the MQCFH at the front of a PCF message (Format MQADMIN,
// MQPCF or MQEVENT) being put through `store`'s queue manager: 0 when it
// accepts the message, MQRC_CFH_ERROR (2235) when the data is shorter than
// an MQCFH, its StrucLength is not 36 or its Version is below the queue
// manager's MinCfhVersion or above the current version. Nothing is
// checked (and nothing read) for other formats, when fullChecks is false
// (a version-1 descriptor without an MQMDE) or when MinCfhVersion is 0 or
// 1. md gives Format and Encoding of the data; a store failure is returned.
int LqmCheckPcfHeader(LqmStore* store, const MQMD* md, bool fullChecks, const void* data,
                      MQLONG length);

// Writes one response record (MQRR) of an array the caller gave by pointer
// or offset: byte-wise, since an offset need not be aligned.
void LqmSetResponse(char* records, MQLONG index, MQLONG reason);
// A record array the caller gives either by pointer or by offset from the
// start of `base` (the MQOD or MQPMO). Both at once returns `reason`;
// neither leaves *out null. *out points into caller memory, not owned.
int LqmRecordArray(void* pointer, MQLONG offset, void* base, MQLONG reason, char** out);

// How the destinations of a distribution list fared, counted as an open or
// a put goes through them one by one.
struct LqmDestTally {
  MQLONG Known = 0, Unknown = 0, Invalid = 0;
  MQLONG First = 0;  // reason of the first destination that failed
  bool Same = true;  // every failed destination failed with First
};
// Counts destination `index` (reason 0: it worked; a remote one counts as
// unknown) and writes its response record when `responses` is not null.
void LqmTallyDest(LqmDestTally* t, MQLONG index, MQLONG reason, bool remote, char* responses);
// Closes a tally of `count` destinations: writes the three counts, returns
// the shared reason (or 2136 MQRC_MULTIPLE_REASONS) when all of them
// failed, otherwise 0 and sets *warning to 2136 when some failed (left
// alone when none did).
int LqmTallyEnd(const LqmDestTally& t, MQLONG count, MQLONG* known, MQLONG* unknown,
                MQLONG* invalid, MQLONG* warning);

// For the admin command: puts with every descriptor field as given
// (BackoutCount included), bypassing context rules. 0 or a reason.
int LqmAdminPut(LqmStore* store, const char* queue, const MQMD* md, const void* data,
                MQLONG length);

#endif  // LOCALQM_API_API_H_
