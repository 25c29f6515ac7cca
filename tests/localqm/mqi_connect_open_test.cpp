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
    // An empty target: SECRET, a local queue that refuses inquiries.
    const char* queues[][2] = {{"ALIAS.Q1", "Q1"}, {"ALIAS.BROKEN", "NOWHERE"},
                               {"ALIAS.TO.ALIAS", "ALIAS.Q1"}, {"SECRET", ""}};
    for (auto& [name, target] : queues) {
      LqmQueue q;
      LqmQueueDefaults(&q, name);
      q.Type = *target ? MQQT_ALIAS : MQQT_LOCAL;
      q.DenyInquire = !*target;
      snprintf(q.Target, sizeof q.Target, "%s", target);
      DefineQueue("QM1", q);
    }
    ASSERT_EQ(0, Connect("QM1", &h_));
    ASSERT_EQ(0, Connect("QM1", &other_));
  }
  void TearDown() override {
    for (MQHCONN* h : {&h_, &other_})
      if (*h != MQHC_UNUSABLE_HCONN) Disconnect(h);
    LqmTest::TearDown();
  }
  MQHCONN h_ = MQHC_UNUSABLE_HCONN, other_ = MQHC_UNUSABLE_HCONN;
};

// MQCONNX with `qmgr` (null: no name at all) and `cno` as given.
MQLONG Conn(const char* qmgr, MQCNO* cno, MQHCONN* h) {
  MQCHAR48 name = {};
  if (qmgr != nullptr) memcpy(name, qmgr, strlen(qmgr));
  MQLONG cc, reason;
  MQCONNX(qmgr != nullptr ? name : nullptr, cno, h, &cc, &reason);
  return CheckCc(cc, reason);
}

MQLONG OpenOd(MQHCONN h, void* od, MQLONG options, MQHOBJ* o) {
  MQLONG cc, reason;
  MQOPEN(h, od, options, o, &cc, &reason);
  return CheckCc(cc, reason);
}

MQCSP* CspOf(MQCNO* cno) { return static_cast<MQCSP*>(cno->SecurityParmsPtr); }

