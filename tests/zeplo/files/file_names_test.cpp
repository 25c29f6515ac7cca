// File name inserts and generic $-numbered names.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "zeplo/files/files.h"

namespace {

// Tuesday 22 December 2026, 12:30:05, day 355 of the year counted from 0.
struct tm Tuesday() {
  struct tm t {};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 22;
  t.tm_hour = 12;
  t.tm_min = 30;
  t.tm_sec = 5;
  t.tm_wday = 2;
  t.tm_yday = 355;
  return t;
}

std::string Expand(RunOptions* opts, const char* pattern, const struct tm& when) {
  char name[kFileNameLength + 1];
  EXPECT_EQ(0, ExpandFileNameAt(opts, pattern, &when, name, sizeof(name))) << pattern;
  return name;
}

TEST(FileNamesTest, EveryInsertOnOneDay) {
  const struct {
    const char* pattern;
    const char* expected;
  } cases[] = {
      {"%C", "20261222"},     {"%c", "261222"},        {"%t", "123005"},
      {"%y", "2026"},         {"%yy", "26"},           {"%m", "Dec"},
      {"%mm", "12"},          {"%mmm", "December"},    {"%mmmm", "Decemberm"},
      {"%d", "22"},           {"%dd", "22nd"},         {"%ddd", "22ndd"},
      {"%D", "Tue"},          {"%DD", "Tuesday"},      {"%H", "12"},
      {"%HH", "12"},          {"%h", "00"},            {"%hh", "0"},
      {"%M", "30"},           {"%S", "05"},            {"%p", "pm"},
      {"%P", "PM"},           {"%j", "355"},           {"%J", "356"},
      {"%%", "%"},            {"%%n", "%n"},           {"a%qb", "ab"},
      {"abc%", "abc"},        {"%", ""},               {"plain.zpd", "plain.zpd"},
      {"/d/q_%y%mm%d_%H%M%S.zpd", "/d/q_20261222_123005.zpd"},
  };
  auto opts = std::make_unique<RunOptions>();
  for (const auto& c : cases) EXPECT_EQ(c.expected, Expand(opts.get(), c.pattern, Tuesday()));
}

TEST(FileNamesTest, HourAndDayForms) {
  const struct {
    int hour, mday, yday;
    const char* pattern;
    const char* expected;
  } cases[] = {
      {0, 1, 0, "%H %HH %h %hh %p", "00 0 00 0 am"},
      {9, 1, 0, "%H %HH %h %hh %P", "09 9 09 9 AM"},
      {11, 1, 0, "%h %p", "11 am"},
      {12, 1, 0, "%h %hh %p", "00 0 pm"},
      {23, 1, 0, "%h %hh %P", "11 11 PM"},
      {5, 1, 0, "%dd %j %J", "1st 000 001"},
      {5, 2, 1, "%dd", "2nd"},
      {5, 3, 2, "%dd", "3rd"},
      {5, 4, 3, "%dd", "4th"},
      {5, 11, 10, "%dd", "11th"},
      {5, 12, 11, "%dd", "12th"},
      {5, 13, 12, "%dd", "13th"},
      {5, 21, 20, "%dd", "21st"},
      {5, 23, 22, "%dd", "23rd"},
      {5, 31, 30, "%dd %d", "31st 31"},
  };
  auto opts = std::make_unique<RunOptions>();
  for (const auto& c : cases) {
    struct tm t = Tuesday();
    t.tm_hour = c.hour;
    t.tm_mday = c.mday;
    t.tm_yday = c.yday;
    EXPECT_EQ(c.expected, Expand(opts.get(), c.pattern, t)) << c.pattern << " " << c.hour;
  }
}

TEST(FileNamesTest, CounterInserts) {
  const struct {
    int32_t readFiles, writtenFiles;
    int64_t messageIndex, selected;
    const char* pattern;
    const char* expected;
  } cases[] = {
      {0, 0, 0, 0, "out%n.zpd", "out1.zpd"},
      {0, 4, 0, 0, "out%n-%N", "out5-00005"},
      {2, 9, 0, 0, "out%n", "out2"},  // input files count first
      {1, 0, 0, 0, "%N", "00001"},
      {0, 0, 42, 0, "m%i_%I", "m42_00042"},
      {0, 0, 0, 6, "o%o_%O", "o7_00007"},
      {0, 0, 123456, 0, "%I", "123456"},
  };
  for (const auto& c : cases) {
    auto opts = std::make_unique<RunOptions>();
    opts->ReadFiles = c.readFiles;
    opts->WrittenFiles = c.writtenFiles;
    opts->MessageIndex = c.messageIndex;
    opts->SelectedCount = c.selected;
    EXPECT_EQ(c.expected, Expand(opts.get(), c.pattern, Tuesday())) << c.pattern;
  }
}

TEST(FileNamesTest, NameThatDoesNotFitIsCutAndRefused) {
  auto opts = std::make_unique<RunOptions>();
  struct tm t = Tuesday();
  const struct {
    const char* pattern;
    size_t size;
    int rc;
    const char* expected;
  } cases[] = {
      {"abcdefghij", 8, 2208, "abcdefg"},
      {"abc%mmm", 8, 2208, "abcDece"},
      {"abc%mmm", 12, 0, "abcDecember"},
      {"x", 1, 2208, ""},
  };
  for (const auto& c : cases) {
    char name[32];
    EXPECT_EQ(c.rc, ExpandFileNameAt(opts.get(), c.pattern, &t, name, c.size)) << c.pattern;
    EXPECT_STREQ(c.expected, name);
  }
}

TEST(FileNamesTest, ExpandUsesTheClockNow) {
  auto opts = std::make_unique<RunOptions>();
  char name[64];
  ASSERT_EQ(0, ExpandFileName(opts.get(), "%y", name, sizeof(name)));
  time_t now = std::time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  EXPECT_EQ(std::to_string(local.tm_year + 1900), name);
}

TEST(FileNamesTest, IndexInsertDetection) {
  const struct {
    const char* pattern;
    bool has;
  } cases[] = {{"a%n", true}, {"%I.x", true}, {"%o", true}, {"%O", true}, {"%i", true},
               {"%N", true},  {"%%n", false}, {"%C%t", false}, {"plain", false},
               {"end%", false}, {"%%%n", true}, {"", false}};
  for (const auto& c : cases) EXPECT_EQ(c.has, FileNameHasIndexInsert(c.pattern)) << c.pattern;
  EXPECT_FALSE(FileNameHasIndexInsert(nullptr));
}

class GenericNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zeplo_generic_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    std::snprintf(opts_->GenericDirectory, sizeof(opts_->GenericDirectory), "%s/", dir_.c_str());
    std::snprintf(opts_->GenericBaseName, sizeof(opts_->GenericBaseName), "APP!IN");
    std::snprintf(opts_->GenericFileType, sizeof(opts_->GenericFileType), ".zpd");
    opts_->GenericFileTypeLength = 4;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
  }
  std::string Next(bool input, int expectRc = 0) {
    char name[kFileNameLength + 1];
    EXPECT_EQ(expectRc, NextGenericFileName(opts_.get(), input, name, sizeof(name)));
    return name;
  }
  bool Exists(const std::string& leaf) {
    struct stat st {};
    return stat((dir_ + "/" + leaf).c_str(), &st) == 0;
  }
  std::unique_ptr<RunOptions> opts_ = std::make_unique<RunOptions>();
  std::string dir_;
};

