// What one MQI call costs inside the store must not grow with the depth of
// the queue. Each case runs on a shallow and on a deep queue, through the
// MQI procedures of this process (so the store's own cached statements are
// the ones measured), and counts the virtual-machine steps of every
// statement the measured calls ran. A seek costs the same number of steps
// at any depth; a scan costs a step per row passed, so a plan that degrades
// to a scan shows up as thousands of extra steps. No timing is involved.
#include <sqlite3.h>

#include <functional>
#include <set>

#include "localqm/api/api.h"
#include "tests/localqm/lqm_test_util.h"

namespace {

constexpr int kShallow = 20;
constexpr int kDeep = 1500;
// Steps a case may differ by between the depths: a find that ends its
// priority and looks in the next runs one more statement, and the amount
// of work before the seek (cursor checks, expiry) is a few steps either way.
constexpr long kSlack = 40;

struct Cost {
  long Steps = 0, FullScanSteps = 0, Sorts = 0;
  std::set<std::string> Sql;
};

int OnProfile(unsigned type, void* context, void* p, void*) {
  if (type != SQLITE_TRACE_PROFILE) return 0;
  Cost* c = static_cast<Cost*>(context);
  sqlite3_stmt* st = static_cast<sqlite3_stmt*>(p);
  c->Steps += sqlite3_stmt_status(st, SQLITE_STMTSTATUS_VM_STEP, 1);
  c->FullScanSteps += sqlite3_stmt_status(st, SQLITE_STMTSTATUS_FULLSCAN_STEP, 1);
  c->Sorts += sqlite3_stmt_status(st, SQLITE_STMTSTATUS_SORT, 1);
  if (const char* sql = sqlite3_sql(st)) c->Sql.insert(sql);
  return 0;
}

// Forgets what every statement of `db` counted so far.
void ResetCounters(sqlite3* db) {
  for (sqlite3_stmt* st = sqlite3_next_stmt(db, nullptr); st != nullptr;
       st = sqlite3_next_stmt(db, st))
    for (int op :
         {SQLITE_STMTSTATUS_VM_STEP, SQLITE_STMTSTATUS_FULLSCAN_STEP, SQLITE_STMTSTATUS_SORT})
      sqlite3_stmt_status(st, op, 1);
}

// One queue of a given depth, a connection with a handle on it, and a
// second connection for cases that need someone else's unit of work.
struct Bench {
  std::string Queue;
  int Depth = 0;
  MQHCONN Hconn = 0, Other = 0;
  MQHOBJ Hobj = 0, OtherObj = 0;
  std::vector<MQMD> Sent;  // descriptors as stored, in put order
};

// MQGET through the store of this process; *data gets at most 256 bytes.
MQLONG CallGet(MQHCONN hconn, MQHOBJ hobj, MQLONG options, MQLONG matchOptions = MQMO_NONE,
               const MQMD* match = nullptr, std::string* data = nullptr) {
  MQMD md = {MQMD_DEFAULT};
  md.Version = MQMD_VERSION_2;
  if (match != nullptr) md = *match;
  MQGMO gmo = {MQGMO_DEFAULT};
  gmo.Version = MQGMO_VERSION_2;
  gmo.Options = options;
  gmo.MatchOptions = matchOptions;
  char buffer[256];
  MQLONG length = 0, cc, reason;
  LqmMQGET(hconn, hobj, &md, &gmo, sizeof buffer, buffer, &length, &cc, &reason);
  if (data != nullptr) data->assign(buffer, reason == 0 && length <= 256 ? length : 0);
  return reason;
}

// A get of the measured connection that must bring message `want` ("m<want>"),
// or any message when `want` is negative.
void ExpectGet(Bench* b, MQLONG options, int want = -1, MQLONG matchOptions = MQMO_NONE,
               const MQMD* match = nullptr) {
  std::string data;
  EXPECT_EQ(CallGet(b->Hconn, b->Hobj, options, matchOptions, match, &data), 0);
  if (want >= 0) {
    EXPECT_EQ(data, "m" + std::to_string(want));
  }
}

// A one-byte put of the measured connection that must work.
void ExpectPut(Bench* b, MQLONG options) {
  MQMD md = {MQMD_DEFAULT};
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Options = options;
  char c = 'p';
  MQLONG cc, reason;
  LqmMQPUT(b->Hconn, b->Hobj, &md, &pmo, 1, &c, &cc, &reason);
  EXPECT_EQ(reason, 0);
}

// MQCMIT, or MQBACK when `commit` is false, of the measured connection.
void EndUnit(Bench* b, bool commit) {
  MQLONG cc, reason;
  if (commit) LqmMQCMIT(b->Hconn, &cc, &reason);
  else LqmMQBACK(b->Hconn, &cc, &reason);
  EXPECT_EQ(reason, 0);
}

// Connects to QM and opens `queue` for everything the cases do.
void ConnectOpen(const std::string& queue, MQHCONN* hconn, MQHOBJ* hobj) {
  MQCHAR48 name = "QM";
  MQCNO cno = {MQCNO_DEFAULT};
  MQOD od = {MQOD_DEFAULT};
  snprintf(od.ObjectName, sizeof od.ObjectName, "%s", queue.c_str());
  MQLONG cc, reason;
  LqmMQCONNX(name, &cno, hconn, &cc, &reason);
  EXPECT_EQ(reason, 0);
  LqmMQOPEN(*hconn, &od, MQOO_INPUT_SHARED | MQOO_BROWSE | MQOO_OUTPUT | MQOO_INQUIRE, hobj, &cc,
            &reason);
  EXPECT_EQ(reason, 0);
}

// Stores `depth` messages in one transaction: message i has the priority
// and identifiers that `shape` gives it (defaults: priority 5, a new
// MsgId, no CorrelId or GroupId).
void Fill(Bench* b, int depth, const std::function<void(int, MQMD*)>& shape = nullptr,
          MQLONG expiryTenths = -1) {
  LqmStore s{};
  ASSERT_EQ(LqmStoreOpen("QM", &s), 0);
  ASSERT_EQ(LqmTxnBegin(&s), 0);
  for (int i = 0; i < depth; ++i) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    md.Priority = 5;
    LqmNewId(s.Name, md.MsgId);
    if (shape) shape(i, &md);
    std::string text = "m" + std::to_string(b->Sent.size());
    ASSERT_EQ(0, LqmMsgInsert(&s, b->Queue.c_str(), &md, text.data(), text.size(), expiryTenths,
                              false));
    b->Sent.push_back(md);
  }
  ASSERT_EQ(LqmTxnEnd(&s, 0), 0);
  LqmStoreClose(&s);
}
void FillAll(Bench* b) { Fill(b, b->Depth); }

