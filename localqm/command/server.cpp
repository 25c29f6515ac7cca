// The command server's loop: take a request off the command queue, answer
// it, and put the replies where the request asked, all in one commit. Also
// the server's own state (running or not, queue file limits) and the
// SYSTEM.* queues of a new queue manager.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>

#include "localqm/api/api.h"
#include "localqm/command/command.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// The server's tables, and the index that measures a queue's file: the
// data length of every committed row by queue, so that the size of a
// queue of any depth is read from the index alone, never from the rows.
// SQLite keeps it with every put and get; it costs each of them one more
// index entry.
const char kTables[] =
    "CREATE TABLE IF NOT EXISTS cmdserver(id INTEGER PRIMARY KEY CHECK(id = 1),"
    " running INT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS queue_files(name TEXT PRIMARY KEY, max_mb INT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS messages_bytes ON messages(queue, length(data)) WHERE state = 0;";

constexpr char kServerApplName[] = "localqm command server";

// Runs `sql` (one row of up to two integers wanted, ?1 bound to `text`).
// *found tells whether a row came back; a and b (may be null) get its
// columns. 0 or a store failure.
int QueryRow(LqmStore* store, const char* sql, const char* text, bool* found, int64_t* a,
             int64_t* b) {
  *found = false;
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(store->Db, sql, -1, &st, nullptr));
  if (rc != 0) return rc;
  if (text != nullptr) sqlite3_bind_text(st, 1, text, -1, SQLITE_TRANSIENT);
  int step = sqlite3_step(st);
  if (step == SQLITE_ROW) {
    *found = true;
    if (a != nullptr) *a = sqlite3_column_int64(st, 0);
    if (b != nullptr) *b = sqlite3_column_int64(st, 1);
  }
  sqlite3_finalize(st);
  return step == SQLITE_ROW || step == SQLITE_DONE ? 0 : LqmSqlReason(step);
}

// Rows and data bytes of `queue`: committed rows and rows in units of
// work, each through the index that holds them.
int QueueRows(LqmStore* store, const char* queue, bool pending, int64_t* rows, int64_t* bytes) {
  const char* sql =
      pending ? "SELECT count(*), coalesce(sum(length(data)), 0) FROM messages"
                " INDEXED BY messages_uow WHERE conn <> 0 AND queue = ?1"
              : "SELECT count(*), coalesce(sum(length(data)), 0) FROM messages"
                " INDEXED BY messages_bytes WHERE state = 0 AND queue = ?1";
  bool found;
  *rows = *bytes = 0;
  return QueryRow(store, sql, queue, &found, rows, bytes);
}

void Pad(char* field, size_t size, const char* text) {
  memset(field, ' ', size);
  memcpy(field, text, strnlen(text, size));
}

// The descriptor of a reply to `request`, as IBM MQ's command server
// makes it: a reply in MQADMIN format correlated with the request.
MQMD ReplyDescriptor(const LqmStore* store, const LqmQmgr& qm, const MQMD& request) {
  MQMD md = {MQMD_DEFAULT};
  md.Version = MQMD_VERSION_2;
  md.MsgType = MQMT_REPLY;
  memcpy(md.Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH);
  md.Encoding = MQENC_NATIVE;
  md.CodedCharSetId = qm.Ccsid;
  md.Priority = request.Priority >= 0 ? request.Priority : 0;
  md.Persistence = request.Persistence == MQPER_PERSISTENT ? MQPER_PERSISTENT
                                                           : MQPER_NOT_PERSISTENT;
  if ((request.Report & MQRO_PASS_MSG_ID) != 0)
    memcpy(md.MsgId, request.MsgId, sizeof md.MsgId);
  else
    LqmNewId(store->Name, md.MsgId);
  memcpy(md.CorrelId, (request.Report & MQRO_PASS_CORREL_ID) != 0 ? request.CorrelId
                                                                   : request.MsgId,
         sizeof md.CorrelId);
  memcpy(md.UserIdentifier, request.UserIdentifier, sizeof md.UserIdentifier);
  memcpy(md.AccountingToken, request.AccountingToken, sizeof md.AccountingToken);
  memset(md.ApplIdentityData, ' ', sizeof md.ApplIdentityData);
  md.PutApplType = MQAT_QMGR;
  Pad(md.PutApplName, sizeof md.PutApplName, kServerApplName);
  LqmFormatPutTime(LqmNowMs(), md.PutDate, md.PutTime);
  memset(md.ApplOriginData, ' ', sizeof md.ApplOriginData);
  memset(md.ReplyToQ, ' ', sizeof md.ReplyToQ);
  LqmNameToField(store->Name, md.ReplyToQMgr, sizeof md.ReplyToQMgr);
  return md;
}

