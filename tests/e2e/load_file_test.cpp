// Loading message files onto queues with the real binary against localqm:
// context choices and -A overrides on the way in; paced loads (-D r, -R n);
// the PCF header repair. Exact round trips are in load_layouts_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using Fields = MessageFields;

class LoadTest : public ::testing::Test {
 public:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default"});
    for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"define", "QM1", q});
  }
  static std::vector<Fields> Browse(const std::string& queue) {
    return BrowseMessages("QM1", queue, true);
  }
  // Unloads Q1 (browsing) into name.
  static void Unload(const std::string& name) {
    RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-F", name});
    ASSERT_EQ(0, r.exitStatus) << r.err;
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
};

TEST_F(LoadTest, ContextAndOverridesOnTheWayIn) {
  LocalqmOrFail({"put", "QM1", "Q1", "--text", "m", "--putdate", "20200101", "--priority", "1"});
  Unload("one.zpd");
  struct {
    std::vector<std::string> options;
    const char* field;
    const char* value;
  } cases[] = {{{"-C", "A"}, "PutDate", "20200101"},
               {{"-A", "p:6"}, "Priority", "6"},
               {{"-A", "t:REPLY"}, "MsgType", "2"},
               {{"-C", "d"}, "PutDate", nullptr}};  // nullptr: anything but the file's
  for (const auto& c : cases) {
    LocalqmOrFail({"clear", "QM1", "Q2"});
    RunResult r = RunZeplo({"-m", "QM1", "-f", "one.zpd", "-o", "Q2", c.options[0], c.options[1]});
    ASSERT_EQ(0, r.exitStatus) << c.options[1] << "\n" << r.err;
    std::string value = Browse("Q2").at(0)[c.field];
    EXPECT_TRUE(c.value != nullptr ? value == c.value : value != "20200101") << c.options[1];
  }
  // Context can only be passed from a queue that was got from.
  RunResult r = RunZeplo({"-m", "QM1", "-f", "one.zpd", "-o", "Q2", "-C", "a"});
  EXPECT_EQ(2098 & 0xFF, r.exitStatus);
  EXPECT_TRUE(Has(r.err, "An input queue must be supplied to pass context")) << r.err;
}

TEST_F(LoadTest, PacedLoadsTakeTheirTime) {
  // Three messages put 1.5 seconds apart by their recorded put times.
  for (const char* t : {"12000000", "12000150", "12000300"}) {
    LocalqmOrFail({"put", "QM1", "Q1", "--text", t, "--putdate", "20261206", "--puttime", t});
  }
  // Then three put long before: the put times go backwards, and each
  // becomes the new reference without a wait.
  for (int i = 0; i < 3; i++) {
    LocalqmOrFail(
        {"put", "QM1", "Q1", "--text", "more", "--putdate", "20200101", "--puttime", "00000000"});
  }
  Unload("six.zpd");
  // -D r replays three seconds of gaps; -R 2 makes three periods of two.
  struct {
    const char* option;
    const char* value;
    int atLeastMs;
    size_t rateLines;
  } cases[] = {{"-D", "r", 2800, 0}, {"-R", "2", 2000, 3}};
  for (const auto& c : cases) {
    LocalqmOrFail({"clear", "QM1", "Q2"});
    auto start = std::chrono::steady_clock::now();
    RunResult r = RunZeplo({"-m", "QM1", "-f", "six.zpd", "-o", "Q2", c.option, c.value});
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count();
    EXPECT_EQ(0, r.exitStatus) << c.option << "\n" << r.err;
    EXPECT_EQ(6u, Browse("Q2").size()) << c.option;
    EXPECT_GE(took, c.atLeastMs) << c.option;
    EXPECT_LT(took, 30000) << c.option;
    // Waits under 5 seconds are not announced; every period is.
    EXPECT_EQ(c.rateLines, SplitLines(r.out).size()) << r.out;
    for (const std::string& l : SplitLines(r.out)) EXPECT_TRUE(Has(l, "2 msgs sent in ")) << l;
  }
}

TEST_F(LoadTest, OldPcfHeadersAreRaisedToVersion3) {
  // The queue manager refuses PCF headers below version 3: the repaired
  // message must get through on its first put.
  LocalqmOrFail({"alter-qmgr", "QM1", "--min-cfh-version", "3"});
  // An MQCFH in reversed (native) integers: Type 1, StrucLength 36,
  // Version 1, then the rest of the header.
  std::string header =
      "01000000"
      "24000000"
      "01000000"
      "0D000000"
      "01000000"
      "01000000"
      "00000000"
      "00000000"
      "00000000";
  LocalqmOrFail({"put", "QM1", "Q1", "--hex", header, "--format", "MQADMIN", "--encoding", "546"});
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-O", "S(CFH3)", "-va"});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ("CFH3 Processing Active\n\nMQCFH updated from 1 to 3\n", r.out);
  EXPECT_FALSE(Has(r.err, "returned 2235")) << r.err;
  std::vector<Fields> out = Browse("Q2");
  ASSERT_EQ(1u, out.size());
  std::string raised = header;
  raised.replace(16, 8, "03000000");
  EXPECT_EQ(raised, out[0]["DataHex"]);
  // The source keeps its own copy as it was.
  EXPECT_EQ(header, Browse("Q1")[0]["DataHex"]);
}

}  // namespace
