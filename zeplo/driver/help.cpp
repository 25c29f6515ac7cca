// Help displays and the pager they share. Every display walks HelpTable and
// sends each row through PageLine, so one line count covers the banner, the
// usage rows, the topic prompt and the topic listings of a run.
#include <unistd.h>

#include <cstring>

#include "zeplo/driver/driver.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr const char* kVersion = "9.1.1";
constexpr const char* kMorePrompt = "More <Press Enter>...\n";
constexpr const char* kTopicPrompt = "Help - Enter topic:";
// Answer sizes, terminator included: a pause reads at most 99 characters,
// a topic at most 199.
constexpr int kPauseAnswerSize = 100;
constexpr int kTopicAnswerSize = 200;
// Lines the pager keeps free below a screenful: the pause line itself, the
// answer the user types and one line of context from the previous screen.
constexpr long long kPagerReserve = 3;

struct HelpState {
  FILE* Out;  // null = stderr
  FILE* In;   // null = stdin
  bool Paged;  // set with the streams; the default streams page on a terminal
  long long LinesSincePause;
  bool BannerPrinted;
};
// The help display's one piece of process state. It is kept here rather
// than in the Run because help is printed while the options are parsed,
// before any Run exists, and the banner and the pager's line count must
// carry across the separate help calls of one command line.
HelpState gHelp = {nullptr, nullptr, false, 0, false};

FILE* HelpOut() { return gHelp.Out != nullptr ? gHelp.Out : stderr; }
FILE* HelpIn() { return gHelp.In != nullptr ? gHelp.In : stdin; }

// Pauses belong on a screen: help redirected to a file or a pipe ("-?
// 2>help.txt") must not hold the prompt, nor wait for an Enter the user
// cannot see is wanted.
bool Paging() { return gHelp.Out != nullptr ? gHelp.Paged : isatty(fileno(stderr)) == 1; }

// Reads one answer line into buffer (size bytes, terminator included) with
// its line end removed. A line longer than the buffer is cut, and the rest
// of it is read and dropped so that it is not taken as the next answer.
// Read byte by byte (not fgets) so that a NUL inside the line cannot hide
// where the line ended. Returns false at the end of input with nothing
// read (buffer empty).
bool ReadAnswer(char* buffer, int size) {
  FILE* in = HelpIn();
  int length = 0;
  bool readAny = false;
  for (int c; (c = fgetc(in)) != EOF;) {
    readAny = true;
    if (c == '\n') break;
    if (length < size - 1) buffer[length++] = static_cast<char>(c);
  }
  buffer[length] = '\0';
  // Answers piped from a file written on another system may end in CR LF.
  if (length > 0 && buffer[length - 1] == '\r') buffer[--length] = '\0';
  return readAny;
}

bool Contains(const char* text, const char* topic) {
  return SearchNoCase(text, strlen(text), topic, strlen(topic)) != nullptr;
}

// Prints the row and the rows after it that belong to the same option.
// Updates *last to the last row printed. Returns true when the user asked
// for the topic help at a pause (the listing stops there).
bool PageOptionFrom(RunOptions* options, int row, int* last, int* printed) {
  const char key = HelpTable[row].Key;
  for (int i = row; i < HelpTableRows; ++i) {
    if (i > row && (key == 0 || HelpTable[i].Key != key)) break;
    if (PageLine(options, HelpTable[i].Text)) return true;
    *last = i;
    ++*printed;
  }
  return false;
}

}  // namespace

void SetHelpStreams(FILE* out, FILE* in, bool paged) {
  gHelp.Out = out;
  gHelp.In = in;
  gHelp.Paged = paged;
}

void ResetHelpState() {
  gHelp.LinesSincePause = 0;
  gHelp.BannerPrinted = false;
}

