// Modes this build does not have are refused by the run driver, after
// connecting and before anything is read or written: one "Sorry, ... is
// not available in this build." line and 2046. Whole runs of ZeploMain
// against the stand-in queue manager of the build tree.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "zeplo/driver/driver.h"

namespace {

namespace fs = std::filesystem;

const std::string kInstall = std::string(ZEPLO_BUILD_DIR) + "/mqinst";

class UnbuiltModesTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("driver_unbuilt_" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "qm");
    setenv("LOCALQM_ROOT", (root_ / "qm").c_str(), 1);
    setenv("MQ_INSTALLATION_PATH", kInstall.c_str(), 1);
    unsetenv("MQM_DLL_PATH");
    unsetenv("MQIC_DLL_PATH");
    Admin("create QM1 --default");
    Admin("define QM1 Q1");
    Admin("define QM1 Q2");
    Admin("put QM1 Q1 --text hello --count 3");
    std::ofstream(root_ / "in.txt") << "hello\n";
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  static std::string Admin(const std::string& args) {
    std::string command = "'" + kInstall + "/bin/localqm' " + args;
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr) << command;
    if (pipe == nullptr) return out;
    char chunk[256];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return out;
  }

  // Runs the program with `args` (paths taken relative to the scratch
  // root) and returns its code, with standard error in *err.
  static int Run(std::vector<std::string> args, std::string* err) {
    fs::path previous = fs::current_path();
    fs::current_path(root_);
    args.insert(args.begin(), "zeplo");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    int rc = ZeploMain(static_cast<int>(args.size()), argv.data());
    *err = testing::internal::GetCapturedStderr();
    fs::current_path(previous);
    return rc;
  }

  static fs::path root_;
};

fs::path UnbuiltModesTest::root_;

TEST_F(UnbuiltModesTest, RefusedBeforeAnythingMoves) {
  struct Case {
    std::vector<std::string> Args;
    std::string What;
  } cases[] = {
      {{"-mQM1", "-IQ1", "-fout*.txt"}, "generic unload to many files"},
      {{"-fin*.txt", "-mQM1", "-oQ2"}, "generic load from many files"},
      {{"-jlog.txt", "-fout.txt"}, "replaying messages from a queue manager log"},
      {{"-mQM1", "-iQ1", "-ds"}, "the queue summary display"},
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
