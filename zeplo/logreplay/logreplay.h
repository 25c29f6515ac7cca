// zeplo/logreplay: rebuilding messages that were put to a queue from the
// text that the queue manager's log formatter, dmpmqlog, prints.
//
// The text comes from a file that holds the formatter's output, or from a
// dmpmqlog child process that the program starts itself and reads through a
// pipe. The reader scans the log records in order, keeps every "AQM Put
// Part" record of the chosen queue, and at each "AQM Put Message" record of
// the queue rebuilds the whole message (descriptor and data) from that
// record and the parts it links to. Each message then goes through
// selection and output like a message read from a queue.
//
// Calling sequence:
//   ParseLogParameter       at -j, while the options are read
//   PrepareLogCommand       once the command line is complete (the checks)
//   OpenLogSource           by the run driver, before the processing loop
//   PrepareLogReader        by the processing loop, once
//   NextLogMessage          by the processing loop, once per message
//   CheckLogMessage         by the selection step, for each selected message
//   ReleaseLogReplay        by the run driver at the end (waits for the
//                           formatter, so no zombie is left)
//
// Error handling: refusals of the command line print their message and
// return 2046. While the log is read, every message goes through
// ReportMessage, which prefixes the log line number when the log is a
// file. The reader's codes: 2110 a record's format is not recognised (or
// parts stayed unused at the end), 2142 no log record at all, 2242 LSN,
// dump or join errors and messages of the wrong length, 4018 no storage
// for a part, 2071 no storage for a message, 2195 a failed system call or
// a formatter that did not end well.
#ifndef ZEPLO_LOGREPLAY_LOGREPLAY_H_
#define ZEPLO_LOGREPLAY_LOGREPLAY_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "zeplo/run/run.h"

enum : int {
  kLogLineLength = 1023,      // characters of a log line kept; the reader
                              // looks at the first 70 or so only
  kLogReadBlock = 64 * 1024,  // bytes taken from the source in one read
  kLogMessageStorage = 1048576,  // initial message storage in log mode
  // The largest message or record piece believed: IBM MQ's longest
  // message. Larger lengths in a record are damage, not data.
  kLogMaxMessageLength = 104857600,
};

// One stored "AQM Put Part" record: a labelled block "MSGPART" holding this
// record and then Capacity data bytes. Slots stay on the list for the whole
// run and are reused (first free slot with room) rather than freed.
// The list is linked both ways so that the parts of one message, which
// lie next to each other whichever way they were stored, are found from
// one another at once.
struct MessagePart {
  MessagePart* Next;
  MessagePart* Previous;
  int32_t Capacity;    // data bytes the block holds
  int32_t DataLength;  // 0: the slot is free
  int32_t LineNumber;  // log line of the record
  char Lsn[kLsnLength + 1];
  char PrevLsn[kLsnLength + 1];  // empty: the oldest part
  MessagePart* JoinNext;         // working link while one message is joined
  bool Joining;                  // on the chain being joined (catches loops)
};

// The state of log replay for one run, reached from Run::Log: a labelled
// block "LOGREPLAY" made by OpenLogSource and freed by ReleaseLogReplay.
// The formatter's command line is settled by the checks, in RunOptions.
struct LogReplay {
  // The source. Fd means something only while SourceOpen; Child is the
  // formatter's pid, 0 when none runs (or it has been waited for).
  bool FromFile;    // the text being read comes from the -j file
  bool SourceOpen;
  int Fd;
  pid_t Child;
  bool SourceFailed;  // a read error, or the formatter did not end well

  // Line reading: Ahead[AheadStart, AheadEnd) is read but not yet a line.
  char Ahead[kLogReadBlock];
  int32_t AheadStart;
  int32_t AheadEnd;
  char Line[kLogLineLength + 1];  // the current line, terminated, no LF/CR
  int32_t LineLength;
  bool LineHeld;  // the current line is to be read again
  bool EndOfInput;
  int32_t LineNumber;  // lines read from the source

  // Reading a record's hex dump.
  int32_t DumpColon;     // 5 or 6: where the current dump line's colon is
  int32_t DumpPosition;  // 3 * bytes taken from the current dump line
  int64_t DumpBytes;     // bytes of the record's dump read so far

  // The search and its counts (the progress line shows them).
  char QueueName[kMqNameLength + 1];
  char CurrentLsn[kLsnLength + 1];
  uint32_t Records;
  uint32_t PutMessages;    // put-message records of any queue
  uint32_t QueueMessages;  // of the chosen queue
  uint32_t Ticks;
  MessagePart* Parts;  // every part slot, in the order they were made
  MessagePart* PartsTail;
  MessagePart* LastStored;  // where the search for a message's parts starts
  MessagePart* FreeHint;    // where the search for a free slot starts
  int32_t FreeParts;        // slots with DataLength 0
  bool PartsRead;           // a part was stored since the last check
  int PendingResult;        // 2110 while reported parts stay unused

