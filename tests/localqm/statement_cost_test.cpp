// What one MQI call costs inside the store must not grow with the depth of
// the queue. Each case runs on a shallow and on a deep queue, through the
// MQI procedures of this process (so the store's own cached statements are
// the ones measured), and counts the virtual-machine steps of every
// statement the measured calls ran. A seek costs the same number of steps
// at any depth; a scan costs a step per row passed, so a plan that degrades
// to a scan shows up as thousands of extra steps. No timing is involved.
#include <sqlite3.h>

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

// How a queue is filled: priority 5 and a new MsgId, no CorrelId or
// GroupId, except as the shape says for the last message or for all.
enum Shape { kPlain, kLastLower, kLastCorrel, kLastInGroup, kOneCorrel, kExpiredFront };

// Message `want` of a case: from the start when >= 0, from the end when
// negative (-1 the last), or these.
constexpr int kAny = -10000, kHalf = -10001;

struct CostCase {
  const char* Name;
  Shape Fill;
  char Call;                 // 'g' MQGET, 'p' MQPUT, 'i' MQINQ of the depth
  MQLONG Options;            // of the get or put
  int Want = kAny;           // the message the get brings
  int BrowseLeft = 0;        // browse first until this many messages are left
  char End = 0;              // then 'c' MQCMIT or 'b' MQBACK
  MQLONG Match = MQMO_NONE;  // of the get, and of the browse before it
  char With = 0;             // match the 'f'irst or 'l'ast message, or 'x' one never put
  bool OtherHalf = false;    // another unit of work holds the first half
  MQLONG Reason = 0;
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

// Stores `depth` messages "m<n>" in one transaction, shaped by `shape`.
void Fill(Bench* b, int depth, Shape shape, MQLONG expiryTenths = -1) {
  LqmStore s{};
  ASSERT_EQ(LqmStoreOpen("QM", &s), 0);
  ASSERT_EQ(LqmTxnBegin(&s), 0);
  for (int i = 0; i < depth; ++i) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    md.Priority = 5;
    LqmNewId(s.Name, md.MsgId);
    bool last = i == depth - 1;
    if (shape == kLastLower) md.Priority = last ? 2 : 7;
    if (shape == kExpiredFront) md.Priority = 9;
    if (shape == kLastCorrel) memset(md.CorrelId, last ? 'Z' : 'A', 24);
    if (shape == kLastInGroup || shape == kOneCorrel) memset(md.CorrelId, 'C', 24);
    if (shape == kLastInGroup && last) memset(md.GroupId, 'G', 24);
    std::string text = "m" + std::to_string(b->Sent.size());
    ASSERT_EQ(0, LqmMsgInsert(&s, b->Queue.c_str(), &md, text.data(), text.size(), expiryTenths,
                              false));
    b->Sent.push_back(md);
  }
  ASSERT_EQ(LqmTxnEnd(&s, 0), 0);
  LqmStoreClose(&s);
}

// The descriptor that case `c`'s gets match against, or null.
const MQMD* MatchMd(const CostCase& c, const Bench& b) {
  static const MQMD absent = [] {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    memset(md.MsgId, 'x', 24);
    return md;
  }();
  if (c.With == 'f' || c.With == 'l') return c.With == 'f' ? &b.Sent.front() : &b.Sent.back();
  return c.With == 'x' ? &absent : nullptr;
}

// Fills the queue and positions the cursors and the other unit of work.
void Prepare(const CostCase& c, Bench* b) {
  if (c.Fill == kExpiredFront) Fill(b, 3, kExpiredFront, 1);
  Fill(b, b->Depth, c.Fill == kExpiredFront ? kPlain : c.Fill);
  if (c.Fill == kExpiredFront) LqmTest::AgeMessages("QM", 1000);
  for (int i = 0; c.BrowseLeft > 0 && i < b->Depth - c.BrowseLeft; ++i)
    ASSERT_EQ(0, CallGet(b->Hconn, b->Hobj, i == 0 ? MQGMO_BROWSE_FIRST : MQGMO_BROWSE_NEXT,
                         c.Match, MatchMd(c, *b)))
        << "browse " << i;
  for (int i = 0; c.OtherHalf && i < b->Depth / 2; ++i)
    ASSERT_EQ(0, CallGet(b->Other, b->OtherObj, MQGMO_SYNCPOINT));
}

