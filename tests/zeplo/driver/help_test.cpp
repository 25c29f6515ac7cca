// Help displays and the pager, driven through files standing in for the
// terminal: answers are fed from one, everything shown is read back from
// the other.
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zeplo/driver/driver.h"

namespace {

constexpr const char* kMore = "More <Press Enter>...";
constexpr const char* kPrompt = "Help - Enter topic:";
constexpr int kBannerLines = 4;

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&options_, 0, sizeof options_);
    options_.TerminalLines = 100000;  // no pauses unless a test asks
    ResetHelpState();
  }
  void TearDown() override { SetHelpStreams(nullptr, nullptr); }

  // Runs display with answers as standard input; returns the lines shown.
  std::vector<std::string> Show(const std::function<void()>& display,
                                const std::string& answers = "") {
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    fwrite(answers.data(), 1, answers.size(), in);
    rewind(in);
    SetHelpStreams(out, in);
    display();
    SetHelpStreams(nullptr, nullptr);
    fflush(out);
    rewind(out);
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, out)) > 0) text.append(chunk, n);
    fclose(in);
    fclose(out);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
      lines.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "output does not end with a newline";
    return lines;
  }

  // The lines after the banner.
  static std::vector<std::string> Body(std::vector<std::string> lines) {
    EXPECT_GE(lines.size(), static_cast<size_t>(kBannerLines));
    lines.erase(lines.begin(), lines.begin() + kBannerLines);
    return lines;
  }

  RunOptions options_;
};

size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  size_t n = 0;
  for (const std::string& l : lines) n += (l == line);
  return n;
}

// The rows of one option, as released: a sample across the table, with
// the sub-option rows whose spacing differs between options.
struct OptionCase {
  char letter;
  std::vector<std::string> rows;
};
const OptionCase kOptionCases[] = {
    {'L',
     {"        [-L <Output file limits>]", "            a<Age>(s|m|h)    Maximum file age",
      "            s<Size>(b|k|m|g) Maximum file size",
      "            m<Message>       Maximum messages per file"}},
    {'a', {"        [-a <File access mode for fopen()>]", "            a  Append", "            b  Binary"}},
    {'h', {"        [-h Strip headers]"}},
    {'D',
     {"        [-D <Delay>]", "          +ve fixed delay in milliseconds",
      "          -ve random delay in milliseconds", "          r[time%] relative delay"}},
    {'P', {"        [-P <Message Priority Selection>", "            [>= Priority][,][<= Priority]"}},
    {'u', {"        [-u <Connection Userid>"}},
    {'i', {"        [-i <Input Queue> (Browse)]                  - [multiple times]"}},
    {'$', {"        [-$ <Queue Separator character>]"}},
    {'n',
     {"        [-n <Non-ZEPLO file options]", "           1 Read entire file as one message",
      "           B:Don't check for matching brackets", "           d:<Message Delimiters>",
      "           e:<Message End Delimiter>", "           F No preliminary message count",
      "           i Include delimiters", "           n Dont include delimiters",
      "           s:<Message Start Delimiter>", "           p:<Property Start Delimiter>",
      "           q:<Property End Delimiter>", "           W Dont strip whitespace from properties",
      "           ! Allow message delimiters to be the same"}},
    {'V', {}},  // diagnostics are left out of the usage text
    {'?', {}},
    {0, {}},
};

TEST_F(HelpTest, OptionUsageShowsExactlyThatOptionsRows) {
  for (const OptionCase& c : kOptionCases) {
    ResetHelpState();
    EXPECT_EQ(c.rows, Body(Show([&] { PrintOptionUsage(&options_, c.letter); })))
        << "option " << c.letter;
  }
}

