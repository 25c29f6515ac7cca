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
// Error handling: every failure composes its text into run->ExitMessage
// with SetExitMessage (only when it is still empty, so the first error of
// the run is the one shown) and returns its code: 2102 for a failed write
// or flush, 2208 for files that cannot be opened, renamed or are refused.
// Nothing here exits or throws.
//
// State: the open streams, current names, per-file counts, the progress
// line and the reader's line storage live in run->Files (FileState), which
// only this layer writes. The writer's format buffer is process-wide and
// reused; it is never handed out.
#ifndef ZEPLO_FILES_FILES_H_
#define ZEPLO_FILES_FILES_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "mqi/mqi.h"
#include "zeplo/run/run.h"

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

// Writes the header block to the current output stream: nothing with -dH
// or to the null output; otherwise "* ZEPLO Version:... Created:..." (the Created time is the
// run's first header time, kept in CreatedTime), then the "* Qmgr" and
// "* Queue" lines when `sourceQueue` is a non-empty queue name (the qmgr
// line only when the input slot's name is non-empty), then an empty line.
// Returns 0, or 2102 with "Can not write to file '%s'" when a write fails.
int WriteFileHeader(Run* run, const char* sourceQueue);

// Writes the message in run->Message (Descriptor, DataLength bytes from
// Cursor) to the current output stream in the layout the -d switches
// choose, and counts it (WrittenCount, WrittenBytes, FileMessageCount).
// A descriptor Version below 1 is written with the version-1 rows.
// With the null output or -dk/-dK it writes nothing but still counts.
// The section reaches the stream in full before it counts as written.
// Returns 0; 2102 when a file line could not be written (ExitMessage
// "Can not write to file '%s'", or "... RC(%d)" for S, T and raw data);
// 2208 when a -dT listing entry could not be written (the text
// "Error writing to file '%s'\n" goes to standard output).
int WriteMessage(Run* run);

// The bytes per X line the writer uses for `dataWidth` (-dw): 25 for 0 or
// less, 10 for 1 to 9, the value itself otherwise.
int32_t EffectiveDataWidth(int32_t dataWidth);

// ---- File names ----------------------------------------------------------

// Builds an actual file name from `pattern`, replacing the % inserts from
// the local time now and from the run's counters (%n %N from ReadFiles or
// WrittenFiles + 1, %i %I from MessageIndex, %o %O from SelectedCount + 1).
// `name` (size `nameSize`, at least 1) is always terminated. Returns 0, or
// 2208 when the expanded name does not fit (it is then cut short).
int ExpandFileName(Run* run, const char* pattern, char* name,
                   size_t nameSize);

