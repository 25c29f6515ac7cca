// zeplo/files: message files, their names, limits and the progress line.
//
// A message file is text: a header block, then one section per message
// (index line, descriptor lines "A KEY value" or a lone "N", data lines
// "X", "S" or "T", an empty line). The descriptor vocabulary is the
// MessageAttributeTable below; the writer here and the reader both walk it,
// so a key can never be known to one side only.
//
// Calling sequence of a run that writes a file:
//   OpenOutputFile (builds the name with ExpandFileName, asks before
//   overwriting) -> WriteFileHeader -> WriteMessage per message ->
//   FileLimitReached after each -> CloseOutputFile (and OpenOutputFile
//   again for the next file of a roll-over). PrepareOutputFile bundles the
//   before-write steps (room check, open, header) for the selection step.
// Reading runs use OpenInputFile and CloseInputFile.
//
// Error handling: every failure composes its text into run->ExitMessage
// with SetExitMessage (only when it is still empty, so the first error of
// the run is the one shown) and returns its code: 2102 for a failed write
// or flush, 2208 for files that cannot be opened, renamed or are refused.
// Nothing here exits or throws.
//
// When output reaches the disk, the one rule: every writer call (header,
// message, end line) hands its bytes to the system before it returns
// (write, then fflush), so a message counts as written only once all of it
// left the process; before each commit of destructive gets the file is
// made durable (MakeOutputDurable: fdatasync, and the directory of a new
// file); closing a file (a roll-over, the end) writes its end line and,
// for destructive gets, makes it durable too. The engine flushes once more
// before a commit (FlushOutputForCommit) only to catch an error that the
// stream kept in its flag.
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
  kAttributeEscapeOnly = 3,             // written only as ExactFormOf a text row
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

// The table, in writing order, and its row count (38 rows).
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

// The row to write `field` (the field `row` names, in some MQMD) with so
// that it reads back exactly: `row` itself, except for a text field whose
// plain form would not: one holding a CR or LF (the line would split), or
// anything but NULs after its first NUL (the plain form stops there).
// Such a field goes out as its hexadecimal twin (same field, kind bytes),
// a key no older file holds, so every byte value round-trips while the
// usual fields keep their readable form.
const MessageAttribute* ExactFormOf(const MessageAttribute* row, const unsigned char* field);

// ---- The writer ----------------------------------------------------------

// Version text carried by line 1 of every header.
inline constexpr const char kZeploFileVersion[] = "9.1.1";

// A file's end must be visible: a file cut short at any byte (a full disk,
// a crash, a kill) must never load as a shorter, complete-looking file.
// So line 1 of the header ends in kFileFormatMark, and a file so marked
// ends in kFileEndLine (written when the file is closed). In a marked file
// the reader refuses a line without its line end, a message that the end
// of the file interrupts, and a file that ends without its end line.
// Files without the mark (older versions, the other header word) load as
// they always have. Both lines are comments to any reader.
inline constexpr const char kFileFormatMark[] = " Format:2";
inline constexpr const char kFileEndLine[] = "* ZEPLO End";

// Writes the header block to the current output stream: nothing with -dH
// or to the null output; otherwise "* ZEPLO Version:... Created:...
// Format:2" (the Created time is the run's first header time, kept in
// CreatedTime), then the "* Qmgr" and "* Queue" lines when `sourceQueue`
// is a non-empty queue name (the qmgr line only when the input slot's name
// is non-empty), then an empty line. Sets OutputNeedsEnd. Returns 0, or
// 2102 with "Can not write to file '%s'" when a write fails.
int WriteFileHeader(Run* run, const char* sourceQueue);

// Writes kFileEndLine to the current output stream when its header was
// written (OutputNeedsEnd) and clears OutputNeedsEnd. CloseOutputFile calls
// it. Returns 0, or 2102 with "Can not write to file '%s'".
int WriteFileEnd(Run* run);

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

