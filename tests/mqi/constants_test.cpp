// The generated constants header: it must be what the generator writes
// from the table, so that nobody edits it by hand or forgets to regenerate.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "mqi/mqi.h"

namespace {

namespace fs = std::filesystem;

int RunGenerator(const fs::path& script, const char* args) {
  std::string command = "python3 '" + script.string() + "' " + args + " 2>/dev/null";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MqiConstantsTest, CommittedHeaderIsFresh) {
  fs::path script = fs::path(ZEPLO_SOURCE_DIR) / "mqi" / "gen_constants.py";
  EXPECT_EQ(0, RunGenerator(script, "--check"))
      << "mqi/mq_constants.h differs from what mqi/gen_constants.py writes";
}

}  // namespace
