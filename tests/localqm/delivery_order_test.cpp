// Delivery order and browse cursors as IBM MQ documents them: priority,
// then arrival within a priority; browse-next continues after the cursor
// (a message put later at the cursor's priority or below is seen, one put
// at a higher priority is behind the cursor and is not); a get under the
// cursor; rows of someone else's unit of work are skipped and come back in
// their place on backout.
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

}  // namespace