// OpenInputFile opens the input file when InputFile names one and no
// InputStream is open; OpenOutputFile likewise the output file, asking
// before overwriting an existing file only when standard input is a
// terminal (Options->Interactive). "stdout" writes to standard output;
// "null" too but sets Settings.OutputIsNull. A later file of a numbered
// input sequence that does not exist returns 0 with no InputStream: the
// input has simply ended there, unless a file of a later number exists
// (looking up to 1000 numbers on), which makes it a gap: 2208 with "Input
// file '%s' is missing but '%s' follows it". A directory, or a file that
// exists but cannot be opened, is refused at any place in a sequence.
// Return 0, or 2208 with ExitMessage set ("Duplicate input file", "Can
// not open input/output file", "File '%s' already exists.", or "Output
// file '%s' is the input file being read" whatever -F says). An output
// name that comes out the same as the file just written is refused as
// existing. Output files are never written through a symbolic link: a new
// one is created with O_CREAT|O_EXCL|O_NOFOLLOW, a name that exists (a
// dangling link too) is asked about like any file, and overwriting (-F or
// the answer) replaces the name itself; appending (-a a) refuses a link.
int OpenInputFile(Run* run);
int OpenOutputFile(Run* run);

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

// Ends the current output file with its end line (WriteFileEnd), makes it
// durable when the run gets destructively (its messages may belong to a
// unit not yet committed), then flushes and closes it (standard output is
// only flushed) and forgets the stream. Safe when none is open. Returns 0,
// or 2102 with "Can not write to file '%s'" (or the text of
// MakeOutputDurable) when a step fails; the stream is closed regardless.
int CloseOutputFile(Run* run);

// Makes what the current output file holds durable, for the commit of a
// unit of work whose messages were got destructively and written here:
// flushes the stream, fdatasyncs the file when it holds bytes not synced
// yet, and fsyncs its directory once for a file this run created. No file,
// the null output, or standard output that is no regular file: nothing to
// do. Returns 0, or 2102 with "Error flushing data to file '%s'RC(%d)"
// (the file or its directory, and the system error).
int MakeOutputDurable(Run* run);

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
// file to its size (a file cut back to a point after our header gets the
// end line again, so that it loads) and removes the files that were empty
// when this unit opened them (new ones, or ones it overwrote), counting
// those in
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
// listings of IBM MQ's browse sample (heading "AMQSBCG0", on IBM i
// "AMQSBCG4"). The reader
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

// The longest line a message file can hold: the X line of a message of IBM
// MQ's largest size (100 MB) written as one -dw line with its -da column,
// three bytes per data byte. A longer line (an endless stream such as
// /dev/zero) is refused rather than grown into all the memory there is.
inline constexpr int64_t kMaxLineLength = 3 * int64_t{104857600} + 64;

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
  bool LineEnded;        // the current line had its line end
  bool Marked;           // the file's header carries kFileFormatMark
  bool EndSeen;          // kFileEndLine was read after the last message
  int64_t MessagesRead;  // messages read whole from this file
  bool MessageOpen;      // a message's lines are being read
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
// end of file, no format mark seen), keeping the storage and the listing
// mode.
void ResetLineReader(Run* run);

// True when the header line [text, text + length) marks its file's end
// (kFileFormatMark with a format of 2 or more).
bool HeaderMarksEnd(const char* text, int32_t length);

// Refuses a marked file that was cut short: in a message (`inMessage`:
// "File '%s' is cut short on line %ld: message %lld is incomplete") or
// between messages ("File '%s' is cut short after message %lld: its end
// line is missing"). Leaves no message in hand. Returns 2208.
int RefuseCutFile(Run* run, bool inMessage);

