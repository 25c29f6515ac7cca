// MQCONNX, MQDISC, MQOPEN and MQCLOSE through the built library.
#include "tests/localqm/lqm_test_util.h"

namespace {

class ConnectOpenTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QM1", true, 6);
    CreateQmgr("QM2");
    DefineLocal("QM1", "Q1");
    DefineLocal("QM2", "REMOTE.Q");
    LqmQueue alias;
    LqmQueueDefaults(&alias, "ALIAS.Q1");
    alias.Type = MQQT_ALIAS;
    snprintf(alias.Target, sizeof alias.Target, "Q1");
    DefineQueue("QM1", alias);
    LqmQueueDefaults(&alias, "ALIAS.BROKEN");
    alias.Type = MQQT_ALIAS;
    snprintf(alias.Target, sizeof alias.Target, "NOWHERE");
    DefineQueue("QM1", alias);
    LqmQueueDefaults(&alias, "ALIAS.TO.ALIAS");
    alias.Type = MQQT_ALIAS;
    snprintf(alias.Target, sizeof alias.Target, "ALIAS.Q1");
    DefineQueue("QM1", alias);
    LqmQueue secret;
    LqmQueueDefaults(&secret, "SECRET");
    secret.DenyInquire = true;
    DefineQueue("QM1", secret);
  }
};

MQLONG ConnectWith(const char* qmgr, MQLONG version, MQCSP* csp, MQHCONN* hconn) {
  MQCHAR48 name = {};
  memcpy(name, qmgr, strlen(qmgr));
  MQCNO cno = {MQCNO_DEFAULT};
  cno.Version = version;
  cno.SecurityParmsPtr = csp;
  MQLONG cc, reason;
  MQCONNX(name, &cno, hconn, &cc, &reason);
  return CheckCc(cc, reason);
}

TEST_F(ConnectOpenTest, ConnectResults) {
  EditQmgr("QM2", [](LqmQmgr* q) { q->Running = false; });
  struct Case {
    const char* qmgr;
    MQLONG version;
    MQLONG reason;
  } cases[] = {
      {"QM1", 1, 0},  {"", 5, 0},  // blank: the default queue manager
      {"QM1", 6, 0},  {"QM1", 7, MQRC_CNO_ERROR},  // above this qmgr's maximum
      {"QM1", 0, MQRC_CNO_ERROR},  {"QM1", 9, MQRC_CNO_ERROR},
      {"NOSUCH", 1, MQRC_Q_MGR_NAME_ERROR}, {"QM2", 1, MQRC_Q_MGR_NOT_AVAILABLE},
  };
  for (const Case& c : cases) {
    MQHCONN h = MQHC_UNUSABLE_HCONN;
    EXPECT_EQ(ConnectWith(c.qmgr, c.version, nullptr, &h), c.reason) << c.qmgr << " v" << c.version;
    if (c.reason == 0) {
      EXPECT_GT(h, 0);
      Disconnect(&h);
      EXPECT_EQ(h, MQHC_UNUSABLE_HCONN);
    } else {
      EXPECT_EQ(h, MQHC_UNUSABLE_HCONN);
    }
  }
  MQLONG cc, reason;
  MQCNO bad = {MQCNO_DEFAULT};
  memcpy(bad.StrucId, "XXX ", 4);
  MQHCONN h;
  MQCONNX(nullptr, &bad, &h, &cc, &reason);
  EXPECT_EQ(reason, MQRC_CNO_ERROR);
  MQCONNX(nullptr, nullptr, &h, &cc, &reason);
  EXPECT_EQ(reason, MQRC_CNO_ERROR);
  MQCNO twoWays = {MQCNO_DEFAULT};
  twoWays.Options = MQCNO_HANDLE_SHARE_BLOCK | MQCNO_HANDLE_SHARE_NO_BLOCK;
  MQCONNX(nullptr, &twoWays, &h, &cc, &reason);
  EXPECT_EQ(reason, MQRC_OPTIONS_ERROR);
  twoWays.Options = MQCNO_HANDLE_SHARE_BLOCK | MQCNO_CLIENT_BINDING;  // as zeplo asks
  MQCONNX(nullptr, &twoWays, &h, &cc, &reason);
  EXPECT_EQ(reason, 0);
  Disconnect(&h);
  MQHCONN stale = 12345;
  MQDISC(&stale, &cc, &reason);
  EXPECT_EQ(reason, MQRC_HCONN_ERROR);
}

