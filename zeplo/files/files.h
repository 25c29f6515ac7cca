// zeplo/files: message files, their names, limits and the progress line.
//
// A message file is text: a header block, then one section per message
// (index line, descriptor lines "A KEY value" or a lone "N", data lines
// "X", "S" or "T", an empty line). The descriptor vocabulary is the
// MessageAttributeTable below; the writer here and the reader both walk it,
// so a key can never be known to one side only.
//
// Calling sequence of a run that writes a file:
//   OpenRunFiles (builds the name with ExpandFileName, asks before
//   overwriting) -> WriteFileHeader -> WriteMessage per message ->
//   FileLimitReached after each -> CloseOutputFile (and OpenRunFiles again
//   for the next file of a roll-over). PrepareOutputFile bundles the
//   before-write steps (room check, open, header) for the selection step.
// Reading runs use OpenRunFiles with the input side and CloseInputFile.
//
// Error handling: every failure composes its text into
// RunOptions::ExitMessage (only when it is still empty, so the first error
// of the run is the one shown) and returns its code: 2102 for a failed write
// or flush, 2208 for files that cannot be opened, renamed or are refused.
// Nothing here exits or throws.
//
// State: the open streams, current names, per-file counts and the progress
// line live in RunOptions (the fields after ExitMessage). The writer's
// format buffer is process-wide and reused; it is never handed out.
#ifndef ZEPLO_FILES_FILES_H_
#define ZEPLO_FILES_FILES_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "mqi/mqi.h"
#include "zeplo/driver/run_options.h"

// ---- The descriptor vocabulary (on disk: never renumber) -----------------
//
// The rows, their order, keys, long names, kinds and widths are part of the
// file format: files written by any build must load in any other. Add rows
// only at the end, never reorder, rename or renumber, never reuse a key.

enum AttributeKind : int32_t {
  kAttributeNumber = 1,  // "A KEY %d": a signed 32-bit field
  kAttributeText = 2,    // "A KEY chars": up to the width or first NUL
  kAttributeBytes = 3,   // "A KEY HEX": 2 upper-case digits per byte
};

enum AttributeCondition : int32_t {
  kAttributeAlways = 0,
  kAttributeWithApplDataAsChar = 1,     // written only with -dc
  kAttributeWithoutApplDataAsChar = 2,  // written only without -dc
};

struct MessageAttribute {
  const char* Key;       // three letters; "" for a row that is never written
  const char* LongName;  // MQMD field name, as the browse listing shows it
  AttributeKind Kind;
  int32_t Offset;        // byte offset of the field in MQMD
  int32_t Width;         // bytes of the field
  int32_t FromVersion;   // lowest MQMD Version that has the field
  AttributeCondition Condition;
};

// The table, in writing order, and its row count (31 rows).
extern const MessageAttribute MessageAttributeTable[];
extern const int32_t MessageAttributeCount;

// The row whose key is the three characters at `key` (not terminated; case
// matters), or null. Rows with an empty key are never found.
const MessageAttribute* FindAttributeByKey(const char* key);

// The first row whose long name equals the `length` characters at `name`
// (case matters), or null. First match wins: ApplIdentityData and
// ApplOriginData resolve to their text rows; StrucId is found.
const MessageAttribute* FindAttributeByLongName(const char* name, size_t length);

// True when the writer emits `row` for a descriptor of `version` under the
// -dc choice `applDataAsChar`: a key, a high enough version, the condition.
bool AttributeIsWritten(const MessageAttribute* row, int32_t version,
                        bool applDataAsChar);

// ---- The writer ----------------------------------------------------------

// Version text carried by line 1 of every header.
inline constexpr const char kZeploFileVersion[] = "9.1.1";

// Writes the header block to the current output stream: nothing with -dH;
// otherwise "* ZEPLO Version:... Created:..." (the Created time is the
// run's first header time, kept in CreatedTime), then the "* Qmgr" and
// "* Queue" lines when `sourceQueue` is a non-empty queue name (the qmgr
// line only when the input slot's name is non-empty), then an empty line.
// Returns 0, or 2102 with "Can not write to file '%s'" when a write fails.
int WriteFileHeader(RunOptions* opts, const char* sourceQueue);

// Writes the message in opts->Message (Descriptor, DataLength bytes from
// Cursor) to the current output stream in the layout the -d switches
// choose, and counts it (WrittenCount, WrittenBytes, FileMessageCount).
// With the null output or -dk/-dK it writes nothing but still counts.
// The section reaches the stream in full before it counts as written.
// Returns 0; 2102 when a file line could not be written (ExitMessage
// "Can not write to file '%s'", or "... RC(%d)" for S, T and raw data);
// 2208 when a -dT listing entry could not be written (the text
// "Error writing to file '%s'\n" goes to standard output).
int WriteMessage(RunOptions* opts);

// The bytes per X line the writer uses for `dataWidth` (-dw): 25 for 0 or
// less, 10 for 1 to 9, the value itself otherwise.
int32_t EffectiveDataWidth(int32_t dataWidth);

// ---- File names ----------------------------------------------------------