// Skips leading lines of blanks, TABs, CRs and LFs, checks the first real
// line for "AMQSBCG0" or "AMQSBCG4" (browse listing, ListingMode set),
// "* ZEPLO" or "* DMPMQMSG", and makes the following line current. The
// browse sample's "Authentication not enabled" notice and its " - " lines
// may come before its heading. A file that ends
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
// The comments it passes keep the format mark and end line state. `raw`
// returns the next physical line as read, line end included. At end of
// file sets *endOfFile (and EndOfFile), no line current. Returns 0; 2071
// when the storage cannot grow; 2208 for a line without its line end in a
// marked file (RefuseCutFile), a line longer than kMaxLineLength ("Line
// %ld of file '%s' is longer than %lld bytes") or a failed read ("Error
// reading file '%s' after line %ld RC(%d)": never taken for the end).
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
// of MessageAttributeTable), the properties and dead-letter sections of
// current levels (see below), then its length line and dump lines. A
// descriptor whose version-2 fields all hold their defaults becomes
// version 1. A dump that holds other than the S bytes of "length - S of T
// bytes", or S below T, is refused ("Message data holds %lld bytes where
// its length line says %lld ...", "Listing shows %lld of the message's
// %lld bytes ..."), as is a dump without a length line ("Missing message
// length ..."). At the end of the file sets StopRequested and returns 0;
// also StopRequested with 2208 when the file ends inside a section.
// Returns 0, 2208 or 2071.
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

// ---- Browse-listing sections ----------------------------------------------
//
// Current levels of the browse sample print sections of their own between a
// message's descriptor and its dump:
//   "****Message properties****"  with the sample's property option: "None"
//       or one "  <name> : <value>" line per property;
//   "****Dead Letter Header****"  for a message whose Format is MQDEAD: the
//       MQDLH field by field, its 172 bytes then left out of the dump (the
//       length line counts only what follows it).
// ReadBrowseListingMessage reads them into a ListingSections record, puts
// the rebuilt dead-letter header in front of the dump, and after the dump
// hands the properties to the message as an MQRFH2. Every failure composes
// "... on line %ld of file '%s'" into ExitMessage and returns 2208 (2071
// when storage cannot be had); the message is then not handed on.

// A growable byte area of the listing reader: a CSGetMem block labelled
// "Listing Properties" (or null), only ever grown.
struct ListingBytes {
  unsigned char* Data;
  int32_t Length;
  int32_t Capacity;
};

struct ListingSections {
  bool HasDeadLetter;
  // The rebuilt MQDLH: integers in the descriptor's Encoding, text in its
  // code page.
  unsigned char DeadLetter[MQDLH_LENGTH_1];
  // The properties as MQRFH2 folders: each a native int32 NameValueLength
  // (a multiple of 4) and that many bytes of UTF-8 folder text, blank
  // padded. Empty when the section said "None" or was not there.
  ListingBytes Folders;
  // Working area of the properties reader: per property its folder name,
  // NUL, its element text, NUL.
  ListingBytes Entries;
};

// Frees the blocks of `s` and zeroes it. Safe on a zeroed record.
void ReleaseListingSections(ListingSections* s);

// Reads the dead-letter section whose heading is the current line, up to
// the next line that begins "****" (left current), and rebuilds the MQDLH
// into s->DeadLetter for the descriptor `md`. Every field must be there
// and every number whole. Returns 0; 2208 ("Unrecognised attribute '%s'",
// "Unexpected end of section", "Unexpected end of file" (StopRequested
// set), "Badly formed number", "Incomplete dead-letter header"); 2071.
int ReadListingDeadLetter(Run* run, const MQMD* md, ListingSections* s);

// Reads the properties section whose heading is the current line, up to
// the next line that begins "****" (left current), into s->Folders.
// Property names say their folder as MQ maps them: "usr.x", "jms.x" and
// "mcd.x" go to those folders, a name without a dot to usr, "f.x" to a
// folder f (marked content='properties' unless MQ knows f). Values: 'text'
// (a string), X'hex' (bin.hex), TRUE/FALSE (boolean), NULL (xsi:nil), whole
// numbers (i4, or i8 beyond 32 bits), other numbers (r8). Returns 0; 2208
// with "Unrecognised property on line %ld of file '%s'" for any other line
// (names with groups included) and "Unexpected end of file" (StopRequested
// set); 2071.
int ReadListingProperties(Run* run, ListingSections* s);

