// Generic file names: the pattern, the names of queues' files (case
// twins whatever order they come in, '/', paths too long to hold), and the
// generic name sent to the command server. Files found in a directory and
// their roll-over groups are the end-to-end runs' part.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "zeplo/generic/generic.h"
#include "zeplo/names/names.h"

namespace {

struct GenericFilesTest : ::testing::Test {
  std::unique_ptr<TestRun> run{new TestRun};
  ~GenericFilesTest() override {
    GenericRunRelease(&run->Generic);
    QueueListRelease(&run->Parsed.InputList);
  }
  // "name=path" for each entry of `list`, with "*" marking group heads and
  // "[min-max]" their indexes.
  static std::string Describe(const QueueFileEntry* list) {
    std::string text;
    for (const QueueFileEntry* e = list; e != nullptr; e = e->Next) {
      text += std::string(e->GroupHead ? "*" : "") + e->QueueName + "=" + e->Path;
      if (e->GroupHead && e->Indexed)
        text += "[" + std::to_string(e->MinIndex) + "-" + std::to_string(e->MaxIndex) + "]";
      text += " ";
    }
    return text;
  }
};

TEST_F(GenericFilesTest, FileSpecifications) {
  struct Case {
    const char* spec;
    int rc;
    const char* directory;
    const char* type;
  } cases[] = {
      {"/backup/*", 0, "/backup/", ".zpd"}, {"*.msg", 0, "./", ".msg"},
      {"d/*.123456789012345678", 0, "d/", ".123456789012345678"},
      {"d/*.1234567890123456789", MQRC_OPTIONS_ERROR, "", ""},  // 20 characters
      {"d/*.a-b", MQRC_OPTIONS_ERROR, "", ""}, {"d/x*", MQRC_OPTIONS_ERROR, "", ""},
      {"d/*x", MQRC_OPTIONS_ERROR, "", ""},
  };
  for (const Case& c : cases) {
    run->Files.GenericFileType[0] = '\0';
    EXPECT_EQ(ParseGenericFileSpec(run.get(), c.spec), c.rc) << c.spec;
    if (c.rc != 0) continue;
    EXPECT_STREQ(run->Files.GenericDirectory, c.directory) << c.spec;
    EXPECT_STREQ(run->Files.GenericFileType, c.type) << c.spec;
  }
}

TEST_F(GenericFilesTest, QueueFilesAreSortedAndTwinsNamedApart) {
  ASSERT_EQ(ParseGenericFileSpec(run.get(), "/b/*"), 0);
  // Out of order: a later twin that sorts first moves the others' names on.
  for (const char* name : {"q1", "A/B", "Q1", "Z"}) {
    QueueFileEntry entry{};
    snprintf(entry.QueueName, sizeof entry.QueueName, "%s", name);
    ASSERT_EQ(AddQueueFileEntry(run.get(), &entry, &run->Generic.QueueFiles), 0);
  }
  EXPECT_EQ(Describe(run->Generic.QueueFiles),
            "A/B=/b/A!B.zpd Q1=/b/Q1.zpd Z=/b/Z.zpd q1=/b/q1#1.zpd ");
  // A path that cannot be held is refused, not cut.
  run->Files.GenericDirectory[0] = '/';
  memset(run->Files.GenericDirectory + 1, 'd', 230);
  QueueFileEntry longName{};
  snprintf(longName.QueueName, sizeof longName.QueueName, "%s", std::string(48, 'Q').c_str());
  EXPECT_EQ(AddQueueFileEntry(run.get(), &longName, &run->Generic.QueueFiles),
            MQRC_FILE_SYSTEM_ERROR);
}

TEST_F(GenericFilesTest, SystemQueuesAndTheGenericNameSent) {
  snprintf(run->Parsed.OutputQueueName, sizeof run->Parsed.OutputQueueName, "SYSTEM.MINE");
  for (const char* name : {"APP", "SYSTEM.DEAD.LETTER.QUEUE", "SYSTEM.CLUSTER.TRANSMIT.QUEUE",
                           "SYSTEM.MINE", "SYSTEMX"})
    EXPECT_TRUE(IsOrdinaryQueue(run.get(), name)) << name;
  EXPECT_FALSE(IsOrdinaryQueue(run.get(), "SYSTEM.ADMIN.COMMAND.QUEUE"));
  struct Case {
    std::vector<const char*> masks;
    const char* sent;
  } cases[] = {{{"APP.*.IN"}, "APP.*"}, {{"Q?X*"}, "Q*"}, {{"Q1"}, "Q1"}, {{"A*", "B*"}, "*"}};
  for (const Case& c : cases) {
    QueueListRelease(&run->Parsed.InputList);
    for (const char* mask : c.masks) ASSERT_EQ(AddDestination(&run->Parsed, mask, true), 0);
    char sent[49];
    GenericQueueName(run.get(), sent);
    EXPECT_STREQ(sent, c.sent) << c.masks[0];
  }
}

}  // namespace
