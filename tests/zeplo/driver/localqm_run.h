// Whole runs of ZeploMain in this process (or in a forked child of it)
// against the stand-in queue manager of the build tree, with one scratch
// data root per test suite.
#ifndef ZEPLO_TESTS_ZEPLO_DRIVER_LOCALQM_RUN_H_
#define ZEPLO_TESTS_ZEPLO_DRIVER_LOCALQM_RUN_H_

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "zeplo/driver/driver.h"

class LocalqmRunTest : public testing::Test {
 protected:
  // A fresh data root holding QM1 with the empty local queues Q1 and Q2.
  static void SetUpTestSuite() {
    root_ = std::filesystem::temp_directory_path() /
            ("driver_run_" + std::to_string(getpid()));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "qm");
    setenv("LOCALQM_ROOT", (root_ / "qm").c_str(), 1);
    setenv("MQ_INSTALLATION_PATH", Install().c_str(), 1);
    unsetenv("MQM_DLL_PATH");
    unsetenv("MQIC_DLL_PATH");
    Admin("create QM1 --default");
    Admin("define QM1 Q1");
    Admin("define QM1 Q2");
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(root_); }

  static std::string Install() { return std::string(ZEPLO_BUILD_DIR) + "/mqinst"; }

  // Runs the admin command with `args`; returns its standard output. The
  // test fails when the command does.
  static std::string Admin(const std::string& args) {
    std::string command = "'" + Install() + "/bin/localqm' " + args;
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

  // Runs the program with `args` in the scratch root and returns its code,
  // with standard error in *err.
  static int Run(std::vector<std::string> args, std::string* err) {
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(root_);
    args.insert(args.begin(), "zeplo");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    int rc = ZeploMain(static_cast<int>(args.size()), argv.data());
    *err = testing::internal::GetCapturedStderr();
    std::filesystem::current_path(previous);
    return rc;
  }

  // Runs the program in a child process that ends as the program does,
  // with whatever connections it left open; returns its exit status.
  static int RunInChild(std::vector<std::string> args) {
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
      std::string err;
      int rc = Run(args, &err);
      _exit(rc & 0xFF);
    }
    int status = -1;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::filesystem::path root_;
};

inline std::filesystem::path LocalqmRunTest::root_;

// The tests that include this helper include it last: they are held to the
// same banned calls as the program.
#include "zeplo/util/banned.h"

#endif  // ZEPLO_TESTS_ZEPLO_DRIVER_LOCALQM_RUN_H_
