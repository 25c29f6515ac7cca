// What a backout leaves of the output files: the state of the last commit,
// and never anything done to a file that is not a regular one.
#include <sys/stat.h>

#include <sstream>

#include "tests/zeplo/files/files_test_util.h"

namespace {

// A scratch directory and the options of a run writing into it (forced,
// as -F, unless told otherwise); the unit's list goes with it.
struct Unit {
  ScratchDir dir;
  std::unique_ptr<TestRun> opts = NewOptions();
  explicit Unit(bool force = true) { opts->Parsed.ForceOverwrite = force; }
  ~Unit() { ReleaseUnitFiles(opts.get()); }
  // Opens the output file `leaf` (or path) unless it is open, and writes
  // `text` to it as the writer would, flushed and counted.
  void Write(const std::string& leaf, const std::string& text) {
    Copy(opts->Parsed.OutputFile, leaf[0] == '/' ? leaf : dir / leaf);
    ASSERT_EQ(0, OpenOutputFile(opts.get())) << opts->ExitMessage;
    std::fwrite(text.data(), 1, text.size(), opts->Files.OutputStream);
    std::fflush(opts->Files.OutputStream);
    opts->Files.OutputFilePosition += static_cast<int64_t>(text.size());
  }
};

// Each script runs in a scratch directory holding "first" ("old"), then
// backs out: "C" commits, "X" closes the file (a roll-over), "name=text"
// opens name (when not open already) and writes text to it.
TEST(UnitFilesTest, BackoutLeavesTheFilesAsTheLastCommit) {
  const struct {
    const char* access;  // -a; null: files are overwritten
    const char *script, *after;  // after: each file's content, "-" when gone
    int32_t uncommitted;
  } cases[] = {
      {nullptr, "C first=c1 C first=u1 X second=u2", "first=c1 second=-", 1},
      {nullptr, "C first=c1 first=u1 X second=u2", "first=- second=-", 2},  // opened by the unit
      {"a", "C first=c1 C first=u1 X second=u2", "first=oldc1 second=-", 1},
      {"a", "C first=c1 first=u1 X second=u2", "first=old second=-", 1},  // cut back to "old"
      // Committed while still empty: it stays, empty.
      {nullptr, "kept= C kept=u1", "kept=", 0},
      // A unit of more files than the list first has room for: all go.
      {nullptr, "C a=u X b=u X c=u X d=u X e=u X f=u X g=u X h=u X i=u X",
       "a=- b=- c=- d=- e=- f=- g=- h=- i=-", 9},
  };
  for (const auto& c : cases) {
    Unit u;
    u.dir.Create("first", "old");
    u.opts->Parsed.FileAccessMode = c.access;
    std::istringstream script(c.script), after(c.after);
    for (std::string step; script >> step;) {
      size_t eq = step.find('=');
      if (eq != std::string::npos) u.Write(step.substr(0, eq), step.substr(eq + 1));
      int rc = step == "C" ? MarkOutputCommitted(u.opts.get())
                           : step == "X" ? CloseOutputFile(u.opts.get()) : 0;
      ASSERT_EQ(0, rc) << step;
    }
    EXPECT_EQ(0, RollBackOutputFiles(u.opts.get()));
    for (std::string file; after >> file;) {
      std::string leaf = file.substr(0, file.find('=')), text = file.substr(file.find('=') + 1);
      EXPECT_EQ(text == "-" ? "<missing>" : text, FileText(u.dir / leaf)) << c.script << leaf;
    }
    EXPECT_EQ(nullptr, u.opts->Files.OutputStream);
    EXPECT_EQ(c.uncommitted, u.opts->Counters.UncommittedWrittenFiles) << c.script;
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
