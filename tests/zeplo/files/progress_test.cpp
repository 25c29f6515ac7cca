// The progress line: what reaches standard error, byte for byte.
#include "tests/zeplo/files/files_test_util.h"

namespace {

TEST(ProgressTest, DisplaySequences) {
  ScratchDir dir;
  dir.Create("in.zpd", "1234567");
  // Opening the first input file shows 0%; each step blanks what the last
  // one left over and backs over all of it; the end erases it.
  const std::string shown = "\nLoading '" + dir / "in.zpd" +
                            "' :  0%\b \b\b\b\b\babcd\b\b  \b\b\b\bxy\b\b";
  const struct {
    const char* name;
    bool interactive, quiet, counting;
    const char* delimiter;
    int64_t total;
    std::string shown;
  } cases[] = {
      {"terminal", true, false, false, "", 7, shown + "  \b\b\n"},
      {"quiet", true, true, false, "", 0, ""},  // no progress line, so no newline
      {"not a terminal", false, false, false, "", 0, ""},
      {"counted", true, true, true, "", 7, shown + ": 5 messages found\n"},
      {"counted with properties", true, false, true, "<p>", 7,
       shown + ": 5 messages found (2 with properties)\n"},
  };
  for (const auto& c : cases) {
    auto opts = NewOptions();
    opts->Parsed.Interactive = c.interactive, opts->Parsed.Quiet = c.quiet;
    opts->Files.CountingPass = c.counting;
    opts->Files.FoundCount = 5, opts->Files.FoundWithPropsCount = 2;
    Copy(opts->Parsed.PropStartDelimiter, c.delimiter);
    Copy(opts->Parsed.InputFile, dir / "in.zpd");
    int64_t total = -1;
    testing::internal::CaptureStderr();
    if (OpenInputFile(opts.get()) == 0) {
      total = opts->Files.ProgressTotal;
      if (opts->Files.ProgressActive) ShowProgress(opts.get(), "abcd");
      if (opts->Files.ProgressActive) ShowProgress(opts.get(), "xy");
      EndProgress(opts.get(), true);
      EndProgress(opts.get(), true);  // a second end finds nothing to end
    }
    EXPECT_EQ(c.shown, testing::internal::GetCapturedStderr()) << c.name;
    EXPECT_EQ(c.total, total) << c.name;
    EXPECT_FALSE(opts->Files.ProgressActive);
    EXPECT_EQ(c.counting ? 0 : 5, opts->Files.FoundCount) << c.name;
    CloseInputFile(opts.get());
  }
}

TEST(ProgressTest, ProgressTexts) {
  const struct { int32_t percent; int64_t eta; const char* text; } cases[] = {
      {0, 0, ":  0%  ETA:0 secs"}, {5, 60, ":  5%  ETA:60 secs"},
      {50, 61, ": 50%  ETA:1 mins"}, {99, 7200, ": 99%  ETA:120 mins"}};
  for (const auto& c : cases) {
    char text[48];
    FormatProgressText(c.percent, c.eta, text, sizeof(text));
    EXPECT_STREQ(c.text, text);
  }
}

}  // namespace
