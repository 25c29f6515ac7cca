// Faults on demand: a named MQI call fails with a chosen reason on a
// chosen queue after a number of successful calls. The rows live in the
// store, so a fault set by the admin command is seen by every process.
#include <sqlite3.h>

#include <cstdio>

#include "localqm/core/core.h"
#include "zeplo/util/banned.h"  // after every other header

int LqmFaultAdd(LqmStore* store, const char* call, const char* queue, MQLONG reason, long after,
                long times) {
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "INSERT INTO faults(call, queue, reason, after, times) VALUES(?, ?, ?, ?, ?)", -1,
      &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_text(st, 1, call, -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, queue, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 3, reason);
  sqlite3_bind_int64(st, 4, after);
  sqlite3_bind_int64(st, 5, times);
  rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_finalize(st);
  return rc;
}

int LqmFaultClear(LqmStore* store) { return LqmExec(store, "DELETE FROM faults"); }

int LqmFaultCheck(LqmStore* store, const char* call, const char* queue, MQLONG* reason) {
  *reason = 0;
  // The common case, no fault at all, costs one indexed probe.
  sqlite3_stmt* st = LqmStmt(store, kStmtFaultSelect,
                             "SELECT id, reason, after, times, seen, fired FROM faults WHERE"
                             " call = ?1 AND (queue = '' OR queue = ?2) ORDER BY id");
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  sqlite3_bind_text(st, 1, call, -1, SQLITE_STATIC);
  sqlite3_bind_text(st, 2, queue != nullptr ? queue : "", -1, SQLITE_STATIC);
  struct Hit {
    int64_t id;
    bool fire;
  };
  std::vector<Hit> hits;
  int step;
  while ((step = sqlite3_step(st)) == SQLITE_ROW) {
    int64_t id = sqlite3_column_int64(st, 0);
    MQLONG r = sqlite3_column_int(st, 1);
    int64_t after = sqlite3_column_int64(st, 2), times = sqlite3_column_int64(st, 3);
    int64_t seen = sqlite3_column_int64(st, 4), fired = sqlite3_column_int64(st, 5);
    // The call after `after` successes fails, and so do the next ones
    // until `times` failures have been given (0: no limit).
    bool fire = *reason == 0 && seen >= after && (times == 0 || fired < times);
    if (fire) *reason = r;
    hits.push_back({id, fire});
  }
  sqlite3_reset(st);
  if (step != SQLITE_DONE) return LqmSqlReason(step);
  for (const Hit& h : hits) {
    sqlite3_stmt* up = LqmStmt(store, kStmtFaultBump,
                               "UPDATE faults SET seen = seen + 1, fired = fired + ?2 WHERE id = ?1");
    if (up == nullptr) return MQRC_UNEXPECTED_ERROR;
    sqlite3_bind_int64(up, 1, h.id);
    sqlite3_bind_int(up, 2, h.fire ? 1 : 0);
    int rc = LqmSqlReason(sqlite3_step(up));
    sqlite3_reset(up);
    if (rc != 0) return rc;
  }
  return 0;
}

int LqmFaultList(LqmStore* store, std::vector<std::string>* lines) {
  lines->clear();
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "SELECT call, queue, reason, after, times, seen, fired FROM faults ORDER BY id",
      -1, &st, nullptr));
  if (rc != 0) return rc;
  while (sqlite3_step(st) == SQLITE_ROW) {
    char line[256];
    const unsigned char* q = sqlite3_column_text(st, 1);
    snprintf(line, sizeof line, "%s queue=%s reason=%d after=%lld times=%lld calls=%lld failed=%lld",
             reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
             q != nullptr && q[0] != '\0' ? reinterpret_cast<const char*>(q) : "*",
             sqlite3_column_int(st, 2), static_cast<long long>(sqlite3_column_int64(st, 3)),
             static_cast<long long>(sqlite3_column_int64(st, 4)),
             static_cast<long long>(sqlite3_column_int64(st, 5)),
             static_cast<long long>(sqlite3_column_int64(st, 6)));
    lines->push_back(line);
  }
  sqlite3_finalize(st);
  return 0;
}
