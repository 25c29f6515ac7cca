// The library binding and connecting a slot through it, run through the
// real dlopen against the stand-in libraries built beside this test (one
// directory per variant, the server one's control record playing the queue
// manager): limits, broken libraries, the fallbacks of an old one, the
// MQCNO retries; and the password reading loop. Where the library is looked
// for, the prompt on a real terminal and the terminal put back after a
// signal are the end-to-end tests'.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "tests/zeplo/fake_mq/fake_mq.h"
#include "zeplo/mq/mq.h"

namespace {

namespace fs = std::filesystem;

const std::string kFake = FAKE_MQ_DIR;

// The marker the server stand-in's own calls return.
enum : MQLONG { kServer = 9001 };

const char* const kSearchVariables[] = {"MQM_DLL_PATH", "MQIC_DLL_PATH", "MQ_INSTALLATION_PATH",
                                        "MQACCESS_DEBUG"};

class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kSearchVariables) unsetenv(name);
    setenv("MQM_DLL_PATH", (kFake + "/server").c_str(), 1);
    setenv("MQIC_DLL_PATH", (kFake + "/client").c_str(), 1);
    // The control record of the server stand-in.
    void* lib = dlopen((kFake + "/server/libmqm_r.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
    control_ = lib != nullptr ? static_cast<FakeQmgr*>(dlsym(lib, "gFake")) : nullptr;
    ASSERT_NE(nullptr, control_);
    *control_ = FakeQmgr{};  // "FAKEQM", MQCNO up to version 8, level 945, MQPL_UNIX
    options_ = std::make_unique<TestRun>();
    Slot()->Api = &api_;
    Slot()->Library = "mqm";
    Slot()->Hconn = MQHC_UNUSABLE_HCONN;
    Slot()->CommandLevel = Slot()->Platform = -7;
  }
  void TearDown() override {
    for (const char* name : kSearchVariables) unsetenv(name);
  }
  // Connects slot 0 and returns its code, with standard error captured.
  int Connect() {
    testing::internal::CaptureStderr();
    int rc = ConnectQmgr(options_.get(), 0);
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }
  QmgrSlot* Slot() { return &options_->Qmgrs[0]; }

  FakeQmgr* control_ = nullptr;
  std::unique_ptr<TestRun> options_;
  MqApi api_ = {};
  std::string err_;
};

TEST_F(ConnectTest, OversizedNamesAndBrokenLibrariesAreRefusedCleanly) {
  unsetenv("MQM_DLL_PATH");
  unsetenv("MQIC_DLL_PATH");
  std::string longDir(kMqLibraryDirectorySize, 'd');
  setenv("MQ_INSTALLATION_PATH", ("/" + longDir).c_str(), 1);
  EXPECT_EQ(nullptr, ServerLibraryDirectory());
  EXPECT_EQ(nullptr, ClientLibraryDirectory());
  MqApi api = {};
  EXPECT_EQ(ENAMETOOLONG, BindMqApi(nullptr, &api));
  EXPECT_EQ(ENAMETOOLONG, BindMqApi("mqic", &api));

  // Just fits: 300 bytes with the terminator.
  std::string fits(kMqLibraryDirectorySize - 1 - 6, 'f');
  setenv("MQ_INSTALLATION_PATH", fits.c_str(), 1);
  ASSERT_NE(nullptr, ServerLibraryDirectory());
  EXPECT_EQ(kMqLibraryDirectorySize - 1, std::strlen(ServerLibraryDirectory()));

  // The composed path has its own 512-byte limit.
  void* handle = reinterpret_cast<void*>(1);
  std::string dir(kMqLibraryPathSize - 12, 'p');
  EXPECT_EQ(ENAMETOOLONG, OpenMqLibrary("libmqm_r.so", ("/" + dir).c_str(), &handle));
  EXPECT_EQ(nullptr, handle);
  std::string file(kMqLibraryPathSize, 'x');
  EXPECT_EQ(ENAMETOOLONG, OpenMqLibrary(("/" + file).c_str(), nullptr, &handle));

  // Libraries without a required call fail with 11.
  for (const char* broken : {"noclose", "noopen"}) {
    setenv("MQM_DLL_PATH", (kFake + "/" + broken).c_str(), 1);
    EXPECT_EQ(kMqEntryMissing, BindMqApi("mqm", &api)) << broken;
  }
  // The loader leaves errno alone: a failed load must still give a
  // meaningful non-zero code, never 0 (which would read as success).
  fs::path junk = fs::temp_directory_path() / ("libjunk" + std::to_string(getpid()) + "_r.so");
  std::ofstream(junk) << "not an ELF file\n";
  EXPECT_EQ(ELIBBAD, BindMqApi(junk.c_str(), &api));
  fs::remove(junk);
  EXPECT_EQ(ENOENT, BindMqApi(junk.c_str(), &api));
}