// Every row connects; rows with a user do so once users exist, and their
// user becomes the user identifier of the messages they put. The store
// keeps salted hashes only, and turns the clear passwords of an older
// store (carol's) into hashes at the next open, where they still work.
TEST_F(ConnectOpenTest, ConnectResults) {
  EditQmgr("QM2", [](LqmQmgr* q) { q->Running = false; });
  struct Case { const char *name, *qmgr = "QM1"; MQLONG version = 5, reason = 0;
      void (*edit)(MQCNO*) = nullptr; const char *user = nullptr, *password = "s3cret";
      bool byOffset = false; } cases[] = {
      {.name = "v1", .version = 1},
      {.name = "blank is the default; no users yet", .qmgr = ""},
      {.name = "v6", .version = 6},
      {.name = "above this qmgr's maximum", .version = 7, .reason = MQRC_CNO_ERROR},
      {.name = "v0", .version = 0, .reason = MQRC_CNO_ERROR},
      {.name = "v9", .version = 9, .reason = MQRC_CNO_ERROR},
      {.name = "no such qmgr", .qmgr = "NOSUCH", .version = 1, .reason = MQRC_Q_MGR_NAME_ERROR},
      {.name = "stopped", .qmgr = "QM2", .version = 1, .reason = MQRC_Q_MGR_NOT_AVAILABLE},
      {.name = "bad StrucId", .qmgr = nullptr, .version = 1, .reason = MQRC_CNO_ERROR,
       .edit = [](MQCNO* c) { memcpy(c->StrucId, "XXX ", 4); }},
      {.name = "both ways to share", .qmgr = nullptr, .version = 1, .reason = MQRC_OPTIONS_ERROR,
       .edit = [](MQCNO* c) {
         c->Options = MQCNO_HANDLE_SHARE_BLOCK | MQCNO_HANDLE_SHARE_NO_BLOCK;
       }},
      {.name = "as zeplo asks", .qmgr = nullptr, .version = 1,
       .edit = [](MQCNO* c) { c->Options = MQCNO_HANDLE_SHARE_BLOCK | MQCNO_CLIENT_BINDING; }},
      {.name = "alice", .user = "alice"},
      {.name = "no such user", .reason = MQRC_NOT_AUTHORIZED, .user = "bob2"},
      {.name = "no password", .reason = MQRC_NOT_AUTHORIZED, .user = "alice", .password = ""},
      {.name = "old, wrong", .reason = MQRC_NOT_AUTHORIZED, .user = "carol", .password = "wrong"},
      {.name = "old, right", .user = "carol", .password = "old"},
      {.name = "bad MQCSP", .reason = MQRC_CSP_ERROR,
       .edit = [](MQCNO* c) { memcpy(CspOf(c)->StrucId, "CSX ", 4); }, .user = "alice"},
      {.name = "length no MQCSP can have", .reason = MQRC_CSP_ERROR,
       .edit = [](MQCNO* c) { CspOf(c)->CSPUserIdLength = -5; }, .user = "alice"},
      {.name = "by offsets, unaligned", .user = "carol", .password = "old", .byOffset = true},
  };
  const std::string db = root_ + "/QM1/qm.db";
  bool users = false;
  for (const Case& c : cases) {
    if (c.user != nullptr && !users) {
      users = true;
      WithStore("QM1", [](LqmStore* s) {
        return LqmUserSet(s, "alice", "s3cret") | LqmUserSet(s, "bob", "s3cret") |
               sqlite3_exec(s->Db, "INSERT INTO users VALUES('carol', 'old')", 0, 0, 0);
      });
      std::string alice = SqlValue(db, "SELECT hash FROM user_hashes WHERE name = 'alice'");
      EXPECT_EQ(std::string::npos, alice.find("s3cret")) << alice;
      EXPECT_NE(alice, SqlValue(db, "SELECT hash FROM user_hashes WHERE name = 'bob'"));  // salted
    }
    MQCNO cno = {MQCNO_DEFAULT};
    MQCSP csp = {MQCSP_DEFAULT};
    cno.Version = c.version;
    if (c.user != nullptr) {
      csp.AuthenticationType = MQCSP_AUTH_USER_ID_AND_PWD;
      csp.CSPUserIdPtr = const_cast<char*>(c.user);
      csp.CSPUserIdLength = static_cast<MQLONG>(strlen(c.user));
      csp.CSPPasswordPtr = const_cast<char*>(c.password);
      csp.CSPPasswordLength = static_cast<MQLONG>(strlen(c.password));
      cno.SecurityParmsPtr = &csp;
    }
    if (c.edit != nullptr) c.edit(&cno);
    // By offset: the MQCSP (deliberately unaligned) and its strings follow
    // the MQCNO, as a caller in another language might lay them out.
    std::vector<char> block(sizeof(MQCNO) + 1 + sizeof(MQCSP) + 32, 0);
    char* at = block.data() + sizeof(MQCNO) + 1;
    if (c.byOffset) {
      cno.SecurityParmsPtr = nullptr;
      cno.SecurityParmsOffset = sizeof(MQCNO) + 1;
      csp.CSPUserIdPtr = csp.CSPPasswordPtr = nullptr;
      csp.CSPUserIdOffset = sizeof(MQCSP);
      csp.CSPPasswordOffset = sizeof(MQCSP) + 16;
      memcpy(at, &csp, sizeof csp);
      memcpy(at + sizeof(MQCSP), c.user, strlen(c.user));
      memcpy(at + sizeof(MQCSP) + 16, c.password, strlen(c.password));
    }
    memcpy(block.data(), &cno, sizeof cno);
    MQHCONN h = MQHC_UNUSABLE_HCONN;
    EXPECT_EQ(c.reason, Conn(c.qmgr, reinterpret_cast<MQCNO*>(block.data()), &h)) << c.name;
    if (c.reason == 0 && c.user != nullptr) {
      MQHOBJ o;
      MQMD md = {MQMD_DEFAULT};
      std::string data;
      ASSERT_EQ(0, Open(h, "Q1", MQOO_OUTPUT | MQOO_INPUT_SHARED, &o)) << c.name;
      ASSERT_EQ(0, Put(h, o, "x")) << c.name;
      ASSERT_EQ(0, Get(h, o, &data, MQGMO_NO_WAIT, &md)) << c.name;
      EXPECT_EQ((c.user + std::string(12, ' ')).substr(0, 12), std::string(md.UserIdentifier, 12));
      Close(h, &o);
    }
    if (c.reason == 0) {
      EXPECT_GT(h, 0) << c.name;
      Disconnect(&h);
    }
    EXPECT_EQ(MQHC_UNUSABLE_HCONN, h) << c.name;
  }
  EXPECT_EQ("<none>", SqlValue(db, "SELECT password FROM users WHERE password IS NOT NULL"));
  MQHCONN h = MQHC_UNUSABLE_HCONN;
  EXPECT_EQ(MQRC_CNO_ERROR, Conn(nullptr, nullptr, &h));
  MQHCONN stale = 12345;
  MQLONG cc, reason;
  MQDISC(&stale, &cc, &reason);
  EXPECT_EQ(MQRC_HCONN_ERROR, reason);
}

