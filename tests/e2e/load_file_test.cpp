// Loading message files onto queues with the real binary against localqm:
// context choices and -A overrides on the way in. Exact round trips of every
// layout are the file reader's (tests/zeplo/files/message_file_reader_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

class LoadTest : public QueueTest {
 public:
  LoadTest() : QueueTest({"Q1", "Q2"}) {}
};

TEST_F(LoadTest, ContextAndOverridesOnTheWayIn) {
  LocalqmOrFail(Words("put QM1 Q1 --text m --putdate 20200101 --priority 1"));
  RunResult r = RunZeplo(Words("-m QM1 -i Q1 -F one.zpd"));
  ASSERT_EQ(0, r.exitStatus) << r.err;
  struct {
    const char* options;
    const char* field;
    const char* value;  // null: anything but the file's
  } cases[] = {{"-C A", "PutDate", "20200101"},
               {"-A p:6", "Priority", "6"},
               {"-A t:REPLY", "MsgType", "2"},
               {"-C d", "PutDate", nullptr}};
  for (const auto& c : cases) {
    LocalqmOrFail({"clear", "QM1", "Q2"});
    r = RunZeplo(Words(std::string("-m QM1 -f one.zpd -o Q2 ") + c.options));
    ASSERT_EQ(0, r.exitStatus) << c.options << "\n" << r.err;
    const std::string value = BrowseMessages("QM1", "Q2", true).at(0)[c.field];
    if (c.value != nullptr)
      EXPECT_EQ(c.value, value) << c.options;
    else
      EXPECT_NE("20200101", value) << c.options;
  }
  // Context can only be passed from a queue that was got from.
  r = RunZeplo(Words("-m QM1 -f one.zpd -o Q2 -C a"));
  EXPECT_EQ(2098 & 0xFF, r.exitStatus);
  EXPECT_TRUE(Has(r.err, "An input queue must be supplied to pass context")) << r.err;
}

}  // namespace
