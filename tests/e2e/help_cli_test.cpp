// Help requested from the command line, end to end: what the real binary
// prints on standard error, and its exit status, for each way of asking.
// Standard input is a pipe here (no terminal), so pauses read end of input
// and go on; cases that want no pauses give a tall LINES.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_util.h"

namespace {

using Lines = std::vector<std::string>;
constexpr int kOptionsError = 2046 % 256;  // exit statuses are 8 bits
const std::string kPrompt = "Help - Enter topic:";
const std::string kUsageHeading = "Usage: ZEPLO <Optional flags as below>";
const std::string kStray = "'stray' is not a valid parameter.";
const std::string kM = "        [-m <Queue Manager name>]";
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
  static const std::regex banner(
      "ZEPLO - IBM MQ queue and message file mover\n"
      "  Version V9\\.1\\.1 Build date:[A-Z][a-z][a-z] [ 1-3][0-9] [0-9]{4}\n[^\n]*\n\n");
  return SplitLines(
      std::regex_replace(err, banner, "<banner>\n", std::regex_constants::format_first_only));
}

TEST(HelpCli, HelpRequestsPrintExactlyTheirRows) {
  const struct {
    const char* args;
    std::string answers;
    Lines err;  // whole standard error, banner as "<banner>"
  } cases[] = {
      // An option letter and a question mark, attached or apart.
      {"-L?", "", Join({{"<banner>"}, kL})},
      {"-L ?", "", Join({{"<banner>"}, kL})},
      {"-u?", "", {"<banner>", "        [-u <Connection Userid>"}},
      {"-q -a?", "", kA},  // quiet: no banner
      // A refused sub-option: its message, then the option's rows.
      {"-CAB", "",
       {"The context parameter can only be a single letter", "", "<banner>",
        "        [-C [A][I][a][i][d][n] Context]", "            A  Set all context (default)",
        "            I  Set identity context", "            a  Pass all context",
        "            i  Pass identity context", "            d  Default context", "            n  No context",
        "            t  Set all context and update times"}},
      // A doubled question mark or a topic: the interactive help.
      {"-??", "", {"<banner>", kPrompt}},
      {"-?append", "", Join({{"<banner>"}, kA, {kPrompt}})},
      {"-? xyz", "", {"<banner>", "Options relating to 'xyz' not found", kPrompt}},
      {"-??", "limits\nqwerty\n\nappend\n",  // the empty answer ends it
       Join({{"<banner>", kPrompt}, kL, {kPrompt, "Options relating to 'qwerty' not found", kPrompt}})},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(Words(c.args), c.answers, {"LINES=1000"});
    EXPECT_EQ(kOptionsError, r.exitStatus) << c.args << "\n" << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ(c.err, WithoutBannerDetail(r.err)) << c.args;
  }
}

// The usage, whole (137 rows) or condensed (59: 41 options, 18 other rows,
// for no arguments or a word left over, which must not pass for a run that
// worked). Standard error is a pipe: without a tall LINES the usage still
// runs through without a pause (24 lines would otherwise pause every 21).
TEST(HelpCli, UsageShownWholeAndUnpausedWhenRedirected) {
  const struct {
    const char* args;
    bool tall;
    int exitStatus;
    Lines before;  // lines before the first usage row
    size_t rows;   // usage rows after them
  } cases[] = {
      {"-?", false, kOptionsError, {"<banner>"}, 137},
      {"-k", false, kOptionsError, {"<banner>", "-k is not a valid parameter.", ""}, 137},
      {"--help", false, 0, {"<banner>"}, 137},
      {"-help", false, 0, {"<banner>"}, 137},
      {"-i Q1 --help", false, 0, {"<banner>"}, 137},
      {"--version", false, 0, {"<banner>"}, 0},
      // A value left out says which, with that option's rows only.
      {"-i Q1 -m", false, kOptionsError, {"<banner>", "Sorry, -m needs a value:", ""}, 1},
      {"", true, 0, {"<banner>"}, 59},
      {"-i Q1 stray", true, kOptionsError, {"<banner>", kStray, ""}, 59},
      {"-q stray", true, kOptionsError, {kStray, ""}, 59},
  };
  for (const auto& c : cases) {
    RunResult r = RunZeplo(Words(c.args), "", {c.tall ? "LINES=1000" : "LINES"});
    EXPECT_EQ(c.exitStatus, r.exitStatus) << c.args << "\n" << r.err;
    Lines lines = WithoutBannerDetail(r.err);
    // getopt's own complaint may come first.
    lines.erase(lines.begin(), std::find(lines.begin(), lines.end(), c.before[0]));
    ASSERT_EQ(c.before.size() + c.rows, lines.size()) << c.args << "\n" << r.err;
    const auto usage = lines.begin() + static_cast<long>(c.before.size());
    EXPECT_EQ(c.before, Lines(lines.begin(), usage)) << c.args;
    if (c.rows > 0) {
      EXPECT_EQ(c.rows == 1 ? kM : kUsageHeading, usage[0]) << c.args;
    }
    if (c.rows == 59) {  // -L without its rows
      EXPECT_EQ((Lines{kL[0], kM}), Lines(usage + 20, usage + 22)) << c.args;
    }
  }
}

}  // namespace
