// Message rows: put, find in delivery order, take, clear, and the end of a
// unit of work. Depth is kept in queues.depth in the same transaction as
// every row change, so a put never has to count the queue.
//
// Cost: every statement here that a get, browse or put runs is a seek on
// an index (see the schema in store.cpp), so one message costs the same on
// a queue of ten messages as on one of a million. Statements of a unit of
// work cost in proportion to the rows of that unit only.
#include <sqlite3.h>

#include <cstring>
#include <string>

#include "localqm/core/core.h"
#include "localqm/log/log.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

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

// A none identifier (24 zero bytes) is stored as NULL: no get ever matches
// on it, and it then stays out of the identifier indexes.
bool IsNoneId(const MQBYTE* id) {
  static const MQBYTE kNone[24] = {};
  return memcmp(id, kNone, sizeof kNone) == 0;
}

void BindStoredId(sqlite3_stmt* st, int index, const MQBYTE* id) {
  if (!IsNoneId(id)) sqlite3_bind_blob(st, index, id, 24, SQLITE_STATIC);
}

void BindId(sqlite3_stmt* st, int index, const MQBYTE* id) {
  if (id != nullptr) sqlite3_bind_blob(st, index, id, 24, SQLITE_STATIC);
}

// A find searches one index, chosen by the identifiers it matches on:
// message ids are nearly unique, a group is small, many messages may
// share a correlation id. The other identifiers filter the few rows of
// that index range.
enum FindKey : int { kKeyNone, kKeyMsgId, kKeyGroupId, kKeyCorrelId };
// Where in delivery order it starts: at the front; after the browse
// position within its priority; in the priorities after it. A browse
// position (rank, id) is looked up as the last two, each one seek:
// "(rank, id) > (r, i)" in one statement is planned as "rank >= r" and
// scans the whole priority up to the position.
enum FindFrom : int { kFromFront, kFromSameRank, kFromLaterRank };

const char* FindSql(int key, int from) {
  static const std::string* const kSql = [] {
    static std::string sql[12];
    const char* index[] = {"messages_committed", "messages_msgid", "messages_groupid",
                           "messages_correlid"};
    const char* column[] = {"", "msgid", "groupid", "correlid"};
    const char* param[] = {"", "?2", "?4", "?3"};
    const char* range[] = {"", " AND rank = ?5 AND id > ?6", " AND rank > ?5"};
    for (int k = 0; k < 4; ++k) {
      for (int f = 0; f < 3; ++f) {
        std::string s =
            "SELECT id, rank, state, conn, expires, backouts, md, data FROM messages INDEXED BY ";
        s += index[k];
        s += " WHERE queue = ?1 AND state = 0";
        for (int other = 1; other < 4; ++other) {
          s += " AND ";
          if (other == k)
            s += std::string(column[k]) + " = " + param[k];
          else
            s += std::string("(") + param[other] + " IS NULL OR " + column[other] + " = " +
                 param[other] + ")";
        }
        s += range[f];
        s += " ORDER BY rank, id LIMIT 1";
        sql[k * 3 + f] = s;
      }
    }
    return sql;
  }();
  return kSql[key * 3 + from].c_str();
}

static_assert(kStmtMsgFindLast - kStmtMsgFind + 1 == 12, "one slot per find statement");

// Prepares find statement (key, from) with the match bound. Null on failure.
sqlite3_stmt* FindStmt(LqmStore* store, const char* queue, const LqmMatch* match, int key,
                       int from) {
  sqlite3_stmt* st = LqmStmt(store, kStmtMsgFind + key * 3 + from, FindSql(key, from));
  if (st == nullptr) return nullptr;
  sqlite3_bind_text(st, 1, queue, -1, SQLITE_STATIC);
  BindId(st, 2, match->MsgId);
  BindId(st, 3, match->CorrelId);
  BindId(st, 4, match->GroupId);
  if (from != kFromFront) sqlite3_bind_int64(st, 5, match->AfterRank);
  if (from == kFromSameRank) sqlite3_bind_int64(st, 6, match->AfterId);
  return st;
}

// Steps the find for `match` once: SQLITE_ROW with *out positioned on the
// row (the caller resets it), SQLITE_DONE, or a failure.
int StepFind(LqmStore* store, const char* queue, const LqmMatch* match, sqlite3_stmt** out) {
  *out = nullptr;
  if (match->OnlyId != 0) {
    sqlite3_stmt* st =
        LqmStmt(store, kStmtMsgFindId,
                "SELECT id, rank, state, conn, expires, backouts, md, data FROM messages"
                " WHERE id = ?1 AND state = 0 AND queue = ?2");
    if (st == nullptr) return SQLITE_NOMEM;
    sqlite3_bind_int64(st, 1, match->OnlyId);
    sqlite3_bind_text(st, 2, queue, -1, SQLITE_STATIC);
    *out = st;
    return sqlite3_step(st);
  }
  int key = match->MsgId != nullptr      ? kKeyMsgId
            : match->GroupId != nullptr  ? kKeyGroupId
            : match->CorrelId != nullptr ? kKeyCorrelId
                                         : kKeyNone;
  int from = match->UseAfter ? kFromSameRank : kFromFront;
  for (;;) {
    sqlite3_stmt* st = FindStmt(store, queue, match, key, from);
    if (st == nullptr) return SQLITE_NOMEM;
    int step = sqlite3_step(st);
    if (step == SQLITE_DONE && from == kFromSameRank) {
      sqlite3_reset(st);
      from = kFromLaterRank;
      continue;
    }
    *out = st;
    return step;
  }
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
  BindStoredId(st, 7, md->MsgId);
  BindStoredId(st, 8, md->CorrelId);
  BindStoredId(st, 9, md->GroupId);
  sqlite3_bind_blob(st, 10, md, sizeof(MQMD), SQLITE_STATIC);
  // A zero-length blob, never NULL, so that data reads back as 0 bytes.
  sqlite3_bind_blob(st, 11, length > 0 ? data : "", static_cast<int>(length), SQLITE_STATIC);
  int rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_reset(st);
  if (rc == 0) rc = AddDepth(store, queue, 1);
  if (rc == 0) rc = LqmLogPut(store, queue, md, data, length);
  if (rc == 0 && !syncpoint) store->NotifyPending = true;
  return rc;
}

