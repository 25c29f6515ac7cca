// zeplo/run: the records of a run, the bottom layer that every subsystem
// may include (names/, mq/, files/, engine/ and the driver above them). It
// holds data, the run's one exit-message procedure and the set-up of a Run;
// everything else lives in the subsystems' own headers.
//
// The state of a run is divided by owner; only the owner writes a record,
// the others read it:
//
//   record        owner                      lifetime
//   RunOptions    driver (parse and checks)  whole process; read-only once
//                                            CheckOptions has passed
//   RunSettings   driver and the opens       one run; set before the loop
//                 (engine, files)            and switched off at most
//   QmgrSlot[2]   mq                         one run (connect .. disconnect)
//   RunCounters   engine and files           one run; read by the report
//   MessageBuffer files (storage), readers   one processing-loop call
//   EngineState   engine                     one run (queue handles and
//                                            arrays until the disconnect;
//                                            the consume state for one
//                                            asynchronous consume; the
//                                            queue summary's statistics)
//   FileState     files                      one run (streams until closed)
//   LogReplay     logreplay                  one run (source open .. release)
//   GenericRun    generic                    one generic unload or load
//                                            (its lists of queues and files)
//   ExitMessage   whoever fails first        one run (first error sticks)
//
// Run bundles them for one run; the driver creates it after the checks
// (RunInit) and every procedure below the driver receives it by pointer.
// Pointers held here (lists, storage blocks, arrays, the selector copy) are
// labelled memory blocks owned by the subsystem that fills them.
#ifndef ZEPLO_RUN_RUN_H_
#define ZEPLO_RUN_RUN_H_

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mqi/mqi.h"

struct MqApi;         // zeplo/mq: the 24 entry points bound for one slot
struct QueueList;     // zeplo/names: a growable list of destinations
struct QueueElement;  // zeplo/engine: one opened queue
struct LineStorage;   // zeplo/files: the input line and the reader's place
struct LogReplay;     // zeplo/logreplay: the log being read and its parts
struct QueueFileEntry;  // zeplo/generic: one queue or file of a generic run
struct UnitFileList;  // zeplo/files: the output files of the open unit

// Length limits of the fixed text fields. The +1 in each field is the
// terminator; the limit itself is what a user may type.
enum : int {
  kMqNameLength = 48,         // queue and queue manager names
  kFileNameLength = 255,      // -f / -F values
  kSearchStringBytes = 100,   // one SearchString's text
  kSearchStringsPerKind = 3,  // entries per search list
  kDelimiterLength = 99,      // -n delimiters
  kExitMessageLength = 712,   // ExitMessage, terminator included
  kIdentifierLength = 24,     // MsgId, CorrelId, GroupId
  kLsnLength = 49,            // a log sequence number as text
  kLogCommandLength = 299,    // the log formatter's command line as shown
  kLogMaxArgs = 12,           // words of the formatter's command line
};

// One queue-manager connection of a run. Slot 0 is the first -m, slot 1 the
// second; InputSlot/OutputSlot of RunOptions say which one each side uses.
// The option parser fills Library, Name, NoConnect, User and Password in
// RunOptions; RunInit copies them into the run's own slots, which mq owns
// from then on (Api, Hconn, CommandLevel, Platform, and Name, which the
// connection replaces with the queue manager's own).
struct QmgrSlot {
  const char* Library;        // -l value ("mqm", "mqic"); null = default
  MqApi* Api;                 // entry points bound for this slot
  char Name[kMqNameLength + 1];  // -m value; empty = default queue manager
  MQHCONN Hconn;              // -1 while not connected
  MQLONG CommandLevel;        // filled on connect
  MQLONG Platform;            // filled on connect
  bool NoConnect;             // log replay: -m only names the log's qmgr
  const char* User;           // -u value
  char* Password;             // -U value: a "Password" block TakePassword
                              // copied out of argv; wiped once connected
};

