// Child processes for the end-to-end tests: plain pipes for ordinary runs,
// a pseudo-terminal for prompts and paging. Every wait is bounded by a
// deadline; a child that outlives it is killed.
#include "tests/e2e/e2e_util.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include "zeplo/util/banned.h"  // after every other header

extern char** environ;

namespace {

// Variables that change how zeplo or localqm behave; a child sees them only
// when the test asks for them.
const char* const kScrubbedVariables[] = {
    "LINES",         "COLUMNS",       "KALVO_ZEPLO_PARMS", "MQM_DLL_PATH",
    "MQIC_DLL_PATH", "MQACCESS_DEBUG", "MQSERVER",         "MQCHLLIB",
    "MQCHLTAB",      "LOCALQM_ROOT",  "MQ_INSTALLATION_PATH",
};

long long NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int RemainingMs(long long deadline) {
  long long left = deadline - NowMs();
  if (left < 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left);
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return -1000;
}

std::string NameOf(const std::string& entry) {
  size_t eq = entry.find('=');
  return eq == std::string::npos ? entry : entry.substr(0, eq);
}

void SetVariable(std::vector<std::string>* vars, const std::string& entry) {
  const std::string name = NameOf(entry);
  std::erase_if(*vars, [&name](const std::string& v) { return NameOf(v) == name; });
  if (entry.find('=') != std::string::npos) vars->push_back(entry);
}

// The environment of a child: ours without the scrubbed variables, the
// harness defaults, then the test's own entries.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& env) {
  std::vector<std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) vars.push_back(*e);
  for (const char* name : kScrubbedVariables) SetVariable(&vars, name);
  SetVariable(&vars, "LOCALQM_ROOT=" + LocalqmRoot());
  SetVariable(&vars, "MQ_INSTALLATION_PATH=" + MqInstallPath());
  for (const std::string& entry : env) SetVariable(&vars, entry);
  return vars;
}

// Built before fork: the child only calls async-signal-safe functions.
struct ExecPlan {
  std::vector<std::string> argStrings;
  std::vector<std::string> envStrings;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string directory;
  std::string path;
};

void MakePlan(ExecPlan* plan, const std::string& path, const std::vector<std::string>& args,
              const std::vector<std::string>& env) {
  plan->path = path;
  plan->directory = ScratchDir();
  plan->argStrings.push_back(path);
  for (const std::string& a : args) plan->argStrings.push_back(a);
  plan->envStrings = ChildEnvironment(env);
  for (std::string& a : plan->argStrings) plan->argv.push_back(a.data());
  plan->argv.push_back(nullptr);
  for (std::string& e : plan->envStrings) plan->envp.push_back(e.data());
  plan->envp.push_back(nullptr);
}

[[noreturn]] void ExecInChild(const ExecPlan& plan) {
  // A test started in the background of a shell inherits SIGINT and
  // SIGQUIT ignored; the child must see the keys and signals a user's
  // terminal would deliver.
  for (int s : {SIGPIPE, SIGINT, SIGQUIT}) signal(s, SIG_DFL);
  if (chdir(plan.directory.c_str()) != 0) _exit(126);
  execve(plan.path.c_str(), plan.argv.data(), plan.envp.data());
  const char msg[] = "[e2e] exec failed\n";
  ssize_t ignored = write(2, msg, sizeof msg - 1);
  (void)ignored;
  _exit(127);
}

void IgnoreSigpipeOnce() {
  [[maybe_unused]] static const auto previous = signal(SIGPIPE, SIG_IGN);
}

// Reads what is available on fd into text; returns false at end of file
// (or on an error other than "try again").
bool Drain(int fd, std::string* text) {
  char buffer[8192];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text->append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    return false;  // 0 = EOF; EIO on a terminal whose other side closed
  }
}

std::string CurrentTestKey() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "global";
  std::string key = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(key.begin(), key.end(), '/', '_');  // parameterised names
  return key;
}

}  // namespace

std::string ZeploPath() { return std::string(ZEPLO_BUILD_DIR) + "/bin/zeplo"; }
std::string LocalqmPath() { return std::string(ZEPLO_BUILD_DIR) + "/mqinst/bin/localqm"; }
std::string MqInstallPath() { return std::string(ZEPLO_BUILD_DIR) + "/mqinst"; }
std::string SourcePath(const std::string& relative) {
  return std::string(ZEPLO_SOURCE_DIR) + "/" + relative;
}

std::string ScratchDir() {
  static std::string forKey;
  static std::string dir;
  const std::string key = CurrentTestKey();
  if (key != forKey || dir.empty()) {
    forKey = key;
    dir = std::string(ZEPLO_BUILD_DIR) + "/e2e-scratch/" + program_invocation_short_name + "/" + key;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir + "/localqm", ec);
    if (ec) ADD_FAILURE() << "cannot create scratch directory " << dir << ": " << ec.message();
  }
  return dir;
}

