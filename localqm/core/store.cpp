// The store of one queue manager: directory, database, schema, transactions,
// connections and their recovery, queue-manager attributes and users.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "localqm/command/command.h"
#include "localqm/core/core.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// Writers wait this long for each other; every transaction is short, so
// reaching it means something is badly stuck.
constexpr int kBusyTimeoutMs = 30000;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS qmgr(id INTEGER PRIMARY KEY CHECK(id = 1), name TEXT NOT NULL,"
    " cmdlevel INT, platform INT, max_cno INT, refuse_async INT, running INT, ccsid INT,"
    " deadq TEXT);"
    "CREATE TABLE IF NOT EXISTS users(name TEXT PRIMARY KEY, password TEXT);"
    "CREATE TABLE IF NOT EXISTS queues(name TEXT PRIMARY KEY, type INT, deftype INT,"
    " target TEXT, maxdepth INT, maxmsgl INT, boqname TEXT, bothresh INT, put_inh INT,"
    " get_inh INT, deny_inq INT, defprty INT, defpsist INT, defsopt INT, owner INT,"
    " depth INT NOT NULL DEFAULT 0, descr TEXT);"
    // rank = 9 - priority, so that (rank, id) ascending is delivery order.
    // AUTOINCREMENT: an id is never reused, even after the newest message
    // has gone, so a browse cursor or a MsgToken never names a newer one.
    // The indexes are in kSchemaAdded, which every open runs.
    "CREATE TABLE IF NOT EXISTS messages(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " queue TEXT NOT NULL, rank INT NOT NULL, state INT NOT NULL, conn INT NOT NULL,"
    " expires INT NOT NULL, backouts INT NOT NULL, msgid BLOB, correlid BLOB, groupid BLOB,"
    " md BLOB NOT NULL, data BLOB);"
    "CREATE TABLE IF NOT EXISTS conns(id INTEGER PRIMARY KEY AUTOINCREMENT, pid INT,"
    " start INT, appl TEXT);"
    "CREATE TABLE IF NOT EXISTS opens(conn INT, hobj INT, queue TEXT, mode INT,"
    " PRIMARY KEY(conn, hobj));"
    "CREATE TABLE IF NOT EXISTS faults(id INTEGER PRIMARY KEY, call TEXT, queue TEXT,"
    " reason INT, after INT, times INT, seen INT NOT NULL DEFAULT 0,"
    " fired INT NOT NULL DEFAULT 0);";

// Tables and indexes added after the first stores were made; creating and
// opening add them.
//
// Every lookup of a get or a browse must be a seek whatever the depth, so
// each index on messages leads with the queue and ends with rank (the
// rowid follows implicitly, giving delivery order), and the finds name
// their index (INDEXED BY: a statement that could not use it fails to
// prepare instead of scanning). Each index a row is in costs a page write
// when the row changes, and every call is its own transaction, so:
// - messages_committed holds committed rows only: rows of units of work,
//   however many, never lie between a get and the next message, and a get
//   under syncpoint removes one entry rather than moving it.
// - messages_msgid holds every row with a MsgId, whatever its state, so a
//   get under syncpoint leaves it alone; MsgIds are unique in practice, so
//   the pending rows it may pass are those of one MsgId.
// - messages_correlid and messages_groupid hold committed rows with that
//   identifier set (a none identifier is stored as NULL): many messages
//   may share one, and only messages that have one pay for the index.
// - messages_uow finds a connection's pending rows at commit or backout;
//   with messages_committed it also finds every row of a queue (a row is
//   committed exactly when its conn is 0).
// Indexes of older stores that scanned a priority (messages_order) or
// that were replaced are dropped.
const char* const kSchemaAdded =
    "CREATE INDEX IF NOT EXISTS messages_committed ON messages(queue, rank) WHERE state = 0;"
    "CREATE INDEX IF NOT EXISTS messages_msgid ON messages(queue, msgid, rank)"
    " WHERE msgid IS NOT NULL;"
    "CREATE INDEX IF NOT EXISTS messages_correlid ON messages(queue, correlid, rank)"
    " WHERE state = 0 AND correlid IS NOT NULL;"
    "CREATE INDEX IF NOT EXISTS messages_groupid ON messages(queue, groupid, rank)"
    " WHERE state = 0 AND groupid IS NOT NULL;"
    "CREATE INDEX IF NOT EXISTS messages_uow ON messages(conn) WHERE conn <> 0;"
    "DROP INDEX IF EXISTS messages_order;"
    "DROP INDEX IF EXISTS messages_ready;"
    "DROP INDEX IF EXISTS messages_by_msgid;"
    "DROP INDEX IF EXISTS messages_by_correlid;"
    "DROP INDEX IF EXISTS messages_by_groupid;"
    // MQOPEN for input and MQINQ count a queue's handles.
    "CREATE INDEX IF NOT EXISTS opens_queue ON opens(queue);"
    "CREATE TABLE IF NOT EXISTS prepared(uow TEXT PRIMARY KEY, conn INT NOT NULL,"
    " coordinator TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS decisions(uow TEXT PRIMARY KEY, at INT);"
    // Queue-manager attributes added later live in a one-row table of their
    // own, so that older stores need no ALTER; a missing row reads as the
    // defaults.
    "CREATE TABLE IF NOT EXISTS qmgr_more(id INTEGER PRIMARY KEY CHECK(id = 1),"
    " min_cfh INT NOT NULL DEFAULT 0);"
    // The recovery log (localqm/log): one row per record, keyed by LSN.
    "CREATE TABLE IF NOT EXISTS log(lsn INTEGER PRIMARY KEY, size INT NOT NULL,"
    " kind INT NOT NULL, queue TEXT NOT NULL, prev INT NOT NULL, at INT NOT NULL,"
    " data BLOB NOT NULL);"
    // Users' salted password hashes; users.password is NULL once a user's
    // password is hashed (older stores kept it in clear there).
    "CREATE TABLE IF NOT EXISTS user_hashes(name TEXT PRIMARY KEY, hash TEXT NOT NULL);";

int QmgrDir(const char* name, char* out, size_t outSize) {
  char root[kLqmPathLength];
  int rc = LqmRootDir(root, sizeof root);
  if (rc != 0) return rc;
  int n = snprintf(out, outSize, "%s/%s", root, name);
  if (n < 0 || static_cast<size_t>(n) >= outSize) return MQRC_ENVIRONMENT_ERROR;
  return 0;
}

bool IsDirectory(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int MakeDirs(const char* path) {
  char buf[kLqmPathLength];
  snprintf(buf, sizeof buf, "%s", path);
  for (char* p = buf + 1; *p; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    if (mkdir(buf, 0700) != 0 && errno != EEXIST) return MQRC_RESOURCE_PROBLEM;
    *p = '/';
  }
  if (mkdir(buf, 0700) != 0 && errno != EEXIST) return MQRC_RESOURCE_PROBLEM;
  return 0;
}

int OpenDb(const char* dir, sqlite3** db) {
  char path[kLqmPathLength + 16];
  snprintf(path, sizeof path, "%s/qm.db", dir);
  *db = nullptr;
  int rc = sqlite3_open_v2(path, db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                         SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(*db);
    *db = nullptr;
    return LqmSqlReason(rc);
  }
  sqlite3_busy_timeout(*db, kBusyTimeoutMs);
  // WAL with synchronous=NORMAL: a commit is durable against a process
  // crash (the WAL is written before the call returns); only an operating
  // system crash can lose the last commits, never corrupt the queue.
  rc = sqlite3_exec(*db,
                    "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                    " PRAGMA foreign_keys=OFF;",
                    nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(*db);
    *db = nullptr;
    return LqmSqlReason(rc);
  }
  return 0;
}

int RemoveTree(const char* path) {
  DIR* d = opendir(path);
  if (d == nullptr) return errno == ENOENT ? 0 : MQRC_RESOURCE_PROBLEM;
  int rc = 0;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    char child[kLqmPathLength + 256];
    snprintf(child, sizeof child, "%s/%s", path, e->d_name);
    struct stat st;
    if (lstat(child, &st) == 0 && S_ISDIR(st.st_mode)) {
      if (RemoveTree(child) != 0) rc = MQRC_RESOURCE_PROBLEM;
    } else if (unlink(child) != 0) {
      rc = MQRC_RESOURCE_PROBLEM;
    }
  }
  closedir(d);
  if (rmdir(path) != 0) rc = MQRC_RESOURCE_PROBLEM;
  return rc;
}

int DefineDefaults(LqmStore* store) {
  LqmQueue q;
  LqmQueueDefaults(&q, "SYSTEM.DEFAULT.LOCAL.QUEUE");
  int rc = LqmQueueWrite(store, &q, true);
  if (rc == 0) {
    LqmQueueDefaults(&q, "SYSTEM.DEFAULT.MODEL.QUEUE");
    q.Type = MQQT_MODEL;
    q.DefinitionType = MQQDT_TEMPORARY_DYNAMIC;
    q.DefInputOpen = MQOO_INPUT_EXCLUSIVE;
    rc = LqmQueueWrite(store, &q, true);
  }
  if (rc == 0) {
    LqmQueueDefaults(&q, "SYSTEM.DEAD.LETTER.QUEUE");
    rc = LqmQueueWrite(store, &q, true);
  }
  if (rc == 0) {
    LqmQueueDefaults(&q, "SYSTEM.ADMIN.COMMAND.QUEUE");
    rc = LqmQueueWrite(store, &q, true);
  }
  if (rc == 0) rc = LqmDefineSystemQueues(store);
  return rc;
}

// A connection is alive while its process exists and is the same process
// (a recycled pid has another start time).
bool ConnAlive(long pid, int64_t start) {
  if (pid <= 0) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
  int64_t now = LqmProcessStart(pid);
  if (now == 0) return false;
  return start == 0 || now == start;
}

}  // namespace