// A search string: ASCII as typed, EBCDIC already converted, hex as the
// bytes it spells. Length 0 marks a free entry.
struct SearchString {
  int32_t Length;
  unsigned char Text[kSearchStringBytes];
};

enum class ContextMode {
  SetAll,             // -CA (default): MQOO_SET_ALL_CONTEXT
  SetAllUpdateTimes,  // -Ct: set all, put date and time made current
  SetIdentity,        // -CI
  PassAll,            // -Ca
  PassIdentity,       // -Ci
  Default,            // -Cd
  None,               // -Cn
};

// Bits of RunOptions::OverrideFields: which fields of the -A template
// (RunOptions::Override) are copied into each message.
enum OverrideFieldBits : uint32_t {
  kOverrideReplyTo = 1u << 0,
  kOverrideFormat = 1u << 1,
  kOverrideMsgType = 1u << 2,
  kOverrideCodedCharSetId = 1u << 3,
  kOverridePriority = 1u << 4,
  kOverrideExpiry = 1u << 5,
};

// Which range line the selection report shows (CheckOptions decides).
enum class RangeLine { None, Single, Between, Onwards, UpTo };

// The one message in hand. Every reader (queue, message file, delimited
// file, browse listing, log) leaves the current message here. The storage
// is grown by zeplo/files (GrowMessageStorage) and lives for one call of
// the processing loop.
// Invariant: Capacity is a multiple of 4096 and only ever grows.
struct MessageBuffer {
  unsigned char* Storage;   // labelled block "Message Storage"
  int32_t Capacity;         // bytes in Storage
  int32_t DataLength;       // full length of the current message's data
  unsigned char* Cursor;    // start of the data to deliver
  MQMD* Descriptor;         // normally &OwnDescriptor
  MQMD OwnDescriptor;       // version 2, reset before every read
  int32_t ExpectedLength;   // log replay: length the log recorded
  unsigned char* PropStorage;  // labelled block "Msg+Properties" (delimited files)
  int32_t PropCapacity;
};

// ---- Parsed options --------------------------------------------------------
//
// Every option value and switch of the command line, the start-up readings
// and what CheckOptions completes. Written only by the driver's option
// parser (with zeplo/names for the destination lists) and by CheckOptions;
// read-only afterwards: a Run sees it through a const pointer. What a run
// has to adjust later lives in RunSettings.
struct RunOptions {
  // Process-wide start-up readings.
  bool Interactive;       // standard input is a terminal
  int TerminalLines;      // terminal height for paging (default 24)

  // Queue managers as the command line names them (see QmgrSlot).
  QmgrSlot Qmgrs[2];
  int32_t InputSlot;
  int32_t OutputSlot;
  char QueueSeparator;    // -$; 0 = automatic

  // Queues and files.
  char OutputQmgrName[kMqNameLength + 1];
  char OutputQueueName[kMqNameLength + 1];
  QueueList* OutputList;
  QueueList* InputList;
  char InputFile[kFileNameLength + 1];
  char OutputFile[kFileNameLength + 1];
  const char* FileAccessMode;  // -a, passed to the file open unchanged
  bool LogMode;                // -j
  const char* LogSource;       // -j value as given
  char LogPath[kFileNameLength + 1];  // -j path; empty for "*"
  char LogStartLsn[kLsnLength + 1];   // -j (start-end); empty: none
  char LogEndLsn[kLsnLength + 1];
  bool QuotedName;             // some destination was given in quotes
  struct IncludeFrame* InnermostInclude;  // destination file being read

