// The file format self-test (-dxtest) with the real binary: its report,
// the test file it leaves, and the run that goes on after it; a test that
// cannot run ends the run instead of passing for one.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_util.h"

namespace {

const char kTestFile[] = "c:\\temp\\zeplo.tst";  // one file, backslashes and all

TEST(FileSelfTest, ThreePassesThenTheRun) {
  RunResult r = RunZeplo(
      {"-dxtest", "-f", SourcePath("tests/data/files/hex.zpd"), "-f", "out.zpd"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(0u, AfterBanner(r.err).find("\nRunning file format tests\n"
                                        "\n-------------------------\n"
                                        "  Testing Hex file\n"
                                        "  Testing Ascii file\n"
                                        "  Testing Ascii column file\n"
                                        "All tests passed\n"
                                        "----------------\n"))
      << r.err;
  EXPECT_TRUE(FileExists(ScratchPath(kTestFile)));
  EXPECT_FALSE(FileExists(ScratchPath("cstrap.txt")));
  EXPECT_TRUE(FileExists(ScratchPath("out.zpd")));  // the run went on
}

TEST(FileSelfTest, TestThatCannotRunEndsTheRun) {
  ASSERT_EQ(0, RunProgram("/bin/mkdir", {ScratchPath(kTestFile)}).exitStatus);
  RunResult r = RunZeplo(
      {"-dxtest", "-f", SourcePath("tests/data/files/hex.zpd"), "-f", "out.zpd"});
  EXPECT_EQ(Status(2195), r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos,
            r.err.find("  Testing Hex file\nCan not open test file 'c:\\temp\\zeplo.tst' for "
                       "output\n"))
      << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("All tests passed")) << r.err;
  EXPECT_FALSE(FileExists(ScratchPath("out.zpd")));
}

}  // namespace