int LqmSqlReason(int sqliteRc) {
  switch (sqliteRc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return 0;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
      return MQRC_RESOURCE_PROBLEM;
    default:
      return MQRC_UNEXPECTED_ERROR;
  }
}

int LqmExec(LqmStore* store, const char* sql) {
  return LqmSqlReason(sqlite3_exec(store->Db, sql, nullptr, nullptr, nullptr));
}

sqlite3_stmt* LqmStmt(LqmStore* store, int slot, const char* sql) {
  if (store->Stmts == nullptr) {
    store->Stmts = static_cast<sqlite3_stmt**>(calloc(kStmtCount, sizeof(sqlite3_stmt*)));
    if (store->Stmts == nullptr) return nullptr;
  }
  sqlite3_stmt* st = store->Stmts[slot];
  if (st == nullptr) {
    if (sqlite3_prepare_v3(store->Db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
        SQLITE_OK)
      return nullptr;
    store->Stmts[slot] = st;
  } else {
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
  }
  return st;
}

int LqmStmtRun(LqmStore* store, int slot, const char* sql, int64_t a, const char* text,
               long* changes) {
  sqlite3_stmt* st = LqmStmt(store, slot, sql);
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  sqlite3_bind_int64(st, 1, a);
  if (text != nullptr) sqlite3_bind_text(st, 2, text, -1, SQLITE_STATIC);
  int rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_reset(st);
  if (rc == 0 && changes != nullptr) *changes = sqlite3_changes(store->Db);
  return rc;
}

int LqmRootDir(char* out, size_t outSize) {
  const char* root = getenv("LOCALQM_ROOT");
  int n;
  if (root != nullptr && root[0] != '\0') {
    n = snprintf(out, outSize, "%s", root);
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
      if (outSize > 0) out[0] = '\0';
      return MQRC_ENVIRONMENT_ERROR;
    }
    n = snprintf(out, outSize, "%s/.localqm", home);
  }
  if (n < 0 || static_cast<size_t>(n) >= outSize) return MQRC_ENVIRONMENT_ERROR;
  return 0;
}

