// Unloading with data conversion (-c): text is converted, and a message the
// queue manager cannot convert still arrives, unconverted, instead of
// stopping the run (a move must not lose it).
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_util.h"

namespace {

TEST(UnloadConvert, UnconvertibleMessagesArriveUnconverted) {
  LocalqmOrFail({"create", "QM1", "--default"});
  LocalqmOrFail({"define", "QM1", "Q1"});
  // EBCDIC 500 "HELLO" as MQSTR, then binary data without a format.
  LocalqmOrFail({"put", "QM1", "Q1", "--hex", "C8C5D3D3D6", "--format", "MQSTR", "--ccsid", "500"});
  LocalqmOrFail({"put", "QM1", "Q1", "--hex", "00FF00FF", "--format", ""});

  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-c", "819", "-F", "out.zpd", "-q"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  std::string file = ReadFileText(ScratchPath("out.zpd"));
  EXPECT_NE(std::string::npos, file.find("48454C4C4F")) << file;  // "HELLO" in ASCII
  EXPECT_NE(std::string::npos, file.find("00FF00FF")) << file;
  EXPECT_NE(std::string::npos, LocalqmOrFail({"depth", "QM1", "Q1"}).find('0'));
  EXPECT_EQ(std::string::npos, LocalqmOrFail({"depth", "QM1", "Q1"}).find_first_of("123456789"));
}

}  // namespace