int LqmMsgFind(LqmStore* store, const char* queue, const LqmMatch* match, LqmMessage* out,
               bool withData) {
  out->Id = 0;
  out->Data.clear();
  for (;;) {
    sqlite3_stmt* st = nullptr;
    int step = StepFind(store, queue, match, &st);
    if (step != SQLITE_ROW) {
      if (st != nullptr) sqlite3_reset(st);
      return step == SQLITE_DONE ? MQRC_NO_MSG_AVAILABLE : LqmSqlReason(step);
    }
    int64_t id = sqlite3_column_int64(st, 0);
    int64_t expires = sqlite3_column_int64(st, 4);
    if (expires != 0 && expires <= LqmNowMs()) {
      // Expired messages are never delivered: discard it and look again.
      // Each one is removed once, so skipping them stays a seek apiece.
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
    if (blob != nullptr && blobLength == static_cast<int>(sizeof(MQMD)))
      memcpy(&md, blob, sizeof md);
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
      syncpoint
          ? LqmStmt(store, kStmtMsgSetPending,
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
  int rc = LqmStmtRun(store, kStmtMsgClear, "DELETE FROM messages WHERE state = 0 AND queue = ?2",
                      0, queue, count);
  if (rc == 0 && *count > 0) rc = AddDepth(store, queue, -static_cast<int>(*count));
  return rc;
}

// Every unit-of-work statement says "conn <> 0" although ?1 is never 0:
// only then may SQLite use the partial index messages_uow, instead of
// scanning the whole table at every commit.
int LqmUowCommit(LqmStore* store, long* changed) {
  long gets = 0, puts = 0;
  int rc = LqmStmtRun(
      store, kStmtUowDepthGets,
      "UPDATE queues SET depth = depth - (SELECT count(*) FROM messages m WHERE"
      " m.conn = ?1 AND m.conn <> 0 AND m.state = 2 AND m.queue = queues.name) WHERE name IN"
      " (SELECT queue FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 2)",
      store->ConnId, nullptr, nullptr);
  if (rc == 0)
    rc = LqmStmtRun(store, kStmtUowDeleteGets,
                    "DELETE FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 2",
                    store->ConnId, nullptr, &gets);
  if (rc == 0)
    rc = LqmStmtRun(store, kStmtUowCommitPuts,
                    "UPDATE messages SET state = 0, conn = 0 WHERE conn = ?1 AND conn <> 0 AND"
                    " state = 1",
                    store->ConnId, nullptr, &puts);
  if (rc == 0 && gets + puts > 0) rc = LqmLogCommit(store);
  if (rc == 0 && puts > 0) store->NotifyPending = true;
  if (changed != nullptr) *changed = rc == 0 ? gets + puts : 0;
  return rc;
}

int LqmUowDropPuts(LqmStore* store, int64_t conn, bool prepared, long* dropped) {
  // Pending puts are state 1, prepared ones state 3; each pair of
  // statements has its own cache slot, so the state is part of the text.
  struct DropStatements {
    int DepthSlot;
    const char* Depth;
    int DeleteSlot;
    const char* Delete;
  };
  static const DropStatements kDrop[2] = {
      {kStmtUowDepthPuts,
       "UPDATE queues SET depth = depth - (SELECT count(*) FROM messages m WHERE"
       " m.conn = ?1 AND m.conn <> 0 AND m.state = 1 AND m.queue = queues.name) WHERE name IN"
       " (SELECT queue FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 1)",
       kStmtUowDeletePuts, "DELETE FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 1"},
      {kStmtUowDepthPrepared,
       "UPDATE queues SET depth = depth - (SELECT count(*) FROM messages m WHERE"
       " m.conn = ?1 AND m.conn <> 0 AND m.state = 3 AND m.queue = queues.name) WHERE name"
       " IN (SELECT queue FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 3)",
       kStmtUowDeletePrepared, "DELETE FROM messages WHERE conn = ?1 AND conn <> 0 AND state = 3"},
  };
  const DropStatements& d = kDrop[prepared ? 1 : 0];
  int rc = LqmStmtRun(store, d.DepthSlot, d.Depth, conn, nullptr, nullptr);
  if (rc == 0) rc = LqmStmtRun(store, d.DeleteSlot, d.Delete, conn, nullptr, dropped);
  return rc;
}

int LqmUowBackout(LqmStore* store, int64_t conn, long* changed) {
  long gets = 0, puts = 0;
  int rc = LqmUowDropPuts(store, conn, false, &puts);
  if (rc == 0)
    rc = LqmStmtRun(store, kStmtUowBackoutGets,
                    "UPDATE messages SET state = 0, conn = 0, backouts = backouts + 1 WHERE"
                    " conn = ?1 AND conn <> 0 AND state = 2",
                    conn, nullptr, &gets);
  if (rc == 0 && gets > 0) store->NotifyPending = true;
  if (changed != nullptr) *changed = rc == 0 ? gets + puts : 0;
  return rc;
}
