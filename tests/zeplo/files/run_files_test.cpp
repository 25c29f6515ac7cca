// Opening the run's files: access modes, -L roll-over, numbered input
// sequences and the refusals. The overwrite question is answered on a
// terminal by the end-to-end tests.
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <vector>

#include "tests/zeplo/files/files_test_util.h"
#include "tests/zeplo/test_run.h"

namespace {

// The input, then the output, as a run that both reads and writes files.
int OpenBoth(Run* run) {
  int rc = OpenInputFile(run);
  return rc != 0 ? rc : OpenOutputFile(run);
}

// What the selection step does for one message going to the output file.
int Deliver(TestRun* opts, std::string data) {
  SetMessage(opts, &data);
  int rc = PrepareOutputFile(opts, static_cast<int64_t>(data.size()), "Q1");
  if (rc == 0) rc = WriteMessage(opts);
  if (rc == 0 && FileLimitReached(opts)) rc = CloseOutputFile(opts);
  return rc;
}

TEST(RunFilesTest, AccessModes) {
  const struct { const char* given; char base; const char* mode; } cases[] = {
      {nullptr, 'r', "r"}, {"b", 'r', "rb"}, {"rb", 'r', "rb"}, {"b", 'w', "wb"}, {"w+", 'w', "w+"},
      {"a", 'w', "a"}, {"a", 'r', "ra"}, {"bbbbbbbbbbbbbbbbbbbbbbbbb", 'r', "rbbbbbbbbbbbbbbbbbbb"},
      {"rbbbbbbbbbbbbbbbbbbbbbbbb", 'r', "rbbbbbbbbbbbbbbbbbbb"}};
  for (const auto& c : cases) {
    char mode[21];
    FileAccessModeFor(c.given, c.base, mode);
    EXPECT_STREQ(c.mode, mode) << (c.given ? c.given : "-") << c.base;
  }
}

// -F replaces a link, never writes through it, and writes a device in
// place; appending refuses a link. A failed flush fails the commit.
TEST(RunFilesTest, OutputNeverGoesThroughALink) {
  ScratchDir dir;
  dir.Create("victim", "keep");
  for (const char* link : {"link", "link2"}) {
    ASSERT_EQ(0, symlink((dir / "victim").c_str(), (dir / link).c_str()));
  }
  const struct {
    std::string name;
    const char* access;
    int rc, durable;
    mode_t type;  // of the name afterwards
  } cases[] = {{dir / "link", nullptr, 0, 0, S_IFREG}, {dir / "link2", "a", 2208, 0, S_IFLNK},
               {"/dev/full", nullptr, 0, 2102, S_IFCHR}};
  for (const auto& c : cases) {
    auto opts = NewOptions();
    Copy(opts->Parsed.OutputFile, c.name);
    opts->Parsed.ForceOverwrite = true;
    opts->Parsed.FileAccessMode = c.access;
    EXPECT_EQ(c.rc, OpenOutputFile(opts.get())) << c.name;
    if (c.rc == 0) WriteFileHeader(opts.get(), nullptr);
    EXPECT_EQ(c.durable, MakeOutputDurable(opts.get())) << c.name;
    CloseOutputFile(opts.get());
    struct stat st {};
    ASSERT_EQ(0, lstat(c.name.c_str(), &st)) << c.name;
    EXPECT_EQ(c.type, st.st_mode & S_IFMT) << c.name;
    EXPECT_EQ("keep", FileText(dir / "victim"));
  }
}

TEST(RunFilesTest, RollOverNames) {
  const struct {
    const char* pattern;
    bool generic, force;
    int32_t maxMessages;
    std::vector<const char*> files;  // what each file holds: its messages
    const char* message;
  } cases[] = {
      // The file after the last message is never opened.
      {"p%N.zpd", false, false, 2, {"p00001.zpd:12", "p00002.zpd:3", "p00003.zpd:"}, ""},
      {"*", true, false, 1, {"Q1.zpd:", "Q1$1.zpd:1", "Q1$2.zpd:2", "Q1$3.zpd:3"}, ""},
      // A name that does not change would overwrite the file just written.
      {"fixed.zpd", false, true, 1, {"fixed.zpd:1"}, "File '%s/fixed.zpd' already exists.\n"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    auto opts = NewOptions();
    Copy(opts->Parsed.OutputFile, dir / c.pattern);
    Copy(opts->Files.GenericDirectory, dir.path + "/");
    Copy(opts->Files.GenericBaseName, "Q1");
    Copy(opts->Files.GenericFileType, ".zpd");
    opts->Parsed.Generic = c.generic;
    opts->Parsed.ForceOverwrite = c.force;
    opts->Parsed.LimitsActive = opts->Parsed.NoMqmd = opts->Parsed.NoHeader = true;
    opts->Parsed.MaxMessagesPerFile = c.maxMessages;
    int rc = 0;
    for (const char* m : {"1", "2", "3"}) rc = rc != 0 ? rc : Deliver(opts.get(), m);
    EXPECT_EQ(c.message[0] == '\0' ? 0 : 2208, rc) << c.pattern;
    char message[512];
    std::snprintf(message, sizeof(message), c.message, dir.path.c_str());
    EXPECT_STREQ(message, opts->ExitMessage);
    EXPECT_EQ(0, CloseOutputFile(opts.get()));
    for (const char* f : c.files) {
      std::string spec = f, leaf = spec.substr(0, spec.find(':')), expected;
      for (char m : spec.substr(spec.find(':') + 1)) expected += std::string("N\nX 3") + m + "\n\n";
      EXPECT_EQ(expected.empty() ? "<missing>" : expected, FileText(dir / leaf)) << leaf;
    }
  }
}

TEST(RunFilesTest, LimitReachedTable) {
  const struct {
    bool active, open;
    int32_t maxMessages, count, maxAge;
    int64_t maxSize, position, age;
    bool reached;
  } cases[] = {
      {true, true, 2, 2, 0, 0, 0, 0, true},     {true, true, 2, 1, 0, 0, 0, 0, false},
      {true, true, 0, 1, 60, 0, 0, 60, true},   {true, true, 0, 1, 60, 0, 0, 59, false},
      {true, true, 0, 1, 0, 100, 100, 0, true}, {true, true, 0, 1, 0, 100, 99, 0, false},
      {false, true, 1, 5, 1, 1, 5, 5, false},   {true, false, 1, 5, 0, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    auto opts = NewOptions();
    opts->Parsed.LimitsActive = c.active;
    opts->Files.OutputStream = c.open ? stdout : nullptr;
    opts->Parsed.MaxMessagesPerFile = c.maxMessages;
    opts->Files.FileMessageCount = c.count;
    opts->Parsed.MaxFileAge = c.maxAge;
    opts->Parsed.MaxFileSize = c.maxSize;
    opts->Files.OutputFilePosition = c.position;
    opts->Files.FileOpenTime = 1000;
    EXPECT_EQ(c.reached, FileLimitReachedAt(opts.get(), 1000 + c.age)) << &c - cases;
  }
}

TEST(RunFilesTest, InputSequencesAndRefusals) {
  ScratchDir dir;
  dir.Create("in1.zpd", "12345");
  dir.Create("in2.zpd", "123");
  const struct {
    std::string pattern;
    const char* access;
    std::vector<std::string> opened;  // then one more open that fails
    std::string message;              // "": it ends the sequence quietly
  } cases[] = {
      {dir / "in%n.zpd", nullptr, {dir / "in1.zpd", dir / "in2.zpd"}, ""},
      {dir / "none", nullptr, {}, "Can not open input file '" + dir / "none" + "'\n"},
      {dir / "none", "b", {}, "Can not open input file '" + dir / "none" + "'(rb)\n"},
      {dir / "in1.zpd", nullptr, {dir / "in1.zpd"},
       "Duplicate input file '" + dir / "in1.zpd" + "'\n"},
  };
  for (const auto& c : cases) {
    auto opts = NewOptions();
    Copy(opts->Parsed.InputFile, c.pattern);
    opts->Parsed.FileAccessMode = c.access;
    for (const std::string& name : c.opened) {
      ASSERT_EQ(0, OpenBoth(opts.get()));
      EXPECT_EQ(name, opts->Files.CurrentInputFile);
      EXPECT_NE(nullptr, opts->Files.InputStream);
      CloseInputFile(opts.get());
    }
    EXPECT_EQ(c.message.empty() ? 0 : 2208, OpenInputFile(opts.get())) << c.pattern;
    EXPECT_EQ(c.message, opts->ExitMessage);
    EXPECT_EQ(static_cast<int32_t>(c.opened.size()), opts->Counters.ReadFiles);
    EXPECT_EQ(nullptr, opts->Files.InputStream);
  }
}

TEST(RunFilesTest, TheInputIsNeverOpenedForWriting) {
  ScratchDir dir;
  dir.Create("in.zpd", "keep me");
  auto opts = NewOptions();
  Copy(opts->Parsed.InputFile, dir / "in.zpd");
  Copy(opts->Parsed.OutputFile, dir / "./in.zpd");
  opts->Parsed.ForceOverwrite = true;
  EXPECT_EQ(2208, OpenBoth(opts.get()));
  EXPECT_EQ("Output file '" + dir / "./in.zpd" + "' is the input file being read\n",
            std::string(opts->ExitMessage));
  CloseInputFile(opts.get());
  EXPECT_EQ("keep me", FileText(dir / "in.zpd"));
}

}  // namespace
