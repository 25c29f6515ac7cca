// MQPUT, MQPUT1, MQGET, MQCMIT and MQBACK through the built library. Context
// passing and the refused asynchronous put are tried by the program's own
// copies, end to end.
#include <chrono>
#include <functional>
#include <thread>

#include "tests/localqm/lqm_test_util.h"

namespace {

class PutGetTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QM1", true);
    LqmQueue q;
    LqmQueueDefaults(&q, "Q1");
    q.MaxDepth = 3;
    q.MaxMsgLength = 100;
    DefineQueue("QM1", q);
    DefineLocal("QM1", "Q2");
    ASSERT_EQ(Connect("QM1", &h_), 0);
    ASSERT_EQ(Open(h_, "Q1", MQOO_INPUT_SHARED | MQOO_OUTPUT | MQOO_BROWSE | MQOO_SET, &q1_), 0);
  }
  void TearDown() override {
    if (h_ != MQHC_UNUSABLE_HCONN) Disconnect(&h_);
    LqmTest::TearDown();
  }
  MQHCONN h_ = MQHC_UNUSABLE_HCONN;
  MQHOBJ q1_ = MQHO_UNUSABLE_HOBJ;
};

MQLONG Set(MQHCONN h, MQHOBJ o, MQLONG selector, MQLONG value) {
  MQLONG cc, reason;
  MQSET(h, o, 1, &selector, 1, &value, 0, nullptr, &cc, &reason);
  return CheckCc(cc, reason);
}

MQLONG Put1(MQHCONN h, const char* queue, void* md, const std::string& data) {
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, queue);
  MQPMO pmo = {MQPMO_DEFAULT};
  MQLONG cc, reason;
  MQPUT1(h, &od, md, &pmo, static_cast<MQLONG>(data.size()), const_cast<char*>(data.data()), &cc,
         &reason);
  return CheckCc(cc, reason);
}

void SetQuiescing(bool quiescing) {
  LqmTest::EditQmgr("QM1", [quiescing](LqmQmgr* q) { q->Quiescing = quiescing; });
}

