// Opening the run's files: the overwrite question, access modes, numbered
// input sequences, -L roll-over and the refusals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "zeplo/files/files.h"

namespace {

class RunFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zeplo_runfiles_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    opts_->DataWidth = 25;
  }
  void TearDown() override {
    CloseOutputFile(opts_.get());
    CloseInputFile(opts_.get());
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
  }
  std::string Path(const std::string& leaf) { return dir_ + "/" + leaf; }
  void Create(const std::string& leaf, const std::string& content) {
    std::FILE* f = std::fopen(Path(leaf).c_str(), "w");
    ASSERT_NE(nullptr, f);
    std::fputs(content.c_str(), f);
    std::fclose(f);
  }
  std::string Read(const std::string& leaf) {
    std::string text;
    std::FILE* f = std::fopen(Path(leaf).c_str(), "r");
    if (f == nullptr) return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
  }
  void SetOutput(const std::string& name) {
    std::snprintf(opts_->OutputFile, sizeof(opts_->OutputFile), "%s", name.c_str());
  }
  void SetInput(const std::string& name) {
    std::snprintf(opts_->InputFile, sizeof(opts_->InputFile), "%s", name.c_str());
  }
  // What the selection step does for one message going to a file.
  int Deliver(const std::string& bytes) {
    data_ = bytes;
    MessageBuffer& m = opts_->Message;
    m.Storage = reinterpret_cast<unsigned char*>(data_.data());
    m.Cursor = m.Storage;
    m.Capacity = m.DataLength = static_cast<int32_t>(data_.size());
    m.Descriptor = &m.OwnDescriptor;
    int rc = PrepareOutputFile(opts_.get(), m.DataLength, "Q1");
    if (rc != 0) return rc;
    rc = WriteMessage(opts_.get());
    if (rc != 0) return rc;
    if (FileLimitReached(opts_.get())) rc = CloseOutputFile(opts_.get());
    return rc;
  }

  std::unique_ptr<RunOptions> opts_ = std::make_unique<RunOptions>();
  std::string dir_;
  std::string data_;
};

