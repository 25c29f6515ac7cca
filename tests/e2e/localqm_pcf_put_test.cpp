// A queue manager that refuses old PCF headers, and zeplo moving PCF
// messages onto it: the put is retried with a version-1 descriptor only
// when nothing of the version-2 part would be lost and the header is old.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

// An MQCFH (Type 1, StrucLength 36, the given Version, Command 13, then
// zeros) as hex, with big-endian or little-endian integers.
std::string CfhHex(int version, bool bigEndian) {
  const int fields[9] = {1, 36, version, 13, 1, 1, 0, 0, 0};
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (int v : fields) {
    for (int i = 0; i < 4; i++) {
      int shift = bigEndian ? 8 * (3 - i) : 8 * i;
      unsigned byte = (static_cast<unsigned>(v) >> shift) & 0xFF;
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 15];
    }
  }
  return hex;
}

std::string Field(const std::string& listing, const std::string& key) {
  for (const std::string& line : SplitLines(listing)) {
    if (line.rfind(key + " : ", 0) == 0) return line.substr(key.size() + 3);
  }
  return "(none)";
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

class PcfPutTest : public ::testing::Test {
 public:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default", "--min-cfh-version", "3"});
    for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"define", "QM1", q});
  }
};

TEST_F(PcfPutTest, OldHeadersAreRetriedWithAVersionOneDescriptorWhenNothingIsLost) {
  struct Case {
    const char* what;
    std::string hex;
    std::vector<std::string> putOptions;
    int exitStatus;
    size_t refusals;  // puts that came back with 2235
  } cases[] = {
      {"old header", CfhHex(1, false), {"--encoding", "546"}, 0, 1},
      {"version 2 in big-endian integers", CfhHex(2, true), {"--encoding", "273"}, 0, 1},
      {"as MQPCF", CfhHex(1, false), {"--format", "MQPCF"}, 0, 1},
      {"current header", CfhHex(3, false), {"--encoding", "546"}, 0, 0},
      // In a group: a version-1 descriptor would drop the group fields.
      {"in a group", CfhHex(1, false), {"--seq", "2", "--msgflags", "8"}, 2235 & 0xFF, 1},
      // Too short to be a header at all, or a header the retry cannot help.
      {"not a header", "0100000024000000", {}, 2235 & 0xFF, 1},
      {"from the future", CfhHex(4, false), {}, 2235 & 0xFF, 1},
  };
  for (const Case& c : cases) {
    LocalqmOrFail({"clear", "QM1", "Q1"});
    LocalqmOrFail({"clear", "QM1", "Q2"});
    std::vector<std::string> put = {"put", "QM1", "Q1", "--hex", c.hex, "--format", "MQADMIN"};
    put.insert(put.end(), c.putOptions.begin(), c.putOptions.end());
    LocalqmOrFail(put);
    RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-va"});
    EXPECT_EQ(c.exitStatus, r.exitStatus) << c.what << "\n" << r.err;
    EXPECT_EQ(c.refusals, Count(r.err, "MQPUT on object 'Q2' returned 2235")) << c.what;
    std::string q2 = LocalqmOrFail({"browse", "QM1", "Q2", "--hex"});
    if (c.exitStatus == 0) {
      // Delivered as it was: the header is not touched without -O S(CFH3).
      EXPECT_EQ(c.hex, Field(q2, "DataHex")) << c.what;
      EXPECT_EQ(Field(LocalqmOrFail({"browse", "QM1", "Q1"}), "Encoding"), Field(q2, "Encoding"))
          << c.what;
    } else {
      EXPECT_EQ("(none)", Field(q2, "DataHex")) << c.what;
      EXPECT_NE(std::string::npos, r.err.find("MQPUT(Q2) failed RC(2235)")) << c.what << r.err;
    }
  }
}

}  // namespace
