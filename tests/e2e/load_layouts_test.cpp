// A queue unloaded in each file layout that keeps descriptors and loaded
// back onto another queue gives the same messages, field for field and byte
// for byte.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using Fields = MessageFields;

std::vector<Fields> Browse(const std::string& queue) { return BrowseMessages("QM1", queue, true); }

TEST(LoadLayouts, EveryLayoutRoundTripsExactly) {
  LocalqmOrFail({"create", "QM1", "--default"});
  for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"define", "QM1", q});
  // Text with the characters the layouts escape, binary runs inside text,
  // an empty message, one longer than many lines, and a full descriptor
  // (all but BackoutCount, which only the queue manager sets).
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "quote \" tilde ~ end", "--format", "MQSTR"});
  LocalqmOrFail({"put", "QM1", "Q1", "--hex", "41424300FF0A0D4445462E2E2E7F80"});
  LocalqmOrFail({"put", "QM1", "Q1", "--text", ""});
  LocalqmOrFail({"put", "QM1", "Q1", "--text", std::string(3000, 'x') + "\n" + std::string(70, 'y')});
  LocalqmOrFail({"put", "QM1", "Q1", "--hex", "00FF10E2", "--priority", "7", "--correlid", "C0FFEE",
                 "--groupid", "0102", "--user", "alice", "--applid", "app id", "--applorigin", "org",
                 "--putappl", "loader", "--putdate", "20240229", "--puttime", "23595999",
                 "--msgtype", "2", "--persistence", "1", "--expiry", "-1", "--replyto", "RQ", "--replytoqmgr", "QM9", "--seq", "3",
                 "--ccsid", "500", "--encoding", "273", "--format", "MYFMT"});
  const std::vector<Fields> original = Browse("Q1");
  ASSERT_EQ(5u, original.size());

  const std::vector<std::vector<std::string>> layouts = {
      {}, {"-dA"}, {"-dp"}, {"-da"}, {"-dAa"}, {"-di"}, {"-dc"}, {"-dw5"}, {"-dpw100"}};
  for (const std::vector<std::string>& layout : layouts) {
    std::string name = "layout" + (layout.empty() ? std::string("hex") : layout[0]) + ".zpd";
    std::vector<std::string> unload = {"-m", "QM1", "-i", "Q1", "-F", name, "-q"};
    unload.insert(unload.end(), layout.begin(), layout.end());
    RunResult u = RunZeplo(unload);
    ASSERT_EQ(0, u.exitStatus) << name << "\n" << u.err;

    LocalqmOrFail({"clear", "QM1", "Q2"});
    RunResult l = RunZeplo({"-m", "QM1", "-f", name, "-o", "Q2", "-q"});
    ASSERT_EQ(0, l.exitStatus) << name << "\n" << l.err;

    std::vector<Fields> loaded = Browse("Q2");
    ASSERT_EQ(original.size(), loaded.size()) << name;
    for (size_t i = 0; i < original.size(); i++) {
      for (const auto& [field, value] : original[i]) {
        EXPECT_EQ(value, loaded[i][field]) << name << ": " << field << " of message " << i;
      }
    }
  }
}

}  // namespace
