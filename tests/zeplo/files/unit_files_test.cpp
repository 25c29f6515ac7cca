// What a backout leaves of the output files: the state of the last commit,
// and never anything done to a file that is not a regular one.
#include <sys/stat.h>

#include "tests/zeplo/files/files_test_util.h"

namespace {

// Opens the next output file (forced, as -F) and writes `text` to it as
// the writer would, flushed and counted.
void OpenAndWrite(TestRun* opts, const std::string& name, const std::string& text) {
  std::snprintf(opts->Parsed.OutputFile, sizeof(opts->Parsed.OutputFile), "%s", name.c_str());
  ASSERT_EQ(0, OpenOutputFile(opts)) << opts->ExitMessage;
  std::fwrite(text.data(), 1, text.size(), opts->Files.OutputStream);
  std::fflush(opts->Files.OutputStream);
  opts->Files.OutputFilePosition += static_cast<int64_t>(text.size());
}

TEST(UnitFilesTest, BackoutLeavesTheFilesAsTheLastCommit) {
  const struct {
    const char* access;  // -a; null: the file is overwritten
    bool committed;      // a commit came after "c1" was written
    std::string first;   // the first file after the backout
  } cases[] = {
      {nullptr, true, "c1"},
      {nullptr, false, "<missing>"},  // opened by the unit: it goes
      {"a", true, "oldc1"},
      {"a", false, "old"},  // appended to: cut back to what it held
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    dir.Create("first", "old");
    auto opts = NewOptions();
    opts->Parsed.ForceOverwrite = true;
    opts->Parsed.FileAccessMode = c.access;
    ASSERT_EQ(0, MarkOutputCommitted(opts.get()));  // the loop starts
    OpenAndWrite(opts.get(), dir / "first", "c1");
    EXPECT_EQ(0, c.committed ? MarkOutputCommitted(opts.get()) : 0);
    OpenAndWrite(opts.get(), dir / "first", "u1");  // still open: not reopened
    ASSERT_EQ(0, CloseOutputFile(opts.get()));      // a roll-over
    OpenAndWrite(opts.get(), dir / "second", "u2");
    EXPECT_EQ(0, RollBackOutputFiles(opts.get()));
    EXPECT_EQ(c.first, FileText(dir / "first")) << c.access << c.committed;
    EXPECT_EQ("<missing>", FileText(dir / "second"));
    EXPECT_EQ(nullptr, opts->Files.OutputStream);
    EXPECT_EQ(c.access == nullptr && !c.committed ? 2 : 1, opts->Counters.UncommittedWrittenFiles);
    ReleaseUnitFiles(opts.get());
  }
  // A file committed while still empty stays, empty: only what the unit
  // opened itself goes.
  {
    ScratchDir dir;
    auto opts = NewOptions();
    opts->Parsed.ForceOverwrite = true;
    OpenAndWrite(opts.get(), dir / "kept", "");
    ASSERT_EQ(0, MarkOutputCommitted(opts.get()));
    OpenAndWrite(opts.get(), dir / "kept", "u1");
    EXPECT_EQ(0, RollBackOutputFiles(opts.get()));
    EXPECT_EQ("", FileText(dir / "kept"));
    ReleaseUnitFiles(opts.get());
  }
  // A unit of more files than the list first has room for: all go.
  {
    ScratchDir dir;
    auto opts = NewOptions();
    opts->Parsed.ForceOverwrite = true;
    ASSERT_EQ(0, MarkOutputCommitted(opts.get()));
    for (char c = 'a'; c < 'j'; c++) {
      OpenAndWrite(opts.get(), dir / std::string(1, c), "u");
      ASSERT_EQ(0, CloseOutputFile(opts.get()));
    }
    EXPECT_EQ(0, RollBackOutputFiles(opts.get()));
    for (char c = 'a'; c < 'j'; c++) EXPECT_EQ("<missing>", FileText(dir / std::string(1, c))) << c;
    ReleaseUnitFiles(opts.get());
  }
  // A file cut back behind our header ends again with the end line.
  {
    ScratchDir dir;
    auto opts = NewOptions();
    OpenAndWrite(opts.get(), dir / "ours", "");
    ASSERT_EQ(0, WriteFileHeader(opts.get(), nullptr));
    ASSERT_EQ(0, MarkOutputCommitted(opts.get()));
    OpenAndWrite(opts.get(), dir / "ours", "u1");
    EXPECT_EQ(0, RollBackOutputFiles(opts.get()));
    std::string text = FileText(dir / "ours");
    EXPECT_EQ(std::string(kFileEndLine) + "\n", text.substr(text.find('\n') + 2)) << text;
    ReleaseUnitFiles(opts.get());
  }
  // A device named as the output is never cut back nor removed.
  auto opts = NewOptions();
  opts->Parsed.ForceOverwrite = true;
  ASSERT_EQ(0, MarkOutputCommitted(opts.get()));
  OpenAndWrite(opts.get(), "/dev/null", "u1");
  EXPECT_EQ(0, RollBackOutputFiles(opts.get()));
  struct stat st {};
  EXPECT_EQ(0, stat("/dev/null", &st));
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  CloseOutputFile(opts.get());
  ReleaseUnitFiles(opts.get());
}

}  // namespace
