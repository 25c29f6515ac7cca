// localqm against its floor: 20,000 messages of 1 KB put and then got
// through the MQI (libmqm_r.so, loaded as zeplo loads it) in units of work
// of 200, compared with the same number of plain SQLite inserts and
// deletes of the same rows in a database with the same settings.
//
// Two floors are measured. Every MQI call is its own SQLite transaction
// (so that no process holds the database while a unit of work is open),
// so the like-for-like floor is one insert or delete per transaction; the
// batched floor (200 rows per transaction) is printed as well, to show
// what that design costs.
//
// Each side runs kBenchRounds times, alternating, and the best time counts: the
// machine is shared, and the minimum is the least disturbed.
//
// Usage: bench_localqm_mqi [messages [mqi]]   (prints ratios; exit 1 on
// failure). With "mqi" only the MQI side runs, once: for profiling.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"

namespace {

constexpr int kLength = 1024;

// Puts then gets `count` messages through the MQI; seconds, or -1.
double RunMqi(const BenchApi& api, int count) {
  MQHCONN h;
  if (BenchConnect(api, &h) != 0) return -1;
  MQHOBJ o;
  if (BenchOpenQueue(api, h, "BENCH.Q", MQOO_OUTPUT | MQOO_INPUT_SHARED, &o) != 0) return -1;
  MQLONG cc, reason;
  std::vector<char> data(kLength, 'm'), buffer(kLength);
  double start = BenchSeconds();
  for (int i = 0; i < count; ++i) {
    MQMD md = {MQMD_DEFAULT};
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = MQPMO_SYNCPOINT;
    api.Put(h, o, &md, &pmo, kLength, data.data(), &cc, &reason);
    if (reason != 0) return -1;
    if ((i + 1) % kBenchUnit == 0) api.Cmit(h, &cc, &reason);
  }
  api.Cmit(h, &cc, &reason);
  double putDone = BenchSeconds();
  for (int i = 0; i < count; ++i) {
    MQMD md = {MQMD_DEFAULT};
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = MQGMO_SYNCPOINT;
    MQLONG length;
    api.Get(h, o, &md, &gmo, kLength, buffer.data(), &length, &cc, &reason);
    if (reason != 0 || length != kLength) return -1;
    if ((i + 1) % kBenchUnit == 0) api.Cmit(h, &cc, &reason);
  }
  api.Cmit(h, &cc, &reason);
  double elapsed = BenchSeconds() - start;
  printf("MQI puts %.3f s, gets %.3f s\n", putDone - start, elapsed - (putDone - start));
  api.Close(h, &o, MQCO_NONE, &cc, &reason);
  api.Disc(&h, &cc, &reason);
  return elapsed;
}

// The same rows inserted then deleted with plain SQLite, `perTxn` rows per
// transaction; seconds, or -1.
double RunFloor(const char* dir, int count, int perTxn) {
  std::string path = std::string(dir) + "/floor.db";
  unlink(path.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return -1;
  sqlite3_busy_timeout(db, 30000);
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
               "CREATE TABLE messages(id INTEGER PRIMARY KEY AUTOINCREMENT, queue TEXT NOT NULL,"
               " rank INT NOT NULL, state INT NOT NULL, conn INT NOT NULL, expires INT NOT NULL,"
               " backouts INT NOT NULL, msgid BLOB, correlid BLOB, groupid BLOB, md BLOB NOT NULL,"
               " data BLOB);"
               "CREATE INDEX messages_order ON messages(queue, rank, id);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_stmt* del = nullptr;
  sqlite3_prepare_v2(
      db,
      "INSERT INTO messages(queue, rank, state, conn, expires, backouts, msgid,"
      " correlid, groupid, md, data) VALUES('BENCH.Q', 9, 0, 0, 0, 0, ?, ?, ?, ?, ?)",
      -1, &ins, nullptr);
  sqlite3_prepare_v2(db,
                     "DELETE FROM messages WHERE id = (SELECT id FROM messages WHERE"
                     " queue = 'BENCH.Q' ORDER BY rank, id LIMIT 1)",
                     -1, &del, nullptr);
  if (ins == nullptr || del == nullptr) return -1;
  std::vector<unsigned char> data(kLength, 'm'), id(24, 1);
  MQMD md = {MQMD_DEFAULT};
  double start = BenchSeconds();
  for (int pass = 0; pass < 2; ++pass) {
    sqlite3_stmt* st = pass == 0 ? ins : del;
    for (int i = 0; i < count; ++i) {
      if (i % perTxn == 0) sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      if (pass == 0) {
        memcpy(id.data(), &i, sizeof i);
        sqlite3_bind_blob(st, 1, id.data(), 24, SQLITE_STATIC);
        sqlite3_bind_blob(st, 2, id.data(), 24, SQLITE_STATIC);
        sqlite3_bind_blob(st, 3, id.data(), 24, SQLITE_STATIC);
        sqlite3_bind_blob(st, 4, &md, sizeof md, SQLITE_STATIC);
        sqlite3_bind_blob(st, 5, data.data(), kLength, SQLITE_STATIC);
      }
      if (sqlite3_step(st) != SQLITE_DONE) return -1;
      sqlite3_reset(st);
      if ((i + 1) % perTxn == 0 || i + 1 == count)
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
  }
  double elapsed = BenchSeconds() - start;
  sqlite3_finalize(ins);
  sqlite3_finalize(del);
  sqlite3_close(db);
  unlink(path.c_str());
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = BenchCountArgument(argc, argv, 1, 20000);
  char dir[] = "/tmp/localqm-bench.XXXXXX";
  if (!BenchMakeRoot(dir)) return 1;
  const BenchCase queue = {"BENCH.Q", count, kLength};
  BenchApi api{};
  if (!BenchCreateQmgr(&queue, 1) || !BenchLoadApi(&api)) {
    fprintf(stderr, "setup failed\n");
    return 1;
  }
  char qmDir[kLqmPathLength + 16];
  snprintf(qmDir, sizeof qmDir, "%s/%s", dir, kBenchQmgr);
  bool mqiOnly = argc > 2 && strcmp(argv[2], "mqi") == 0;
  int rounds = mqiOnly ? 1 : kBenchRounds;
  double mqi = kBenchNoTime, perCall = kBenchNoTime, batched = kBenchNoTime;
  bool ok = true;
  for (int round = 0; ok && round < rounds; ++round) {
    double t = RunMqi(api, count);
    ok = t >= 0;
    if (!ok) break;
    BenchKeepBest(&mqi, t);
    if (mqiOnly) {
      perCall = batched = t;
      break;
    }
    t = RunFloor(qmDir, count, 1);
    ok = t >= 0;
    if (!ok) break;
    BenchKeepBest(&perCall, t);
    t = RunFloor(qmDir, count, kBenchUnit);
    ok = t >= 0;
    if (ok) BenchKeepBest(&batched, t);
  }
  BenchRemoveRoot(dir);
  if (!ok) {
    fprintf(stderr, "a run failed\n");
    return 1;
  }
  printf("messages                  : %d of %d bytes, units of %d, best of %d rounds\n", count,
         kLength, kBenchUnit, rounds);
  printf("MQI put+get               : %.3f s (%.1f us per message)\n", mqi, mqi * 1e6 / count);
  printf("SQLite, one row per txn   : %.3f s  ratio %.2f\n", perCall, mqi / perCall);
  printf("SQLite, %d rows per txn  : %.3f s  ratio %.2f\n", kBenchUnit, batched, mqi / batched);
  return 0;
}
