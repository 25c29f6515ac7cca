// Helpers shared by the localqm tests: a fresh data root per test, queue
// managers and queues made through the store, and small MQI wrappers that
// return the reason so that tables of cases stay short.
#ifndef TESTS_LOCALQM_LQM_TEST_UTIL_H_
#define TESTS_LOCALQM_LQM_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "localqm/core/core.h"
#include "mqi/mqi.h"
#include "zeplo/util/util.h"

// Each test gets its own LOCALQM_ROOT, removed afterwards.
class LqmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lqmtest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    setenv("LOCALQM_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + root_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }

 public:
  // Creates a running queue manager with default attributes.
  static void CreateQmgr(const char* name, bool makeDefault = false, MQLONG maxCno = 8) {
    LqmQmgr q;
    LqmQmgrDefaults(&q, name);
    q.MaxCnoVersion = maxCno;
    ASSERT_EQ(LqmStoreCreate(&q, makeDefault), 0);
  }

  // Runs `edit` on a store of `qmgr` inside one transaction.
  template <typename F>
  static void WithStore(const char* qmgr, F edit) {
    LqmStore s{};
    ASSERT_EQ(LqmStoreOpen(qmgr, &s), 0);
    ASSERT_EQ(LqmTxnBegin(&s), 0);
    int rc = edit(&s);
    EXPECT_EQ(LqmTxnEnd(&s, rc), 0);
    LqmStoreClose(&s);
  }

  // Changes the stored attributes of `qmgr` through `edit(LqmQmgr*)`.
  template <typename F>
  static void EditQmgr(const char* qmgr, F edit) {
    WithStore(qmgr, [&](LqmStore* s) {
      LqmQmgr q;
      int rc = LqmQmgrRead(s, &q);
      if (rc == 0) edit(&q);
      return rc != 0 ? rc : LqmQmgrWrite(s, &q);
    });
  }

  static void DefineQueue(const char* qmgr, const LqmQueue& q) {
    WithStore(qmgr, [&](LqmStore* s) { return LqmQueueWrite(s, &q, true); });
  }
  static void DefineLocal(const char* qmgr, const char* name, MQLONG maxDepth = 5000) {
    LqmQueue q;
    LqmQueueDefaults(&q, name);
    q.MaxDepth = maxDepth;
    DefineQueue(qmgr, q);
  }
  // Moves the expiry of every message of `qmgr` that has one `ms` earlier:
  // what the clock moving on by `ms` does to them, without the wait.
  static void AgeMessages(const char* qmgr, int64_t ms) {
    WithStore(qmgr, [ms](LqmStore* s) {
      std::string sql =
          "UPDATE messages SET expires = expires - " + std::to_string(ms) + " WHERE expires != 0";
      return sqlite3_exec(s->Db, sql.c_str(), nullptr, nullptr, nullptr);
    });
  }
  static MQLONG Depth(const char* qmgr, const char* queue) {
    LqmStore s{};
    MQLONG d = -1;
    EXPECT_EQ(LqmStoreOpen(qmgr, &s), 0);
    EXPECT_EQ(LqmQueueDepth(&s, queue, &d), 0);
    LqmStoreClose(&s);
    return d;
  }

 protected:
  std::string root_;
};

// The first value that `sql` reads from the database at `path` as text,
// opened read-only and never through the store (which would recover dead
// connections first); "<none>" when there is none.
inline std::string SqlValue(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string value = "<none>";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0) != nullptr)
      value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return value;
}
inline long SqlCount(const std::string& path, const std::string& sql) {
  std::string value = SqlValue(path, sql);
  return value == "<none>" ? -1 : atol(value.c_str());
}

// The exit status of child `pid`, 128 + the signal that ended it, or -1.
inline int WaitExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `body` in a child process whose exit status is what `body` returns;
// the child never returns into the test framework.
template <typename F>
pid_t Spawn(F body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// What a command run through the shell did: its exit status (-1 when it
// did not exit) and its outputs.
struct ToolRun {
  int status;
  std::string out, err;
};

// Runs the shell command line `command` with `input` on its standard input;
// the streams go through files in the test's data root.
inline ToolRun RunCommand(const std::string& command, const std::string& input = "") {
  const std::string file = std::string(getenv("LOCALQM_ROOT")) + "/tool.";
  auto slurp = [](const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
  };
  std::ofstream(file + "in", std::ios::binary) << input;
  std::string line = command + " <'" + file + "in' >'" + file + "out' 2>'" + file + "err'";
  int status = system(line.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(file + "out"), slurp(file + "err")};
}

// ---- MQI wrappers: each returns the reason, with the completion code
// checked for consistency (0 <-> MQCC_OK). ----

inline MQLONG CheckCc(MQLONG cc, MQLONG reason) {
  if (reason == 0) EXPECT_EQ(cc, MQCC_OK);
  else EXPECT_NE(cc, MQCC_OK) << "reason " << reason;
  return reason;
}

inline MQLONG Connect(const char* qmgr, MQHCONN* hconn) {
  MQCHAR48 name;
  memset(name, 0, sizeof name);
  memcpy(name, qmgr, strnlen(qmgr, sizeof name));
  MQCNO cno = {MQCNO_DEFAULT};
  MQLONG cc, reason;
  MQCONNX(name, &cno, hconn, &cc, &reason);
  return CheckCc(cc, reason);
}

inline void Disconnect(MQHCONN* hconn) {
  MQLONG cc, reason;
  MQDISC(hconn, &cc, &reason);
  EXPECT_EQ(reason, 0);
}

inline MQLONG Open(MQHCONN hconn, const char* queue, MQLONG options, MQHOBJ* hobj,
                   const char* qmgr = "") {
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, queue);
  SetMqField(od.ObjectQMgrName, qmgr);
  MQLONG cc, reason;
  MQOPEN(hconn, &od, options, hobj, &cc, &reason);
  return CheckCc(cc, reason);
}

