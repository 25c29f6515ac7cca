// Generic file names: the specification, the names of queues' files (case
// twins, '/', roll-over indexes) and back, the grouping of roll-over files,
// and the generic name sent to the command server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "zeplo/generic/generic.h"
#include "zeplo/names/names.h"

namespace {

struct GenericFilesTest : ::testing::Test {
  std::unique_ptr<RunOptions> options{new RunOptions{}};
  GenericRun run{};
  ~GenericFilesTest() override {
    GenericRunRelease(&run);
    QueueListRelease(&options->InputList);
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
      {"/backup/*", 0, "/backup/", ".zpd"},
      {"*.msg", 0, "./", ".msg"},
      {"d/*.Abc123", 0, "d/", ".Abc123"},
      {"d/*.123456789012345678", 0, "d/", ".123456789012345678"},
      {"d/*.1234567890123456789", MQRC_OPTIONS_ERROR, "", ""},  // 20 characters
      {"d/*.a-b", MQRC_OPTIONS_ERROR, "", ""},
      {"d/*.", MQRC_OPTIONS_ERROR, "", ""},
      {"d/x*", MQRC_OPTIONS_ERROR, "", ""},
      {"d/*x", MQRC_OPTIONS_ERROR, "", ""},
  };
  for (const Case& c : cases) {
    options->GenericFileType[0] = '\0';
    EXPECT_EQ(ParseGenericFileSpec(options.get(), c.spec), c.rc) << c.spec;
    if (c.rc != 0) continue;
    EXPECT_STREQ(options->GenericDirectory, c.directory) << c.spec;
    EXPECT_STREQ(options->GenericFileType, c.type) << c.spec;
  }
}

TEST_F(GenericFilesTest, QueueFilesAreSortedAndTwinsNamedApart) {
  ASSERT_EQ(ParseGenericFileSpec(options.get(), "/b/*"), 0);
  // Out of order: a later twin that sorts first moves the others' names on.
  for (const char* name : {"q1", "A/B", "Q1", "Z"}) {
    QueueFileEntry entry{};
    snprintf(entry.QueueName, sizeof entry.QueueName, "%s", name);
    ASSERT_EQ(AddQueueFileEntry(options.get(), &entry, &run.QueueFiles), 0);
  }
  EXPECT_EQ(Describe(run.QueueFiles),
            "A/B=/b/A!B.zpd Q1=/b/Q1.zpd Z=/b/Z.zpd q1=/b/q1#1.zpd ");
  // A path that cannot be held is refused, not cut.
  options->GenericDirectory[0] = '/';
  memset(options->GenericDirectory + 1, 'd', 230);
  QueueFileEntry longName{};
  snprintf(longName.QueueName, sizeof longName.QueueName, "%s", std::string(48, 'Q').c_str());
  EXPECT_EQ(AddQueueFileEntry(options.get(), &longName, &run.QueueFiles), MQRC_FILE_SYSTEM_ERROR);
}

TEST_F(GenericFilesTest, DirectoryEntriesBecomeGroups) {
  ASSERT_EQ(ParseGenericFileSpec(options.get(), "d/*"), 0);
  const std::string tooLong = std::string(49, 'L') + ".zpd";
  for (const char* name : {"Q1$2.zpd", "A!B.zpd", "Q1$1.zpd", "q1#1.zpd", "Q2$3.zpd", "Q1$3.zpd",
                           "x.txt", ".zpd", "Q1.ZPD", tooLong.c_str()}) {
    QueueFileEntry entry;
    if (!ParseGenericFileName(options.get(), name, &entry)) continue;
    ASSERT_EQ(AddQueueFileEntry(options.get(), &entry, &run.QueueFiles), 0);
  }
  GroupQueueFiles(run.QueueFiles);
  EXPECT_EQ(Describe(run.QueueFiles),
            "*A/B=d/A!B.zpd *Q1=d/Q1$1.zpd[1-3] Q1=d/Q1$2.zpd Q1=d/Q1$3.zpd *Q2=d/Q2$3.zpd[3-3] "
            "*q1=d/q1#1.zpd ");
}

TEST_F(GenericFilesTest, SystemQueuesAndTheGenericNameSent) {
  snprintf(options->OutputQueueName, sizeof options->OutputQueueName, "SYSTEM.MINE");
  for (const char* name : {"APP", "SYSTEM.DEAD.LETTER.QUEUE", "SYSTEM.CLUSTER.TRANSMIT.QUEUE",
                           "SYSTEM.MINE", "SYSTEMX"})
    EXPECT_TRUE(IsOrdinaryQueue(options.get(), name)) << name;
  EXPECT_FALSE(IsOrdinaryQueue(options.get(), "SYSTEM.ADMIN.COMMAND.QUEUE"));
  struct Case {
    std::vector<const char*> masks;
    const char* sent;
  } cases[] = {{{"APP.*.IN"}, "APP.*"}, {{"Q?X*"}, "Q*"}, {{"Q1"}, "Q1"}, {{"A*", "B*"}, "*"}};
  for (const Case& c : cases) {
    QueueListRelease(&options->InputList);
    for (const char* mask : c.masks) ASSERT_EQ(AddDestination(options.get(), mask, true), 0);
    char sent[49];
    GenericQueueName(options.get(), sent);
    EXPECT_STREQ(sent, c.sent) << c.masks[0];
  }
}

}  // namespace
