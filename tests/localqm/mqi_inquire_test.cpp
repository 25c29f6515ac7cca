// MQINQ on the queue manager, local and alias queues: selector order,
// array limits, attributes that do not apply.
#include "tests/localqm/lqm_test_util.h"

namespace {

class InquireTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QMI");
    EditQmgr("QMI", [](LqmQmgr* q) { q->CommandLevel = 915, q->Platform = 28, q->Ccsid = 819; });
    LqmQueue local;
    LqmQueueDefaults(&local, "LQ");
    local.MaxDepth = 42;
    local.MaxMsgLength = 1000;
    local.BackoutThreshold = 3;
    snprintf(local.BackoutQName, sizeof local.BackoutQName, "LQ.BACKOUT");
    DefineQueue("QMI", local);
    LqmQueue alias;
    LqmQueueDefaults(&alias, "AQ");
    alias.Type = MQQT_ALIAS;
    snprintf(alias.Target, sizeof alias.Target, "LQ");
    DefineQueue("QMI", alias);
    ASSERT_EQ(Connect("QMI", &h_), 0);
  }
  void TearDown() override {
    Disconnect(&h_);
    LqmTest::TearDown();
  }
  // Inquires with room for `ints` integers and `chars` characters.
  MQLONG Inq(MQHOBJ o, std::vector<MQLONG> selectors, std::vector<MQLONG>* ints, std::string* chars,
             MQLONG intRoom = 10, MQLONG charRoom = 200) {
    ints->assign(static_cast<size_t>(intRoom), -99);
    std::vector<char> buf(static_cast<size_t>(charRoom) + 8, '#');
    MQLONG cc, reason;
    MQINQ(h_, o, static_cast<MQLONG>(selectors.size()), selectors.data(), intRoom, ints->data(),
          charRoom, buf.data(), &cc, &reason);
    chars->assign(buf.data(), buf.size());
    return reason;
  }
  MQHCONN h_;
};

std::string Padded(const char* s, size_t n) {
  std::string out(s);
  out.resize(n, ' ');
  return out;
}

TEST_F(InquireTest, QueueManagerAttributes) {
  MQOD od = {MQOD_DEFAULT};
  od.ObjectType = MQOT_Q_MGR;
  MQHOBJ o;
  MQLONG cc, reason;
  MQOPEN(h_, &od, MQOO_INQUIRE, &o, &cc, &reason);
  ASSERT_EQ(reason, 0);
  std::vector<MQLONG> ints;
  std::string chars;
  ASSERT_EQ(Inq(o, {MQIA_PLATFORM, MQCA_Q_MGR_NAME, MQIA_COMMAND_LEVEL, MQIA_CODED_CHAR_SET_ID}, &ints,
                &chars),
            0);
  EXPECT_EQ(ints[0], 28);
  EXPECT_EQ(ints[1], 915);
  EXPECT_EQ(ints[2], 819);
  EXPECT_EQ(ints[3], -99);  // nothing written past the selectors' values
  EXPECT_EQ(chars.substr(0, 49), Padded("QMI", 48) + "#");
  Close(h_, &o);
}

TEST_F(InquireTest, QueueAttributesInSelectorOrder) {
  MQHOBJ o, writer;
  ASSERT_EQ(Open(h_, "LQ", MQOO_INQUIRE | MQOO_INPUT_SHARED, &o), 0);
  ASSERT_EQ(Open(h_, "LQ", MQOO_OUTPUT, &writer), 0);
  ASSERT_EQ(Put(h_, writer, "a"), 0);
  ASSERT_EQ(Put(h_, writer, "b", MQPMO_SYNCPOINT), 0);  // uncommitted still counts
  std::vector<MQLONG> ints;
  std::string chars;
  ASSERT_EQ(Inq(o,
                {MQIA_CURRENT_Q_DEPTH, MQCA_BACKOUT_REQ_Q_NAME, MQIA_MAX_Q_DEPTH, MQCA_Q_NAME,
                 MQIA_MAX_MSG_LENGTH, MQIA_BACKOUT_THRESHOLD, MQIA_Q_TYPE, MQIA_DEFINITION_TYPE,
                 MQIA_OPEN_INPUT_COUNT, MQIA_OPEN_OUTPUT_COUNT},
                &ints, &chars),
            0);
  std::vector<MQLONG> want = {2, 42, 1000, 3, MQQT_LOCAL, MQQDT_PREDEFINED, 1, 1};
  EXPECT_EQ(std::vector<MQLONG>(ints.begin(), ints.begin() + 8), want);
  EXPECT_EQ(chars.substr(0, 96), Padded("LQ.BACKOUT", 48) + Padded("LQ", 48));
  Close(h_, &o);
  Close(h_, &writer);
}

