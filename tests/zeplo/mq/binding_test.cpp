// The library binding, run through the real dlopen against the stand-in
// libraries built beside this test (one directory per variant): limits,
// broken libraries and the fallbacks of an old one. Where the library is
// looked for is run end to end by the library search tests.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "zeplo/mq/mq.h"

namespace {

namespace fs = std::filesystem;

const std::string kFake = FAKE_MQ_DIR;

// The marker the server stand-in's own calls return.
enum : MQLONG { kServer = 9001 };

const char* const kSearchVariables[] = {"MQM_DLL_PATH", "MQIC_DLL_PATH", "MQ_INSTALLATION_PATH",
                                        "MQACCESS_DEBUG"};

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kSearchVariables) unsetenv(name);
    scratch_ = fs::temp_directory_path() / ("mq_binding_" + std::to_string(getpid()));
    fs::create_directories(scratch_);
  }
  void TearDown() override {
    for (const char* name : kSearchVariables) unsetenv(name);
    fs::remove_all(scratch_);
  }
  fs::path scratch_;
};

TEST_F(BindingTest, OversizedNamesAndBrokenLibrariesAreRefusedCleanly) {
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
  fs::path junk = scratch_ / "libjunk_r.so";
  std::ofstream(junk) << "not an ELF file\n";
  EXPECT_EQ(ELIBBAD, BindMqApi(junk.c_str(), &api));
  EXPECT_EQ(ENOENT, BindMqApi((scratch_ / "libgone_r.so").c_str(), &api));
}

TEST_F(BindingTest, OldLibraryGetsFallbacksForEveryOptionalCall) {
  setenv("MQM_DLL_PATH", (kFake + "/old").c_str(), 1);
  MqApi api = {};
  ASSERT_EQ(0, BindMqApi("mqm", &api));
  MQHCONN h = 1;
  MQHOBJ o = 1;
  MQHMSG m = 1;
  MQLONG l = 0;
  char b[8] = {};
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

}  // namespace