  // Values.
  int32_t WaitInterval;        // seconds; -1 = unlimited
  int32_t DataWidth;           // -dw as given (EffectiveDataWidth applies it)
  SearchString SearchAscii[kSearchStringsPerKind];
  SearchString SearchAsciiNot[kSearchStringsPerKind];
  SearchString SearchEbcdic[kSearchStringsPerKind];
  SearchString SearchEbcdicNot[kSearchStringsPerKind];
  SearchString SearchHex[kSearchStringsPerKind];
  SearchString SearchHexNot[kSearchStringsPerKind];
  int32_t ConvertCcsid;
  int32_t ConvertEncoding;
  int32_t RangeFirst;          // -r; in order once the checks have passed
  int32_t RangeLast;
  RangeLine RangeReport;       // the range line of the selection report
  int32_t TransactionLimit;    // default 200
  int64_t NowSeconds;          // start of the run, epoch seconds
  int64_t NowCentiseconds;
  int64_t PutBefore;           // epoch seconds; 0 = none
  int64_t PutAfter;
  int32_t OlderThan;           // seconds; 0 = none
  int32_t YoungerThan;
  int32_t Delay;               // -D
  int32_t InitialBufferSize;   // bytes; default 1
  uint32_t SizeAtLeast;        // 0xFFFFFFFF = none
  uint32_t SizeBelow;
  int32_t PriorityMin;         // -1 = none
  int32_t PriorityMax;
  MQBYTE24 SelectMsgId;
  MQBYTE24 SelectCorrelId;
  MQBYTE24 SelectGroupId;
  char* Selector;              // -H, labelled block "SQL92" (the driver frees it)
  char TargetQmgrMask[kMqNameLength + 1];
  char TargetQueueMask[kMqNameLength + 1];
  int32_t TargetQmgrMaskLength;
  int32_t TargetQueueMaskLength;
  int32_t DlqReason;
  char MsgStartDelimiter[kDelimiterLength + 1];
  char MsgEndDelimiter[kDelimiterLength + 1];
  char PropStartDelimiter[kDelimiterLength + 1];
  char PropEndDelimiter[kDelimiterLength + 1];
  uint32_t StatusEveryMessages;  // default 1000
  uint32_t StatusEverySeconds;   // default 300
  bool LimitsActive;
  int32_t MaxMessagesPerFile;    // default 1
  int64_t MaxFileSize;           // bytes; 0 = none
  int32_t MaxFileAge;            // seconds; 0 = none
  int32_t Rate;                  // messages per second; -1 = "*"
  int32_t RateDuration;          // seconds
  uint32_t OverrideFields;       // OverrideFieldBits
  MQMD Override;                 // the -A template (MQMD defaults until -A)
  ContextMode Context;           // -C, default SetAll

  // Yes/no switches.
  bool Quiet, DestructiveGet, ForceOverwrite, Convert, SelectionActive, Purge,
      StripHeaders, SelectByMsgId, SelectByCorrelId, SelectByGroupId,
      SelectByTarget, InvertSelection, SelectByDlqReason, RelativeDelay;
  // Display switches.
  bool AsciiLines, AsciiColumns, ApplDataAsChar, WriteIndex, Summary,
      SummaryNoQStatus, SummaryMsgIds, SummaryCorrelIds, ShowTimeOnQueue,
      Printable, TextLines, RawBytes, NoMqmd, NoHeader, Count, SelfTest;
  // General switches.
  bool ReadAhead, AsyncPut, NoForceRfh2, IndividualQueues, ExclusiveInput,
      NoBackout, FullData, Cfh3Processing;
  // Non-native file switches.
  bool NonNative, WholeFileOneMessage, IncludeMsgDelimiters,
      ExcludeMsgDelimiters, IncludePropDelimiters, ExcludePropDelimiters,
      AllowSameDelimiters, NoPreliminaryCount, KeepPropWhitespace,
      NoBracketCheck;
  // Verbose and diagnostic switches.
  bool PrintApis, PrintDestinations, StatusReports, RateDetails, MemoryTrace,
      TimeTrace, PrintPlatform;

  // Completed by CheckOptions.
  bool Generic, InputFileHasInserts, OutputFileHasInserts, PreliminaryCount;
  // -j: the file to read, or the formatter's command line to run.
  bool LogPathIsFile;                       // LogPath names formatted text
  char LogCommand[kLogCommandLength + 1];   // "dmpmqlog -m QM1 -b ", as shown
  char LogArgText[kLogCommandLength + 1];   // the same words, each terminated
  int32_t LogArgCount;
};