TEST_F(ConnectOpenTest, PasswordsAreCheckedOnceUsersExist) {
  MQHCONN h;
  ASSERT_EQ(ConnectWith("QM1", 5, nullptr, &h), 0);  // no users yet
  Disconnect(&h);
  WithStore("QM1", [](LqmStore* s) { return LqmUserSet(s, "alice", "s3cret"); });
  struct Case {
    const char* user;
    const char* password;
    bool withCsp;
    MQLONG reason;
  } cases[] = {
      // A wrong password and none at all are refused in the program's runs.
      {"alice", "s3cret", true, 0},
      {"bob", "s3cret", true, MQRC_NOT_AUTHORIZED},
      {"alice", "", true, MQRC_NOT_AUTHORIZED},
  };
  for (const Case& c : cases) {
    MQCSP csp = {MQCSP_DEFAULT};
    csp.AuthenticationType = MQCSP_AUTH_USER_ID_AND_PWD;
    if (c.user != nullptr) {
      csp.CSPUserIdPtr = const_cast<char*>(c.user);
      csp.CSPUserIdLength = static_cast<MQLONG>(strlen(c.user));
      csp.CSPPasswordPtr = const_cast<char*>(c.password);
      csp.CSPPasswordLength = static_cast<MQLONG>(strlen(c.password));
    }
    EXPECT_EQ(ConnectWith("QM1", 5, c.withCsp ? &csp : nullptr, &h), c.reason)
        << (c.user ? c.user : "(none)");
    if (c.reason == 0) {
      // The authenticated user is the message's user identifier.
      MQHOBJ o;
      ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT | MQOO_INPUT_SHARED, &o), 0);
      ASSERT_EQ(Put(h, o, "x"), 0);
      MQMD md = {MQMD_DEFAULT};
      std::string data;
      ASSERT_EQ(Get(h, o, &data, MQGMO_NO_WAIT, &md), 0);
      EXPECT_EQ(std::string(md.UserIdentifier, 12), "alice       ");
      Close(h, &o);
      Disconnect(&h);
    }
  }
  // A bad MQCSP, and a length no MQCSP can have.
  MQCSP csp = {MQCSP_DEFAULT};
  memcpy(csp.StrucId, "CSX ", 4);
  EXPECT_EQ(ConnectWith("QM1", 5, &csp, &h), MQRC_CSP_ERROR);
  MQCSP big = {MQCSP_DEFAULT};
  big.AuthenticationType = MQCSP_AUTH_USER_ID_AND_PWD;
  big.CSPUserIdPtr = const_cast<char*>("alice");
  big.CSPUserIdLength = -5;
  EXPECT_EQ(ConnectWith("QM1", 5, &big, &h), MQRC_CSP_ERROR);
}