std::string LocalqmRoot() { return ScratchDir() + "/localqm"; }
std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

RunResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                     const std::string& stdinText, const std::vector<std::string>& env,
                     int timeoutMs) {
  RunResult result{-1000, "", ""};
  IgnoreSigpipeOnce();
  ExecPlan plan;
  MakePlan(&plan, path, args, env);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0) return result;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]), close(in[1]);
    return result;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(in[0]), close(in[1]), close(out[0]), close(out[1]);
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    ExecInChild(plan);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(in[1]), close(out[0]), close(err[0]);
    result.err = "[e2e] fork failed\n";
    return result;
  }
  for (int fd : {in[1], out[0], err[0]}) fcntl(fd, F_SETFL, O_NONBLOCK);

  const long long deadline = NowMs() + timeoutMs;
  size_t written = 0;
  int inFd = in[1];
  if (stdinText.empty()) {
    close(inFd);
    inFd = -1;
  }
  bool outOpen = true, errOpen = true, killed = false;
  long long killDeadline = 0;
  while (outOpen || errOpen) {
    if (!killed && NowMs() >= deadline) {
      kill(pid, SIGKILL);
      killed = true;
      // Grandchildren may still hold the pipes: read on for one more second.
      killDeadline = NowMs() + 1000;
    }
    if (killed && NowMs() >= killDeadline) break;
    struct pollfd fds[3];
    int n = 0;
    if (outOpen) fds[n++] = {out[0], POLLIN, 0};
    if (errOpen) fds[n++] = {err[0], POLLIN, 0};
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    int wait = killed ? RemainingMs(killDeadline) : RemainingMs(deadline);
    if (poll(fds, static_cast<nfds_t>(n), wait < 100 ? wait : 100) < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == out[0]) outOpen = Drain(out[0], &result.out);
      if (fds[i].fd == err[0]) errOpen = Drain(err[0], &result.err);
      if (fds[i].fd == inFd) {
        ssize_t w = write(inFd, stdinText.data() + written, stdinText.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == stdinText.size()) {
          close(inFd);  // EPIPE: the child does not read its input
          inFd = -1;
        }
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(out[0]);
  close(err[0]);
  int status = 0;
  if (!killed) {
    // Both pipes closed; the child is exiting. Still bounded.
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (NowMs() >= deadline) {
        kill(pid, SIGKILL);
        killed = true;
        waitpid(pid, &status, 0);
        break;
      }
      usleep(2000);
    }
  } else {
    waitpid(pid, &status, 0);
  }
  result.exitStatus = DecodeStatus(status);
  if (killed) result.err += "\n[e2e] timed out after " + std::to_string(timeoutMs) + " ms\n";
  return result;
}

RunResult RunZeplo(const std::vector<std::string>& args, const std::string& stdinText,
                   const std::vector<std::string>& env) {
  if (access(ZeploPath().c_str(), X_OK) != 0) {
    ADD_FAILURE() << "zeplo is not built: " << ZeploPath();
    return RunResult{127, "", "[e2e] zeplo binary missing\n"};
  }
  return RunProgram(ZeploPath(), args, stdinText, env);
}

RunResult RunLocalqm(const std::vector<std::string>& args, const std::string& stdinText,
                     const std::string& root) {
  if (access(LocalqmPath().c_str(), X_OK) != 0) {
    ADD_FAILURE() << "localqm is not built: " << LocalqmPath();
    return RunResult{127, "", "[e2e] localqm binary missing\n"};
  }
  return RunProgram(LocalqmPath(), args, stdinText,
                    {"LOCALQM_ROOT=" + (root.empty() ? LocalqmRoot() : root)});
}

std::string LocalqmOrFail(const std::vector<std::string>& args, const std::string& stdinText,
                          const std::string& root) {
  RunResult r = RunLocalqm(args, stdinText, root);
  if (r.exitStatus != 0) {
    std::string command = "localqm";
    for (const std::string& a : args) command += " " + a;
    ADD_FAILURE() << command << " exited with " << r.exitStatus << ":\n" << r.err;
  }
  return r.out;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const long long deadline = NowMs() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (NowMs() >= deadline) return condition();
    usleep(10000);
  }
}

