// The password reading loop, and the prompt on a real pseudo-terminal:
// stars, erasing, and the terminal put back afterwards, also when a signal
// ends the process in the middle of the prompt.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "tests/zeplo/test_run.h"
#include "zeplo/mq/mq.h"

namespace {

struct MaskedCase {
  std::string input;
  size_t size;
  std::string password;
  std::string echo;
};

TEST(ReadMaskedLineTest, StarsErasesAndLimits) {
  const MaskedCase cases[] = {
      {"secret\n", 200, "secret", "******"},
      {"ab\x7f" "c\n", 200, "ac", "**\b \b*"},
      {"\x08\x7fxy\n", 200, "xy", "**"},  // erasing nothing does nothing
      {"x\x08\x08y\n", 200, "y", "*\b \b*"},
      {"abc", 200, "abc", "***"},  // end of input ends the password
      {"\n", 200, "", ""},
      {"a\nb\n", 200, "a", "*"},  // reading stops at the newline
      {"abcdef\n", 4, "abc", "***"},  // full buffer: cut, terminated
      {"abc\n", 1, "", ""},
      {std::string(300, 'p') + "\n", kPasswordBufferSize, std::string(199, 'p'),
       std::string(199, '*')},
  };
  for (const MaskedCase& c : cases) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    ASSERT_EQ(static_cast<ssize_t>(c.input.size()), write(fds[1], c.input.data(), c.input.size()));
    close(fds[1]);
    char* echoText = nullptr;
    size_t echoSize = 0;
    FILE* echo = open_memstream(&echoText, &echoSize);
    std::unique_ptr<char[]> buffer(new char[c.size + 1]);
    buffer[c.size] = 0x5A;  // guard byte just past the buffer
    size_t stored = ReadMaskedLine(fds[0], echo, buffer.get(), c.size);
    std::fclose(echo);
    close(fds[0]);
    EXPECT_EQ(c.password, std::string(buffer.get())) << c.input;
    EXPECT_EQ(c.password.size(), stored);
    EXPECT_EQ(c.echo, std::string(echoText, echoSize)) << c.input;
    EXPECT_EQ(0x5A, buffer[c.size]) << "wrote past the buffer";
    std::free(echoText);
  }
}

// Waits until the terminal has been switched to non-canonical input.
bool WaitForRawMode(int fd) {
  for (int i = 0; i < 5000; ++i) {
    struct termios now;
    if (tcgetattr(fd, &now) == 0 && (now.c_lflag & ICANON) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

class PromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, openpty(&master_, &slave_, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, tcgetattr(slave_, &before_));
    ASSERT_NE(0u, before_.c_lflag & ICANON);
    ASSERT_NE(0u, before_.c_lflag & ECHO);
    options_ = std::make_unique<TestRun>();
    options_->Qmgrs[0].User = "bob";
  }
  void TearDown() override {
    close(master_);
    close(slave_);
  }
  void ExpectTerminalRestored() {
    struct termios after;
    ASSERT_EQ(0, tcgetattr(slave_, &after));
    EXPECT_EQ(before_.c_lflag, after.c_lflag);
    EXPECT_EQ(before_.c_cc[VMIN], after.c_cc[VMIN]);
  }
  int master_ = -1;
  int slave_ = -1;
  struct termios before_;
  std::unique_ptr<TestRun> options_;
};

TEST_F(PromptTest, SignalsDuringPromptLeaveTheTerminalUsable) {
  struct {
    int signal;
    bool ignored;      // the process ignores it before the prompt
    int exitStatus;    // -signal when the signal ends the child
  } const kCases[] = {
      // Ending signals are run end to end; here the one the process
      // ignores (nohup), which must stay ignored: the prompt carries on.
      {SIGHUP, true, 0},
      {SIGTERM, false, -SIGTERM},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.signal);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (c.ignored) signal(c.signal, SIG_IGN);
      dup2(slave_, STDIN_FILENO);
      char password[kPasswordBufferSize];
      int rc = PromptPassword(options_.get(), 0, password, sizeof password);
      _exit(rc == 0 && std::strcmp(password, "ok") == 0 ? 0 : 3);
    }
    ASSERT_TRUE(WaitForRawMode(slave_));
    kill(child, c.signal);
    if (c.ignored) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ssize_t n = write(master_, "ok\n", 3);
      (void)n;
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    int result = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    EXPECT_EQ(c.exitStatus, result);
    ExpectTerminalRestored();
  }
}

}  // namespace
