// Delivery order and browse cursors as IBM MQ documents them: priority,
// then arrival within a priority; browse-next continues after the cursor
// (a message put later at the cursor's priority or below is seen, one put
// at a higher priority is behind the cursor and is not); rows of someone
// else's unit of work are skipped and come back in their place on backout.
// Also: a store made before the current indexes is brought up to date.
#include <sqlite3.h>

#include "tests/localqm/lqm_test_util.h"

namespace {

class DeliveryOrderTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QM1");
    DefineLocal("QM1", "Q1");
    ASSERT_EQ(Connect("QM1", &h_), 0);
    ASSERT_EQ(Connect("QM1", &other_), 0);
    ASSERT_EQ(Open(h_, "Q1", MQOO_BROWSE | MQOO_INPUT_SHARED | MQOO_OUTPUT, &q_), 0);
    ASSERT_EQ(Open(other_, "Q1", MQOO_INPUT_SHARED | MQOO_OUTPUT, &o_), 0);
  }
  void TearDown() override {
    Disconnect(&other_);
    Disconnect(&h_);
    LqmTest::TearDown();
  }

  MQHCONN h_ = 0, other_ = 0;
  MQHOBJ q_ = 0, o_ = 0;
};

enum Action {
  kPut,        // h_ puts `text` at `priority`
  kBrowse,     // h_ browses with `options`
  kGet,        // h_ gets with `options` (MQGMO_MSG_UNDER_CURSOR, say)
  kOtherGet,   // the other connection gets the first message, no syncpoint
  kOtherSync,  // ... under syncpoint
  kOtherBack,  // the other connection backs out
};

struct Step {
  Action action;
  MQLONG value;      // priority for kPut, options for kBrowse and kGet
  const char* text;  // put: the data; otherwise the data expected ("" with a reason)
  MQLONG reason;
};

void RunSteps(MQHCONN h, MQHOBJ q, MQHCONN other, MQHOBJ o, const std::vector<Step>& steps) {
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(i++));
    std::string data;
    MQLONG reason = 0;
    switch (s.action) {
      case kPut:
        reason = Put(h, q, s.text, MQPMO_NO_SYNCPOINT, nullptr, s.value);
        break;
      case kBrowse:
      case kGet:
        reason = Get(h, q, &data, s.value);
        break;
      case kOtherGet:
        reason = Get(other, o, &data, MQGMO_NO_SYNCPOINT);
        break;
      case kOtherSync:
        reason = Get(other, o, &data, MQGMO_SYNCPOINT);
        break;
      case kOtherBack:
        reason = EndUnit(other, false);
        break;
    }
    EXPECT_EQ(reason, s.reason);
    if (s.action != kPut && s.action != kOtherBack) {
      EXPECT_EQ(data, s.text);
    }
  }
}

constexpr MQLONG kFirst = MQGMO_BROWSE_FIRST;
constexpr MQLONG kNext = MQGMO_BROWSE_NEXT;
constexpr MQLONG kUnder = MQGMO_MSG_UNDER_CURSOR;

TEST_F(DeliveryOrderTest, BrowseNextFollowsTheCursorThroughPriorities) {
  RunSteps(h_, q_, other_, o_,
           {
               {kPut, 5, "a5", 0},
               {kPut, 5, "b5", 0},
               {kPut, 2, "c2", 0},
               {kPut, 7, "d7", 0},
               {kBrowse, kFirst, "d7", 0},
               {kBrowse, kNext, "a5", 0},
               // Later at the cursor's priority: ahead of the cursor, seen
               // after the ones already there.
               {kPut, 5, "e5", 0},
               // Higher than the cursor's priority: behind it, never seen
               // by browse-next.
               {kPut, 9, "f9", 0},
               // Lower: ahead, in its place among the lower priorities.
               {kPut, 2, "g2", 0},
               {kPut, 0, "h0", 0},
               {kBrowse, kNext, "b5", 0},
               {kBrowse, kNext, "e5", 0},
               {kBrowse, kNext, "c2", 0},
               {kBrowse, kNext, "g2", 0},
               {kBrowse, kNext, "h0", 0},
               {kBrowse, kNext, "", MQRC_NO_MSG_AVAILABLE},
               {kBrowse, kFirst, "f9", 0},
           });
}