// ExpandFileName with the time given as broken-down local time `when`.
int ExpandFileNameAt(Run* run, const char* pattern,
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
int NextGenericFileName(Run* run, bool forInput, char* name,
                        size_t nameSize);

// ---- Opening and closing -------------------------------------------------

// Opens what is asked and not yet open: the input when `openInput`, an
// InputFile is set and no InputStream is open; the output likewise.
// `mayPrompt` allows the overwrite question (standard input a terminal).
// "stdout" writes to standard output; "null" too but sets OutputIsNull.
// A later file of a numbered input sequence that cannot be opened returns
// 2208 with ExitMessage untouched (the input has simply ended). Returns 0,
// or 2208 with ExitMessage set ("Duplicate input file", "Can not open
// input/output file", "File '%s' already exists.", or "Output file '%s'
// is the input file being read" whatever -F says). An output name that
// comes out the same as the file just written is refused as existing.
int OpenRunFiles(Run* run, bool mayPrompt, bool openInput,
                 bool openOutput);

// Asks on `out` whether the existing file `name` may be overwritten and
// reads answers from `in`: y overwrites, a overwrites and sets
// Files.OverwriteAll, n refuses, anything else asks again; the end of `in`
// counts as n. Returns 0 to overwrite, or 2208 with "File '%s' already
// exists.\n" in ExitMessage.
int AskOverwrite(Run* run, const char* name, FILE* in, FILE* out);

// The fopen mode for -a text `accessMode` (null = none) on the input
// (`base` 'r') or output ('w') side, into `mode` (at least 21 bytes).
// Text holding the base letter is used as given (at most 20 characters);
// otherwise the base letter goes in front (text cut to 19). On the output
// side a text holding 'a' is used as given too, so that -a a appends.
void FileAccessModeFor(const char* accessMode, char base, char* mode);

// Flushes and closes the current output file (standard output is only
// flushed) and forgets the stream. Safe when none is open. Returns 0, or
// 2102 with "Can not write to file '%s'" when the flush or close fails.
int CloseOutputFile(Run* run);

// Closes the current input file. The byte counts are the caller's: the
// processing loop adds InputFileBytes to FinishedInputBytes itself. The
// name stays (it guards against reading the same file twice). Safe when
// none is open.
void CloseInputFile(Run* run);

// The before-write steps for one message of `messageLength` bytes going to
// the output file: when a file holding messages is open and MaxFileSize
// leaves less than 2 x (messageLength + 512) bytes of room, close it; when none is open and
// the output is not the null file, open the next one and write its header
// (`sourceQueue` as for WriteFileHeader). Returns 0 or the code of the
// failed close, open or header write.
int PrepareOutputFile(Run* run, int64_t messageLength,
                      const char* sourceQueue);

// True when the current output file must be closed after the message just
// written: -Lm count reached, -La age reached, or -Ls size reached. False
// when no output file is open. The At form takes now in epoch seconds.
bool FileLimitReached(Run* run);
bool FileLimitReachedAt(Run* run, int64_t now);

// ---- The output file in a unit of work ------------------------------------
//
// A run that moves messages from a queue into a file commits its gets only
// once the file holds their messages. When a unit is backed out instead,
// its messages go back to the queue, so they must leave the file too (or
// they would be in both places). The record FileState::UnitFiles lists
// the file that was open at the last commit with its size then, and each
// file opened since with the size it had when opened. Standard output and
// the null output are never listed: what went there cannot be taken back.

// Starts a new unit: forgets the files of the last one and records the
// open output file (if any) at its current size (OutputFilePosition, so
// the stream must have been flushed). From the first call on, every output
// file opened is recorded too. Returns 0, or 2071 with "Unable to
// allocate %d entries of output file storage".
int MarkOutputCommitted(Run* run);

// Records the output file just opened (CurrentOutputFile) with its size
// before anything was written, when a unit is being recorded. Called by
// the open itself. Returns 0 or 2071 as MarkOutputCommitted.
int NoteOutputOpened(Run* run, int64_t sizeAtOpen);

// Puts the output back as it stood at the last commit: closes the current
// file without flushing its last bytes on purpose, truncates each recorded
// file to its size and removes the files that were empty when this unit
// opened them (new ones, or ones it overwrote), counting those in
// UncommittedWrittenFiles. The record is emptied (the next unit starts at
// MarkOutputCommitted). Returns 0, or 2102 with "Can not restore file '%s'
// RC(%d)" for the first file that could not be put back (the others are
// still tried). Safe when nothing is recorded.
int RollBackOutputFiles(Run* run);

// Frees the record; recording stops. Safe when there is none.
void ReleaseUnitFiles(Run* run);

// ---- Progress line (standard input a terminal only) ----------------------

// Ends any display in progress, then starts one with `total` (bytes of the
// input files, or messages) unless the run is quiet outside a counting
// pass; the display becomes active with now as its start.
void StartProgress(Run* run, int64_t total);

// Rewrites the progress text in place on standard error: blanks out what a
// longer previous text leaves, backs up over it, writes `text`, flushes.
void ShowProgress(Run* run, const char* text);

// Ends an active display: after a counting pass shows ": %d messages
// found" (and " (%d with properties)" with a property delimiter) and
// resets both counts, otherwise erases the text; then a newline when
// `newline`. Inactive afterwards. Safe when no display is active.
void EndProgress(Run* run, bool newline);

// Shows `done` (bytes or messages) out of ProgressTotal on the active line:
// only with a total, on a terminal, and when both the percentage and the
// second have moved since the last update.
void UpdateProgress(Run* run, int64_t done);

// Percentage of the progress line for `done` out of `total` (total > 0),
// capped at 99; negative done counts as 0.
int32_t ProgressPercent(int64_t done, int64_t total);

// Seconds left for the progress ETA: (100 - percent) / percent * elapsed,
// truncated; 0 when percent is 0 or below.
int64_t ProgressEtaSeconds(int32_t percent, int64_t elapsedSeconds);

// Builds the progress text for `percent` (0-99) and `etaSeconds` into
// `text` (at least 48 bytes): ": %2d%%" and "  ETA:%d mins" above 60
// seconds, else "  ETA:%d secs".
void FormatProgressText(int32_t percent, int64_t etaSeconds, char* text,
                        size_t textSize);

// ---- The reader ----------------------------------------------------------
//
// Turns an input file back into messages, one per call: the program's own
// message files (first non-blank line "* ZEPLO" or "* DMPMQMSG") and the
// listings of IBM MQ's browse sample (first line "AMQSBCG0"). The reader
// keeps one line of lookahead in the run's LineStorage: a message ends at
// the first line that is not its own, and that line stays current for the
// next call.
//
// Calling sequence (processing loop): PrepareMessageFile once after the
// first input file is opened; then ReadMessageFileMessage or, for a
// listing, ReadBrowseListingMessage once per message; ReleaseLineStorage
// when the loop ends. Opening the next file of a numbered sequence needs
// no call: the reader sees the new stream and starts counting lines again.
//
// Errors: format errors compose "... on line %ld of file '%s'" (the
// current line number and CurrentInputFile) into ExitMessage, only while
// it is empty, and return 2208; storage failures return 2071; a table row
// of unknown kind 2195. A failed read leaves DataLength 0: no partial
// message is handed on.

// Bytes the reader takes from the input file in one read.
inline constexpr int32_t kLineAheadSize = 64 * 1024;

// The input line and the reader's place in the current file. Lives in
// run->Files.InputLines (a labelled block, as is Text).
struct LineStorage {
  char* Text;            // Capacity bytes; the line, terminated after Length
  int32_t Capacity;      // a multiple of 1024, only ever grown
  int32_t Length;        // characters of the current line; 0 = no line
  char* Last;            // last character of the current line, or null
  int64_t LineNumber;    // physical lines read from this file, skipped ones too
  bool EndOfFile;        // the file has no more lines
  bool ListingMode;      // browse listing: "*" lines are not comments
  int32_t TokenOffset;   // browse listing: where the next token starts
  FILE* Stream;          // the input stream the state belongs to
  int64_t BytesSeen;     // InputFileBytes after the last read: a stream
                         // reopened or rewound by others shows as a change
  // Read-ahead: Ahead[AheadStart, AheadEnd) is read from Stream but not yet
  // part of a line. A regular file fills it in blocks; any other stream
  // (pipe, terminal) at most one line at a time, so each line is handed on
  // as soon as it arrives. Counted in InputFileBytes only once consumed.
  bool AheadInBlocks;
  int32_t AheadStart;
  int32_t AheadEnd;
  char Ahead[kLineAheadSize + 32];  // 32 bytes of slack for whole-block copies
};

// Makes sure the line storage exists and holds at least `size` bytes
// (rounded up to a multiple of 1024), keeping the current line. Returns 0,
// or 2071 with "Unable to allocate %d bytes line storage". With -Vm each
// change is traced on standard error.
int AllocateLineStorage(Run* run, int64_t size);

// Frees the line storage and the reader state (tracing "Freeing %p" with
// -Vm) and nulls InputLines. Safe when nothing was allocated.
void ReleaseLineStorage(Run* run);

// Forgets the current line and the place in the file (line number 0, no
// end of file), keeping the storage and the listing mode.
void ResetLineReader(Run* run);

// Skips leading lines of blanks, TABs, CRs and LFs, checks the first real
// line for "AMQSBCG0" (browse listing, ListingMode set), "* ZEPLO" or
// "* DMPMQMSG", and makes the following line current. A file that ends
// first is not an error (EndOfFile set). Returns 0; 2208 with "File '%s'
// does not appear to be a ZEPLO file"; 2071.
int IdentifyInputFile(Run* run);

// The processing loop's entry: IdentifyInputFile, then *listing for a
// browse listing and *empty when there is nothing to load (no line at
// all, or nothing after the header unless the input is a numbered
// sequence). Returns what IdentifyInputFile returns.
int PrepareMessageFile(Run* run, bool* listing, bool* empty);

// Makes a line current. With `advance` off and a line current, keeps it.
// Otherwise reads the next line that counts (not empty, not a "*" comment
// outside listing mode), whole at any length, without its LF and then CR.
// `raw` returns the next physical line as read, line end included. At end
// of file sets *endOfFile (and EndOfFile), no line current. Returns 0 or
// 2071 when the storage cannot grow.
int ReadLine(Run* run, bool advance, bool* endOfFile, bool raw);

// Reads one message of a message file into run->Message: the default
// version-2 descriptor, the A lines over it, the data of the X, S and T
// lines (storage grown to four times what is needed). Returns 0 with the
// message; 0 with *endOfFile set when no message is left; 2208, 2071 or
// 2195 with ExitMessage set.
int ReadFileMessage(Run* run, bool* endOfFile);

// ReadFileMessage for the processing loop: the end of the file sets
// StopRequested. Returns what ReadFileMessage returns.
int ReadMessageFileMessage(Run* run);

// The processing loop's read: ReadBrowseListingMessage when
// PrepareMessageFile found a browse listing, else ReadMessageFileMessage.
int ReadInputFileMessage(Run* run);

// Reads the next message of a browse listing: its "****Message
// descriptor****" section of name and value pairs (named by the long names
// of MessageAttributeTable), then its dump lines. A descriptor whose
// version-2 fields all hold their defaults becomes version 1. At the end
// of the file sets StopRequested and returns 0; also StopRequested with
// 2208 when the file ends inside a descriptor. Returns 0, 2208 or 2071.
int ReadBrowseListingMessage(Run* run);

// Reads pairs of hex digits (either case) from [text, end) into `out`, at
// most *count bytes (a negative *count: no limit; `out` must then hold
// (end - text) / 2 bytes). `skipBlanks` skips blanks before each pair.
// Stops at the end or at a character that cannot start a pair; *count
// gets the bytes written. Returns 0, or 2208 with "Badly formed HEX
// string on line %lld of file '%s'" when a pair has no second digit.
int ParseHex(Run* run, const char* text, const char* end,
             unsigned char* out, int64_t* count, bool skipBlanks);

// The next token of a browse listing's descriptor section, from where the
// last one ended: a quoted value without its quotes, or a word ended by a
// blank, TAB, CR, LF or colon. Reads on over line ends; "*" ends a line.
// *endOfSection at a line that begins "****", *endOfFile at the end of
// the file; otherwise *token and *length point into the current line.
// Returns 0 or 2071.
int ReadToken(Run* run, bool* endOfFile, bool* endOfSection,
              const char** token, int32_t* length);

// Stores the value [value, end) into the field of `md` that `row` names:
// a number read as atoi reads it (out-of-range values saturate), text cut
// at the width and blank-padded, bytes as hex digits for at most the width
// or half the digits (the rest keeps its value). Returns 0, 2208 from
// ParseHex, or 2195 for a row of unknown kind or outside MQMD.
int StoreAttributeValue(Run* run, MQMD* md, const MessageAttribute* row,
                        const char* value, const char* end);

// The file name reader errors quote: CurrentInputFile, else InputFile.
const char* ReaderFileName(const Run* run);

// ---- The message in hand -------------------------------------------------
//
// The storage and descriptor of run->Message, for every reader of
// messages: queues, files, listings.

// Grows the message storage to hold `size` bytes (below 1 counts as 1),
// rounded up to a multiple of 4096, keeping the old content and the
// cursor's offset in it; sets Descriptor to OwnDescriptor when it is null.
// Never shrinks: a size that fits returns 0 at once. With -Vm traces
// "Allocating %lld bytes", "Allocation success %p" or "Allocation failed!"
// and "Freeing %p" on standard error. The block is labelled "Message
// Storage" (free it with CSFreeMem). Returns 0, or 2071 with "Unable to
// allocate %lld bytes message storage" (the rounded size) when the block
// cannot be had or would not fit a 32-bit capacity; the old block then
// stays in use.
int GrowMessageStorage(Run* run, int64_t size);

// The file readers' growth: when `needed` bytes do not fit, grows the
// storage with GrowMessageStorage to MessageStorageTarget(needed) (to
// `needed` itself when that is -1, which then fails). Returns what
// GrowMessageStorage returns.
int EnsureMessageStorage(Run* run, int64_t needed);

// The capacity the file readers ask for when `needed` bytes do not fit:
// four times `needed`, or the largest 32-bit capacity when that is more;
// -1 when `needed` itself cannot be held.
int64_t MessageStorageTarget(int64_t needed);

// Resets `descriptor` to IBM MQ's default MQMD with Version 2: what every
// read of a message, from a queue or a file, starts from.
void ResetDescriptorDefaults(MQMD* descriptor);

// Starts the next read into `m`: Descriptor is OwnDescriptor, reset with
// ResetDescriptorDefaults; no data; Cursor at the start of Storage.
void StartMessage(MessageBuffer* m);

#endif  // ZEPLO_FILES_FILES_H_
