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

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "zeplo/run/run.h"

// ---- Options, value parsers, checks, reports and the run driver ----------
//
// Every procedure here that can refuse returns 0 or kOptionsRefused (2046,
// MQRC_OPTIONS_ERROR) after printing its one message on standard error.
// Texts in quotes below are the program's own, shown exactly as printed.

enum : int { kOptionsRefused = 2046 };

// Program entry: start-up, options, checks, connection, the run, the final
// report and the disconnects. Returns the run's return code (0, 2046 for a
// refused command line, otherwise the code of the step that ended the run);
// main() passes it on as the exit status.
int ZeploMain(int argc, char** argv);

// The process exit status for a run's return code: 0 for 0; otherwise the
// code's low 8 bits (2046 exits 254, 2009 exits 217), except that a code
// whose low 8 bits are all 0 (2048, 2304, 2560, ...) exits 255, so that no
// failure ever reads as success. The help and the README show this table.
int ExitStatusFor(int returnCode);

// Start-up readings and defaults: zeroes *options, notes whether standard
// input is a terminal, echoes argv when KALVO_ZEPLO_PARMS is set, takes the
// terminal height (24, the terminal's rows, then LINES), applies every
// default (the -A template included) and reads the clock into
// NowSeconds/NowCentiseconds. Never fails.
void RunOptionsInit(RunOptions* options, int argc, char** argv);

// The option loop (getopt over argv) and what follows it: the banner, the
// -Vv line and the file format self-test of -dxtest. Returns the run's
// code and sets *endRun when the run ends here: 2046 after a refusal, any
// help display asked with -? or a word that is not an option ("'<word>'
// is not a valid parameter." and the condensed usage); 0 after the
// condensed usage for no arguments, the full usage of --help or the banner
// of --version; 2195 when the self-test failed. A known option left
// without its value gets "Sorry, -<letter> needs a value:" and that
// option's usage lines. With *endRun false the options are ready for
// CheckOptions.
// REQUIRES: RunOptionsInit first. May be called again in one process (it
// resets getopt).
int ParseOptions(RunOptions* options, int argc, char** argv, bool* endRun);

// -- Value parsers --------------------------------------------------------

// A whole decimal integer: the text is digits, after a sign only when
// allowSign, with nothing else but blanks around them. The value saturates
// at the int32 limits. Returns false (and *out 0) for anything else: no
// digits, or text after them ("1d", "10x").
bool ReadWholeInt(std::string_view text, bool allowSign, int32_t* out);

// Prints "Sorry, '<value>' is not a valid value for -<option>" and returns
// 2046: the one refusal of a number that is not read whole.
int RefuseValue(char option, std::string_view value);

// ReadWholeInt of the option's value into *out, or RefuseValue (2046).
int ParseIntOrRefuse(char option, const char* value, bool allowSign, int32_t* out);

// One age "[[DD:]HH:]MM" into *field as seconds. Refuses "You can only
// specify the '<label>' age once" when *field is already set, and, through
// RefuseValue for -T, anything but one to three colon-separated fields of
// digits. Empty text sets nothing. The sum saturates at int32 range. A
// refusal names `whole` (the option's value) when given, else text.
int ParseAge(std::string_view text, const char* label, int32_t* field,
             std::string_view whole = {});

// One timestamp "[u][DD/MM/YYYY][_][HH:MM:SS]" (see -T) into *field as
// epoch seconds; a time of day alone is on the local date of nowSeconds.
// Refuses "You can only specify the '<label>' time once" and "Unrecognised
// time format '<text>'" (longer than 19 characters, a pattern mismatch or a
// time before the epoch).
int ParseTimestamp(std::string_view text, const char* label, int64_t nowSeconds, int64_t* field);

// One size with units (ParseQuantity over SizeUnits, one significant
// letter) into *field. Empty text sets nothing; refuses "You can only
// specify the '<label>' message size once" when *field is not 0xFFFFFFFF,
// and a text that is not a quantity through RefuseValue for -z, naming
// `whole` when given.
int ParseSize(std::string_view text, const char* label, uint32_t* field,
              std::string_view whole = {});

// A sum of numbers with units, e.g. "1m512k" or "1 MB 512 KB": each
// number (digits with at most one point, single precision) times the first
// unit of table whose long name the following word matches over
// `significant` letters, ignoring case (the word may be any prefix of the
// name, or the name with a plural "s"); a number at the very end counts as
// the last unit (bytes for sizes). The sum is truncated into [0,
// INT32_MAX] in *out. Returns false (*out 0) when the text is anything
// else: empty, an unknown unit ("10x"), a number without a unit before
// another number. `table` is one of util's unit tables (0 divisor ends it).
bool ParseQuantity(std::string_view text, const struct UnitEntry* table, int significant,
                   int32_t* out);

