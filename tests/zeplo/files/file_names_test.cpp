// File name inserts and generic $-numbered names.
#include <sys/stat.h>

#include <ctime>

#include "tests/zeplo/files/files_test_util.h"

namespace {

// Tuesday 22 December 2026, 12:30:05, day 355 counted from 0; `hour`,
// `mday` and `yday` replace the defaults when not negative.
struct tm Day(int hour = -1, int mday = -1, int yday = -1) {
  struct tm t {};
  t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 22, t.tm_hour = 12, t.tm_min = 30, t.tm_sec = 5;
  t.tm_wday = 2, t.tm_yday = 355;
  if (hour >= 0) t.tm_hour = hour;
  if (mday >= 0) t.tm_mday = mday;
  if (yday >= 0) t.tm_yday = yday;
  return t;
}

TEST(FileNamesTest, Inserts) {
  const struct {
    const char* pattern;
    struct tm when;
    const char* expected;
  } cases[] = {
      {"%C %c %t", Day(), "20261222 261222 123005"},
      {"%y %yy", Day(), "2026 26"},
      {"%m %mm %mmm %mmmm", Day(), "Dec 12 December Decemberm"},
      {"%d %dd %ddd", Day(), "22 22nd 22ndd"},
      {"%D %DD", Day(), "Tue Tuesday"},
      {"%H %HH %h %hh %p %P", Day(), "12 12 00 0 pm PM"},
      {"%H %HH %h %hh %p", Day(0), "00 0 00 0 am"},
      {"%H %HH %h %hh %P", Day(9), "09 9 09 9 AM"},
      {"%h %hh %p", Day(23), "11 11 pm"},
      {"%M %S %j %J", Day(), "30 05 355 356"},
      {"%j %J %dd", Day(-1, 1, 0), "000 001 1st"},
      {"%dd %dd", Day(-1, 2), "2nd 2nd"},
      {"%% %%n a%qb", Day(), "% %n ab"},
      {"abc%", Day(), "abc"},
      {"%", Day(), ""},
      {"/d/q_%y%mm%d_%H%M%S.zpd", Day(), "/d/q_20261222_123005.zpd"},
  };
  auto opts = NewOptions();
  char name[kFileNameLength + 1];
  for (const auto& c : cases) {
    EXPECT_EQ(0, ExpandFileNameAt(opts.get(), c.pattern, &c.when, name, sizeof(name)));
    EXPECT_STREQ(c.expected, name) << c.pattern;
  }
  // Ordinal days: the teens take "th".
  std::string days;
  for (int mday : {3, 4, 11, 12, 13, 21, 22, 23, 31}) {
    struct tm when = Day(-1, mday);
    ASSERT_EQ(0, ExpandFileNameAt(opts.get(), "%dd ", &when, name, sizeof(name)));
    days += name;
  }
  EXPECT_EQ("3rd 4th 11th 12th 13th 21st 22nd 23rd 31st ", days);
}

TEST(FileNamesTest, CounterInsertsAndCutNames) {
  const struct {
    int32_t readFiles, writtenFiles;
    int64_t index, selected;
    const char* pattern;
    size_t size;
    int rc;
    const char* expected;
  } cases[] = {
      // Output names of each counter are numbered by the program's own runs.
      {2, 9, 0, 0, "out%n", 64, 0, "out2"},  // once files are read, %n counts those
      {0, 0, 123456, 0, "%I", 64, 0, "123456"},
      {0, 0, 0, 0, "abcdefghij", 8, 2208, "abcdefg"},
      {0, 0, 0, 0, "abc%mmm", 8, 2208, "abcDece"},
      {0, 0, 0, 0, "x", 1, 2208, ""},
  };
  for (const auto& c : cases) {
    auto opts = NewOptions();
    opts->Counters.ReadFiles = c.readFiles, opts->Counters.WrittenFiles = c.writtenFiles;
    opts->Counters.MessageIndex = c.index, opts->Counters.SelectedCount = c.selected;
    char name[64];
    struct tm when = Day();
    EXPECT_EQ(c.rc, ExpandFileNameAt(opts.get(), c.pattern, &when, name, c.size)) << c.pattern;
    EXPECT_STREQ(c.expected, name);
  }
  auto opts = NewOptions();
  char year[8];
  time_t now = std::time(nullptr);
  ASSERT_EQ(0, ExpandFileName(opts.get(), "%y", year, sizeof(year)));
  EXPECT_EQ(std::to_string(localtime(&now)->tm_year + 1900), year);
}

TEST(FileNamesTest, GenericNames) {
  ScratchDir dir;
  auto opts = NewOptions();
  std::snprintf(opts->Files.GenericDirectory, sizeof(opts->Files.GenericDirectory), "%s/", dir.path.c_str());
  std::snprintf(opts->Files.GenericBaseName, sizeof(opts->Files.GenericBaseName), "APP!IN");
  std::snprintf(opts->Files.GenericFileType, sizeof(opts->Files.GenericFileType), ".zpd");
  std::snprintf(opts->Parsed.InputFile, sizeof(opts->Parsed.InputFile), "%s", (dir / "APP!IN$1.zpd").c_str());
  char name[kFileNameLength + 1];
  struct stat st {};
  // Output: the plain name, then at the first roll-over $1 and $2.
  ASSERT_EQ(0, NextGenericFileName(opts.get(), false, name, sizeof(name)));
  EXPECT_EQ(dir / "APP!IN.zpd", name);
  opts->Counters.WrittenFiles = 1;
  EXPECT_EQ(2208, NextGenericFileName(opts.get(), false, name, sizeof(name)));  // nothing to rename
  EXPECT_EQ("Can not rename file '" + dir / "APP!IN.zpd' to '" + dir / "APP!IN$1.zpd'",
            std::string(opts->ExitMessage));
  dir.Create("APP!IN.zpd", "");
  ASSERT_EQ(0, NextGenericFileName(opts.get(), false, name, sizeof(name)));
  EXPECT_EQ(dir / "APP!IN$2.zpd", name);
  EXPECT_EQ(0, stat((dir / "APP!IN$1.zpd").c_str(), &st));
  EXPECT_NE(0, stat((dir / "APP!IN.zpd").c_str(), &st));
  opts->Counters.WrittenFiles = 2;
  ASSERT_EQ(0, NextGenericFileName(opts.get(), false, name, sizeof(name)));
  EXPECT_EQ(dir / "APP!IN$3.zpd", name);
  // Input: the file generic load chose, then $2, $3 ...
  const struct {
    int32_t readFiles;
    const char* leaf;
  } inputs[] = {
      {0, "APP!IN$1.zpd"}, {1, "APP!IN$1.zpd"}, {2, "APP!IN$2.zpd"}, {10, "APP!IN$10.zpd"}};
  for (const auto& c : inputs) {
    opts->Counters.ReadFiles = c.readFiles;
    ASSERT_EQ(0, NextGenericFileName(opts.get(), true, name, sizeof(name)));
    EXPECT_EQ(dir / c.leaf, name);
  }
}

}  // namespace