int LqmCheckName(const char* name, int reason) {
  size_t len = strlen(name);
  if (len == 0 || len > kLqmNameLength) return reason;
  for (size_t i = 0; i < len; ++i) {
    char c = name[i];
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '/' || c == '_' || c == '%';
    if (!ok) return reason;
  }
  // A queue-manager name becomes a directory name: "." and ".." and names
  // with '/' would escape the data root.
  if (reason == MQRC_Q_MGR_NAME_ERROR &&
      (strchr(name, '/') != nullptr || strcmp(name, ".") == 0 || strcmp(name, "..") == 0))
    return reason;
  return 0;
}

void LqmNameFromField(const char* field, size_t fieldLength, char* out) {
  size_t n = 0;
  if (field != nullptr) {
    while (n < fieldLength && n < kLqmNameLength && field[n] != '\0') ++n;
  }
  while (n > 0 && field[n - 1] == ' ') --n;
  if (n > 0) memcpy(out, field, n);
  out[n] = '\0';
}

void LqmNameToField(const char* name, char* field, size_t fieldLength) {
  size_t n = strnlen(name, fieldLength);
  memcpy(field, name, n);
  memset(field + n, ' ', fieldLength - n);
}

int LqmStoreCreate(const LqmQmgr* attrs, bool makeDefault) {
  int rc = LqmCheckName(attrs->Name, MQRC_Q_MGR_NAME_ERROR);
  if (rc != 0) return rc;
  char dir[kLqmPathLength];
  rc = QmgrDir(attrs->Name, dir, sizeof dir);
  if (rc != 0) return rc;
  if (IsDirectory(dir)) return MQRC_OBJECT_ALREADY_EXISTS;
  rc = MakeDirs(dir);
  if (rc != 0) return rc;
  LqmStore store{};
  snprintf(store.Name, sizeof store.Name, "%s", attrs->Name);
  snprintf(store.Dir, sizeof store.Dir, "%s", dir);
  rc = OpenDb(dir, &store.Db);
  if (rc == 0) rc = LqmExec(&store, kSchema);
  if (rc == 0) rc = LqmExec(&store, kSchemaAdded);
  if (rc == 0) rc = LqmTxnBegin(&store);
  if (rc == 0) {
    rc = LqmQmgrWrite(&store, attrs);
    if (rc == 0) rc = DefineDefaults(&store);
    rc = LqmTxnEnd(&store, rc);
  }
  LqmStoreClose(&store);
  if (rc != 0) {
    RemoveTree(dir);
    return rc;
  }
  if (makeDefault) return LqmSetDefaultQmgr(attrs->Name);
  return 0;
}