// Gives s->Folders (when there are any) to the message in hand as an
// MQRFH2 placed where MQ places one: after the MQDLH and MQXQH headers the
// data starts with, before anything else. The header before it (or the
// descriptor) gets Format "MQHRF2  "; the MQRFH2 takes over that header's
// Format, Encoding and CodedCharSetId, its integers in that Encoding, its
// StrucId and Format in that code page, NameValueCCSID 1208. Returns 0, or
// 2071 when the storage cannot grow.
int AddListingProperties(Run* run, const ListingSections* s);

// The reader's format error: composes `format` (taking the current line
// number and the file name) into ExitMessage, clears DataLength, returns
// 2208.
int ListingError(Run* run, const char* format);

// ListingError for a listing that ends inside a section: "Unexpected end
// of file on line %ld of file '%s'", StopRequested set.
int ListingEndOfFile(Run* run);

// ListingError for a field name the reader does not know: "Unrecognised
// attribute '%s' on line %ld of file '%s'" with the `length` characters at
// `name`.
int ListingUnknownName(Run* run, const char* name, int32_t length);

// ---- Delimited and whole files (-n) --------------------------------------
//
// Plain files loaded as messages: a whole file as one message (-n1), or a
// file cut into records by delimiter texts (one per line by default, or
// between start and end markers), each record optionally preceded by a
// property section between property delimiters that becomes an MQRFH2 in
// front of the message data.
//
// Calling sequence (processing loop): CheckDelimiters once before the
// first message; ReadDelimitedMessage once per message; ResetDelimitedFile
// whenever the input stream is rewound or the next file of a sequence is
// opened; ReleaseDelimitedFile when the loop ends. A preliminary count is
// a first run of ReadDelimitedMessage with Files.CountingPass on. The
// reader's state is run->Files.Delimited (DelimitedFile, in run.h).
//
// The file is read through one sliding buffer ("FILE"). Records without
// properties are handed on as views into it (Message.Cursor points into
// the buffer, valid until the next read); records with properties are
// assembled in the reused "Msg+Properties" block. Nothing of a file is
// held beyond the record being read, and no record may exceed
// kMaxDelimitedRecord bytes: a multi-gigabyte file streams in bounded
// memory.
//
// Errors: settings faults return 3229 with ExitMessage set (before any
// message); read and format faults 2208; storage 2071.

// The longest record (properties and data) and the largest whole file.
inline constexpr int64_t kMaxDelimitedRecord = 999999999;
// Brackets nested deeper than this fail the bracket check.
inline constexpr int32_t kMaxBracketDepth = 4096;

// The state of a bracket check over text scanned from its start: ( [ { <
// each wait for their own closer, innermost last.
struct BracketScan {
  int32_t Depth;
  bool Failed;        // a closer that was not the one expected: for good
  char FailedOn;      // the closer expected there, or the stray character
  char Expected[kMaxBracketDepth];
};

// Turns delimiter text into bytes: \n is LF, \\ a backslash, \ and
// decimal digits the byte of that code (all digits taken), any other
// character itself. Returns 0; 3229 with "Message delimiter character code
// must be between 0 and 255.\n" or "Unrecognised Message delimiter
// character code.\n" in ExitMessage.
int ParseDelimiter(Run* run, const char* text, Delimiter* out);

// Checks and parses the -n settings into run->Files.Delimited, in order:
// the context (-Cd or -Cn only), -n1 without message delimiters, not both
// include and exclude, LF as the default end delimiter, the escapes,
// sameness, and (unless -nB) the four delimiters end to end
// bracket-balanced. The texts in RunOptions stay as typed, so a second
// call (the real pass after a count) parses them again to the same bytes.
// Returns 0 or 3229 with ExitMessage set.
int CheckDelimiters(Run* run);

// The bracket check of [from, to): every ( [ { < closed by its own closer
// in order. Returns 0; 3229 with "Unmatched delimiter '%c' bracket.\n"
// (the closer expected, or the stray closer) or "Unmatched delimiter
// brackets.\n" in ExitMessage. Always 0 with -nB.
int CheckBrackets(Run* run, const unsigned char* from, const unsigned char* to);

// Starts a bracket scan, and advances one over [p, end): false once a
// closer does not match (or the nesting is too deep), for good. Balanced
// when not Failed and Depth is 0.
void BracketScanStart(BracketScan* scan);
bool BracketScanAdvance(BracketScan* scan, const unsigned char* p, const unsigned char* end);

