// The password prompt: the terminal is switched to character-at-a-time,
// no-echo input for the reading and always put back afterwards, also when
// the read fails or a terminating signal arrives in the middle.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zeplo/mq/mq.h"
#include "zeplo/util/banned.h"

namespace {

// The signal that interrupted the prompt, 0 while none did. The handler only
// notes it; the read loop sees EINTR, stops, and the prompt restores the
// terminal before handing the signal on.
// File-scope because a signal handler can reach nothing else.
volatile sig_atomic_t gPromptSignal = 0;

const int kPromptSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
constexpr int kPromptSignalCount = sizeof kPromptSignals / sizeof kPromptSignals[0];

void NotePromptSignal(int signal) { gPromptSignal = signal; }

void Echo(FILE* echo, const char* text) {
  if (echo == nullptr) return;
  std::fputs(text, echo);
  std::fflush(echo);
}

}  // namespace

size_t ReadMaskedLine(int inFd, FILE* echo, char* buffer, size_t size) {
  // The prompt signals are let through only while waiting for a key, and
  // atomically so: a signal that arrived just before a plain read() would
  // be noted and then the read would block for ever.
  sigset_t waitMask;
  sigprocmask(SIG_SETMASK, nullptr, &waitMask);
  for (int s : kPromptSignals) sigdelset(&waitMask, s);
  size_t stored = 0;
  while (stored + 1 < size) {
    if (gPromptSignal != 0) break;
    struct pollfd ready = {inFd, POLLIN, 0};
    if (ppoll(&ready, 1, nullptr, &waitMask) < 0) {
      if (errno == EINTR && gPromptSignal == 0) continue;
      break;
    }
    if (gPromptSignal != 0) break;
    unsigned char ch;
    ssize_t n = read(inFd, &ch, 1);
    if (n < 0) {
      if (errno == EINTR && gPromptSignal == 0) continue;
      break;
    }
    if (n == 0 || ch == '\n') break;
    if (ch == 8 || ch == 127) {
      // Erase: one character less, one star less on the screen.
      if (stored > 0) {
        --stored;
        Echo(echo, "\b \b");
      }
      continue;
    }
    buffer[stored++] = static_cast<char>(ch);
    Echo(echo, "*");
  }
  buffer[stored] = '\0';
  return stored;
}

int PromptPassword(Run* run, int slot, char* buffer, size_t size) {
  buffer[0] = '\0';
  QmgrSlot* qmgr = &run->Qmgrs[slot];
  struct termios saved;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) {
    std::fputs("Password prompt not supported for non-stdin file\n", stderr);
    return MQRC_OPTIONS_ERROR;
  }
  // Catch the signals that would end the process with echo still off. No
  // SA_RESTART: the pending read must return so the terminal gets restored.
  struct sigaction previous[kPromptSignalCount];
  struct sigaction note;
  std::memset(&note, 0, sizeof note);
  note.sa_handler = NotePromptSignal;
  sigemptyset(&note.sa_mask);
  gPromptSignal = 0;
  bool caught[kPromptSignalCount];
  for (int i = 0; i < kPromptSignalCount; ++i) {
    // A signal the process ignores (a run under nohup) stays ignored.
    sigaction(kPromptSignals[i], nullptr, &previous[i]);
    caught[i] = previous[i].sa_handler != SIG_IGN;
    if (caught[i]) sigaction(kPromptSignals[i], &note, nullptr);
  }
  // Held back except while the read waits for a key (see ReadMaskedLine).
  sigset_t block, savedMask;
  sigemptyset(&block);
  for (int s : kPromptSignals) sigaddset(&block, s);
  sigprocmask(SIG_BLOCK, &block, &savedMask);

  struct termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);

  // The prompt appears only once echo is off, so nothing typed the moment
  // it shows can be echoed in clear.
  const char* user = qmgr->User != nullptr ? qmgr->User : "";
  if (qmgr->Name[0] != '\0') {
    std::fprintf(stderr, "Please enter password for QM(%s) User(%s) >", qmgr->Name, user);
  } else {
    std::fprintf(stderr, "Please enter password for User(%s) >", user);
  }
  std::fflush(stderr);

  ReadMaskedLine(STDIN_FILENO, stdout, buffer, size);

  std::fputc('\n', stdout);
  std::fflush(stdout);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  // A signal held back during the last read is noted by our handler here,
  // with the terminal already restored.
  sigprocmask(SIG_SETMASK, &savedMask, nullptr);
  for (int i = 0; i < kPromptSignalCount; ++i) {
    if (caught[i]) sigaction(kPromptSignals[i], &previous[i], nullptr);
  }

  int signal = gPromptSignal;
  gPromptSignal = 0;
  if (signal != 0) {
    // Deliver it as if it had arrived outside the prompt. If the process
    // survives it (a handler of the run), the password is incomplete.
    std::memset(buffer, 0, size);
    raise(signal);
    return MQRC_OPTIONS_ERROR;
  }
  return 0;
}