// One sequence on Q1, which holds at most 3 messages of at most 100 bytes:
// inhibits, quiescing (which fails only those who ask), refused parameters
// that leave the queue alone, the put limits.
TEST_F(PutGetTest, InhibitsBadParametersAndPutLimits) {
  MQLONG cc, reason, len;
  MQHOBJ q2;
  MQHCONN other;
  MQMD md = {MQMD_DEFAULT};
  char buf[16];
  auto get = [&](MQLONG options, MQLONG length, char* buffer, MQMD* m, bool gmoGiven,
                 MQLONG* dataLength, MQLONG wait = 0) {
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = options;
    gmo.WaitInterval = wait;
    MQGET(h_, q1_, m, gmoGiven ? &gmo : nullptr, length, buffer, dataLength, &cc, &reason);
    return reason;
  };
  auto put = [&](MQLONG options, MQLONG length, bool pmoGiven = true, MQHOBJ o = 0) {
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = options;
    MQPUT(h_, o == 0 ? q1_ : o, &md, pmoGiven ? &pmo : nullptr, length, buf, &cc, &reason);
    return reason;
  };
  // `length` bytes under a descriptor with these fields.
  auto putMd = [&](MQLONG length, MQLONG priority, MQLONG persistence = 0, MQLONG expiry = -1) {
    MQMD m = {MQMD_DEFAULT};
    m.Priority = priority;
    m.Persistence = persistence;
    m.Expiry = expiry;
    MQPMO pmo = {MQPMO_DEFAULT};
    std::string data(static_cast<size_t>(length), 'x');
    MQPUT(h_, q1_, &m, &pmo, length, data.data(), &cc, &reason);
    return reason;
  };
  const MQLONG S = MQIA_INHIBIT_PUT, G = MQIA_INHIBIT_GET;
  const struct {
    const char* what;
    std::function<MQLONG()> call;
    MQLONG reason;
  } cases[] = {
      {"inhibit puts", [&] { return Set(h_, q1_, S, MQQA_PUT_INHIBITED); }, 0},
      {"put inhibited", [&] { return Put(h_, q1_, "x"); }, MQRC_PUT_INHIBITED},
      {"allow puts", [&] { return Set(h_, q1_, S, MQQA_PUT_ALLOWED); }, 0},
      {"put allowed", [&] { return Put(h_, q1_, "x"); }, 0},
      {"inhibit gets", [&] { return Set(h_, q1_, G, MQQA_GET_INHIBITED); }, 0},
      {"get inhibited", [&] { return Get(h_, q1_, nullptr); }, MQRC_GET_INHIBITED},
      {"browse inhibited", [&] { return Get(h_, q1_, nullptr, MQGMO_BROWSE_FIRST); },
       MQRC_GET_INHIBITED},
      {"allow gets", [&] { return Set(h_, q1_, G, MQQA_GET_ALLOWED); }, 0},
      {"quiesce", [&] { return SetQuiescing(true), 0; }, 0},
      {"open asking", [&] { return Open(h_, "Q2", MQOO_OUTPUT | MQOO_FAIL_IF_QUIESCING, &q2); },
       MQRC_Q_MGR_QUIESCING},
      {"put asking", [&] { return Put(h_, q1_, "x", MQPMO_FAIL_IF_QUIESCING); },
       MQRC_Q_MGR_QUIESCING},
      {"get asking", [&] { return Get(h_, q1_, nullptr, MQGMO_FAIL_IF_QUIESCING); },
       MQRC_Q_MGR_QUIESCING},
      {"put not asking", [&] { return Put(h_, q1_, "x"); }, 0},
      {"get not asking", [&] { return Get(h_, q1_, nullptr); }, 0},
      {"new connection", [&] { return Connect("QM1", &other); }, MQRC_Q_MGR_QUIESCING},
      {"quiesced no more", [&] { return SetQuiescing(false), 0; }, 0},
      {"bad inhibit value", [&] { return Set(h_, q1_, G, 5); }, MQRC_INHIBIT_VALUE_ERROR},
      {"not settable", [&] { return Set(h_, q1_, MQIA_MAX_Q_DEPTH, 5); }, MQRC_SELECTOR_ERROR},
      {"negative buffer length", [&] { return get(0, -1, buf, &md, true, &len); },
       MQRC_BUFFER_LENGTH_ERROR},
      {"null buffer", [&] { return get(0, 16, nullptr, &md, true, &len); }, MQRC_BUFFER_ERROR},
      {"null MQMD", [&] { return get(0, 16, buf, nullptr, true, &len); }, MQRC_MD_ERROR},
      {"null MQGMO", [&] { return get(0, 16, buf, &md, false, &len); }, MQRC_GMO_ERROR},
      {"null data length", [&] { return get(0, 16, buf, &md, true, nullptr); },
       MQRC_DATA_LENGTH_ERROR},
      {"two browse options",
       [&] { return get(MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT, 16, buf, &md, true, &len); },
       MQRC_OPTIONS_ERROR},
      {"browse under syncpoint",
       [&] { return get(MQGMO_BROWSE_FIRST | MQGMO_SYNCPOINT, 16, buf, &md, true, &len); },
       MQRC_OPTIONS_ERROR},
      {"bad wait interval", [&] { return get(MQGMO_WAIT, 16, buf, &md, true, &len, -5); },
       MQRC_WAIT_INTERVAL_ERROR},
      {"signals", [&] { return get(MQGMO_SET_SIGNAL, 16, buf, &md, true, &len); },
       MQRC_OPTIONS_ERROR},
      {"negative put length", [&] { return put(0, -1); }, MQRC_BUFFER_LENGTH_ERROR},
      {"both syncpoint options", [&] { return put(MQPMO_SYNCPOINT | MQPMO_NO_SYNCPOINT, 1); },
       MQRC_OPTIONS_ERROR},
      {"set context not opened for", [&] { return put(MQPMO_SET_ALL_CONTEXT, 1); },
       MQRC_NOT_OPEN_FOR_SET_ALL},
      {"null MQPMO", [&] { return put(0, 1, false); }, MQRC_PMO_ERROR},
      {"bad object handle", [&] { return put(0, 1, true, 999); }, MQRC_HOBJ_ERROR},
      {"none of that touched the queue", [&] { return Depth("QM1", "Q1"); }, 1},
      {"empty it", [&] { return Get(h_, q1_, nullptr); }, 0},
      {"fits", [&] { return putMd(100, 0); }, 0},
      {"too long", [&] { return putMd(101, 0); }, MQRC_MSG_TOO_BIG_FOR_Q},
      {"bad priority", [&] { return putMd(1, -2); }, MQRC_PRIORITY_ERROR},
      {"priority above max", [&] { return putMd(1, 12); }, MQRC_PRIORITY_EXCEEDS_MAXIMUM},
      {"bad persistence", [&] { return putMd(1, 0, 7); }, MQRC_PERSISTENCE_ERROR},
      {"zero expiry", [&] { return putMd(1, 0, 0, 0); }, MQRC_EXPIRY_ERROR},
      {"full", [&] { return putMd(1, 0); }, 0},
      {"now full", [&] { return putMd(1, 0); }, MQRC_Q_FULL},
      {"the put above max made it", [&] { return Depth("QM1", "Q1"); }, 3},
  };
  // cc stays -1 where a row's call checks its own completion code.
  for (const auto& c : cases) {
    cc = -1;
    EXPECT_EQ(c.reason, c.call()) << c.what;
    if (cc == -1) continue;
    EXPECT_EQ(c.reason == 0 ? MQCC_OK
              : c.reason == MQRC_PRIORITY_EXCEEDS_MAXIMUM ? MQCC_WARNING : MQCC_FAILED, cc)
        << c.what;
  }
}