  // The progress line on standard error.
  bool ProgressShowing;
  int32_t ProgressLength;
};

// ---- The source (log_source.cpp, log_parameter.cpp) -----------------------

// -j: "path", "*", "path(start)", "path(start-end)", "path(-end)". Fills
// LogPath (empty for "*"), LogStartLsn and LogEndLsn, and sets LogMode.
// Refuses, with 2046 after its message, an unclosed or unbalanced range
// ("Unrecognised log file parameter format.\n"), text after the range, a
// path over 255 characters and an LSN over 49.
int ParseLogParameter(RunOptions* options, const char* value);

// Completes the -j request once every option is known: a path that names a
// directory (no dot anywhere, a trailing slash, or an existing directory)
// is made absolute and handed to the formatter with -f; builds the
// formatter's command line ("dmpmqlog -m QM1 -f DIR -s LSN -e LSN ") and
// argument list; marks the input slot NoConnect when -m only names the
// log's queue manager (no output queue on that slot). Fills LogPathIsFile,
// LogCommand, LogArgText and LogArgCount. Refuses with 2046 a command over
// 299 characters, a directory that cannot be made absolute, and an LSN
// range given with a formatted file (it could not be honoured).
int PrepareLogCommand(RunOptions* options);

// Makes run->Log and opens the log for queue `queueName` (empty: none
// given). Refuses with 2046 a missing queue name, one with wild cards ('*'
// or '?'), and a raw log extent (".log" in the file name); 2208 "Can not access MQ log
// file.\n" when the file cannot be opened. Runs the formatter for a
// directory or no path. Returns 0, 2046, 2208, 2195 or 2071 (no storage
// for the record).
int OpenLogSource(Run* run, const char* queueName);

// Starts "$MQ_INSTALLATION_PATH/bin/dmpmqlog" with the argument list,
// its standard output on a pipe the reader reads. Returns 0; 2046 when
// MQ_INSTALLATION_PATH is not set (or the program path is too long); 2195
// when pipe or fork fails. A failed exec ends the child with 127 after
// "Error issuing execv() : ..." on standard error.
int RunDmpmqlog(Run* run);

// Closes the source and, when the formatter still runs, ends it (it is
// told to stop when the log was not read to the end) and collects its exit
// status. Frees the stored parts and run->Log. Safe to call at any time,
// and twice.
void ReleaseLogReplay(Run* run);

// Splits `path` (leading blanks skipped) into its directory and file name,
// each cut to fit its buffer. With allowNoDot off, a path without any dot
// is all directory. A trailing '/' or '\' is removed from the directory;
// *relative tells whether it does not start with '/'.
void SplitPath(const char* path, bool allowNoDot, char* directory, size_t directorySize,
               char* fileName, size_t fileNameSize, bool* relative);

// Copies characters of `text` into `out` until one of `stops`, the end of
// the text, `maximum` characters (0: no maximum) or the end of `out`, then
// terminates it. Returns the characters copied (where the copy stopped in
// `text`).
size_t CopyUntil(char* out, size_t outSize, const char* text, size_t maximum, const char* stops);

// ---- The reader (log_reader.cpp, log_records.cpp, log_parts.cpp) ---------

// The processing loop's preparation (the reader's calls need run->Log
// from OpenLogSource): reads up to the first "LOG RECORD" line. On failure
// prints "No MQ log records found.\n" (and for a file "Are you sure file
// '%s' is the output from DMPMQLOG ?\n") and returns 2142, or 2242 for a
// bad LSN on that line.
int PrepareLogReader(Run* run);

// Reads up to the first "LOG RECORD" line and takes its LSN. Returns 0,
// 2142 at the end of the input, 2242 for a bad LSN.
int FindFirstLogRecord(Run* run);

// Rebuilds the next message put to the queue into run->Message
// (Descriptor, data from Storage, DataLength, ExpectedLength). At the end
// of the log sets StopRequested and returns 0, or 2110 when reported parts
// stayed unused, or 2195 when the formatter did not end well. Otherwise
// returns 0 with a message, or 2110, 2242, 4018 or 2071.
int NextLogMessage(Run* run);

// For a selected message: skips a leading "ZRFP" block (version word
// 0x01000001, then its length), then checks DataLength against
// ExpectedLength: "Can not construct message %d, message length does not
// match.\n" and 2242 when they differ. Returns 0 or 2242.
int CheckLogMessage(Run* run);

// The message routine for standard error while a log is read: ends a
// showing progress line first, prefixes "Line No. %d: " when the log is a
// file, then flushes. Works as plain fprintf to stderr otherwise.
void ReportMessage(Run* run, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

#endif  // ZEPLO_LOGREPLAY_LOGREPLAY_H_