// The store holds salted hashes only; a store from before hashing has its
// clear passwords replaced at the next open, and they still work.
TEST_F(ConnectOpenTest, PasswordsAreKeptAsSaltedHashes) {
  const std::string db = root_ + "/QM1/qm.db";
  WithStore("QM1", [](LqmStore* s) { return LqmUserSet(s, "alice", "s3cret"); });
  WithStore("QM1", [](LqmStore* s) { return LqmUserSet(s, "bob", "s3cret"); });
  std::string alice = SqlValue(db, "SELECT hash FROM user_hashes WHERE name = 'alice'");
  EXPECT_EQ(std::string::npos, alice.find("s3cret")) << alice;
  EXPECT_NE(alice, SqlValue(db, "SELECT hash FROM user_hashes WHERE name = 'bob'"));  // salted
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(db.c_str(), &raw));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(raw, "INSERT INTO users VALUES('carol', 'old')", 0, 0, 0));
  sqlite3_close(raw);
  for (const char* password : {"wrong", "old"}) {
    MQCSP csp = {MQCSP_DEFAULT};
    csp.AuthenticationType = MQCSP_AUTH_USER_ID_AND_PWD;
    csp.CSPUserIdPtr = const_cast<char*>("carol");
    csp.CSPUserIdLength = 5;
    csp.CSPPasswordPtr = const_cast<char*>(password);
    csp.CSPPasswordLength = static_cast<MQLONG>(strlen(password));
    MQHCONN h;
    EXPECT_EQ(ConnectWith("QM1", 5, &csp, &h), password[0] == 'o' ? 0 : MQRC_NOT_AUTHORIZED);
    if (password[0] == 'o') Disconnect(&h);
  }
  EXPECT_EQ("<none>", SqlValue(db, "SELECT password FROM users WHERE password IS NOT NULL"));
}

TEST_F(ConnectOpenTest, StructuresGivenByOffset) {
  WithStore("QM1", [](LqmStore* s) { return LqmUserSet(s, "carol", "pw"); });
  // One block: MQCNO, then (deliberately unaligned) an MQCSP, then its
  // strings, all found by offsets as a caller in another language might.
  std::vector<char> block(sizeof(MQCNO) + 1 + sizeof(MQCSP) + 16, 0);
  MQCNO cno = {MQCNO_DEFAULT};
  cno.Version = 5;
  cno.SecurityParmsOffset = sizeof(MQCNO) + 1;
  MQCSP csp = {MQCSP_DEFAULT};
  csp.AuthenticationType = MQCSP_AUTH_USER_ID_AND_PWD;
  csp.CSPUserIdOffset = sizeof(MQCSP);
  csp.CSPUserIdLength = 5;
  csp.CSPPasswordOffset = sizeof(MQCSP) + 8;
  csp.CSPPasswordLength = 2;
  memcpy(block.data(), &cno, sizeof cno);
  char* cspAt = block.data() + cno.SecurityParmsOffset;
  memcpy(cspAt, &csp, sizeof csp);
  memcpy(cspAt + sizeof(MQCSP), "carol", 5);
  memcpy(cspAt + sizeof(MQCSP) + 8, "pw", 2);
  alignas(8) char name[48] = "QM1";
  MQHCONN h;
  MQLONG cc, reason;
  MQCONNX(name, reinterpret_cast<MQCNO*>(block.data()), &h, &cc, &reason);
  ASSERT_EQ(reason, 0);
  // A distribution list whose records follow the MQOD, found by offset,
  // with the response records unaligned.
  std::vector<char> od(sizeof(MQOD) + 2 * sizeof(MQOR) + 1 + 2 * sizeof(MQRR), 0);
  MQOD head = {MQOD_DEFAULT};
  head.Version = MQOD_VERSION_2;
  head.RecsPresent = 2;
  head.ObjectRecOffset = sizeof(MQOD);
  head.ResponseRecOffset = sizeof(MQOD) + 2 * sizeof(MQOR) + 1;
  memcpy(od.data(), &head, sizeof head);
  MQOR ors[2] = {};
  SetMqField(ors[0].ObjectName, "Q1");
  SetMqField(ors[1].ObjectName, "NOSUCH");
  memcpy(od.data() + sizeof(MQOD), ors, sizeof ors);
  MQHOBJ o;
  MQOPEN(h, od.data(), MQOO_OUTPUT, &o, &cc, &reason);
  EXPECT_EQ(reason, MQRC_MULTIPLE_REASONS);
  MQRR rr[2];
  memcpy(rr, od.data() + head.ResponseRecOffset, sizeof rr);
  EXPECT_EQ(rr[0].Reason, 0);
  EXPECT_EQ(rr[1].Reason, MQRC_UNKNOWN_OBJECT_NAME);
  EXPECT_EQ(rr[1].CompCode, MQCC_FAILED);
  Close(h, &o);
  Disconnect(&h);
}

