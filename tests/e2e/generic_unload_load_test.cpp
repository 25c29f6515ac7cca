// Generic unload and load with the real binary against localqm: many
// queues to one directory and back, compared message by message; the
// questions about existing files and non-empty queues answered through
// standard input; roll-over groups and their index checks; the command
// server's refusals and silence.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(ScratchPath(dir).c_str())) {
    while (struct dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

class GenericTest : public QueueTest {
 public:
  GenericTest() : QueueTest({"APP.A", "APP/B", "app.a", "APP.EMPTY", "OTHER"}) {}
  void SetUp() override {
    QueueTest::SetUp();
    for (const auto& [q, n] : std::map<std::string, int>{{"APP.A", 3}, {"APP/B", 2}, {"app.a", 1},
                                                          {"SYSTEM.DEAD.LETTER.QUEUE", 1},
                                                          {"SYSTEM.ADMIN.QMGR.EVENT", 2}})
      for (int i = 1; i <= n; ++i)
        LocalqmOrFail({"put", "QM1", q, "--text", q + " #" + std::to_string(i), "--priority",
                       std::to_string(i % 3), "--correlid", "C0FFEE"});
    mkdir(ScratchPath("out").c_str(), 0700);
  }
  static void Clear(const std::vector<std::string>& queues) {
    for (const std::string& q : queues) LocalqmOrFail({"clear", "QM1", q});
  }
};

TEST_F(GenericTest, QueuesGoToTheirFilesAndComeBackTheSame) {
  const std::vector<std::string> queues = {"APP.A", "APP/B", "app.a", "SYSTEM.DEAD.LETTER.QUEUE",
                                           "SYSTEM.ADMIN.QMGR.EVENT"};
  std::vector<std::vector<MessageFields>> before;
  for (const std::string& q : queues) before.push_back(BrowseMessages("QM1", q, true));
  RunResult r = RunZeplo({"-m", "QM1", "-i", "*", "-f", "out/*"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(r.out,
            "APP.A                                                 3  Done.\n"
            "APP/B                                                 2  Done.\n"
            "SYSTEM.ADMIN.QMGR.EVENT                               2  Done.\n"
            "SYSTEM.DEAD.LETTER.QUEUE                              1  Done.\n"
            "app.a                                                 1  Done.\n"
            "\nTotal : 4 Queues, 7 Messages\n plus : 1 System Queues, 2 Messages\n");
  EXPECT_EQ(FilesIn("out"),
            (std::set<std::string>{"APP.A.zpd", "APP!B.zpd", "SYSTEM.ADMIN.QMGR.EVENT.zpd",
                                   "SYSTEM.DEAD.LETTER.QUEUE.zpd", "app.a#1.zpd"}));
  Clear(queues);
  // System queues other than the dead-letter queue are never loaded.
  r = RunZeplo({"-m", "QM1", "-f", "out/*", "-o", "*"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(r.out,
            "APP.A                                            3      Done.\n"
            "APP/B                                            2      Done.\n"
            "SYSTEM.DEAD.LETTER.QUEUE                         1      Done.\n"
            "app.a                                            1      Done.\n"
            "\nTotal : 4 Queues, 7 Messages\n");
  for (size_t i = 0; i < queues.size(); ++i) {
    if (queues[i] == "SYSTEM.ADMIN.QMGR.EVENT") before[i].clear();
    EXPECT_EQ(before[i], BrowseMessages("QM1", queues[i], true)) << queues[i];
  }
}

TEST_F(GenericTest, ExistingFilesAreAskedAbout) {
  struct Case {
    const char* what;
    const char* fileOption;  // -F: no question about the queue's own files
    std::string answers;
    int exitStatus;
    bool askedAboutOthers;
    bool otherKept;
  } cases[] = {
      {"yes, then continue", "-f", "y\nc\n", 0, true, true},
      {"no", "-f", "n\n", Status(2100), false, true},
      {"end of input", "-f", "", Status(2100), false, true},
      {"an unknown answer, then quit", "-f", "y\nx\nq\n", Status(2100), true, true},
      {"-F asks only about the others, which go", "-F", "d\n", 0, true, false},
  };
  for (const Case& c : cases) {
    WriteFileText(ScratchPath("out/APP.A.zpd"), "old\n");
    WriteFileText(ScratchPath("out/Q9.zpd"), "other\n");
    RunResult r = RunZeplo({"-m", "QM1", "-i", "APP.A", c.fileOption, "out/*"}, c.answers);
    EXPECT_EQ(c.exitStatus, r.exitStatus) << c.what << r.err;
    EXPECT_EQ(c.fileOption[1] == 'f',
              Has(r.err, "out/APP.A.zpd\n\nThese files already exist and will be deleted.\n"))
        << c.what;
    EXPECT_EQ(c.askedAboutOthers,
              Has(r.err, "out/Q9.zpd\n\nThese files already exist and will not be affected"))
        << c.what;
    EXPECT_EQ(c.exitStatus == 0, ReadFileText(ScratchPath("out/APP.A.zpd")) != "old\n") << c.what;
    EXPECT_EQ(c.otherKept, FileExists(ScratchPath("out/Q9.zpd"))) << c.what;
  }
}

TEST_F(GenericTest, RollOverFilesLoadAsOneGroup) {
  RunResult r = RunZeplo({"-m", "QM1", "-i", "APP.A", "-f", "out/*", "-Lm1"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(FilesIn("out"), (std::set<std::string>{"APP.A$1.zpd", "APP.A$2.zpd", "APP.A$3.zpd"}));
  // A later unload lists the group as one.
  r = RunZeplo({"-m", "QM1", "-i", "APP.A", "-f", "out/*"}, "n\n");
  EXPECT_TRUE(Has(r.err, "out/APP.A$1.zpd[-> $3]\n")) << r.err;
  // Loading onto a queue that is not empty asks first.
  r = RunZeplo({"-m", "QM1", "-f", "out/*", "-o", "APP.A"}, "n\n");
  EXPECT_EQ(Status(2055), r.exitStatus) << r.err;
  EXPECT_TRUE(Has(r.err, "APP.A                                            Not empty.\n"));
  Clear({"APP.A"});
  r = RunZeplo({"-m", "QM1", "-f", "out/*", "-o", "APP.A"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(r.out, "APP.A                                            3      Done.\n\nTotal : 1 Queues, 3 "
                   "Messages\n");
  EXPECT_EQ(3u, BrowseMessages("QM1", "APP.A").size());
  // Holes in the sequence stop the load before anything is put.
  Clear({"APP.A"});
  struct Case {
    const char* removed;
    const char* line;
  } cases[] = {{"out/APP.A$2.zpd", "Indexed File 'out/APP.A$2.zpd' appears to be missing\n"},
               {"out/APP.A$1.zpd", "Indexed File 'out/APP.A$3.zpd' should start at index 1\n"}};
  for (const Case& c : cases) {
    std::remove(ScratchPath(c.removed).c_str());
    r = RunZeplo({"-m", "QM1", "-f", "out/*", "-o", "APP.A"});
    EXPECT_EQ(Status(2100), r.exitStatus) << r.err;
    EXPECT_TRUE(Has(r.err, c.line)) << r.err;
    EXPECT_TRUE(BrowseMessages("QM1", "APP.A").empty());
  }
}

TEST_F(GenericTest, RefusalsAndSilencesEndTheRun) {
  LocalqmOrFail({"create", "QMZ", "--platform", "1"});
  LocalqmOrFail({"define", "QMZ", "ZQ"});
  LocalqmOrFail({"put", "QMZ", "ZQ", "--text", "z"});
  LocalqmOrFail({"create", "QMS"});
  LocalqmOrFail({"cmdserver", "QMS", "stop"});
  const struct {
    const char* args;
    int exitStatus;
    std::string err;
    std::string out;
  } cases[] = {
      {"-m QM1 -i NOPE* -f zz/*", Status(2085),
       "Command Server Response failure. RC(2085) Unknown object name\n", ""},
      {"-m QM1 -i APP.EMPTY -f zz/*", 0, "No non-empty queues found matching 'APP.EMPTY'.\n", ""},
      {"-m QM1 -i X* -i Y* -i Z* -f zz/*", 0,
       "No non-empty queues found matching 'X*','Y*' or 'Z*'.\n", ""},
      {"-m QM1 -I APP.A -f zz/*", Status(2046), "You can not do a destructive generic unload.\n",
       ""},
      {"-m QM1 -i APP.A -f zz/*.a-b", Status(2046), "Invalid generic file type.\n", ""},
      {"-m QM1 -f nodir/* -o APP.A", Status(2035), "Can not open directory 'nodir/'.\n", ""},
      {"-m QM1 -f zz/* -o NOPE", 0, "No matching ZEPLO files found.\n", ""},
      // Files to files: there is no queue to ask or to load.
      {"-f in.zpd -f zz/*", Status(2046), "A generic unload needs input queue names.\n", ""},
      {"-f zz/* -f out.zpd", Status(2046), "A generic load needs output queue names.\n", ""},
      // A z/OS queue manager gets the z/OS form of the request.
      {"-m QMZ -i Z* -f zz/*", 0, "",
       "ZQ                                                    1  Done.\n"
       "\nTotal : 1 Queues, 1 Messages\n"},
      // A stopped command server: no answer within 10 seconds.
      {"-m QMS -i APP.A -f zz/*", Status(2033), "No response from command server.\n", ""},
  };
  mkdir(ScratchPath("zz").c_str(), 0700);
  for (const auto& c : cases) {
    RunResult r = RunZeplo(Words(std::string("-q ") + c.args));
    EXPECT_EQ(c.exitStatus, r.exitStatus) << c.args << r.err;
    EXPECT_EQ(c.err, r.err) << c.args;
    EXPECT_EQ(c.out, r.out) << c.args;
  }
}

}  // namespace