// Browses the first `count` messages (those matching `match`).
void Browse(Bench* b, int count, MQLONG matchOptions = MQMO_NONE, const MQMD* match = nullptr) {
  for (int i = 0; i < count; ++i)
    ASSERT_EQ(CallGet(b->Hconn, b->Hobj, i == 0 ? MQGMO_BROWSE_FIRST : MQGMO_BROWSE_NEXT,
                      matchOptions, match),
              0)
        << "browse " << i;
}

struct CostCase {
  const char* Name;
  std::function<void(Bench*)> Setup;     // fills the queue, positions cursors
  std::function<void(Bench*)> Measured;  // the calls whose cost is counted
};

void SetCorrel(MQMD* md, char c) { memset(md->CorrelId, c, 24); }

const std::vector<CostCase>& Cases() {
  using B = Bench*;
  static const std::vector<CostCase> cases = {
      {"browse first", FillAll, [](B b) { ExpectGet(b, MQGMO_BROWSE_FIRST, 0); }},
      {"browse next deep within one priority", [](B b) { FillAll(b), Browse(b, b->Depth - 3); },
       [](B b) { ExpectGet(b, MQGMO_BROWSE_NEXT, b->Depth - 3); }},
      {"browse next from the end of one priority into the next",
       [](B b) {
         Fill(b, b->Depth, [&](int i, MQMD* md) { md->Priority = i == b->Depth - 1 ? 2 : 7; });
         Browse(b, b->Depth - 1);
       },
       [](B b) { ExpectGet(b, MQGMO_BROWSE_NEXT, b->Depth - 1); }},
      {"get under a deep browse cursor", [](B b) { FillAll(b), Browse(b, b->Depth - 2); },
       [](B b) { ExpectGet(b, MQGMO_MSG_UNDER_CURSOR, b->Depth - 3); }},
      {"get behind half the queue held by another unit of work",
       [](B b) {
         FillAll(b);
         for (int i = 0; i < b->Depth / 2; ++i)
           ASSERT_EQ(CallGet(b->Other, b->OtherObj, MQGMO_SYNCPOINT), 0);
       },
       [](B b) { ExpectGet(b, MQGMO_NO_SYNCPOINT, b->Depth / 2); }},
      {"get matching the MsgId of the last message", FillAll,
       [](B b) { ExpectGet(b, MQGMO_NO_SYNCPOINT, -1, MQMO_MATCH_MSG_ID, &b->Sent.back()); }},
      {"get matching a CorrelId only the last message has",
       [](B b) {
         Fill(b, b->Depth, [&](int i, MQMD* md) { SetCorrel(md, i == b->Depth - 1 ? 'Z' : 'A'); });
       },
       [](B b) { ExpectGet(b, MQGMO_NO_SYNCPOINT, -1, MQMO_MATCH_CORREL_ID, &b->Sent.back()); }},
      {"get matching a GroupId and CorrelId behind many of that CorrelId",
       [](B b) {
         Fill(b, b->Depth, [&](int i, MQMD* md) {
           SetCorrel(md, 'C');
           if (i == b->Depth - 1) memset(md->GroupId, 'G', 24);
         });
       },
       [](B b) {
         ExpectGet(b, MQGMO_NO_SYNCPOINT, -1, MQMO_MATCH_GROUP_ID | MQMO_MATCH_CORREL_ID,
                   &b->Sent.back());
       }},
      {"browse next deep among messages sharing a CorrelId",
       [](B b) {
         Fill(b, b->Depth, [](int, MQMD* md) { SetCorrel(md, 'S'); });
         Browse(b, b->Depth - 3, MQMO_MATCH_CORREL_ID, &b->Sent[0]);
       },
       [](B b) { ExpectGet(b, MQGMO_BROWSE_NEXT, -1, MQMO_MATCH_CORREL_ID, &b->Sent[0]); }},
      {"get that finds no matching MsgId", FillAll,
       [](B b) {
         MQMD md = {MQMD_DEFAULT};
         md.Version = MQMD_VERSION_2;
         memset(md.MsgId, 'x', 24);
         EXPECT_EQ(CallGet(b->Hconn, b->Hobj, MQGMO_NO_SYNCPOINT, MQMO_MATCH_MSG_ID, &md),
                   MQRC_NO_MSG_AVAILABLE);
       }},
      {"get past expired messages at the front",
       [](B b) {
         Fill(b, 3, [](int, MQMD* md) { md->Priority = 9; }, 1);
         FillAll(b);
         LqmTest::AgeMessages("QM", 1000);
       },
       [](B b) { ExpectGet(b, MQGMO_NO_SYNCPOINT, 3); }},
      {"put", FillAll, [](B b) { ExpectPut(b, MQPMO_NO_SYNCPOINT); }},
      {"put under syncpoint and commit", FillAll,
       [](B b) { ExpectPut(b, MQPMO_SYNCPOINT), EndUnit(b, true); }},
      {"get under syncpoint and commit", FillAll,
       [](B b) { ExpectGet(b, MQGMO_SYNCPOINT, 0), EndUnit(b, true); }},
      {"get under syncpoint and back out", FillAll,
       [](B b) { ExpectGet(b, MQGMO_SYNCPOINT, 0), EndUnit(b, false); }},
      {"inquire the current depth", FillAll,
       [](B b) {
         MQLONG selector = MQIA_CURRENT_Q_DEPTH, depth = -1, cc, reason;
         LqmMQINQ(b->Hconn, b->Hobj, 1, &selector, 1, &depth, 0, nullptr, &cc, &reason);
         EXPECT_EQ(reason, 0);
         EXPECT_EQ(depth, static_cast<MQLONG>(b->Sent.size()));
       }},
  };
  return cases;
}

