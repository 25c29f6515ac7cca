// Help requested from the command line, end to end: what the real binary
// prints on standard error, and its exit status, for each way of asking.
// Standard input is a pipe here (no terminal), so pauses read end of input
// and go on; tests that want no pauses give a tall LINES.
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_util.h"

namespace {

constexpr int kOptionsError = 2046 % 256;  // exit statuses are 8 bits
constexpr size_t kBannerLines = 4;
constexpr size_t kUsageRows = 134;  // every row of the usage text
constexpr size_t kCondensedRows = 56;
const char* const kMore = "More <Press Enter>...";
const char* const kPrompt = "Help - Enter topic:";
const std::string kTall = "LINES=1000";

size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  size_t n = 0;
  for (const std::string& l : lines) n += (l == line);
  return n;
}

// The index of the banner's version line in lines, or -1.
int BannerAt(const std::vector<std::string>& lines) {
  const std::regex version("  Version V9\\.1\\.1 Build date:[A-Z][a-z][a-z] [ 1-3][0-9] [0-9]{4}");
  for (size_t i = 0; i < lines.size(); ++i) {
    if (std::regex_match(lines[i], version)) return static_cast<int>(i);
  }
  return -1;
}

// The lines after the banner (title, version, maker, blank).
std::vector<std::string> AfterBanner(const std::vector<std::string>& lines) {
  int at = BannerAt(lines);
  if (at < 1 || static_cast<size_t>(at) + 3 > lines.size()) {
    ADD_FAILURE() << "no banner";
    return lines;
  }
  EXPECT_EQ("", lines[at + 2]);
  return std::vector<std::string>(lines.begin() + at + 3, lines.end());
}

const std::vector<std::string> kLRows = {
    "        [-L <Output file limits>]",
    "            a<Age>(s|m|h)    Maximum file age",
    "            s<Size>(b|k|m|g) Maximum file size",
    "            m<Message>       Maximum messages per file",
};
const std::vector<std::string> kARows = {
    "        [-a <File access mode for fopen()>]",
    "            a  Append",
    "            b  Binary",
};
const std::vector<std::string> kCRows = {
    "        [-C [A][I][a][i][d][n] Context]",
    "            A  Set all context (default)",
    "            I  Set identity context",
    "            a  Pass all context",
    "            i  Pass identity context",
    "            d  Default context",
    "            n  No context",
    "            t  Set all context and update times",
};

// One option's usage lines: every way of writing the question mark.
struct OptionHelpCase {
  std::vector<std::string> args;
  std::vector<std::string> rows;
};

TEST(HelpCli, OptionFollowedByQuestionMarkShowsItsRows) {
  const OptionHelpCase cases[] = {
      {{"-L?"}, kLRows},
      {{"-L", "?"}, kLRows},
      {{"-a?"}, kARows},
      {{"-C?"}, kCRows},
      {{"-h?"}, {"        [-h Strip headers]"}},
      {{"-p?"}, {"        [-p Purge source queue]"}},
      {{"-u?"}, {"        [-u <Connection Userid>"}},
      {{"-w?"}, {"        [-w <MQGET Wait interval(seconds)>]"}},
  };
  for (const OptionHelpCase& c : cases) {
    RunResult r = RunZeplo(c.args, "", {kTall});
    EXPECT_EQ(kOptionsError, r.exitStatus) << c.args[0] << "\n" << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ(c.rows, AfterBanner(SplitLines(r.err))) << c.args[0];
  }
}

TEST(HelpCli, QuietDropsBannerButNotUsageLines) {
  RunResult r = RunZeplo({"-q", "-L?"}, "", {kTall});
  EXPECT_EQ(kOptionsError, r.exitStatus);
  EXPECT_EQ(kLRows, SplitLines(r.err));
}

TEST(HelpCli, RefusedSubOptionsShowThatOptionsRows) {
  struct {
    std::vector<std::string> args;
    std::string message;
    std::vector<std::string> rows;
  } cases[] = {
      {{"-CAB"}, "The context parameter can only be a single letter", kCRows},
      {{"-Cz"}, "I did not understand your context parameter", kCRows},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(c.args, "", {kTall});
    EXPECT_EQ(kOptionsError, r.exitStatus) << c.args[0];
    std::vector<std::string> lines = SplitLines(r.err);
    ASSERT_GE(lines.size(), 2u) << r.err;
    EXPECT_EQ(c.message, lines[0]);
    EXPECT_EQ("", lines[1]);
    EXPECT_EQ(c.rows, AfterBanner(lines)) << c.args[0];
  }
}

