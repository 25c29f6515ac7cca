// Loading message files onto queues with the real binary against localqm:
// context choices and -A overrides on the way in. Exact round trips of every
// layout are the file reader's (tests/zeplo/files/message_file_reader_test.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using Fields = MessageFields;

class LoadTest : public QueueTest {
 public:
  LoadTest() : QueueTest({"Q1", "Q2"}) {}
  static std::vector<Fields> Browse(const std::string& queue) {
    return BrowseMessages("QM1", queue, true);
  }
  // Unloads Q1 (browsing) into name.
  static void Unload(const std::string& name) {
    RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-F", name});
    ASSERT_EQ(0, r.exitStatus) << r.err;
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

}  // namespace
