// The progress line: what reaches standard error, byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "zeplo/files/files.h"

namespace {

// Runs `body` with standard error sent to a scratch file; returns the bytes.
std::string CaptureStderr(const std::function<void()>& body) {
  std::fflush(stderr);
  int saved = dup(2);
  std::FILE* scratch = std::tmpfile();
  dup2(fileno(scratch), 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text;
  std::rewind(scratch);
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), scratch)) > 0) text.append(buf, n);
  std::fclose(scratch);
  return text;
}

TEST(ProgressTest, StartSetsTotalOnlyAtATerminalAndNotWhenQuiet) {
  const struct {
    const char* name;
    bool interactive, quiet, counting;
    int64_t total;
    bool active;
  } cases[] = {
      {"terminal", true, false, false, 500, true},
      {"not a terminal", false, false, false, 0, false},
      {"quiet", true, true, false, 0, true},
      {"quiet counting pass", true, true, true, 500, true},
  };
  for (const auto& c : cases) {
    auto opts = std::make_unique<RunOptions>();
    opts->Interactive = c.interactive;
    opts->Quiet = c.quiet;
    opts->CountingPass = c.counting;
    opts->ProgressTotal = 77;  // left over from an earlier queue
    StartProgress(opts.get(), 500);
    EXPECT_EQ(c.total, opts->ProgressTotal) << c.name;
    EXPECT_EQ(c.active, opts->ProgressActive) << c.name;
  }
}

TEST(ProgressTest, RewritesInPlace) {
  auto opts = std::make_unique<RunOptions>();
  opts->Interactive = true;
  std::string out = CaptureStderr([&] {
    StartProgress(opts.get(), 100);
    ShowProgress(opts.get(), "abcd");
    ShowProgress(opts.get(), "xy");
    ShowProgress(opts.get(), "123");
    EndProgress(opts.get(), true);
  });
  EXPECT_EQ(
      "abcd"
      "\b\b  \b\b\b\bxy"  // blank the two extra, back over all four
      "\b\b123"
      "\b\b\b   \b\b\b\n",  // erased, then the newline
      out);
  EXPECT_FALSE(opts->ProgressActive);
  EXPECT_EQ(0, opts->ProgressTextLength);
}

TEST(ProgressTest, CountingPassReportsWhatItFound) {
  const struct {
    const char* delimiter;
    const char* text;
  } cases[] = {{"", ": 5 messages found\n"}, {"<p>", ": 5 messages found (2 with properties)\n"}};
  for (const auto& c : cases) {
    auto opts = std::make_unique<RunOptions>();
    opts->Interactive = true;
    opts->CountingPass = true;
    opts->FoundCount = 5;
    opts->FoundWithPropsCount = 2;
    std::snprintf(opts->PropStartDelimiter, sizeof(opts->PropStartDelimiter), "%s", c.delimiter);
    std::string out = CaptureStderr([&] {
      StartProgress(opts.get(), 10);
      EndProgress(opts.get(), true);
    });
    EXPECT_EQ(c.text, out);
    EXPECT_EQ(0, opts->FoundCount);
    EXPECT_EQ(0, opts->FoundWithPropsCount);
  }
}

TEST(ProgressTest, EndWithoutDisplayWritesNothing) {
  auto opts = std::make_unique<RunOptions>();
  EXPECT_EQ("", CaptureStderr([&] { EndProgress(opts.get(), true); }));
}

TEST(ProgressTest, OpeningTheFirstInputFileStartsTheDisplay) {
  char path[] = "/tmp/zeplo_progress_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(7, write(fd, "1234567", 7));
  close(fd);
  const struct {
    const char* name;
    bool interactive, quiet;
    int64_t total;
    std::string shown;
  } cases[] = {
      {"terminal", true, false, 7, std::string("\nLoading '") + path + "' :  0%"},
      {"quiet", true, true, 0, ""},
      {"not a terminal", false, false, 0, ""},
  };
  for (const auto& c : cases) {
    auto opts = std::make_unique<RunOptions>();
    opts->Interactive = c.interactive;
    opts->Quiet = c.quiet;
    std::snprintf(opts->InputFile, sizeof(opts->InputFile), "%s", path);
    std::string out = CaptureStderr([&] { ASSERT_EQ(0, OpenRunFiles(opts.get(), false, true, false)); });
    EXPECT_EQ(c.shown, out) << c.name;
    EXPECT_EQ(c.total, opts->ProgressTotal) << c.name;
    CloseInputFile(opts.get());
  }
  unlink(path);
}

TEST(ProgressTest, ProgressTexts) {
  const struct {
    int32_t percent;
    int64_t eta;
    const char* text;
  } cases[] = {
      {0, 0, ":  0%  ETA:0 secs"},
      {5, 60, ":  5%  ETA:60 secs"},
      {50, 61, ": 50%  ETA:1 mins"},
      {99, 7200, ": 99%  ETA:120 mins"},
  };
  for (const auto& c : cases) {
    char text[48];
    FormatProgressText(c.percent, c.eta, text, sizeof(text));
    EXPECT_STREQ(c.text, text);
  }
}

}  // namespace
