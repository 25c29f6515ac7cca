// Unloading at a terminal, with the real binary on a pseudo-terminal
// against localqm: the overwrite question for existing output files, the
// password prompt for a queue manager with users, and the progress line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

const std::string kOverwrite = " exists - overwrite (y)es/(n)o/(a)ll ?\n";
// Longer than the question reads at once; its tail must not count as the
// next answer.
const std::string kLongAnswer = std::string(101, 'x') + "n\n";

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

// What a terminal shows for text: a backspace moves the cursor one place
// left, other characters overwrite at the cursor. One entry per line,
// trailing blanks removed.
std::vector<std::string> Rendered(const std::string& text) {
  std::vector<std::string> lines(1);
  size_t cursor = 0;
  for (char ch : text) {
    std::string& line = lines.back();
    if (ch == '\n') {
      line.erase(line.find_last_not_of(' ') + 1);
      lines.emplace_back();
      cursor = 0;
    } else if (ch == '\b') {
      if (cursor > 0) cursor--;
    } else if (ch != '\r') {
      if (cursor >= line.size()) line.resize(cursor + 1);
      line[cursor++] = ch;
    }
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

using UnloadInteractiveTest = QueueTest;

// ---- The overwrite question ---------------------------------------------

TEST_F(UnloadInteractiveTest, OverwriteQuestionAnswers) {
  struct Step {
    const char* file;    // the file the question names
    const char* answer;  // typed, with its Enter
  };
  struct Case {
    const char* name;
    const char* input;        // -i browses, -I moves
    const char* output;       // the -f value
    std::vector<Step> steps;  // every question asked, in order
    int status;
    std::vector<const char*> replaced;  // existing files written anew
    size_t depthAfter;
  } cases[] = {
      // clang-format off
      {"yes", "-i", "out.zpd", {{"out.zpd", "y\n"}}, 0, {"out.zpd"}, 3},
      {"Yes", "-I", "out.zpd", {{"out.zpd", "Yes\n"}}, 0, {"out.zpd"}, 0},
      {"no", "-I", "out.zpd", {{"out.zpd", "n\n"}}, Status(2208), {}, 3},
      // Anything else asks again.
      {"again", "-i", "out.zpd", {{"out.zpd", "maybe\n"}, {"out.zpd", "\n"}, {"out.zpd", "y\n"}}, 0,
       {"out.zpd"}, 3},
      // An answer longer than the question reads is one answer, not several.
      {"long answer", "-i", "out.zpd", {{"out.zpd", kLongAnswer.c_str()}, {"out.zpd", "y\n"}}, 0,
       {"out.zpd"}, 3},
      // The input ends (Ctrl-D): no answer is no.
      {"end of input", "-I", "out.zpd", {{"out.zpd", "\x04"}}, Status(2208), {}, 3},
      // a: this file and every later one without asking.
      {"all", "-I", "out%n.zpd", {{"out1.zpd", "a\n"}}, 0, {"out1.zpd", "out2.zpd"}, 0},
      // One message per numbered file: each existing file is asked about.
      // No for the second file: the first stays written (files are not
      // transactional) but the whole unit of the move is undone.
      {"yes then no", "-I", "out%n.zpd", {{"out1.zpd", "y\n"}, {"out2.zpd", "n\n"}}, Status(2208),
       {"out1.zpd"}, 3},
      // clang-format on
  };
  for (const Case& c : cases) {
    LocalqmOrFail({"clear", "QM1", "Q1"});
    Put({"one", "two", "three"});
    std::remove(ScratchPath("out3.zpd").c_str());
    for (const char* f : {"out.zpd", "out1.zpd", "out2.zpd"})
      ASSERT_TRUE(WriteFileText(ScratchPath(f), "old contents\n"));
    PtySession pty;
    ASSERT_TRUE(PtyStart(&pty, ZeploPath(), {"-m", "QM1", c.input, "Q1", "-f", c.output}));
    for (const Step& s : c.steps) {
      ASSERT_TRUE(PtyWaitFor(&pty, std::string("File '") + s.file + "'" + kOverwrite))
          << c.name << "\n"
          << PtyText(pty);
      PtySend(&pty, s.answer);
    }
    EXPECT_EQ(c.status, PtyFinish(&pty)) << c.name << "\n" << PtyText(pty);
    std::string shown = PtyText(pty);
    EXPECT_EQ(c.steps.size(), Occurrences(shown, kOverwrite)) << c.name << "\n" << shown;
    const std::string exists = std::string("File '") + c.steps.back().file + "' already exists.\n";
    EXPECT_EQ(c.status != 0 ? 1u : 0u, Occurrences(shown, exists)) << c.name << "\n" << shown;
    for (const char* f : {"out.zpd", "out1.zpd", "out2.zpd"}) {
      bool replaced = false;
      for (const char* r : c.replaced) replaced |= std::string(r) == f;
      bool old = ReadFileText(ScratchPath(f)) == "old contents\n";
      EXPECT_EQ(replaced, !old) << c.name << " " << f;
    }
    EXPECT_EQ(c.depthAfter, BrowseMessages("QM1", "Q1").size()) << c.name;
  }
}

// ---- The password prompt ------------------------------------------------

// zeplo on a terminal with its standard output going to stars.txt, so the
// terminal shows only standard error; the terminal settings before and
// after the run are saved for comparison.
// The terminal's current mode, seen from the master side.
bool CharacterModeWithoutEcho(int master) {
  struct termios mode;
  if (tcgetattr(master, &mode) != 0) return false;
  return (mode.c_lflag & (ICANON | ECHO)) == 0;
}

void StartWithStdoutToFile(PtySession* pty, const std::vector<std::string>& args, bool echo) {
  std::vector<std::string> shellArgs = {
      "-c", "stty -g >before.txt; \"$0\" \"$@\" >stars.txt; s=$?; stty -g >after.txt; exit $s",
      ZeploPath()};
  shellArgs.insert(shellArgs.end(), args.begin(), args.end());
  PtyOptions options;
  options.echo = echo;
  ASSERT_TRUE(PtyStart(pty, "/bin/sh", shellArgs, options));
}

// A password is asked once per queue manager that needs one: not again
// when the connect is retried with a plainer MQCNO, and each queue manager
// of a two-queue-manager run by its own name.
TEST_F(UnloadInteractiveTest, PasswordPrompt) {
  const std::string kAlicePrompt = "Please enter password for QM(QM1) User(alice) >";
  Put({"secret data"});
  LocalqmOrFail({"user", "QM1", "alice", "s3cret"});
  LocalqmOrFail({"create", "QM2"});
  LocalqmOrFail({"define", "QM2", "Q2"});
  LocalqmOrFail({"user", "QM2", "bob", "b22"});
  struct Prompt {
    std::string text, keys;
  };
  struct Case {
    const char* name;
    std::string args, qmgrSetup;
    std::vector<Prompt> prompts;
    std::string stars;  // what standard output shows
    int status;
    bool echo;  // the terminal echoes typed keys unless the program stops it
  } cases[] = {
      // clang-format off
      {"typed", "-m QM1 -u alice", "", {{kAlicePrompt, "s3cret\n"}}, "******\n", 0, false},
      // An erase at the start does nothing; later ones take one star back.
      {"erased", "-m QM1 -u alice", "", {{kAlicePrompt, "\x7fs3crx\x7f" "et\n"}},
       "*****\b \b**\n", 0, false},
      {"backspace", "-m QM1 -u alice", "", {{kAlicePrompt, "s3x\bcret\n"}}, "***\b \b****\n", 0,
       false},
      {"echoing terminal", "-m QM1 -u alice", "", {{kAlicePrompt, "s3cret\n"}}, "******\n", 0, true},
      // The default queue manager: no name is known at the prompt.
      {"default qmgr", "-u alice", "", {{"Please enter password for User(alice) >", "s3cret\n"}},
       "******\n", 0, false},
      // Longer than the buffer: cut, not written past it; then refused.
      {"too long", "-m QM1 -u alice", "", {{kAlicePrompt, std::string(300, 'p') + "\n"}},
       std::string(199, '*') + "\n", Status(2035), false},
      {"retried connect", "-m QM1 -u alice", "alter-qmgr QM1 --max-cno-version 5",
       {{kAlicePrompt, "s3cret\n"}}, "******\n", 0, false},
      {"two queue managers", "-m QM1 -u alice -i Q1 -m QM2 -u bob -o Q2",
       "alter-qmgr QM1 --max-cno-version 8",
       {{kAlicePrompt, "s3cret\n"}, {"Please enter password for QM(QM2) User(bob) >", "b22\n"}},
       "******\n***\n", 0, false},
      // clang-format on
  };
  for (const Case& c : cases) {
    if (!c.qmgrSetup.empty()) LocalqmOrFail(Words(c.qmgrSetup));
    PtySession pty;
    std::vector<std::string> args = Words(c.args);
    if (args.size() < 5) args.insert(args.end(), {"-i", "Q1", "-F", "out.zpd"});
    StartWithStdoutToFile(&pty, args, c.echo);
    for (const Prompt& p : c.prompts) {
      ASSERT_TRUE(PtyWaitFor(&pty, p.text)) << c.name << "\n" << PtyText(pty);
      // Keys typed before the program has switched the terminal over would
      // be echoed by the terminal itself; a person reading the prompt is
      // slower.
      ASSERT_TRUE(WaitFor([&pty] { return CharacterModeWithoutEcho(pty.master); }))
          << c.name << ": the terminal still echoes or waits for whole lines";
      PtySend(&pty, p.keys);
    }
    EXPECT_EQ(c.status, PtyFinish(&pty)) << c.name << "\n" << PtyText(pty);
    std::string shown = PtyText(pty).substr(pty.consumed);
    EXPECT_EQ(c.prompts.size(), Occurrences(PtyText(pty), "Please enter password"))
        << c.name << "\n"
        << PtyText(pty);
    EXPECT_EQ(c.stars, ReadFileText(ScratchPath("stars.txt"))) << c.name;
    // Neither the password nor any part of it is shown.
    EXPECT_EQ(std::string::npos, shown.find("s3c")) << c.name << "\n" << shown;
    EXPECT_EQ(std::string::npos, shown.find("ppp")) << c.name << "\n" << shown;
    EXPECT_EQ(ReadFileText(ScratchPath("before.txt")), ReadFileText(ScratchPath("after.txt")))
        << c.name << ": terminal settings not restored";
    // A queue as the output is no file.
    const std::string written = args.back() == "Q2" ? "Written - Files:   0  Messages:      1"
                                                    : "Written - Files:   1  Messages:      1";
    EXPECT_NE(std::string::npos,
              shown.find(c.status == 0 ? written
                                       : "MQCONN on qmgr 'QM1' returned 2035 Not authorized.\n"))
        << c.name << "\n"
        << shown;
  }
  EXPECT_EQ("1\n", LocalqmOrFail({"depth", "QM2", "Q2"}));
}

// Ctrl-C or a hang-up at the prompt ends the program by that signal, and
// the terminal is left in line mode again, not without echo.
TEST_F(UnloadInteractiveTest, InterruptedPromptRestoresTheTerminal) {
  LocalqmOrFail({"user", "QM1", "alice", "a1"});
  struct Case {
    const char* keys;  // typed at the prompt; empty: a signal is sent
    int sendSignal;
    int status;
  } cases[] = {{"ab\x03", 0, -SIGINT}, {"ab\x1c", 0, -SIGQUIT}, {"", SIGTERM, -SIGTERM}};
  for (const Case& c : cases) {
    PtySession pty;
    PtyOptions options;
    options.echo = true;
    ASSERT_TRUE(PtyStart(&pty, ZeploPath(), {"-m", "QM1", "-u", "alice", "-i", "Q1"}, options));
    ASSERT_TRUE(PtyWaitFor(&pty, "User(alice) >")) << PtyText(pty);
    ASSERT_TRUE(WaitFor([&pty] { return CharacterModeWithoutEcho(pty.master); }));
    if (c.sendSignal != 0) {
      kill(pty.pid, c.sendSignal);
    } else {
      PtySend(&pty, c.keys);
    }
    // Dead but not yet reaped: the terminal still shows what it left.
    siginfo_t info{};
    ASSERT_TRUE(WaitFor([&] {
      return waitid(P_PID, static_cast<id_t>(pty.pid), &info, WEXITED | WNOWAIT | WNOHANG) == 0 &&
             info.si_pid != 0;
    }, 20000)) << c.status << ": the program outlived its signal";
    struct termios mode;
    ASSERT_EQ(0, tcgetattr(pty.master, &mode));
    EXPECT_EQ(static_cast<tcflag_t>(ICANON | ECHO), mode.c_lflag & (ICANON | ECHO)) << c.status;
    EXPECT_EQ(c.status, PtyFinish(&pty)) << PtyText(pty);
  }
}

// Without a terminal nobody can be asked; a password on the command line
// needs no prompt at all.
TEST_F(UnloadInteractiveTest, PasswordWithoutATerminal) {
  Put({"m"});
  LocalqmOrFail({"user", "QM1", "alice", "s3cret"});
  struct Case {
    const char* credentials;
    int status;
    const char* errHas;
  } cases[] = {
      {"-u alice", Status(2046), "Password prompt not supported for non-stdin file\n"},
      {"-u alice -U wrong", Status(2035), "returned 2035 Not authorized."},
      {"-u alice -U s3cret", 0, "Written - Files:   1  Messages:      1"},
      // Users defined: connecting as nobody in particular is refused too.
      {"", Status(2035), "returned 2035 Not authorized."},
  };
  for (const Case& c : cases) {
    RunResult r = RunZeplo(Words(std::string("-m QM1 -i Q1 -F out.zpd ") + c.credentials), "s3cret\n");
    EXPECT_EQ(c.status, r.exitStatus) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.errHas)) << r.err;
    EXPECT_EQ("", r.out);
    if (c.status == Status(2046)) {
      EXPECT_EQ(std::string::npos, r.err.find("MQCONN")) << r.err;
    }
  }
}

