// localqm core: the store of one queue manager and the primitive operations
// on it. A queue manager is a directory under the data root holding one
// SQLite database (WAL) and a small "notify" file whose counter wakes
// waiting getters in every process.
//
// Calling sequence: LqmStoreOpen (or LqmStoreCreate) gives an LqmStore; each
// MQI call runs as one short transaction (LqmTxnBegin ... LqmTxnEnd), so no
// process ever holds the database while it waits or while a unit of work is
// open. A unit of work lives in the message rows themselves: rows put under
// syncpoint carry state kMsgPutPending, rows got under syncpoint
// kMsgGetPending, both tagged with the connection id. A connection whose
// process has died is rolled back the next time anyone opens the store.
//
// Errors: every procedure returns 0 or an MQ reason code. Database failures
// are MQRC_RESOURCE_PROBLEM (2102) when SQLite reports the disk full or the
// database busy for longer than the busy timeout, otherwise
// MQRC_UNEXPECTED_ERROR (2195). Output parameters are set to a defined
// value on failure too.
#ifndef LOCALQM_CORE_CORE_H_
#define LOCALQM_CORE_CORE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mqi/mqi.h"

struct sqlite3;
struct sqlite3_stmt;

enum : int {
  kLqmNameLength = 48,        // queue and queue manager names
  kLqmPathLength = 4096,
  kLqmMaxPriority = 9,        // MaxPriority of every localqm queue manager
  kLqmQmgrMaxMsgLength = 104857600,  // 100 MB, the queue manager's limit
  kLqmDefaultMaxDepth = 5000,
  kLqmDefaultMaxMsgLength = 4194304,
  kLqmDefaultCcsid = 1208,
  kLqmDefaultCommandLevel = 940,
};

// Message row states. Committed rows are the only ones any get or browse
// sees; pending rows belong to the unit of work of the connection in
// LqmMessage::Conn and count towards the queue's depth until it ends.
enum LqmMsgState : int {
  kMsgCommitted = 0,
  kMsgPutPending = 1,   // put under syncpoint, invisible to everyone
  kMsgGetPending = 2,   // got under syncpoint, hidden from everyone
  kMsgPutPrepared = 3,  // a pending put whose unit of work is committing
};

// Queue-manager attributes kept in the store.
struct LqmQmgr {
  char Name[kLqmNameLength + 1];
  MQLONG CommandLevel;     // MQIA_COMMAND_LEVEL
  MQLONG Platform;         // MQIA_PLATFORM
  MQLONG MaxCnoVersion;    // MQCONNX refuses higher MQCNO versions (2139)
  bool RefuseAsyncPut;     // MQPMO_ASYNC_RESPONSE fails with 2046
  bool Running;            // false: connects fail 2059, calls 2162
  bool Quiescing;          // (with Running) connects and FAIL_IF_QUIESCING calls fail 2161
  MQLONG Ccsid;            // MQIA_CODED_CHAR_SET_ID, MQCCSI_Q_MGR resolves here
  char DeadLetterQ[kLqmNameLength + 1];
  // Lowest MQCFH Version accepted in a PCF message (Format MQADMIN, MQPCF,
  // MQEVENT) put with a version-2 descriptor; 0 or 1 accepts every message
  // without looking at its header. Refusals are MQRC_CFH_ERROR (2235).
  MQLONG MinCfhVersion;
  long FaultCount;         // read only: faults set (none: no per-call fault check)
};

