// Queue-manager attributes and users, kept in the store's qmgr and users
// tables.
#include <sqlite3.h>

#include <cstdio>

#include "localqm/core/core.h"
#include "zeplo/util/banned.h"  // after every other header

int LqmQmgrRead(LqmStore* store, LqmQmgr* out) {
  *out = LqmQmgr{};
  sqlite3_stmt* st = LqmStmt(store, kStmtQmgrRead,
                             "SELECT name, cmdlevel, platform, max_cno, refuse_async, running,"
                             " ccsid, deadq, (SELECT count(*) FROM faults),"
                             " coalesce((SELECT min_cfh FROM qmgr_more WHERE id = 1), 0)"
                             " FROM qmgr WHERE id = 1");
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  int step = sqlite3_step(st);
  if (step != SQLITE_ROW) {
    sqlite3_reset(st);
    return step == SQLITE_DONE ? MQRC_UNEXPECTED_ERROR : LqmSqlReason(step);
  }
  const unsigned char* name = sqlite3_column_text(st, 0);
  snprintf(out->Name, sizeof out->Name, "%s", name ? reinterpret_cast<const char*>(name) : "");
  out->CommandLevel = sqlite3_column_int(st, 1);
  out->Platform = sqlite3_column_int(st, 2);
  out->MaxCnoVersion = sqlite3_column_int(st, 3);
  out->RefuseAsyncPut = sqlite3_column_int(st, 4) != 0;
  // running: 0 stopped, 1 running, 2 running but quiescing.
  out->Running = sqlite3_column_int(st, 5) != 0;
  out->Quiescing = sqlite3_column_int(st, 5) == 2;
  out->Ccsid = sqlite3_column_int(st, 6);
  const unsigned char* dlq = sqlite3_column_text(st, 7);
  snprintf(out->DeadLetterQ, sizeof out->DeadLetterQ, "%s",
           dlq ? reinterpret_cast<const char*>(dlq) : "");
  out->FaultCount = static_cast<long>(sqlite3_column_int64(st, 8));
  out->MinCfhVersion = sqlite3_column_int(st, 9);
  sqlite3_reset(st);
  return 0;
}

int LqmQmgrWrite(LqmStore* store, const LqmQmgr* a) {
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db,
      "INSERT OR REPLACE INTO qmgr(id, name, cmdlevel, platform, max_cno, refuse_async,"
      " running, ccsid, deadq) VALUES(1, ?, ?, ?, ?, ?, ?, ?, ?)",
      -1, &st, nullptr));
  if (rc == 0) {
    sqlite3_bind_text(st, 1, a->Name, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 2, a->CommandLevel);
    sqlite3_bind_int(st, 3, a->Platform);
    sqlite3_bind_int(st, 4, a->MaxCnoVersion);
    sqlite3_bind_int(st, 5, a->RefuseAsyncPut ? 1 : 0);
    sqlite3_bind_int(st, 6, !a->Running ? 0 : a->Quiescing ? 2 : 1);
    sqlite3_bind_int(st, 7, a->Ccsid);
    sqlite3_bind_text(st, 8, a->DeadLetterQ, -1, SQLITE_TRANSIENT);
    rc = LqmSqlReason(sqlite3_step(st));
  }
  sqlite3_finalize(st);
  st = nullptr;
  if (rc == 0)
    rc = LqmSqlReason(sqlite3_prepare_v2(
        store->Db, "INSERT OR REPLACE INTO qmgr_more(id, min_cfh) VALUES(1, ?)", -1, &st, nullptr));
  if (rc == 0) {
    sqlite3_bind_int(st, 1, a->MinCfhVersion);
    rc = LqmSqlReason(sqlite3_step(st));
  }
  sqlite3_finalize(st);
  // Stopping wakes the waiters so that they see the queue manager stop.
  if (rc == 0) store->NotifyPending = true;
  return rc;
}

int LqmUserSet(LqmStore* store, const char* user, const char* password) {
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "INSERT OR REPLACE INTO users(name, password) VALUES(?, ?)", -1, &st, nullptr));
  if (rc == 0) {
    sqlite3_bind_text(st, 1, user, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, password, -1, SQLITE_TRANSIENT);
    rc = LqmSqlReason(sqlite3_step(st));
  }
  sqlite3_finalize(st);
  return rc;
}

int LqmUserCheck(LqmStore* store, const char* user, const char* password, bool* usersDefined) {
  *usersDefined = false;
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db,
      "SELECT (SELECT count(*) FROM users), (SELECT count(*) FROM users WHERE name = ?1 AND"
      " password = ?2)",
      -1, &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_text(st, 1, user != nullptr ? user : "", -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, password != nullptr ? password : "", -1, SQLITE_TRANSIENT);
  int step = sqlite3_step(st);
  if (step == SQLITE_ROW) {
    *usersDefined = sqlite3_column_int(st, 0) > 0;
    bool match = sqlite3_column_int(st, 1) > 0 && user != nullptr && password != nullptr;
    rc = (!*usersDefined || match) ? 0 : MQRC_NOT_AUTHORIZED;
  } else {
    rc = LqmSqlReason(step);
  }
  sqlite3_finalize(st);
  return rc;
}