int LqmStoreDelete(const char* name) {
  if (LqmCheckName(name, MQRC_Q_MGR_NAME_ERROR) != 0) return MQRC_Q_MGR_NAME_ERROR;
  char dir[kLqmPathLength];
  int rc = QmgrDir(name, dir, sizeof dir);
  if (rc != 0) return rc;
  if (!IsDirectory(dir)) return MQRC_Q_MGR_NAME_ERROR;
  char def[kLqmNameLength + 1];
  LqmDefaultQmgr(def);
  if (strcmp(def, name) == 0) LqmSetDefaultQmgr("");
  return RemoveTree(dir);
}

int LqmStoreOpen(const char* name, LqmStore* store) {
  *store = LqmStore{};
  char qm[kLqmNameLength + 1];
  if (name == nullptr || name[0] == '\0') {
    LqmDefaultQmgr(qm);
    if (qm[0] == '\0') return MQRC_Q_MGR_NAME_ERROR;
  } else {
    snprintf(qm, sizeof qm, "%s", name);
  }
  if (LqmCheckName(qm, MQRC_Q_MGR_NAME_ERROR) != 0) return MQRC_Q_MGR_NAME_ERROR;
  int rc = QmgrDir(qm, store->Dir, sizeof store->Dir);
  if (rc != 0) return rc;
  char db[kLqmPathLength + 16];
  snprintf(db, sizeof db, "%s/qm.db", store->Dir);
  if (access(db, F_OK) != 0) return MQRC_Q_MGR_NAME_ERROR;
  snprintf(store->Name, sizeof store->Name, "%s", qm);
  rc = OpenDb(store->Dir, &store->Db);
  if (rc == 0) rc = LqmExec(store, kSchemaAdded);
  if (rc == 0) rc = LqmUserUpgrade(store);
  if (rc == 0) rc = LqmNotifyMap(store);
  if (rc == 0) rc = LqmRecoverDead(store, nullptr);
  if (rc != 0) LqmStoreClose(store);
  return rc;
}

void LqmStoreClose(LqmStore* store) {
  if (store->Stmts != nullptr) {
    for (int i = 0; i < kStmtCount; ++i) sqlite3_finalize(store->Stmts[i]);
    free(store->Stmts);
    store->Stmts = nullptr;
  }
  if (store->Db != nullptr) sqlite3_close(store->Db);
  store->Db = nullptr;
  LqmNotifyUnmap(store);
}