TEST_F(InquireTest, LimitsAndNotApplicable) {
  MQHOBJ local, alias, resolved, noinq;
  ASSERT_EQ(Open(h_, "LQ", MQOO_INQUIRE, &local), 0);
  ASSERT_EQ(Open(h_, "AQ", MQOO_INQUIRE, &alias), 0);
  ASSERT_EQ(Open(h_, "AQ", MQOO_INQUIRE | MQOO_RESOLVE_LOCAL_Q, &resolved), 0);
  ASSERT_EQ(Open(h_, "LQ", MQOO_OUTPUT, &noinq), 0);
  struct Case {
    const char* what;
    MQHOBJ* obj;
    std::vector<MQLONG> selectors;
    MQLONG intRoom, charRoom;
    MQLONG reason;
    MQLONG firstInt;  // expected ints[0] (-99: untouched)
  } cases[] = {
      {"alias has no depth", &alias, {MQIA_CURRENT_Q_DEPTH}, 1, 0, MQRC_SELECTOR_NOT_FOR_TYPE,
       MQIAV_NOT_APPLICABLE},
      {"resolved alias has", &resolved, {MQIA_MAX_Q_DEPTH}, 1, 0, 0, 42},
      {"alias type", &alias, {MQIA_Q_TYPE}, 1, 0, 0, MQQT_ALIAS},
      {"too few ints", &local, {MQIA_MAX_Q_DEPTH, MQIA_Q_TYPE}, 1, 0,
       MQRC_INT_ATTR_COUNT_TOO_SMALL, 42},
      {"too few chars", &local, {MQCA_Q_NAME}, 0, 10, MQRC_CHAR_ATTRS_TOO_SHORT, -99},
      {"unknown selector", &local, {4999}, 1, 0, MQRC_SELECTOR_ERROR, -99},
      {"qmgr selector on a queue", &local, {MQIA_COMMAND_LEVEL}, 1, 0, MQRC_SELECTOR_NOT_FOR_TYPE,
       MQIAV_NOT_APPLICABLE},
      {"negative count", &local, {}, -1, 0, MQRC_INT_ATTR_COUNT_ERROR, -99},
      {"not open for inquire", &noinq, {MQIA_Q_TYPE}, 1, 0, MQRC_NOT_OPEN_FOR_INQUIRE, -99},
  };
  for (Case& c : cases) {
    std::vector<MQLONG> ints(4, -99);
    std::vector<char> chars(64, '#');
    MQLONG cc, reason;
    MQINQ(h_, *c.obj, static_cast<MQLONG>(c.selectors.size()), c.selectors.data(), c.intRoom,
          ints.data(), c.charRoom, chars.data(), &cc, &reason);
    EXPECT_EQ(reason, c.reason) << c.what;
    EXPECT_EQ(ints[0], c.firstInt) << c.what;
    EXPECT_EQ(ints[1], -99) << c.what;
    if (c.charRoom > 0) {
      EXPECT_EQ(chars[static_cast<size_t>(c.charRoom)], '#') << c.what;
    }
  }
  MQLONG cc, reason, sel = MQIA_Q_TYPE;
  MQINQ(h_, local, 300, &sel, 0, nullptr, 0, nullptr, &cc, &reason);
  EXPECT_EQ(reason, MQRC_SELECTOR_COUNT_ERROR);
  Close(h_, &local);
  Close(h_, &alias);
  Close(h_, &resolved);
  Close(h_, &noinq);
}

}  // namespace