// The calls whose cost is counted, and what they must bring.
void Measure(const CostCase& c, Bench* b) {
  MQLONG cc, reason = 0;
  if (c.Call == 'g') {
    std::string data;
    EXPECT_EQ(c.Reason, CallGet(b->Hconn, b->Hobj, c.Options, c.Match, MatchMd(c, *b), &data));
    int want = c.Want == kHalf ? b->Depth / 2 : c.Want < 0 ? b->Depth + c.Want : c.Want;
    if (c.Want != kAny) {
      EXPECT_EQ("m" + std::to_string(want), data);
    }
  } else if (c.Call == 'p') {
    MQMD md = {MQMD_DEFAULT};
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = c.Options;
    char byte = 'p';
    LqmMQPUT(b->Hconn, b->Hobj, &md, &pmo, 1, &byte, &cc, &reason);
  } else {
    MQLONG selector = MQIA_CURRENT_Q_DEPTH, depth = -1;
    LqmMQINQ(b->Hconn, b->Hobj, 1, &selector, 1, &depth, 0, nullptr, &cc, &reason);
    EXPECT_EQ(static_cast<MQLONG>(b->Sent.size()), depth);
  }
  EXPECT_EQ(0, reason);
  if (c.End == 'c') LqmMQCMIT(b->Hconn, &cc, &reason);
  if (c.End == 'b') LqmMQBACK(b->Hconn, &cc, &reason);
  EXPECT_EQ(0, reason);
}

const CostCase kCases[] = {
    {"browse first", kPlain, 'g', MQGMO_BROWSE_FIRST, 0},
    {"browse next deep within one priority", kPlain, 'g', MQGMO_BROWSE_NEXT, -3, 3},
    {"browse next from the end of one priority into the next", kLastLower, 'g', MQGMO_BROWSE_NEXT,
     -1, 1},
    {"get under a deep browse cursor", kPlain, 'g', MQGMO_MSG_UNDER_CURSOR, -3, 2},
    {"get behind half the queue held by another unit of work", kPlain, 'g', MQGMO_NO_SYNCPOINT,
     kHalf, 0, 0, MQMO_NONE, 0, true},
    {"get matching the MsgId of the last message", kPlain, 'g', MQGMO_NO_SYNCPOINT, -1, 0, 0,
     MQMO_MATCH_MSG_ID, 'l'},
    {"get matching a CorrelId only the last message has", kLastCorrel, 'g', MQGMO_NO_SYNCPOINT, -1,
     0, 0, MQMO_MATCH_CORREL_ID, 'l'},
    {"get matching a GroupId and CorrelId behind many of that CorrelId", kLastInGroup, 'g',
     MQGMO_NO_SYNCPOINT, -1, 0, 0, MQMO_MATCH_GROUP_ID | MQMO_MATCH_CORREL_ID, 'l'},
    {"browse next deep among messages sharing a CorrelId", kOneCorrel, 'g', MQGMO_BROWSE_NEXT, -3,
     3, 0, MQMO_MATCH_CORREL_ID, 'f'},
    {"get that finds no matching MsgId", kPlain, 'g', MQGMO_NO_SYNCPOINT, kAny, 0, 0,
     MQMO_MATCH_MSG_ID, 'x', false, MQRC_NO_MSG_AVAILABLE},
    {"get past expired messages at the front", kExpiredFront, 'g', MQGMO_NO_SYNCPOINT, 3},
    {"put", kPlain, 'p', MQPMO_NO_SYNCPOINT},
    {"put under syncpoint and commit", kPlain, 'p', MQPMO_SYNCPOINT, kAny, 0, 'c'},
    {"get under syncpoint and commit", kPlain, 'g', MQGMO_SYNCPOINT, 0, 0, 'c'},
    {"get under syncpoint and back out", kPlain, 'g', MQGMO_SYNCPOINT, 0, 0, 'b'},
    {"inquire the current depth", kPlain, 'i', 0},
};

// Runs one case on a fresh queue of `depth` messages; the cost of its
// measured calls.
Cost RunCase(const CostCase& c, int index, int depth) {
  Cost cost;
  Bench b;
  b.Queue = "COST." + std::to_string(index) + "." + std::to_string(depth);
  b.Depth = depth;
  LqmTest::DefineLocal("QM", b.Queue.c_str(), 100000);
  ConnectOpen(b.Queue, &b.Hconn, &b.Hobj);
  ConnectOpen(b.Queue, &b.Other, &b.OtherObj);
  Prepare(c, &b);
  std::unique_lock<std::mutex> guard(LqmApiLock());
  LqmConnection* conn = LqmFindConnection(b.Hconn);
  EXPECT_NE(conn, nullptr);
  if (conn != nullptr) {
    sqlite3* db = conn->Main.Db;
    ResetCounters(db);
    sqlite3_trace_v2(db, SQLITE_TRACE_PROFILE, OnProfile, &cost);
    guard.unlock();  // the MQI calls take the lock themselves
    Measure(c, &b);
    guard.lock();
    sqlite3_trace_v2(db, 0, nullptr, nullptr);
  }
  guard.unlock();
  MQLONG cc, reason;
  LqmMQDISC(&b.Other, &cc, &reason);
  LqmMQDISC(&b.Hconn, &cc, &reason);
  return cost;
}

using StatementCostTest = LqmTest;

TEST_F(StatementCostTest, EveryCallCostsTheSameAtAnyDepth) {
  CreateQmgr("QM");
  std::set<std::string> sql;
  int index = 0;
  for (const CostCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    Cost shallow = RunCase(c, index, kShallow);
    Cost deep = RunCase(c, index, kDeep);
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
