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
  std::string bytes;
  for (int v : {1, 36, version, 13, 1, 1, 0, 0, 0})
    for (int i = 0; i < 4; i++) bytes += static_cast<char>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
  return Hex(bytes);
}

TEST(PcfPut, OldHeadersAreRetriedWithAVersionOneDescriptorWhenNothingIsLost) {
  LocalqmOrFail({"create", "QM1", "--default", "--min-cfh-version", "3"});
  for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"define", "QM1", q});
  const struct {
    const char* what;
    std::string hex;
    const char* putOptions;
    int exitStatus;
    size_t refusals;  // puts that came back with 2235
  } cases[] = {
      {"old header", CfhHex(1, false), "--encoding 546", 0, 1},
      {"version 2 in big-endian integers", CfhHex(2, true), "--encoding 273", 0, 1},
      {"as MQPCF", CfhHex(1, false), "--format MQPCF", 0, 1},
      {"current header", CfhHex(3, false), "--encoding 546", 0, 0},
      // In a group: a version-1 descriptor would drop the group fields.
      {"in a group", CfhHex(1, false), "--seq 2 --msgflags 8", 2235 & 0xFF, 1},
      // Too short to be a header at all, or a header the retry cannot help.
      {"not a header", "0100000024000000", "", 2235 & 0xFF, 1},
      {"from the future", CfhHex(4, false), "", 2235 & 0xFF, 1},
  };
  for (const auto& c : cases) {
    for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"clear", "QM1", q});
    std::vector<std::string> put = {"put", "QM1", "Q1", "--hex", c.hex, "--format", "MQADMIN"};
    for (const std::string& w : Words(c.putOptions)) put.push_back(w);
    LocalqmOrFail(put);
    RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-va"});
    EXPECT_EQ(c.exitStatus, r.exitStatus) << c.what << "\n" << r.err;
    size_t refusals = 0;
    for (const std::string& line : SplitLines(r.err))
      refusals += Has(line, "MQPUT on object 'Q2' returned 2235");
    EXPECT_EQ(c.refusals, refusals) << c.what;
    std::vector<MessageFields> q2 = BrowseMessages("QM1", "Q2", true);
    EXPECT_EQ(c.exitStatus != 0, Has(r.err, "MQPUT(Q2) failed RC(2235)")) << c.what << r.err;
    ASSERT_EQ(c.exitStatus == 0 ? 1u : 0u, q2.size()) << c.what;
    if (q2.empty()) continue;
    // Delivered as it was: the header is not touched without -O S(CFH3).
    EXPECT_EQ(c.hex, q2[0]["DataHex"]) << c.what;
    EXPECT_EQ(BrowseMessages("QM1", "Q1")[0]["Encoding"], q2[0]["Encoding"]) << c.what;
  }
}

}  // namespace
