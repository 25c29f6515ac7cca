// Modes this build does not have are refused by the run driver, after
// connecting and before anything is read or written: one "Sorry, ... is
// not available in this build." line and 2046.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/zeplo/driver/localqm_run.h"

namespace {

namespace fs = std::filesystem;

class UnbuiltModesTest : public LocalqmRunTest {
 protected:
  static void SetUpTestSuite() {
    LocalqmRunTest::SetUpTestSuite();
    Admin("put QM1 Q1 --text hello --count 3");
    std::ofstream(root_ / "in.txt") << "hello\n";
  }
};

TEST_F(UnbuiltModesTest, RefusedBeforeAnythingMoves) {
  struct Case {
    std::vector<std::string> Args;
    std::string What;
  } cases[] = {
      {{"-mQM1", "-IQ1", "-fout*.txt"}, "generic unload to many files"},
      {{"-fin*.txt", "-mQM1", "-oQ2"}, "generic load from many files"},
      {{"-mQM1", "-iQ1", "-ds"}, "the queue summary display"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.Args;
    args.insert(args.begin(), "-q");
    std::string err;
    EXPECT_EQ(Run(args, &err), 2046) << c.What;
    EXPECT_EQ(err, "Sorry, " + c.What + " is not available in this build.\n");
    // Nothing was taken from the input queue, put or written.
    EXPECT_EQ(Admin("depth QM1 Q1"), "3\n") << c.What;
    EXPECT_EQ(Admin("depth QM1 Q2"), "0\n") << c.What;
    EXPECT_FALSE(fs::exists(root_ / "out.txt")) << c.What;
  }
}

// The modes next to the refused ones still run.
TEST_F(UnbuiltModesTest, OrdinaryRunsGoOn) {
  std::string err;
  EXPECT_EQ(Run({"-q", "-mQM1", "-iQ1", "-fout.txt"}, &err), 0) << err;
  EXPECT_TRUE(fs::exists(root_ / "out.txt"));
  EXPECT_EQ(Run({"-q", "-fout.txt", "-mQM1", "-oQ2"}, &err), 0) << err;
  EXPECT_EQ(Admin("depth QM1 Q2"), "3\n");
  fs::remove(root_ / "out.txt");
  Admin("clear QM1 Q2");
}

}  // namespace
