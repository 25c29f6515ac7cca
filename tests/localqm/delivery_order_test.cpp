// Delivery order and browse cursors as IBM MQ documents them: priority,
// then arrival within a priority; browse-next continues after the cursor
// (a message put later at the cursor's priority or below is seen, one put
// at a higher priority is behind the cursor and is not); a get under the
// cursor; rows of someone else's unit of work are skipped and come back in
// their place on backout.
#include "tests/localqm/mqi_test_util.h"

namespace {

enum Action {
  kPut,        // h_ puts `text` at priority `value`
  kBrowse,     // h_ browses, or gets, with options `value`
  kOtherGet,   // the other connection gets the first message, no syncpoint
  kOtherSync,  // ... under syncpoint
  kOtherBack,  // the other connection backs out
};

// Past a put: the data expected ("" with a reason).
struct Step { Action action; MQLONG value; const char* text; MQLONG reason = 0; };

class DeliveryOrderTest : public MqiTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    Start(MQOO_BROWSE | MQOO_INPUT_SHARED | MQOO_OUTPUT);
    ASSERT_EQ(Connect("QM1", &other_), 0);
    ASSERT_EQ(Open(other_, "Q1", MQOO_INPUT_SHARED | MQOO_OUTPUT, &o_), 0);
  }
  void TearDown() override {
    Disconnect(&other_);
    MqiTest::TearDown();
  }
  void Run(const std::vector<Step>& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step& s = steps[i];
      std::string data;
      MQLONG reason = 0;
      if (s.action == kPut) reason = Put(h_, q1_, s.text, MQPMO_NO_SYNCPOINT, nullptr, s.value);
      if (s.action == kBrowse) reason = Get(h_, q1_, &data, s.value);
      if (s.action == kOtherGet) reason = Get(other_, o_, &data, MQGMO_NO_SYNCPOINT);
      if (s.action == kOtherSync) reason = Get(other_, o_, &data, MQGMO_SYNCPOINT);
      if (s.action == kOtherBack) reason = EndUnit(other_, false);
      EXPECT_EQ(s.reason, reason) << "step " << i;
      if (s.action != kPut && s.action != kOtherBack) { EXPECT_EQ(s.text, data) << "step " << i; }
    }
  }
  MQHCONN other_ = 0;
  MQHOBJ o_ = 0;
};

constexpr MQLONG kFirst = MQGMO_BROWSE_FIRST, kNext = MQGMO_BROWSE_NEXT;
constexpr MQLONG kUnder = MQGMO_MSG_UNDER_CURSOR, kBrowseUnder = MQGMO_BROWSE_MSG_UNDER_CURSOR;
constexpr MQLONG kNone = MQRC_NO_MSG_AVAILABLE, kNoCursor = MQRC_NO_MSG_UNDER_CURSOR;

TEST_F(DeliveryOrderTest, BrowseNextFollowsTheCursorThroughPriorities) {
  Run({{kPut, 5, "a5"}, {kPut, 5, "b5"}, {kPut, 2, "c2"}, {kPut, 7, "d7"},
       {kBrowse, kFirst, "d7"}, {kBrowse, kNext, "a5"},
       // Later at the cursor's priority: ahead of the cursor, seen after
       // the ones already there. Higher: behind it, never seen by
       // browse-next. Lower: ahead, in its place among the lower ones.
       {kPut, 5, "e5"}, {kPut, 9, "f9"}, {kPut, 2, "g2"}, {kPut, 0, "h0"},
       {kBrowse, kNext, "b5"}, {kBrowse, kNext, "e5"}, {kBrowse, kNext, "c2"},
       {kBrowse, kNext, "g2"}, {kBrowse, kNext, "h0"}, {kBrowse, kNext, "", kNone},
       {kBrowse, kFirst, "f9"}});
}

TEST_F(DeliveryOrderTest, GetUnderTheCursorAndAFailedBrowseFirst) {
  Run({{kPut, 0, "a"}, {kPut, 0, "b"}, {kPut, 0, "c"}, {kBrowse, kBrowseUnder, "", kNoCursor},
       {kBrowse, kNext, "a"},  // no cursor yet: from the start
       {kBrowse, kNext, "b"}, {kBrowse, kUnder, "b"}, {kBrowse, kBrowseUnder, "", kNoCursor},
       {kBrowse, kNext, "c"}, {kOtherGet, 0, "a"},
       {kOtherGet, 0, "c"},  // takes the one under h_'s cursor
       {kBrowse, kUnder, "", kNoCursor}, {kBrowse, kNext, "", kNone},
       {kBrowse, kFirst, "", kNone},
       // The failed browse-first still moved the cursor to the front: a
       // message of higher priority than the last one browsed is found by
       // browse-next.
       {kPut, 9, "urgent"}, {kBrowse, kNext, "urgent"}, {kBrowse, kNext, "", kNone}});
}

TEST_F(DeliveryOrderTest, AnotherUnitOfWorkIsSkippedAndBackedOutInPlace) {
  Run({{kPut, 4, "a"}, {kPut, 4, "b"}, {kPut, 4, "c"}, {kPut, 1, "d"}, {kOtherSync, 0, "a"},
       {kOtherSync, 0, "b"}, {kBrowse, kFirst, "c"}, {kBrowse, kNext, "d"}, {kOtherBack, 0, ""},
       // Backed out, they are in front again, before the cursor.
       {kBrowse, kNext, "", kNone}, {kBrowse, kFirst, "a"}, {kBrowse, kNext, "b"},
       // Held by the other unit of work: gone from under the cursor for
       // everyone else.
       {kOtherSync, 0, "a"}, {kBrowse, kFirst, "b"}, {kOtherGet, 0, "b"},
       {kBrowse, kUnder, "", kNoCursor}, {kBrowse, kNext, "c"}});
}

}  // namespace
