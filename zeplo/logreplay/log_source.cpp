// Where the log text comes from: a formatted file, or a dmpmqlog child
// process read through a pipe; and the line reader over either.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "zeplo/cs/cs.h"
#include "zeplo/logreplay/logreplay_internal.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int kRefused = 2046;      // MQRC_OPTIONS_ERROR
constexpr int kFileError = 2208;    // MQRC_FILE_SYSTEM_ERROR
constexpr int kSystemError = 2195;  // MQRC_UNEXPECTED_ERROR
constexpr int kNoStorage = 2071;    // MQRC_STORAGE_NOT_AVAILABLE

// Collects the formatter's exit status once its output has ended (or it
// was told to stop); an exit other than 0, or a signal, is a failure
// unless `stopped` says it was ended on purpose.
void WaitForFormatter(Run* run, LogReplay* lr, bool stopped) {
  if (lr->Child <= 0) return;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(lr->Child, &status, 0);
  } while (r < 0 && errno == EINTR);
  lr->Child = 0;
  if (r <= 0 || stopped) return;
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    ReportMessage(run, "DMPMQLOG ended with exit status %d.\n", WEXITSTATUS(status));
    lr->SourceFailed = true;
  } else if (WIFSIGNALED(status)) {
    ReportMessage(run, "DMPMQLOG was ended by signal %d.\n", WTERMSIG(status));
    lr->SourceFailed = true;
  }
}

// Refills the read-ahead. False at the end of the input or after a read
// error (reported; the source then counts as failed).
bool FillAhead(Run* run, LogReplay* lr) {
  ssize_t n;
  do {
    n = read(lr->Fd, lr->Ahead, sizeof lr->Ahead);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    ReportMessage(run, "Error reading the log : %s\n", strerror(errno));
    lr->SourceFailed = true;
  }
  lr->AheadStart = 0;
  lr->AheadEnd = n > 0 ? static_cast<int32_t>(n) : 0;
  return n > 0;
}

// Makes the next physical line current, without its LF (and a CR before
// it), keeping at most kLogLineLength characters. False when the input
// holds no more.
bool NextPhysicalLine(Run* run, LogReplay* lr) {
  size_t kept = 0;
  bool any = false;
  for (;;) {
    if (lr->AheadStart == lr->AheadEnd && !FillAhead(run, lr)) break;
    const char* from = lr->Ahead + lr->AheadStart;
    size_t available = static_cast<size_t>(lr->AheadEnd - lr->AheadStart);
    const char* lf = static_cast<const char*>(memchr(from, '\n', available));
    size_t take = lf != nullptr ? static_cast<size_t>(lf - from) : available;
    size_t copy = take < kLogLineLength - kept ? take : kLogLineLength - kept;
    memcpy(lr->Line + kept, from, copy);
    kept += copy;
    lr->AheadStart += static_cast<int32_t>(take + (lf != nullptr ? 1 : 0));
    any = true;
    if (lf != nullptr) break;
  }
  if (kept > 0 && lr->Line[kept - 1] == '\r') kept--;
  lr->Line[kept] = '\0';
  lr->LineLength = static_cast<int32_t>(kept);
  return any;
}

bool IsProgressMessage(const LogReplay* lr) {
  return LineStarts(lr, "AMQ7701") || LineStarts(lr, "AMQ7714") || LineStarts(lr, "AMQ7702");
}

}  // namespace

bool ReadLogLine(Run* run, LogReplay* lr) {
  if (lr->LineHeld) {
    lr->LineHeld = false;
    return true;
  }
  while (lr->SourceOpen && !lr->EndOfInput) {
    if (!NextPhysicalLine(run, lr)) {
      lr->EndOfInput = true;
      WaitForFormatter(run, lr, false);
      break;
    }
    lr->LineNumber++;
    if (!lr->FromFile) LogTick(run, lr);
    if (!LineStarts(lr, "AMQ")) return true;
    // The formatter's own messages: shown as text, never as a format.
    if (!IsProgressMessage(lr)) ReportMessage(run, "%s\n", lr->Line);
  }
  lr->Line[0] = '\0';
  lr->LineLength = 0;
  return false;
}