bool IsStoreFailure(int rc) { return rc == MQRC_RESOURCE_PROBLEM || rc == MQRC_UNEXPECTED_ERROR; }

// Puts one message on local queue (or alias of one) `name` of `store`,
// inside the caller's transaction, with the limits a put meets. Returns 0,
// the reason a put would fail with, or a store failure.
int PutMessage(LqmStore* store, const char* name, MQMD* md, const std::vector<unsigned char>& data) {
  LqmQueue q;
  int rc = LqmQueueRead(store, name, &q);
  if (rc == 0 && q.Type == MQQT_ALIAS) rc = LqmQueueRead(store, q.Target, &q);
  if (rc != 0) return rc;
  if (q.Type != MQQT_LOCAL) return MQRC_UNKNOWN_OBJECT_NAME;
  if (q.PutInhibited) return MQRC_PUT_INHIBITED;
  if (q.Depth >= q.MaxDepth) return MQRC_Q_FULL;
  if (data.size() > static_cast<size_t>(q.MaxMsgLength)) return MQRC_MSG_TOO_BIG_FOR_Q;
  return LqmMsgInsert(store, q.Name, md, data.data(), data.size(), MQEI_UNLIMITED, false);
}

// Puts a reply that could not reach `queue` on `queueManager` to the dead-
// letter queue behind an MQDLH carrying `reason`. A reply the dead-letter
// queue does not take either is dropped (0); a store failure is returned.
int DeadLetter(LqmStore* store, const LqmQmgr& qm, MQMD md, const char* queue,
               const char* queueManager, MQLONG reason, const std::vector<unsigned char>& data) {
  MQDLH dlh = {MQDLH_DEFAULT};
  dlh.Reason = reason;
  Pad(dlh.DestQName, sizeof dlh.DestQName, queue);
  Pad(dlh.DestQMgrName, sizeof dlh.DestQMgrName, queueManager);
  dlh.Encoding = md.Encoding;
  dlh.CodedCharSetId = md.CodedCharSetId;
  memcpy(dlh.Format, md.Format, sizeof dlh.Format);
  dlh.PutApplType = md.PutApplType;
  memcpy(dlh.PutApplName, md.PutApplName, sizeof dlh.PutApplName);
  memcpy(dlh.PutDate, md.PutDate, sizeof dlh.PutDate);
  memcpy(dlh.PutTime, md.PutTime, sizeof dlh.PutTime);
  std::vector<unsigned char> wrapped(sizeof dlh + data.size());
  memcpy(wrapped.data(), &dlh, sizeof dlh);
  if (!data.empty()) memcpy(wrapped.data() + sizeof dlh, data.data(), data.size());
  memcpy(md.Format, MQFMT_DEAD_LETTER_HEADER, MQ_FORMAT_LENGTH);
  if (qm.DeadLetterQ[0] == '\0') return 0;
  int rc = PutMessage(store, qm.DeadLetterQ, &md, wrapped);
  return IsStoreFailure(rc) ? rc : 0;
}