class StatementCostTest : public LqmTest {
 protected:
  // Runs one case on a fresh queue of `depth` messages; the cost of its
  // measured calls.
  Cost Run(const CostCase& c, int index, int depth) {
    Cost cost;
    Bench b;
    b.Queue = "COST." + std::to_string(index) + "." + std::to_string(depth);
    b.Depth = depth;
    DefineLocal("QM", b.Queue.c_str(), 100000);
    ConnectOpen(b.Queue, &b.Hconn, &b.Hobj);
    ConnectOpen(b.Queue, &b.Other, &b.OtherObj);
    c.Setup(&b);
    std::unique_lock<std::mutex> guard(LqmApiLock());
    LqmConnection* conn = LqmFindConnection(b.Hconn);
    EXPECT_NE(conn, nullptr);
    if (conn != nullptr) {
      sqlite3* db = conn->Main.Db;
      ResetCounters(db);
      sqlite3_trace_v2(db, SQLITE_TRACE_PROFILE, OnProfile, &cost);
      guard.unlock();  // the MQI calls take the lock themselves
      c.Measured(&b);
      guard.lock();
      sqlite3_trace_v2(db, 0, nullptr, nullptr);
    }
    guard.unlock();
    MQLONG cc, reason;
    LqmMQDISC(&b.Other, &cc, &reason);
    LqmMQDISC(&b.Hconn, &cc, &reason);
    return cost;
  }
};

