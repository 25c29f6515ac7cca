// The library search and binding, run through the real dlopen against the
// stand-in libraries built beside this test (one directory per variant).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "zeplo/mq/mq.h"

namespace {

namespace fs = std::filesystem;

const std::string kFake = FAKE_MQ_DIR;

// Markers the stand-ins' MQCONN returns, telling which file was bound.
enum : MQLONG { kServer = 9001, kOld = 9002, kClient = 9003 };

const char* const kSearchVariables[] = {"MQM_DLL_PATH", "MQIC_DLL_PATH", "MQ_INSTALLATION_PATH",
                                        "MQACCESS_DEBUG"};

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kSearchVariables) unsetenv(name);
    scratch_ = fs::temp_directory_path() / ("mq_binding_" + std::to_string(getpid()));
    fs::create_directories(scratch_ / "empty");
  }
  void TearDown() override {
    for (const char* name : kSearchVariables) unsetenv(name);
    fs::remove_all(scratch_);
  }
  // A directory holding `link` -> the stand-in library `dir/file`.
  std::string LinkDir(const char* sub, const char* link, const char* dir, const char* file) {
    fs::path where = scratch_ / sub;
    fs::create_directories(where);
    fs::create_symlink(kFake + "/" + dir + "/" + file, where / link);
    return where.string();
  }
  static MQLONG Marker(const MqApi& api) {
    MQHCONN hconn = 0;
    MQLONG cc = 0, reason = 0;
    api.MQCONN(const_cast<char*>(""), &hconn, &cc, &reason);
    return reason;
  }
  fs::path scratch_;
};

struct SearchCase {
  const char* name;
  const char* library;        // -l value; null = none
  const char* serverDir;      // MQM_DLL_PATH (null: unset)
  const char* clientDir;      // MQIC_DLL_PATH (null: unset)
  int expectedRc;
  MQLONG expectedMarker;      // when expectedRc == 0
};

TEST_F(BindingTest, LibraryIsChosenByOptionAndEnvironment) {
  const std::string server = kFake + "/server";
  const std::string serverSlash = kFake + "/server/";
  const std::string old = kFake + "/old";
  const std::string client = kFake + "/client";
  const std::string empty = (scratch_ / "empty").string();
  const std::string absolute = kFake + "/server/libmqm_r.so";
  const SearchCase cases[] = {
      {"default prefers the server library", nullptr, server.c_str(), client.c_str(), 0, kServer},
      {"empty -l is the default", "", server.c_str(), client.c_str(), 0, kServer},
      {"default falls back to the client", nullptr, empty.c_str(), client.c_str(), 0, kClient},
      {"directory ending in a slash", nullptr, serverSlash.c_str(), nullptr, 0, kServer},
      {"-l mqic", "mqic", server.c_str(), client.c_str(), 0, kClient},
      {"-l mqic32 is mqic", "mqic32", server.c_str(), client.c_str(), 0, kClient},
      {"-l mqm", "mqm", old.c_str(), client.c_str(), 0, kOld},
      {"-l mqm has no fallback", "mqm", empty.c_str(), client.c_str(), ENOENT, 0},
      {"-l mqic has no fallback", "mqic", server.c_str(), empty.c_str(), ENOENT, 0},
      {"absolute -l used unchanged", absolute.c_str(), empty.c_str(), empty.c_str(), 0, kServer},
      {"nothing anywhere", nullptr, empty.c_str(), empty.c_str(), ENOENT, 0},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.serverDir) {
      setenv("MQM_DLL_PATH", c.serverDir, 1);
    } else {
      unsetenv("MQM_DLL_PATH");
    }
    if (c.clientDir) {
      setenv("MQIC_DLL_PATH", c.clientDir, 1);
    } else {
      unsetenv("MQIC_DLL_PATH");
    }
    MqApi api = {};
    EXPECT_EQ(c.expectedRc, BindMqApi(c.library, &api));
    if (c.expectedRc == 0) {
      EXPECT_EQ(c.expectedMarker, Marker(api));
    }
  }
}