TEST_F(HelpTest, UsageKeysAreTheOptionLettersAndEachOptionIsOneBlock) {
  // Every option the parser knows has usage rows, except -V (hidden) and
  // -? (help itself); each option's rows are one block, which the
  // condensed usage and the topic search rely on.
  const std::string optionString = "a:A:b:c:C:d:D:e:E:f:F:g:G:hH:i:I:l:j:L:m:n:o:O:pP:qr:R:s:S:$:t:T:u:U:v:V:w:x:X:z:?:";
  std::set<char> expected;
  for (char c : optionString) {
    if (c != ':' && c != 'V' && c != '?') expected.insert(c);
  }
  std::set<char> seen;
  std::set<char> closed;
  char previous = 0;
  for (int i = 0; i < HelpTableRows; ++i) {
    const char key = HelpTable[i].Key;
    EXPECT_EQ(nullptr, strchr(HelpTable[i].Text, '\n')) << "row " << i;
    if (key != previous && previous != 0) closed.insert(previous);
    if (key != 0) {
      EXPECT_EQ(0u, closed.count(key)) << "rows of -" << key << " are split";
      seen.insert(key);
    }
    previous = key;
  }
  EXPECT_EQ(expected, seen);
  EXPECT_STREQ("Usage: ZEPLO <Optional flags as below>", HelpTable[0].Text);
  EXPECT_STREQ("Provide Summary of messages            : zeplo -iQ1 -ds",
               HelpTable[HelpTableRows - 1].Text);
}