TEST_F(DeliveryOrderTest, GetUnderTheCursorAndAFailedBrowseFirst) {
  constexpr MQLONG kBrowseUnder = MQGMO_BROWSE_MSG_UNDER_CURSOR;
  RunSteps(h_, q_, other_, o_,
           {
               {kPut, 0, "a", 0},
               {kPut, 0, "b", 0},
               {kPut, 0, "c", 0},
               {kBrowse, kBrowseUnder, "", MQRC_NO_MSG_UNDER_CURSOR},
               {kBrowse, kNext, "a", 0},  // no cursor yet: from the start
               {kBrowse, kNext, "b", 0},
               {kGet, kUnder, "b", 0},
               {kBrowse, kBrowseUnder, "", MQRC_NO_MSG_UNDER_CURSOR},
               {kBrowse, kNext, "c", 0},
               {kOtherGet, 0, "a", 0},
               {kOtherGet, 0, "c", 0},  // takes the one under h_'s cursor
               {kGet, kUnder, "", MQRC_NO_MSG_UNDER_CURSOR},
               {kBrowse, kNext, "", MQRC_NO_MSG_AVAILABLE},
               {kBrowse, kFirst, "", MQRC_NO_MSG_AVAILABLE},
               // The failed browse-first still moved the cursor to the
               // front: a message of higher priority than the last one
               // browsed is found by browse-next.
               {kPut, 9, "urgent", 0},
               {kBrowse, kNext, "urgent", 0},
               {kBrowse, kNext, "", MQRC_NO_MSG_AVAILABLE},
           });
}

TEST_F(DeliveryOrderTest, TheNewestMessageGoneLeavesNoCursorForItsSuccessor) {
  // The cursor stands on the newest message, someone takes it, and a new
  // one arrives at the same priority: it is ahead of the cursor, and it is
  // not the message under the cursor (identifiers are never reused).
  RunSteps(h_, q_, other_, o_,
           {
               {kPut, 5, "a", 0},
               {kPut, 5, "b", 0},
               {kBrowse, kFirst, "a", 0},
               {kBrowse, kNext, "b", 0},
               {kOtherGet, 0, "a", 0},
               {kOtherGet, 0, "b", 0},
               {kPut, 5, "c", 0},
               {kGet, kUnder, "", MQRC_NO_MSG_UNDER_CURSOR},
               {kBrowse, kNext, "c", 0},
               {kGet, kUnder, "c", 0},
               {kBrowse, kNext, "", MQRC_NO_MSG_AVAILABLE},
           });
}

TEST_F(DeliveryOrderTest, AnotherUnitOfWorkIsSkippedAndBackedOutInPlace) {
  RunSteps(h_, q_, other_, o_,
           {
               {kPut, 4, "a", 0},
               {kPut, 4, "b", 0},
               {kPut, 4, "c", 0},
               {kPut, 1, "d", 0},
               {kOtherSync, 0, "a", 0},
               {kOtherSync, 0, "b", 0},
               {kBrowse, kFirst, "c", 0},
               {kBrowse, kNext, "d", 0},
               {kOtherBack, 0, "", 0},
               // Backed out, they are in front again, before the cursor.
               {kBrowse, kNext, "", MQRC_NO_MSG_AVAILABLE},
               {kBrowse, kFirst, "a", 0},
               {kBrowse, kNext, "b", 0},
               {kOtherSync, 0, "a", 0},
               // Held by the other unit of work: gone from under the cursor
               // for everyone else.
               {kBrowse, kFirst, "b", 0},
               {kOtherGet, 0, "b", 0},
               {kGet, kUnder, "", MQRC_NO_MSG_UNDER_CURSOR},
               {kBrowse, kNext, "c", 0},
           });
}

