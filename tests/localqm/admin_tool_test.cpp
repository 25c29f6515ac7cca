// The `localqm` admin command, run as a separate program: exit statuses,
// outputs meant for scripts, and the queue state it sets up as the MQI
// sees it.
#include "tests/localqm/lqm_test_util.h"

namespace {

// Runs the built tool with `args` (none holds a single quote).
ToolRun Tool(const std::vector<std::string>& args, const std::string& input = "") {
  std::string command = "'" + std::string(ZEPLO_BUILD_DIR) + "/mqinst/bin/localqm'";
  for (const std::string& a : args) command += " '" + a + "'";
  return RunCommand(command, input);
}

using AdminToolTest = LqmTest;

TEST_F(AdminToolTest, VerbsAndExitStatuses) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* outHas;  // substring of standard output, or of standard error when failing
  } cases[] = {
      {{"--help"}, 0, "localqm fault QM CALL --reason R"},
      {{}, 2, "Usage: localqm"}, {{"frobnicate"}, 2, "unknown verb"},
      {{"create", "QMA", "--default", "--cmdlevel", "915", "--platform", "28"}, 0, "created"},
      {{"create", "QMA"}, 1, "already exists"},
      {{"create", "bad/name"}, 1, "not a valid queue manager name"},
      {{"create", "QMB", "--cmdlevel", "x1"}, 2, "whole number"},
      {{"define", "QMA", "Q1", "--maxdepth", "2", "--boqname", "Q1.BO", "--bothresh", "4"}, 0,
       "defined"},
      {{"define", "QMA", "AL", "--type", "alias"}, 2, "needs --target"},
      {{"define", "QMA", "AL", "--type", "alias", "--target", "Q1"}, 0, "defined"},
      {{"define", "QMA", "Q1"}, 1, "already exists"},
      {{"define", "QMA", "Q9", "--colour", "red"}, 2, "does not take --colour"},
      {{"put", "QMA", "AL", "--text", "hello", "--format", "MQSTR", "--priority", "7",
        "--correlid", "C0FFEE", "--backout", "2"}, 0, "1 messages put"},
      {{"put", "QMA", "Q1", "--hex", "0001FF"}, 0, "1 messages put"},
      {{"put", "QMA", "Q1", "--text", "one too many"}, 1, "queue full"},
      {{"put", "QMA", "Q1", "--hex", "ABC"}, 2, "even number"},
      {{"depth", "QMA", "Q1"}, 0, "2\n"},
      {{"depth", "QMA", "AL"}, 0, "2\n"},  // an alias counts its target
      {{"show", "QMA", "Q1"}, 0, "BackoutThreshold : 4\n"},
      // Until altered, every PCF header is accepted.
      {{"show", "QMA"}, 0, "CommandLevel : 915\n"}, {{"show", "QMA"}, 0, "MinCfhVersion : 0\n"},
      {{"alter-qmgr", "QMA", "--min-cfh-version", "3"}, 0, "altered"},
      {{"show", "QMA"}, 0, "MinCfhVersion : 3\n"},
      {{"alter-qmgr", "QMA", "--min-cfh-version", "4"}, 2, "from 0 to 3"},
      {{"create", "QMC", "--min-cfh-version", "2"}, 0, "created"},
      {{"show", "QMC"}, 0, "MinCfhVersion : 2\n"},
      {{"depth", "QMA", "NOPE"}, 1, "does not exist"},
      {{"depth", "QMX", "Q1"}, 1, "queue manager QMX does not exist"},
      {{"remove", "QMA", "Q1"}, 1, "--purge"},
      {{"fault", "QMA", "MQPUT", "--reason", "2053", "--queue", "Q1", "--after", "1"}, 0,
       "Fault set"},
      {{"fault", "QMA", "MQFOO", "--reason", "1"}, 2, "not an MQI call"},
      {{"fault", "QMA", "MQPUT"}, 2, "needs --reason"},
      {{"show", "QMA"}, 0, "Fault : MQPUT queue=Q1 reason=2053 after=1"},
      {{"fault", "QMA", "--clear"}, 0, "cleared"}, {{"list"}, 0, "QMA running default\n"},
      {{"stop", "QMA"}, 0, "stopped"}, {{"list"}, 0, "QMA stopped default\n"},
      {{"stop", "QMA", "--quiesce"}, 0, "quiescing"}, {{"list"}, 0, "QMA quiescing default\n"},
      {{"start", "QMA"}, 0, "started"}, {{"list"}, 0, "QMA running default\n"},
  };
  for (const Case& c : cases) {
    ToolRun r = Tool(c.args);
    std::string where = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.status, c.status) << where << ": " << r.err;
    const std::string& text = c.status == 0 ? r.out : r.err;
    EXPECT_NE(text.find(c.outHas), std::string::npos) << where << " printed: " << text << r.err;
  }
}

TEST_F(AdminToolTest, BrowseShowsEveryFieldAndGetEmpties) {
  ASSERT_EQ(0, Tool({"create", "QMA"}).status);
  ASSERT_EQ(0, Tool({"define", "QMA", "Q1"}).status);
  ASSERT_EQ(0, Tool({"put", "QMA", "Q1", "--priority", "1", "--msgid", "0102", "--replyto", "R.Q",
                     "--user", "someone", "--putdate", "20240229", "--puttime", "12345678",
                     "--expiry", "-1", "--format", "MQSTR"}, "from stdin").status);
  ASSERT_EQ(0, Tool({"put", "QMA", "Q1", "--priority", "5", "--text", "first", "--count", "2"})
                   .status);
  ToolRun r = Tool({"browse", "QMA", "Q1"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Priority order, then every descriptor field of the low-priority one.
  size_t stdinMsg = r.out.find("Data : from stdin");
  ASSERT_NE(stdinMsg, std::string::npos);
  EXPECT_LT(r.out.find("Data : first"), stdinMsg);
  for (const char* line :
       {"MsgId : 010200000000000000000000000000000000000000000000\n", "ReplyToQ : R.Q\n",
        "ReplyToQMgr : \n", "UserIdentifier : someone\n", "PutDate : 20240229\n",
        "PutTime : 12345678\n", "Format : MQSTR\n", "Priority : 1\n", "DataLength : 10\n",
        "Message : 3\n", "BackoutCount : 0\n", "OriginalLength : -1\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  ToolRun hex = Tool({"browse", "QMA", "Q1", "--hex", "--count", "1"});
  EXPECT_NE(hex.out.find("DataHex : 6669727374\n"), std::string::npos) << hex.out;
  EXPECT_EQ(hex.out.find("Message : 2"), std::string::npos);
  // An open queue cannot be removed; once closed it can.
  MQHCONN h;
  MQHOBJ o;
  ASSERT_EQ(Connect("QMA", &h), 0);
  ASSERT_EQ(Open(h, "Q1", MQOO_OUTPUT, &o), 0);
  ToolRun busy = Tool({"remove", "QMA", "Q1", "--purge"});
  EXPECT_EQ(busy.status, 1);
  EXPECT_NE(busy.err.find("is open"), std::string::npos) << busy.err;
  Close(h, &o);
  Disconnect(&h);
  EXPECT_NE(Tool({"get", "QMA", "Q1"}).out.find("Message : 3\n"), std::string::npos);
  EXPECT_EQ(Tool({"depth", "QMA", "Q1"}).out, "0\n");
  EXPECT_EQ(Tool({"remove", "QMA", "Q1"}).status, 0);
}

}  // namespace
