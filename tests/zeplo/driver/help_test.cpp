// Help displays and the pager, driven through files standing in for the
// terminal: answers are fed from one, everything shown is read back from
// the other.
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zeplo/driver/driver.h"

namespace {

using Lines = std::vector<std::string>;
constexpr const char* kMore = "More <Press Enter>...";
constexpr const char* kPrompt = "Help - Enter topic:";
constexpr size_t kBanner = 4;

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&options_, 0, sizeof options_);
    options_.TerminalLines = 100000;  // no pauses unless a test asks
  }
  void TearDown() override { SetHelpStreams(nullptr, nullptr); }

  // Runs display from a fresh start with answers as standard input;
  // returns the lines shown (after the banner when body is set).
  Lines Show(const std::function<void()>& display, const std::string& answers = "",
             bool body = true) {
    ResetHelpState();
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    fwrite(answers.data(), 1, answers.size(), in);
    rewind(in);
    SetHelpStreams(out, in, true);
    display();
    SetHelpStreams(nullptr, nullptr);
    std::string text(static_cast<size_t>(ftell(out)), '\0');
    rewind(out);
    EXPECT_EQ(text.size(), fread(text.data(), 1, text.size(), out));
    fclose(in);
    fclose(out);
    EXPECT_TRUE(text.empty() || text.back() == '\n');
    Lines lines;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
      lines.push_back(text.substr(at, nl - at));
    if (body && !options_.Quiet) {
      EXPECT_GE(lines.size(), kBanner);
      lines.erase(lines.begin(), lines.begin() + std::min(kBanner, lines.size()));
    }
    return lines;
  }

  RunOptions options_;
};

Lines RowsOf(const std::string& keys) {
  Lines rows;
  for (char key : keys) {
    for (int i = 0; i < HelpTableRows; ++i) {
      if (HelpTable[i].Key == key) rows.push_back(HelpTable[i].Text);
    }
  }
  return rows;
}

TEST_F(HelpTest, UsageKeysAreTheOptionLettersEachInOneBlock) {
  // The condensed usage and the topic search rely on an option's rows
  // being adjacent; every option but -V and -? has rows.
  std::set<char> expected, seen, closed;
  for (char c : std::string("a:A:b:c:C:d:D:e:E:f:F:g:G:hH:i:I:l:j:L:m:n:o:O:pP:qr:R:s:S:$:t:T:u:U:v:w:x:X:z:"))
    if (c != ':') expected.insert(c);
  for (int i = 0; i < HelpTableRows; ++i) {
    const char key = HelpTable[i].Key;
    if (i > 0 && HelpTable[i - 1].Key != key) closed.insert(HelpTable[i - 1].Key);
    if (key == 0) continue;
    EXPECT_EQ(0u, closed.count(key)) << "rows of -" << key << " are split";
    seen.insert(key);
  }
  EXPECT_EQ(expected, seen);
}

TEST_F(HelpTest, TopicShowsEachMatchingOptionWholeAndOnce) {
  const struct {
    const char* topic;
    const char* keys;  // the options shown, in order
  } cases[] = {
      {"append", "a"},         // a sub-option pulls in its summary line
      {"queue manager", "Am"}, // A through its r: row, m by its summary
      {"HEX", "dgxX"},         // -d matches twice, shown once; case ignored
      {"xyz", ""},
  };
  for (const auto& c : cases) {
    int printed = -1;
    Lines body = Show([&] { printed = TopicHelp(&options_, c.topic); });
    Lines expected = RowsOf(c.keys);
    if (expected.empty()) expected = {std::string("Options relating to '") + c.topic + "' not found"};
    EXPECT_EQ(expected, body) << c.topic;
    EXPECT_EQ(static_cast<int>(RowsOf(c.keys).size()), printed) << c.topic;
  }
}

TEST_F(HelpTest, PauseEveryScreenfulLessThree) {
  const struct {
    int terminalLines;
    size_t first;    // lines shown (banner included) before the first pause
    size_t between;  // lines shown between later pauses
  } cases[] = {
      {24, 21, 21}, {10, 7, 7}, {5, 4, 2},  // the banner is never cut
      {3, 4, 1},    {0, 4, 1},  {INT_MIN, 4, 1},  // no room: a pause per line
  };
  for (const auto& c : cases) {
    options_.TerminalLines = c.terminalLines;
    // No answers: every pause reads the end of input and goes on.
    Lines lines = Show([&] { PrintUsage(&options_); }, "", false);
    std::vector<size_t> runs = {0};
    for (const std::string& l : lines) {
      if (l == kMore) runs.push_back(0);
      else ++runs.back();
    }
    ASSERT_GE(runs.size(), 3u) << c.terminalLines;
    EXPECT_EQ(c.first, runs[0]) << c.terminalLines;
    for (size_t i = 1; i + 1 < runs.size(); ++i) EXPECT_EQ(c.between, runs[i]) << c.terminalLines;
    EXPECT_EQ(HelpTableRows + kBanner, lines.size() - (runs.size() - 1));
  }
}

TEST_F(HelpTest, AnswersAtPausesAndPrompts) {
  const std::string longLine(150, 'x');
  const struct {
    int terminalLines;
    const char* firstTopic;  // "usage" = the full usage instead
    std::string answers;
    Lines expected;  // after the banner
    size_t compared = 0;  // lines compared; 0 = all
  } cases[] = {
      // A "?" beyond the 99 characters a pause reads is neither seen nor
      // left over to answer the next question.
      {5, "usage", longLine + "?\n", {kMore, HelpTable[0].Text, HelpTable[1].Text, kMore, HelpTable[2].Text}, 5},
      // Empty line or end of input ends the prompt; CR LF answers work.
      {1000, nullptr, "\nappend\n", {kPrompt}},
      {1000, "xyz", "qq\r\n", {"Options relating to 'xyz' not found", kPrompt,
                                "Options relating to 'qq' not found", kPrompt}},
      // A topic is cut at 199 characters, the rest is not a second topic.
      {1000, nullptr, std::string(250, 'q') + "\n",
       {kPrompt, "Options relating to '" + std::string(199, 'q') + "' not found", kPrompt}},
      // A NUL inside an answer ends the topic, not the line.
      {1000, nullptr, std::string("zz\0q\nappend\n", 12),
       {kPrompt, "Options relating to 'zz' not found", kPrompt, HelpTable[1].Text, HelpTable[2].Text,
        HelpTable[3].Text, kPrompt}},
      // "?" at the pause just before the prompt still shows the prompt.
      {8, "strip headers", "?\n", {"        [-h Strip headers]", kMore, kPrompt}},
  };
  for (const auto& c : cases) {
    options_.TerminalLines = c.terminalLines;
    int rc = -1;
    Lines body = Show(
        [&] {
          if (c.firstTopic != nullptr && strcmp(c.firstTopic, "usage") == 0) {
            PrintUsage(&options_);
            rc = 0;
          } else {
            rc = InteractiveHelp(&options_, c.firstTopic);
          }
        },
        c.answers);
    EXPECT_EQ(0, rc);
    if (c.compared != 0) body.resize(std::min(body.size(), c.compared));
    EXPECT_EQ(c.expected, body) << c.answers;
  }
}

}  // namespace