TEST_F(DeliveryOrderTest, MatchingBrowseKeepsDeliveryOrderAmongTheMatches) {
  // (priority, correlation id, group id) of each message, put in order.
  struct Msg {
    MQLONG priority;
    char correl, group;
  } msgs[] = {{5, 'A', 'x'}, {5, 'B', 'x'}, {5, 'A', 'y'}, {2, 'A', 'x'},
              {7, 'B', 'y'}, {7, 'A', 0},   {0, 'A', 'x'}};
  std::vector<MQMD> sent;
  for (size_t i = 0; i < sizeof msgs / sizeof msgs[0]; ++i) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    md.Priority = msgs[i].priority;
    memset(md.CorrelId, msgs[i].correl, 24);
    if (msgs[i].group != 0) memset(md.GroupId, msgs[i].group, 24);
    ASSERT_EQ(PutMd(h_, q_, &md, std::string(1, static_cast<char>('0' + i))), 0);
    sent.push_back(md);
  }
  // Delivery order of all seven is 4 5 0 1 2 3 6.
  struct Expect {
    char correl, group;  // 0: not matched on
    int msgIdOf;         // the MsgId of that message is matched on; -1: none
    std::string order;   // message numbers in the order browsing finds them
  } expects[] = {
      {'A', 0, -1, "50236"}, {'B', 0, -1, "41"},    {0, 'x', -1, "0136"}, {0, 'y', -1, "42"},
      {'A', 'x', -1, "036"}, {'B', 'x', -1, "1"},   {'A', 'y', -1, "2"},  {'C', 0, -1, ""},
      {0, 'z', -1, ""},      {0, 0, -1, "4501236"}, {0, 0, 2, "2"},       {'A', 'x', 3, "3"},
      {'B', 0, 3, ""},       {0, 'y', 5, ""},
  };
  for (const Expect& e : expects) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    MQLONG match = MQMO_NONE;
    if (e.msgIdOf >= 0) {
      memcpy(md.MsgId, sent[e.msgIdOf].MsgId, 24);
      match |= MQMO_MATCH_MSG_ID;
    }
    if (e.correl != 0) {
      memset(md.CorrelId, e.correl, 24);
      match |= MQMO_MATCH_CORREL_ID;
    }
    if (e.group != 0) {
      memset(md.GroupId, e.group, 24);
      match |= MQMO_MATCH_GROUP_ID;
    }
    std::string order;
    for (MQLONG options = MQGMO_BROWSE_FIRST;; options = MQGMO_BROWSE_NEXT) {
      MQMD request = md;
      MQGMO gmo = {MQGMO_DEFAULT};
      gmo.Version = MQGMO_VERSION_2;
      gmo.Options = options;
      gmo.MatchOptions = match;
      char c = 0;
      MQLONG length = 0, cc, reason;
      MQGET(h_, q_, &request, &gmo, 1, &c, &length, &cc, &reason);
      if (reason != 0) {
        EXPECT_EQ(reason, MQRC_NO_MSG_AVAILABLE);
        break;
      }
      order += c;
      if (order.size() > 10) break;
    }
    EXPECT_EQ(order, e.order) << "correl " << (e.correl ? e.correl : '-') << " group "
                              << (e.group ? e.group : '-') << " msgid of " << e.msgIdOf;
  }
}

// Names of the indexes on the message table.
std::string MessageIndexes(const std::string& path) {
  return SqlValue(path,
                  "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master WHERE"
                  " type = 'index' AND tbl_name = 'messages' AND sql IS NOT NULL ORDER BY name)");
}

