// The two built libraries loaded into one process, as zeplo does with
// "-l mqm" on one side and "-l mqic" on the other: each keeps its own
// connections, and each one's calls stay inside it.
#include <dlfcn.h>

#include "tests/localqm/lqm_test_util.h"

namespace {

using LibrariesTest = LqmTest;

TEST_F(LibrariesTest, EachLibraryKeepsItsOwnConnections) {
  CreateQmgr("QM1");
  DefineLocal("QM1", "Q1");
  std::string dir = std::string(ZEPLO_BUILD_DIR) + "/mqinst/lib64/";
  void* mqic = dlopen((dir + "libmqic_r.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(mqic, nullptr) << dlerror();
  void* mqm = dlopen((dir + "libmqm_r.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(mqm, nullptr) << dlerror();
  ASSERT_NE(mqic, mqm);
  auto clientConnx = reinterpret_cast<PFN_MQCONNX>(dlsym(mqic, "MQCONNX"));
  auto clientPut1 = reinterpret_cast<PFN_MQPUT1>(dlsym(mqic, "MQPUT1"));
  auto clientDisc = reinterpret_cast<PFN_MQDISC>(dlsym(mqic, "MQDISC"));
  auto serverOpen = reinterpret_cast<PFN_MQOPEN>(dlsym(mqm, "MQOPEN"));
  ASSERT_TRUE(clientConnx && clientPut1 && clientDisc && serverOpen);
  // Every library exports exactly the MQI names asked of it, no more.
  for (const char* name : {"MQCONN", "MQCONNX", "MQDISC", "MQOPEN", "MQCLOSE", "MQGET", "MQPUT",
                           "MQPUT1", "MQINQ", "MQSET", "MQCMIT", "MQBACK"})
    EXPECT_NE(dlsym(mqic, name), nullptr) << name;
  EXPECT_EQ(dlsym(mqic, "LqmStoreOpen"), nullptr);
  EXPECT_EQ(dlsym(mqic, "_Z12LqmStoreOpenPKcP8LqmStore"), nullptr);

  MQCHAR48 name = "QM1";
  MQCNO cno = {MQCNO_DEFAULT};
  MQHCONN h;
  MQLONG cc, reason;
  clientConnx(name, &cno, &h, &cc, &reason);
  ASSERT_EQ(reason, 0);
  // The client library's handle means nothing to the server library...
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, "Q1");
  MQHOBJ o;
  serverOpen(h, &od, MQOO_OUTPUT, &o, &cc, &reason);
  EXPECT_EQ(reason, MQRC_HCONN_ERROR);
  // ...and the client's MQPUT1 opens through its own MQOPEN.
  MQMD md = {MQMD_DEFAULT};
  MQPMO pmo = {MQPMO_DEFAULT};
  clientPut1(h, &od, &md, &pmo, 2, const_cast<char*>("hi"), &cc, &reason);
  EXPECT_EQ(reason, 0);
  clientDisc(&h, &cc, &reason);
  EXPECT_EQ(reason, 0);
  EXPECT_EQ(Depth("QM1", "Q1"), 1);
  dlclose(mqic);
  dlclose(mqm);
}

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
