// What the MQI tests of localqm share beyond lqm_test_util.h: a connected
// queue manager to start from, and MQPUT1.
#ifndef TESTS_LOCALQM_MQI_TEST_UTIL_H_
#define TESTS_LOCALQM_MQI_TEST_UTIL_H_

#include "tests/localqm/lqm_test_util.h"

// MQPUT1 of `data` to `queue` under `md` (an MQMD or MQMD1); the reason.
inline MQLONG Put1(MQHCONN h, const char* queue, void* md, const std::string& data) {
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, queue);
  MQPMO pmo = {MQPMO_DEFAULT};
  MQLONG cc, reason;
  MQPUT1(h, &od, md, &pmo, static_cast<MQLONG>(data.size()), const_cast<char*>(data.data()), &cc,
         &reason);
  return CheckCc(cc, reason);
}

// QM1, the default queue manager, with local queues Q1 (at most `maxDepth`
// messages of at most `maxLength` bytes, 0: the default) and Q2; h_ is
// connected to it, with q1_ open on Q1 for `options`. h_ is disconnected
// at the end unless the test did so.
class MqiTest : public LqmTest {
 protected:
  void Start(MQLONG options, MQLONG maxDepth = 5000, MQLONG maxLength = 0) {
    CreateQmgr("QM1", true);
    LqmQueue q;
    LqmQueueDefaults(&q, "Q1");
    q.MaxDepth = maxDepth;
    if (maxLength != 0) q.MaxMsgLength = maxLength;
    DefineQueue("QM1", q);
    DefineLocal("QM1", "Q2");
    ASSERT_EQ(0, Connect("QM1", &h_));
    ASSERT_EQ(0, Open(h_, "Q1", options, &q1_));
  }
  void TearDown() override {
    if (h_ != MQHC_UNUSABLE_HCONN) Disconnect(&h_);
    LqmTest::TearDown();
  }
  MQHCONN h_ = MQHC_UNUSABLE_HCONN;
  MQHOBJ q1_ = MQHO_UNUSABLE_HOBJ;
};

#endif  // TESTS_LOCALQM_MQI_TEST_UTIL_H_
