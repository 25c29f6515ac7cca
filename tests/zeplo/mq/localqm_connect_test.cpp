// Connecting through the real library search to the stand-in queue manager
// (the build's MQ-shaped tree), with queue managers made by its admin
// command in a scratch data root.
#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "zeplo/mq/mq.h"

namespace {

namespace fs = std::filesystem;

const std::string kInstall = std::string(ZEPLO_BUILD_DIR) + "/mqinst";

class LocalqmConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("mq_localqm_" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    setenv("LOCALQM_ROOT", root_.c_str(), 1);
    setenv("MQ_INSTALLATION_PATH", kInstall.c_str(), 1);
    unsetenv("MQM_DLL_PATH");
    unsetenv("MQIC_DLL_PATH");
    options_ = std::make_unique<RunOptions>();
    // One table per slot: the two slots may bind different libraries.
    for (int i = 0; i < 2; ++i) {
      options_->Qmgrs[i].Api = &api_[i];
      options_->Qmgrs[i].Hconn = MQHC_UNUSABLE_HCONN;
    }
  }
  void TearDown() override {
    for (QmgrSlot& slot : options_->Qmgrs) {
      if (slot.Hconn != MQHC_UNUSABLE_HCONN) {
        MQLONG cc, reason;
        slot.Api->MQDISC(&slot.Hconn, &cc, &reason);
        EXPECT_EQ(MQRC_NONE, reason);
      }
    }
    unsetenv("LOCALQM_ROOT");
    unsetenv("MQ_INSTALLATION_PATH");
    fs::remove_all(root_);
  }
  // Runs the admin command; the test fails when it does.
  void Admin(const std::string& args) {
    std::string command = "'" + kInstall + "/bin/localqm' " + args + " >/dev/null";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  }
  int Connect(int slot, const char* name, const char* library = nullptr) {
    QmgrSlot* s = &options_->Qmgrs[slot];
    std::snprintf(s->Name, sizeof s->Name, "%s", name);
    s->Library = library;
    testing::internal::CaptureStderr();
    int rc = ConnectQmgr(options_.get(), slot);
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }

  fs::path root_;
  std::unique_ptr<RunOptions> options_;
  MqApi api_[2] = {};
  std::string err_;
};

TEST_F(LocalqmConnectTest, DefaultQmgrIsNamedAndInquired) {
  Admin("create QMA --default --cmdlevel 800 --platform 3");
  Admin("create QMB");
  ASSERT_EQ(0, Connect(0, "")) << err_;
  EXPECT_EQ("", err_);
  EXPECT_STREQ("QMA", options_->Qmgrs[0].Name);
  EXPECT_EQ(800, options_->Qmgrs[0].CommandLevel);
  EXPECT_EQ(3, options_->Qmgrs[0].Platform);
  // The second slot, through the client library, to the other queue manager.
  ASSERT_EQ(0, Connect(1, "QMB", "mqic")) << err_;
  EXPECT_STREQ("QMB", options_->Qmgrs[1].Name);
  EXPECT_NE(options_->Qmgrs[0].Hconn, MQHC_UNUSABLE_HCONN);
}

TEST_F(LocalqmConnectTest, RefusalsAreReportedWithTheirReason) {
  Admin("create QM1");
  Admin("create QMOLD --max-cno-version 4");
  Admin("create QMV1 --max-cno-version 1");
  Admin("user QM1 app secret");
  Admin("user QMOLD app secret");
  struct {
    const char* name;
    const char* qmgr;
    const char* user;
    const char* password;
    int rc;
    const char* err;
  } const kCases[] = {
      {"unknown queue manager", "NOPE", nullptr, nullptr, MQRC_Q_MGR_NAME_ERROR,
       "MQCONN on qmgr 'NOPE' returned 2058 QMgr name error.\n"},
      {"wrong password", "QM1", "app", "wrong", MQRC_NOT_AUTHORIZED,
       "MQCONN on qmgr 'QM1' returned 2035 Not authorized.\n"},
      {"no user where users are defined", "QM1", nullptr, nullptr, MQRC_NOT_AUTHORIZED,
       "MQCONN on qmgr 'QM1' returned 2035 Not authorized.\n"},
      {"right password", "QM1", "app", "secret", 0, ""},
      {"version 1 only: quiet retry", "QMV1", nullptr, nullptr, 0, ""},
      {"version 4 only, user needs 5", "QMOLD", "app", "secret", MQRC_CNO_ERROR,
       "MQCONN on qmgr 'QMOLD' returned 2139 MQCNO Error.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    QmgrSlot* slot = &options_->Qmgrs[0];
    if (slot->Hconn != MQHC_UNUSABLE_HCONN) {
      MQLONG cc, reason;
      api_[0].MQDISC(&slot->Hconn, &cc, &reason);
    }
    slot->User = c.user;
    slot->Password = c.password;
    EXPECT_EQ(c.rc, Connect(0, c.qmgr));
    EXPECT_EQ(c.err, err_);
    EXPECT_EQ(c.rc == 0, slot->Hconn != MQHC_UNUSABLE_HCONN);
  }
}

TEST_F(LocalqmConnectTest, InjectedConnectFailureIsTheResult) {
  Admin("create QMF");
  Admin("fault QMF MQCONNX --reason 2059");
  EXPECT_EQ(MQRC_Q_MGR_NOT_AVAILABLE, Connect(0, "QMF"));
  EXPECT_EQ("MQCONN on qmgr 'QMF' returned 2059 QMgr not available.\n", err_);
  Admin("fault QMF --clear");
  options_->PrintApis = true;
  EXPECT_EQ(0, Connect(0, "QMF"));
  EXPECT_EQ(
      "MQCONN on qmgr 'QMF' returned 0 OK.\nMQOPEN on qmgr 'QMF' returned 0 OK.\n"
      "MQINQ on qmgr 'QMF' returned 0 OK.\nMQCLOSE on qmgr 'QMF' returned 0 OK.\n",
      err_);
}

TEST_F(LocalqmConnectTest, TypedPasswordServesTheConnectAndItsRetry) {
  // The queue manager refuses the first, version-7 MQCNO; the retry must
  // reuse the typed password instead of asking again.
  Admin("create QMP --max-cno-version 5");
  Admin("user QMP app secret");
  int master = -1, slave = -1;
  ASSERT_EQ(0, openpty(&master, &slave, nullptr, nullptr, nullptr));
  std::thread typist([&] {
    for (int i = 0; i < 5000; ++i) {
      struct termios now;
      if (tcgetattr(slave, &now) == 0 && (now.c_lflag & ICANON) == 0) {
        const char keys[] = "secrez\x7ft\n";
        ssize_t n = write(master, keys, sizeof keys - 1);
        (void)n;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  int savedIn = dup(STDIN_FILENO);
  dup2(slave, STDIN_FILENO);
  options_->Qmgrs[0].User = "app";
  testing::internal::CaptureStdout();
  int rc = Connect(0, "QMP");
  std::string stars = testing::internal::GetCapturedStdout();
  dup2(savedIn, STDIN_FILENO);
  close(savedIn);
  typist.join();
  close(master);
  close(slave);
  EXPECT_EQ(0, rc);
  EXPECT_EQ("Please enter password for QM(QMP) User(app) >", err_);
  EXPECT_EQ("******\b \b*\n", stars);
  EXPECT_STREQ("secret", options_->Qmgrs[0].Password);
}

}  // namespace
