// Help requested from the command line, end to end: what the real binary
// prints on standard error, and its exit status, for each way of asking.
// Standard input is a pipe here (no terminal), so pauses read end of input
// and go on; cases that want no pauses give a tall LINES.
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_util.h"

namespace {

using Lines = std::vector<std::string>;
constexpr int kOptionsError = 2046 % 256;  // exit statuses are 8 bits
constexpr size_t kUsageRows = 137;
const std::string kMore = "More <Press Enter>...";
const std::string kPrompt = "Help - Enter topic:";
const std::string kUsageHeading = "Usage: ZEPLO <Optional flags as below>";
const Lines kL = {"        [-L <Output file limits>]", "            a<Age>(s|m|h)    Maximum file age",
                  "            s<Size>(b|k|m|g) Maximum file size",
                  "            m<Message>       Maximum messages per file"};
const Lines kA = {"        [-a <File access mode for fopen()>]", "            a  Append", "            b  Binary"};

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Standard error with the banner replaced by one "<banner>" line, so whole
// outputs compare exactly whatever the build date.
Lines WithoutBannerDetail(const std::string& err) {
  const std::regex version("  Version V9\\.1\\.1 Build date:[A-Z][a-z][a-z] [ 1-3][0-9] [0-9]{4}");
  Lines lines = SplitLines(err);
  for (size_t i = 1; i + 2 < lines.size(); ++i) {
    if (std::regex_match(lines[i], version) && lines[i + 2].empty()) {
      lines.erase(lines.begin() + static_cast<long>(i) - 1, lines.begin() + static_cast<long>(i) + 3);
      lines.insert(lines.begin() + static_cast<long>(i) - 1, "<banner>");
      break;
    }
  }
  return lines;
}

struct HelpCase {
  Lines args;
  std::string answers;
  int exitStatus;
  Lines err;  // whole standard error, banner as "<banner>"
};

TEST(HelpCli, HelpRequestsPrintExactlyTheirRows) {
  const HelpCase cases[] = {
      // An option letter and a question mark, attached or apart.
      {{"-L?"}, "", kOptionsError, Join({{"<banner>"}, kL})},
      {{"-L", "?"}, "", kOptionsError, Join({{"<banner>"}, kL})},
      {{"-u?"}, "", kOptionsError, {"<banner>", "        [-u <Connection Userid>"}},
      {{"-q", "-a?"}, "", kOptionsError, kA},  // quiet: no banner
      // A refused sub-option: its message, then the option's rows.
      {{"-CAB"}, "", kOptionsError,
       {"The context parameter can only be a single letter", "", "<banner>",
        "        [-C [A][I][a][i][d][n] Context]", "            A  Set all context (default)",
        "            I  Set identity context", "            a  Pass all context",
        "            i  Pass identity context", "            d  Default context", "            n  No context",
        "            t  Set all context and update times"}},
      // A doubled question mark or a topic: the interactive help.
      {{"-??"}, "", kOptionsError, {"<banner>", kPrompt}},
      {{"-?append"}, "", kOptionsError, Join({{"<banner>"}, kA, {kPrompt}})},
      {{"-?", "xyz"}, "", kOptionsError, {"<banner>", "Options relating to 'xyz' not found", kPrompt}},
      {{"-??"}, "limits\nqwerty\n\nappend\n", kOptionsError,  // the empty answer ends it
       Join({{"<banner>", kPrompt}, kL, {kPrompt, "Options relating to 'qwerty' not found", kPrompt}})},
  };
  for (const HelpCase& c : cases) {
    RunResult r = RunZeplo(c.args, c.answers, {"LINES=1000"});
    EXPECT_EQ(c.exitStatus, r.exitStatus) << c.args[0] << "\n" << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ(c.err, WithoutBannerDetail(r.err)) << c.args[0];
  }
}

// Standard error is a pipe here: the usage runs through without a pause
// (24 lines, no LINES, would otherwise pause every 21).
TEST(HelpCli, UsageShownWholeAndUnpausedWhenRedirected) {
  const struct {
    Lines args;
    int exitStatus;
    Lines before;  // lines before the first usage row
    size_t rows;   // usage rows after them
  } cases[] = {
      {{"-?"}, kOptionsError, {"<banner>"}, kUsageRows},
      {{"-k"}, kOptionsError, {"<banner>", "-k is not a valid parameter.", ""}, kUsageRows},
      {{"--help"}, 0, {"<banner>"}, kUsageRows},
      {{"-help"}, 0, {"<banner>"}, kUsageRows},
      {{"-i", "Q1", "--help"}, 0, {"<banner>"}, kUsageRows},
      {{"--version"}, 0, {"<banner>"}, 0},
      // A value left out says which, with that option's rows only.
      {{"-i", "Q1", "-m"}, kOptionsError, {"<banner>", "Sorry, -m needs a value:", ""}, 1},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(c.args);
    EXPECT_EQ(c.exitStatus, r.exitStatus) << c.args.back() << "\n" << r.err;
    Lines lines = WithoutBannerDetail(r.err);
    // getopt's own complaint may come first.
    while (!lines.empty() && lines[0] != "<banner>") lines.erase(lines.begin());
    ASSERT_EQ(c.before.size() + c.rows, lines.size()) << r.err;
    EXPECT_EQ(c.before, Lines(lines.begin(), lines.begin() + static_cast<long>(c.before.size())));
    if (c.rows > 0) {
      EXPECT_EQ(c.rows == 1 ? "        [-m <Queue Manager name>]" : kUsageHeading,
                lines[c.before.size()])
          << c.args.back();
    }
  }
}

// No arguments ask for the usage; a word left over is a mistake in the
// command, which must not pass for a run that worked.
TEST(HelpCli, MissingOrLeftOverArgumentsShowCondensedUsage) {
  const struct {
    Lines args;
    bool banner;
    int status;
  } cases[] = {{{}, true, 0},
               {{"-i", "Q1", "stray"}, true, kOptionsError},
               {{"-q", "stray"}, false, kOptionsError}};
  for (const auto& c : cases) {
    RunResult r = RunZeplo(c.args, "", {"LINES=1000"});
    EXPECT_EQ(c.status, r.exitStatus) << r.err;
    Lines lines = WithoutBannerDetail(r.err);
    if (c.status != 0) {
      // The refusal and its empty line come before the usage.
      ASSERT_GT(lines.size(), c.banner + 2u) << r.err;
      EXPECT_EQ("'stray' is not a valid parameter.", lines[c.banner]);
      lines.erase(lines.begin() + c.banner, lines.begin() + c.banner + 2);
    }
    ASSERT_EQ(59u + c.banner, lines.size()) << r.err;  // 41 options, 18 other rows
    EXPECT_EQ(c.banner, lines[0] == "<banner>");
    EXPECT_EQ(kUsageHeading, lines[c.banner]);
    EXPECT_EQ(kL[0], lines[c.banner + 20]);  // -L's summary, without its rows
    EXPECT_EQ("        [-m <Queue Manager name>]", lines[c.banner + 21]);
  }
}

}  // namespace
