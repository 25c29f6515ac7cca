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

// A scratch directory and the options of a run writing into it (forced,
// as -F, unless told otherwise); the unit's list goes with it.
struct Unit {
  ScratchDir dir;
  std::unique_ptr<TestRun> opts = NewOptions();
  explicit Unit(bool force = true) { opts->Parsed.ForceOverwrite = force; }
  ~Unit() { ReleaseUnitFiles(opts.get()); }
  void Write(const std::string& leaf, const std::string& text) {
    OpenAndWrite(opts.get(), leaf[0] == '/' ? leaf : dir / leaf, text);
  }
};

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
    Unit u;
    u.dir.Create("first", "old");
    u.opts->Parsed.FileAccessMode = c.access;
    ASSERT_EQ(0, MarkOutputCommitted(u.opts.get()));  // the loop starts
    u.Write("first", "c1");
    EXPECT_EQ(0, c.committed ? MarkOutputCommitted(u.opts.get()) : 0);
    u.Write("first", "u1");                          // still open: not reopened
    ASSERT_EQ(0, CloseOutputFile(u.opts.get()));  // a roll-over
    u.Write("second", "u2");
    EXPECT_EQ(0, RollBackOutputFiles(u.opts.get()));
    EXPECT_EQ(c.first, FileText(u.dir / "first")) << c.access << c.committed;
    EXPECT_EQ("<missing>", FileText(u.dir / "second"));
    EXPECT_EQ(nullptr, u.opts->Files.OutputStream);
    EXPECT_EQ(c.access == nullptr && !c.committed ? 2 : 1, u.opts->Counters.UncommittedWrittenFiles);
  }
  // A file committed while still empty stays, empty: only what the unit
  // opened itself goes.
  {
    Unit u;
    u.Write("kept", "");
    ASSERT_EQ(0, MarkOutputCommitted(u.opts.get()));
    u.Write("kept", "u1");
    EXPECT_EQ(0, RollBackOutputFiles(u.opts.get()));
    EXPECT_EQ("", FileText(u.dir / "kept"));
  }
  // A unit of more files than the list first has room for: all go.
  {
    Unit u;
    ASSERT_EQ(0, MarkOutputCommitted(u.opts.get()));
    for (char c = 'a'; c < 'j'; c++) {
      u.Write(std::string(1, c), "u");
      ASSERT_EQ(0, CloseOutputFile(u.opts.get()));
    }
    EXPECT_EQ(0, RollBackOutputFiles(u.opts.get()));
    for (char c = 'a'; c < 'j'; c++) EXPECT_EQ("<missing>", FileText(u.dir / std::string(1, c))) << c;
  }
  // A file cut back behind our header ends again with the end line.
  {
    Unit u(false);
    u.Write("ours", "");
    ASSERT_EQ(0, WriteFileHeader(u.opts.get(), nullptr));
    ASSERT_EQ(0, MarkOutputCommitted(u.opts.get()));
    u.Write("ours", "u1");
    EXPECT_EQ(0, RollBackOutputFiles(u.opts.get()));
    std::string text = FileText(u.dir / "ours");
    EXPECT_EQ(std::string(kFileEndLine) + "\n", text.substr(text.find('\n') + 2)) << text;
  }
  // A device named as the output is never cut back nor removed.
  Unit u;
  ASSERT_EQ(0, MarkOutputCommitted(u.opts.get()));
  u.Write("/dev/null", "u1");
  EXPECT_EQ(0, RollBackOutputFiles(u.opts.get()));
  struct stat st {};
  EXPECT_EQ(0, stat("/dev/null", &st));
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  CloseOutputFile(u.opts.get());
}

}  // namespace