void LqmDefaultQmgr(char* out) {
  out[0] = '\0';
  char root[kLqmPathLength], path[kLqmPathLength + 32];
  if (LqmRootDir(root, sizeof root) != 0) return;
  snprintf(path, sizeof path, "%s/default", root);
  FILE* f = fopen(path, "r");
  if (f == nullptr) return;
  char line[128] = "";
  if (fgets(line, sizeof line, f) != nullptr) {
    line[strcspn(line, "\r\n")] = '\0';
    if (LqmCheckName(line, MQRC_Q_MGR_NAME_ERROR) == 0) snprintf(out, kLqmNameLength + 1, "%.48s", line);
  }
  fclose(f);
}

int LqmSetDefaultQmgr(const char* name) {
  char root[kLqmPathLength], path[kLqmPathLength + 32], tmp[kLqmPathLength + 48];
  int rc = LqmRootDir(root, sizeof root);
  if (rc != 0) return rc;
  rc = MakeDirs(root);
  if (rc != 0) return rc;
  snprintf(path, sizeof path, "%s/default", root);
  if (name[0] == '\0') return unlink(path) == 0 || errno == ENOENT ? 0 : MQRC_RESOURCE_PROBLEM;
  // Written aside and renamed, so a reader never sees half a name.
  snprintf(tmp, sizeof tmp, "%s/default.%ld", root, static_cast<long>(getpid()));
  FILE* f = fopen(tmp, "w");
  if (f == nullptr) return MQRC_RESOURCE_PROBLEM;
  fprintf(f, "%s\n", name);
  if (fclose(f) != 0 || rename(tmp, path) != 0) {
    unlink(tmp);
    return MQRC_RESOURCE_PROBLEM;
  }
  return 0;
}

int LqmListQmgrs(std::vector<std::string>* names) {
  names->clear();
  char root[kLqmPathLength];
  int rc = LqmRootDir(root, sizeof root);
  if (rc != 0) return rc;
  DIR* d = opendir(root);
  if (d == nullptr) return 0;
  while (struct dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    char db[kLqmPathLength + 300];
    snprintf(db, sizeof db, "%s/%s/qm.db", root, e->d_name);
    if (access(db, F_OK) == 0) names->push_back(e->d_name);
  }
  closedir(d);
  std::sort(names->begin(), names->end());
  return 0;
}

int LqmTxnBegin(LqmStore* store) {
  if (store->TxnDepth++ > 0) return 0;
  int rc = LqmStmtRun(store, kStmtBegin, "BEGIN IMMEDIATE", 0, nullptr, nullptr);
  if (rc != 0) store->TxnDepth = 0;
  return rc;
}

// Ends the open transaction. A failed COMMIT leaves it open (SQLite keeps
// it when, say, the disk is full): it is rolled back then, never left to
// the next call.
static int TxnFinish(LqmStore* store, bool commit) {
  int rc = commit ? LqmStmtRun(store, kStmtCommit, "COMMIT", 0, nullptr, nullptr) : 0;
  if (!commit || rc != 0) {
    int rrc = LqmStmtRun(store, kStmtRollback, "ROLLBACK", 0, nullptr, nullptr);
    // The cached ROLLBACK may fail to prepare (no memory); the plain one
    // must still end the transaction.
    if (rrc != 0 && !sqlite3_get_autocommit(store->Db)) LqmExec(store, "ROLLBACK");
  }
  return rc;
}

int LqmTxnEnd(LqmStore* store, int rc) {
  if (store->TxnDepth <= 0) return rc;
  if (--store->TxnDepth > 0) return rc;
  if (rc == 0) {
    int crc = TxnFinish(store, true);
    if (crc != 0) {
      store->NotifyPending = false;
      return crc;
    }
    if (store->NotifyPending) LqmNotifyPost(store);
  } else {
    TxnFinish(store, false);
  }
  store->NotifyPending = false;
  return rc;
}

int LqmConnRegister(LqmStore* store, const char* applName) {
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "INSERT INTO conns(pid, start, appl) VALUES(?, ?, ?)", -1, &st, nullptr));
  if (rc == 0) {
    long pid = static_cast<long>(getpid());
    sqlite3_bind_int64(st, 1, pid);
    sqlite3_bind_int64(st, 2, LqmProcessStart(pid));
    sqlite3_bind_text(st, 3, applName, -1, SQLITE_TRANSIENT);
    rc = LqmSqlReason(sqlite3_step(st));
    if (rc == 0) store->ConnId = sqlite3_last_insert_rowid(store->Db);
  }
  sqlite3_finalize(st);
  return rc;
}