TEST_F(ConnectOpenTest, OpenResults) {
  MQHCONN h;
  ASSERT_EQ(Connect("QM1", &h), 0);
  struct Case {
    const char* name;
    const char* qmgr;
    MQLONG options;
    MQLONG reason;
  } cases[] = {
      {"Q1", "", MQOO_INPUT_AS_Q_DEF, 0},
      {"Q1", "QM1", MQOO_OUTPUT | MQOO_INQUIRE | MQOO_BROWSE | MQOO_SET, 0},
      {"ALIAS.Q1", "", MQOO_INPUT_SHARED, 0},
      {"ALIAS.BROKEN", "", MQOO_OUTPUT, MQRC_UNKNOWN_ALIAS_BASE_Q},
      {"ALIAS.TO.ALIAS", "", MQOO_OUTPUT, MQRC_ALIAS_BASE_Q_TYPE_ERROR},
      {"NOSUCH", "", MQOO_OUTPUT, MQRC_UNKNOWN_OBJECT_NAME},
      {"", "", MQOO_OUTPUT, MQRC_UNKNOWN_OBJECT_NAME},
      {"Q1", "", 0, MQRC_OPTIONS_ERROR},
      {"Q1", "", MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE, MQRC_OPTIONS_ERROR},
      {"Q1", "", MQOO_INPUT_SHARED | MQOO_SET_ALL_CONTEXT, MQRC_OPTIONS_ERROR},
      {"Q1", "", MQOO_OUTPUT | MQOO_SAVE_ALL_CONTEXT, MQRC_OPTIONS_ERROR},
      {"Q1", "", MQOO_OUTPUT | 0x40000000, MQRC_OPTIONS_ERROR},
      {"SECRET", "", MQOO_OUTPUT, 0},
      {"SECRET", "", MQOO_OUTPUT | MQOO_INQUIRE, MQRC_NOT_AUTHORIZED},
      {"REMOTE.Q", "QM2", MQOO_OUTPUT, 0},
      {"REMOTE.Q", "QM2", MQOO_INPUT_SHARED, MQRC_OPTION_NOT_VALID_FOR_TYPE},
      {"NOSUCH", "QM2", MQOO_OUTPUT, MQRC_UNKNOWN_OBJECT_NAME},
      {"REMOTE.Q", "QM9", MQOO_OUTPUT, MQRC_UNKNOWN_REMOTE_Q_MGR},
  };
  for (const Case& c : cases) {
    MQHOBJ o = MQHO_UNUSABLE_HOBJ;
    EXPECT_EQ(Open(h, c.name, c.options, &o, c.qmgr), c.reason) << c.name << "@" << c.qmgr;
    if (c.reason == 0) Close(h, &o);
  }
  MQOD od = {MQOD_DEFAULT};
  od.ObjectType = MQOT_Q_MGR;
  MQHOBJ o;
  MQLONG cc, reason;
  MQOPEN(h, &od, MQOO_INQUIRE, &o, &cc, &reason);
  EXPECT_EQ(reason, 0);
  Close(h, &o);
  MQOPEN(h, &od, MQOO_OUTPUT, &o, &cc, &reason);
  EXPECT_EQ(reason, MQRC_OPTION_NOT_VALID_FOR_TYPE);
  od.ObjectType = 99;
  MQOPEN(h, &od, MQOO_OUTPUT, &o, &cc, &reason);
  EXPECT_EQ(reason, MQRC_OBJECT_TYPE_ERROR);
  MQOPEN(h, nullptr, MQOO_OUTPUT, &o, &cc, &reason);
  EXPECT_EQ(reason, MQRC_OD_ERROR);
  MQOPEN(h + 100, &od, MQOO_OUTPUT, &o, &cc, &reason);
  EXPECT_EQ(reason, MQRC_HCONN_ERROR);
  MQHOBJ bogus = 77;
  MQCLOSE(h, &bogus, MQCO_NONE, &cc, &reason);
  EXPECT_EQ(reason, MQRC_HOBJ_ERROR);
  Disconnect(&h);
}

