// End-to-end test harness: runs the real zeplo binary (and localqm's admin
// command) as child processes and hands back what they did.
//
// Every test gets its own scratch directory, created empty on first use
// under <build>/e2e-scratch/<executable>/<Suite>.<Test> and left in place
// afterwards for inspection. Children run with that directory as their
// working directory, LOCALQM_ROOT pointing at its "localqm" subdirectory and
// MQ_INSTALLATION_PATH at the build's MQ-shaped tree, so no test sees
// another test's queue managers or files, nor the user's own.
//
// Children never hang a test: each run has a time limit after which the
// child is killed (exitStatus -SIGKILL, and a "[e2e] timed out" line at the
// end of err).
//
// Usage:
//   RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-f", "q1.txt"});
//   EXPECT_EQ(0, r.exitStatus) << r.err;
//   ASSERT_EQ(0, RunLocalqm({"create", "QM1", "--default"}).exitStatus);
//   PtySession pty;  // for prompts and paging
//   ASSERT_TRUE(PtyStart(&pty, ZeploPath(), {"-?"}));
//   ASSERT_TRUE(PtyWaitFor(&pty, "More <Press Enter>..."));
//   PtySend(&pty, "\n");
//   EXPECT_EQ(2046, PtyFinish(&pty));
#ifndef ZEPLO_TESTS_E2E_E2E_UTIL_H_
#define ZEPLO_TESTS_E2E_E2E_UTIL_H_

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_text.h"

// What a finished child did. exitStatus is the exit status (0-255), or the
// negated signal number when a signal ended it (-6 for an abort, -9 when
// the harness killed it at its time limit).
struct RunResult {
  int exitStatus;
  std::string out;
  std::string err;
};

// Default time limit of one child, in milliseconds (sanitizer builds are
// slow; a hung child still fails the test in bounded time).
constexpr int kDefaultRunTimeoutMs = 120000;

// Paths inside the build tree.
std::string ZeploPath();         // <build>/bin/zeplo
std::string LocalqmPath();       // <build>/mqinst/bin/localqm
std::string MqInstallPath();     // <build>/mqinst
std::string SourcePath(const std::string& relative);  // <source>/relative

// The current test's scratch directory, created empty on the first call of
// each test (anything left by an earlier run of the same test is removed).
// Outside a running test it is <build>/e2e-scratch/<executable>/global.
std::string ScratchDir();
// ScratchDir()/localqm: the LOCALQM_ROOT that children get by default.
std::string LocalqmRoot();
// ScratchDir()/name, for files the test writes or reads.
std::string ScratchPath(const std::string& name);

// Runs path with args (argv[0] is the path itself), writing stdinText to
// its standard input and then closing it, and collecting standard output
// and standard error until it exits. env entries "NAME=value" set or
// replace a variable, an entry "NAME" without "=" removes it; they apply
// after the defaults above (LOCALQM_ROOT, MQ_INSTALLATION_PATH; LINES,
// COLUMNS and the other variables that change zeplo's behaviour are
// removed unless given here). The working directory is ScratchDir().
RunResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                     const std::string& stdinText = "", const std::vector<std::string>& env = {},
                     int timeoutMs = kDefaultRunTimeoutMs);

// RunProgram on the zeplo binary. When the binary is missing the test fails
// at once with a message naming the path (exitStatus 127).
RunResult RunZeplo(const std::vector<std::string>& args, const std::string& stdinText = "",
                   const std::vector<std::string>& env = {});

// localqm's admin command with LOCALQM_ROOT=root ("" = LocalqmRoot()).
RunResult RunLocalqm(const std::vector<std::string>& args, const std::string& stdinText = "",
                     const std::string& root = "");
// RunLocalqm that must succeed: on a non-zero exit the test gets a failure
// naming the command and its standard error. Returns its standard output.
std::string LocalqmOrFail(const std::vector<std::string>& args, const std::string& stdinText = "",
                          const std::string& root = "");

// Whole-file helpers for fixtures and results. ReadFileText returns "" for
// a missing file; FileExists tells the two apart.
std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

// A zeplo run on a thread of its own, for the cases where the test acts
// while the program runs (waits for messages, sleeps between them).
// Finish() joins it and returns what RunZeplo returned.
class BackgroundRun {
 public:
  explicit BackgroundRun(std::vector<std::string> args) {
    ScratchDir();  // created here, on the test's thread
    start_ = std::chrono::steady_clock::now();
    thread_ = std::thread([this, args] {
      result_ = RunZeplo(args);
      seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      done_ = true;
    });
  }
  ~BackgroundRun() {
    if (thread_.joinable()) thread_.join();
  }
  const RunResult& Finish() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }
  bool Done() const { return done_; }
  double Seconds() const { return seconds_; }

 private:
  std::thread thread_;
  RunResult result_{-1000, "", ""};
  std::chrono::steady_clock::time_point start_;
  double seconds_ = 0;
  std::atomic<bool> done_{false};
};

