// Log replay end to end: messages put to a localqm queue and cleared are
// rebuilt from the queue manager's log, through dmpmqlog or from its saved
// text, byte for byte and with their descriptors; LSN ranges pick and cut;
// and every failure gives its text and exit status.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using Texts = std::vector<std::string>;

std::string Bytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 31 + n) & 0xFF);
  return s;
}

class LogReplayTest : public QueueTest {
 public:
  LogReplayTest() : QueueTest({"APP.IN", "APP.OTHER", "APP.IN.RESTORED"}) {}
  // Puts `n` bytes, persistent unless said otherwise.
  static void Put(const std::string& queue, size_t n, const char* persistence = "1",
                  const char* priority = "4") {
    std::string file = ScratchPath("m" + std::to_string(n));
    WriteFileText(file, Bytes(n));
    LocalqmOrFail({"put", "QM1", queue, "--file", file, "--persistence", persistence, "--priority",
                   priority});
  }
  // The LSN of each record of `type` in the formatter's output.
  static Texts Lsns(const std::string& type) {
    RunResult r = RunProgram(MqInstallPath() + "/bin/dmpmqlog", {"-m", "QM1"});
    Texts out;
    std::string lsn;
    for (const std::string& line : SplitLines(r.out)) {
      if (line.rfind("LOG RECORD - LSN <", 0) == 0) lsn = line.substr(18, line.size() - 19);
      if (line == "LogRecdType . . : " + type) out.push_back(lsn);
    }
    return out;
  }
  // Every field of every message of `queue`, the data as a digest so that
  // a difference stays readable.
  static std::vector<MessageFields> Messages(const std::string& queue) {
    std::vector<MessageFields> out = BrowseMessages("QM1", queue, true);
    for (MessageFields& f : out) {
      f["DataHex"] = std::to_string(std::hash<std::string>()(f["DataHex"]));
      f.erase("Message");  // the position on the queue
    }
    return out;
  }
};

// Cleared messages come back through the formatter and from its saved
// text; every failure gives its text and status, and reads nothing.
TEST_F(LogReplayTest, ClearedMessagesComeBackThroughTheFormatterAndFromItsText) {
  size_t sizes[] = {0, 10, 4096, 4097, 10000, 70000};
  for (size_t n : sizes) Put("APP.IN", n, "1", n % 3 == 0 ? "7" : "2");
  Put("APP.IN", 33, "0");  // not persistent: never logged, never back
  Put("APP.OTHER", 5000);
  std::vector<MessageFields> before = Messages("APP.IN");
  ASSERT_EQ(7u, before.size());
  std::erase_if(before, [](MessageFields& f) { return f["Persistence"] == "0"; });
  LocalqmOrFail({"clear", "QM1", "APP.IN"});
  RunResult dump = RunProgram(MqInstallPath() + "/bin/dmpmqlog", {"-m", "QM1", "-b"});
  ASSERT_EQ(0, dump.exitStatus) << dump.out;
  WriteFileText(ScratchPath("dump.txt"), dump.out);
  WriteFileText(ScratchPath("bad.txt"), "not a log\n");
  const struct {
    Texts args;
    std::string err;
    int reason = 0;
    Texts env = {};
  } cases[] = {
      {{"-m", "QM1", "-j*", "-i", "APP.IN"},
       "Issuing command " + MqInstallPath() + "/bin/dmpmqlog -m QM1 -b \n"},
      {{"-m", "QM1", "-jdump.txt", "-i", "app.in"},
       "Searching for messages logged on queue 'app.in'.\n"},
      // A relative directory reaches the formatter made absolute.
      {{"-m", "QM1", "-jlocalqm/QM1", "-i", "APP.IN"}, "-f " + ScratchDir() + "/localqm/QM1 -b \n"},
      {{"-j*", "-iAPP.IN"}, "Environment variable MQ_INSTALLATION_PATH not set.\n", 2046,
       {"MQ_INSTALLATION_PATH"}},
      {{"-mNOPE", "-j*", "-iAPP.IN"},
       "AMQ8118: Queue manager 'NOPE' does not exist.\nDMPMQLOG ended with exit status 1.\n"
       "No MQ log records found.\n", 2142},
      {{"-jbad.txt", "-iAPP.IN"},
       "Line No. 1: No MQ log records found.\n"
       "Line No. 1: Are you sure file 'bad.txt' is the output from DMPMQLOG ?\n", 2142},
  };
  for (const auto& c : cases) {
    LocalqmOrFail({"clear", "QM1", "APP.IN.RESTORED"});
    Texts args = c.args, out = c.reason ? Texts{"-fout.zpd"} : Texts{"-o", "APP.IN.RESTORED"};
    args.insert(args.end(), out.begin(), out.end());
    RunResult r = RunZeplo(args, "", c.env);
    const std::string& name = c.args[c.reason ? 0 : 2];
    EXPECT_EQ(Status(c.reason), r.exitStatus) << name << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, c.err)) << name << "\n" << r.err;
    EXPECT_EQ(c.reason == 0, Has(r.err, "Read    -")) << name;
    EXPECT_EQ(c.reason == 0 ? before : std::vector<MessageFields>{}, Messages("APP.IN.RESTORED"))
        << name;
    if (c.reason != 0) continue;
    EXPECT_TRUE(Has(r.err, "DMPMQLOG Records : Line:")) << r.err;
    EXPECT_TRUE(Has(r.err, "Written - Files:   0  Messages:      6  Bytes:      88,203\n"))
        << r.err;
  }
}

TEST_F(LogReplayTest, LsnRangesPickMessagesAndCutThoseWhosePartsLieOutside) {
  Put("APP.IN", 7);
  Put("APP.IN", 10000);  // two parts, then its record
  Put("APP.IN", 8);
  Texts messages = Lsns("AQM Put Message"), parts = Lsns("AQM Put Part");
  ASSERT_EQ(3u, messages.size());
  ASSERT_EQ(2u, parts.size());
  const std::string dir = LocalqmRoot() + "/QM1";
  struct Case {
    std::string Range;
    int Exit;
    const char* Err;
    Texts Lengths;
  } cases[] = {
      {"(" + parts[0] + "-" + messages[1] + ")", 0, "Messages:      1", {"10000"}},
      {"(" + messages[1] + ")", Status(2242),
       "Can not construct message 1, message length does not match.\n", {}},
      {"(-" + messages[0] + ")", 0, "Messages:      1", {"7"}},
  };
  for (const Case& c : cases) {
    LocalqmOrFail({"clear", "QM1", "APP.IN.RESTORED"});
    RunResult r =
        RunZeplo({"-m", "QM1", "-j" + dir + c.Range, "-i", "APP.IN", "-o", "APP.IN.RESTORED"});
    EXPECT_EQ(c.Exit, r.exitStatus) << c.Range << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, c.Err)) << c.Range << "\n" << r.err;
    Texts lengths;
    for (MessageFields& f : BrowseMessages("QM1", "APP.IN.RESTORED"))
      lengths.push_back(f["DataLength"]);
    EXPECT_EQ(c.Lengths, lengths) << c.Range;
  }
  // -m only names whose log it is when nothing is put there: never connected.
  RunResult r = RunZeplo({"-m", "NOT.HERE", "-j" + dir, "-i", "APP.IN", "-f", "out.zpd"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "Written - Files:   1  Messages:      3")) << r.err;
}

}  // namespace
