// Help displays and the pager, driven through files standing in for the
// terminal: answers are fed from one, everything shown is read back from
// the other.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zeplo/driver/driver.h"

namespace {

using Lines = std::vector<std::string>;
constexpr const char* kMore = "More <Press Enter>...";
constexpr const char* kPrompt = "Help - Enter topic:";
constexpr size_t kBanner = 4;

TEST(HelpTest, AnswersAtPausesAndPrompts) {
  const std::string longLine(150, 'x');
  // firstTopic "usage": the full usage instead; expected: after the banner,
  // the first `compared` lines of it (0: all).
  const struct { int terminalLines; const char* firstTopic; std::string answers; Lines expected;
                 size_t compared = 0; } cases[] = {
      // A "?" beyond the 99 characters a pause reads is neither seen nor
      // left over to answer the next question.
      {5, "usage", longLine + "?\n",
       {kMore, HelpTable[0].Text, HelpTable[1].Text, kMore, HelpTable[2].Text}, 5},
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
    RunOptions options;
    memset(&options, 0, sizeof options);
    options.TerminalLines = c.terminalLines;
    ResetHelpState();
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    fwrite(c.answers.data(), 1, c.answers.size(), in);
    rewind(in);
    SetHelpStreams(out, in, true);
    bool usage = c.firstTopic != nullptr && strcmp(c.firstTopic, "usage") == 0;
    EXPECT_EQ(0, usage ? (PrintUsage(&options), 0) : InteractiveHelp(&options, c.firstTopic));
    SetHelpStreams(nullptr, nullptr);
    std::string text(static_cast<size_t>(ftell(out)), '\0');
    rewind(out);
    EXPECT_EQ(text.size(), fread(text.data(), 1, text.size(), out));
    fclose(in);
    fclose(out);
    EXPECT_TRUE(text.empty() || text.back() == '\n') << c.answers;
    Lines body;  // the lines shown after the banner
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
      body.push_back(text.substr(at, nl - at));
    EXPECT_GE(body.size(), kBanner);
    body.erase(body.begin(), body.begin() + std::min(kBanner, body.size()));
    if (c.compared != 0) body.resize(std::min(body.size(), c.compared));
    EXPECT_EQ(c.expected, body) << c.answers;
  }
}

}  // namespace