// Polls condition every 10 ms until it is true or timeoutMs have passed;
// returns its last value. Use instead of sleeping.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

// Splits text into lines (without their "\n"); a final line without a
// newline counts, an empty text has no lines.
std::vector<std::string> SplitLines(const std::string& text);

// Whether `part` occurs in `text`.
bool Has(const std::string& text, const std::string& part);

// The data of every message in the message file ScratchPath(name), in
// file order, decoded from its X lines (a file still being written gives
// the messages begun so far).
std::vector<std::string> FileMessages(const std::string& name);

// One message as localqm's admin command lists it: field name -> value.
using MessageFields = std::map<std::string, std::string>;

// Every message of `queue` on `qmgr`, in delivery order, from `localqm
// browse` (with --hex when `hex`, so the data is "DataHex"). Fails the
// test when the admin command fails.
std::vector<MessageFields> BrowseMessages(const std::string& qmgr, const std::string& queue,
                                          bool hex = false);

// The exit status a run ending with MQ reason `reason` shows: its low 8
// bits, or 255 when those are all 0 (a failure never exits 0).
constexpr int Status(int reason) {
  return reason == 0 ? 0 : (reason & 0xFF) != 0 ? reason & 0xFF : 255;
}

// Standard error after the banner (its lines end at the first empty line).
std::string AfterBanner(const std::string& err);

// A fresh default queue manager QM1 with local queues (Q1 unless a
// fixture names others), made anew for every test, and what the tests ask
// of its queues. Every call fails the test when the admin command fails.
class QueueTest : public ::testing::Test {
 protected:
  explicit QueueTest(std::vector<std::string> queues = {"Q1"}) : queues_(std::move(queues)) {}
  void SetUp() override;
  // Each text as a message (format MQSTR) on `queue` of QM1.
  static void Put(const std::vector<std::string>& texts, const std::string& queue = "Q1");
  // The number of messages on `queue` of `qmgr`.
  static int Depth(const std::string& queue = "Q1", const std::string& qmgr = "QM1");
  // The data of every message on `queue` of `qmgr`, in delivery order.
  static std::vector<std::string> QueueData(const std::string& queue = "Q1",
                                            const std::string& qmgr = "QM1");

 private:
  std::vector<std::string> queues_;
};

// ---- Pseudo-terminal runs ---------------------------------------------
//
// A child on a pseudo-terminal of the given size: its standard input,
// output and error are the terminal, so isatty() holds and the terminal
// size is what TIOCGWINSZ reports. Echo of typed keys is off unless asked
// for, so output holds only what the program wrote. The terminal turns
// each "\n" the program writes into "\r\n"; output keeps what arrived and
// PtyText() gives it with every "\r\n" made "\n", which is what
// PtyWaitFor searches.
struct PtySession {
  pid_t pid = -1;
  int master = -1;
  std::string output;   // everything read from the terminal so far
  size_t consumed = 0;  // offset in PtyText(); PtyWaitFor matches after it
  int exitStatus = -1000;  // set by PtyFinish

  PtySession() = default;
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;
  // A test that stops early (a failed ASSERT) still ends its child.
  ~PtySession();
};

struct PtyOptions {
  unsigned short rows = 24;
  unsigned short cols = 80;
  bool echo = false;
  std::vector<std::string> env;  // as for RunProgram
};

// Starts path with args on a new pseudo-terminal. Returns false (with a
// test failure) when the terminal or the process cannot be made.
bool PtyStart(PtySession* session, const std::string& path, const std::vector<std::string>& args,
              const PtyOptions& options = PtyOptions());

// Reads output until text appears in PtyText() after session->consumed
// (then consumed moves past it and true is returned), the child closes the
// terminal, or timeoutMs pass (false).
bool PtyWaitFor(PtySession* session, const std::string& text, int timeoutMs = 20000);

// Writes keys to the terminal as typed ("\n" is Enter).
void PtySend(PtySession* session, const std::string& keys);

// Collects the remaining output until the child exits; kills it when it
// has not exited after timeoutMs. Returns (and stores) the exit status as
// RunResult::exitStatus does. Safe to call twice.
int PtyFinish(PtySession* session, int timeoutMs = 20000);

// The output so far with "\r\n" turned into "\n".
std::string PtyText(const PtySession& session);

#endif  // ZEPLO_TESTS_E2E_E2E_UTIL_H_