TEST_F(RunFilesTest, OverwriteAnswers) {
  const struct {
    const char* name;
    std::string answers;
    int rc;
    bool force;
    int prompts;
  } cases[] = {
      {"yes", "y\n", 0, false, 1},
      {"upper-case yes", "Yes please\n", 0, false, 1},
      {"all", "a\n", 0, true, 1},
      {"no", "n\n", 2208, false, 1},
      {"end of input is no", "", 2208, false, 1},
      {"end without line end", "q", 2208, false, 2},
      {"other then yes", "maybe\n\ny\n", 0, false, 3},
      {"long answer is one answer", std::string(150, 'q') + "\ny\n", 0, false, 2},
      {"long yes", std::string(150, 'y') + "\nn\n", 0, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto opts = std::make_unique<RunOptions>();
    std::FILE* in = std::tmpfile();
    std::fputs(c.answers.c_str(), in);
    std::rewind(in);
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(c.rc, AskOverwrite(opts.get(), "f.zpd", in, out));
    EXPECT_EQ(c.force, opts->ForceOverwrite);
    EXPECT_STREQ(c.rc == 0 ? "" : "File 'f.zpd' already exists.\n", opts->ExitMessage);
    std::rewind(out);
    int prompts = 0;
    char line[256];
    while (std::fgets(line, sizeof(line), out) != nullptr) {
      EXPECT_STREQ("File 'f.zpd' exists - overwrite (y)es/(n)o/(a)ll ?\n", line);
      ++prompts;
    }
    EXPECT_EQ(c.prompts, prompts);
    std::fclose(in);
    std::fclose(out);
  }
}

TEST_F(RunFilesTest, AccessModes) {
  const struct {
    const char* given;
    char base;
    const char* mode;
  } cases[] = {
      {nullptr, 'r', "r"},
      {nullptr, 'w', "w"},
      {"b", 'r', "rb"},
      {"rb", 'r', "rb"},
      {"b", 'w', "wb"},
      {"w+", 'w', "w+"},
      {"a", 'w', "a"},     // append stays append
      {"ab", 'w', "ab"},
      {"a", 'r', "ra"},
      {"bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", 'r', "rbbbbbbbbbbbbbbbbbbb"},
      {"rbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", 'r', "rbbbbbbbbbbbbbbbbbbb"},
  };
  for (const auto& c : cases) {
    char mode[21];
    FileAccessModeFor(c.given, c.base, mode);
    EXPECT_STREQ(c.mode, mode) << (c.given ? c.given : "(none)") << " " << c.base;
  }
}

TEST_F(RunFilesTest, OutputOpenOutcomes) {
  Create("old.zpd", "old content");
  const struct {
    const char* name;
    std::string file;
    bool force;
    const char* access;
    int rc;
    std::string message;
  } cases[] = {
      {"new file", Path("new.zpd"), false, nullptr, 0, ""},
      {"exists without prompt", Path("old.zpd"), false, nullptr, 2208,
       "File '" + Path("old.zpd") + "' already exists.\n"},
      {"exists with -F", Path("old.zpd"), true, nullptr, 0, ""},
      {"no such directory", Path("none/x.zpd"), false, nullptr, 2208,
       "Can not open output file '" + Path("none/x.zpd") + "'\n"},
      {"no such directory with -a", Path("none/x.zpd"), false, "b", 2208,
       "Can not open output file '" + Path("none/x.zpd") + "'(wb)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto opts = std::make_unique<RunOptions>();
    std::snprintf(opts->OutputFile, sizeof(opts->OutputFile), "%s", c.file.c_str());
    opts->ForceOverwrite = c.force;
    opts->FileAccessMode = c.access;
    EXPECT_EQ(c.rc, OpenRunFiles(opts.get(), false, true, true));
    EXPECT_EQ(c.message, opts->ExitMessage);
    EXPECT_EQ(c.rc == 0 ? 1 : 0, opts->WrittenFiles);
    EXPECT_EQ(c.rc == 0, opts->OutputStream != nullptr);
    EXPECT_EQ(c.file, opts->CurrentOutputFile);
    if (c.rc == 0) {
      EXPECT_LE(std::llabs(opts->FileOpenTime - static_cast<int64_t>(std::time(nullptr))), 2);
      EXPECT_EQ(0, CloseOutputFile(opts.get()));
    }
  }
  EXPECT_EQ("", Read("old.zpd"));  // -F truncated it
}

TEST_F(RunFilesTest, StdoutAndNullNames) {
  for (const char* name : {"stdout", "null"}) {
    auto opts = std::make_unique<RunOptions>();
    std::snprintf(opts->OutputFile, sizeof(opts->OutputFile), "%s", name);
    ASSERT_EQ(0, OpenRunFiles(opts.get(), false, false, true));
    EXPECT_EQ(stdout, opts->OutputStream);
    EXPECT_EQ(std::strcmp(name, "null") == 0, opts->OutputIsNull);
    EXPECT_EQ(1, opts->WrittenFiles);
    EXPECT_EQ(0, CloseOutputFile(opts.get()));
  }
}

TEST_F(RunFilesTest, AppendKeepsWhatTheFileHeld) {
  Create("log.zpd", "0123456789");
  SetOutput(Path("log.zpd"));
  opts_->ForceOverwrite = true;
  opts_->FileAccessMode = "a";
  opts_->NoMqmd = true;
  ASSERT_EQ(0, OpenRunFiles(opts_.get(), false, false, true));
  EXPECT_EQ(10, opts_->OutputFilePosition);
  ASSERT_EQ(0, Deliver("A"));
  ASSERT_EQ(0, CloseOutputFile(opts_.get()));
  EXPECT_EQ("0123456789N\nX 41\n\n", Read("log.zpd"));
}

// The prompt reads the process's standard input: point it at a file.
TEST_F(RunFilesTest, AnswerAllOverwritesEveryLaterFile) {
  Create("out1.zpd", "one");
  Create("out2.zpd", "two");
  Create("answers", "a\n");
  int saved = dup(0);
  int answers = open(Path("answers").c_str(), O_RDONLY);
  ASSERT_GE(answers, 0);
  dup2(answers, 0);
  close(answers);
  clearerr(stdin);
  SetOutput(Path("out%n.zpd"));
  opts_->LimitsActive = true;
  opts_->MaxMessagesPerFile = 1;
  opts_->NoMqmd = true;
  opts_->NoHeader = true;
  opts_->Interactive = true;
  int first = Deliver("1");
  int second = Deliver("2");
  dup2(saved, 0);
  close(saved);
  clearerr(stdin);
  EXPECT_EQ(0, first);
  EXPECT_EQ(0, second);
  EXPECT_TRUE(opts_->ForceOverwrite);
  EXPECT_EQ("N\nX 31\n\n", Read("out1.zpd"));
  EXPECT_EQ("N\nX 32\n\n", Read("out2.zpd"));
}

TEST_F(RunFilesTest, OneMessagePerFileByDefaultWithInserts) {
  SetOutput(Path("out%n.zpd"));
  opts_->LimitsActive = true;
  opts_->MaxMessagesPerFile = 1;
  opts_->NoMqmd = true;
  for (const char* m : {"a", "b", "c"}) ASSERT_EQ(0, Deliver(m));
  EXPECT_EQ(3, opts_->WrittenFiles);
  EXPECT_EQ(nullptr, opts_->OutputStream);
  for (int i = 1; i <= 3; ++i) {
    std::string text = Read("out" + std::to_string(i) + ".zpd");
    EXPECT_EQ(0u, text.find("* ZEPLO Version:9.1.1 Created:"));
    char expected[16];
    std::snprintf(expected, sizeof(expected), "N\nX %02X\n\n", 'a' + i - 1);
    EXPECT_EQ(expected, text.substr(text.find("\n\n") + 2));
  }
}

TEST_F(RunFilesTest, MessageCountLimitSplitsFiles) {
  SetOutput(Path("part%N.zpd"));
  opts_->LimitsActive = true;
  opts_->MaxMessagesPerFile = 2;
  opts_->NoMqmd = true;
  opts_->NoHeader = true;
  for (const char* m : {"1", "2", "3", "4", "5"}) ASSERT_EQ(0, Deliver(m));
  ASSERT_EQ(0, CloseOutputFile(opts_.get()));
  EXPECT_EQ("N\nX 31\n\nN\nX 32\n\n", Read("part00001.zpd"));
  EXPECT_EQ("N\nX 33\n\nN\nX 34\n\n", Read("part00002.zpd"));
  EXPECT_EQ("N\nX 35\n\n", Read("part00003.zpd"));
  EXPECT_EQ("<missing>", Read("part00004.zpd"));
}

TEST_F(RunFilesTest, SizeRoomClosesBeforeWriting) {
  const struct {
    int64_t position, message;
    bool rolled;
  } cases[] = {
      {600000, 600000, true},   // 448576 left < 2 x 600512
      {600000, 300000, true},   // 448576 left < 601024
      {400000, 300000, false},  // 648576 left >= 601024
  };
  for (const auto& c : cases) {
    auto opts = std::make_unique<RunOptions>();
    std::snprintf(opts->OutputFile, sizeof(opts->OutputFile), "%s", Path("s%n.zpd").c_str());
    opts->LimitsActive = true;
    opts->MaxFileSize = 1048576;
    opts->NoHeader = true;
    opts->ForceOverwrite = true;
    ASSERT_EQ(0, PrepareOutputFile(opts.get(), 0, nullptr));
    opts->OutputFilePosition = c.position;
    ASSERT_EQ(0, PrepareOutputFile(opts.get(), c.message, nullptr));
    EXPECT_EQ(c.rolled ? 2 : 1, opts->WrittenFiles) << c.position << " " << c.message;
    EXPECT_EQ(0, CloseOutputFile(opts.get()));
  }
}

TEST_F(RunFilesTest, LimitReachedTable) {
  const struct {
    const char* name;
    bool active, open;
    int32_t maxMessages, count, maxAge;
    int64_t maxSize, position, age;
    bool reached;
  } cases[] = {
      {"count reached", true, true, 2, 2, 0, 0, 0, 0, true},
      {"count below", true, true, 2, 1, 0, 0, 0, 0, false},
      {"age reached", true, true, 0, 1, 60, 0, 0, 60, true},
      {"age below", true, true, 0, 1, 60, 0, 0, 59, false},
      {"size reached", true, true, 0, 1, 0, 100, 100, 0, true},
      {"size below", true, true, 0, 1, 0, 100, 99, 0, false},
      {"limits off", false, true, 1, 5, 1, 1, 5, 5, false},
      {"no file open", true, false, 1, 5, 0, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    auto opts = std::make_unique<RunOptions>();
    opts->LimitsActive = c.active;
    opts->OutputStream = c.open ? stdout : nullptr;
    opts->MaxMessagesPerFile = c.maxMessages;
    opts->FileMessageCount = c.count;
    opts->MaxFileAge = c.maxAge;
    opts->MaxFileSize = c.maxSize;
    opts->OutputFilePosition = c.position;
    opts->FileOpenTime = 1000;
    EXPECT_EQ(c.reached, FileLimitReachedAt(opts.get(), 1000 + c.age)) << c.name;
  }
}

TEST_F(RunFilesTest, SameNameAgainIsRefusedEvenWithForce) {
  SetOutput(Path("fixed.zpd"));
  opts_->LimitsActive = true;
  opts_->MaxMessagesPerFile = 1;
  opts_->ForceOverwrite = true;
  opts_->NoMqmd = true;
  opts_->NoHeader = true;
  ASSERT_EQ(0, Deliver("1"));
  EXPECT_EQ(2208, Deliver("2"));
  EXPECT_EQ("File '" + Path("fixed.zpd") + "' already exists.\n", std::string(opts_->ExitMessage));
  EXPECT_EQ("N\nX 31\n\n", Read("fixed.zpd"));
}

TEST_F(RunFilesTest, GenericOutputRollsOverToDollarFiles) {
  opts_->Generic = true;
  SetOutput(Path("*"));
  std::snprintf(opts_->GenericDirectory, sizeof(opts_->GenericDirectory), "%s/", dir_.c_str());
  std::snprintf(opts_->GenericBaseName, sizeof(opts_->GenericBaseName), "Q1");
  std::snprintf(opts_->GenericFileType, sizeof(opts_->GenericFileType), ".zpd");
  opts_->LimitsActive = true;
  opts_->MaxMessagesPerFile = 1;
  opts_->NoMqmd = true;
  opts_->NoHeader = true;
  for (const char* m : {"1", "2", "3"}) ASSERT_EQ(0, Deliver(m));
  EXPECT_EQ("<missing>", Read("Q1.zpd"));
  EXPECT_EQ("N\nX 31\n\n", Read("Q1$1.zpd"));
  EXPECT_EQ("N\nX 32\n\n", Read("Q1$2.zpd"));
  EXPECT_EQ("N\nX 33\n\n", Read("Q1$3.zpd"));
}

TEST_F(RunFilesTest, NullOutputOpensNothingAndCountsEverything) {
  SetOutput("null");
  opts_->OutputIsNull = true;
  for (const char* m : {"1", "22"}) ASSERT_EQ(0, Deliver(m));
  EXPECT_EQ(nullptr, opts_->OutputStream);
  EXPECT_EQ(0, opts_->WrittenFiles);
  EXPECT_EQ(2, opts_->WrittenCount);
  EXPECT_EQ(3u, opts_->WrittenBytes);
}

TEST_F(RunFilesTest, NumberedInputSequenceEndsQuietly) {
  Create("in1.zpd", "12345");
  Create("in2.zpd", "123");
  SetInput(Path("in%n.zpd"));
  ASSERT_EQ(0, OpenRunFiles(opts_.get(), false, true, false));
  EXPECT_EQ(Path("in1.zpd"), opts_->CurrentInputFile);
  char buf[16];
  EXPECT_EQ(5u, std::fread(buf, 1, sizeof(buf), opts_->InputStream));
  CloseInputFile(opts_.get());
  ASSERT_EQ(0, OpenRunFiles(opts_.get(), false, true, false));
  EXPECT_EQ(Path("in2.zpd"), opts_->CurrentInputFile);
  EXPECT_EQ(3u, std::fread(buf, 1, sizeof(buf), opts_->InputStream));
  CloseInputFile(opts_.get());
  EXPECT_EQ(2208, OpenRunFiles(opts_.get(), false, true, false));
  EXPECT_STREQ("", opts_->ExitMessage);
  EXPECT_EQ(2, opts_->ReadFiles);
  EXPECT_EQ(nullptr, opts_->InputStream);
}

TEST_F(RunFilesTest, InputRefusals) {
  Create("once.zpd", "x");
  const struct {
    const char* name;
    std::string file;
    const char* access;
    bool twice;
    std::string message;
  } cases[] = {
      {"missing first file", Path("missing.zpd"), nullptr, false,
       "Can not open input file '" + Path("missing.zpd") + "'\n"},
      {"missing with mode", Path("missing.zpd"), "b", false,
       "Can not open input file '" + Path("missing.zpd") + "'(rb)\n"},
      {"same file again", Path("once.zpd"), nullptr, true,
       "Duplicate input file '" + Path("once.zpd") + "'\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto opts = std::make_unique<RunOptions>();
    std::snprintf(opts->InputFile, sizeof(opts->InputFile), "%s", c.file.c_str());
    opts->FileAccessMode = c.access;
    if (c.twice) {
      ASSERT_EQ(0, OpenRunFiles(opts.get(), false, true, false));
      CloseInputFile(opts.get());
    }
    EXPECT_EQ(2208, OpenRunFiles(opts.get(), false, true, false));
    EXPECT_EQ(c.message, opts->ExitMessage);
    EXPECT_EQ(c.twice ? 1 : 0, opts->ReadFiles);
  }
}

TEST_F(RunFilesTest, UnwritableOutputGivesFailureText) {
  std::FILE* probe = std::fopen("/dev/full", "w");
  if (probe == nullptr) GTEST_SKIP() << "no /dev/full";
  std::fclose(probe);
  SetOutput("/dev/full");
  opts_->ForceOverwrite = true;
  EXPECT_EQ(2102, Deliver("abc"));
  EXPECT_STREQ("Can not write to file '/dev/full'", opts_->ExitMessage);
  EXPECT_EQ(0, opts_->WrittenCount);
}

}  // namespace