int OpenLogSource(Run* run, const char* queueName) {
  if (run->Log == nullptr) {
    // The record holds the read-ahead block: a labelled block, not the stack.
    void* block = CSGetMem(sizeof(LogReplay), "LOGREPLAY");
    if (block == nullptr) {
      fprintf(stderr, "Can not allocate %d bytes for reading the log.\n",
              static_cast<int>(sizeof(LogReplay)));
      return kNoStorage;
    }
    run->Log = new (block) LogReplay{};
  }
  LogReplay* lr = run->Log;
  if (queueName == nullptr || queueName[0] == '\0') {
    ReportMessage(run,
                  "Please specify the name of the queue to search the log for using the -i "
                  "parameter.\n");
    return kRefused;
  }
  if (strpbrk(queueName, "*?") != nullptr) {
    ReportMessage(run, "Wild cards are not supported in input queue name when in log mode.\n");
    return kRefused;
  }
  snprintf(lr->QueueName, sizeof lr->QueueName, "%s", queueName);
  ReportMessage(run, "Searching for messages logged on queue '%s'.\n", lr->QueueName);
  if (!run->Options->LogPathIsFile) return RunDmpmqlog(run);

  char directory[kFileNameLength + 1], fileName[kFileNameLength + 1];
  bool relative = false;
  SplitPath(run->Options->LogPath, false, directory, sizeof directory, fileName, sizeof fileName,
            &relative);
  // Raw log extents are binary: only the formatter can read them.
  if (FindNoCase(fileName, ".log") != nullptr) {
    ReportMessage(run, ".LOG file are not supported. Please format using DMPMQLOG.\n");
    return kRefused;
  }
  int fd = open(run->Options->LogPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ReportMessage(run, "Can not access MQ log file.\n");
    return kFileError;
  }
  lr->Fd = fd;
  lr->SourceOpen = true;
  lr->FromFile = true;
  return 0;
}

int RunDmpmqlog(Run* run) {
  LogReplay* lr = run->Log;
  const char* install = getenv("MQ_INSTALLATION_PATH");
  if (install == nullptr || install[0] == '\0') {
    ReportMessage(run, "Environment variable MQ_INSTALLATION_PATH not set.\n");
    return kRefused;
  }
  char program[4096];
  int n = snprintf(program, sizeof program, "%s/bin/dmpmqlog", install);
  if (n < 0 || static_cast<size_t>(n) >= sizeof program) {
    ReportMessage(run, "Environment variable MQ_INSTALLATION_PATH is too long.\n");
    return kRefused;
  }
  int fds[2];
  if (pipe(fds) != 0) {
    ReportMessage(run, "Error issuing pipe() : %s\n", strerror(errno));
    return kSystemError;
  }
  // The argument list the check built: its words, each terminated.
  const RunOptions* options = run->Options;
  char* args[kLogMaxArgs + 1];
  char argText[sizeof options->LogArgText];
  memcpy(argText, options->LogArgText, sizeof argText);
  char* word = argText;
  for (int32_t i = 0; i < options->LogArgCount; i++) {
    args[i] = word;
    word += strlen(word) + 1;
  }
  args[options->LogArgCount] = nullptr;
  const char* blank = strchr(options->LogCommand, ' ');
  ReportMessage(run, "Issuing command %s %s\n", program, blank != nullptr ? blank + 1 : "");
  // Whatever is buffered would otherwise be written twice, by both.
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) {
    ReportMessage(run, "Error issuing fork() : %s\n", strerror(errno));
    close(fds[0]);
    close(fds[1]);
    return kSystemError;
  }
  if (pid == 0) {
    int r;
    do {
      r = dup2(fds[1], STDOUT_FILENO);
    } while (r < 0 && errno == EINTR);
    if (r >= 0) {
      close(fds[0]);
      close(fds[1]);
      execv(program, args);
    }
    fprintf(stderr, "Error issuing execv() : %s\n", strerror(errno));
    _exit(127);
  }
  close(fds[1]);
  lr->Fd = fds[0];
  lr->Child = pid;
  lr->SourceOpen = true;
  lr->FromFile = false;
  return 0;
}

void ReleaseLogReplay(Run* run) {
  LogReplay* lr = run->Log;
  if (lr == nullptr) return;
  if (lr->ProgressShowing) fputc('\n', stderr);
  if (lr->SourceOpen) close(lr->Fd);
  // A formatter whose output was not read to the end is stopped: with the
  // pipe closed it would otherwise end only at its next write.
  if (lr->Child > 0) {
    kill(lr->Child, SIGTERM);
    WaitForFormatter(run, lr, true);
  }
  ReleaseParts(lr);
  CSFreeMem(lr);
  run->Log = nullptr;
}