// Puts the replies to `request` on its ReplyToQ: on this queue manager in
// the caller's transaction, on another one of the data root in a
// transaction there. Returns 0 or a store failure of this queue manager.
int DeliverReplies(LqmStore* store, const MQMD& request, std::vector<LqmPcfReply>* replies) {
  char queue[kLqmNameLength + 1], qmgr[kLqmNameLength + 1];
  LqmNameFromField(request.ReplyToQ, sizeof request.ReplyToQ, queue);
  LqmNameFromField(request.ReplyToQMgr, sizeof request.ReplyToQMgr, qmgr);
  if (queue[0] == '\0' || replies->empty()) return 0;  // nowhere to answer
  LqmQmgr qm;
  int rc = LqmQmgrRead(store, &qm);
  if (rc != 0) return rc;
  LqmStore other{};
  LqmStore* target = store;
  int openRc = 0;
  if (qmgr[0] != '\0' && strcmp(qmgr, store->Name) != 0) {
    openRc = LqmStoreOpen(qmgr, &other);
    if (openRc == MQRC_Q_MGR_NAME_ERROR) openRc = MQRC_UNKNOWN_REMOTE_Q_MGR;
    if (openRc == 0) openRc = LqmTxnBegin(&other);
    target = &other;
  }
  int otherRc = openRc;
  for (LqmPcfReply& reply : *replies) {
    MQMD md = ReplyDescriptor(store, qm, request);
    int put = otherRc == 0 ? PutMessage(target, queue, &md, reply.Bytes) : otherRc;
    if (IsStoreFailure(put) && target == store) {
      rc = put;
      break;
    }
    if (put != 0) rc = DeadLetter(store, qm, md, queue, qmgr[0] != '\0' ? qmgr : store->Name,
                                  put, reply.Bytes);
    if (rc != 0) break;
  }
  if (target != store) {
    if (openRc == 0) LqmTxnEnd(&other, rc);
    LqmStoreClose(&other);
  }
  return rc;
}

// Serves the oldest request on the command queue. *served tells whether
// there was one. 0 or a store failure (the request then stays).
int ServeOne(LqmStore* store, bool* served) {
  *served = false;
  int rc = LqmTxnBegin(store);
  if (rc != 0) return rc;
  LqmMatch match{};
  LqmMessage request;
  rc = LqmMsgFind(store, kLqmCommandQueue, &match, &request, true);
  if (rc == MQRC_NO_MSG_AVAILABLE || rc == MQRC_UNKNOWN_OBJECT_NAME)
    return LqmTxnEnd(store, 0);
  if (rc == 0) rc = LqmMsgTake(store, kLqmCommandQueue, request.Id, false);
  std::vector<LqmPcfReply> replies;
  if (rc == 0)
    rc = LqmPcfAnswer(store, request.Md, request.Data.data(), request.Data.size(), &replies);
  if (rc == 0) rc = DeliverReplies(store, request.Md, &replies);
  rc = LqmTxnEnd(store, rc);
  *served = rc == 0;
  return rc;
}

}  // namespace

int LqmCommandServerRunning(LqmStore* store, bool* running) {
  *running = true;
  int rc = LqmExec(store, kTables);
  bool found = false;
  int64_t value = 1;
  if (rc == 0)
    rc = QueryRow(store, "SELECT running FROM cmdserver WHERE id = 1", nullptr, &found, &value,
                  nullptr);
  if (rc == 0 && found) *running = value != 0;
  return rc;
}

int LqmCommandServerSet(LqmStore* store, bool running) {
  int rc = LqmExec(store, kTables);
  if (rc != 0) return rc;
  return LqmExec(store, running ? "INSERT OR REPLACE INTO cmdserver(id, running) VALUES(1, 1)"
                                : "INSERT OR REPLACE INTO cmdserver(id, running) VALUES(1, 0)");
}

int LqmCommandServe(LqmStore* store, long* served) {
  if (served != nullptr) *served = 0;
  bool running = false;
  int rc = LqmCommandServerRunning(store, &running);
  if (rc != 0 || !running) return rc;
  // Only the requests there now: a reply that lands on the command queue
  // is answered by the next put, never in a loop here.
  MQLONG waiting = 0;
  rc = LqmQueueDepth(store, kLqmCommandQueue, &waiting);
  if (rc == MQRC_UNKNOWN_OBJECT_NAME) return 0;
  for (MQLONG i = 0; rc == 0 && i < waiting; ++i) {
    bool one = false;
    rc = ServeOne(store, &one);
    if (!one) break;
    if (served != nullptr) ++*served;
  }
  return rc;
}