// Rows with a descriptor version of 3 or more read ResolvedQName back (a
// null `resolved`: it stays untouched); rows with `held` open while another
// connection holds the queue so, and the queue is free again afterwards.
TEST_F(ConnectOpenTest, OpenResults) {
  const MQLONG S = MQOO_INPUT_SHARED, X = MQOO_INPUT_EXCLUSIVE;
  struct Case { const char *name, *qmgr = "";
      MQLONG options, reason, type = MQOT_Q, version = MQOD_VERSION_1;
      const char* resolved = nullptr; MQLONG held = 0; } cases[] = {
      {"Q1", "", MQOO_INPUT_AS_Q_DEF, 0},
      {"Q1", "QM1", MQOO_OUTPUT | MQOO_INQUIRE | MQOO_BROWSE | MQOO_SET, 0},
      {"ALIAS.Q1", "", S, 0},
      {"ALIAS.BROKEN", "", MQOO_OUTPUT, MQRC_UNKNOWN_ALIAS_BASE_Q},
      {"ALIAS.TO.ALIAS", "", MQOO_OUTPUT, MQRC_ALIAS_BASE_Q_TYPE_ERROR},
      {"NOSUCH", "", MQOO_OUTPUT, MQRC_UNKNOWN_OBJECT_NAME},
      {"", "", MQOO_OUTPUT, MQRC_UNKNOWN_OBJECT_NAME},
      {"Q1", "", 0, MQRC_OPTIONS_ERROR},
      {"Q1", "", S | X, MQRC_OPTIONS_ERROR},
      {"Q1", "", S | MQOO_SET_ALL_CONTEXT, MQRC_OPTIONS_ERROR},
      {"Q1", "", MQOO_OUTPUT | MQOO_SAVE_ALL_CONTEXT, MQRC_OPTIONS_ERROR},
      {"Q1", "", MQOO_OUTPUT | 0x40000000, MQRC_OPTIONS_ERROR},
      {"SECRET", "", MQOO_OUTPUT, 0},
      {"SECRET", "", MQOO_OUTPUT | MQOO_INQUIRE, MQRC_NOT_AUTHORIZED},
      {"REMOTE.Q", "QM2", MQOO_OUTPUT, 0},
      {"REMOTE.Q", "QM2", S, MQRC_OPTION_NOT_VALID_FOR_TYPE},
      {"NOSUCH", "QM2", MQOO_OUTPUT, MQRC_UNKNOWN_OBJECT_NAME},
      {"REMOTE.Q", "QM9", MQOO_OUTPUT, MQRC_UNKNOWN_REMOTE_Q_MGR},
      {"", "", MQOO_INQUIRE, 0, MQOT_Q_MGR},
      {"", "", MQOO_OUTPUT, MQRC_OPTION_NOT_VALID_FOR_TYPE, MQOT_Q_MGR},
      {"", "", MQOO_OUTPUT, MQRC_OBJECT_TYPE_ERROR, 99},
      {"ALIAS.Q1", "", MQOO_OUTPUT, 0, MQOT_Q, MQOD_VERSION_2},
      {"ALIAS.Q1", "", MQOO_OUTPUT, 0, MQOT_Q, MQOD_VERSION_3, "Q1"},
      {"ALIAS.Q1", "", MQOO_OUTPUT, 0, MQOT_Q, MQOD_VERSION_4, "Q1"},
      {.name = "Q1", .options = S, .reason = 0, .held = S},
      {.name = "Q1", .options = X, .reason = MQRC_OBJECT_IN_USE, .held = S},
      {.name = "Q1", .options = S, .reason = MQRC_OBJECT_IN_USE, .held = X},
      {.name = "Q1", .options = MQOO_OUTPUT | MQOO_BROWSE, .reason = 0, .held = X},
      {.name = "Q1", .options = MQOO_INPUT_AS_Q_DEF, .reason = MQRC_OBJECT_IN_USE, .held = X},
  };
  for (const Case& c : cases) {
    const std::string row = std::string(c.name) + "@" + c.qmgr + " type " + std::to_string(c.type) +
                            " v" + std::to_string(c.version) + " held " + std::to_string(c.held);
    MQHOBJ o = MQHO_UNUSABLE_HOBJ, first = MQHO_UNUSABLE_HOBJ;
    if (c.held != 0) { ASSERT_EQ(0, Open(other_, c.name, c.held, &first)) << row; }
    MQOD od = {MQOD_DEFAULT};
    od.Version = c.version;
    od.ObjectType = c.type;
    SetMqField(od.ObjectName, c.name);
    SetMqField(od.ObjectQMgrName, c.qmgr);
    memset(od.ResolvedQName, '#', 48);
    EXPECT_EQ(c.reason, OpenOd(h_, &od, c.options, &o)) << row;
    char name[49];
    LqmNameFromField(od.ResolvedQName, 48, name);
    if (c.reason == 0) { EXPECT_EQ(c.resolved ? c.resolved : std::string(48, '#'), name) << row; }
    LqmNameFromField(od.ResolvedQMgrName, 48, name);
    if (c.resolved != nullptr) { EXPECT_STREQ("QM1", name) << row; }
    if (c.reason == 0) Close(h_, &o);
    if (c.held == 0) continue;
    Close(other_, &first);
    ASSERT_EQ(0, Open(h_, "Q1", X, &o)) << row;
    Close(h_, &o);
  }
  MQHOBJ o;
  EXPECT_EQ(MQRC_OD_ERROR, OpenOd(h_, nullptr, MQOO_OUTPUT, &o));
  EXPECT_EQ(MQRC_HCONN_ERROR, Open(h_ + 100, "Q1", MQOO_OUTPUT, &o));
  MQHOBJ bogus = 77;
  MQLONG cc, reason;
  MQCLOSE(h_, &bogus, MQCO_NONE, &cc, &reason);
  EXPECT_EQ(MQRC_HOBJ_ERROR, reason);
}

