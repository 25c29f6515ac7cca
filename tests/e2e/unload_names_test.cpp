// Output file names of an unload with the real binary against localqm: the
// counter inserts that split a run over numbered files, a date insert, the
// escapes, the -Lm, -Ls and -La roll-over limits, and an existing file met
// in the middle of a numbered sequence.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using Files = std::map<std::string, int>;  // file name -> messages in it

class UnloadNamesTest : public QueueTest {
 public:
  // Messages m1..mN ("m<i>" padded with dots to length bytes).
  static void Put(int count, int length = 2) {
    for (int i = 1; i <= count; i++) {
      std::string text = "m" + std::to_string(i);
      if (static_cast<int>(text.size()) < length) text.resize(length, '.');
      LocalqmOrFail({"put", "QM1", "Q1", "--text", text});
    }
  }
  // Every file of the scratch directory but localqm's, with the number of
  // message sections in it (an N line, or the VER line of a descriptor).
  static Files Written() {
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchDir())) {
      const std::string name = entry.path().filename();
      if (name == "localqm") continue;
      int n = 0;
      for (const std::string& line : SplitLines(ReadFileText(ScratchPath(name))))
        n += line == "N" || line == "A VER 2";
      files[name] = n;
    }
    return files;
  }
  static std::string Describe(const Files& files) {
    std::string text;
    for (const auto& [name, n] : files) text += name + ":" + std::to_string(n) + " ";
    return text;
  }
  static void RemoveWritten() {
    for (const auto& entry : Written()) std::remove(ScratchPath(entry.first).c_str());
  }
  static long Size(const std::string& name) {
    struct stat st;
    return stat(ScratchPath(name).c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
  }
};

TEST_F(UnloadNamesTest, CounterInsertsNumberTheFiles) {
  Put(5);
  struct Case {
    std::string args;
    Files files;
  } cases[] = {
      // Without -L a counter insert means one message per file.
      {"-f out%n.zpd",
       {{"out1.zpd", 1}, {"out2.zpd", 1}, {"out3.zpd", 1}, {"out4.zpd", 1}, {"out5.zpd", 1}}},
      {"-f out%N.zpd -r #2", {{"out00001.zpd", 1}, {"out00002.zpd", 1}}},
      // %i is the message's place in the queue, %o its place among the
      // messages written.
      {"-f m%i.zpd -r 3..4", {{"m3.zpd", 1}, {"m4.zpd", 1}}},
      {"-f w%o.zpd -r 3..4", {{"w1.zpd", 1}, {"w2.zpd", 1}}},
      {"-f w%O.zpd -s m5", {{"w00001.zpd", 1}}},
      // -Lm replaces the one-message default.
      {"-f out%n.zpd -Lm2", {{"out1.zpd", 2}, {"out2.zpd", 2}, {"out3.zpd", 1}}},
      {"-f out%n.zpd -Lm9", {{"out1.zpd", 5}}},
      // Date inserts alone do not split the output.
      {"-f d%y.zpd", {}},
      // An escaped % is not an insert either.
      {"-f p%%n.zpd", {{"p%n.zpd", 5}}},
  };
  for (Case& c : cases) {
    RemoveWritten();
    if (c.files.empty()) {
      time_t now = time(nullptr);
      struct tm local;
      localtime_r(&now, &local);
      char name[32];
      strftime(name, sizeof name, "d%Y.zpd", &local);
      c.files[name] = 5;
    }
    RunResult r = RunZeplo(Words("-m QM1 -i Q1 -dN " + c.args));
    const std::string& label = c.args;
    EXPECT_EQ(0, r.exitStatus) << label << "\n" << r.err;
    EXPECT_EQ(Describe(c.files), Describe(Written())) << label;
    char written[80];
    snprintf(written, sizeof written, "Written - Files:%4d", static_cast<int>(c.files.size()));
    EXPECT_NE(std::string::npos, r.err.find(written)) << label << "\n" << r.err;
  }
}

