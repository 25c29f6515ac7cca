// Reading the recovery log for the formatter: straight from the store's
// database, read-only, so that formatting never changes a queue manager
// (no recovery of dead connections, no schema update) and works on a
// copied data directory as well as on a live queue manager.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>

#include "localqm/log/log.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// The store's database file in a queue manager's directory (store.cpp).
constexpr char kStoreFile[] = "qm.db";

bool HasLogTable(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  bool found = false;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'log'",
                         -1, &st, nullptr) == SQLITE_OK)
    found = sqlite3_step(st) == SQLITE_ROW;
  sqlite3_finalize(st);
  return found;
}

}  // namespace

int LqmLogQmgrDir(const char* name, char* out, size_t outSize) {
  char qmgr[kLqmNameLength + 1];
  snprintf(qmgr, sizeof qmgr, "%s", name);
  if (qmgr[0] == '\0') LqmDefaultQmgr(qmgr);
  if (qmgr[0] == '\0' || LqmCheckName(qmgr, MQRC_Q_MGR_NAME_ERROR) != 0)
    return MQRC_Q_MGR_NAME_ERROR;
  char root[kLqmPathLength];
  int rc = LqmRootDir(root, sizeof root);
  if (rc != 0) return rc;
  int n = snprintf(out, outSize, "%s/%s", root, qmgr);
  if (n < 0 || static_cast<size_t>(n) >= outSize) return MQRC_ENVIRONMENT_ERROR;
  struct stat st;
  if (stat(out, &st) != 0 || !S_ISDIR(st.st_mode)) return MQRC_Q_MGR_NAME_ERROR;
  return 0;
}

int LqmLogRead(const char* dir, int64_t from, int64_t to,
               const std::function<void(const LqmLogRecord&)>& visit) {
  char path[kLqmPathLength + 16];
  int n = snprintf(path, sizeof path, "%s/%s", dir, kStoreFile);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return MQRC_Q_MGR_NAME_ERROR;
  struct stat fileStat;
  if (stat(path, &fileStat) != 0 || !S_ISREG(fileStat.st_mode)) return MQRC_Q_MGR_NAME_ERROR;
  sqlite3* db = nullptr;
  int rc = LqmSqlReason(sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr));
  sqlite3_stmt* st = nullptr;
  LqmLogRecord r;
  if (rc == 0) {
    sqlite3_busy_timeout(db, 30000);
    if (!HasLogTable(db)) goto done;
    rc = LqmSqlReason(sqlite3_prepare_v2(db,
                                         "SELECT lsn, prev, kind, at, queue, data FROM log"
                                         " WHERE lsn >= ?1 AND lsn <= ?2 ORDER BY lsn",
                                         -1, &st, nullptr));
  }
  if (rc != 0) goto done;
  // One record at a time: a long log is never held in memory whole.
  sqlite3_bind_int64(st, 1, from);
  sqlite3_bind_int64(st, 2, to);
  for (;;) {
    int step = sqlite3_step(st);
    if (step != SQLITE_ROW) {
      rc = step == SQLITE_DONE ? 0 : LqmSqlReason(step);
      break;
    }
    r.Lsn = sqlite3_column_int64(st, 0);
    r.PrevLsn = sqlite3_column_int64(st, 1);
    r.Kind = sqlite3_column_int(st, 2);
    r.AtMs = sqlite3_column_int64(st, 3);
    const unsigned char* queue = sqlite3_column_text(st, 4);
    r.Queue = queue != nullptr ? reinterpret_cast<const char*>(queue) : "";
    const unsigned char* data = static_cast<const unsigned char*>(sqlite3_column_blob(st, 5));
    int length = sqlite3_column_bytes(st, 5);
    r.Data.clear();
    if (data != nullptr && length > 0) r.Data.assign(data, data + length);
    visit(r);
  }
done:
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rc;
}
