// MQPUT, MQPUT1, MQGET, MQCMIT and MQBACK through the built library. Context
// passing and the refused asynchronous put are tried by the program's own
// copies, end to end.
#include <chrono>
#include <functional>
#include <thread>

#include "tests/localqm/mqi_test_util.h"

namespace {

class PutGetTest : public MqiTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    Start(MQOO_INPUT_SHARED | MQOO_OUTPUT | MQOO_BROWSE | MQOO_SET, 3, 100);
  }
};

MQLONG Set(MQHCONN h, MQHOBJ o, MQLONG selector, MQLONG value) {
  MQLONG cc, reason;
  MQSET(h, o, 1, &selector, 1, &value, 0, nullptr, &cc, &reason);
  return CheckCc(cc, reason);
}

constexpr MQLONG kFirst = MQGMO_BROWSE_FIRST;

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
  enum { kNoBuffer = 1, kNoMd = 2, kNoGmo = 4, kNoLength = 8 };  // parameters left out
  auto get = [&](MQLONG options, MQLONG wait = 0, MQLONG length = 16, int missing = 0) {
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = options;
    gmo.WaitInterval = wait;
    MQGET(h_, q1_, missing & kNoMd ? nullptr : &md, missing & kNoGmo ? nullptr : &gmo, length,
          missing & kNoBuffer ? nullptr : buf, missing & kNoLength ? nullptr : &len, &cc, &reason);
    return reason;
  };
  // `length` bytes under a descriptor with these fields.
  auto putMd = [&](MQLONG length, MQLONG priority, MQLONG persistence = 0, MQLONG expiry = -1,
                   bool pmoGiven = true) {
    MQMD m = {MQMD_DEFAULT};
    m.Priority = priority;
    m.Persistence = persistence;
    m.Expiry = expiry;
    MQPMO pmo = {MQPMO_DEFAULT};
    std::string data(static_cast<size_t>(length < 0 ? 0 : length), 'x');
    MQPUT(h_, q1_, &m, pmoGiven ? &pmo : nullptr, length, data.data(), &cc, &reason);
    return reason;
  };
  const MQLONG S = MQIA_INHIBIT_PUT, G = MQIA_INHIBIT_GET, QQ = MQRC_Q_MGR_QUIESCING;
  const MQLONG OE = MQRC_OPTIONS_ERROR;
  const struct { const char* what; std::function<MQLONG()> call; MQLONG reason; } cases[] = {
      {"inhibit puts", [&] { return Set(h_, q1_, S, MQQA_PUT_INHIBITED); }, 0},
      {"put inhibited", [&] { return Put(h_, q1_, "x"); }, MQRC_PUT_INHIBITED},
      {"allow puts", [&] { return Set(h_, q1_, S, MQQA_PUT_ALLOWED); }, 0},
      {"put allowed", [&] { return Put(h_, q1_, "x"); }, 0},
      {"inhibit gets", [&] { return Set(h_, q1_, G, MQQA_GET_INHIBITED); }, 0},
      {"get inhibited", [&] { return Get(h_, q1_, nullptr); }, MQRC_GET_INHIBITED},
      {"browse inhibited", [&] { return Get(h_, q1_, nullptr, kFirst); }, MQRC_GET_INHIBITED},
      {"allow gets", [&] { return Set(h_, q1_, G, MQQA_GET_ALLOWED); }, 0},
      {"quiesce", [&] { return SetQuiescing(true), 0; }, 0},
      {"open asking", [&] { return Open(h_, "Q2", MQOO_OUTPUT | MQOO_FAIL_IF_QUIESCING, &q2); },
       QQ},
      {"put asking", [&] { return Put(h_, q1_, "x", MQPMO_FAIL_IF_QUIESCING); }, QQ},
      {"get asking", [&] { return Get(h_, q1_, nullptr, MQGMO_FAIL_IF_QUIESCING); }, QQ},
      {"put not asking", [&] { return Put(h_, q1_, "x"); }, 0},
      {"get not asking", [&] { return Get(h_, q1_, nullptr); }, 0},
      {"new connection", [&] { return Connect("QM1", &other); }, QQ},
      {"quiesced no more", [&] { return SetQuiescing(false), 0; }, 0},
      {"bad inhibit value", [&] { return Set(h_, q1_, G, 5); }, MQRC_INHIBIT_VALUE_ERROR},
      {"not settable", [&] { return Set(h_, q1_, MQIA_MAX_Q_DEPTH, 5); }, MQRC_SELECTOR_ERROR},
      {"negative buffer length", [&] { return get(0, 0, -1); }, MQRC_BUFFER_LENGTH_ERROR},
      {"null buffer", [&] { return get(0, 0, 16, kNoBuffer); }, MQRC_BUFFER_ERROR},
      {"null MQMD", [&] { return get(0, 0, 16, kNoMd); }, MQRC_MD_ERROR},
      {"null MQGMO", [&] { return get(0, 0, 16, kNoGmo); }, MQRC_GMO_ERROR},
      {"null data length", [&] { return get(0, 0, 16, kNoLength); }, MQRC_DATA_LENGTH_ERROR},
      {"two browse options", [&] { return get(kFirst | MQGMO_BROWSE_NEXT); }, OE},
      {"browse under syncpoint", [&] { return get(kFirst | MQGMO_SYNCPOINT); }, OE},
      {"bad wait interval", [&] { return get(MQGMO_WAIT, -5); }, MQRC_WAIT_INTERVAL_ERROR},
      {"signals", [&] { return get(MQGMO_SET_SIGNAL); }, OE},
      {"negative put length", [&] { return putMd(-1, 0); }, MQRC_BUFFER_LENGTH_ERROR},
      {"both syncpoint options",
       [&] { return Put(h_, q1_, "x", MQPMO_SYNCPOINT | MQPMO_NO_SYNCPOINT); }, OE},
      {"set context not opened for", [&] { return Put(h_, q1_, "x", MQPMO_SET_ALL_CONTEXT); },
       MQRC_NOT_OPEN_FOR_SET_ALL},
      {"null MQPMO", [&] { return putMd(1, 0, 0, -1, false); }, MQRC_PMO_ERROR},
      {"bad object handle", [&] { return Put(h_, 999, "x"); }, MQRC_HOBJ_ERROR},
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
  struct Case { MQLONG options, buffer, reason; const char* data; MQLONG depthAfter; } cases[] = {
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
  std::vector<MQMD> sent(3, MQMD{MQMD_DEFAULT});  // each MsgId filled in by its put
  for (int i = 0; i < 3; ++i) {
    MQMD& md = sent[i];
    md.Version = 2;
    memset(md.CorrelId, i == 2 ? 'B' : 'A', 24);
    memset(md.GroupId, 'g' + i, 24);
    ASSERT_EQ(PutMd(h_, q1_, &md, std::string(1, static_cast<char>('0' + i))), 0);
  }
  EXPECT_NE(memcmp(sent[0].MsgId, sent[1].MsgId, 24), 0);
  // msgIdOf, correlIdOf: the message whose identifier the get asks for, -1: none.
  struct Case { MQLONG gmoVersion, matchOptions; int msgIdOf, correlIdOf; MQLONG reason;
      const char* data; } cases[] = {
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
  struct Case { const char* format; MQLONG putCcsid, getCcsid; std::string in, out;
      MQLONG reason, ccsidAfter; } cases[] = {
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
  struct { MQMD1 md; char guard[40]; } v1;
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
  std::thread later([] { usleep(200 * 1000), SetQuiescing(true); });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Get(h_, q1_, &data, MQGMO_WAIT | MQGMO_FAIL_IF_QUIESCING, nullptr, 64, 10000),
            MQRC_Q_MGR_QUIESCING);
  later.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// Every call named by a fault is hooked: with a one-shot fault set, the
// call fails with its reason once and works the next time.
TEST_F(PutGetTest, EveryCallHonoursItsFault) {
  MQLONG cc, reason, sel = MQIA_Q_TYPE, value;
  MQMD md = {MQMD_DEFAULT};
  const struct { const char* call; std::function<MQLONG(MQHCONN*, MQHOBJ*)> run; } cases[] = {
      {"MQOPEN", [](MQHCONN* h, MQHOBJ* o) { return Open(*h, "Q2", MQOO_OUTPUT, o); }},
      {"MQPUT", [](MQHCONN* h, MQHOBJ* o) { return Put(*h, *o, "x"); }},
      {"MQPUT1", [&](MQHCONN* h, MQHOBJ*) { return Put1(*h, "Q2", &md, "p"); }},
      {"MQGET", [](MQHCONN* h, MQHOBJ* o) { return Get(*h, *o, nullptr); }},
      {"MQINQ", [&](MQHCONN* h, MQHOBJ* o) {
         return MQINQ(*h, *o, 1, &sel, 1, &value, 0, nullptr, &cc, &reason), reason; }},
      {"MQSET", [](MQHCONN* h, MQHOBJ* o) { return Set(*h, *o, MQIA_INHIBIT_PUT, 0); }},
      {"MQCMIT", [](MQHCONN* h, MQHOBJ*) { return EndUnit(*h, true); }},
      {"MQBACK", [](MQHCONN* h, MQHOBJ*) { return EndUnit(*h, false); }},
  };
  for (const auto& c : cases) {
    MQHCONN h;
    MQHOBJ o;
    ASSERT_EQ(Connect("QM1", &h), 0);
    ASSERT_EQ(Open(h, "Q2", MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_INQUIRE | MQOO_SET, &o), 0);
    ASSERT_EQ(Put(h, o, "m"), 0);
    WithStore("QM1", [&](LqmStore* s) { return LqmFaultAdd(s, c.call, "", 2195, 0, 1); });
    MQHOBJ spare = o;
    EXPECT_EQ(c.run(&h, &spare), 2195) << c.call;
    EXPECT_EQ(c.run(&h, &spare), 0) << c.call << " (fault used up)";
    if (spare != o) Close(h, &spare);
    Close(h, &o);
    Disconnect(&h);
    WithStore("QM1", [](LqmStore* s) { return LqmFaultClear(s); });
  }
  // Connect and disconnect too.
  WithStore("QM1", [](LqmStore* s) { return LqmFaultAdd(s, "MQCONNX", "", 2059, 0, 1); });
  MQHCONN h;
  EXPECT_EQ(Connect("QM1", &h), 2059);
  ASSERT_EQ(Connect("QM1", &h), 0);
  WithStore("QM1", [](LqmStore* s) { return LqmFaultAdd(s, "MQDISC", "", 2195, 0, 1); });
  MQDISC(&h, &cc, &reason);
  EXPECT_EQ(reason, 2195);
  EXPECT_EQ(h, MQHC_UNUSABLE_HCONN);  // the connection is gone all the same
}

// Message records of a put to a distribution list: one MsgId, each
// destination its own CorrelId and Feedback.
TEST_F(PutGetTest, DistributionListPutMessageRecords) {
  MQOR ors[2] = {{"Q1", ""}, {"Q2", ""}};
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
  for (int i = 0; i < 2; ++i) memset(recs[i].CorrelId, 'A' + i, 24), recs[i].Feedback = 11 + 11 * i;
  MQRR rrs[2];
  MQMD md = {MQMD_DEFAULT};
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Version = MQPMO_VERSION_2;
  pmo.RecsPresent = 2;
  pmo.PutMsgRecFields = MQPMRF_CORREL_ID | MQPMRF_FEEDBACK;
  pmo.PutMsgRecPtr = recs;
  pmo.ResponseRecPtr = rrs;
  MQLONG cc, reason;
  MQPUT1(h_, &od, &md, &pmo, 1, const_cast<char*>("d"), &cc, &reason);
  ASSERT_EQ(reason, 0);
  EXPECT_EQ(pmo.KnownDestCount, 2);
  const char* queues[] = {"Q1", "Q2"};
  for (int i = 0; i < 2; ++i) {
    MQHOBJ o;
    ASSERT_EQ(Open(h_, queues[i], MQOO_INPUT_SHARED, &o), 0);
    MQMD got = {MQMD_DEFAULT};
    std::string data;
    ASSERT_EQ(Get(h_, o, &data, MQGMO_NO_WAIT, &got), 0);
    EXPECT_EQ('A' + i, got.CorrelId[0]);
    EXPECT_EQ(11 + 11 * i, got.Feedback);
    EXPECT_EQ(memcmp(got.MsgId, md.MsgId, 24), 0) << "one MsgId for the list";
    Close(h_, &o);
  }
  // Record fields that do not exist, and a count that does not match.
  pmo.PutMsgRecFields = 0x100;
  MQPUT1(h_, &od, &md, &pmo, 1, const_cast<char*>("d"), &cc, &reason);
  EXPECT_EQ(reason, MQRC_PMO_RECORD_FLAGS_ERROR);
  pmo.PutMsgRecFields = MQPMRF_FEEDBACK;
  pmo.RecsPresent = 3;
  MQPUT1(h_, &od, &md, &pmo, 1, const_cast<char*>("d"), &cc, &reason);
  EXPECT_EQ(reason, MQRC_RECS_PRESENT_ERROR);
}

}  // namespace