TEST_F(BindingTest, NamedFilesAreLookedForInTheirFamilysDirectory) {
  // A name containing "mqic" belongs to the client directory, any other
  // name to the server directory.
  std::string serverDir = LinkDir("srv", "mymq.so", "old", "libmqm_r.so");
  std::string clientDir = LinkDir("cli", "mymqic.so", "client", "libmqic_r.so");
  setenv("MQM_DLL_PATH", serverDir.c_str(), 1);
  setenv("MQIC_DLL_PATH", clientDir.c_str(), 1);
  MqApi api = {};
  ASSERT_EQ(0, BindMqApi("mymq.so", &api));
  EXPECT_EQ(kOld, Marker(api));
  ASSERT_EQ(0, BindMqApi("mymqic.so", &api));
  EXPECT_EQ(kClient, Marker(api));
  // Swapped, neither is found.
  setenv("MQM_DLL_PATH", clientDir.c_str(), 1);
  setenv("MQIC_DLL_PATH", serverDir.c_str(), 1);
  EXPECT_EQ(ENOENT, BindMqApi("mymq.so", &api));
  EXPECT_EQ(ENOENT, BindMqApi("mymqic.so", &api));
}

TEST_F(BindingTest, InstallationPathSuppliesLib64UnlessOverridden) {
  LinkDir("inst/lib64", "libmqm_r.so", "server", "libmqm_r.so");
  setenv("MQ_INSTALLATION_PATH", (scratch_ / "inst").c_str(), 1);
  EXPECT_EQ((scratch_ / "inst" / "lib64").string(), ServerLibraryDirectory());
  EXPECT_EQ((scratch_ / "inst" / "lib64").string(), ClientLibraryDirectory());
  MqApi api = {};
  ASSERT_EQ(0, BindMqApi("mqm", &api));
  EXPECT_EQ(kServer, Marker(api));
  // Set but empty still overrides: the bare name goes to the loader's search.
  setenv("MQM_DLL_PATH", "", 1);
  EXPECT_STREQ("", ServerLibraryDirectory());
  unsetenv("MQ_INSTALLATION_PATH");
  EXPECT_STREQ("/opt/mqm/lib64", ClientLibraryDirectory());
}

TEST_F(BindingTest, OversizedDirectoryOrPathIsRefusedCleanly) {
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
}

TEST_F(BindingTest, DebugVariablePrintsEveryPathTried) {
  setenv("MQACCESS_DEBUG", "", 1);
  setenv("MQM_DLL_PATH", (scratch_ / "empty").c_str(), 1);
  setenv("MQIC_DLL_PATH", (kFake + "/client/").c_str(), 1);
  MqApi api = {};
  testing::internal::CaptureStdout();
  int rc = BindMqApi(nullptr, &api);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, rc);
  std::string tried = (scratch_ / "empty" / "libmqm_r.so").string();
  std::string prefix = "Loading '" + tried + "'\nLoad failed " + tried;
  EXPECT_EQ(prefix, out.substr(0, prefix.size()));
  std::string tail = " \nLoading '" + kFake + "/client/libmqic_r.so'\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(tail, out.substr(out.size() - tail.size()));
}

TEST_F(BindingTest, MissingRequiredCallsFailWithEleven) {
  struct {
    const char* dir;
  } const kBroken[] = {{"noclose"}, {"noopen"}};
  for (const auto& b : kBroken) {
    SCOPED_TRACE(b.dir);
    setenv("MQM_DLL_PATH", (kFake + "/" + b.dir).c_str(), 1);
    MqApi api = {};
    EXPECT_EQ(kMqEntryMissing, BindMqApi("mqm", &api));
  }
  // The loader leaves errno alone: a failed load must still give a
  // meaningful non-zero code, never 0 (which would read as success).
  fs::path junk = scratch_ / "libjunk_r.so";
  FILE* f = std::fopen(junk.c_str(), "w");
  ASSERT_NE(nullptr, f);
  std::fputs("not an ELF file\n", f);
  std::fclose(f);
  MqApi api = {};
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
  std::vector<std::pair<const char*, std::pair<MQLONG, MQLONG>>> results;
  auto run = [&](const char* name, auto call) {
    MQLONG cc = -9, reason = -9;
    call(&cc, &reason);
    results.push_back({name, {cc, reason}});
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
  ASSERT_EQ(13u, results.size());
  for (const auto& r : results) {
    EXPECT_EQ(MQCC_FAILED, r.second.first) << r.first;
    EXPECT_EQ(MQRC_FUNCTION_NOT_SUPPORTED, r.second.second) << r.first;
  }
  // The server build has them all: its own MQCB answers, not a fallback.
  setenv("MQM_DLL_PATH", (kFake + "/server").c_str(), 1);
  ASSERT_EQ(0, BindMqApi("mqm", &api));
  MQLONG cc = 0, reason = 0;
  api.MQCB(h, 1, b, o, b, b, &cc, &reason);
  EXPECT_EQ(kServer + 100, reason);
}

}  // namespace
