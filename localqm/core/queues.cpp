// Queue definitions, dynamic queues and the open-handle rows that make
// exclusive input hold across processes.
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "localqm/core/core.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

void ColumnText(sqlite3_stmt* st, int col, char* out, size_t size) {
  const unsigned char* t = sqlite3_column_text(st, col);
  snprintf(out, size, "%s", t != nullptr ? reinterpret_cast<const char*>(t) : "");
}

int StepDone(sqlite3_stmt* st) {
  int step = sqlite3_step(st);
  int rc = LqmSqlReason(step);
  return rc;
}

}  // namespace

void LqmQmgrDefaults(LqmQmgr* q, const char* name) {
  *q = LqmQmgr{};
  snprintf(q->Name, sizeof q->Name, "%.48s", name);
  q->CommandLevel = kLqmDefaultCommandLevel;
  q->Platform = MQPL_UNIX;
  q->MaxCnoVersion = MQCNO_CURRENT_VERSION;
  q->Running = true;
  q->Ccsid = kLqmDefaultCcsid;
}

void LqmQueueDefaults(LqmQueue* q, const char* name) {
  *q = LqmQueue{};
  snprintf(q->Name, sizeof q->Name, "%s", name);
  q->Type = MQQT_LOCAL;
  q->DefinitionType = MQQDT_PREDEFINED;
  q->MaxDepth = kLqmDefaultMaxDepth;
  q->MaxMsgLength = kLqmDefaultMaxMsgLength;
  q->BackoutThreshold = 0;
  q->DefPriority = 0;
  q->DefPersistence = MQPER_NOT_PERSISTENT;
  q->DefInputOpen = MQOO_INPUT_SHARED;
}

int LqmQueueRead(LqmStore* store, const char* nameIn, LqmQueue* out) {
  // The name may live inside *out (an alias's Target): copy it first.
  char name[kLqmNameLength + 1];
  snprintf(name, sizeof name, "%s", nameIn);
  *out = LqmQueue{};
  sqlite3_stmt* st = LqmStmt(store, kStmtQueueRead,
                             "SELECT name, type, deftype, target, maxdepth, maxmsgl, boqname,"
                             " bothresh, put_inh, get_inh, deny_inq, defprty, defpsist, defsopt,"
                             " owner, depth, descr FROM queues WHERE name = ?");
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
  int step = sqlite3_step(st);
  if (step != SQLITE_ROW) {
    sqlite3_reset(st);
    return step == SQLITE_DONE ? MQRC_UNKNOWN_OBJECT_NAME : LqmSqlReason(step);
  }
  ColumnText(st, 0, out->Name, sizeof out->Name);
  out->Type = sqlite3_column_int(st, 1);
  out->DefinitionType = sqlite3_column_int(st, 2);
  ColumnText(st, 3, out->Target, sizeof out->Target);
  out->MaxDepth = sqlite3_column_int(st, 4);
  out->MaxMsgLength = sqlite3_column_int(st, 5);
  ColumnText(st, 6, out->BackoutQName, sizeof out->BackoutQName);
  out->BackoutThreshold = sqlite3_column_int(st, 7);
  out->PutInhibited = sqlite3_column_int(st, 8) != 0;
  out->GetInhibited = sqlite3_column_int(st, 9) != 0;
  out->DenyInquire = sqlite3_column_int(st, 10) != 0;
  out->DefPriority = sqlite3_column_int(st, 11);
  out->DefPersistence = sqlite3_column_int(st, 12);
  out->DefInputOpen = sqlite3_column_int(st, 13);
  out->Owner = sqlite3_column_int64(st, 14);
  out->Depth = sqlite3_column_int(st, 15);
  ColumnText(st, 16, out->Description, sizeof out->Description);
  sqlite3_reset(st);
  return 0;
}