// One queue definition and its current depth.
struct LqmQueue {
  char Name[kLqmNameLength + 1];
  MQLONG Type;             // MQQT_LOCAL, MQQT_MODEL, MQQT_ALIAS
  MQLONG DefinitionType;   // MQQDT_PREDEFINED, _PERMANENT_DYNAMIC, _TEMPORARY_DYNAMIC
  char Target[kLqmNameLength + 1];   // alias: the base queue
  MQLONG MaxDepth;
  MQLONG MaxMsgLength;
  char BackoutQName[kLqmNameLength + 1];
  MQLONG BackoutThreshold;
  bool PutInhibited;
  bool GetInhibited;
  bool DenyInquire;        // MQOPEN with MQOO_INQUIRE fails 2035
  MQLONG DefPriority;
  MQLONG DefPersistence;   // MQPER_NOT_PERSISTENT or MQPER_PERSISTENT
  MQLONG DefInputOpen;     // MQOO_INPUT_SHARED or MQOO_INPUT_EXCLUSIVE
  int64_t Owner;           // temporary dynamic queue: the creating connection
  MQLONG Depth;            // rows of every state on the queue
  char Description[65];
};

// The open store of one queue manager, one per connection (and one per
// other queue manager that a connection puts to directly).
struct LqmStore {
  sqlite3* Db;
  int64_t ConnId;          // this connection's row in conns; 0 = none
  char Name[kLqmNameLength + 1];
  char Dir[kLqmPathLength];
  sqlite3_stmt** Stmts;    // prepared statement cache, indexed internally
  volatile uint32_t* Notify;  // shared counter (mmap of the notify file)
  bool NotifyPending;      // a change others may wait for is uncommitted
  int TxnDepth;
};

// A message as stored: descriptor (always a version-2 MQMD) and data.
struct LqmMessage {
  int64_t Id;
  int64_t Rank;            // kLqmMaxPriority - Priority: ascending = delivery order
  MQLONG State;
  int64_t Conn;
  int64_t ExpiresAtMs;     // 0: never
  MQMD Md;                 // BackoutCount already current
  std::vector<unsigned char> Data;
};

// What a get looks for. Null pointers match anything. After is the browse
// position: only messages after (AfterRank, AfterId) in delivery order.
struct LqmMatch {
  const MQBYTE* MsgId;
  const MQBYTE* CorrelId;
  const MQBYTE* GroupId;
  bool UseAfter;
  int64_t AfterRank;
  int64_t AfterId;
  int64_t OnlyId;          // non-zero: exactly this row
};

// ---- data root and queue-manager directories (store.cpp) ----

// The data root: $LOCALQM_ROOT, else $HOME/.localqm. Returns 0, or 2012
// (MQRC_ENVIRONMENT_ERROR) when neither is set or the path is too long.
int LqmRootDir(char* out, size_t outSize);

// Checks a queue or queue-manager name: 1-48 characters of A-Z a-z 0-9 . / _ %
// Returns 0 or MQRC_Q_MGR_NAME_ERROR / MQRC_UNKNOWN_OBJECT_NAME as asked
// by the caller through `reason`.
int LqmCheckName(const char* name, int reason);

// Copies a fixed MQ name field (NUL or trailing blanks end it) into a
// terminated string of at most 48 characters. Never writes past `out`.
void LqmNameFromField(const char* field, size_t fieldLength, char* out /*49*/);

// Writes a terminated name into a fixed field, padding with blanks.
void LqmNameToField(const char* name, char* field, size_t fieldLength);

// Creates queue manager `name` with the given attributes, its default
// objects (SYSTEM.DEFAULT.LOCAL.QUEUE, SYSTEM.DEFAULT.MODEL.QUEUE,
// SYSTEM.DEAD.LETTER.QUEUE, SYSTEM.ADMIN.COMMAND.QUEUE and the SYSTEM.*
// queues of LqmDefineSystemQueues) and, with `makeDefault`, makes it the
// default. Returns 0; 2100 when it exists;
// 2058 for a bad name; 2102 when the directory cannot be made.
int LqmStoreCreate(const LqmQmgr* attrs, bool makeDefault);

// Fills a queue manager record with the attributes of a new, running queue
// manager `name` (this platform, the current command level and CCSID, the
// latest MQCNO version); the one set of defaults the admin command, the
// tests and the benchmarks start from.
void LqmQmgrDefaults(LqmQmgr* q, const char* name);

// Removes queue manager `name` and all its data. 0; 2058 when unknown.
int LqmStoreDelete(const char* name);