TEST_F(ConnectOpenTest, TemporaryDynamicQueuesComeAndGo) {
  MQOD od = {MQOD_DEFAULT};
  auto model = [&](const char* dynamic, MQLONG options, MQHOBJ* o) {
    SetMqField(od.ObjectName, "SYSTEM.DEFAULT.MODEL.QUEUE");
    SetMqField(od.DynamicQName, dynamic);
    return OpenOd(h_, &od, options, o);
  };
  MQHOBJ o, po, io;
  ASSERT_EQ(0, model("REPLY.*", MQOO_INPUT_AS_Q_DEF | MQOO_OUTPUT, &o));
  char name[49];
  LqmNameFromField(od.ObjectName, 48, name);
  EXPECT_EQ(0, strncmp(name, "REPLY.", 6)) << name;
  EXPECT_GT(strlen(name), 6u);
  ASSERT_EQ(0, Put(h_, o, "reply"));
  // Another connection can put to it, but not read it: the model's
  // default input is exclusive and h_ holds it.
  ASSERT_EQ(0, Open(other_, name, MQOO_OUTPUT, &po));
  EXPECT_EQ(MQRC_OBJECT_IN_USE, Open(other_, name, MQOO_INPUT_AS_Q_DEF, &io));
  Close(h_, &o);
  EXPECT_EQ(MQRC_Q_DELETED, Put(other_, po, "late"));
  Close(other_, &po);
  EXPECT_EQ(MQRC_UNKNOWN_OBJECT_NAME, Open(other_, name, MQOO_OUTPUT, &po));
  // A fixed name that exists already is refused; a connection's queues go
  // with it, whatever state the messages on them are in.
  EXPECT_EQ(MQRC_OBJECT_ALREADY_EXISTS, model("Q1", MQOO_OUTPUT, &o));
  ASSERT_EQ(0, model("MINE", MQOO_INPUT_EXCLUSIVE | MQOO_OUTPUT, &o));
  for (const char* t : {"a", "b"}) ASSERT_EQ(0, Put(h_, o, t));
  ASSERT_EQ(0, Put(h_, o, "pending", MQPMO_SYNCPOINT));
  std::string data;
  ASSERT_EQ(0, Get(h_, o, &data, MQGMO_SYNCPOINT));
  const std::string db = root_ + "/QM1/qm.db";
  const char* rows = "SELECT count(*) FROM messages WHERE queue = 'MINE'";
  EXPECT_EQ(3, SqlCount(db, rows));
  Disconnect(&h_);
  EXPECT_EQ(0, SqlCount(db, rows));
  EXPECT_EQ(MQRC_UNKNOWN_OBJECT_NAME, Open(other_, "MINE", MQOO_OUTPUT, &po));
}

