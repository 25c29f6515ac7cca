// zeplo/driver: the command line and the run.
//
// A run goes: RunOptionsInit (start-up readings and defaults), ParseOptions
// (every option into RunOptions, refusing bad ones), CheckOptions (the
// command line as a whole), then RunDriver connects, reports, hands over to
// the processing loop and prints the final counts. Help and usage texts are
// printed from here too, paged on a terminal.
//
// Error handling: a refused command line prints its one message on standard
// error and yields 2046 (MQRC_OPTIONS_ERROR); nothing is connected or
// written before that.
#ifndef ZEPLO_DRIVER_DRIVER_H_
#define ZEPLO_DRIVER_DRIVER_H_

#include <cstdio>

#include "zeplo/driver/run_options.h"

// ---- Options, value parsers, checks, reports and the run driver ----------

// ---- Help and usage -------------------------------------------------------
//
// Everything here writes to standard error and reads answers from standard
// input, one line at a time with the newline removed. All output of one run
// goes through a single pager: after TerminalLines - 3 lines it asks
// "More <Press Enter>..." and waits for a line; an answer holding "?" leaves
// the listing for the topic prompt. End of input reads as an empty answer,
// so a pause goes on printing and the topic prompt ends. None of these
// procedures fails; none ends the run (the caller decides the exit status).
//
// The pager's line count and the banner's printed flag are process-wide:
// the banner appears at most once per run, whichever display comes first.

// One row of the usage table: the option letter it documents, or 0 for the
// heading, the blank line and the examples. Rows of one option are
// adjacent; the first is the option's summary line, the rest its
// sub-options. Text is the line as shown, without its newline.
struct HelpRow {
  char Key;
  const char* Text;
};
extern const HelpRow HelpTable[];
extern const int HelpTableRows;

// Prints the three banner lines and an empty line (version and build date)
// and counts them as 4 paged lines. Does nothing with options->Quiet or
// once the banner has been printed in this process.
void PrintBanner(RunOptions* options);

// Prints one line (the newline is added), pausing first when a screenful
// has been written since the last pause. Returns true, without printing,
// when the answer at that pause asked for the topic help ("?").
bool PageLine(RunOptions* options, const char* line);

// The banner, then the rows of one option (case counts: 'a' and 'A' are
// different options). A letter without rows prints only the banner. A "?"
// at a pause switches to InteractiveHelp.
void PrintOptionUsage(RunOptions* options, char letter);

// The banner, then every row of the usage table, paged ("?" at a pause
// switches to InteractiveHelp).
void PrintUsage(RunOptions* options);

// The banner, then the usage table with only the summary line of each
// option; the heading, the blank line and the examples all show.
void PrintCondensedUsage(RunOptions* options);

// The banner, then the rows that mention topic (ignoring case; an empty
// topic matches every row), each matching option with all its rows, each
// row at most once, in table order. Without a match prints "Options
// relating to '<topic>' not found". A "?" at a pause ends the listing.
// Returns the number of rows printed (0 when nothing matched).
int TopicHelp(RunOptions* options, const char* topic);

// The banner, TopicHelp on firstTopic unless it is null, then the prompt
// "Help - Enter topic:" until an empty line or the end of input. Topics
// longer than 199 characters are cut there. Returns 0.
int InteractiveHelp(RunOptions* options, const char* firstTopic);

// Where help is written and answers are read (default: stderr and stdin;
// tests point them at files). ResetHelpState forgets the banner and the
// line count, as at process start.
void SetHelpStreams(FILE* out, FILE* in);
void ResetHelpState();

#endif  // ZEPLO_DRIVER_DRIVER_H_