// Opens queue manager `name` (empty: the default one), recovering the
// units of work of dead connections. Returns 0; 2058 when there is no such
// queue manager (or no default); 2102/2195 on database failure. The store
// is released with LqmStoreClose, which is safe on a zeroed store.
int LqmStoreOpen(const char* name, LqmStore* store);
void LqmStoreClose(LqmStore* store);

// The default queue manager's name into out (49 bytes); empty when none.
void LqmDefaultQmgr(char* out);
int LqmSetDefaultQmgr(const char* name);

// Names of every queue manager under the data root, sorted.
int LqmListQmgrs(std::vector<std::string>* names);

// ---- transactions (store.cpp) ----

// Begins a write transaction (BEGIN IMMEDIATE, waits up to the busy
// timeout for other writers). Nested calls only count. 0 or 2102/2195.
int LqmTxnBegin(LqmStore* store);
// Ends the outermost transaction: commits when rc is 0, rolls back
// otherwise. Returns rc, or the commit's failure. Posts the notify
// counter after a commit that made messages available.
int LqmTxnEnd(LqmStore* store, int rc);

// ---- connections (store.cpp) ----

// Registers this process's connection (pid and process start time) and
// sets store->ConnId. 0 or a database failure.
int LqmConnRegister(LqmStore* store, const char* applName);
// Ends the connection: drops its temporary dynamic queues and open-handle
// rows. Its unit of work must already be ended.
int LqmConnUnregister(LqmStore* store);
// Backs out the units of work of connections whose process has ended, and
// drops their dynamic queues. Called by LqmStoreOpen. *recovered (may be
// null) gets the number of connections cleaned up.
int LqmRecoverDead(LqmStore* store, int* recovered);

// ---- queue manager attributes and users (qmgr.cpp) ----

int LqmQmgrRead(LqmStore* store, LqmQmgr* out);
int LqmQmgrWrite(LqmStore* store, const LqmQmgr* attrs);
// Adds or replaces a user. The store keeps only a salted one-way hash of
// the password (crypt(3), table user_hashes), never the password itself.
// 0, a database failure, or 2195 when no hash can be made.
int LqmUserSet(LqmStore* store, const char* user, const char* password);
// Checks a user and password. *usersDefined tells whether any user exists;
// returns 0 when none exist or the pair matches, else 2035.
int LqmUserCheck(LqmStore* store, const char* user, const char* password, bool* usersDefined);
// Replaces the passwords that stores made before hashing kept in clear
// (users.password) by their hashes. Every open runs it. 0 or a failure.
int LqmUserUpgrade(LqmStore* store);

// ---- queues (queues.cpp) ----

// Fills a queue record with the defaults of a new local queue.
void LqmQueueDefaults(LqmQueue* q, const char* name);
// Reads a queue definition. 0; MQRC_UNKNOWN_OBJECT_NAME (2085) when absent.
int LqmQueueRead(LqmStore* store, const char* name, LqmQueue* out);
// Creates (create=true: 2100 when it exists) or replaces a definition;
// Depth is never written from the record.
int LqmQueueWrite(LqmStore* store, const LqmQueue* q, bool create);
// Deletes a queue. Without purge a queue holding messages gives 2055.
// Returns 0 or 2085.
int LqmQueueDelete(LqmStore* store, const char* name, bool purge);
// Names of every queue, sorted.
int LqmQueueList(LqmStore* store, std::vector<std::string>* names);
// Creates a dynamic queue from a model. `pattern` is the DynamicQName:
// a trailing '*' is replaced by a unique suffix. The name chosen goes to
// nameOut (49). Returns 0; 2011 for a bad pattern; 2100 when a fixed name
// exists already.
int LqmQueueCreateDynamic(LqmStore* store, const LqmQueue* model, const char* pattern,
                          char* nameOut);
