// Units of work that put to other queue managers. A connection's own queue
// manager coordinates: the other queue managers first mark the unit's puts
// prepared (and remember the unit), then the coordinator commits its own
// rows together with a decision row, then the others finish. Whoever finds
// prepared rows of a dead connection asks the coordinator's database
// whether the decision exists: yes means commit, no means back out. So a
// crash at any point neither loses nor duplicates a message.
#include <sqlite3.h>

#include <cstdio>

#include "localqm/core/core.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

int Exec1(LqmStore* store, const char* sql, int64_t a, const char* text, long* changes) {
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

}  // namespace

static_assert(kMsgPutPrepared == 3 && kMsgPutPending == 1, "state literals in SQL");

int LqmUowPrepare(LqmStore* store, const char* uow, const char* coordinator, bool* prepared) {
  *prepared = false;
  long changes = 0;
  int rc = LqmStmtRun(store, kStmtUowPrepare,
                      "UPDATE messages SET state = 3 WHERE conn = ?1 AND conn <> 0 AND state = 1",
                      store->ConnId, nullptr, &changes);
  if (rc != 0 || changes == 0) return rc;
  sqlite3_stmt* st = nullptr;
  rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "INSERT OR REPLACE INTO prepared(uow, conn, coordinator) VALUES(?, ?, ?)", -1,
      &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_text(st, 1, uow, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 2, store->ConnId);
  sqlite3_bind_text(st, 3, coordinator, -1, SQLITE_TRANSIENT);
  rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_finalize(st);
  if (rc == 0) *prepared = true;
  return rc;
}

int LqmUowResolvePrepared(LqmStore* store, int64_t conn, bool commit, long* changed) {
  long n = 0;
  int rc;
  if (commit) {
    rc = LqmStmtRun(store, kStmtUowCommitPrepared,
                    "UPDATE messages SET state = 0, conn = 0 WHERE conn = ?1 AND conn <> 0 AND"
                    " state = 3",
                    conn, nullptr, &n);
    if (rc == 0 && n > 0) store->NotifyPending = true;
  } else {
    rc = LqmUowDropPuts(store, conn, true, &n);
  }
  if (rc == 0)
    rc = LqmStmtRun(store, kStmtPreparedForget, "DELETE FROM prepared WHERE conn = ?1", conn,
                    nullptr, nullptr);
  if (changed != nullptr) *changed = rc == 0 ? n : 0;
  return rc;
}

int LqmDecisionWrite(LqmStore* store, const char* uow) {
  return Exec1(store, "INSERT OR REPLACE INTO decisions(uow, at) VALUES(?2, ?1)", LqmNowMs(), uow,
               nullptr);
}

int LqmDecisionErase(LqmStore* store, const char* uow) {
  return Exec1(store, "DELETE FROM decisions WHERE uow = ?2", 0, uow, nullptr);
}

int LqmDecisionFind(const char* qmgr, const char* uow, bool* found) {
  *found = false;
  char root[kLqmPathLength], path[kLqmPathLength + 128];
  int rc = LqmRootDir(root, sizeof root);
  if (rc != 0) return rc;
  if (LqmCheckName(qmgr, MQRC_Q_MGR_NAME_ERROR) != 0) return 0;  // no such coordinator
  snprintf(path, sizeof path, "%s/%s/qm.db", root, qmgr);
  // Read-only and without recovery: the coordinator's own recovery could
  // come back here, and a decision is only ever read.
  sqlite3* db = nullptr;
  int src = sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr);
  if (src != SQLITE_OK) {
    sqlite3_close(db);
    return 0;  // the coordinator is gone: nothing was decided
  }
  sqlite3_busy_timeout(db, 30000);
  sqlite3_stmt* st = nullptr;
  src = sqlite3_prepare_v2(db, "SELECT 1 FROM decisions WHERE uow = ?", -1, &st, nullptr);
  if (src == SQLITE_OK) {
    sqlite3_bind_text(st, 1, uow, -1, SQLITE_TRANSIENT);
    src = sqlite3_step(st);
    *found = src == SQLITE_ROW;
    rc = (src == SQLITE_ROW || src == SQLITE_DONE) ? 0 : LqmSqlReason(src);
  } else {
    rc = LqmSqlReason(src);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rc;
}

int LqmPreparedDecision(LqmStore* store, int64_t conn, bool* any, bool* commit) {
  *any = false;
  *commit = false;
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "SELECT uow, coordinator FROM prepared WHERE conn = ?", -1, &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_int64(st, 1, conn);
  if (sqlite3_step(st) == SQLITE_ROW) {
    std::string uow = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    std::string coordinator = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    *any = true;
    rc = LqmDecisionFind(coordinator.c_str(), uow.c_str(), commit);
  }
  sqlite3_finalize(st);
  return rc;
}