// Drops what a connection leaves behind besides its unit of work: its
// temporary dynamic queues (with every message on them) and its open
// handles. Inside the caller's transaction.
static int DropConnectionObjects(LqmStore* store, int64_t conn) {
  static_assert(MQQDT_TEMPORARY_DYNAMIC == 3, "deftype literal in SQL");
  // A queue's rows are its committed rows and its rows in units of work,
  // each found through its own index (see the schema).
  const char* sqls[] = {
      "DELETE FROM messages INDEXED BY messages_committed WHERE state = 0 AND queue IN"
      " (SELECT name FROM queues WHERE owner = ?1 AND deftype = 3)",
      "DELETE FROM messages INDEXED BY messages_uow WHERE conn <> 0 AND queue IN"
      " (SELECT name FROM queues WHERE owner = ?1 AND deftype = 3)",
      "DELETE FROM queues WHERE owner = ?1 AND deftype = 3", "DELETE FROM opens WHERE conn = ?1",
      "DELETE FROM conns WHERE id = ?1"};
  int rc = 0;
  for (const char* sql : sqls) {
    if (rc != 0) break;
    sqlite3_stmt* st = nullptr;
    rc = LqmSqlReason(sqlite3_prepare_v2(store->Db, sql, -1, &st, nullptr));
    if (rc == 0) {
      sqlite3_bind_int64(st, 1, conn);
      rc = LqmSqlReason(sqlite3_step(st));
    }
    sqlite3_finalize(st);
  }
  return rc;
}

int LqmConnUnregister(LqmStore* store) {
  if (store->ConnId == 0) return 0;
  int rc = LqmTxnBegin(store);
  if (rc != 0) return rc;
  // Whatever unit of work is still open (the queue manager was stopped
  // under it, say) is backed out, never left orphaned in the rows; puts
  // already prepared follow their coordinator's decision.
  long changed = 0;
  bool any = false, commit = false;
  rc = LqmPreparedDecision(store, store->ConnId, &any, &commit);
  if (rc == 0 && any) rc = LqmUowResolvePrepared(store, store->ConnId, commit, &changed);
  if (rc == 0) rc = LqmUowBackout(store, store->ConnId, &changed);
  if (rc == 0) rc = DropConnectionObjects(store, store->ConnId);
  rc = LqmTxnEnd(store, rc);
  if (rc == 0) store->ConnId = 0;
  return rc;
}

int LqmRecoverDead(LqmStore* store, int* recovered) {
  if (recovered != nullptr) *recovered = 0;
  // Look first without the write lock: most of the time nobody is dead.
  std::vector<int64_t> dead;
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(
      sqlite3_prepare_v2(store->Db, "SELECT id, pid, start FROM conns", -1, &st, nullptr));
  if (rc != 0) return rc;
  int step;
  while ((step = sqlite3_step(st)) == SQLITE_ROW) {
    if (!ConnAlive(static_cast<long>(sqlite3_column_int64(st, 1)), sqlite3_column_int64(st, 2)))
      dead.push_back(sqlite3_column_int64(st, 0));
  }
  sqlite3_finalize(st);
  if (step != SQLITE_DONE) return LqmSqlReason(step);
  if (dead.empty()) return 0;
  // Decisions are looked up before taking the write lock: they live in
  // other queue managers' databases.
  std::vector<std::pair<bool, bool>> decided(dead.size());
  for (size_t i = 0; i < dead.size(); ++i) {
    rc = LqmPreparedDecision(store, dead[i], &decided[i].first, &decided[i].second);
    if (rc != 0) return rc;
  }
  rc = LqmTxnBegin(store);
  if (rc != 0) return rc;
  for (size_t i = 0; i < dead.size(); ++i) {
    int64_t conn = dead[i];
    long changed = 0, resolved = 0;
    if (decided[i].first) rc = LqmUowResolvePrepared(store, conn, decided[i].second, &resolved);
    if (rc == 0) rc = LqmUowBackout(store, conn, &changed);
    changed += resolved;
    if (rc == 0) rc = DropConnectionObjects(store, conn);
    if (rc != 0) break;
    if (changed > 0) store->NotifyPending = true;
  }
  rc = LqmTxnEnd(store, rc);
  if (rc == 0 && recovered != nullptr) *recovered = static_cast<int>(dead.size());
  return rc;
}