// Open-handle bookkeeping for shared/exclusive input across processes.
// LqmOpenAcquire returns 0 or MQRC_OBJECT_IN_USE (2042).
int LqmOpenAcquire(LqmStore* store, MQHOBJ hobj, const char* queue, MQLONG inputMode);
int LqmOpenRelease(LqmStore* store, MQHOBJ hobj);
// Counts of handles open for input and output on a queue (for MQINQ).
int LqmOpenCounts(LqmStore* store, const char* queue, MQLONG* input, MQLONG* output);

// ---- messages (messages.cpp) ----

// Stores a message on a local queue (md a version-2 MQMD already filled
// with everything the queue manager decides). syncpoint=true makes it a
// pending put of store->ConnId. Adjusts the depth; does not check limits.
int LqmMsgInsert(LqmStore* store, const char* queue, const MQMD* md, const void* data,
                 size_t length, MQLONG expiryTenths, bool syncpoint);
// Finds the first committed message in delivery order that matches,
// removing expired messages it passes. 0; MQRC_NO_MSG_AVAILABLE (2033).
// withData=false leaves out->Data empty (cheaper for probes).
int LqmMsgFind(LqmStore* store, const char* queue, const LqmMatch* match, LqmMessage* out,
               bool withData);
// Removes a committed message for a destructive get: at once, or as a
// pending get of store->ConnId under syncpoint. 0; 2033 when the row is
// no longer committed (taken by someone else).
int LqmMsgTake(LqmStore* store, const char* queue, int64_t id, bool syncpoint);
// Removes every committed message of a queue; *count gets how many.
int LqmMsgClear(LqmStore* store, const char* queue, long* count);
// Current depth of a queue (every state). 0 or 2085.
int LqmQueueDepth(LqmStore* store, const char* queue, MQLONG* depth);

// Commits or backs out store->ConnId's unit of work (within the caller's
// transaction). Backout returns gets (BackoutCount + 1) and discards puts.
// *changed (may be null) counts the rows touched.
int LqmUowCommit(LqmStore* store, long* changed);
int LqmUowBackout(LqmStore* store, int64_t conn, long* changed);
// Discards `conn`'s uncommitted puts, the pending ones (prepared false) or
// those prepared for a unit across queue managers, and takes them off
// their queues' depths. *dropped counts them. 0 or a database failure.
int LqmUowDropPuts(LqmStore* store, int64_t conn, bool prepared, long* dropped);

// ---- units of work across queue managers (uow.cpp) ----

// Marks store->ConnId's pending puts prepared for unit `uow`, coordinated
// by queue manager `coordinator`; *prepared tells whether there were any.
// Inside the caller's transaction. 0 or a database failure.
int LqmUowPrepare(LqmStore* store, const char* uow, const char* coordinator, bool* prepared);
// Commits or backs out the prepared puts of `conn` and forgets the unit.
int LqmUowResolvePrepared(LqmStore* store, int64_t conn, bool commit, long* changed);
// The coordinator's decision row: written in the same transaction as its
// own commit, erased once every other queue manager has finished.
int LqmDecisionWrite(LqmStore* store, const char* uow);
int LqmDecisionErase(LqmStore* store, const char* uow);
// Whether queue manager `qmgr` holds the decision for `uow` (read-only; a
// missing queue manager has decided nothing). 0 or a database failure.
int LqmDecisionFind(const char* qmgr, const char* uow, bool* found);
// For prepared rows of `conn` in this store: *any tells whether there are
// some, *commit what their coordinator decided.
int LqmPreparedDecision(LqmStore* store, int64_t conn, bool* any, bool* commit);

// ---- faults (faults.cpp) ----

// Adds a fault: `call` (e.g. "MQPUT") fails with `reason` on `queue`
// (empty: any) after `after` successful matching calls, `times` times
// (0: for ever). 0 or a database failure.
int LqmFaultAdd(LqmStore* store, const char* call, const char* queue, MQLONG reason,
                long after, long times);
int LqmFaultClear(LqmStore* store);
// Counts one call and tells whether a fault fires: *reason gets the
// reason to fail with, or 0. Must be called inside a transaction.
int LqmFaultCheck(LqmStore* store, const char* call, const char* queue, MQLONG* reason);
// Lists the faults as text lines for `localqm show`.
int LqmFaultList(LqmStore* store, std::vector<std::string>* lines);

