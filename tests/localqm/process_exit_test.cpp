// A process that ends without MQDISC: its unit of work is backed out and
// nothing of it is committed, whether it ends normally (the library's exit
// handler does it at once) or without running exit handlers (the next
// connect recovers it, even before the ended process is reaped). A forked
// child that exits must not touch the connection it inherited. Unloading
// the library ends its connections the same way.
//
// The store is read here with plain SQL, never through LqmStoreOpen or a
// connect, which would recover dead connections themselves and hide
// whether the exit handler did the work.
#include <dlfcn.h>
#include <signal.h>

#include "tests/localqm/lqm_test_util.h"

namespace {

class ProcessExitTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QM1", true);
    DefineLocal("QM1", "Q1");
    DefineLocal("QM1", "Q2");
  }

  long Count(const std::string& sql) { return SqlCount(root_ + "/QM1/qm.db", sql); }
  // Rows of units of work, connections and temporary dynamic queues.
  std::string Rows() {
    return "pending=" + std::to_string(Count("SELECT count(*) FROM messages WHERE conn <> 0")) +
           " conns=" + std::to_string(Count("SELECT count(*) FROM conns")) + " temp=" +
           std::to_string(Count("SELECT count(*) FROM queues WHERE name LIKE 'EXIT.%'"));
  }
  long OnQueue(const char* q) {
    return Count(std::string("SELECT count(*) FROM messages WHERE queue = '") + q + "'");
  }
};

// Whether `pid` has ended and waits to be reaped, polled for up to 10 s.
bool BecomesZombie(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  for (int i = 0; i < 1000; ++i) {
    if (FILE* f = fopen(path.c_str(), "r")) {
      char buf[512] = "";
      size_t n = fread(buf, 1, sizeof buf - 1, f);
      fclose(f);
      buf[n] = '\0';
      const char* p = strrchr(buf, ')');
      if (p != nullptr && p[1] == ' ' && p[2] == 'Z') return true;
    }
    usleep(10000);
  }
  return false;
}

// Connects, opens a temporary dynamic queue, and in one unit of work gets
// the first five messages of Q1 and puts them to Q2 and the dynamic queue.
// 0 when all of that worked.
int OpenUnitOfWork() {
  MQHCONN h;
  MQHOBJ in, out, dyn;
  if (Connect("QM1", &h) != 0 || Open(h, "Q1", MQOO_INPUT_SHARED, &in) != 0 ||
      Open(h, "Q2", MQOO_OUTPUT, &out) != 0)
    return 1;
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, "SYSTEM.DEFAULT.MODEL.QUEUE");
  SetMqField(od.DynamicQName, "EXIT.*");
  MQLONG cc, reason;
  MQOPEN(h, &od, MQOO_OUTPUT, &dyn, &cc, &reason);
  if (reason != 0) return 2;
  for (int i = 0; i < 5; ++i) {
    std::string data;
    if (Get(h, in, &data, MQGMO_SYNCPOINT) != 0) return 3;
    if (Put(h, out, data, MQPMO_SYNCPOINT) != 0 || Put(h, dyn, data, MQPMO_SYNCPOINT) != 0)
      return 4;
  }
  return 0;
}

TEST_F(ProcessExitTest, EndingWithoutDisconnectBacksTheUnitOut) {
  struct Case {
    const char* name;
    bool runsExitHandlers;  // exit() rather than _exit()
  } cases[] = {
      {"exit", true},
      {"_exit, not yet reaped", false},
  };
  for (const Case& c : cases) {
    MQHCONN h;
    MQHOBJ q1;
    ASSERT_EQ(Connect("QM1", &h), 0);
    ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT | MQOO_BROWSE | MQOO_INPUT_SHARED, &q1), 0);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(Put(h, q1, std::to_string(i)), 0);

    pid_t child = Spawn([&]() {
      int rc = OpenUnitOfWork();
      if (c.runsExitHandlers) exit(rc);
      return rc;
    });
    if (c.runsExitHandlers) {
      ASSERT_EQ(WaitExit(child), 0) << c.name;
      // Done by the exiting process itself: nobody has connected since.
      EXPECT_EQ("pending=0 conns=1 temp=0", Rows()) << c.name;
    } else {
      ASSERT_TRUE(BecomesZombie(child)) << c.name;
      // Nothing ran at the end: the unit is still there, 5 gets and 10 puts.
      EXPECT_EQ("pending=15 conns=2 temp=1", Rows()) << c.name;
      // An ended process counts as gone before its parent reaps it.
      MQHCONN next;
      ASSERT_EQ(Connect("QM1", &next), 0);
      Disconnect(&next);
      EXPECT_EQ("pending=0 conns=1 temp=0", Rows()) << c.name;
      EXPECT_EQ(WaitExit(child), 0) << c.name;
    }
    EXPECT_EQ(OnQueue("Q2"), 0) << c.name;
    // Every message is back, in order, the five taken ones counted as
    // backed out once.
    EXPECT_EQ("0/1 1/1 2/1 3/1 4/1 5/0 6/0 7/0 8/0 9/0", Browsed(h, q1)) << c.name;
    std::string data;
    while (Get(h, q1, &data, MQGMO_NO_WAIT) == 0) {
    }  // empties the queue for the next case
    Disconnect(&h);
  }
}