TEST_F(ConnectTest, OldLibraryGetsFallbacksForEveryOptionalCall) {
  setenv("MQM_DLL_PATH", (kFake + "/old").c_str(), 1);
  MqApi api = {};
  ASSERT_EQ(0, BindMqApi("mqm", &api));
  MQHCONN h = 1;
  MQHOBJ o = 1;
  MQHMSG m = 1;
  MQLONG l = 0;
  char b[8] = {};  // every other argument
  auto run = [&](const char* name, auto call) {
    MQLONG cc = -9, reason = -9;
    call(&cc, &reason);
    EXPECT_EQ(MQCC_FAILED, cc) << name;
    EXPECT_EQ(MQRC_FUNCTION_NOT_SUPPORTED, reason) << name;
  };
  run("MQCONNX", [&](PMQLONG c, PMQLONG r) { api.MQCONNX(b, nullptr, &h, c, r); });
  run("MQSUB", [&](PMQLONG c, PMQLONG r) { api.MQSUB(h, b, &o, &o, c, r); });
  run("MQSUBRQ", [&](PMQLONG c, PMQLONG r) { api.MQSUBRQ(h, o, 1, b, c, r); });
  run("MQCB", [&](PMQLONG c, PMQLONG r) { api.MQCB(h, 1, b, o, b, b, c, r); });
  run("MQCTL", [&](PMQLONG c, PMQLONG r) { api.MQCTL(h, 1, b, c, r); });
  run("MQCRTMH", [&](PMQLONG c, PMQLONG r) { api.MQCRTMH(h, b, &m, c, r); });
  run("MQDLTMH", [&](PMQLONG c, PMQLONG r) { api.MQDLTMH(h, &m, b, c, r); });
  run("MQINQMP", [&](PMQLONG c, PMQLONG r) { api.MQINQMP(h, m, b, b, b, &l, 1, b, &l, c, r); });
  run("MQSETMP", [&](PMQLONG c, PMQLONG r) { api.MQSETMP(h, m, b, b, b, 1, 1, b, c, r); });
  run("MQDLTMP", [&](PMQLONG c, PMQLONG r) { api.MQDLTMP(h, m, b, b, c, r); });
  run("MQBUFMH", [&](PMQLONG c, PMQLONG r) { api.MQBUFMH(h, m, b, b, 1, b, &l, c, r); });
  run("MQMHBUF", [&](PMQLONG c, PMQLONG r) { api.MQMHBUF(h, m, b, b, b, 1, b, &l, c, r); });
  run("MQSTAT", [&](PMQLONG c, PMQLONG r) { api.MQSTAT(h, 1, b, c, r); });
  // The server build has them all: its own MQCB answers, not a fallback.
  setenv("MQM_DLL_PATH", (kFake + "/server").c_str(), 1);
  ASSERT_EQ(0, BindMqApi("mqm", &api));
  MQLONG cc = 0, reason = 0;
  api.MQCB(h, 1, b, o, b, b, &cc, &reason);
  EXPECT_EQ(kServer + 100, reason);
}

