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
      {{"-fin.txt", "-fout.txt", "-dxtest"}, "the file format self-test"},
      {{"-jlog.txt", "-fout.txt"}, "replaying messages from a queue manager log"},
      {{"-n1", "-fin.txt", "-mQM1", "-oQ2"}, "loading delimited files"},
      {{"-n1", "-fin.txt", "-fout.txt"}, "loading delimited files"},
      {{"-mQM1", "-IQ1", "-IQ2", "-fout.txt"}, "reading several input queues at once"},
      {{"-mQM1", "-IQ1", "-IQ2", "-oQ2"}, "reading several input queues at once"},
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