TEST_F(ProcessExitTest, ForkedChildExitLeavesTheParentsUnitAlone) {
  MQHCONN h;
  MQHOBJ q1, q2;
  ASSERT_EQ(Connect("QM1", &h), 0);
  ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT | MQOO_INPUT_SHARED, &q1), 0);
  ASSERT_EQ(Open(h, "Q2", MQOO_OUTPUT, &q2), 0);
  for (const char* m : {"a", "b", "c"}) ASSERT_EQ(Put(h, q1, m), 0);
  std::string data;
  ASSERT_EQ(Get(h, q1, &data, MQGMO_SYNCPOINT), 0);
  ASSERT_EQ(Put(h, q2, data, MQPMO_SYNCPOINT), 0);
  // The child inherits the connection's record and the exit handler, and
  // must leave both the unit and the database handle to the parent.
  pid_t child = Spawn([]() -> int { exit(0); });
  ASSERT_EQ(WaitExit(child), 0);
  EXPECT_EQ("pending=2 conns=1 temp=0", Rows());
  EXPECT_EQ(0, EndUnit(h, true));
  EXPECT_EQ(OnQueue("Q1"), 2);
  EXPECT_EQ(OnQueue("Q2"), 1);
  EXPECT_EQ("pending=0 conns=1 temp=0", Rows());
  Disconnect(&h);
}

TEST_F(ProcessExitTest, UnloadingTheLibraryBacksItsConnectionsOut) {
  MQHCONN h;
  MQHOBJ q1;
  ASSERT_EQ(Connect("QM1", &h), 0);
  ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT | MQOO_BROWSE, &q1), 0);
  for (const char* m : {"a", "b"}) ASSERT_EQ(Put(h, q1, m), 0);
  // The client library is not linked into this test, so closing it unloads it.
  std::string path = std::string(ZEPLO_BUILD_DIR) + "/mqinst/lib64/libmqic_r.so";
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto connx = reinterpret_cast<PFN_MQCONNX>(dlsym(lib, "MQCONNX"));
  auto openQ = reinterpret_cast<PFN_MQOPEN>(dlsym(lib, "MQOPEN"));
  auto get = reinterpret_cast<PFN_MQGET>(dlsym(lib, "MQGET"));
  ASSERT_TRUE(connx && openQ && get);
  MQCHAR48 name = "QM1";
  MQCNO cno = {MQCNO_DEFAULT};
  MQHCONN lh;
  MQHOBJ lo;
  MQLONG cc, reason;
  connx(name, &cno, &lh, &cc, &reason);
  ASSERT_EQ(reason, 0);
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, "Q1");
  openQ(lh, &od, MQOO_INPUT_SHARED, &lo, &cc, &reason);
  ASSERT_EQ(reason, 0);
  MQMD md = {MQMD_DEFAULT};
  MQGMO gmo = {MQGMO_DEFAULT};
  gmo.Options = MQGMO_SYNCPOINT | MQGMO_NO_WAIT;
  char buffer[16];
  MQLONG length = 0;
  get(lh, lo, &md, &gmo, sizeof buffer, buffer, &length, &cc, &reason);
  ASSERT_EQ(reason, 0);
  EXPECT_EQ("pending=1 conns=2 temp=0", Rows());
  ASSERT_EQ(dlclose(lib), 0);
  ASSERT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
  EXPECT_EQ("pending=0 conns=1 temp=0", Rows());
  EXPECT_EQ("a/1 b/0", Browsed(h, q1));
  Disconnect(&h);
}

}  // namespace