TEST_F(ConnectOpenTest, UnitsOfWorkReachOtherQueueManagers) {
  MQHCONN reader;
  MQHOBJ remote, local, ro;
  ASSERT_EQ(0, Open(h_, "REMOTE.Q", MQOO_OUTPUT, &remote, "QM2"));
  ASSERT_EQ(0, Open(h_, "Q1", MQOO_OUTPUT, &local));
  for (bool commit : {false, true}) {
    ASSERT_EQ(0, Put(h_, remote, "far", MQPMO_SYNCPOINT));
    ASSERT_EQ(0, Put(h_, local, "near", MQPMO_SYNCPOINT));
    // Pending on both queue managers, visible on neither.
    ASSERT_EQ(0, Connect("QM2", &reader));
    ASSERT_EQ(0, Open(reader, "REMOTE.Q", MQOO_BROWSE, &ro));
    std::string data;
    EXPECT_EQ(MQRC_NO_MSG_AVAILABLE, Get(reader, ro, &data, MQGMO_BROWSE_FIRST)) << commit;
    EXPECT_EQ(0, EndUnit(h_, commit));
    EXPECT_EQ(commit ? 0 : MQRC_NO_MSG_AVAILABLE, Get(reader, ro, &data, MQGMO_BROWSE_FIRST));
    Disconnect(&reader);
    EXPECT_EQ(commit ? 1 : 0, Depth("QM2", "REMOTE.Q"));
    EXPECT_EQ(commit ? 1 : 0, Depth("QM1", "Q1"));
  }
}