TEST_F(ConnectOpenTest, ResolvedNamesInVersionThreeDescriptors) {
  MQHCONN h;
  ASSERT_EQ(Connect("QM1", &h), 0);
  struct Case {
    MQLONG version;
    const char* resolved;  // expected ResolvedQName; null: untouched
  } cases[] = {{MQOD_VERSION_1, nullptr}, {MQOD_VERSION_2, nullptr}, {MQOD_VERSION_3, "Q1"},
               {MQOD_VERSION_4, "Q1"}};
  for (const Case& c : cases) {
    MQOD od = {MQOD_DEFAULT};
    od.Version = c.version;
    SetMqField(od.ObjectName, "ALIAS.Q1");
    memset(od.ResolvedQName, '#', 48);
    MQHOBJ o;
    MQLONG cc, reason;
    MQOPEN(h, &od, MQOO_OUTPUT, &o, &cc, &reason);
    ASSERT_EQ(reason, 0);
    if (c.resolved == nullptr) {
      EXPECT_EQ(std::string(od.ResolvedQName, 48), std::string(48, '#'));
    } else {
      char name[49];
      LqmNameFromField(od.ResolvedQName, 48, name);
      EXPECT_STREQ(name, c.resolved);
      LqmNameFromField(od.ResolvedQMgrName, 48, name);
      EXPECT_STREQ(name, "QM1");
    }
    Close(h, &o);
  }
  Disconnect(&h);
}

TEST_F(ConnectOpenTest, ExclusiveInputHoldsAcrossConnections) {
  MQHCONN a, b;
  ASSERT_EQ(Connect("QM1", &a), 0);
  ASSERT_EQ(Connect("QM1", &b), 0);
  struct Case {
    MQLONG first, second, reason;
  } cases[] = {
      {MQOO_INPUT_SHARED, MQOO_INPUT_SHARED, 0},
      {MQOO_INPUT_SHARED, MQOO_INPUT_EXCLUSIVE, MQRC_OBJECT_IN_USE},
      {MQOO_INPUT_EXCLUSIVE, MQOO_INPUT_SHARED, MQRC_OBJECT_IN_USE},
      {MQOO_INPUT_EXCLUSIVE, MQOO_OUTPUT | MQOO_BROWSE, 0},
      {MQOO_INPUT_EXCLUSIVE, MQOO_INPUT_AS_Q_DEF, MQRC_OBJECT_IN_USE},
  };
  for (const Case& c : cases) {
    MQHOBJ o1, o2 = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Open(a, "Q1", c.first, &o1), 0);
    EXPECT_EQ(Open(b, "Q1", c.second, &o2), c.reason);
    if (c.reason == 0) Close(b, &o2);
    Close(a, &o1);
    // Once closed, the queue is free again.
    ASSERT_EQ(Open(b, "Q1", MQOO_INPUT_EXCLUSIVE, &o2), 0);
    Close(b, &o2);
  }
  Disconnect(&a);
  Disconnect(&b);
}

