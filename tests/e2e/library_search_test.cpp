// Finding the MQ library, with the real binary and localqm's libraries laid
// out as an MQ installation: the installation path, the two directory
// overrides, the -l choices, the MQACCESS_DEBUG lines on standard output,
// and a library that cannot be found or is not an MQ library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

// The file the C library of this process was loaded from: a real shared
// library without a single MQI entry point.
std::string CLibraryPath() {
  Dl_info info;
  bool found = dladdr(reinterpret_cast<void*>(&getpid), &info) != 0 && info.dli_fname != nullptr;
  return found ? info.dli_fname : "";
}

// Standard output lines against expected ones; an expected line "Load failed"
// stands for the loader's own message, which must follow the words and end
// in the blank the program adds.
void ExpectDebugLines(const std::vector<std::string>& expected, const std::string& out,
                      const std::string& label) {
  std::vector<std::string> lines = SplitLines(out);
  ASSERT_EQ(expected.size(), lines.size()) << label << "\n" << out;
  for (size_t i = 0; i < lines.size(); i++) {
    if (expected[i] == "Load failed") {
      EXPECT_EQ(0u, lines[i].rfind("Load failed ", 0)) << label << "\n" << lines[i];
      EXPECT_GT(lines[i].size(), 12u) << label;
      EXPECT_EQ(' ', lines[i].back()) << label << "\n" << lines[i];
    } else {
      EXPECT_EQ(expected[i], lines[i]) << label;
    }
  }
}

class LibrarySearchTest : public QueueTest {
 public:
  void SetUp() override {
    QueueTest::SetUp();
    Put({"hello"});
    lib_ = MqInstallPath() + "/lib64";
  }
  std::string lib_;
};

