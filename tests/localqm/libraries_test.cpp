// The two built libraries loaded into one process, as zeplo does with
// "-l mqm" on one side and "-l mqic" on the other: each keeps its own
// connections, and each one's calls stay inside it.
#include <dlfcn.h>

#include "tests/localqm/lqm_test_util.h"

namespace {

using LibrariesTest = LqmTest;

TEST_F(LibrariesTest, DistributionListPutMessageRecords) {
  CreateQmgr("QM1");
  DefineLocal("QM1", "QA");
  DefineLocal("QM1", "QB");
  MQHCONN h;
  ASSERT_EQ(Connect("QM1", &h), 0);
  MQOR ors[2] = {};
  SetMqField(ors[0].ObjectName, "QA");
  SetMqField(ors[1].ObjectName, "QB");
  MQOD od = {MQOD_DEFAULT};
  od.Version = MQOD_VERSION_2;
  od.RecsPresent = 2;
  od.ObjectRecPtr = ors;
  // Per destination: a CorrelId and a Feedback, packed as the fields say.
  struct Rec {
    MQBYTE CorrelId[24];
    MQLONG Feedback;
  } recs[2];
  static_assert(sizeof(Rec) == 28, "records are packed field after field");
  memset(recs[0].CorrelId, 'A', 24);
  recs[0].Feedback = 11;
  memset(recs[1].CorrelId, 'B', 24);
  recs[1].Feedback = 22;
  MQRR rrs[2];
  MQMD md = {MQMD_DEFAULT};
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Version = MQPMO_VERSION_2;
  pmo.RecsPresent = 2;
  pmo.PutMsgRecFields = MQPMRF_CORREL_ID | MQPMRF_FEEDBACK;
  pmo.PutMsgRecPtr = recs;
  pmo.ResponseRecPtr = rrs;
  MQLONG cc, reason;
  MQPUT1(h, &od, &md, &pmo, 1, const_cast<char*>("d"), &cc, &reason);
  ASSERT_EQ(reason, 0);
  EXPECT_EQ(pmo.KnownDestCount, 2);
  const char* queues[] = {"QA", "QB"};
  for (int i = 0; i < 2; ++i) {
    MQHOBJ o;
    ASSERT_EQ(Open(h, queues[i], MQOO_INPUT_SHARED, &o), 0);
    MQMD got = {MQMD_DEFAULT};
    std::string data;
    ASSERT_EQ(Get(h, o, &data, MQGMO_NO_WAIT, &got), 0);
    EXPECT_EQ(got.CorrelId[0], i == 0 ? 'A' : 'B');
    EXPECT_EQ(got.Feedback, i == 0 ? 11 : 22);
    EXPECT_EQ(memcmp(got.MsgId, md.MsgId, 24), 0) << "one MsgId for the list";
    Close(h, &o);
  }
  // Record fields that do not exist, and a count that does not match.
  pmo.PutMsgRecFields = 0x100;
  MQPUT1(h, &od, &md, &pmo, 1, const_cast<char*>("d"), &cc, &reason);
  EXPECT_EQ(reason, MQRC_PMO_RECORD_FLAGS_ERROR);
  pmo.PutMsgRecFields = MQPMRF_FEEDBACK;
  pmo.RecsPresent = 3;
  MQPUT1(h, &od, &md, &pmo, 1, const_cast<char*>("d"), &cc, &reason);
  EXPECT_EQ(reason, MQRC_RECS_PRESENT_ERROR);
  Disconnect(&h);
}

}  // namespace