TEST_F(UnloadNamesTest, SizeLimitRollsOverBeforeTheFileIsFull) {
  // Without header or descriptor a 1000-byte message takes 2123 bytes:
  // "N", 40 X lines of 53 characters, the empty line. A message goes into
  // the open file only while the room left is at least 2 x (1000 + 512),
  // so a 10 KB file takes four (8492 bytes) and a 1 KB file one, although
  // the message is larger than the whole limit.
  Put(10, 1000);
  struct Case {
    std::string label;  // the limits
    std::vector<int> perFile;
  } cases[] = {
      {"-Ls10k", {4, 4, 2}},
      {"-Ls1k", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
      // The message limit and the size limit both hold.
      {"-Ls10k -Lm3", {3, 3, 3, 1}},
  };
  for (const Case& c : cases) {
    RemoveWritten();
    const std::string& label = c.label;
    RunResult r = RunZeplo(Words("-m QM1 -i Q1 -dNH -f out%n.zpd " + c.label));
    EXPECT_EQ(0, r.exitStatus) << label << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find("Output file limits active:")) << r.err;
    Files files = Written();
    ASSERT_EQ(c.perFile.size(), files.size()) << label << " " << Describe(files);
    for (size_t i = 0; i < c.perFile.size(); i++) {
      std::string name = "out" + std::to_string(i + 1) + ".zpd";
      EXPECT_EQ(c.perFile[i], files[name]) << label << " " << name;
      EXPECT_EQ(2123L * c.perFile[i], Size(name)) << label << " " << name;
    }
  }
}

TEST_F(UnloadNamesTest, ExistingFileInTheSequenceStopsTheRunAndLosesNothing) {
  // Standard input is not a terminal, so nobody is asked: the second file
  // cannot be opened and the run stops there. On a move the open unit of
  // work goes back to the queue, and its messages leave the files: a file
  // the unit opened goes, so every message is in one place only.
  struct Case {
    const char* input;
    const char* unit;
    std::vector<std::string> left;  // data still on the queue, in order
    const char* files;
  } cases[] = {
      {"-i", "1", {"m1", "m2", "m3"}, "out1.zpd:1 out2.zpd:0 "},
      {"-I", "200", {"m1", "m2", "m3"}, "out2.zpd:0 "},
      {"-I", "1", {"m2", "m3"}, "out1.zpd:1 out2.zpd:0 "},
      // Outside syncpoint m2 is not taken before its file is open.
      {"-I", "0", {"m2", "m3"}, "out1.zpd:1 out2.zpd:0 "},
  };
  for (const Case& c : cases) {
    const std::string label = std::string(c.input) + " -t " + c.unit;
    LocalqmOrFail({"clear", "QM1", "Q1"});
    Put(3);
    RemoveWritten();
    ASSERT_TRUE(WriteFileText(ScratchPath("out2.zpd"), "keep me\n"));
    RunResult r = RunZeplo({"-m", "QM1", c.input, "Q1", "-t", c.unit, "-dN", "-f", "out%n.zpd"});
    EXPECT_EQ(2208 & 0xFF, r.exitStatus) << label << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find("File 'out2.zpd' already exists.")) << r.err;
    EXPECT_EQ(c.unit[0] != '0' && c.input[1] == 'I',
              r.err.find("Operation rolled back") != std::string::npos)
        << label << "\n"
        << r.err;
    EXPECT_EQ("keep me\n", ReadFileText(ScratchPath("out2.zpd")));
    EXPECT_EQ(c.files, Describe(Written())) << label;
    EXPECT_EQ(c.left, QueueData()) << label;
  }
  // -F overwrites it.
  LocalqmOrFail({"clear", "QM1", "Q1"});
  Put(3);
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-dN", "-F", "out%n.zpd"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ("out1.zpd:1 out2.zpd:1 out3.zpd:1 ", Describe(Written()));
}

TEST_F(UnloadNamesTest, AgeLimitClosesTheFileWhileTheRunWaits) {
  Put(2);
  // m1 and m2 go into the first file at once; the run then waits for more
  // (-w 4), and once the file is a second old it is closed (its end line
  // written), so m3, put after that, opens the second file.
  BackgroundRun run({"-m", "QM1", "-i", "Q1", "-dN", "-f", "out%n.zpd", "-La1s", "-w", "4"});
  ASSERT_TRUE(WaitFor([] { return ReadFileText(ScratchPath("out1.zpd")).find("* ZEPLO End\n") !=
                                  std::string::npos; }));
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "m3"});
  const RunResult& r = run.Finish();
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ("out1.zpd:2 out2.zpd:1 ", Describe(Written())) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("Written - Files:   2  Messages:      3")) << r.err;
}

}  // namespace