void LqmCommandQueueReached(const LqmHandle* h) {
  if (!h->DistList) {
    if (strcmp(h->BaseQueue, kLqmCommandQueue) == 0) LqmCommandServe(h->Store, nullptr);
    return;
  }
  for (const LqmDest& d : h->Dests)
    if (d.OpenReason == 0 && strcmp(d.Queue, kLqmCommandQueue) == 0)
      LqmCommandServe(d.Store, nullptr);
}

int LqmDefineSystemQueues(LqmStore* store) {
  static const char* const kLocals[] = {
      "SYSTEM.ADMIN.CHANNEL.EVENT",     "SYSTEM.ADMIN.COMMAND.EVENT",
      "SYSTEM.ADMIN.CONFIG.EVENT",      "SYSTEM.ADMIN.PERFM.EVENT",
      "SYSTEM.ADMIN.QMGR.EVENT",        "SYSTEM.CHANNEL.INITQ",
      "SYSTEM.CHANNEL.SYNCQ",           "SYSTEM.CLUSTER.COMMAND.QUEUE",
      "SYSTEM.CLUSTER.REPOSITORY.QUEUE", "SYSTEM.CLUSTER.TRANSMIT.QUEUE",
      "SYSTEM.DEFAULT.INITIATION.QUEUE"};
  int rc = LqmExec(store, kTables);
  LqmQueue q;
  for (const char* name : kLocals) {
    if (rc != 0) break;
    LqmQueueDefaults(&q, name);
    rc = LqmQueueWrite(store, &q, true);
  }
  if (rc == 0) {
    LqmQueueDefaults(&q, "SYSTEM.MQSC.REPLY.QUEUE");
    q.Type = MQQT_MODEL;
    q.DefinitionType = MQQDT_TEMPORARY_DYNAMIC;
    rc = LqmQueueWrite(store, &q, true);
  }
  return rc;
}

int LqmQueueFileStatusRead(LqmStore* store, const char* queue, LqmQueueFileStatus* out) {
  *out = LqmQueueFileStatus{0, kLqmDefaultMaxFileSize, 0};
  int64_t rows = 0, bytes = 0, pendingRows = 0, pendingBytes = 0, max = 0;
  bool found = false;
  int rc = LqmExec(store, kTables);
  if (rc == 0) rc = QueueRows(store, queue, false, &rows, &bytes);
  if (rc == 0) rc = QueueRows(store, queue, true, &pendingRows, &pendingBytes);
  if (rc == 0)
    rc = QueryRow(store, "SELECT max_mb FROM queue_files WHERE name = ?1", queue, &found, &max,
                  nullptr);
  if (rc != 0) return rc;
  int64_t total = (rows + pendingRows) * kLqmFileBytesPerMessage + bytes + pendingBytes;
  int64_t megabytes = (total + 1048575) / 1048576;
  out->FileSize = static_cast<MQLONG>(megabytes > 0x7fffffff ? 0x7fffffff : megabytes);
  if (found) out->MaxFileSize = static_cast<MQLONG>(max);
  out->Uncommitted = static_cast<MQLONG>(pendingRows);
  return 0;
}

int LqmQueueSetMaxFileSize(LqmStore* store, const char* queue, MQLONG megabytes) {
  if (megabytes < 1 || megabytes > 999999999) return MQRC_OPTIONS_ERROR;
  LqmQueue q;
  int rc = LqmQueueRead(store, queue, &q);
  if (rc == 0) rc = LqmExec(store, kTables);
  if (rc != 0) return rc;
  sqlite3_stmt* st = nullptr;
  rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "INSERT OR REPLACE INTO queue_files(name, max_mb) VALUES(?1, ?2)", -1, &st,
      nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_text(st, 1, queue, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 2, megabytes);
  rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_finalize(st);
  return rc;
}