TEST_F(ConnectOpenTest, TemporaryDynamicQueuesComeAndGo) {
  MQHCONN h, other;
  ASSERT_EQ(Connect("QM1", &h), 0);
  ASSERT_EQ(Connect("QM1", &other), 0);
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, "SYSTEM.DEFAULT.MODEL.QUEUE");
  SetMqField(od.DynamicQName, "REPLY.*");
  MQHOBJ o;
  MQLONG cc, reason;
  MQOPEN(h, &od, MQOO_INPUT_AS_Q_DEF | MQOO_OUTPUT, &o, &cc, &reason);
  ASSERT_EQ(reason, 0);
  char name[49];
  LqmNameFromField(od.ObjectName, 48, name);
  EXPECT_EQ(strncmp(name, "REPLY.", 6), 0) << name;
  EXPECT_GT(strlen(name), 6u);
  ASSERT_EQ(Put(h, o, "reply"), 0);
  // Another connection can put to it, but not read it: the model's
  // default input is exclusive and h holds it.
  MQHOBJ po, io;
  ASSERT_EQ(Open(other, name, MQOO_OUTPUT, &po), 0);
  EXPECT_EQ(Open(other, name, MQOO_INPUT_AS_Q_DEF, &io), MQRC_OBJECT_IN_USE);
  Close(h, &o);
  EXPECT_EQ(Put(other, po, "late"), MQRC_Q_DELETED);
  Close(other, &po);
  EXPECT_EQ(Open(other, name, MQOO_OUTPUT, &po), MQRC_UNKNOWN_OBJECT_NAME);
  // A fixed name that exists already is refused; a connection's queues go
  // with it, whatever state the messages on them are in.
  SetMqField(od.ObjectName, "SYSTEM.DEFAULT.MODEL.QUEUE");
  SetMqField(od.DynamicQName, "Q1");
  MQOPEN(h, &od, MQOO_OUTPUT, &o, &cc, &reason);
  EXPECT_EQ(reason, MQRC_OBJECT_ALREADY_EXISTS);
  SetMqField(od.ObjectName, "SYSTEM.DEFAULT.MODEL.QUEUE");
  SetMqField(od.DynamicQName, "MINE");
  MQOPEN(h, &od, MQOO_INPUT_EXCLUSIVE | MQOO_OUTPUT, &o, &cc, &reason);
  ASSERT_EQ(reason, 0);
  for (const char* t : {"a", "b"}) ASSERT_EQ(Put(h, o, t), 0);
  ASSERT_EQ(Put(h, o, "pending", MQPMO_SYNCPOINT), 0);
  std::string data;
  ASSERT_EQ(Get(h, o, &data, MQGMO_SYNCPOINT), 0);
  const std::string db = root_ + "/QM1/qm.db";
  const char* rows = "SELECT count(*) FROM messages WHERE queue = 'MINE'";
  EXPECT_EQ(SqlCount(db, rows), 3);
  Disconnect(&h);
  EXPECT_EQ(SqlCount(db, rows), 0);
  EXPECT_EQ(Open(other, "MINE", MQOO_OUTPUT, &po), MQRC_UNKNOWN_OBJECT_NAME);
  Disconnect(&other);
}

TEST_F(ConnectOpenTest, UnitsOfWorkReachOtherQueueManagers) {
  MQHCONN h;
  MQHOBJ remote, local;
  ASSERT_EQ(Connect("QM1", &h), 0);
  ASSERT_EQ(Open(h, "REMOTE.Q", MQOO_OUTPUT, &remote, "QM2"), 0);
  ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT, &local), 0);
  struct Step {
    bool commit;
    MQLONG remoteDepth, localDepth;
  } steps[] = {{false, 0, 0}, {true, 1, 1}};
  for (const Step& s : steps) {
    ASSERT_EQ(Put(h, remote, "far", MQPMO_SYNCPOINT), 0);
    ASSERT_EQ(Put(h, local, "near", MQPMO_SYNCPOINT), 0);
    // Pending on both queue managers, visible on neither.
    MQHCONN reader;
    MQHOBJ ro;
    ASSERT_EQ(Connect("QM2", &reader), 0);
    ASSERT_EQ(Open(reader, "REMOTE.Q", MQOO_BROWSE, &ro), 0);
    std::string data;
    EXPECT_EQ(Get(reader, ro, &data, MQGMO_BROWSE_FIRST), MQRC_NO_MSG_AVAILABLE);
    EXPECT_EQ(EndUnit(h, s.commit), 0);
    EXPECT_EQ(Get(reader, ro, &data, MQGMO_BROWSE_FIRST), s.remoteDepth == 0 ? MQRC_NO_MSG_AVAILABLE : 0);
    Disconnect(&reader);
    EXPECT_EQ(Depth("QM2", "REMOTE.Q"), s.remoteDepth);
    EXPECT_EQ(Depth("QM1", "Q1"), s.localDepth);
  }
  Disconnect(&h);
}