// Copies property text to `out` (at least `length` bytes) without the
// layout whitespace: blanks, TABs, CRs and LFs at the start, after a tag
// and before one; tags and quoted strings stay as they are. Returns the
// new length.
int32_t StripPropertyWhitespace(char* out, const char* text, int32_t length);

// Delivers the next record of the input file into run->Message: the
// default version-1 descriptor with Format MQSTR (MQHRF2 when the record
// had properties). Returns 0 with a message; 0 with StopRequested when no
// record is left; 2208 with ExitMessage for a read error, a missing
// property end, a record that never ends ("No end delimiter found ...")
// or whose brackets never balance, or one longer than
// kMaxDelimitedRecord; 2071 when storage cannot be had. With -n1 the
// whole file is the message and the file is closed. During a counting
// pass only FoundCount and FoundWithPropsCount move.
int ReadDelimitedMessage(Run* run);

// ---- Delimited files: the pieces the record reader is built from ----

// One search for a delimiter. Candidates are looked for from Next, and
// only those starting before Limit (-1: anywhere); the bracket check runs
// from Base up to a start candidate, or through an end candidate (End).
struct DelimiterSearch {
  const Delimiter* Target;
  bool End;
  int64_t Base;
  int64_t Next;
  int64_t Limit;
  int64_t Scanned;          // the bracket check has covered [Base, Scanned)
  BracketScan Brackets;
  int64_t At;               // result: where the accepted delimiter starts
  int32_t Length;           // its length; 0 for the end of the text
  bool Rejected;            // some candidate failed the bracket check
};

// Sets up a search (At -1, nothing rejected).
void StartDelimiterSearch(DelimiterSearch* s, const Delimiter* target, bool end, int64_t base,
                          int64_t next, int64_t limit);

// Runs search `s`, reading more of the file into the buffer while the text
// held does not decide it. *found tells whether a delimiter was accepted
// (At, Length); an exactly-LF end delimiter also matches the end of the
// file (Length 0) when text remains and the brackets allow. A search whose
// bracket check failed for good, or that reached Limit, ends unfound
// without reading on. Returns 0, or the read or storage failure.
int FillFileBuffer(Run* run, DelimiterSearch* s, bool* found);

// Ties run->Files.Delimited to the current input stream (a new stream
// empties it) and reads until text lies after ReadPos or the file ends;
// *more tells which.
// Returns 0 or a read or storage failure.
int EnsureDelimitedText(Run* run, bool* more);

// Refuses the record that starts at Files.Delimited.KeepPos as longer than
// kMaxDelimitedRecord: 2208 with ExitMessage set.
int DelimitedRecordTooLong(Run* run);

// The buffered byte at file offset `offset`.
// REQUIRES: BufferOffset <= offset <= BufferOffset + Valid.
const unsigned char* DelimitedBytes(const DelimitedFile* df, int64_t offset);

// Empties the buffer and forgets the place in the file, keeping the
// parsed delimiters and the storage.
void ResetDelimitedFile(Run* run);

// Frees the buffer and zeroes the record. Safe on a zeroed record.
void ReleaseDelimitedFile(Run* run);

// ---- File format self-test (-dxtest) --------------------------------------

// The name the self-test writes and reads, used as given (backslashes and
// all: on this system it is one file in the current directory).
inline constexpr const char kSelfTestFile[] = "c:\\temp\\zeplo.tst";

// Writes a message with every descriptor field set from the attribute
// table (row i gives the value i, 'a' + i or bytes i) and 4096 bytes of
// data 0, 1, ... 255, 0, ... to `file` and reads it back, in the hex, ASCII
// and ASCII column layouts in turn, reporting each pass and each failed
// comparison on `report`; a failed comparison also leaves its line in
// cstrap.txt. Uses a private Run over private options. The file is left in
// place.
// Returns 0 when every comparison matched, otherwise 2195.
int FileFormatSelfTest(const char* file, FILE* report);

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