TEST_F(GenericNamesTest, OutputRollsOverToDollarNames) {
  EXPECT_EQ(dir_ + "/APP!IN.zpd", Next(false));
  std::FILE* f = std::fopen((dir_ + "/APP!IN.zpd").c_str(), "w");
  ASSERT_NE(nullptr, f);
  std::fclose(f);
  opts_->WrittenFiles = 1;
  EXPECT_EQ(dir_ + "/APP!IN$2.zpd", Next(false));
  EXPECT_TRUE(Exists("APP!IN$1.zpd"));
  EXPECT_FALSE(Exists("APP!IN.zpd"));
  opts_->WrittenFiles = 2;
  EXPECT_EQ(dir_ + "/APP!IN$3.zpd", Next(false));
}

TEST_F(GenericNamesTest, FailedRenameIsRefused) {
  opts_->WrittenFiles = 1;  // but the plain file was never written
  Next(false, 2208);
  EXPECT_EQ("Can not rename file '" + dir_ + "/APP!IN.zpd' to '" + dir_ + "/APP!IN$1.zpd'",
            std::string(opts_->ExitMessage));
}

TEST_F(GenericNamesTest, InputGoesOnFromTheFirstFile) {
  std::snprintf(opts_->InputFile, sizeof(opts_->InputFile), "%s/APP!IN$1.zpd", dir_.c_str());
  const struct {
    int32_t readFiles;
    const char* leaf;
  } cases[] = {{0, "APP!IN$1.zpd"}, {1, "APP!IN$1.zpd"}, {2, "APP!IN$2.zpd"}, {10, "APP!IN$10.zpd"}};
  for (const auto& c : cases) {
    opts_->ReadFiles = c.readFiles;
    EXPECT_EQ(dir_ + "/" + c.leaf, Next(true));
  }
}

}  // namespace