TEST_F(PutGetTest, TruncationAndZeroLengthBuffers) {
  ASSERT_EQ(Put(h_, q1_, "0123456789"), 0);
  struct Case {
    MQLONG options, buffer, reason;
    const char* data;
    MQLONG depthAfter;
  } cases[] = {
      {MQGMO_NO_WAIT, 0, MQRC_TRUNCATED_MSG_FAILED, "", 1},
      {MQGMO_NO_WAIT, 4, MQRC_TRUNCATED_MSG_FAILED, "0123", 1},
      {MQGMO_BROWSE_FIRST, 4, MQRC_TRUNCATED_MSG_FAILED, "0123", 1},
      {MQGMO_BROWSE_MSG_UNDER_CURSOR, 10, 0, "0123456789", 1},
      {MQGMO_ACCEPT_TRUNCATED_MSG, 4, MQRC_TRUNCATED_MSG_ACCEPTED, "0123", 0},
  };
  for (const Case& c : cases) {
    MQMD md = {MQMD_DEFAULT};
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = c.options;
    char buf[16] = {};
    MQLONG len = -1, cc, reason;
    MQGET(h_, q1_, &md, &gmo, c.buffer, c.buffer > 0 ? buf : nullptr, &len, &cc, &reason);
    EXPECT_EQ(reason, c.reason) << c.options << "/" << c.buffer;
    EXPECT_EQ(len, 10);  // always the full length
    EXPECT_EQ(std::string(buf, static_cast<size_t>(c.buffer)), c.data);
    EXPECT_EQ(std::string(md.Format, 8), "MQSTR   ");  // the descriptor came back
    EXPECT_EQ(Depth("QM1", "Q1"), c.depthAfter);
  }
}

TEST_F(PutGetTest, MatchOptionsPickTheMessage) {
  MQMD put = {MQMD_DEFAULT};
  put.Version = 2;
  std::vector<MQMD> sent;
  for (int i = 0; i < 3; ++i) {
    MQMD md = put;
    memset(md.CorrelId, i == 2 ? 'B' : 'A', 24);
    memset(md.GroupId, 'g' + i, 24);
    ASSERT_EQ(PutMd(h_, q1_, &md, std::string(1, static_cast<char>('0' + i))), 0);
    sent.push_back(md);  // MsgId filled in by the put
  }
  EXPECT_NE(memcmp(sent[0].MsgId, sent[1].MsgId, 24), 0);
  struct Case {
    MQLONG gmoVersion, matchOptions;
    int msgIdOf, correlIdOf;  // -1: none
    MQLONG reason;
    const char* data;
  } cases[] = {
      // Matching in delivery order is in the delivery-order tests; here
      // what the version and the options ask for.
      {2, MQMO_NONE, 1, 2, 0, "0"},  // fields given but not matched on
      {1, 0, 1, -1, 0, "1"},  // version 1: message and correlation id always match
      {1, 0, 0, 2, MQRC_NO_MSG_AVAILABLE, ""},
      {2, MQMO_MATCH_MSG_TOKEN, -1, -1, MQRC_MATCH_OPTIONS_ERROR, ""},
  };
  for (const Case& c : cases) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = 2;
    if (c.msgIdOf >= 0) memcpy(md.MsgId, sent[c.msgIdOf].MsgId, 24);
    if (c.correlIdOf >= 0) memcpy(md.CorrelId, sent[c.correlIdOf].CorrelId, 24);
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Version = c.gmoVersion;
    gmo.Options = MQGMO_BROWSE_FIRST;
    gmo.MatchOptions = c.matchOptions;
    char buf[8] = {};
    MQLONG len = 0, cc, reason;
    MQGET(h_, q1_, &md, &gmo, sizeof buf, buf, &len, &cc, &reason);
    EXPECT_EQ(reason, c.reason) << c.matchOptions;
    EXPECT_EQ(std::string(buf, reason == 0 ? 1 : 0), c.data) << c.matchOptions;
  }
}