TEST_F(ConnectOpenTest, DistributionListsReportEachDestination) {
  DefineLocal("QM1", "Q2");
  const MQLONG U = MQRC_UNKNOWN_OBJECT_NAME, M = MQRC_MULTIPLE_REASONS, F = MQCC_FAILED;
  struct Case { std::vector<MQOR> dests; MQLONG cc, reason; std::vector<MQLONG> perDest; };
  const Case cases[] = {
      {{{"Q1", ""}, {"Q2", ""}, {"REMOTE.Q", "QM2"}}, MQCC_OK, 0, {0, 0, 0}},
      {{{"Q1", ""}, {"NOSUCH", ""}}, MQCC_WARNING, M, {0, U}},
      {{{"NOSUCH", ""}, {"NOSUCH2", ""}}, F, U, {U, U}},
      {{{"NOSUCH", ""}, {"Q1", "QM9"}}, F, M, {U, MQRC_UNKNOWN_REMOTE_Q_MGR}},
  };
  // By offset, the records follow the MQOD and the response records are
  // unaligned, as a caller in another language might lay them out.
  for (const Case& c : cases) for (bool byOffset : {false, true}) {
    const size_t n = c.dests.size();
    std::vector<MQOR> ors = c.dests;
    std::vector<MQRR> rrs(n, MQRR{-7, -7});
    std::vector<char> block(sizeof(MQOD) + n * sizeof(MQOR) + 1 + n * sizeof(MQRR), 0);
    MQOD od = {MQOD_DEFAULT};
    od.Version = MQOD_VERSION_2;
    od.RecsPresent = static_cast<MQLONG>(n);
    od.ObjectRecOffset = byOffset ? sizeof(MQOD) : 0;
    od.ResponseRecOffset = byOffset ? static_cast<MQLONG>(sizeof(MQOD) + n * sizeof(MQOR) + 1) : 0;
    od.ObjectRecPtr = byOffset ? nullptr : ors.data();
    od.ResponseRecPtr = byOffset ? nullptr : rrs.data();
    memcpy(block.data(), &od, sizeof od);
    memcpy(block.data() + sizeof(MQOD), ors.data(), n * sizeof(MQOR));
    MQHOBJ o;
    MQLONG cc, reason;
    MQOPEN(h_, block.data(), MQOO_OUTPUT, &o, &cc, &reason);
    if (byOffset) memcpy(rrs.data(), block.data() + od.ResponseRecOffset, n * sizeof(MQRR));
    const std::string row = std::string(c.dests[0].ObjectName) + (byOffset ? " by offset" : "");
    EXPECT_EQ(c.cc, cc) << row;
    EXPECT_EQ(c.reason, reason) << row;
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(c.perDest[i], rrs[i].Reason) << row << " " << i;
      if (c.perDest[i] != 0) { EXPECT_EQ(MQCC_FAILED, rrs[i].CompCode) << row << " " << i; }
    }
    if (cc == MQCC_FAILED) continue;
    // A put reaches every destination that opened, with one MsgId.
    MQMD md = {MQMD_DEFAULT};
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Version = MQPMO_VERSION_2;
    pmo.RecsPresent = od.RecsPresent;
    pmo.ResponseRecPtr = rrs.data();
    char text[] = "to many";
    MQPUT(h_, o, &md, &pmo, 7, text, &cc, &reason);
    EXPECT_EQ(c.reason, reason) << row;
    EXPECT_EQ(static_cast<MQLONG>(std::count(c.perDest.begin(), c.perDest.end(), 0)),
              pmo.KnownDestCount + pmo.UnknownDestCount) << row;
    Close(h_, &o);
  }
  EXPECT_EQ(4, Depth("QM1", "Q1"));
  EXPECT_EQ(2, Depth("QM1", "Q2"));
  EXPECT_EQ(2, Depth("QM2", "REMOTE.Q"));
}

}  // namespace
