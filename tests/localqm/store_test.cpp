// The store on its own: queue-manager lifecycle, names, recovery of dead
// connections and prepared puts, expiry, identifiers and text conversion.
// Delivery order, matching and units of work are tested through the MQI.
#include <iconv.h>

#include <algorithm>

#include "tests/localqm/lqm_test_util.h"

namespace {

using StoreTest = LqmTest;

// Inserts a committed (or pending) message with the given priority and text.
void Insert(LqmStore* s, const char* queue, MQLONG priority, const std::string& text,
               bool syncpoint = false, MQLONG expiryTenths = -1) {
  MQMD md = {MQMD_DEFAULT};
  md.Version = 2;
  md.Priority = priority;
  md.Expiry = expiryTenths;
  LqmNewId(s->Name, md.MsgId);
  EXPECT_EQ(LqmMsgInsert(s, queue, &md, text.data(), text.size(), expiryTenths, syncpoint), 0);
}

std::string Text(const LqmMessage& m) { return std::string(m.Data.begin(), m.Data.end()); }

TEST_F(StoreTest, NamesAreCheckedBeforeTheyBecomePaths) {
  // A queue-manager name becomes a directory: no '/', no "..".
  struct Case {
    const char* name;
    bool qmgrOk;
    bool queueOk;
  } cases[] = {
      {"QM1", true, true},      {"A.B_C%D", true, true}, {"a/b", false, true},
      {"", false, false},       {"..", false, true},     {"QM 1", false, false},
      {"Q\xC3\xA9", false, false},
      {"123456789012345678901234567890123456789012345678", true, true},
      {"1234567890123456789012345678901234567890123456789", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LqmCheckName(c.name, MQRC_Q_MGR_NAME_ERROR) == 0, c.qmgrOk) << c.name;
    EXPECT_EQ(LqmCheckName(c.name, 1) == 0, c.queueOk) << c.name;
  }
}

TEST_F(StoreTest, QueueManagerLifecycle) {
  CreateQmgr("QM1", true);
  LqmQmgr dup{};
  snprintf(dup.Name, sizeof dup.Name, "QM1");
  EXPECT_EQ(LqmStoreCreate(&dup, false), MQRC_OBJECT_ALREADY_EXISTS);
  char def[49];
  LqmDefaultQmgr(def);
  EXPECT_STREQ(def, "QM1");
  LqmStore s{};
  ASSERT_EQ(LqmStoreOpen("", &s), 0);  // the default one
  EXPECT_STREQ(s.Name, "QM1");
  std::vector<std::string> queues;
  ASSERT_EQ(LqmQueueList(&s, &queues), 0);
  // The default objects, the command server's queues among them.
  for (const char* name : {"SYSTEM.ADMIN.COMMAND.QUEUE", "SYSTEM.DEFAULT.MODEL.QUEUE",
                           "SYSTEM.DEAD.LETTER.QUEUE", "SYSTEM.CLUSTER.TRANSMIT.QUEUE"})
    EXPECT_NE(std::find(queues.begin(), queues.end(), name), queues.end()) << name;
  Insert(&s, "SYSTEM.DEAD.LETTER.QUEUE", 0, "one");  // one message keeps a queue
  EXPECT_EQ(LqmQueueDelete(&s, "SYSTEM.DEAD.LETTER.QUEUE", false), MQRC_Q_NOT_EMPTY);
  LqmStoreClose(&s);
  EXPECT_EQ(LqmStoreOpen("NOPE", &s), MQRC_Q_MGR_NAME_ERROR);
  EXPECT_EQ(LqmStoreDelete("QM1"), 0);
  LqmDefaultQmgr(def);
  EXPECT_STREQ(def, "");
  EXPECT_EQ(LqmStoreOpen("", &s), MQRC_Q_MGR_NAME_ERROR);
  EXPECT_EQ(LqmStoreDelete("QM1"), MQRC_Q_MGR_NAME_ERROR);
}

TEST_F(StoreTest, DeadConnectionsAreRolledBackLiveOnesAreNot) {
  CreateQmgr("QM1");
  DefineLocal("QM1", "Q1");
  LqmStore live{};
  ASSERT_EQ(LqmStoreOpen("QM1", &live), 0);
  ASSERT_EQ(LqmConnRegister(&live, "live"), 0);
  Insert(&live, "Q1", 0, "got-by-dead");
  Insert(&live, "Q1", 0, "live-pending", true);
  // A connection row of a process that no longer exists, holding a get
  // and a put of its unit of work.
  LqmStore dead{};
  ASSERT_EQ(LqmStoreOpen("QM1", &dead), 0);
  ASSERT_EQ(LqmConnRegister(&dead, "dead"), 0);
  LqmMatch any{};
  LqmMessage m;
  ASSERT_EQ(LqmMsgFind(&dead, "Q1", &any, &m, true), 0);
  ASSERT_EQ(LqmMsgTake(&dead, "Q1", m.Id, true), 0);
  Insert(&dead, "Q1", 0, "dead-pending", true);
  std::string sql = "UPDATE conns SET pid = 999999999 WHERE id = " + std::to_string(dead.ConnId);
  ASSERT_EQ(LqmExec(&dead, sql.c_str()), 0);
  LqmStoreClose(&dead);
  // Opening the store (as Depth does) recovers: the dead put is gone, the
  // dead get is back, the live put stays.
  EXPECT_EQ(Depth("QM1", "Q1"), 2);
  int recovered = -1;
  ASSERT_EQ(LqmRecoverDead(&live, &recovered), 0);
  EXPECT_EQ(recovered, 0);  // ...so nothing is left to do here
  ASSERT_EQ(LqmMsgFind(&live, "Q1", &any, &m, true), 0);
  EXPECT_EQ(Text(m), "got-by-dead");
  EXPECT_EQ(m.Md.BackoutCount, 1);
  // The live connection's pending put survived the recovery.
  ASSERT_EQ(LqmUowCommit(&live, nullptr), 0);
  EXPECT_EQ(Depth("QM1", "Q1"), 2);
  LqmStoreClose(&live);
}

// A process dies in the middle of committing a unit of work that put to
// another queue manager: whatever it reached, the other queue manager ends
// up agreeing with the coordinator's decision.
TEST_F(StoreTest, PreparedPutsFollowTheCoordinatorsDecision) {
  CreateQmgr("QM1");
  CreateQmgr("QM2");
  DefineLocal("QM2", "RQ");
  struct Case {
    const char *uow, *coordinator;
    bool decided;
    MQLONG depthAfter;
  } cases[] = {{"U0", "QM1", true, 1}, {"U1", "QM1", false, 0}, {"U2", "GONE", false, 0}};
  for (const Case& c : cases) {
    pid_t pid = Spawn([&]() {
      LqmStore r{}, m{};
      bool prepared = false;
      if (LqmStoreOpen("QM2", &r) != 0 || LqmConnRegister(&r, "dying") != 0) return 1;
      Insert(&r, "RQ", 0, "moved", true);
      if (LqmTxnBegin(&r) != 0 ||
          LqmTxnEnd(&r, LqmUowPrepare(&r, c.uow, c.coordinator, &prepared)) != 0 || !prepared)
        return 2;
      if (c.decided && (LqmStoreOpen(c.coordinator, &m) != 0 || LqmTxnBegin(&m) != 0 ||
                        LqmTxnEnd(&m, LqmDecisionWrite(&m, c.uow)) != 0))
        return 3;
      return 0;  // dies before finishing: no resolve, no disconnect
    });
    ASSERT_EQ(0, WaitExit(pid)) << c.uow;
    EXPECT_EQ(Depth("QM2", "RQ"), c.depthAfter) << c.uow;  // opening recovers
    LqmStore r{};
    ASSERT_EQ(LqmStoreOpen("QM2", &r), 0);
    LqmMatch any{};
    LqmMessage m;
    EXPECT_EQ(c.depthAfter ? 0 : MQRC_NO_MSG_AVAILABLE, LqmMsgFind(&r, "RQ", &any, &m, true));
    if (c.depthAfter) {
      ASSERT_EQ(0, LqmTxnBegin(&r));
      ASSERT_EQ(0, LqmTxnEnd(&r, LqmMsgTake(&r, "RQ", m.Id, false)));
    }
    LqmStoreClose(&r);
  }
}

TEST_F(StoreTest, ExpiredMessagesAreNeverFound) {
  CreateQmgr("QM1");
  DefineLocal("QM1", "Q1");
  LqmStore s{};
  ASSERT_EQ(LqmStoreOpen("QM1", &s), 0);
  Insert(&s, "Q1", 5, "short", false, 1);  // a tenth of a second
  Insert(&s, "Q1", 0, "long", false, 600);
  AgeMessages("QM1", 1000);  // a second on: only the short one is past
  LqmMatch any{};
  LqmMessage m;
  ASSERT_EQ(LqmMsgFind(&s, "Q1", &any, &m, true), 0);
  EXPECT_EQ(Text(m), "long");
  EXPECT_EQ(Depth("QM1", "Q1"), 1);  // the expired one is gone for good
  LqmStoreClose(&s);
}

// The single-byte pages, with what a character a page lacks becomes.
struct Page {
  MQLONG Ccsid;
  const char* IconvName;
  unsigned char Substitute;
};
const Page kPages[] = {
    {819, "ISO-8859-1", 0x1A}, {437, "IBM437", 0x1A}, {850, "IBM850", 0x1A},
    {37, "IBM037", 0x3F},      {500, "IBM500", 0x3F}, {1047, "IBM1047", 0x3F},
};

// `in` converted by the C library; false when it has no such converter or
// the text holds a character the target lacks.
bool Iconv(const char* from, const char* to, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string source = in;
  char buffer[64];
  char *inPtr = source.data(), *outPtr = buffer;
  size_t inLeft = source.size(), outLeft = sizeof buffer;
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
  out->assign(buffer, static_cast<size_t>(outPtr - buffer));
  return true;
}

std::string Convert(MQLONG from, MQLONG to, const std::string& in, int* rc) {
  std::vector<unsigned char> out;
  *rc =
      LqmConvertText(from, to, reinterpret_cast<const unsigned char*>(in.data()), in.size(), &out);
  return std::string(out.begin(), out.end());
}

TEST_F(StoreTest, TextConversionBetweenCodePages) {
  struct Case {
    MQLONG from, to;
    std::string in, out;
    int rc;
  } cases[] = {
      {819, 37, "Hello, World!", "\xC8\x85\x93\x93\x96\x6B\x40\xE6\x96\x99\x93\x84\x5A", 0},
      {37, 819, "\xC8\x85\x93\x93\x96", "Hello", 0},
      {1208, 819, "caf\xC3\xA9", "caf\xE9", 0},
      {819, 1208, "caf\xE9", "caf\xC3\xA9", 0},
      {1208, 819, "\xC3", "", MQRC_NOT_CONVERTED},          // cut UTF-8
      {1208, 819, "\xC0\x80", "", MQRC_NOT_CONVERTED},      // overlong
      {1208, 819, "\xED\xA0\x80", "", MQRC_NOT_CONVERTED},  // surrogate
      {819, 37, "", "", 0},
  };
  for (const Case& c : cases) {
    int rc = -1;
    EXPECT_EQ(c.out, Convert(c.from, c.to, c.in, &rc)) << c.from << "->" << c.to;
    EXPECT_EQ(c.rc, rc) << c.from << "->" << c.to;
  }
  // Only the tabled pages; nothing comes out for the others.
  struct {
    MQLONG ccsid;
    bool supported;
  } pages[] = {
      {819, true},  {1208, true}, {437, true},   {850, true},   {37, true},  {500, true},
      {1047, true}, {0, false},   {1200, false}, {1051, false}, {-1, false}, {273, false},
  };
  for (const auto& c : pages) {
    EXPECT_EQ(c.supported, LqmCcsidSupported(c.ccsid)) << c.ccsid;
    int rc = 0;
    std::string out = Convert(c.ccsid, 819, "A", &rc);
    EXPECT_EQ(c.supported ? 0 : MQRC_NOT_CONVERTED, rc) << c.ccsid;
    if (!c.supported) {
      EXPECT_EQ("", out) << c.ccsid;
    }
  }
}

// Every byte of every page reaches UTF-8 and comes back; where the C
// library has converters for the same pages, the UTF-8 is theirs. The tables
// are typed in by hand, so one wrong entry is the fault to catch.
TEST_F(StoreTest, EveryByteOfEveryPageReachesUtf8AndComesBack) {
  std::string ignored;
  bool haveIconv = std::all_of(std::begin(kPages), std::end(kPages), [&](const Page& p) {
    return Iconv(p.IconvName, "UTF-8", "A", &ignored);
  });
  for (const Page& p : kPages) {
    for (int b = 0; b < 256; ++b) {
      std::string byte(1, static_cast<char>(b)), expected;
      int rc = -1;
      std::string utf8 = Convert(p.Ccsid, 1208, byte, &rc);
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(byte, Convert(1208, p.Ccsid, utf8, &rc)) << p.Ccsid << " byte " << b;
      if (haveIconv) {
        ASSERT_TRUE(Iconv(p.IconvName, "UTF-8", byte, &expected)) << p.Ccsid << " byte " << b;
        EXPECT_EQ(expected, utf8) << p.Ccsid << " byte " << b;
      }
    }
  }
}

TEST_F(StoreTest, CharactersAPageLacksBecomeItsSubstitute) {
  // Two-, three- and four-byte UTF-8, none of them on any single-byte page.
  for (const Page& p : kPages) {
    for (const char* text : {"\xC4\x80", "\xE2\x82\xAC", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80"}) {
      int rc = -1, rcA = -1;
      std::string got = Convert(1208, p.Ccsid, std::string(text) + "A", &rc);
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(static_cast<char>(p.Substitute) + Convert(819, p.Ccsid, "A", &rcA), got)
          << p.Ccsid << " " << text;
    }
  }
}

TEST_F(StoreTest, IdentifiersAreUniqueAndCarryTheQueueManager) {
  MQBYTE a[24], b[24];
  LqmNewId("QMGR.WITH.LONG.NAME", a);
  LqmNewId("QMGR.WITH.LONG.NAME", b);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(a), 16), "AMQ QMGR.WITH.LO");
  EXPECT_NE(memcmp(a, b, 24), 0);
  char date[8], time[8];
  LqmFormatPutTime(86400000LL * 365 + 3723450, date, time);  // 1971-01-01 01:02:03.45
  EXPECT_EQ(std::string(date, 8), "19710101");
  EXPECT_EQ(std::string(time, 8), "01020345");
}

}  // namespace