int LqmQueueWrite(LqmStore* store, const LqmQueue* q, bool create) {
  int rc = LqmCheckName(q->Name, MQRC_UNKNOWN_OBJECT_NAME);
  if (rc != 0) return rc;
  const char* sql =
      create ? "INSERT INTO queues(name, type, deftype, target, maxdepth, maxmsgl, boqname,"
               " bothresh, put_inh, get_inh, deny_inq, defprty, defpsist, defsopt, owner, descr)"
               " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16)"
             : "UPDATE queues SET type = ?2, deftype = ?3, target = ?4, maxdepth = ?5,"
               " maxmsgl = ?6, boqname = ?7, bothresh = ?8, put_inh = ?9, get_inh = ?10,"
               " deny_inq = ?11, defprty = ?12, defpsist = ?13, defsopt = ?14, owner = ?15,"
               " descr = ?16 WHERE name = ?1";
  sqlite3_stmt* st = nullptr;
  rc = LqmSqlReason(sqlite3_prepare_v2(store->Db, sql, -1, &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_text(st, 1, q->Name, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 2, q->Type);
  sqlite3_bind_int(st, 3, q->DefinitionType);
  sqlite3_bind_text(st, 4, q->Target, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 5, q->MaxDepth);
  sqlite3_bind_int(st, 6, q->MaxMsgLength);
  sqlite3_bind_text(st, 7, q->BackoutQName, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 8, q->BackoutThreshold);
  sqlite3_bind_int(st, 9, q->PutInhibited ? 1 : 0);
  sqlite3_bind_int(st, 10, q->GetInhibited ? 1 : 0);
  sqlite3_bind_int(st, 11, q->DenyInquire ? 1 : 0);
  sqlite3_bind_int(st, 12, q->DefPriority);
  sqlite3_bind_int(st, 13, q->DefPersistence);
  sqlite3_bind_int(st, 14, q->DefInputOpen);
  sqlite3_bind_int64(st, 15, q->Owner);
  sqlite3_bind_text(st, 16, q->Description, -1, SQLITE_TRANSIENT);
  int step = sqlite3_step(st);
  sqlite3_finalize(st);
  if ((step & 0xff) == SQLITE_CONSTRAINT) return MQRC_OBJECT_ALREADY_EXISTS;
  rc = LqmSqlReason(step);
  if (rc == 0 && !create && sqlite3_changes(store->Db) == 0) return MQRC_UNKNOWN_OBJECT_NAME;
  return rc;
}

int LqmQueueDelete(LqmStore* store, const char* name, bool purge) {
  LqmQueue q;
  int rc = LqmQueueRead(store, name, &q);
  if (rc != 0) return rc;
  if (q.Depth > 0 && !purge) return MQRC_Q_NOT_EMPTY;
  // A queue's rows are its committed rows and its rows in units of work,
  // each found through its own index (see the schema in store.cpp).
  const char* sqls[] = {
      "DELETE FROM messages INDEXED BY messages_committed WHERE state = 0 AND queue = ?",
      "DELETE FROM messages INDEXED BY messages_uow WHERE conn <> 0 AND queue = ?",
      "DELETE FROM queues WHERE name = ?"};
  for (const char* sql : sqls) {
    sqlite3_stmt* st = nullptr;
    rc = LqmSqlReason(sqlite3_prepare_v2(store->Db, sql, -1, &st, nullptr));
    if (rc == 0) {
      sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
      rc = StepDone(st);
    }
    sqlite3_finalize(st);
    if (rc != 0) return rc;
  }
  return 0;
}

int LqmQueueList(LqmStore* store, std::vector<std::string>* names) {
  names->clear();
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(
      sqlite3_prepare_v2(store->Db, "SELECT name FROM queues ORDER BY name", -1, &st, nullptr));
  if (rc != 0) return rc;
  int step;
  while ((step = sqlite3_step(st)) == SQLITE_ROW)
    names->push_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  return step == SQLITE_DONE ? 0 : LqmSqlReason(step);
}

int LqmQueueCreateDynamic(LqmStore* store, const LqmQueue* model, const char* pattern,
                          char* nameOut) {
  nameOut[0] = '\0';
  size_t len = strlen(pattern);
  if (len == 0) return MQRC_DYNAMIC_Q_NAME_ERROR;
  const char* star = strchr(pattern, '*');
  // IBM's rule: an asterisk may only be the last character; what follows
  // it is ignored and the queue manager completes the name.
  char prefix[kLqmNameLength + 1];
  size_t prefixLength = star != nullptr ? static_cast<size_t>(star - pattern) : len;
  memcpy(prefix, pattern, prefixLength);
  prefix[prefixLength] = '\0';
  if (star != nullptr && prefixLength == 0) snprintf(prefix, sizeof prefix, "AMQ.");
  if (LqmCheckName(prefix, MQRC_DYNAMIC_Q_NAME_ERROR) != 0) return MQRC_DYNAMIC_Q_NAME_ERROR;
  LqmQueue q = *model;
  q.Type = MQQT_LOCAL;
  q.DefinitionType = model->DefinitionType == MQQDT_PERMANENT_DYNAMIC
                         ? MQQDT_PERMANENT_DYNAMIC
                         : MQQDT_TEMPORARY_DYNAMIC;
  q.Owner = store->ConnId;
  static std::atomic<uint32_t> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (star == nullptr) {
      snprintf(q.Name, sizeof q.Name, "%s", prefix);
    } else {
      // 16 hex digits: seconds, pid and a per-process counter, trimmed to
      // what fits in 48 characters after the prefix.
      char suffix[40];
      snprintf(suffix, sizeof suffix, "%08llX%04X%04X",
               static_cast<unsigned long long>(LqmNowMs() / 1000) & 0xffffffffull,
               static_cast<unsigned>(getpid()) & 0xffff, (counter++ + attempt) & 0xffff);
      size_t room = kLqmNameLength - prefixLength;
      if (room == 0) return MQRC_DYNAMIC_Q_NAME_ERROR;
      size_t suffixLength = strlen(suffix);
      const char* tail = suffix + (suffixLength > room ? suffixLength - room : 0);
      std::string full = std::string(prefix) + tail;
      memcpy(q.Name, full.data(), full.size());
      q.Name[full.size()] = '\0';
    }
    int rc = LqmQueueWrite(store, &q, true);
    if (rc == 0) {
      snprintf(nameOut, kLqmNameLength + 1, "%s", q.Name);
      return 0;
    }
    if (rc != MQRC_OBJECT_ALREADY_EXISTS || star == nullptr) return rc;
  }
  return MQRC_OBJECT_ALREADY_EXISTS;
}

int LqmOpenAcquire(LqmStore* store, MQHOBJ hobj, const char* queue, MQLONG mode) {
  sqlite3_stmt* st = nullptr;
  // mode holds MQOO_INPUT_SHARED or MQOO_INPUT_EXCLUSIVE (already resolved
  // from MQOO_INPUT_AS_Q_DEF) and MQOO_OUTPUT, as bits.
  if ((mode & (MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE)) != 0) {
    int rc = LqmSqlReason(sqlite3_prepare_v2(
        store->Db,
        "SELECT coalesce(sum((mode & 6) <> 0), 0), coalesce(sum((mode & 4) <> 0), 0)"
        " FROM opens WHERE queue = ?1",
        -1, &st, nullptr));
    static_assert(MQOO_INPUT_SHARED + MQOO_INPUT_EXCLUSIVE == 6 && MQOO_INPUT_EXCLUSIVE == 4,
                  "input bits in SQL");
    if (rc != 0) return rc;
    sqlite3_bind_text(st, 1, queue, -1, SQLITE_TRANSIENT);
    int step = sqlite3_step(st);
    long inputs = step == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    long exclusive = step == SQLITE_ROW ? sqlite3_column_int64(st, 1) : 0;
    sqlite3_finalize(st);
    if (step != SQLITE_ROW) return LqmSqlReason(step);
    if (exclusive > 0 || ((mode & MQOO_INPUT_EXCLUSIVE) != 0 && inputs > 0))
      return MQRC_OBJECT_IN_USE;
  }
  st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "INSERT OR REPLACE INTO opens(conn, hobj, queue, mode) VALUES(?, ?, ?, ?)", -1,
      &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_int64(st, 1, store->ConnId);
  sqlite3_bind_int(st, 2, hobj);
  sqlite3_bind_text(st, 3, queue, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 4, mode);
  rc = StepDone(st);
  sqlite3_finalize(st);
  return rc;
}

int LqmOpenRelease(LqmStore* store, MQHOBJ hobj) {
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db, "DELETE FROM opens WHERE conn = ? AND hobj = ?", -1, &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_int64(st, 1, store->ConnId);
  sqlite3_bind_int(st, 2, hobj);
  rc = StepDone(st);
  sqlite3_finalize(st);
  return rc;
}

static_assert(MQOO_OUTPUT == 16, "output bit in SQL");

int LqmOpenCounts(LqmStore* store, const char* queue, MQLONG* input, MQLONG* output) {
  *input = 0;
  *output = 0;
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db,
      "SELECT coalesce(sum((mode & 6) <> 0), 0), coalesce(sum((mode & 16) <> 0), 0)"
      " FROM opens WHERE queue = ?",
      -1, &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_text(st, 1, queue, -1, SQLITE_TRANSIENT);
  if (sqlite3_step(st) == SQLITE_ROW) {
    *input = sqlite3_column_int(st, 0);
    *output = sqlite3_column_int(st, 1);
  }
  sqlite3_finalize(st);
  return 0;
}

int LqmQueueDepth(LqmStore* store, const char* queue, MQLONG* depth) {
  LqmQueue q;
  int rc = LqmQueueRead(store, queue, &q);
  *depth = q.Depth;
  return rc;
}
