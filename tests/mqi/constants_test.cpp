// The generated constants header: it must be what the generator writes
// from the table (so nobody edits it by hand or forgets to regenerate), the
// generator must notice a stale header, and the generated macros must carry
// the kinds of value the table holds (negative numbers, masks, characters).
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

TEST(MqiConstantsTest, CheckRejectsStaleOrMissingHeader) {
  fs::path dir = fs::temp_directory_path() / ("mqi_gen_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path src = fs::path(ZEPLO_SOURCE_DIR) / "mqi";
  fs::copy_file(src / "gen_constants.py", dir / "gen_constants.py");
  fs::copy_file(src / "constants.tsv", dir / "constants.tsv");
  fs::path script = dir / "gen_constants.py";

  EXPECT_EQ(1, RunGenerator(script, "--check"));  // header missing
  EXPECT_EQ(0, RunGenerator(script, ""));
  EXPECT_EQ(0, RunGenerator(script, "--check"));
  {
    std::ofstream table(dir / "constants.tsv", std::ios::app);
    table << "MQZZ_TEST_ONLY\t7\n";
  }
  EXPECT_EQ(1, RunGenerator(script, "--check"));  // table changed
  {
    std::ofstream table(dir / "constants.tsv", std::ios::app);
    table << "MQZZ_TEST_ONLY\t8\n";
  }
  EXPECT_NE(0, RunGenerator(script, ""));  // a name given twice is refused
  fs::remove_all(dir);
}

TEST(MqiConstantsTest, GeneratedValuesKeepTheirKinds) {
  struct {
    const char* name;
    long long value;
    long long expected;
  } const kValues[] = {
      {"MQENC_NATIVE", MQENC_NATIVE, 546},
      {"MQRC_CNO_ERROR", MQRC_CNO_ERROR, 2139},
      {"MQEI_UNLIMITED", MQEI_UNLIMITED, -1},
      {"MQCCSI_APPL", MQCCSI_APPL, -3},
      {"MQRO_ACCEPT_UNSUP_MASK", MQRO_ACCEPT_UNSUP_MASK, -270532353},
      {"-MQEI_UNLIMITED", -MQEI_UNLIMITED, 1},  // parenthesised negatives
      {"MQENC_RESERVED_MASK", MQENC_RESERVED_MASK & 0xFFF, 0},
      {"MQGS_LAST_MSG_IN_GROUP", MQGS_LAST_MSG_IN_GROUP, 'L'},
      {"MQSEG_ALLOWED", MQSEG_ALLOWED, 'A'},
  };
  for (const auto& v : kValues) EXPECT_EQ(v.expected, v.value) << v.name;
  static_assert(sizeof(MQGS_MSG_IN_GROUP) == 1, "one-character values are MQCHARs");
  static_assert(sizeof(MQFMT_STRING) == 9, "formats are 8 characters");
}

}  // namespace