std::vector<MessageFields> BrowseMessages(const std::string& qmgr, const std::string& queue,
                                          bool hex) {
  std::vector<std::string> args = {"browse", qmgr, queue};
  if (hex) args.push_back("--hex");
  std::vector<MessageFields> messages;
  for (const std::string& line : SplitLines(LocalqmOrFail(args))) {
    size_t colon = line.find(" : ");
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    if (key == "Message") messages.emplace_back();
    if (!messages.empty()) messages.back()[key] = line.substr(colon + 3);
  }
  return messages;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void QueueTest::SetUp() {
  LocalqmOrFail({"create", "QM1", "--default"});
  for (const std::string& q : queues_) LocalqmOrFail({"define", "QM1", q});
}

void QueueTest::Put(const std::vector<std::string>& texts, const std::string& queue) {
  for (const std::string& t : texts) LocalqmOrFail({"put", "QM1", queue, "--text", t});
}

int QueueTest::Depth(const std::string& queue, const std::string& qmgr) {
  return atoi(LocalqmOrFail({"depth", qmgr, queue}).c_str());
}

std::vector<std::string> QueueTest::QueueData(const std::string& queue, const std::string& qmgr) {
  std::vector<std::string> data;
  for (MessageFields& m : BrowseMessages(qmgr, queue)) data.push_back(m["Data"]);
  return data;
}

std::vector<std::string> FileMessages(const std::string& name) {
  std::vector<std::string> data;
  for (const std::string& line : SplitLines(ReadFileText(ScratchPath(name)))) {
    if (line.rfind("A VER ", 0) == 0) data.emplace_back();
    for (size_t i = 2; line.rfind("X ", 0) == 0 && !data.empty() && i + 1 < line.size(); i += 2)
      data.back() += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
  }
  return data;
}

std::string AfterBanner(const std::string& err) {
  size_t at = err.find("\n\n");
  return at == std::string::npos ? err : err.substr(at + 2);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// ---- Pseudo-terminal runs ---------------------------------------------

bool PtyStart(PtySession* session, const std::string& path, const std::vector<std::string>& args,
              const PtyOptions& options) {
  IgnoreSigpipeOnce();
  ExecPlan plan;
  MakePlan(&plan, path, args, options.env);
  struct winsize size = {options.rows, options.cols, 0, 0};
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) {
    ADD_FAILURE() << "forkpty failed: " << strerror(errno);
    return false;
  }
  if (pid == 0) {
    struct termios mode;
    if (!options.echo && tcgetattr(0, &mode) == 0) {
      mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
      tcsetattr(0, TCSANOW, &mode);
    }
    ExecInChild(plan);
  }
  fcntl(master, F_SETFL, O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  session->pid = pid;
  session->master = master;
  session->output.clear();
  session->consumed = 0;
  session->exitStatus = -1000;
  return true;
}

namespace {

// Waits up to waitMs for the terminal's output and reads it; at the end
// of the child's terminal the master side is closed.
void PtyRead(PtySession* session, int waitMs) {
  struct pollfd fd = {session->master, POLLIN, 0};
  if (poll(&fd, 1, waitMs) > 0 && !Drain(session->master, &session->output)) {
    close(session->master);
    session->master = -1;
  }
}

}  // namespace

bool PtyWaitFor(PtySession* session, const std::string& text, int timeoutMs) {
  const long long deadline = NowMs() + timeoutMs;
  for (;;) {
    size_t at = PtyText(*session).find(text, session->consumed);
    if (at != std::string::npos) {
      session->consumed = at + text.size();
      return true;
    }
    if (session->master < 0 || NowMs() >= deadline) return false;
    int wait = RemainingMs(deadline);
    PtyRead(session, wait < 100 ? wait : 100);
  }
}

void PtySend(PtySession* session, const std::string& keys) {
  size_t sent = 0;
  const long long deadline = NowMs() + 5000;
  while (session->master >= 0 && sent < keys.size() && NowMs() < deadline) {
    ssize_t w = write(session->master, keys.data() + sent, keys.size() - sent);
    if (w > 0) {
      sent += static_cast<size_t>(w);
    } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
      break;
    } else {
      struct pollfd fd = {session->master, POLLOUT, 0};
      poll(&fd, 1, 10);
    }
  }
}

int PtyFinish(PtySession* session, int timeoutMs) {
  if (session->pid < 0) return session->exitStatus;
  const long long deadline = NowMs() + timeoutMs;
  int status = 0;
  for (;;) {
    if (session->master >= 0)
      PtyRead(session, 20);
    else
      usleep(5000);
    if (waitpid(session->pid, &status, WNOHANG) == session->pid) break;
    if (NowMs() >= deadline) {
      kill(session->pid, SIGKILL);
      waitpid(session->pid, &status, 0);
      break;
    }
  }
  // What the child wrote just before it ended is still in the terminal.
  if (session->master >= 0) {
    Drain(session->master, &session->output);
    close(session->master);
    session->master = -1;
  }
  session->pid = -1;
  session->exitStatus = DecodeStatus(status);
  return session->exitStatus;
}

PtySession::~PtySession() {
  if (pid >= 0) {
    kill(pid, SIGKILL);
    PtyFinish(this, 2000);
  }
  if (master >= 0) close(master);
}

std::string PtyText(const PtySession& session) {
  std::string text;
  text.reserve(session.output.size());
  for (size_t i = 0; i < session.output.size(); ++i) {
    if (session.output[i] == '\r' && i + 1 < session.output.size() &&
        session.output[i + 1] == '\n')
      continue;
    text += session.output[i];
  }
  return text;
}