// ---- Settings of the run ---------------------------------------------------
//
// What the run decides or adjusts after the checks: RunInit starts the
// adjustable ones from the options; the run driver and the opens (input
// queues, output file) change them before the loop; a few may be switched
// off once during the run, as said. Read these, not the options
// of the same name, below the driver.
struct RunSettings {
  bool SelectionActive;    // browse and select; off for a get of every message
  bool NoBackout;          // no backout requeue (also on once inquire is refused)
  bool AsyncPut;           // -O a; off for the run once the queue manager refuses it
  bool NoForceRfh2;        // -O F; also on for queue managers before 7.0
  int32_t InitialBufferSize;  // bytes of message storage to start with
  bool Quiet;              // -q; also on once an asynchronous consume cannot
                           // start: the error alone is reported
  bool OutputIsNull;       // the output file is "null": count, write nothing
  bool NoData;             // a descriptor-only get serves the run
  bool PreliminaryCount;   // a delimited file is counted (and the user
                           // asked) before the real pass; off once counted
};

// ---- Counters ----------------------------------------------------------------
//
// The run's counts, for the final report and the file-name inserts. The
// processing loop and the sinks (engine, files) count; the driver reports.
struct RunCounters {
  int64_t ReadCount;
  uint64_t ReadBytes;
  int64_t WrittenCount;
  uint64_t WrittenBytes;
  int32_t ReadFiles;
  int32_t WrittenFiles;
  // Of the counts above, what the open unit of work holds.
  int64_t UncommittedReadCount;
  uint64_t UncommittedReadBytes;
  int64_t UncommittedWrittenCount;
  uint64_t UncommittedWrittenBytes;
  int32_t UncommittedWrittenFiles;  // files a backout removed again
  int64_t MessageIndex;          // -1 until the loop passes its set-up checks
  int64_t SelectedCount;         // messages that passed selection
};

// ---- Engine state (zeplo/engine) ---------------------------------------------

// The opened input queues: a "HOBJS" QueueElement array, one per entry of
// InputList, allocated by OpenInputQueues. Handles stay open until the
// disconnect; the array is freed by ReleaseEngineQueues.
struct InputQueues {
  QueueElement* Elements;
  int32_t Count;
  int32_t EmptyCount;     // asynchronous consume: queues reported empty
  int32_t ActiveCount;    // asynchronous consume: queues delivering
};

// The opened outputs: one handle for the single queue or the distribution
// list, or (-O I) a "QELEMS" QueueElement per destination; the "RESPONSES"
// MQRR array of a distribution list; the -R * target opened for inquire.
struct OutputQueues {
  MQHOBJ Hobj;            // -1 while no output queue is open
  QueueElement* Elements;
  int32_t Count;
  MQRR* Responses;
  MQHOBJ MonitorHobj;     // -1 unless -R * opened it
};

// A flag that one thread posts and another waits for (the engine's
// CreateEvent, PostEvent, WaitEvent, DestroyEvent). Zeroed, it is not
// created.
struct EventSemaphore {
  bool Created;
  bool Posted;
  pthread_mutex_t Mutex;
  pthread_cond_t Condition;  // on the monotonic clock
};

// One asynchronous consume of several input queues (ConsumeQueues): what
// the consumer callbacks share with the main thread besides the rest of
// the run. Set up at the start of each consume.
struct ConsumeState {
  EventSemaphore Event;   // created only with a wait interval
  bool Threaded;          // callbacks run on the library's thread
  int HeldCode;           // the first failure of a callback; the run's code
};

// ---- Queue summary (zeplo/engine) ----------------------------------------------

enum : int { kAgeBucketCount = 12, kSizeBucketCount = 8 };