TEST_F(StatementCostTest, EveryCallCostsTheSameAtAnyDepth) {
  CreateQmgr("QM");
  std::set<std::string> sql;
  int index = 0;
  for (const CostCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    Cost shallow = Run(c, index, kShallow);
    Cost deep = Run(c, index, kDeep);
    ++index;
    EXPECT_GT(shallow.Steps, 0) << "nothing was measured";
    EXPECT_LE(deep.Steps, shallow.Steps + kSlack)
        << "steps at depth " << kShallow << ": " << shallow.Steps << ", at depth " << kDeep << ": "
        << deep.Steps;
    EXPECT_EQ(deep.Sorts, 0);
    EXPECT_EQ(deep.FullScanSteps, 0);
    sql.insert(deep.Sql.begin(), deep.Sql.end());
  }
  // The plans themselves: nothing the calls ran scans the message table or
  // sorts (a sort reads every candidate row before the first comes out).
  sqlite3* db = nullptr;
  std::string path = root_ + "/QM/qm.db";
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  for (const std::string& s : sql) {
    if (s.rfind("BEGIN", 0) == 0 || s == "COMMIT" || s == "ROLLBACK") continue;
    sqlite3_stmt* plan = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + s).c_str(), -1, &plan, nullptr),
              SQLITE_OK)
        << s;
    while (sqlite3_step(plan) == SQLITE_ROW) {
      std::string detail = reinterpret_cast<const char*>(sqlite3_column_text(plan, 3));
      EXPECT_EQ(detail.find("TEMP B-TREE"), std::string::npos) << s << "\n  " << detail;
      // The message table appears as "messages" or under the alias "m".
      bool scansMessages = detail.rfind("SCAN messages", 0) == 0 || detail == "SCAN m" ||
                           detail.rfind("SCAN m ", 0) == 0;
      EXPECT_FALSE(scansMessages) << s << "\n  " << detail;
    }
    sqlite3_finalize(plan);
  }
  sqlite3_close(db);
  EXPECT_GT(sql.size(), 10u) << "too few statements seen for the plan check to mean anything";
}

}  // namespace