// ---- waking waiters (notify.cpp) ----

int LqmNotifyMap(LqmStore* store);
void LqmNotifyUnmap(LqmStore* store);
// The counter's current value; read it before looking for a message.
uint32_t LqmNotifyRead(const LqmStore* store);
// Wakes every process waiting on this queue manager.
void LqmNotifyPost(LqmStore* store);
// Sleeps until the counter differs from `seen` or `millis` pass.
void LqmNotifyWait(const LqmStore* store, uint32_t seen, long millis);

// ---- data conversion (convert.cpp) ----

// Converts MQSTR text between the supported code pages: 819, 1208, 437,
// 850 (ASCII-based) and 37, 500, 1047 (EBCDIC). A character the target
// lacks becomes its substitute character. Returns 0, or
// MQRC_NOT_CONVERTED (2119) when either code page is unsupported or the
// source is not valid UTF-8 (out is then left empty).
int LqmConvertText(MQLONG fromCcsid, MQLONG toCcsid, const unsigned char* in, size_t length,
                   std::vector<unsigned char>* out);
bool LqmCcsidSupported(MQLONG ccsid);

// ---- small helpers (util.cpp) ----

// Milliseconds since the epoch.
int64_t LqmNowMs();
// PutDate (YYYYMMDD) and PutTime (HHMMSSTH), GMT, for a millisecond time.
void LqmFormatPutTime(int64_t ms, char* date8, char* time8);
// A new 24-byte identifier: "AMQ " + the first 12 characters of the queue
// manager name + 8 bytes unique across processes.
void LqmNewId(const char* qmgrName, MQBYTE* id24);
// The start time (clock ticks since boot) of process `pid`; 0 when it is
// unknown or the process has ended (a zombie counts as ended).
int64_t LqmProcessStart(long pid);

// ---- statement cache (store.cpp; for the core's own .cpp files) ----

// Slots of the per-store prepared statement cache. Every statement an MQI
// call runs per message is cached: preparing costs more than running.
// The twelve find slots are kStmtMsgFind + key * 3 + position (see
// messages.cpp).
enum LqmStmtSlot : int {
  kStmtQmgrRead, kStmtQueueRead, kStmtMsgInsert, kStmtDepthAdd, kStmtMsgFindId,
  kStmtMsgDelete, kStmtMsgSetPending, kStmtFaultSelect, kStmtFaultBump,
  kStmtBegin, kStmtCommit, kStmtRollback,
  kStmtMsgFind, kStmtMsgFindLast = kStmtMsgFind + 11,
  kStmtMsgClear, kStmtUowDepthGets, kStmtUowDeleteGets, kStmtUowCommitPuts, kStmtUowDepthPuts,
  kStmtUowDeletePuts, kStmtUowBackoutGets, kStmtUowPrepare, kStmtUowCommitPrepared,
  kStmtUowDepthPrepared, kStmtUowDeletePrepared, kStmtPreparedForget,
  kStmtLogNext, kStmtLogInsert,  // the recovery log (localqm/log)
  kStmtCount
};
// The cached statement for `slot`, prepared from `sql` on first use and
// reset with its bindings cleared. Null on failure.
sqlite3_stmt* LqmStmt(LqmStore* store, int slot, const char* sql);
// Runs the cached statement `slot` once, with ?1 bound to `a` and ?2 to
// `text` (when not null). *changes (may be null) gets the rows changed.
// 0 or a mapped failure.
int LqmStmtRun(LqmStore* store, int slot, const char* sql, int64_t a, const char* text,
               long* changes);
// Maps a SQLite result code to 0 / 2102 / 2195.
int LqmSqlReason(int sqliteRc);
// Runs one statement without results. 0 or a mapped failure.
int LqmExec(LqmStore* store, const char* sql);

#endif  // LOCALQM_CORE_CORE_H_
