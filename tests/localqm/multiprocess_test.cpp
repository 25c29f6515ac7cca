// Several processes on one queue manager: a producer and consumers moving
// 10,000 messages, a process killed inside a unit of work, and getters
// woken by another process's put.
#include <signal.h>
#include <time.h>

#include <algorithm>

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
};

// What the children report goes through pipes a few bytes at a time: each
// write is atomic (below PIPE_BUF), whole or failed.
template <typename T>
bool Send(int fd, const T& value) {
  return write(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

constexpr int kMessages = 10000;

TEST_F(MultiProcessTest, ProducerAndTwoConsumersLoseAndDuplicateNothing) {
  int pipes[2][2];
  ASSERT_EQ(pipe(pipes[0]), 0);
  ASSERT_EQ(pipe(pipes[1]), 0);
  auto consumer = [&](int index) {
    return Spawn([&, index]() {
      close(pipes[index][0]);
      MQHCONN h;
      MQHOBJ o;
      if (Connect("QM1", &h) != 0 || Open(h, "Q1", MQOO_INPUT_SHARED, &o) != 0) return 10;
      for (;;) {
        std::string data;
        // Gets under syncpoint, committed every 50 messages and at the end.
        MQLONG r = Get(h, o, &data, MQGMO_WAIT | MQGMO_SYNCPOINT, nullptr, 64, 3000);
        if (r == MQRC_NO_MSG_AVAILABLE) break;
        if (r != 0) return 11;
        int n = atoi(data.c_str());
        if (!Send(pipes[index][1], n)) return 12;
        static int sinceCommit = 0;
        if (++sinceCommit % 50 == 0 && EndUnit(h, true) != 0) return 13;
      }
      MQLONG cc, reason;
      MQDISC(&h, &cc, &reason);  // commits the last part
      return reason == 0 ? 0 : 14;
    });
  };
  pid_t c0 = consumer(0);
  pid_t c1 = consumer(1);
  pid_t producer = Spawn([]() {
    MQHCONN h;
    MQHOBJ o;
    if (Connect("QM1", &h) != 0 || Open(h, "Q1", MQOO_OUTPUT, &o) != 0) return 20;
    for (int i = 0; i < kMessages; ++i) {
      char text[16];
      snprintf(text, sizeof text, "%d", i);
      if (Put(h, o, text, MQPMO_SYNCPOINT) != 0) return 21;
      if (i % 200 == 199 && EndUnit(h, true) != 0) return 22;
    }
    MQLONG cc, reason;
    MQDISC(&h, &cc, &reason);
    return reason == 0 ? 0 : 23;
  });
  close(pipes[0][1]);
  close(pipes[1][1]);
  std::vector<int> seen;
  for (int c = 0; c < 2; ++c) {
    int n;
    while (read(pipes[c][0], &n, sizeof n) == static_cast<ssize_t>(sizeof n)) seen.push_back(n);
    close(pipes[c][0]);
  }
  EXPECT_EQ(WaitExit(producer), 0);
  EXPECT_EQ(WaitExit(c0), 0);
  EXPECT_EQ(WaitExit(c1), 0);
  std::sort(seen.begin(), seen.end());
  ASSERT_EQ(seen.size(), static_cast<size_t>(kMessages));
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "a duplicate";
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), kMessages - 1);
  EXPECT_EQ(Depth("QM1", "Q1"), 0);
}

TEST_F(MultiProcessTest, KilledInsideAUnitOfWorkPutsEverythingBack) {
  MQHCONN h;
  MQHOBJ o;
  ASSERT_EQ(Connect("QM1", &h), 0);
  ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT | MQOO_BROWSE, &o), 0);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Put(h, o, std::to_string(i)), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t victim = Spawn([&]() {
    MQHCONN vh;
    MQHOBJ in, out;
    if (Connect("QM1", &vh) != 0 || Open(vh, "Q1", MQOO_INPUT_SHARED, &in) != 0 ||
        Open(vh, "Q2", MQOO_OUTPUT, &out) != 0)
      return 1;
    for (int i = 0; i < 5; ++i) {
      std::string data;
      if (Get(vh, in, &data, MQGMO_SYNCPOINT) != 0) return 2;
      if (Put(vh, out, data, MQPMO_SYNCPOINT) != 0) return 3;
    }
    if (!Send(ready[1], 'r')) return 4;
    pause();
    return 5;
  });
  close(ready[1]);
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  // While the victim lives its unit of work is untouched by anyone else.
  std::string data;
  EXPECT_EQ(Get(h, o, &data, MQGMO_BROWSE_FIRST), 0);
  EXPECT_EQ(data, "5");
  MQHCONN other;
  ASSERT_EQ(Connect("QM1", &other), 0);  // a connect recovers only the dead
  Disconnect(&other);
  EXPECT_EQ(Depth("QM1", "Q2"), 5);
  ASSERT_EQ(kill(victim, SIGKILL), 0);
  EXPECT_EQ(WaitExit(victim), 128 + SIGKILL);
  // The next use of the queue manager backs the dead unit of work out.
  ASSERT_EQ(Connect("QM1", &other), 0);
  Disconnect(&other);
  EXPECT_EQ(Depth("QM1", "Q2"), 0);
  EXPECT_EQ(Depth("QM1", "Q1"), 10);
  // In order, the five the victim took counted as backed out once.
  EXPECT_EQ("0/1 1/1 2/1 3/1 4/1 5/0 6/0 7/0 8/0 9/0", Browsed(h, o));
  Disconnect(&h);
}

int64_t NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
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
  } cases[] = {
      {5000, 300, 0},
      {MQWI_UNLIMITED, 200, 0},
      {300, -1, MQRC_NO_MSG_AVAILABLE},
  };
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
