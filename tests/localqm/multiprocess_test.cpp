// Several processes on one queue manager: a producer and consumers moving
// 10,000 messages, getters woken by another process's put, and a process
// that ends without MQDISC: its unit of work is backed out and nothing of
// it is committed, whether it ends normally (the library's exit handler
// does it at once), without running exit handlers (the next connect
// recovers it, even before the ended process is reaped) or killed while
// the others go on. A forked child that exits must not touch the
// connection it inherited. Unloading the library ends its connections the
// same way.
//
// The store is read here with plain SQL, never through LqmStoreOpen or a
// connect, which would recover dead connections themselves and hide
// whether the exit handler did the work.
#include <dlfcn.h>
#include <signal.h>

#include <algorithm>
#include <chrono>

#include "tests/localqm/lqm_test_util.h"

namespace {

class MultiProcessTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QM1", true);
    DefineLocal("QM1", "Q1", 100000);
    DefineLocal("QM1", "Q2", 100000);
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

// What the children report goes through pipes a few bytes at a time: each
// write is atomic (below PIPE_BUF), whole or failed.
template <typename T>
bool Send(int fd, const T& value) {
  return write(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

constexpr int kMessages = 10000;

TEST_F(MultiProcessTest, ProducerAndTwoConsumersLoseAndDuplicateNothing) {
  int got[2];  // what the consumers got, one int per message
  ASSERT_EQ(pipe(got), 0);
  auto consumer = [&]() {
    MQHCONN h;
    MQHOBJ o;
    if (Connect("QM1", &h) != 0 || Open(h, "Q1", MQOO_INPUT_SHARED, &o) != 0) return 10;
    std::string data;
    // Gets under syncpoint, committed every 50 messages and at the end.
    for (int n = 1;; ++n) {
      MQLONG r = Get(h, o, &data, MQGMO_WAIT | MQGMO_SYNCPOINT, nullptr, 64, 3000);
      if (r == MQRC_NO_MSG_AVAILABLE) break;
      if (r != 0 || !Send(got[1], atoi(data.c_str()))) return 11;
      if (n % 50 == 0 && EndUnit(h, true) != 0) return 12;
    }
    MQLONG cc, reason;
    MQDISC(&h, &cc, &reason);  // commits the last part
    return reason == 0 ? 0 : 13;
  };
  pid_t consumers[] = {Spawn(consumer), Spawn(consumer)};
  pid_t producer = Spawn([]() {
    MQHCONN h;
    MQHOBJ o;
    if (Connect("QM1", &h) != 0 || Open(h, "Q1", MQOO_OUTPUT, &o) != 0) return 20;
    for (int i = 0; i < kMessages; ++i) {
      if (Put(h, o, std::to_string(i), MQPMO_SYNCPOINT) != 0) return 21;
      if (i % 200 == 199 && EndUnit(h, true) != 0) return 22;
    }
    MQLONG cc, reason;
    MQDISC(&h, &cc, &reason);
    return reason == 0 ? 0 : 23;
  });
  close(got[1]);
  std::vector<int> seen;
  for (int n; read(got[0], &n, sizeof n) == static_cast<ssize_t>(sizeof n);) seen.push_back(n);
  close(got[0]);
  for (pid_t c : consumers) EXPECT_EQ(WaitExit(c), 0);
  EXPECT_EQ(WaitExit(producer), 0);
  std::sort(seen.begin(), seen.end());
  ASSERT_EQ(seen.size(), static_cast<size_t>(kMessages));
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "a duplicate";
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), kMessages - 1);
  EXPECT_EQ(Depth("QM1", "Q1"), 0);
}

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

TEST_F(MultiProcessTest, EndingWithoutDisconnectBacksTheUnitOut) {
  enum How { kExit, kUnreaped, kKilled };
  struct Case {
    const char* name;
    How how;  // exit(), which runs exit handlers; _exit(); or SIGKILL while others go on
  } cases[] = {{"exit", kExit}, {"_exit, not yet reaped", kUnreaped}, {"killed", kKilled}};
  for (const Case& c : cases) {
    MQHCONN h, next;
    MQHOBJ q1;
    ASSERT_EQ(Connect("QM1", &h), 0);
    ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT | MQOO_BROWSE | MQOO_INPUT_SHARED, &q1), 0);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(Put(h, q1, std::to_string(i)), 0);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = Spawn([&]() {
      int rc = OpenUnitOfWork();
      if (c.how == kExit) exit(rc);
      if (c.how == kKilled && rc == 0 && Send(ready[1], 'r')) pause();
      return rc;
    });
    close(ready[1]);
    std::string data;
    if (c.how == kExit) {
      ASSERT_EQ(WaitExit(child), 0) << c.name;
      // Done by the exiting process itself: nobody has connected since.
      EXPECT_EQ("pending=0 conns=1 temp=0", Rows()) << c.name;
    } else {
      if (c.how == kKilled) {
        char r;
        ASSERT_EQ(read(ready[0], &r, 1), 1) << c.name;
        // While it lives its unit of work is untouched by anyone else.
        ASSERT_EQ(Connect("QM1", &next), 0);  // a connect recovers only the dead
        Disconnect(&next);
        EXPECT_EQ(Depth("QM1", "Q2"), 5);
        EXPECT_EQ(Get(h, q1, &data, MQGMO_BROWSE_FIRST), 0);
        EXPECT_EQ(data, "5");
        ASSERT_EQ(kill(child, SIGKILL), 0);
        EXPECT_EQ(WaitExit(child), 128 + SIGKILL);
      } else {
        ASSERT_TRUE(BecomesZombie(child)) << c.name;
      }
      // Nothing ran at the end: the unit is still there, 5 gets and 10 puts.
      EXPECT_EQ("pending=15 conns=2 temp=1", Rows()) << c.name;
      // An ended process counts as gone before its parent reaps it.
      ASSERT_EQ(Connect("QM1", &next), 0);
      Disconnect(&next);
      EXPECT_EQ("pending=0 conns=1 temp=0", Rows()) << c.name;
      if (c.how == kUnreaped) {
        EXPECT_EQ(WaitExit(child), 0) << c.name;
      }
    }
    close(ready[0]);
    EXPECT_EQ(OnQueue("Q2"), 0) << c.name;
    // Every message is back, in order, the five taken ones counted as
    // backed out once.
    EXPECT_EQ("0/1 1/1 2/1 3/1 4/1 5/0 6/0 7/0 8/0 9/0", Browsed(h, q1)) << c.name;
    while (Get(h, q1, &data, MQGMO_NO_WAIT) == 0) {
    }  // empties the queue for the next case
    Disconnect(&h);
  }
}