TEST_F(HelpTest, BannerOncePerRunAndNotWhenQuiet) {
  std::vector<std::string> lines = Show([&] {
    PrintBanner(&options_);
    PrintBanner(&options_);
    PrintOptionUsage(&options_, 'h');
  });
  ASSERT_EQ(5u, lines.size());
  EXPECT_TRUE(std::regex_match(lines[1],
                               std::regex("  Version V9\\.1\\.1 Build date:"
                                          "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                          "[ 123][0-9] [0-9]{4}")))
      << lines[1];
  // The maker line carries the build year.
  EXPECT_NE(std::string::npos, lines[2].find(lines[1].substr(lines[1].size() - 4)));
  EXPECT_EQ("", lines[3]);

  ResetHelpState();
  options_.Quiet = true;
  EXPECT_EQ((std::vector<std::string>{"        [-h Strip headers]"}),
            Show([&] { PrintOptionUsage(&options_, 'h'); }));
}

TEST_F(HelpTest, FullUsageShowsEveryRowInOrder) {
  std::vector<std::string> body = Body(Show([&] { PrintUsage(&options_); }));
  ASSERT_EQ(static_cast<size_t>(HelpTableRows), body.size());
  for (int i = 0; i < HelpTableRows; ++i) EXPECT_EQ(HelpTable[i].Text, body[i]);
}

TEST_F(HelpTest, CondensedUsageShowsSummaryLinesAndAllExamples) {
  std::vector<std::string> body = Body(Show([&] { PrintCondensedUsage(&options_); }));
  // 41 options with one summary line each, plus the heading, the blank
  // line, the two example title lines and eleven examples.
  EXPECT_EQ(41u + 15u, body.size());
  const char* const present[] = {
      "Usage: ZEPLO <Optional flags as below>",
      "        [-a <File access mode for fopen()>]",
      "        [-A <parm> Message Attribute Override]",
      "        [-d <Display Options>]",
      "        [-$ <Queue Separator character>]",
      "",
      "Examples ",
      "Unload a queue to a file               : zeplo -iQ1 -fmyfile",
      "Provide Summary of messages            : zeplo -iQ1 -ds",
  };
  for (const char* line : present) EXPECT_EQ(1u, Count(body, line)) << line;
  const char* const absent[] = {"            a  Append", "            c:<CCSID>",
                                "           x..y Message x to message y",
                                "            [>= Size][,][< Size]"};
  for (const char* line : absent) EXPECT_EQ(0u, Count(body, line)) << line;
}

// Topic searches: which rows show, in order. Options are written as their
// letter (every row of the option), single rows as text.
struct TopicCase {
  const char* topic;
  std::string expectedKeys;  // one character per option group shown, in order
  int expectedRows;
};
const TopicCase kTopicCases[] = {
    {"append", "a", 3},           // a sub-option pulls in its summary line
    {"queue manager", "Am", 8},   // A through its r: row, m by its summary
    {"PRIORITY", "AP", 9},        // case is ignored
    {"hex", "dgxX", 17 + 5 + 1 + 1},  // -d matches twice, shown once
    {"xyz", "", 0},
};

TEST_F(HelpTest, TopicShowsEachMatchingOptionOnceInTableOrder) {
  for (const TopicCase& c : kTopicCases) {
    ResetHelpState();
    int printed = -1;
    std::vector<std::string> body = Body(Show([&] { printed = TopicHelp(&options_, c.topic); }));
    EXPECT_EQ(c.expectedRows, printed) << c.topic;
    if (c.expectedRows == 0) {
      EXPECT_EQ(std::vector<std::string>{std::string("Options relating to '") + c.topic +
                                         "' not found"},
                body);
      continue;
    }
    std::vector<std::string> expected;
    for (char key : c.expectedKeys) {
      for (int i = 0; i < HelpTableRows; ++i) {
        if (HelpTable[i].Key == key) expected.push_back(HelpTable[i].Text);
      }
    }
    EXPECT_EQ(expected, body) << c.topic;
  }
}

TEST_F(HelpTest, TopicMatchingExamplesPrintsThemAlone) {
  std::vector<std::string> body = Body(Show([&] { TopicHelp(&options_, "Move a queue"); }));
  EXPECT_EQ((std::vector<std::string>{
                "Move a queue from Q1 to Q2             : zeplo -IQ1 -oQ2",
                "Move a queue from Q1 to both Q2 and Q3 : zeplo -IQ1 -oQ2 -oQ3",
                "Move a queue to a file of destinations : zeplo -IQ1 -ofile:dests.txt"}),
            body);
  ResetHelpState();
  int printed = 0;
  body = Body(Show([&] { printed = TopicHelp(&options_, ""); }));  // empty topic: everything
  EXPECT_EQ(HelpTableRows, printed);
  EXPECT_EQ(static_cast<size_t>(HelpTableRows), body.size());
}

TEST_F(HelpTest, EveryWordOfTheTableFindsWholeOptionsInOrder) {
  // For every word the table uses: the rows shown are exactly the rows of
  // each option with a matching row plus the matching keyless rows, in
  // table order, none twice.
  std::set<std::string> words;
  for (int i = 0; i < HelpTableRows; ++i) {
    std::string text = HelpTable[i].Text;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find(' ', at);
      if (end == std::string::npos) end = text.size();
      if (end > at) words.insert(text.substr(at, end - at));
      at = end + 1;
    }
  }
  ASSERT_GT(words.size(), 100u);
  for (const std::string& word : words) {
    std::set<char> matchedKeys;
    std::vector<bool> matched(HelpTableRows);
    for (int i = 0; i < HelpTableRows; ++i) {
      std::string lower = HelpTable[i].Text, needle = word;
      for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      for (char& c : needle) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      matched[i] = lower.find(needle) != std::string::npos;
      if (matched[i] && HelpTable[i].Key != 0) matchedKeys.insert(HelpTable[i].Key);
    }
    std::vector<std::string> expected;
    for (int i = 0; i < HelpTableRows; ++i) {
      if (HelpTable[i].Key != 0 ? matchedKeys.count(HelpTable[i].Key) > 0 : matched[i])
        expected.push_back(HelpTable[i].Text);
    }
    ResetHelpState();
    EXPECT_EQ(expected, Body(Show([&] { TopicHelp(&options_, word.c_str()); }))) << word;
  }
}

// Paging: where the pauses fall for a terminal height, counting the banner.
struct PagingCase {
  int terminalLines;
  size_t firstPauseAt;  // lines shown (banner included) before the first pause
  size_t between;       // lines shown between later pauses
};
const PagingCase kPagingCases[] = {
    {24, 21, 21},
    {10, 7, 7},
    {5, 4, 2},  // the banner is never cut by a pause
    {4, 4, 1},
    {3, 4, 1},  // no room at all: pause before every line, never stall
};

TEST_F(HelpTest, PauseEveryScreenfulLessThree) {
  for (const PagingCase& c : kPagingCases) {
    ResetHelpState();
    options_.TerminalLines = c.terminalLines;
    // Empty input: each pause reads end of input and goes on.
    std::vector<std::string> lines = Show([&] { PrintUsage(&options_); });
    std::vector<size_t> runs;  // lines between pauses
    size_t run = 0;
    for (const std::string& l : lines) {
      if (l == kMore) {
        runs.push_back(run);
        run = 0;
      } else {
        ++run;
      }
    }
    ASSERT_GE(runs.size(), 2u) << c.terminalLines;
    EXPECT_EQ(c.firstPauseAt, runs[0]) << c.terminalLines;
    for (size_t i = 1; i < runs.size(); ++i) EXPECT_EQ(c.between, runs[i]) << c.terminalLines;
    EXPECT_EQ(static_cast<size_t>(HelpTableRows + kBannerLines), lines.size() - runs.size());
  }
}

TEST_F(HelpTest, OutlandishTerminalHeightsStillPage) {
  for (int height : {0, -1, INT_MIN, INT_MAX}) {
    ResetHelpState();
    options_.TerminalLines = height;
    std::vector<std::string> body = Body(Show([&] { PrintOptionUsage(&options_, 'L'); }));
    EXPECT_EQ(height == INT_MAX ? 4u : 8u, body.size()) << height;
  }
}

TEST_F(HelpTest, QuestionMarkAtPauseOpensTopicPrompt) {
  options_.TerminalLines = 10;
  std::vector<std::string> lines =
      Show([&] { PrintUsage(&options_); }, "\n" "what?\n" "append\n" "\n");
  // Two screens of 7, then the topic prompt instead of the third screen.
  ASSERT_EQ(7u + 1 + 7 + 1 + 1 + 3 + 1, lines.size());
  EXPECT_EQ(kMore, lines[15]);
  EXPECT_EQ(kPrompt, lines[16]);
  EXPECT_EQ("        [-a <File access mode for fopen()>]", lines[17]);
  EXPECT_EQ(kPrompt, lines[20]);
  // Rows 0 to 9 filled the two screens; row 10 would have started the third.
  EXPECT_EQ(0u, Count(lines, HelpTable[10].Text));
}

TEST_F(HelpTest, OverlongAnswerIsOneAnswer) {
  // The "?" sits beyond the 99 characters a pause reads: it is neither
  // seen nor left over to answer the next pause.
  options_.TerminalLines = 10;
  std::vector<std::string> lines =
      Show([&] { PrintUsage(&options_); }, std::string(150, 'x') + "?\n");
  EXPECT_EQ(0u, Count(lines, kPrompt));
  EXPECT_EQ(static_cast<size_t>(HelpTableRows + kBannerLines), lines.size() - Count(lines, kMore));
}

TEST_F(HelpTest, InteractiveHelpLoopsUntilEmptyLineOrEndOfInput) {
  struct {
    const char* firstTopic;
    std::string answers;
    size_t prompts;
    size_t notFound;
  } cases[] = {
      {nullptr, "", 1, 0},
      {nullptr, "\nappend\n", 1, 0},            // empty line ends at once
      {"xyz", "abc\r\nhex\n", 3, 2},           // CR LF answers work too
      {"append", "zzz", 2, 1},                 // last answer without newline
  };
  for (const auto& c : cases) {
    ResetHelpState();
    int rc = -1;
    std::vector<std::string> lines =
        Show([&] { rc = InteractiveHelp(&options_, c.firstTopic); }, c.answers);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(c.prompts, Count(lines, kPrompt)) << c.answers;
    size_t notFound = 0;
    for (const std::string& l : lines) notFound += l.rfind("Options relating to", 0) == 0;
    EXPECT_EQ(c.notFound, notFound) << c.answers;
  }
}

TEST_F(HelpTest, TopicIsCutAt199Characters) {
  const std::string topic(250, 'q');
  std::vector<std::string> lines =
      Show([&] { InteractiveHelp(&options_, nullptr); }, topic + "\n");
  EXPECT_EQ(1u, Count(lines, "Options relating to '" + topic.substr(0, 199) + "' not found"));
  EXPECT_EQ(2u, Count(lines, kPrompt));  // the tail was not a second topic
}

TEST_F(HelpTest, QuestionMarkJustBeforePromptStillShowsPrompt) {
  // Banner (4) + one topic row fill a height of 8 (5 lines); the pause
  // comes right before the prompt.
  options_.TerminalLines = 8;
  std::vector<std::string> lines =
      Show([&] { InteractiveHelp(&options_, "strip headers"); }, "?\n");
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ(kMore, lines[5]);
  EXPECT_EQ(kPrompt, lines[6]);
}

}  // namespace