TEST_F(PutGetTest, SyncpointVisibilityCommitAndBackout) {
  MQHCONN other;
  MQHOBJ o2;
  ASSERT_EQ(Connect("QM1", &other), 0);
  ASSERT_EQ(Open(other, "Q1", MQOO_INPUT_SHARED | MQOO_OUTPUT, &o2), 0);
  std::string data;
  ASSERT_EQ(Put(h_, q1_, "uow", MQPMO_SYNCPOINT), 0);
  EXPECT_EQ(Get(other, o2, &data), MQRC_NO_MSG_AVAILABLE);  // invisible to others
  EXPECT_EQ(Get(h_, q1_, &data), MQRC_NO_MSG_AVAILABLE);    // and to itself
  EXPECT_EQ(Depth("QM1", "Q1"), 1);
  ASSERT_EQ(EndUnit(h_, false), 0);
  EXPECT_EQ(Depth("QM1", "Q1"), 0);  // the put is gone

  ASSERT_EQ(Put(h_, q1_, "kept", MQPMO_SYNCPOINT), 0);
  ASSERT_EQ(EndUnit(h_, true), 0);
  // A get under syncpoint hides the message; backout restores it with
  // BackoutCount raised, every time.
  for (MQLONG round = 1; round <= 2; ++round) {
    ASSERT_EQ(Get(other, o2, &data, MQGMO_SYNCPOINT), 0);
    EXPECT_EQ(Get(h_, q1_, &data, MQGMO_BROWSE_FIRST), MQRC_NO_MSG_AVAILABLE);
    ASSERT_EQ(EndUnit(other, false), 0);
    MQMD md = {MQMD_DEFAULT};
    ASSERT_EQ(Get(h_, q1_, &data, MQGMO_BROWSE_FIRST, &md), 0);
    EXPECT_EQ(md.BackoutCount, round);
  }
  ASSERT_EQ(Get(other, o2, &data, MQGMO_SYNCPOINT), 0);
  // Disconnecting commits the open unit of work.
  Disconnect(&other);
  EXPECT_EQ(Depth("QM1", "Q1"), 0);
}

TEST_F(PutGetTest, ConversionOfStringData) {
  MQHOBJ o2;
  ASSERT_EQ(Open(h_, "Q2", MQOO_INPUT_SHARED | MQOO_OUTPUT, &o2), 0);
  struct Case {
    const char* format;
    MQLONG putCcsid, getCcsid;
    std::string in, out;
    MQLONG reason, ccsidAfter;
  } cases[] = {
      {MQFMT_STRING, 819, 37, "AB", "\xC1\xC2", 0, 37},
      {MQFMT_STRING, 819, 0, "caf\xE9", "caf\xC3\xA9", 0, 1208},  // 0: the qmgr's CCSID
      {MQFMT_STRING, 819, 9999, "AB", "AB", MQRC_NOT_CONVERTED, 819},
      {MQFMT_STRING, 1208, 819, "\xFF", "\xFF", MQRC_NOT_CONVERTED, 1208},
      {"MYFMT   ", 819, 37, "AB", "AB", MQRC_FORMAT_ERROR, 819},  // would need an exit
      {MQFMT_ADMIN, 819, 37, "AB", "AB", MQRC_NOT_CONVERTED, 819},
      {MQFMT_STRING, 819, 37, "", "", 0, 819},  // nothing to convert
  };
  for (const Case& c : cases) {
    MQMD md = {MQMD_DEFAULT};
    memcpy(md.Format, c.format, 8);
    md.CodedCharSetId = c.putCcsid;
    ASSERT_EQ(PutMd(h_, o2, &md, c.in), 0);
    MQMD want = {MQMD_DEFAULT};
    want.CodedCharSetId = c.getCcsid;
    std::string data;
    EXPECT_EQ(Get(h_, o2, &data, MQGMO_CONVERT, &want), c.reason) << c.putCcsid << "->" << c.getCcsid;
    EXPECT_EQ(data, c.out) << c.putCcsid << "->" << c.getCcsid;
    EXPECT_EQ(want.CodedCharSetId, c.ccsidAfter);
  }
  EXPECT_EQ(Depth("QM1", "Q2"), 0);  // delivered even when not converted
}

