// MQINQ on the queue manager, local and alias queues: selector order,
// array limits, attributes that do not apply.
#include "tests/localqm/lqm_test_util.h"

namespace {

using InquireTest = LqmTest;

// Each row's integers and characters come back in selector order; past
// them, and past the room given, nothing is written.
TEST_F(InquireTest, AttributesLimitsAndNotApplicable) {
  CreateQmgr("QMI");
  EditQmgr("QMI", [](LqmQmgr* q) { q->CommandLevel = 915, q->Platform = 28, q->Ccsid = 819; });
  LqmQueue q;
  LqmQueueDefaults(&q, "LQ");
  q.MaxDepth = 42, q.MaxMsgLength = 1000, q.BackoutThreshold = 3;
  snprintf(q.BackoutQName, sizeof q.BackoutQName, "LQ.BACKOUT");
  DefineQueue("QMI", q);
  LqmQueueDefaults(&q, "AQ");
  q.Type = MQQT_ALIAS;
  snprintf(q.Target, sizeof q.Target, "LQ");
  DefineQueue("QMI", q);
  MQHCONN h;
  MQHOBJ qmgr, local, alias, resolved, output;
  ASSERT_EQ(0, Connect("QMI", &h));
  MQOD od = {MQOD_DEFAULT};
  od.ObjectType = MQOT_Q_MGR;
  MQLONG cc, reason;
  MQOPEN(h, &od, MQOO_INQUIRE, &qmgr, &cc, &reason);
  ASSERT_EQ(0, reason);
  ASSERT_EQ(0, Open(h, "LQ", MQOO_INQUIRE | MQOO_INPUT_SHARED, &local));
  ASSERT_EQ(0, Open(h, "AQ", MQOO_INQUIRE, &alias));
  ASSERT_EQ(0, Open(h, "AQ", MQOO_INQUIRE | MQOO_RESOLVE_LOCAL_Q, &resolved));
  ASSERT_EQ(0, Open(h, "LQ", MQOO_OUTPUT, &output));
  ASSERT_EQ(0, Put(h, output, "a"));
  ASSERT_EQ(0, Put(h, output, "b", MQPMO_SYNCPOINT));  // uncommitted still counts
  auto padded = [](std::string s, size_t n) { return s.resize(n, ' '), s; };
  const MQLONG NA = MQIAV_NOT_APPLICABLE, NOT_FOR_TYPE = MQRC_SELECTOR_NOT_FOR_TYPE;
  struct Case { const char* what; MQHOBJ* obj; std::vector<MQLONG> selectors;
      MQLONG intRoom, charRoom, reason; std::vector<MQLONG> ints; std::string chars; } cases[] = {
      {"qmgr", &qmgr,
       {MQIA_PLATFORM, MQCA_Q_MGR_NAME, MQIA_COMMAND_LEVEL, MQIA_CODED_CHAR_SET_ID}, 10, 200, 0,
       {28, 915, 819}, padded("QMI", 48)},
      {"local", &local,
       {MQIA_CURRENT_Q_DEPTH, MQCA_BACKOUT_REQ_Q_NAME, MQIA_MAX_Q_DEPTH, MQCA_Q_NAME,
        MQIA_MAX_MSG_LENGTH, MQIA_BACKOUT_THRESHOLD, MQIA_Q_TYPE, MQIA_DEFINITION_TYPE,
        MQIA_OPEN_INPUT_COUNT, MQIA_OPEN_OUTPUT_COUNT}, 10, 200, 0,
       {2, 42, 1000, 3, MQQT_LOCAL, MQQDT_PREDEFINED, 1, 1},
       padded("LQ.BACKOUT", 48) + padded("LQ", 48)},
      {"alias has no depth", &alias, {MQIA_CURRENT_Q_DEPTH}, 1, 0, NOT_FOR_TYPE, {NA}, ""},
      {"resolved alias has", &resolved, {MQIA_MAX_Q_DEPTH}, 1, 0, 0, {42}, ""},
      {"alias type", &alias, {MQIA_Q_TYPE}, 1, 0, 0, {MQQT_ALIAS}, ""},
      {"too few ints", &local, {MQIA_MAX_Q_DEPTH, MQIA_Q_TYPE}, 1, 0,
       MQRC_INT_ATTR_COUNT_TOO_SMALL, {42}, ""},
      {"too few chars", &local, {MQCA_Q_NAME}, 0, 10, MQRC_CHAR_ATTRS_TOO_SHORT, {}, "LQ        "},
      {"unknown selector", &local, {4999}, 1, 0, MQRC_SELECTOR_ERROR, {}, ""},
      {"qmgr selector on a queue", &local, {MQIA_COMMAND_LEVEL}, 1, 0, NOT_FOR_TYPE, {NA}, ""},
      {"negative count", &local, {}, -1, 0, MQRC_INT_ATTR_COUNT_ERROR, {}, ""},
      {"not open for inquire", &output, {MQIA_Q_TYPE}, 1, 0, MQRC_NOT_OPEN_FOR_INQUIRE, {}, ""},
      {"too many selectors", &local, std::vector<MQLONG>(300, MQIA_Q_TYPE), 0, 0,
       MQRC_SELECTOR_COUNT_ERROR, {}, ""},
  };
  for (Case& c : cases) {
    std::vector<MQLONG> ints(12, -99);
    std::string chars(256, '#');
    MQINQ(h, *c.obj, static_cast<MQLONG>(c.selectors.size()), c.selectors.data(), c.intRoom,
          ints.data(), c.charRoom, chars.data(), &cc, &reason);
    EXPECT_EQ(c.reason, reason) << c.what;
    c.ints.push_back(-99);
    EXPECT_EQ(c.ints, std::vector<MQLONG>(ints.begin(), ints.begin() + c.ints.size())) << c.what;
    EXPECT_EQ(c.chars + "#", chars.substr(0, c.chars.size() + 1)) << c.what;
  }
  for (MQHOBJ* o : {&qmgr, &local, &alias, &resolved, &output}) Close(h, o);
  Disconnect(&h);
}

}  // namespace
