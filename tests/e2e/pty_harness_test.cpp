// The end-to-end harness itself, run against the shell: every other e2e
// test trusts what it reports, so its statuses, streams, environment,
// time limits and terminal handling are checked here.
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_util.h"

namespace {

const std::string kShell = "/bin/sh";

long long ElapsedMs(const struct timespec& start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
}

struct ShellCase {
  const char* script;
  std::string stdinText;
  int exitStatus;
  std::string out;
  std::string err;
};

TEST(Harness, StatusStreamsAndInput) {
  const std::string big(1 << 20, 'x');  // beyond any pipe buffer
  const ShellCase cases[] = {
      {"echo out; echo err >&2; exit 3", "", 3, "out\n", "err\n"},
      {"cat", "abc\ndef", 0, "abc\ndef", ""},
      {"wc -c", big, 0, "1048576\n", ""},
      {"exit 0", big, 0, "", ""},  // input never read: no hang, no SIGPIPE
      {"kill -ABRT $$", "", -6, "", ""},
      {"exit 254", "", 254, "", ""},
      // Both streams beyond a pipe buffer at once: no deadlock.
      {"head -c 70000 /dev/zero | tr '\\0' o; head -c 90000 /dev/zero | tr '\\0' e >&2", "", 0,
       std::string(70000, 'o'), std::string(90000, 'e')},
  };
  for (const ShellCase& c : cases) {
    RunResult r = RunProgram(kShell, {"-c", c.script}, c.stdinText);
    EXPECT_EQ(c.exitStatus, r.exitStatus) << c.script;
    EXPECT_EQ(c.out, r.out) << c.script;
    EXPECT_EQ(c.err, r.err) << c.script;
  }
}

TEST(Harness, HungChildIsKilledAtItsLimit) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  RunResult r = RunProgram(kShell, {"-c", "echo started; exec sleep 60"}, "", {}, 300);
  EXPECT_LT(ElapsedMs(start), 10000);
  EXPECT_EQ(-9, r.exitStatus);
  EXPECT_EQ("started\n", r.out);
  EXPECT_NE(std::string::npos, r.err.find("[e2e] timed out after 300 ms"));
}

TEST(Harness, EnvironmentAndDirectory) {
  setenv("LINES", "77", 1);
  setenv("E2E_HARNESS_PROBE", "inherited", 1);
  const char* script =
      "pwd; echo \"$LOCALQM_ROOT|$MQ_INSTALLATION_PATH|${LINES-unset}|${E2E_HARNESS_PROBE-unset}\"";
  struct {
    std::vector<std::string> env;
    std::string variables;
  } cases[] = {
      {{}, LocalqmRoot() + "|" + MqInstallPath() + "|unset|inherited"},
      {{"LINES=5"}, LocalqmRoot() + "|" + MqInstallPath() + "|5|inherited"},
      {{"E2E_HARNESS_PROBE", "LOCALQM_ROOT=/elsewhere"}, "/elsewhere|" + MqInstallPath() + "|unset|unset"},
  };
  for (const auto& c : cases) {
    RunResult r = RunProgram(kShell, {"-c", script}, "", c.env);
    EXPECT_EQ(ScratchDir() + "\n" + c.variables + "\n", r.out);
  }
  unsetenv("LINES");
  unsetenv("E2E_HARNESS_PROBE");
}

TEST(Harness, ScratchDirectoryIsPerTestAndFresh) {
  EXPECT_NE(std::string::npos, ScratchDir().find("/Harness.ScratchDirectoryIsPerTestAndFresh"));
  EXPECT_TRUE(FileExists(LocalqmRoot()));
  EXPECT_FALSE(FileExists(ScratchPath("leftover")));  // from an earlier run of this test
  ASSERT_TRUE(WriteFileText(ScratchPath("leftover"), "x\ny"));
  EXPECT_EQ((std::vector<std::string>{"x", "y"}), SplitLines(ReadFileText(ScratchPath("leftover"))));
}

TEST(Harness, PtyIsATerminalOfTheGivenSize) {
  PtySession pty;
  PtyOptions options;
  options.rows = 30;
  options.cols = 100;
  ASSERT_TRUE(PtyStart(&pty, kShell, {"-c", "test -t 0 && test -t 2 && echo tty; stty size"}, options));
  EXPECT_EQ(0, PtyFinish(&pty));
  EXPECT_EQ("tty\n30 100\n", PtyText(pty));
}

TEST(Harness, PtyKeysWithAndWithoutEcho) {
  for (bool echo : {false, true}) {
    PtySession pty;
    PtyOptions options;
    options.echo = echo;
    ASSERT_TRUE(PtyStart(&pty, kShell, {"-c", "echo ready; read x; echo got $x"}, options));
    ASSERT_TRUE(PtyWaitFor(&pty, "ready\n"));
    PtySend(&pty, "hello\n");
    ASSERT_TRUE(PtyWaitFor(&pty, "got hello")) << PtyText(pty);
    EXPECT_EQ(0, PtyFinish(&pty));
    EXPECT_EQ(echo ? "ready\nhello\ngot hello\n" : "ready\ngot hello\n", PtyText(pty));
  }
}

TEST(Harness, PtyWaitsAreBounded) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  {
    PtySession pty;
    ASSERT_TRUE(PtyStart(&pty, kShell, {"-c", "echo a; exec sleep 60"}));
    EXPECT_FALSE(PtyWaitFor(&pty, "never", 300));
    EXPECT_EQ(-9, PtyFinish(&pty, 300));
  }
  {
    // The child ends without the text: the wait stops with it.
    PtySession pty;
    ASSERT_TRUE(PtyStart(&pty, kShell, {"-c", "exit 7"}));
    EXPECT_FALSE(PtyWaitFor(&pty, "never", 60000));
    EXPECT_EQ(7, PtyFinish(&pty));
    EXPECT_EQ(7, PtyFinish(&pty));  // twice is harmless
  }
  {
    PtySession pty;  // abandoned mid-run: the destructor ends the child
    ASSERT_TRUE(PtyStart(&pty, kShell, {"-c", "exec sleep 60"}));
  }
  EXPECT_LT(ElapsedMs(start), 15000);
}

}  // namespace