// Version-1 structures: only their own bytes are read or written. A
// version-1 reader gets the version-2 fields in an MQMDE before the data,
// and a version-1 put of that turns it back into those fields.
TEST_F(PutGetTest, Put1AndVersionOneStructures) {
  struct {
    MQMD1 md;
    char guard[40];
  } v1;
  const MQMD1 init = {MQMD1_DEFAULT};
  const std::string guard(sizeof v1.guard, 0x5A);
  v1.md = init;
  memset(v1.guard, 0x5A, sizeof v1.guard);
  ASSERT_EQ(0, Put1(h_, "Q2", &v1.md, "one"));
  EXPECT_EQ(guard, std::string(v1.guard, sizeof v1.guard));
  EXPECT_NE(0, memcmp(v1.md.MsgId, MQMI_NONE, 24));
  MQMD md = {MQMD_DEFAULT};
  EXPECT_EQ(MQRC_UNKNOWN_OBJECT_NAME, Put1(h_, "NOSUCH", &md, "x"));
  MQHOBJ o2;
  ASSERT_EQ(0, Open(h_, "Q2", MQOO_INPUT_SHARED | MQOO_OUTPUT | MQOO_BROWSE, &o2));
  md.Version = 2;
  memcpy(md.Format, MQFMT_STRING, 8);
  memset(md.GroupId, 'G', 24);
  md.MsgSeqNumber = 3;
  md.MsgFlags = MQMF_MSG_IN_GROUP;
  ASSERT_EQ(0, PutMd(h_, o2, &md, "data"));
  v1.md = init;
  MQGMO gmo = {MQGMO_DEFAULT};
  memset(reinterpret_cast<char*>(&gmo) + MQGMO_LENGTH_1, 0x5A, sizeof(MQGMO) - MQGMO_LENGTH_1);
  char buf[128];
  MQLONG len, cc, reason;
  MQGET(h_, o2, &v1.md, &gmo, 8, buf, &len, &cc, &reason);
  ASSERT_EQ(0, reason);
  EXPECT_EQ("one", std::string(buf, 3));
  EXPECT_EQ(guard, std::string(v1.guard, sizeof v1.guard));
  EXPECT_EQ(0x5A, static_cast<unsigned char>(gmo.GroupStatus));  // not a version-1 field
  v1.md = init;
  gmo.Options = MQGMO_BROWSE_FIRST;
  MQGET(h_, o2, &v1.md, &gmo, sizeof buf, buf, &len, &cc, &reason);
  ASSERT_EQ(0, reason);
  ASSERT_EQ(MQMDE_LENGTH_2 + 4, len);
  EXPECT_EQ("MQHMDE  ", std::string(v1.md.Format, 8));
  MQMDE mde;
  memcpy(&mde, buf, sizeof mde);
  EXPECT_EQ("MQSTR   ", std::string(mde.Format, 8));
  EXPECT_EQ(3, mde.MsgSeqNumber);
  EXPECT_EQ("data", std::string(buf + MQMDE_LENGTH_2, 4));
  ASSERT_EQ(0, PutMd(h_, q1_, &v1.md, std::string(buf, len)));
  MQMD back = {MQMD_DEFAULT};
  back.Version = 2;
  std::string data;
  ASSERT_EQ(0, Get(h_, q1_, &data, MQGMO_NO_WAIT, &back));
  EXPECT_EQ("data", data);
  EXPECT_EQ("MQSTR   ", std::string(back.Format, 8));
  EXPECT_EQ(3, back.MsgSeqNumber);
  EXPECT_EQ(MQMF_MSG_IN_GROUP, back.MsgFlags);
  EXPECT_EQ('G', back.GroupId[0]);
}