// The option values read by the option loop. Each fills its RunOptions
// fields as the option's table says and returns 0 or 2046 with its message
// printed: -T (ages and timestamps), -z (size bounds), -P (priority
// bounds, put in order when reversed), -r ("Invalid message range
// parameter '<value>'"), -D (fixed, random or relative delay), -R (rate
// and duration, "*" for -1) and -w (negative waits, and waits past
// kMaxWaitSeconds, the longest an MQGET can be asked to wait, become -1,
// unlimited). Numbers are read whole; anything else is refused through
// RefuseValue. None of them keeps a pointer to value.
inline constexpr int32_t kMaxWaitSeconds = INT32_MAX / 1000;
int ParseTimeOnQueue(RunOptions* options, const char* value);
int ParseSizeRange(RunOptions* options, const char* value);
int ParsePriorityRange(RunOptions* options, const char* value);
int ParseMessageRange(RunOptions* options, const char* value);
int ParseDelay(RunOptions* options, const char* value);
int ParseRate(RunOptions* options, const char* value);
int ParseWait(RunOptions* options, const char* value);

// The -VT diagnostic: prints the date (YYYYMMDD) at 12:00:00 converted as
// local time and as UTC on standard error.
void PrintExampleDates(const char* date);

// -- Option values with letters of their own --------------------------------
// Each applies one option value to *options and returns 0 or 2046 with the
// refusal printed (followed by the option's usage lines for -C, -d, -n, -O
// and -v). A value is never kept by pointer, except -a, -j, -u, -U, -l,
// which point into argv (it outlives the run).

// -A: "<letter>:<value>" into the run's descriptor template (Override,
// which RunOptionsInit sets to the MQMD defaults) and OverrideFields.
int ParseAttributeOverride(RunOptions* options, const char* value);

int ParseContext(RunOptions* options, const char* value);         // -C
int ParseDisplayOptions(RunOptions* options, const char* value);  // -d
int ParseGetById(
    RunOptions* options,
    const char* value);  // -g
                         // (a hex identifier that is empty or not all hex pairs is refused)
int ParseGetFilter(RunOptions* options, const char* value);       // -G
int ParseFileLimits(RunOptions* options, const char* value);      // -L
int ParseNonNative(RunOptions* options, const char* value);       // -n
int ParseGeneralOptions(RunOptions* options, const char* value);  // -O
int ParseVerbose(RunOptions* options, const char* value);         // -v
int ParseDiagnostics(RunOptions* options, const char* value);     // -V

// -s -S -e -E -x -X (letter): fills the first free of the three entries of
// that search list. Text is stored as typed (EBCDIC for -e/-E); hex as the
// bytes its digit pairs spell, an odd last digit ignored.
int AddSearchString(RunOptions* options, char letter, const char* value);

// -- Checks and reports ---------------------------------------------------

// The command line as a whole, after parsing: rate, age ordering (ages
// become PutAfter/PutBefore), file roles, summary, count, input/output,
// purge, selector, file-name inserts, generic names, limits, the count
// before a delimited load (at a terminal only) and the move rules, in that
// order; then the -r bounds are put in order. Fills the
// fields completed by the checks. Returns 0 or 2046 with the refusal
// printed (2098 for context passing between two queue managers); the
// generic-load note about -L is printed and not a refusal.
// Call once, before connecting: the options are read-only afterwards.
int CheckOptions(RunOptions* options);

// Frees the labelled blocks the option parser made (the queue lists, the
// selector, the password copies, wiped first). Safe twice.
void ReleaseParsedOptions(RunOptions* options);

// True when InputList names at least one queue.
bool HasInputQueues(const RunOptions* options);

// Puts the -r bounds in order (a "#n" or "..n" range starts at 1) and
// returns the line that describes them. CheckOptions calls it once and
// keeps the line in RangeReport.
RangeLine NormaliseRange(RunOptions* options);

// The selection report ("Message selection active:" and one line per active
// filter, then an empty line) and the output file limits report, on
// standard error. The caller decides whether they are due (Quiet, and the
// selection or limits switches).
void PrintSelectionReport(const RunOptions* options, RangeLine rangeLine);
void PrintLimitsReport(const RunOptions* options);

// -- Run driver -----------------------------------------------------------

// The final report after a run that reached its messages (countsDue) or
// ended earlier: ExitMessage, then the count lines (none with Summary) or,
// when quiet, the bare -dK count, then the rolled-back report. Writes to
// standard error (the bare count to standard output).
void PrintFinalReport(const Run* run, bool countsDue);

// Disconnects the output slot, then the input slot (once when they are the
// same), each only while connected, reporting MQDISC with -va. A slot
// whose unit of work may still be open (its backout failed) is backed out
// once more first; if that fails too, that slot is not disconnected, so
// that no MQDISC commits it: the queue manager backs it out when the
// process ends.
void DisconnectQmgrs(Run* run);

// The run after a successful CheckOptions (run set up by RunInit): connect,
// reports, mode choice, opens, the processing loop, the final report, the
// disconnects and the release of what the run opened.
// Returns the run's return code. Log replay, delimited files and several
// input queues at once are refused with 2046 ("Sorry, <what> is not
// available in this build.") at the step that would need them.
int RunDriver(Run* run);

// ---- Help and usage -------------------------------------------------------
//
// Everything here writes to standard error and reads answers from standard
// input, one line at a time with the newline removed. All output of one run
// goes through a single pager: on a terminal, after TerminalLines - 3 lines it asks
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
// tests point them at files), and whether the pager pauses on them. The
// default streams pause only when standard error is a terminal. Null
// streams go back to the defaults. ResetHelpState forgets the banner and
// the line count, as at process start.
void SetHelpStreams(FILE* out, FILE* in, bool paged = false);
void ResetHelpState();

#endif  // ZEPLO_DRIVER_DRIVER_H_