TEST_F(LqmTest, AnOlderStoreIsBroughtUpToDateWhenOpened) {
  CreateQmgr("OLD");
  DefineLocal("OLD", "Q");
  std::string path = root_ + "/OLD/qm.db";
  std::string current = MessageIndexes(path);
  // messages_bytes is the command server's (queue file sizes).
  EXPECT_EQ(current, "messages_bytes messages_committed messages_correlid messages_groupid"
                     " messages_msgid messages_uow");
  // Make it look as the first stores did: one index in delivery order, and
  // none identifiers stored as 24 zero bytes rather than NULL.
  WithStore("OLD", [](LqmStore* s) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    for (int i = 0; i < 3; ++i) {
      LqmNewId(s->Name, md.MsgId);
      memset(md.CorrelId, i == 1 ? 'K' : 0, 24);
      char c = static_cast<char>('0' + i);
      int rc = LqmMsgInsert(s, "Q", &md, &c, 1, -1, false);
      if (rc != 0) return rc;
    }
    return 0;
  });
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "DROP INDEX messages_committed; DROP INDEX messages_msgid;"
                         " DROP INDEX messages_correlid; DROP INDEX messages_groupid;"
                         " CREATE INDEX messages_order ON messages(queue, rank, id);"
                         " UPDATE messages SET correlid = zeroblob(24) WHERE correlid IS NULL;"
                         " UPDATE messages SET groupid = zeroblob(24) WHERE groupid IS NULL;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(MessageIndexes(path), "messages_bytes messages_order messages_uow");

  MQHCONN h;
  MQHOBJ q;
  ASSERT_EQ(Connect("OLD", &h), 0);
  EXPECT_EQ(MessageIndexes(path), current);
  ASSERT_EQ(Open(h, "Q", MQOO_INPUT_SHARED, &q), 0);
  // The zero identifiers of the old rows still never match a real one.
  MQMD md = {MQMD_DEFAULT};
  md.Version = MQMD_VERSION_2;
  memset(md.CorrelId, 'K', 24);
  MQGMO gmo = {MQGMO_DEFAULT};
  gmo.Version = MQGMO_VERSION_2;
  gmo.MatchOptions = MQMO_MATCH_CORREL_ID;
  char c = 0;
  MQLONG length, cc, reason;
  MQGET(h, q, &md, &gmo, 1, &c, &length, &cc, &reason);
  EXPECT_EQ(reason, 0);
  EXPECT_EQ(c, '1');
  std::string data;
  EXPECT_EQ(Get(h, q, &data), 0);
  EXPECT_EQ(data, "0");
  EXPECT_EQ(Get(h, q, &data), 0);
  EXPECT_EQ(data, "2");
  EXPECT_EQ(Get(h, q, &data), MQRC_NO_MSG_AVAILABLE);
  Close(h, &q);
  Disconnect(&h);
}

// Rows of a queue in every state, counted straight from the table.
long RowsOf(const std::string& path, const std::string& queue) {
  return SqlCount(path, "SELECT count(*) FROM messages WHERE queue = '" + queue + "'");
}

TEST_F(DeliveryOrderTest, ADeletedQueueLeavesNoRowsInAnyState) {
  // Committed rows, puts and gets of open units of work, of two
  // connections, on the queue deleted and on one that stays.
  DefineLocal("QM1", "Q2");
  MQHOBJ q2;
  ASSERT_EQ(Open(h_, "Q2", MQOO_OUTPUT, &q2), 0);
  for (const char* t : {"a", "b", "c", "d"}) ASSERT_EQ(Put(h_, q_, t), 0);
  ASSERT_EQ(Put(h_, q2, "keep"), 0);
  ASSERT_EQ(Put(h_, q2, "keep too", MQPMO_SYNCPOINT), 0);
  ASSERT_EQ(Put(h_, q_, "pending put", MQPMO_SYNCPOINT), 0);
  std::string data;
  ASSERT_EQ(Get(other_, o_, &data, MQGMO_SYNCPOINT), 0);
  ASSERT_EQ(Get(h_, q_, &data, MQGMO_SYNCPOINT), 0);
  std::string path = root_ + "/QM1/qm.db";
  EXPECT_EQ(RowsOf(path, "Q1"), 5);
  EXPECT_EQ(RowsOf(path, "Q2"), 2);
  LqmStore s{};
  ASSERT_EQ(LqmStoreOpen("QM1", &s), 0);
  ASSERT_EQ(LqmTxnBegin(&s), 0);
  EXPECT_EQ(LqmQueueDelete(&s, "Q1", false), MQRC_Q_NOT_EMPTY);
  EXPECT_EQ(LqmTxnEnd(&s, LqmQueueDelete(&s, "Q1", true)), 0);
  LqmStoreClose(&s);
  EXPECT_EQ(RowsOf(path, "Q1"), 0);
  EXPECT_EQ(RowsOf(path, "Q2"), 2);
  Close(h_, &q2);
}

}  // namespace
