// Queue-manager attributes and users, kept in the store's qmgr and users
// tables.
#include <crypt.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

namespace {

// One-way, salted: the store never holds a password, only what crypt(3)
// makes of it with a fresh random salt (the library's preferred method).
int HashPassword(const char* password, char* hash, int hashSize) {
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (crypt_gensalt_rn(nullptr, 0, nullptr, 0, salt, sizeof salt) == nullptr)
    return MQRC_UNEXPECTED_ERROR;
  struct crypt_data work {};
  const char* made = crypt_rn(password, salt, &work, sizeof work);
  int rc = made == nullptr || made[0] == '*' || strlen(made) >= static_cast<size_t>(hashSize)
               ? MQRC_UNEXPECTED_ERROR
               : 0;
  if (rc == 0) snprintf(hash, static_cast<size_t>(hashSize), "%s", made);
  explicit_bzero(&work, sizeof work);
  return rc;
}

bool PasswordMatches(const char* password, const char* hash) {
  struct crypt_data work {};
  const char* made = crypt_rn(password, hash, &work, sizeof work);
  bool match = made != nullptr && made[0] != '*' && strcmp(made, hash) == 0;
  explicit_bzero(&work, sizeof work);
  return match;
}

// Stores user's hash and clears any password kept in clear by older stores.
int StoreHash(LqmStore* store, const char* user, const char* password) {
  char hash[CRYPT_OUTPUT_SIZE];
  int rc = HashPassword(password, hash, sizeof hash);
  sqlite3_stmt* st = nullptr;
  if (rc == 0)
    rc = LqmSqlReason(sqlite3_prepare_v2(
        store->Db,
        "INSERT OR REPLACE INTO user_hashes(name, hash) VALUES(?1, ?2);", -1, &st, nullptr));
  if (rc == 0) {
    sqlite3_bind_text(st, 1, user, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, hash, -1, SQLITE_TRANSIENT);
    rc = LqmSqlReason(sqlite3_step(st));
  }
  sqlite3_finalize(st);
  st = nullptr;
  if (rc == 0)
    rc = LqmSqlReason(sqlite3_prepare_v2(
        store->Db, "INSERT OR REPLACE INTO users(name, password) VALUES(?1, NULL)", -1, &st,
        nullptr));
  if (rc == 0) {
    sqlite3_bind_text(st, 1, user, -1, SQLITE_TRANSIENT);
    rc = LqmSqlReason(sqlite3_step(st));
  }
  sqlite3_finalize(st);
  return rc;
}

}  // namespace

int LqmUserSet(LqmStore* store, const char* user, const char* password) {
  int rc = LqmTxnBegin(store);
  if (rc == 0) rc = LqmTxnEnd(store, StoreHash(store, user, password));
  return rc;
}

int LqmUserUpgrade(LqmStore* store) {
  // The look comes first and without a write lock: every open makes it,
  // and almost always finds nothing.
  const char* const kPlain = "SELECT name, password FROM users WHERE password IS NOT NULL";
  sqlite3_stmt* st = nullptr;
  int rc = LqmSqlReason(sqlite3_prepare_v2(store->Db, kPlain, -1, &st, nullptr));
  bool any = rc == 0 && sqlite3_step(st) == SQLITE_ROW;
  sqlite3_finalize(st);
  if (rc != 0 || !any) return rc;
  rc = LqmTxnBegin(store);
  if (rc != 0) return rc;
  std::vector<std::pair<std::string, std::string>> plain;
  rc = LqmSqlReason(sqlite3_prepare_v2(store->Db, kPlain, -1, &st, nullptr));
  while (rc == 0 && sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(st, 0);
    const unsigned char* password = sqlite3_column_text(st, 1);
    if (name != nullptr && password != nullptr)
      plain.emplace_back(reinterpret_cast<const char*>(name),
                         reinterpret_cast<const char*>(password));
  }
  sqlite3_finalize(st);
  for (auto& [name, password] : plain) {
    if (rc == 0) rc = StoreHash(store, name.c_str(), password.c_str());
    explicit_bzero(password.data(), password.size());
  }
  return LqmTxnEnd(store, rc);
}

int LqmUserCheck(LqmStore* store, const char* user, const char* password, bool* usersDefined) {
  *usersDefined = false;
  sqlite3_stmt* st = nullptr;
  // A password still in clear is one an upgrade has not reached yet.
  int rc = LqmSqlReason(sqlite3_prepare_v2(
      store->Db,
      "SELECT (SELECT count(*) FROM users), (SELECT hash FROM user_hashes WHERE name = ?1),"
      " (SELECT password FROM users WHERE name = ?1)",
      -1, &st, nullptr));
  if (rc != 0) return rc;
  sqlite3_bind_text(st, 1, user != nullptr ? user : "", -1, SQLITE_TRANSIENT);
  int step = sqlite3_step(st);
  if (step == SQLITE_ROW) {
    *usersDefined = sqlite3_column_int(st, 0) > 0;
    const unsigned char* hash = sqlite3_column_text(st, 1);
    const unsigned char* plain = sqlite3_column_text(st, 2);
    bool match = false;
    if (user != nullptr && password != nullptr) {
      if (hash != nullptr)
        match = PasswordMatches(password, reinterpret_cast<const char*>(hash));
      else if (plain != nullptr)
        match = strcmp(password, reinterpret_cast<const char*>(plain)) == 0;
    }
    rc = (!*usersDefined || match) ? 0 : MQRC_NOT_AUTHORIZED;
  } else {
    rc = LqmSqlReason(step);
  }
  sqlite3_finalize(st);
  return rc;
}