TEST_F(ConnectTest, VersionRetryWarningsAndRefusals) {
  const struct {
    const char *name, *qmgr, *user, *password;
    MQLONG maxCno;
    const char* requiredUser;  // "" = no authentication
    int expectedRc;
    std::vector<MQLONG> versions;  // MQCNO versions MQCONNX saw, in order
    const char* expectedErr;       // "" when connected
  } cases[] = {
      {"plain", "FAKEQM", nullptr, nullptr, 8, "", 0, {7}, ""},
      {"warning still connects but is returned", "", nullptr, nullptr, 8, "",
       MQRC_ALREADY_CONNECTED, {7}, ""},
      {"v7 refused: plain retry", "", nullptr, nullptr, 6, "", 0, {7, 1}, ""},
      {"v7 refused with user: retry at 5", "", "app", "pw", 6, "app", 0, {7, 5}, ""},
      {"refused twice: no endless retry", "", "app", "pw", 4, "app", MQRC_CNO_ERROR, {7, 5},
       "MQCONN returned 2139 MQCNO Error.\n"},
      {"plain refused twice", "FAKEQM", nullptr, nullptr, 0, "", MQRC_CNO_ERROR, {7, 1},
       "MQCONN on qmgr 'FAKEQM' returned 2139 MQCNO Error.\n"},
      {"user required, none given", "", nullptr, nullptr, 8, "app", MQRC_NOT_AUTHORIZED, {7},
       "MQCONN returned 2035 Not authorized.\n"},
      {"empty user counts as none", "", "", nullptr, 8, "app", MQRC_NOT_AUTHORIZED, {7},
       "MQCONN returned 2035 Not authorized.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    std::snprintf(Slot()->Name, sizeof Slot()->Name, "%s", c.qmgr);
    Slot()->User = c.user;
    // The -U copy is a writable block that the connect wipes however it ends.
    std::string held = c.password != nullptr ? c.password : "";
    Slot()->Password = c.password != nullptr ? held.data() : nullptr;
    control_->MaxCnoVersion = c.maxCno;
    control_->RequiredUser = c.requiredUser;
    control_->RequiredPassword = "pw";
    if (c.expectedRc == MQRC_ALREADY_CONNECTED) control_->ConnectWarning = c.expectedRc;
    EXPECT_EQ(c.expectedRc, Connect());
    EXPECT_EQ(c.expectedErr, err_);
    EXPECT_EQ(nullptr, Slot()->Password);
    EXPECT_EQ(std::string(held.size(), '\0'), held);
    std::vector<MQLONG> versions;
    for (const MQCNO& cno : control_->Cnos) versions.push_back(cno.Version);
    EXPECT_EQ(c.versions, versions);
    bool connected = c.expectedErr[0] == '\0';
    EXPECT_EQ(connected ? 5 : MQHC_UNUSABLE_HCONN, Slot()->Hconn);
    EXPECT_STREQ(connected ? "FAKEQM" : c.qmgr, Slot()->Name);
    EXPECT_EQ(connected ? 945 : -7, Slot()->CommandLevel);
    EXPECT_EQ(connected ? MQPL_UNIX : -7, Slot()->Platform);
    if (!connected) {
      EXPECT_EQ(0u, control_->OpenOptions.size());
    }
  }
}

TEST_F(ConnectTest, FailedInquiryKeepsTheSlotAsItWas) {
  // lastReason: InquireQmgr's result, the last call's reason.
  const struct { MQLONG openReason, inqReason; int closes; MQLONG lastReason; const char* err; }
  kCases[] = {
      {MQRC_NOT_AUTHORIZED, 0, 0, MQRC_NOT_AUTHORIZED,
       "MQCONN returned 0 OK.\nMQOPEN returned 2035 Not authorized.\n"},
      {0, MQRC_SELECTOR_ERROR, 1, MQRC_NONE,
       "MQCONN returned 0 OK.\nMQOPEN returned 0 OK.\nMQINQ returned 2067 Selector error.\n"
       "MQCLOSE returned 0 OK.\n"},
  };
  for (const auto& c : kCases) {
    SetUp();
    options_->Parsed.PrintApis = true;
    for (int run = 0; run < 2; run++) {  // the connect's inquiry, then the one below
      if (c.openReason != 0) control_->Faults.push_back({"MQOPEN", 0, MQCC_FAILED, c.openReason});
      if (c.inqReason != 0) control_->Faults.push_back({"MQINQ", 0, MQCC_FAILED, c.inqReason});
    }
    EXPECT_EQ(0, Connect());
    EXPECT_EQ(c.err, err_);
    EXPECT_STREQ("", Slot()->Name);
    EXPECT_EQ(-7, Slot()->CommandLevel);
    EXPECT_EQ(-7, Slot()->Platform);
    EXPECT_EQ(c.closes, std::count(control_->Calls.begin(), control_->Calls.end(), "MQCLOSE"));
    options_->Parsed.PrintApis = false;
    EXPECT_EQ(c.lastReason, InquireQmgr(options_.get(), 0));
  }
}

TEST_F(ConnectTest, BindFailuresAndBadSlots) {
  Slot()->Library = "nosuch_mq.so";
  EXPECT_EQ(MQRC_ENVIRONMENT_ERROR, Connect());
  EXPECT_EQ("Error loading MQAPI DLL nosuch_mq.so RC(2)\n", err_);

  Slot()->Library = nullptr;
  setenv("MQM_DLL_PATH", "/nonexistent", 1);
  setenv("MQIC_DLL_PATH", "/nonexistent", 1);
  EXPECT_EQ(MQRC_ENVIRONMENT_ERROR, Connect());
  EXPECT_EQ("Error loading MQAPI DLL  RC(2)\n", err_);
  EXPECT_EQ(0u, control_->Cnos.size());

  // An old library without MQCONNX: the fallback's reason is reported.
  setenv("MQM_DLL_PATH", (kFake + "/old").c_str(), 1);
  Slot()->Library = "mqm";
  EXPECT_EQ(MQRC_FUNCTION_NOT_SUPPORTED, Connect());
  EXPECT_EQ("MQCONN returned 2298 Function not supported.\n", err_);

  Slot()->NoConnect = true;
  EXPECT_EQ(0, Connect());
  EXPECT_EQ(MQHC_UNUSABLE_HCONN, Slot()->Hconn);
  Slot()->NoConnect = false;

  EXPECT_EQ(MQRC_UNEXPECTED_ERROR, ConnectQmgr(options_.get(), 2));
  EXPECT_EQ(MQRC_UNEXPECTED_ERROR, ConnectQmgr(options_.get(), -1));
  EXPECT_EQ(MQRC_UNEXPECTED_ERROR, ConnectQmgr(nullptr, 0));
  Slot()->Api = nullptr;
  EXPECT_EQ(MQRC_UNEXPECTED_ERROR, ConnectQmgr(options_.get(), 0));
}

TEST(ReadMaskedLineTest, StarsErasesAndLimits) {
  struct MaskedCase { std::string input; size_t size; std::string password, echo; };
  const MaskedCase cases[] = {
      {"secret\n", 200, "secret", "******"}, {"ab\x7f" "c\n", 200, "ac", "**\b \b*"},
      {"\x08\x7fxy\n", 200, "xy", "**"},  // erasing nothing does nothing
      {"x\x08\x08y\n", 200, "y", "*\b \b*"}, {"\n", 200, "", ""},
      {"abc", 200, "abc", "***"},  // end of input ends the password
      {"a\nb\n", 200, "a", "*"},  // reading stops at the newline
      {"abcdef\n", 4, "abc", "***"}, {"abc\n", 1, "", ""},  // full buffer: cut, terminated
      {std::string(300, 'p') + "\n", kPasswordBufferSize, std::string(199, 'p'),
       std::string(199, '*')},
  };
  for (const MaskedCase& c : cases) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    ASSERT_EQ(static_cast<ssize_t>(c.input.size()), write(fds[1], c.input.data(), c.input.size()));
    close(fds[1]);
    char* echoText = nullptr;
    size_t echoSize = 0;
    FILE* echo = open_memstream(&echoText, &echoSize);
    std::unique_ptr<char[]> buffer(new char[c.size + 1]);
    buffer[c.size] = 0x5A;  // guard byte just past the buffer
    size_t stored = ReadMaskedLine(fds[0], echo, buffer.get(), c.size);
    std::fclose(echo);
    close(fds[0]);
    EXPECT_EQ(c.password, std::string(buffer.get())) << c.input;
    EXPECT_EQ(c.password.size(), stored);
    EXPECT_EQ(c.echo, std::string(echoText, echoSize)) << c.input;
    EXPECT_EQ(0x5A, buffer[c.size]) << "wrote past the buffer";
    std::free(echoText);
  }
}

}  // namespace