void PrintBanner(RunOptions* options) {
  if (options->Quiet || gHelp.BannerPrinted) return;
  gHelp.BannerPrinted = true;
  // __DATE__ is "Mmm dd yyyy" with the day padded by a blank; the year is
  // its last four characters.
  const char* buildDate = __DATE__;
  FILE* out = HelpOut();
  fprintf(out, "ZEPLO - IBM MQ queue and message file mover\n");
  fprintf(out, "  Version V%s Build date:%s\n", kVersion, buildDate);
  fprintf(out, "  Built by the ZEPLO developers, %s\n", buildDate + 7);
  fprintf(out, "\n");
  fflush(out);
  gHelp.LinesSincePause += 4;
}

bool PageLine(RunOptions* options, const char* line) {
  FILE* out = HelpOut();
  // Widened: TerminalLines comes from LINES and may be any int.
  if (Paging() &&
      gHelp.LinesSincePause >= static_cast<long long>(options->TerminalLines) - kPagerReserve) {
    fputs(kMorePrompt, out);
    fflush(out);
    char answer[kPauseAnswerSize];
    ReadAnswer(answer, sizeof answer);
    gHelp.LinesSincePause = 0;
    if (strchr(answer, '?') != nullptr) return true;
  }
  fputs(line, out);
  fputc('\n', out);
  fflush(out);
  ++gHelp.LinesSincePause;
  return false;
}

void PrintOptionUsage(RunOptions* options, char letter) {
  PrintBanner(options);
  for (int i = 0; i < HelpTableRows; ++i) {
    if (letter == 0 || HelpTable[i].Key != letter) continue;
    if (PageLine(options, HelpTable[i].Text)) {
      InteractiveHelp(options, nullptr);
      return;
    }
  }
}

void PrintUsage(RunOptions* options) {
  PrintBanner(options);
  for (int i = 0; i < HelpTableRows; ++i) {
    if (PageLine(options, HelpTable[i].Text)) {
      InteractiveHelp(options, nullptr);
      return;
    }
  }
}

void PrintCondensedUsage(RunOptions* options) {
  PrintBanner(options);
  char previousKey = 0;
  for (int i = 0; i < HelpTableRows; ++i) {
    const char key = HelpTable[i].Key;
    // Keyless rows (heading, blank line, examples) always show; of an
    // option's rows only the first, its summary line.
    if (key != 0 && key == previousKey) continue;
    if (PageLine(options, HelpTable[i].Text)) {
      InteractiveHelp(options, nullptr);
      return;
    }
    previousKey = key;
  }
}

int TopicHelp(RunOptions* options, const char* topic) {
  PrintBanner(options);
  int last = -1;  // last row printed
  int printed = 0;
  bool matched = false;
  for (int i = 0; i < HelpTableRows; ++i) {
    if (!Contains(HelpTable[i].Text, topic)) continue;
    matched = true;
    const char key = HelpTable[i].Key;
    if (key != 0) {
      // A sub-option matched: show its option from the summary line on.
      // The rows of an option are adjacent, so this walks back only over
      // rows of the same option that are not printed yet.
      int first = i;
      while (first - 1 > last && HelpTable[first - 1].Key == key) --first;
      if (first < i) {
        if (PageOptionFrom(options, first, &last, &printed)) return printed;
        continue;
      }
    }
    if (i > last && PageOptionFrom(options, i, &last, &printed)) return printed;
  }
  if (!matched) {
    FILE* out = HelpOut();
    fprintf(out, "Options relating to '%s' not found\n", topic);
    fflush(out);
    ++gHelp.LinesSincePause;
  }
  return printed;
}

int InteractiveHelp(RunOptions* options, const char* firstTopic) {
  PrintBanner(options);
  if (firstTopic != nullptr) TopicHelp(options, firstTopic);
  char topic[kTopicAnswerSize];
  for (;;) {
    // A "?" at a pause just before the prompt asks for what is already
    // coming: show the prompt anyway, so the user knows input is awaited.
    if (PageLine(options, kTopicPrompt)) {
      FILE* out = HelpOut();
      fprintf(out, "%s\n", kTopicPrompt);
      fflush(out);
      ++gHelp.LinesSincePause;
    }
    if (!ReadAnswer(topic, sizeof topic) || topic[0] == '\0') break;
    gHelp.LinesSincePause = 0;
    TopicHelp(options, topic);
  }
  return 0;
}
