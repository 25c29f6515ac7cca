// Message rows: put, find in delivery order, take, clear, and the end of a
// unit of work. Depth is kept in queues.depth in the same transaction as
// every row change, so a put never has to count the queue.
#include <sqlite3.h>

#include <cstring>

#include "localqm/core/core.h"

namespace {

int Run(LqmStore* store, const char* sql, int64_t a, const char* text, long* changes) {
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(store->Db, sql, -1, &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_int64(st, 1, a);
  if (text != nullptr) sqlite3_bind_text(st, 2, text, -1, SQLITE_TRANSIENT);
  rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_finalize(st);
  if (rc == 0 && changes != nullptr) *changes = sqlite3_changes(store->Db);
  return rc;
}

int AddDepth(LqmStore* store, const char* queue, int delta) {
  sqlite3_stmt* st =
      LqmStmt(store, kStmtDepthAdd, "UPDATE queues SET depth = depth + ?2 WHERE name = ?1");
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  sqlite3_bind_text(st, 1, queue, -1, SQLITE_STATIC);
  sqlite3_bind_int(st, 2, delta);
  int rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_reset(st);
  return rc;
}

void BindId(sqlite3_stmt* st, int index, const MQBYTE* id) {
  if (id != nullptr) sqlite3_bind_blob(st, index, id, 24, SQLITE_STATIC);
}

}  // namespace

int LqmMsgInsert(LqmStore* store, const char* queue, const MQMD* md, const void* data,
                 size_t length, MQLONG expiryTenths, bool syncpoint) {
  sqlite3_stmt* st = LqmStmt(store, kStmtMsgInsert,
                             "INSERT INTO messages(queue, rank, state, conn, expires, backouts,"
                             " msgid, correlid, groupid, md, data)"
                             " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  int64_t expires = 0;
  if (expiryTenths > 0) expires = LqmNowMs() + static_cast<int64_t>(expiryTenths) * 100;
  sqlite3_bind_text(st, 1, queue, -1, SQLITE_STATIC);
  sqlite3_bind_int(st, 2, kLqmMaxPriority - md->Priority);
  sqlite3_bind_int(st, 3, syncpoint ? kMsgPutPending : kMsgCommitted);
  sqlite3_bind_int64(st, 4, syncpoint ? store->ConnId : 0);
  sqlite3_bind_int64(st, 5, expires);
  sqlite3_bind_int(st, 6, md->BackoutCount);
  sqlite3_bind_blob(st, 7, md->MsgId, 24, SQLITE_STATIC);
  sqlite3_bind_blob(st, 8, md->CorrelId, 24, SQLITE_STATIC);
  sqlite3_bind_blob(st, 9, md->GroupId, 24, SQLITE_STATIC);
  sqlite3_bind_blob(st, 10, md, sizeof(MQMD), SQLITE_STATIC);
  // A zero-length blob, never NULL, so that data reads back as 0 bytes.
  sqlite3_bind_blob(st, 11, length > 0 ? data : "", static_cast<int>(length), SQLITE_STATIC);
  int rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_reset(st);
  if (rc == 0) rc = AddDepth(store, queue, 1);
  if (rc == 0 && !syncpoint) store->NotifyPending = true;
  return rc;
}

int LqmMsgFind(LqmStore* store, const char* queue, const LqmMatch* match, LqmMessage* out,
               bool withData) {
  out->Id = 0;
  out->Data.clear();
  for (;;) {
    sqlite3_stmt* st;
    if (match->OnlyId != 0) {
      st = LqmStmt(store, kStmtMsgFindId,
                   "SELECT id, rank, state, conn, expires, backouts, md, data FROM messages"
                   " WHERE id = ?1 AND state = 0 AND queue = ?2");
      if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
      sqlite3_bind_int64(st, 1, match->OnlyId);
      sqlite3_bind_text(st, 2, queue, -1, SQLITE_STATIC);
    } else {
      bool after = match->UseAfter;
      st = after ? LqmStmt(store, kStmtMsgFindAfter,
                           "SELECT id, rank, state, conn, expires, backouts, md, data FROM"
                           " messages WHERE queue = ?1 AND (rank, id) > (?5, ?6) AND state = 0"
                           " AND (?2 IS NULL OR msgid = ?2) AND (?3 IS NULL OR correlid = ?3)"
                           " AND (?4 IS NULL OR groupid = ?4) ORDER BY rank, id LIMIT 1")
                 : LqmStmt(store, kStmtMsgFind,
                           "SELECT id, rank, state, conn, expires, backouts, md, data FROM"
                           " messages WHERE queue = ?1 AND state = 0"
                           " AND (?2 IS NULL OR msgid = ?2) AND (?3 IS NULL OR correlid = ?3)"
                           " AND (?4 IS NULL OR groupid = ?4) ORDER BY rank, id LIMIT 1");
      if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
      sqlite3_bind_text(st, 1, queue, -1, SQLITE_STATIC);
      BindId(st, 2, match->MsgId);
      BindId(st, 3, match->CorrelId);
      BindId(st, 4, match->GroupId);
      if (after) {
        sqlite3_bind_int64(st, 5, match->AfterRank);
        sqlite3_bind_int64(st, 6, match->AfterId);
      }
    }
    int step = sqlite3_step(st);
    if (step != SQLITE_ROW) {
      sqlite3_reset(st);
      return step == SQLITE_DONE ? MQRC_NO_MSG_AVAILABLE : LqmSqlReason(step);
    }
    int64_t id = sqlite3_column_int64(st, 0);
    int64_t expires = sqlite3_column_int64(st, 4);
    if (expires != 0 && expires <= LqmNowMs()) {
      // Expired messages are never delivered: discard it and look again.
      sqlite3_reset(st);
      int rc = LqmMsgTake(store, queue, id, false);
      if (rc != 0 && rc != MQRC_NO_MSG_AVAILABLE) return rc;
      continue;
    }
    out->Id = id;
    out->Rank = sqlite3_column_int64(st, 1);
    out->State = sqlite3_column_int(st, 2);
    out->Conn = sqlite3_column_int64(st, 3);
    out->ExpiresAtMs = expires;
    MQMD md = {MQMD_DEFAULT};
    const void* blob = sqlite3_column_blob(st, 6);
    int blobLength = sqlite3_column_bytes(st, 6);
    if (blob != nullptr && blobLength == static_cast<int>(sizeof(MQMD))) memcpy(&md, blob, sizeof md);
    md.BackoutCount = sqlite3_column_int(st, 5);
    out->Md = md;
    if (withData) {
      const unsigned char* data = static_cast<const unsigned char*>(sqlite3_column_blob(st, 7));
      int length = sqlite3_column_bytes(st, 7);
      if (data != nullptr && length > 0) out->Data.assign(data, data + length);
    }
    sqlite3_reset(st);
    return 0;
  }
}

int LqmMsgTake(LqmStore* store, const char* queue, int64_t id, bool syncpoint) {
  sqlite3_stmt* st =
      syncpoint ? LqmStmt(store, kStmtMsgSetPending,
                          "UPDATE messages SET state = 2, conn = ?2 WHERE id = ?1 AND state = 0")
                : LqmStmt(store, kStmtMsgDelete, "DELETE FROM messages WHERE id = ?1 AND state = 0");
  static_assert(kMsgGetPending == 2, "state literal in SQL");
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  sqlite3_bind_int64(st, 1, id);
  if (syncpoint) sqlite3_bind_int64(st, 2, store->ConnId);
  int rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_reset(st);
  if (rc != 0) return rc;
  if (sqlite3_changes(store->Db) == 0) return MQRC_NO_MSG_AVAILABLE;
  // A pending get still counts in the depth until its unit of work ends.
  if (!syncpoint) rc = AddDepth(store, queue, -1);
  return rc;
}

int LqmMsgClear(LqmStore* store, const char* queue, long* count) {
  *count = 0;
  int rc = Run(store, "DELETE FROM messages WHERE state = 0 AND queue = ?2", 0, queue,
               count);
  if (rc == 0 && *count > 0) rc = AddDepth(store, queue, -static_cast<int>(*count));
  return rc;
}

// Every unit-of-work statement says "conn <> 0" although ?1 is never 0:
// only then may SQLite use the partial index messages_uow, instead of
// scanning the whole table at every commit.
int LqmUowCommit(LqmStore* store, long* changed) {
  long gets = 0, puts = 0;
  int rc = Run(store,
               "UPDATE queues SET depth = depth - (SELECT count(*) FROM messages m WHERE"
               " m.conn = ?1 AND m.conn <> 0 AND m.state = 2 AND m.queue = queues.name) WHERE name IN"
               " (SELECT queue FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 2)",
               store->ConnId, nullptr, nullptr);
  if (rc == 0)
    rc = Run(store, "DELETE FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 2", store->ConnId, nullptr,
             &gets);
  if (rc == 0)
    rc = Run(store, "UPDATE messages SET state = 0, conn = 0 WHERE conn = ?1 AND conn <> 0 AND state = 1",
             store->ConnId, nullptr, &puts);
  if (rc == 0 && puts > 0) store->NotifyPending = true;
  if (changed != nullptr) *changed = rc == 0 ? gets + puts : 0;
  return rc;
}

int LqmUowBackout(LqmStore* store, int64_t conn, long* changed) {
  long gets = 0, puts = 0;
  int rc = Run(store,
               "UPDATE queues SET depth = depth - (SELECT count(*) FROM messages m WHERE"
               " m.conn = ?1 AND m.conn <> 0 AND m.state = 1 AND m.queue = queues.name) WHERE name IN"
               " (SELECT queue FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 1)",
               conn, nullptr, nullptr);
  if (rc == 0)
    rc = Run(store, "DELETE FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 1", conn, nullptr, &puts);
  if (rc == 0)
    rc = Run(store,
             "UPDATE messages SET state = 0, conn = 0, backouts = backouts + 1 WHERE conn = ?1"
             " AND conn <> 0 AND state = 2",
             conn, nullptr, &gets);
  if (rc == 0 && gets > 0) store->NotifyPending = true;
  if (changed != nullptr) *changed = rc == 0 ? gets + puts : 0;
  return rc;
}
