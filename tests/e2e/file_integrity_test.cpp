// Messages survive odd descriptors, damaged and hostile files, endless
// inputs and a kill of the admin command; passwords do not linger where
// others can read them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

class FileIntegrityTest : public QueueTest {
 public:
  FileIntegrityTest() : QueueTest({"Q1", "Q2"}) {}
};

// Line ends in text fields no longer split the descriptor line: a moved
// queue loads back whole, field for field.
TEST_F(FileIntegrityTest, TextFieldsWithLineEndsRoundTrip) {
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "a", "--putappl", "two\nlines", "--applid", "x\ry"});
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "b"});
  const std::vector<MessageFields> original = BrowseMessages("QM1", "Q1", true);
  RunResult u = RunZeplo({"-m", "QM1", "-I", "Q1", "-f", "moved.zpd"});
  ASSERT_EQ(0, u.exitStatus) << u.err;
  std::string file = ReadFileText(ScratchPath("moved.zpd"));
  EXPECT_TRUE(Has(file, "\nA PNX 74776F0A6C696E6573")) << file;
  // Name fields of the admin command's puts start blank, as an MQ
  // application's do.
  EXPECT_TRUE(Has(file, "\nA RTQ " + std::string(48, ' ') + "\n")) << file;
  RunResult l = RunZeplo({"-m", "QM1", "-f", "moved.zpd", "-o", "Q2"});
  ASSERT_EQ(0, l.exitStatus) << l.err;
  EXPECT_EQ(original, BrowseMessages("QM1", "Q2", true));
}

// Inputs that cannot be read whole are errors, never a quiet end; a link
// planted at the next roll-over name is refused, not followed.
TEST_F(FileIntegrityTest, UnreadableAndEndlessInputsAreRefused) {
  Put({"one", "two"});
  ASSERT_EQ(0, symlink(ScratchPath("target").c_str(), ScratchPath("out2.zpd").c_str()));
  ASSERT_EQ(0, mkdir(ScratchPath("adir").c_str(), 0700));
  for (const char* n : {"in1.zpd", "in3.zpd"}) {
    ASSERT_TRUE(WriteFileText(ScratchPath(n), "* ZEPLO\n\nN\nX 41\n"));
  }
  const struct {
    const char* args;
    int status;
    const char* says;
  } cases[] = {
      {"-f adir -o Q2", Status(2208), "Can not open input file 'adir'\n"},
      {"-f in%n.zpd -o Q2", Status(2208),
       "Input file 'in2.zpd' is missing but 'in3.zpd' follows it\n"},
      {"-f /dev/zero -o Q2", Status(2208),
       "Line 1 of file '/dev/zero' is longer than 314572864 bytes"},
      {"-i Q1 -o file:/dev/zero", Status(2046), "Line 1 of file '/dev/zero' is too long.\n"},
      {"-i Q1 -f out%n.zpd", Status(2208), "File 'out2.zpd' already exists.\n"},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(Words(std::string("-m QM1 ") + c.args));
    EXPECT_EQ(c.status, r.exitStatus) << c.args << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << c.args << r.err;
  }
  EXPECT_EQ(0u, BrowseMessages("QM1", "Q2").size());
  EXPECT_FALSE(FileExists(ScratchPath("target")));
}

// The password given with -U leaves the process's arguments as soon as it
// is read.
TEST_F(FileIntegrityTest, PasswordsAreNotLeftReadable) {
  LocalqmOrFail({"user", "QM1", "alice", "s3cret"});
  PtySession pty;
  ASSERT_TRUE(PtyStart(&pty, ZeploPath(),
                       {"-m", "QM1", "-u", "alice", "-U", "s3cret", "-i", "Q1", "-F", "o.zpd",
                        "-w", "2"}));
  ASSERT_TRUE(PtyWaitFor(&pty, "ZEPLO - IBM MQ")) << PtyText(pty);
  std::string cmdline = ReadFileText("/proc/" + std::to_string(pty.pid) + "/cmdline");
  EXPECT_TRUE(Has(cmdline, "alice")) << cmdline;
  EXPECT_FALSE(Has(cmdline, "s3cret")) << cmdline;
  EXPECT_EQ(0, PtyFinish(&pty)) << PtyText(pty);
}

// The admin command's get takes nothing off the queue that it could not
// hand over: a failed write leaves every message where it was.
TEST_F(FileIntegrityTest, AdminGetKeepsWhatItCouldNotWrite) {
  Put({"one", "two"});
  RunResult r = RunProgram("/bin/sh", {"-c", "\"$0\" get QM1 Q1 --count 2 >/dev/full", LocalqmPath()});
  EXPECT_NE(0, r.exitStatus) << r.err;
  EXPECT_EQ((std::vector<std::string>{"one", "two"}), QueueData()) << r.err;
  EXPECT_TRUE(Has(LocalqmOrFail({"get", "QM1", "Q1", "--count", "1"}), "Data : one"));
  EXPECT_EQ(std::vector<std::string>{"two"}, QueueData());
}

}  // namespace
