// The log source: the -j value and the formatter's command line, the
// refusals before anything is read, and the formatter as a child process
// (a script standing in for dmpmqlog) however it ends.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "tests/zeplo/logreplay/log_test_util.h"

namespace {

std::string Cwd() {
  char cwd[PATH_MAX];
  return getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?";
}

TEST(LogSourceTest, ParameterBuildsTheFormattersCommand) {
  const std::string dotted = testing::TempDir() + "log.dir";
  mkdir(dotted.c_str(), 0700);
  const std::string lsn49(49, '1');
  const char* bad = "Unrecognised log file parameter format.\n";
  struct Case {
    std::string Value;
    const char* Qmgr;
    bool OutputQueue, NoConnect;
    int Rc;
    std::string Command;  // or the refusal
  } cases[] = {
      {"*", "QM1", false, true, 0, "dmpmqlog -m QM1 -b "},
      {"*", "QM1", true, false, 0, "dmpmqlog -m QM1 -b "},  // messages are put there
      {"*", "", false, false, 0, "dmpmqlog -b "},
      {"/var/mqm/log/QM1(0:0:1:100-0:0:2:0)", "", false, false, 0,
       "dmpmqlog -f /var/mqm/log/QM1 -s 0:0:1:100 -e 0:0:2:0 "},
      {"logs/QM1(-0:0:2:0)", "", false, false, 0, "dmpmqlog -f " + Cwd() + "/logs/QM1 -b -e 0:0:2:0 "},
      {dotted + "(5)", "", false, false, 0, "dmpmqlog -f " + dotted + " -s 5 "},
      {"dump.txt", "QM1", false, false, 0, ""},  // read, not formatted
      {"file(0:0:1:1", "", false, false, 2046, bad},
      {"dir(1)x", "", false, false, 2046, bad},
      {std::string(256, 'd'), "", false, false, 2046, "longer than 255 characters"},
      {"d(" + lsn49 + "1)", "", false, false, 2046, "longer than 49 characters"},
      {"d(" + lsn49 + "-" + lsn49 + "1)", "", false, false, 2046, "longer than 49 characters"},
      {"dump.txt(0:0:1:1)", "", false, false, 2046, "LSN range can only be used with a log directory"},
      {"/" + std::string(200, 'd') + "(" + lsn49 + "-" + lsn49 + ")", "QM1", false, true, 2046,
       "DMPMQLOG command would be longer than 299 characters"},
  };
  for (const Case& c : cases) {
    auto options = std::make_unique<RunOptions>();
    snprintf(options->Qmgrs[0].Name, sizeof options->Qmgrs[0].Name, "%s", c.Qmgr);
    if (c.OutputQueue) snprintf(options->OutputQueueName, sizeof options->OutputQueueName, "OUT");
    testing::internal::CaptureStderr();
    int rc = ParseLogParameter(options.get(), c.Value.c_str());
    if (rc == 0) rc = PrepareLogCommand(options.get());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.Rc, rc) << c.Value << "\n" << err;
    if (c.Rc == 0) {
      EXPECT_EQ(c.Command, options->LogCommand) << c.Value;
      EXPECT_TRUE(options->LogMode) << c.Value;
    } else {
      EXPECT_NE(std::string::npos, err.find(c.Command)) << c.Value << "\n" << err;
    }
    EXPECT_EQ(c.NoConnect, options->Qmgrs[0].NoConnect) << c.Value;
  }
}

TEST(LogSourceTest, SplitPathFindsTheFileName) {
  struct Case {
    const char* Path;
    bool AllowNoDot;
    const char* Directory;
    const char* File;
  } cases[] = {
      {"  /a/b.c/file.txt", false, "/a/b.c", "file.txt"},
      {"/var/mqm/log/QM1", false, "/var/mqm/log/QM1", ""},  // no dot: a directory
      {"logs/QM1", true, "logs", "QM1"},
      {"a\\b.txt", false, "a", "b.txt"},
  };
  for (const Case& c : cases) {
    char directory[32], file[32];
    bool relative = false;
    SplitPath(c.Path, c.AllowNoDot, directory, sizeof directory, file, sizeof file, &relative);
    EXPECT_STREQ(c.Directory, directory) << c.Path;
    EXPECT_STREQ(c.File, file) << c.Path;
    EXPECT_EQ(c.Directory[0] != '/', relative) << c.Path;
  }
}