// Builds an actual file name from `pattern`, replacing the % inserts from
// the local time now and from the run's counters (%n %N from ReadFiles or
// WrittenFiles + 1, %i %I from MessageIndex, %o %O from SelectedCount + 1).
// `name` (size `nameSize`, at least 1) is always terminated. Returns 0, or
// 2208 when the expanded name does not fit (it is then cut short).
int ExpandFileName(RunOptions* opts, const char* pattern, char* name,
                   size_t nameSize);

// ExpandFileName with the time given as broken-down local time `when`.
int ExpandFileNameAt(RunOptions* opts, const char* pattern,
                     const struct tm* when, char* name, size_t nameSize);

// True when `pattern` holds one of the index inserts %i %I %n %N %o %O
// (a "%%" is a literal percent and does not count).
bool FileNameHasIndexInsert(const char* pattern);

// The next $-numbered name of a generic file into `name` (nameSize bytes):
// GenericDirectory + GenericBaseName [+ '$' + number] + GenericFileType.
// Input (`forInput`): the first file is InputFile as given, then $2, $3 by
// ReadFiles. Output: the plain name first; at the first roll-over the file
// written so far is renamed to $1 and $2 is returned; later $n by
// WrittenFiles + 1. Returns 0, or 2208 with "Can not rename file '%s' to
// '%s'" when that rename fails (the old file keeps its plain name).
int NextGenericFileName(RunOptions* opts, bool forInput, char* name,
                        size_t nameSize);

// ---- Opening and closing -------------------------------------------------

// Opens what is asked and not yet open: the input when `openInput`, an
// InputFile is set and no InputStream is open; the output likewise.
// `mayPrompt` allows the overwrite question (standard input a terminal).
// "stdout" writes to standard output; "null" too but sets OutputIsNull.
// A later file of a numbered input sequence that cannot be opened returns
// 2208 with ExitMessage untouched (the input has simply ended). Returns 0,
// or 2208 with ExitMessage set ("Duplicate input file", "Can not open
// input/output file", "File '%s' already exists.").
int OpenRunFiles(RunOptions* opts, bool mayPrompt, bool openInput,
                 bool openOutput);

// Asks on `out` whether the existing file `name` may be overwritten and
// reads answers from `in`: y overwrites, a overwrites and sets
// ForceOverwrite, n refuses, anything else asks again; the end of `in`
// counts as n. Returns 0 to overwrite, or 2208 with "File '%s' already
// exists.\n" in ExitMessage.
int AskOverwrite(RunOptions* opts, const char* name, FILE* in, FILE* out);

// The fopen mode for -a text `accessMode` (null = none) on the input
// (`base` 'r') or output ('w') side, into `mode` (at least 21 bytes).
// Text holding the base letter is used as given (at most 20 characters);
// otherwise the base letter goes in front (text cut to 19). On the output
// side a text holding 'a' is used as given too, so that -a a appends.
void FileAccessModeFor(const char* accessMode, char base, char* mode);

// Flushes and closes the current output file (standard output is only
// flushed) and forgets the stream. Safe when none is open. Returns 0, or
// 2102 with "Can not write to file '%s'" when the flush or close fails.
int CloseOutputFile(RunOptions* opts);

// Closes the current input file. The byte counts are the caller's: the
// processing loop adds InputFileBytes to FinishedInputBytes itself. The
// name stays (it guards against reading the same file twice). Safe when
// none is open.
void CloseInputFile(RunOptions* opts);

// The before-write steps for one message of `messageLength` bytes going to
// the output file: when a file is open and MaxFileSize leaves less than
// 2 x (messageLength + 512) bytes of room, close it; when none is open and
// the output is not the null file, open the next one and write its header
// (`sourceQueue` as for WriteFileHeader). Returns 0 or the code of the
// failed close, open or header write.
int PrepareOutputFile(RunOptions* opts, int64_t messageLength,
                      const char* sourceQueue);

// True when the current output file must be closed after the message just
// written: -Lm count reached, -La age reached, or -Ls size reached. False
// when no output file is open. The At form takes now in epoch seconds.
bool FileLimitReached(RunOptions* opts);
bool FileLimitReachedAt(RunOptions* opts, int64_t now);

// ---- Progress line (standard input a terminal only) ----------------------

// Ends any display in progress, then starts one with `total` (bytes of the
// input files, or messages) unless the run is quiet outside a counting
// pass; the display becomes active with now as its start.
void StartProgress(RunOptions* opts, int64_t total);

// Rewrites the progress text in place on standard error: blanks out what a
// longer previous text leaves, backs up over it, writes `text`, flushes.
void ShowProgress(RunOptions* opts, const char* text);

// Ends an active display: after a counting pass shows ": %d messages
// found" (and " (%d with properties)" with a property delimiter) and
// resets both counts, otherwise erases the text; then a newline when
// `newline`. Inactive afterwards. Safe when no display is active.
void EndProgress(RunOptions* opts, bool newline);

// Builds the progress text for `percent` (0-99) and `etaSeconds` into
// `text` (at least 48 bytes): ": %2d%%" and "  ETA:%d mins" above 60
// seconds, else "  ETA:%d secs".
void FormatProgressText(int32_t percent, int64_t etaSeconds, char* text,
                        size_t textSize);

#endif  // ZEPLO_FILES_FILES_H_
