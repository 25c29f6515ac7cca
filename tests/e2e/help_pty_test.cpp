// Paging on a real terminal: the pause comes after a screenful less three
// lines, for the terminal's own height and for LINES; Enter goes on, an
// answer with "?" opens the topic prompt.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_util.h"

namespace {

constexpr int kOptionsError = 2046 % 256;
const std::string kMore = "More <Press Enter>...\n";
const std::string kPrompt = "Help - Enter topic:\n";
const std::string kLastRow = "zeplo -iQ1 -ds\n";

// At a pause the program waits for Enter, it does not run on; Enter goes
// on to the end, an answer with "?" opens the topic prompt instead.
TEST(HelpPty, FullUsagePausesEveryScreenful) {
  // Lines shown before each pause, for a terminal height from the
  // terminal itself or from LINES (which wins).
  const struct {
    unsigned short rows;
    const char* env;
    size_t perScreen;
    bool topic;  // "?" at the third pause
  } cases[] = {{15, "LINES", 12, false}, {40, "LINES=12", 9, true}};
  for (const auto& c : cases) {
    PtySession pty;
    ASSERT_TRUE(PtyStart(&pty, ZeploPath(), {"-?"}, {c.rows, 80, false, {c.env}}));
    // Two screens: the first holds the banner.
    for (int screen = 0; screen < 2; ++screen) {
      size_t from = pty.consumed;
      ASSERT_TRUE(PtyWaitFor(&pty, kMore)) << c.rows << "\n" << PtyText(pty);
      std::string shown = PtyText(pty).substr(from, pty.consumed - from);
      // Not counting the pause line itself.
      EXPECT_EQ(static_cast<long>(c.perScreen) + 1, std::count(shown.begin(), shown.end(), '\n'))
          << "rows " << c.rows << " screen " << screen << ":\n" << shown;
      PtySend(&pty, "\n");
    }
    ASSERT_TRUE(PtyWaitFor(&pty, kMore));
    EXPECT_FALSE(PtyWaitFor(&pty, "\n", 300)) << PtyText(pty).substr(pty.consumed);
    if (!c.topic) {
      PtySend(&pty, std::string(20, '\n'));
      EXPECT_EQ(kOptionsError, PtyFinish(&pty)) << PtyText(pty);
      EXPECT_TRUE(Has(PtyText(pty), kLastRow));
      continue;
    }
    PtySend(&pty, "?\n");
    ASSERT_TRUE(PtyWaitFor(&pty, kPrompt)) << PtyText(pty);
    const size_t from = PtyText(pty).size();
    PtySend(&pty, "append\n");
    ASSERT_TRUE(PtyWaitFor(&pty, kPrompt)) << PtyText(pty);
    EXPECT_EQ("        [-a <File access mode for fopen()>]\n            a  Append\n"
              "            b  Binary\n" + kPrompt,
              PtyText(pty).substr(from));
    PtySend(&pty, "\n");
    EXPECT_EQ(kOptionsError, PtyFinish(&pty));
    // The usage stopped at that pause: its later rows never showed.
    EXPECT_FALSE(Has(PtyText(pty), "Examples"));
  }
}

// On a terminal, help sent to a file or a pipe runs through: no pause
// written into it and no Enter awaited from the terminal.
TEST(HelpPty, RedirectedHelpIsNotPaged) {
  for (const char* redirect : {"2>help.txt", "2>&1 | cat >help.txt"}) {
    PtySession pty;
    ASSERT_TRUE(PtyStart(&pty, "/bin/sh", {"-c", "'" + ZeploPath() + "' -? " + redirect}));
    PtyFinish(&pty, 10000);
    std::string help = ReadFileText(ScratchPath("help.txt"));
    EXPECT_FALSE(Has(help, kMore)) << redirect;
    EXPECT_TRUE(Has(help, kLastRow)) << redirect << "\n" << help;
  }
}

}  // namespace
