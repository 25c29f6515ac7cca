// Connecting a slot through the real binding, against the stand-in library
// whose control record plays the queue manager.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "tests/zeplo/fake_mq/fake_mq.h"
#include "zeplo/mq/mq.h"

namespace {

const std::string kFake = FAKE_MQ_DIR;

class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
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
    unsetenv("MQM_DLL_PATH");
    unsetenv("MQIC_DLL_PATH");
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
  const struct {
    MQLONG openReason, inqReason;
    int closes;
    MQLONG lastReason;  // InquireQmgr's result: the last call's reason
    const char* err;
  } kCases[] = {
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

}  // namespace