// A getter waiting with the option is told as soon as quiescing starts.
TEST_F(PutGetTest, WaitingGetterIsToldOfQuiescing) {
  std::string data;
  std::thread later([] {
    usleep(200 * 1000);
    SetQuiescing(true);
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Get(h_, q1_, &data, MQGMO_WAIT | MQGMO_FAIL_IF_QUIESCING, nullptr, 64, 10000),
            MQRC_Q_MGR_QUIESCING);
  later.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// Every call named by a fault is hooked: with a one-shot fault set, the
// call fails with its reason once and works the next time.
TEST_F(LqmTest, EveryCallHonoursItsFault) {
  CreateQmgr("QMF");
  DefineLocal("QMF", "QF");
  MQLONG cc, reason;
  const struct {
    const char* call;
    std::function<MQLONG(MQHCONN*, MQHOBJ*)> run;
  } cases[] = {
      {"MQOPEN", [](MQHCONN* h, MQHOBJ* o) { return Open(*h, "QF", MQOO_OUTPUT, o); }},
      {"MQPUT", [](MQHCONN* h, MQHOBJ* o) { return Put(*h, *o, "x"); }},
      {"MQPUT1", [](MQHCONN* h, MQHOBJ*) { MQMD md = {MQMD_DEFAULT}; return Put1(*h, "QF", &md, "p"); }},
      {"MQGET", [](MQHCONN* h, MQHOBJ* o) { return Get(*h, *o, nullptr); }},
      {"MQINQ",
       [&](MQHCONN* h, MQHOBJ* o) {
         MQLONG sel = MQIA_Q_TYPE, value;
         MQINQ(*h, *o, 1, &sel, 1, &value, 0, nullptr, &cc, &reason);
         return reason;
       }},
      {"MQSET", [](MQHCONN* h, MQHOBJ* o) { return Set(*h, *o, MQIA_INHIBIT_PUT, 0); }},
      {"MQCMIT", [](MQHCONN* h, MQHOBJ*) { return EndUnit(*h, true); }},
      {"MQBACK", [](MQHCONN* h, MQHOBJ*) { return EndUnit(*h, false); }},
  };
  for (const auto& c : cases) {
    MQHCONN h;
    MQHOBJ o;
    ASSERT_EQ(Connect("QMF", &h), 0);
    ASSERT_EQ(Open(h, "QF", MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_INQUIRE | MQOO_SET, &o), 0);
    ASSERT_EQ(Put(h, o, "m"), 0);
    WithStore("QMF", [&](LqmStore* s) { return LqmFaultAdd(s, c.call, "", 2195, 0, 1); });
    MQHOBJ spare = o;
    EXPECT_EQ(c.run(&h, &spare), 2195) << c.call;
    EXPECT_EQ(c.run(&h, &spare), 0) << c.call << " (fault used up)";
    if (spare != o) Close(h, &spare);
    Close(h, &o);
    Disconnect(&h);
    WithStore("QMF", [](LqmStore* s) { return LqmFaultClear(s); });
  }
  // Connect and disconnect too.
  WithStore("QMF", [](LqmStore* s) { return LqmFaultAdd(s, "MQCONNX", "", 2059, 0, 1); });
  MQHCONN h;
  EXPECT_EQ(Connect("QMF", &h), 2059);
  ASSERT_EQ(Connect("QMF", &h), 0);
  WithStore("QMF", [](LqmStore* s) { return LqmFaultAdd(s, "MQDISC", "", 2195, 0, 1); });
  MQDISC(&h, &cc, &reason);
  EXPECT_EQ(reason, 2195);
  EXPECT_EQ(h, MQHC_UNUSABLE_HCONN);  // the connection is gone all the same
}

using PutRecordsTest = LqmTest;

// Message records of a put to a distribution list: one MsgId, each
// destination its own CorrelId and Feedback.
TEST_F(PutRecordsTest, DistributionListPutMessageRecords) {
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