TEST_F(LibrarySearchTest, WhereTheLibraryIsLookedFor) {
  const std::string scratch = ScratchDir();
  for (const char* dir : {"empty", "server", "client"})
    ASSERT_EQ(0, RunProgram("/bin/mkdir", {scratch + "/" + dir}).exitStatus);
  ASSERT_EQ(0, symlink((lib_ + "/libmqm_r.so").c_str(), (scratch + "/server/mymq.so").c_str()));
  ASSERT_EQ(0, symlink((lib_ + "/libmqic_r.so").c_str(), (scratch + "/client/mymqic.so").c_str()));
  const std::string server = "Loading '" + lib_ + "/libmqm_r.so'";
  const std::string client = "Loading '" + lib_ + "/libmqic_r.so'";
  const std::string empty = scratch + "/empty";
  const std::string libc = CLibraryPath();
  ASSERT_FALSE(libc.empty());
  const std::string tooLong(400, 'x');
  const std::string kFailed = "Load failed";  // the loader's own words follow

  struct Case {
    const char* name;
    std::vector<std::string> env;  // on top of MQACCESS_DEBUG=1
    const char* library;           // -l value, or none
    std::vector<std::string> out;
    int status;
    std::string err;  // the whole of standard error after the banner
  };
  std::vector<Case> cases = {
      {"installation", {}, nullptr, {server}, 0, ""},
      {"-l mqm", {}, "mqm", {server}, 0, ""},
      {"-l mqic", {}, "mqic", {client}, 0, ""},
      {"-l mqic32", {}, "mqic32", {client}, 0, ""},
      {"server dir with slash", {"MQM_DLL_PATH=" + lib_ + "/"}, nullptr, {server}, 0, ""},
      {"client dir override", {"MQIC_DLL_PATH=" + scratch + "/client"}, "mqic",
       {"Loading '" + scratch + "/client/libmqic_r.so'", kFailed}, Status(2012),
       "Error loading MQAPI DLL mqic RC(2)\n"},
      // Empty: the bare name, found by the system's own library search.
      {"server dir empty", {"MQM_DLL_PATH=", "LD_LIBRARY_PATH=" + lib_}, nullptr,
       {"Loading 'libmqm_r.so'"}, 0, ""},
      // No server library: the client library is the fallback ...
      {"fallback", {"MQM_DLL_PATH=" + empty}, nullptr,
       {"Loading '" + empty + "/libmqm_r.so'", kFailed, client}, 0, ""},
      // ... but not when -l asked for one of them.
      {"no fallback for mqm", {"MQM_DLL_PATH=" + empty}, "mqm",
       {"Loading '" + empty + "/libmqm_r.so'", kFailed}, Status(2012),
       "Error loading MQAPI DLL mqm RC(2)\n"},
      {"neither", {"MQM_DLL_PATH=" + empty, "MQIC_DLL_PATH=" + empty}, nullptr,
       {"Loading '" + empty + "/libmqm_r.so'", kFailed, "Loading '" + empty + "/libmqic_r.so'",
        kFailed},
       Status(2012), "Error loading MQAPI DLL  RC(2)\n"},
      // Names of one's own: with "mqic" in them from the client directory,
      // otherwise from the server directory; a path is used as it is.
      {"own client name", {"MQIC_DLL_PATH=" + scratch + "/client"}, "mymqic.so",
       {"Loading '" + scratch + "/client/mymqic.so'"}, 0, ""},
      {"own server name", {"MQM_DLL_PATH=" + scratch + "/server"}, "mymq.so",
       {"Loading '" + scratch + "/server/mymq.so'"}, 0, ""},
      {"own server name, client dir", {"MQIC_DLL_PATH=" + scratch + "/server"}, "mymq.so",
       {"Loading '" + lib_ + "/mymq.so'", kFailed}, Status(2012),
       "Error loading MQAPI DLL mymq.so RC(2)\n"},
      // The client directory plays no part while the server library loads.
      {"client dir unused", {"MQIC_DLL_PATH=" + empty}, nullptr, {server}, 0, ""},
      {"absolute -l", {"MQIC_DLL_PATH=" + empty, "MQM_DLL_PATH=" + empty},
       "/nonexistent/libmqic_r.so", {"Loading '/nonexistent/libmqic_r.so'", kFailed},
       Status(2012), "Error loading MQAPI DLL /nonexistent/libmqic_r.so RC(2)\n"},
      // A library that loads but has no MQI in it.
      {"not an MQ library", {}, libc.c_str(), {"Loading '" + libc + "'"}, Status(2012),
       "Error loading MQAPI DLL " + libc + " RC(11)\n"},
      // Directories that do not fit are refused, never cut or overrun.
      {"installation path too long", {"MQ_INSTALLATION_PATH=/" + tooLong}, nullptr, {},
       Status(2012), "Error loading MQAPI DLL  RC(36)\n"},
      {"server path too long", {"MQM_DLL_PATH=/" + tooLong + tooLong}, nullptr, {client}, 0, ""},
      {"-l empty", {}, "", {server}, 0, ""},
      // The debug lines come only when asked for, even when set empty.
      {"no debug", {"MQACCESS_DEBUG"}, nullptr, {}, 0, ""},
      {"debug set empty", {"MQACCESS_DEBUG="}, nullptr, {server}, 0, ""},
  };
  // Without an installation path the standard location is tried.
  if (access("/opt/mqm", F_OK) != 0) {
    cases.push_back({"standard location", {"MQ_INSTALLATION_PATH"}, nullptr,
                     {"Loading '/opt/mqm/lib64/libmqm_r.so'", kFailed,
                      "Loading '/opt/mqm/lib64/libmqic_r.so'", kFailed},
                     Status(2012), "Error loading MQAPI DLL  RC(2)\n"});
  }
  for (const Case& c : cases) {
    std::vector<std::string> env = {"MQACCESS_DEBUG=1"};
    env.insert(env.end(), c.env.begin(), c.env.end());
    std::vector<std::string> args = Words("-m QM1 -i Q1 -F out.zpd");
    if (c.library != nullptr) args.insert(args.end(), {"-l", c.library});
    RunResult r = RunZeplo(args, "", env);
    EXPECT_EQ(c.status, r.exitStatus) << c.name << "\n" << r.err;
    ExpectDebugLines(c.out, r.out, c.name);
    if (c.status == 0) {
      EXPECT_EQ(std::string::npos, AfterBanner(r.err).find("Error")) << c.name << "\n" << r.err;
      EXPECT_TRUE(Has(r.err, "Written - Files:   1  Messages:      1")) << c.name << "\n" << r.err;
    } else {
      EXPECT_EQ(c.err, AfterBanner(r.err)) << c.name;
    }
  }
}

// Two queue managers, each through its own library, in one process.
TEST_F(LibrarySearchTest, EachQueueManagerItsOwnLibrary) {
  LocalqmOrFail({"create", "QM2"});
  LocalqmOrFail({"define", "QM2", "Q2"});
  RunResult r = RunZeplo(
      {"-m", "QM1", "-l", "mqic", "-I", "Q1", "-m", "QM2", "-l", "mqm", "-o", "Q2", "-va"}, "",
      {"MQACCESS_DEBUG=1"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ("Loading '" + lib_ + "/libmqic_r.so'\nLoading '" + lib_ + "/libmqm_r.so'\n", r.out);
  // Each queue manager's calls reach its own queue manager.
  EXPECT_NE(std::string::npos, r.err.find("MQPUT on object 'Q2' returned 0 OK.")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("MQCMIT on qmgr 'QM2' returned 0 OK.")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("MQCMIT on qmgr 'QM1' returned 0 OK.")) << r.err;
  EXPECT_EQ(0, Depth("Q1"));
  EXPECT_EQ(1, Depth("Q2", "QM2"));
}

}  // namespace