// A forked child that exits, and the client library unloaded, each end only
// their own connections: the parent's unit of work is left to the parent.
TEST_F(MultiProcessTest, ForkedChildAndUnloadedLibraryLeaveTheParentsUnitAlone) {
  MQHCONN h;
  MQHOBJ q1, q2;
  ASSERT_EQ(Connect("QM1", &h), 0);
  ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_BROWSE, &q1), 0);
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
  EXPECT_EQ("pending=3 conns=2 temp=0", Rows());
  ASSERT_EQ(dlclose(lib), 0);
  ASSERT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
  EXPECT_EQ("pending=2 conns=1 temp=0", Rows());
  EXPECT_EQ(0, EndUnit(h, true));
  EXPECT_EQ(OnQueue("Q1"), 2);
  EXPECT_EQ(OnQueue("Q2"), 1);
  EXPECT_EQ("pending=0 conns=1 temp=0", Rows());
  EXPECT_EQ("b/1 c/0", Browsed(h, q1));
  Disconnect(&h);
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

TEST_F(MultiProcessTest, WaitingGetIsWokenByAnotherProcessesPut) {
  MQHCONN h;
  MQHOBJ o;
  ASSERT_EQ(Connect("QM1", &h), 0);
  ASSERT_EQ(Open(h, "Q1", MQOO_INPUT_SHARED, &o), 0);
  struct Case {
    MQLONG wait;      // the getter's WaitInterval
    int putAfterMs;   // -1: nobody puts
    MQLONG reason;
  } cases[] = {{5000, 300, 0}, {MQWI_UNLIMITED, 200, 0}, {300, -1, MQRC_NO_MSG_AVAILABLE}};
  for (const Case& c : cases) {
    int stamp[2];
    ASSERT_EQ(pipe(stamp), 0);
    pid_t putter = -1;
    if (c.putAfterMs >= 0) {
      putter = Spawn([&]() {
        close(stamp[0]);
        usleep(static_cast<useconds_t>(c.putAfterMs) * 1000);
        MQHCONN ph;
        MQHOBJ po;
        if (Connect("QM1", &ph) != 0 || Open(ph, "Q1", MQOO_OUTPUT, &po) != 0) return 1;
        if (Put(ph, po, "wake") != 0) return 2;
        return Send(stamp[1], NowMs()) ? 0 : 3;
      });
    }
    close(stamp[1]);
    int64_t start = NowMs();
    std::string data;
    EXPECT_EQ(Get(h, o, &data, MQGMO_WAIT, nullptr, 64, c.wait), c.reason);
    int64_t end = NowMs();
    if (c.putAfterMs >= 0) {
      int64_t putAt = 0;
      ASSERT_EQ(read(stamp[0], &putAt, sizeof putAt), static_cast<ssize_t>(sizeof putAt));
      EXPECT_EQ(WaitExit(putter), 0);
      EXPECT_EQ(data, "wake");
      // Woken within a few milliseconds of the put, not by polling.
      EXPECT_LT(end - putAt, 250) << "latency";  // polling would take up to 500
      EXPECT_GE(end - start, c.putAfterMs - 20);
    } else {
      EXPECT_GE(end - start, c.wait - 20);
      EXPECT_LT(end - start, c.wait + 700);
    }
    close(stamp[0]);
  }
  Disconnect(&h);
}

}  // namespace