// ---- The progress line --------------------------------------------------

TEST_F(UnloadInteractiveTest, ProgressLine) {
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "message number 1", "--count", "400"});
  ASSERT_EQ(0, RunZeplo({"-q", "-m", "QM1", "-i", "Q1", "-f", "in.zpd"}).exitStatus);
  struct Case {
    const char* name;
    const char* args;
    bool progress;  // a "Loading" line with a percentage that is erased
  } cases[] = {
      // From a queue the total is not known: no percentage is made up.
      {"queue", "-m QM1 -i Q1 -F out.zpd", false},
      {"file", "-f in.zpd -F out.zpd", true},
      {"file quiet", "-q -f in.zpd -F out.zpd", false},
  };
  for (const Case& c : cases) {
    PtySession pty;
    ASSERT_TRUE(PtyStart(&pty, ZeploPath(), Words(c.args)));
    ASSERT_EQ(0, PtyFinish(&pty, 60000)) << c.name << "\n" << PtyText(pty);
    std::string shown = PtyText(pty);
    std::vector<std::string> screen = Rendered(shown);
    // Whatever was shown, nothing of the percentage is left on the screen.
    for (const std::string& line : screen) {
      EXPECT_EQ(std::string::npos, line.find('%')) << c.name << "\n" << line;
      EXPECT_EQ(std::string::npos, line.find("ETA")) << c.name << "\n" << line;
    }
    EXPECT_EQ(c.progress, shown.find("\nLoading 'in.zpd' :  0%") != std::string::npos)
        << c.name << "\n"
        << shown;
    EXPECT_EQ(c.progress, shown.find('\b') != std::string::npos) << c.name;
    // The percentage stops at 99 until the line is erased.
    EXPECT_EQ(std::string::npos, shown.find("100%")) << c.name;
    bool loadingLine = false;
    for (const std::string& line : screen) loadingLine |= line == "Loading 'in.zpd'";
    EXPECT_EQ(c.progress, loadingLine) << c.name << "\n" << shown;
    if (std::string(c.name) != "file quiet") {
      ASSERT_GE(screen.size(), 2u);
      EXPECT_EQ(0u, screen[screen.size() - 2].rfind("Read    - Files:"));
      EXPECT_EQ("Written - Files:   1  Messages:    400  Bytes:       6,400", screen.back())
          << c.name;
    }
    EXPECT_EQ(400u, Occurrences(ReadFileText(ScratchPath("out.zpd")), "\nA MSI "));
  }
}

}  // namespace