TEST(LogSourceTest, SourcesThatCanNotBeReadAreRefused) {
  ScratchFile("S0000001.LOG", "raw");
  const char* wild = "Wild cards are not supported in input queue name when in log mode.\n";
  struct Case {
    std::string Value;
    const char* Queue;
    int Rc;
    const char* Err;
  } cases[] = {
      {"dump.txt", "", 2046,
       "Please specify the name of the queue to search the log for using the -i parameter.\n"},
      {"dump.txt", "Q*", 2046, wild},
      {"dump.txt", "Q?", 2046, wild},
      {testing::TempDir() + "S0000001.LOG", "Q", 2046,
       ".LOG file are not supported. Please format using DMPMQLOG.\n"},
      {testing::TempDir() + "not.there", "Q", 2208, "Can not access MQ log file.\n"},
      {"*", "Q", 2046, "Environment variable MQ_INSTALLATION_PATH not set.\n"},
  };
  unsetenv("MQ_INSTALLATION_PATH");
  for (const Case& c : cases) {
    Replay r = RunReplay(c.Value, c.Queue);
    EXPECT_EQ(c.Rc, r.Rc) << c.Value << " " << c.Queue;
    EXPECT_NE(std::string::npos, r.Err.find(c.Err)) << c.Value << "\n" << r.Err;
  }
}

// A stand-in formatter: the script `body` as <install>/bin/dmpmqlog.
void Formatter(const std::string& install, const std::string& body) {
  mkdir(install.c_str(), 0700);
  mkdir((install + "/bin").c_str(), 0700);
  std::string program = ScratchFile("install/bin/dmpmqlog", "#!/bin/sh\n" + body + "\n");
  chmod(program.c_str(), body.empty() ? 0600 : 0700);  // empty: not executable
}

bool NoChildLeft() {
  errno = 0;
  return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(LogSourceTest, FormatterIsRunAndWaitedForHoweverItEnds) {
  const std::string install = testing::TempDir() + "install";
  LogText log;
  log.Put("APP.IN", "one");
  log.Put("APP.IN", "two");
  const std::string text = ScratchFile("formatted.txt", log.Done());
  const std::string args = testing::TempDir() + "args.txt";
  setenv("MQ_INSTALLATION_PATH", install.c_str(), 1);
  struct Case {
    std::string Body;
    int Rc;
    size_t Messages;
    std::string Err;
    size_t Stop = 1000;
  } cases[] = {
      {"echo \"$@\" > " + args + "; cat " + text, 0, 2,
       "Issuing command " + install + "/bin/dmpmqlog -m QM1 -b \n"},
      {"exit 0", 2142, 0, "No MQ log records found.\n"},
      {"cat " + text + "; exit 3", 2195, 2, "DMPMQLOG ended with exit status 3.\n"},
      {"cat " + text + "; kill -9 $$", 2195, 2, "DMPMQLOG was ended by signal 9.\n"},
      {"", 2142, 0, "Error issuing execv() : "},
      // A run that stops before the log ends stops the formatter too.
      {"cat " + text + "; exec sleep 60", 0, 1, "Issuing command", 1},
  };
  for (const Case& c : cases) {
    Formatter(install, c.Body);
    Replay r = RunReplay("*", "APP.IN", "QM1", c.Stop);
    EXPECT_EQ(c.Rc, r.Rc) << c.Body << "\n" << r.Err;
    EXPECT_EQ(c.Messages, r.Data.size()) << c.Body;
    EXPECT_NE(std::string::npos, r.Err.find(c.Err)) << c.Body << "\n" << r.Err;
    EXPECT_EQ(std::string::npos, r.Err.find("Are you sure")) << c.Body;  // no file was named
    EXPECT_TRUE(NoChildLeft()) << c.Body;
  }
  EXPECT_EQ("-m QM1 -b\n", FileText(args));
}

}  // namespace