inline void Close(MQHCONN hconn, MQHOBJ* hobj) {
  MQLONG cc, reason;
  MQCLOSE(hconn, hobj, MQCO_NONE, &cc, &reason);
  EXPECT_EQ(reason, 0);
}

// MQCMIT, or MQBACK when `commit` is false; the reason.
inline MQLONG EndUnit(MQHCONN hconn, bool commit) {
  MQLONG cc, reason;
  if (commit) MQCMIT(hconn, &cc, &reason);
  else MQBACK(hconn, &cc, &reason);
  return CheckCc(cc, reason);
}

// Puts `data` under the caller's descriptor (an MQMD or MQMD1, which comes
// back as the put left it), passing the context of `context` if asked.
inline MQLONG PutMd(MQHCONN hconn, MQHOBJ hobj, void* md, const std::string& data,
                    MQLONG pmoOptions = 0, MQHOBJ context = MQHO_NONE) {
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Options = pmoOptions;
  pmo.Context = context;
  MQLONG cc, reason;
  MQPUT(hconn, hobj, md, &pmo, static_cast<MQLONG>(data.size()), const_cast<char*>(data.data()),
        &cc, &reason);
  return CheckCc(cc, reason);
}

inline MQLONG Put(MQHCONN hconn, MQHOBJ hobj, const std::string& data, MQLONG pmoOptions = 0,
                  MQMD* mdOut = nullptr, MQLONG priority = MQPRI_PRIORITY_AS_Q_DEF) {
  MQMD md = {MQMD_DEFAULT};
  md.Version = MQMD_VERSION_2;
  md.Priority = priority;
  memcpy(md.Format, MQFMT_STRING, 8);
  MQLONG reason = PutMd(hconn, hobj, &md, data, pmoOptions);
  if (mdOut != nullptr) *mdOut = md;
  return reason;
}

// Gets (or browses) one message; the data goes to *data.
inline MQLONG Get(MQHCONN hconn, MQHOBJ hobj, std::string* data, MQLONG gmoOptions = MQGMO_NO_WAIT,
                  MQMD* mdInOut = nullptr, MQLONG bufferLength = 4096, MQLONG waitMs = 0) {
  MQMD md = {MQMD_DEFAULT};
  md.Version = MQMD_VERSION_2;
  if (mdInOut != nullptr) md = *mdInOut;
  MQGMO gmo = {MQGMO_DEFAULT};
  gmo.Version = MQGMO_VERSION_2;
  gmo.Options = gmoOptions;
  gmo.WaitInterval = waitMs;
  gmo.MatchOptions = MQMO_NONE;
  std::vector<char> buffer(static_cast<size_t>(bufferLength) + 1);
  MQLONG length = -1, cc, reason;
  MQGET(hconn, hobj, &md, &gmo, bufferLength, buffer.data(), &length, &cc, &reason);
  if (data != nullptr) {
    data->clear();
    if (length >= 0 && (reason == 0 || cc == MQCC_WARNING || reason == MQRC_TRUNCATED_MSG_FAILED))
      data->assign(buffer.data(), static_cast<size_t>(length < bufferLength ? length : bufferLength));
  }
  if (mdInOut != nullptr) *mdInOut = md;
  return reason;
}

// Every message that `hobj` browses, in order, as "data/BackoutCount" words.
inline std::string Browsed(MQHCONN hconn, MQHOBJ hobj) {
  std::string all, data;
  MQLONG option = MQGMO_BROWSE_FIRST;
  for (MQMD md = {MQMD_DEFAULT}; Get(hconn, hobj, &data, option, &md) == 0;
       md = {MQMD_DEFAULT}, option = MQGMO_BROWSE_NEXT)
    all += (all.empty() ? "" : " ") + data + "/" + std::to_string(md.BackoutCount);
  return all;
}

// The tests that include this helper include it last: they are held to the
// same banned calls as the program.
#include "zeplo/util/banned.h"

#endif  // TESTS_LOCALQM_LQM_TEST_UTIL_H_