TEST(HelpCli, QuestionMarkAloneShowsFullUsagePaged) {
  // 24 lines (no terminal, no LINES): a pause every 21 lines, answered by
  // the end of input, and every row shown.
  RunResult r = RunZeplo({"-?"});
  EXPECT_EQ(kOptionsError, r.exitStatus);
  std::vector<std::string> lines = SplitLines(r.err);
  EXPECT_EQ((kBannerLines + kUsageRows - 1) / 21, Count(lines, kMore));
  ASSERT_GE(lines.size(), 22u);
  EXPECT_EQ(kMore, lines[21]);
  std::vector<std::string> body = AfterBanner(lines);
  EXPECT_EQ(kUsageRows, body.size() - Count(body, kMore));
  EXPECT_EQ("Usage: ZEPLO <Optional flags as below>", body.front());
  EXPECT_EQ("Provide Summary of messages            : zeplo -iQ1 -ds", body.back());
}

TEST(HelpCli, UnknownOptionOrMissingValueNamesItThenFullUsage) {
  struct {
    std::vector<std::string> args;
    std::string named;
  } cases[] = {
      {{"-k"}, "-k is not a valid parameter."},
      {{"-i", "Q1", "-m"}, "-m is not a valid parameter."},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(c.args, "", {kTall});
    EXPECT_EQ(kOptionsError, r.exitStatus) << c.named;
    std::vector<std::string> lines = SplitLines(r.err);
    int banner = BannerAt(lines);
    ASSERT_GE(banner, 1) << r.err;
    // After the banner: the named letter, an empty line, then every row.
    std::vector<std::string> body = AfterBanner(lines);
    ASSERT_EQ(2 + kUsageRows, body.size()) << r.err;
    EXPECT_EQ(c.named, body[0]);
    EXPECT_EQ("", body[1]);
    EXPECT_EQ("Usage: ZEPLO <Optional flags as below>", body[2]);
  }
}

TEST(HelpCli, TopicsFromTheCommandLineStartInteractiveHelp) {
  struct {
    std::vector<std::string> args;
    std::string answers;
    std::vector<std::string> expected;  // after the banner
  } cases[] = {
      {{"-??"}, "", {kPrompt}},
      {{"-?", "?"}, "", {kPrompt}},
      {{"-?append"}, "", {kARows[0], kARows[1], kARows[2], kPrompt}},
      {{"-?", "xyz"}, "", {"Options relating to 'xyz' not found", kPrompt}},
      {{"-??"},
       "limits\nqwerty\n\nappend\n",  // the empty answer ends the help
       {kPrompt, kLRows[0], kLRows[1], kLRows[2], kLRows[3], kPrompt,
        "Options relating to 'qwerty' not found", kPrompt}},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(c.args, c.answers, {kTall});
    EXPECT_EQ(kOptionsError, r.exitStatus) << c.args[0];
    EXPECT_EQ(c.expected, AfterBanner(SplitLines(r.err))) << c.args[0] << " " << c.answers;
  }
}

TEST(HelpCli, MissingOrLeftOverArgumentsShowCondensedUsageAndSucceed) {
  struct {
    std::vector<std::string> args;
    bool banner;
  } cases[] = {
      {{}, true},
      {{"-i", "Q1", "stray"}, true},
      {{"-q", "stray"}, false},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(c.args, "", {kTall});
    EXPECT_EQ(0, r.exitStatus) << r.err;
    std::vector<std::string> lines = SplitLines(r.err);
    std::vector<std::string> body = c.banner ? AfterBanner(lines) : lines;
    EXPECT_EQ(c.banner, BannerAt(lines) >= 0);
    ASSERT_EQ(kCondensedRows, body.size()) << r.err;
    EXPECT_EQ("Usage: ZEPLO <Optional flags as below>", body[0]);
    EXPECT_EQ(kLRows[0], body[20]);  // -L, the 20th option: its summary alone
    EXPECT_EQ(0u, Count(body, kLRows[1]));
    EXPECT_EQ("Examples ", body[43]);
  }
}

}  // namespace
