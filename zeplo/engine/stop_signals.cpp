// SIGINT, SIGTERM and SIGHUP end a run at the next message boundary rather
// than in the middle of a unit of work: the run backs the unit out, puts
// the output file back as it was at the last commit and reports, instead
// of leaving the file holding messages that also return to their queue.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "zeplo/engine/engine.h"
#include "zeplo/mq/mq.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// The signal received, 0 for none. Only the handler writes it (and
// CatchStopSignals clears it): a signal handler can reach no Run, so this
// one flag is the process's own. An atomic rather than a volatile
// sig_atomic_t: while several queues are consumed, the library's thread
// reads it while the handler may be writing it on the main thread. A
// lock-free atomic is safe to store to from a handler.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signo) { gStopSignal.store(signo); }

const char* SignalName(int signo) {
  switch (signo) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal";
  }
}

}  // namespace

void CatchStopSignals() {
  gStopSignal.store(0);  // a run of its own (several runs may share a process)
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a prompt waiting for an answer gives up at once. The
  // handler is used once: a second signal ends the process the usual way
  // (for a run stuck in a call that never returns).
  action.sa_flags = SA_RESETHAND;
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int signo : signals) sigaction(signo, &action, nullptr);
}

int PendingStopSignal() { return gStopSignal.load(); }

int StopForSignal(Run* run) {
  int signo = gStopSignal.load();
  // Outranks whatever informational text is set (so not SetExitMessage,
  // where the first text sticks): the signal is why the run ends.
  snprintf(run->ExitMessage, sizeof run->ExitMessage,
           "Stopped by signal %d (%s) at a message boundary", signo, SignalName(signo));
  run->StopRequested = true;
  return MQRC_CALL_INTERRUPTED;
}
