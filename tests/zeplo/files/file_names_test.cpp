// File name inserts and generic $-numbered names.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "tests/zeplo/files/files_test_util.h"

namespace {

// A Tuesday in December 2026, 12:30:05 on the 22nd, day 355 counted from 0,
// unless told another hour, day of the month or day of the year.
struct tm Day(int hour = 12, int mday = 22, int yday = 355) {
  struct tm t {};
  t.tm_year = 126, t.tm_mon = 11, t.tm_mday = mday, t.tm_hour = hour, t.tm_min = 30, t.tm_sec = 5;
  t.tm_wday = 2, t.tm_yday = yday;
  return t;
}

TEST(FileNamesTest, Inserts) {
  const struct {
    const char *pattern, *expected;
    struct tm when = Day();
    size_t size = kFileNameLength + 1;  // of the buffer: too small cuts the name
    int rc = 0;
  } cases[] = {
      {"%C %c %t", "20261222 261222 123005"}, {"%y %yy", "2026 26"},
      {"%m %mm %mmm %mmmm", "Dec 12 December Decemberm"}, {"%d %dd %ddd", "22 22nd 22ndd"},
      {"%D %DD", "Tue Tuesday"}, {"%H %HH %h %hh %p %P", "12 12 00 0 pm PM"},
      {"%H %HH %h %hh %p", "00 0 00 0 am", Day(0)}, {"%H %HH %h %hh %P", "09 9 09 9 AM", Day(9)},
      {"%h %hh %p", "11 11 pm", Day(23)}, {"%M %S %j %J", "30 05 355 356"},
      {"%j %J %dd", "000 001 1st", Day(12, 1, 0)}, {"%dd %dd", "2nd 2nd", Day(12, 2)},
      // Ordinal days: the teens take "th".
      {"%dd", "3rd", Day(12, 3)}, {"%dd", "4th", Day(12, 4)}, {"%dd", "11th", Day(12, 11)},
      {"%dd", "12th", Day(12, 12)}, {"%dd", "13th", Day(12, 13)}, {"%dd", "21st", Day(12, 21)},
      {"%dd", "23rd", Day(12, 23)}, {"%dd", "31st", Day(12, 31)},
      {"%% %%n a%qb", "% %n ab"}, {"abc%", "abc"}, {"%", ""},
      {"/d/q_%y%mm%d_%H%M%S.zpd", "/d/q_20261222_123005.zpd"},
      // Once files are read, %n counts those rather than the files written.
      {"out%n", "out2"}, {"%I", "123456"}, {"abcdefghij", "abcdefg", Day(), 8, 2208},
      {"abc%mmm", "abcDece", Day(), 8, 2208}, {"x", "", Day(), 1, 2208},
  };
  auto opts = NewOptions();
  opts->Counters.ReadFiles = 2, opts->Counters.WrittenFiles = 9;
  opts->Counters.MessageIndex = 123456;
  char name[kFileNameLength + 1];
  for (const auto& c : cases) {
    EXPECT_EQ(c.rc, ExpandFileNameAt(opts.get(), c.pattern, &c.when, name, c.size)) << c.pattern;
    EXPECT_STREQ(c.expected, name) << c.pattern;
  }
}

TEST(FileNamesTest, TheClockIsLocalTime) {
  auto opts = NewOptions();
  char year[8];
  time_t now = std::time(nullptr);
  ASSERT_EQ(0, ExpandFileName(opts.get(), "%y", year, sizeof(year)));
  EXPECT_EQ(std::to_string(localtime(&now)->tm_year + 1900), year);
}

TEST(FileNamesTest, GenericNames) {
  ScratchDir dir;
  auto opts = NewOptions();
  Copy(opts->Files.GenericDirectory, dir.path + "/");
  Copy(opts->Files.GenericBaseName, "APP!IN");
  Copy(opts->Files.GenericFileType, ".zpd");
  Copy(opts->Parsed.InputFile, dir / "APP!IN$1.zpd");
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
  for (int32_t readFiles : {0, 1, 2, 10}) {
    opts->Counters.ReadFiles = readFiles;
    ASSERT_EQ(0, NextGenericFileName(opts.get(), true, name, sizeof(name)));
    EXPECT_EQ(dir / ("APP!IN$" + std::to_string(std::max(readFiles, 1)) + ".zpd"), name);
  }
}

}  // namespace
