// The records shared by every subsystem of zeplo: the one RunOptions record
// of a run, its two queue-manager slots, the search strings and the message
// in hand. Procedures live in each subsystem's own header; this file holds
// only data, so that every subsystem can include it without pulling in the
// others.
//
// Ownership: RunOptions is created once by the driver (RunOptionsInit) and
// lives for the whole run; every procedure receives it by pointer. Pointers
// held here (lists, storage blocks, the selector copy) are labelled memory
// blocks owned by the subsystem that fills them.
#ifndef ZEPLO_DRIVER_RUN_OPTIONS_H_
#define ZEPLO_DRIVER_RUN_OPTIONS_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mqi/mqi.h"

struct MqApi;       // zeplo/mq: the 24 entry points bound for one slot
struct QueueList;   // zeplo/names: a growable list of destinations
struct QueueElement;  // zeplo/engine: one opened input queue

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
};

// One queue-manager connection of a run. Slot 0 is the first -m, slot 1 the
// second; InputSlot/OutputSlot of RunOptions say which one each side uses.
struct QmgrSlot {
  const char* Library;        // -l value ("mqm", "mqic"); null = default
  MqApi* Api;                 // entry points bound for this slot
  char Name[kMqNameLength + 1];  // -m value; empty = default queue manager
  MQHCONN Hconn;              // -1 while not connected
  MQLONG CommandLevel;        // filled on connect
  MQLONG Platform;            // filled on connect
  bool NoConnect;             // log replay: -m only names the log's qmgr
  const char* User;           // -u value
  const char* Password;       // -U value
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

// Bits of RunOptions::OverrideFields: which fields of the -A template are
// copied into each message.
enum OverrideFieldBits : uint32_t {
  kOverrideReplyTo = 1u << 0,
  kOverrideFormat = 1u << 1,
  kOverrideMsgType = 1u << 2,
  kOverrideCodedCharSetId = 1u << 3,
  kOverridePriority = 1u << 4,
  kOverrideExpiry = 1u << 5,
};

// The one message in hand. Every reader (queue, message file, delimited
// file, browse listing, log) leaves the current message here.
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

struct RunOptions {
  // Process-wide start-up readings.
  bool Interactive;       // standard input is a terminal
  int TerminalLines;      // terminal height for paging (default 24)

  // Queue managers.
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
  const char* LogSource;       // -j value as given; log replay reads it
  bool QuotedName;             // some destination was given in quotes
  struct IncludeFrame* InnermostInclude;  // destination file being read

  // Values.
  int32_t WaitInterval;        // seconds; -1 = unlimited
  int32_t DataWidth;           // -dw, default 25
  SearchString SearchAscii[kSearchStringsPerKind];
  SearchString SearchAsciiNot[kSearchStringsPerKind];
  SearchString SearchEbcdic[kSearchStringsPerKind];
  SearchString SearchEbcdicNot[kSearchStringsPerKind];
  SearchString SearchHex[kSearchStringsPerKind];
  SearchString SearchHexNot[kSearchStringsPerKind];
  int32_t ConvertCcsid;
  int32_t ConvertEncoding;
  int32_t RangeFirst;
  int32_t RangeLast;
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
  char* Selector;              // -H, labelled block "SQL92"
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
  MQMD* Override;                // points at the run's -A template
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

  // Derived after parsing.
  bool Generic, InputFileHasInserts, OutputFileHasInserts, PreliminaryCount,
      NoData, OutputIsNull;

  // Run state and counters, maintained by the processing loop.
  MessageBuffer Message;
  int64_t ReadCount;
  uint64_t ReadBytes;
  int64_t WrittenCount;
  uint64_t WrittenBytes;
  int32_t ReadFiles;
  int32_t WrittenFiles;
  int64_t UncommittedReadCount;
  uint64_t UncommittedReadBytes;
  int64_t UncommittedWrittenCount;
  uint64_t UncommittedWrittenBytes;
  int32_t UncommittedWrittenFiles;  // files a backout removed again
  int64_t MessageIndex;
  bool StopRequested;
  bool RolledBack;
  MQHOBJ OutputHobj;             // -1 while no output queue is open
  char ExitMessage[kExitMessageLength];

  // Processing-loop working state (zeplo/engine). The loop resets what it
  // owns at the start of each call; the callers reset the counters above.
  int64_t LastMessageTime;       // epoch seconds; -w is measured from it
  bool UseSyncpoint;             // gets and puts run in units of work
  int32_t UowMessageCount;       // messages in the open unit of work
  bool BackoutFailed[2];         // per slot: its last backout failed, so its
                                 // unit may be open and MQDISC would commit it
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
  MQHOBJ MonitorHobj;            // -R *: target queue opened for inquire
  int32_t UnflushedCount;        // messages written since the last flush
  MQMD TakenDescriptor;          // a destructive get's descriptor as got,
  int32_t TakenLength;           // and its length: what a rescue restores
  MQBYTE24* UnitMsgIds;          // two queue managers: MsgIds put in the open
  int32_t UnitMsgIdCount;        // unit ("UNITMSGIDS"), what a failed input
  int32_t UnitMsgIdCapacity;     // commit leaves on both

  // Message files (zeplo/files): the open streams, their names, the
  // per-file counts behind the -L limits, the header time and the
  // progress line. Streams are null while no file is open; "stdout" and
  // "null" make OutputStream the process's stdout.
  FILE* InputStream;
  FILE* OutputStream;
  char CurrentInputFile[kFileNameLength + 1];
  char CurrentOutputFile[kFileNameLength + 1];
  int64_t InputFileBytes;        // bytes read from the current input file
  int64_t FinishedInputBytes;    // bytes of earlier files of a sequence
  int64_t OutputFilePosition;    // bytes now in the current output file
  int64_t FileOpenTime;          // epoch seconds the output file was opened
  int32_t FileMessageCount;      // messages written to the current file
  int64_t CreatedTime;           // header time; 0 until the first header
  int64_t SelectedCount;         // messages that passed selection
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
  // Message file reader (zeplo/files): the input line storage and the
  // reader's place in the current input file; null until the first read.
  struct LineStorage* InputLines;
  // The output files of the open unit of work (zeplo/files, "UNITFILES"):
  // where a backout puts them back. Null while no unit involves a file.
  struct UnitFileList* UnitFiles;
};

#endif  // ZEPLO_DRIVER_RUN_OPTIONS_H_