// What the queue summary (-ds) knows of the messages seen so far. Ages are
// measured from the start of the run (NowSeconds, NowCentiseconds). Zero
// at start; the engine adds each selected message (AccumulateStatistics).
struct SummaryStatistics {
  int64_t YoungestAgeSeconds, YoungestAgeCentiseconds;
  MQBYTE24 YoungestMsgId, YoungestCorrelId;
  int64_t OldestAgeSeconds, OldestAgeCentiseconds;
  MQBYTE24 OldestMsgId, OldestCorrelId;
  int64_t TotalAgeCentiseconds;
  int32_t SmallestSize;
  MQBYTE24 SmallestMsgId, SmallestCorrelId;
  int32_t LargestSize;
  MQBYTE24 LargestMsgId, LargestCorrelId;
  uint32_t AgeCounts[kAgeBucketCount];
  uint32_t SizeCounts[kSizeBucketCount];
};

// Everything the engine keeps between messages. Reset by the processing
// loop at its start, except the queue records (opened before the loop) and
// the summary statistics.
struct EngineState {
  InputQueues Input;
  OutputQueues Output;
  int64_t LastMessageTime;       // epoch seconds; -w is measured from it
  bool UseSyncpoint;             // gets and puts run in units of work
  int32_t UowMessageCount;       // messages in the open unit of work
  bool BackoutFailed[2];         // per slot: its last backout failed, so its
                                 // unit may be open and MQDISC would commit it
  int32_t UnflushedCount;        // messages written since the last flush
  uint32_t StatusCount;          // -vs: messages since the last status line
  int64_t StatusTime;            // epoch seconds of the last status line
  int64_t ThruputCount;
  int64_t ThruputTime;
  int32_t PeriodStart;           // -R: ms clock at the start of the period
  int32_t PeriodCount;           // -R: messages read in this period
  int32_t RateGuess;             // -R *: messages per period wanted
  int32_t TargetDepth;           // -R *: depth seen at the last period end
  int64_t RateEndTime;           // -R n:d: epoch seconds; 0 = none
  bool RateSlow;
  int32_t PutsForMessage;        // destinations that took this message
  int64_t BytesForMessage;
  // -D r: the message whose put time the waits are measured from.
  bool RelativeSet;
  int64_t RelativePutCs;         // its put time, centiseconds
  int32_t RelativeStartMs;       // the millisecond clock when it was delivered
  ConsumeState Consume;
  SummaryStatistics Summary;     // -ds: gathered for the whole run, never reset
  MQMD TakenDescriptor;          // a destructive get's descriptor as got,
  int32_t TakenLength;           // its length and where its data lies
  unsigned char* TakenData;      // (Storage, or a consumer callback's lent
                                 // buffer): what a rescue restores
  MQBYTE24* UnitMsgIds;          // two queue managers: MsgIds put in the open
  int32_t UnitMsgIdCount;        // unit ("UNITMSGIDS"), what a failed input
  int32_t UnitMsgIdCapacity;     // commit leaves on both
};

// ---- File state (zeplo/files) -------------------------------------------------

// A -n delimiter once parsed: the bytes its text stands for (NUL allowed).
// Length 0 means none was given.
struct Delimiter {
  unsigned char Bytes[kDelimiterLength + 1];
  int32_t Length;
};

// The delimited-file reader's state for the current input file: the parsed
// delimiters and the sliding "FILE" buffer. Positions are offsets in the
// file; Buffer holds the file's bytes [BufferOffset, BufferOffset + Valid).
// Released by ReleaseDelimitedFile (safe on a zeroed record).
struct DelimitedFile {
  Delimiter MsgStart, MsgEnd, PropStart, PropEnd;  // set by CheckDelimiters
  unsigned char* Buffer;    // labelled "FILE"
  int64_t Capacity;
  int64_t Valid;
  int64_t BufferOffset;
  int64_t ReadPos;          // where the next search starts
  int64_t KeepPos;          // first byte still needed (the record being read)
  bool EndOfFile;
  FILE* Stream;             // the stream the buffer was filled from
};