TEST_F(ConnectOpenTest, DistributionListsReportEachDestination) {
  DefineLocal("QM1", "Q2");
  MQHCONN h;
  ASSERT_EQ(Connect("QM1", &h), 0);
  struct Case {
    std::vector<std::pair<const char*, const char*>> dests;
    MQLONG cc, reason;
    std::vector<MQLONG> perDest;
  } cases[] = {
      {{{"Q1", ""}, {"Q2", ""}, {"REMOTE.Q", "QM2"}}, MQCC_OK, 0, {0, 0, 0}},
      {{{"Q1", ""}, {"NOSUCH", ""}}, MQCC_WARNING, MQRC_MULTIPLE_REASONS,
       {0, MQRC_UNKNOWN_OBJECT_NAME}},
      {{{"NOSUCH", ""}, {"NOSUCH2", ""}}, MQCC_FAILED, MQRC_UNKNOWN_OBJECT_NAME,
       {MQRC_UNKNOWN_OBJECT_NAME, MQRC_UNKNOWN_OBJECT_NAME}},
      {{{"NOSUCH", ""}, {"Q1", "QM9"}}, MQCC_FAILED, MQRC_MULTIPLE_REASONS,
       {MQRC_UNKNOWN_OBJECT_NAME, MQRC_UNKNOWN_REMOTE_Q_MGR}},
  };
  for (const Case& c : cases) {
    std::vector<MQOR> ors(c.dests.size());
    std::vector<MQRR> rrs(c.dests.size(), MQRR{-7, -7});
    for (size_t i = 0; i < c.dests.size(); ++i) {
      memset(&ors[i], 0, sizeof ors[i]);
      SetMqField(ors[i].ObjectName, c.dests[i].first);
      SetMqField(ors[i].ObjectQMgrName, c.dests[i].second);
    }
    MQOD od = {MQOD_DEFAULT};
    od.Version = MQOD_VERSION_2;
    od.RecsPresent = static_cast<MQLONG>(ors.size());
    od.ObjectRecPtr = ors.data();
    od.ResponseRecPtr = rrs.data();
    MQHOBJ o;
    MQLONG cc, reason;
    MQOPEN(h, &od, MQOO_OUTPUT, &o, &cc, &reason);
    EXPECT_EQ(cc, c.cc);
    EXPECT_EQ(reason, c.reason);
    for (size_t i = 0; i < rrs.size(); ++i) EXPECT_EQ(rrs[i].Reason, c.perDest[i]) << i;
    if (cc == MQCC_FAILED) continue;
    // A put reaches every destination that opened, with one MsgId.
    MQMD md = {MQMD_DEFAULT};
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Version = MQPMO_VERSION_2;
    pmo.RecsPresent = od.RecsPresent;
    pmo.ResponseRecPtr = rrs.data();
    char text[] = "to many";
    MQPUT(h, o, &md, &pmo, 7, text, &cc, &reason);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(pmo.KnownDestCount + pmo.UnknownDestCount,
              static_cast<MQLONG>(std::count(c.perDest.begin(), c.perDest.end(), 0)));
    Close(h, &o);
  }
  EXPECT_EQ(Depth("QM1", "Q1"), 2);
  EXPECT_EQ(Depth("QM1", "Q2"), 1);
  EXPECT_EQ(Depth("QM2", "REMOTE.Q"), 1);
  Disconnect(&h);
}

}  // namespace