// The open streams, their names, the per-file counts behind the -L limits,
// the header time, the progress line, the generic name parts, the
// reader's line storage and the delimited reader. Streams are null while
// no file is open; "stdout" and "null" make OutputStream the process's
// stdout.
struct FileState {
  FILE* InputStream;
  FILE* OutputStream;
  char CurrentInputFile[kFileNameLength + 1];
  char CurrentOutputFile[kFileNameLength + 1];
  int64_t InputFileBytes;        // bytes read from the current input file
  int64_t FinishedInputBytes;    // bytes of earlier files of a sequence
  int64_t OutputFilePosition;    // bytes now in the current output file
  int64_t OutputSyncedPosition;  // OutputFilePosition at the last fdatasync
  bool OutputDirectoryUnsynced;  // the file is new and its name not yet synced
  bool OutputNeedsEnd;           // a header was written: closing ends the file
  int64_t FileOpenTime;          // epoch seconds the output file was opened
  int32_t FileMessageCount;      // messages written to the current file
  int64_t CreatedTime;           // header time; 0 until the first header
  bool OverwriteAll;             // "a" answered to the overwrite question
  int64_t ProgressTotal;         // 0 = no progress line
  int64_t ProgressStart;         // epoch seconds
  int32_t ProgressLastPercent;
  int64_t ProgressLastTime;
  int32_t ProgressTextLength;    // characters of progress text on screen
  bool ProgressActive;
  bool CountingPass;             // the preliminary count of a delimited file
  int32_t FoundCount;            // messages found by the counting pass
  int32_t FoundWithPropsCount;   // of those, with properties
  char GenericDirectory[kFileNameLength + 1];  // ends in '/'
  char GenericBaseName[kFileNameLength + 1];
  char GenericFileType[20];                    // ".zpd" by default
  int32_t GenericFileTypeLength;
  // The input line storage and the reader's place in the current input
  // file; null until the first read, freed when the loop returns.
  LineStorage* InputLines;
  // The delimited reader (-n): its delimiters and its buffer, freed when
  // the loop returns.
  DelimitedFile Delimited;
  // The output files of the open unit of work ("UNITFILES"): where a
  // backout puts them back. Null while no unit involves a file.
  UnitFileList* UnitFiles;
};

// ---- Generic state (zeplo/generic) ---------------------------------------------
//
// The lists of one generic unload or load, "QN" blocks sorted by queue name
// (byte order) and, among equal names, by roll-over index. Empty outside a
// generic run; GenericRunRelease frees them.
struct GenericRun {
  QueueFileEntry* QueueFiles;     // queues to unload / files to load
  QueueFileEntry* ExistingFiles;  // files already in the directory (unload)
};

// ---- The run -------------------------------------------------------------------

struct Run {
  const RunOptions* Options;
  RunSettings Settings;
  QmgrSlot Qmgrs[2];
  RunCounters Counters;
  MessageBuffer Message;
  EngineState Engine;
  FileState Files;
  LogReplay* Log;         // -j: null until the log is opened (zeplo/logreplay)
  GenericRun Generic;
  bool StopRequested;     // a stop that is not an error: end of source, limit
  bool RolledBack;        // a unit of work was backed out
  char ExitMessage[kExitMessageLength];
};

// Starts *run for the checked `options` (kept by pointer: they must
// outlive the run): zeroes everything, copies the queue-manager slots and
// the adjustable settings from the options, and marks every handle unused.
void RunInit(Run* run, const RunOptions* options);

// Composes `format` into run->ExitMessage (cut to fit, always terminated)
// when it is still empty, so that the first error of a run is the one
// shown, and returns `rc` unchanged. Every subsystem sets its error text
// this way: `return SetExitMessage(run, 2208, "... on line %ld of file
// '%s'", line, name);`.
int SetExitMessage(Run* run, int rc, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#endif  // ZEPLO_RUN_RUN_H_
