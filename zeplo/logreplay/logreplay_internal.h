// zeplo/logreplay internals: the line reader, the column rules of the
// formatter's text, the dump reader and the record readers, shared by the
// files of this folder and their tests. Not for other subsystems.
//
// Columns count from 0. A record of the formatter's text looks like:
//   LOG RECORD - LSN <0:0:0:4096>          LSN from column 17
//   LogRecdType . . : AQM Put Message      values from column 18
//   QueueName . . . : APP.IN
//   PrevLSN . . . . : <0:0:0:0>
//   Data.Locn . . . : 52    ...  Data.Length . . . : 453
//   Data  . . . . . :
//   00000:  41 51 ...                      colon at 5 (or 6), byte k at 8 + 3k
#ifndef ZEPLO_LOGREPLAY_LOGREPLAY_INTERNAL_H_
#define ZEPLO_LOGREPLAY_LOGREPLAY_INTERNAL_H_

#include <cstdint>
#include <cstring>

#include "mqi/mq_log_record.h"
#include "zeplo/logreplay/logreplay.h"

enum : int {
  kLsnColumn = 17,    // on the LOG RECORD line
  kValueColumn = 18,  // type, queue name, PrevLSN, location
  kLocnColon = 16,
  kMessageLengthColon = 55,  // Data.Locn of a put-message record
  kPartLengthColon = 58,     // Data.Locn of a put-part record
  kDumpLineBytes = 16,
  kDumpFullPosition = 3 * kDumpLineBytes,
  kPartPrefixBytes = 16,  // "AQPX" and what follows it
  kProgressTicks = 1000,
};

// True when the current line starts with `prefix`.
inline bool LineStarts(const LogReplay* lr, const char* prefix) {
  return strncmp(lr->Line, prefix, strlen(prefix)) == 0;
}

// The character at `column` of the current line; NUL past its end.
inline char LineAt(const LogReplay* lr, int column) {
  return column >= 0 && column < lr->LineLength ? lr->Line[column] : '\0';
}

// Makes the next line current (or, when a line is held, the held one
// again). Formatter messages (lines beginning AMQ) are dealt with here: the
// progress ones (AMQ7701, AMQ7714, AMQ7702) skipped, the others shown as
// text through ReportMessage. At the end of the input returns false and
// sets EndOfInput; a formatter that ended badly is reported then. Lines
// longer than kLogLineLength keep their beginning.
bool ReadLogLine(Run* run, LogReplay* lr);

// Counts a tick; every kProgressTicks ticks the progress line is shown.
void LogTick(Run* run, LogReplay* lr);

// Writes the progress line "DMPMQLOG Records : ..." in place of the one
// showing.
void ShowLogProgress(Run* run, LogReplay* lr);

// The LSN at `column` of the current line into out ("" for none: 0:0:0:0,
// or a '<' without '>'). Returns 0, or 2242 after "Line ld, LSN format
// unrecognised.\n", "Line ld, LSN missing.\n" or "Line ld, LSN too
// large.\n".
int ParseLsn(Run* run, LogReplay* lr, int column, char (&out)[kLsnLength + 1]);

// The decimal number at `column` of the current line (0 when none; it
// saturates rather than overflows).
int64_t LineNumberAt(const LogReplay* lr, int column);

// Whether the current line is a dump line; *colon gets its colon column.
bool IsDumpLine(const LogReplay* lr, int32_t* colon);

// Reads the first dump line of a record after its "Data  ." line. Returns
// true with the dump positioned at its first byte; false with the line
// held when it is not a dump line (or the input ended).
bool StartDump(Run* run, LogReplay* lr);

// Reads `count` bytes of the dump into out, going on to the next line after
// 16 bytes. Returns 0, or 2242 (message reported) when a line is not a dump
// line or holds too few digits. A digit outside 0-9 and A-F counts as 0.
int ReadDumpBytes(Run* run, LogReplay* lr, unsigned char* out, int64_t count);

// Checks that the dump ends where the record said: after a partial line
// nothing but a blank (or the line's end) where the next byte would stand;
// after a full line the next line is no dump line (it stays held).
// Returns 0 or 2242.
int CheckDumpEnd(Run* run, LogReplay* lr);

// Reads the records. Each returns 0 or its error code; *built tells
// whether a message of the queue is now in run->Message.
int ReadPutMessageRecord(Run* run, LogReplay* lr, bool* built);
int ReadPutPartRecord(Run* run, LogReplay* lr);

// Appends the parts that the message's PrevLSN chain names, oldest first,
// to the message data (*length bytes so far, `total` wanted), freeing
// their slots. A missing first link is no error (the message goes on
// short); a missing deeper link is "Can not construct message %d, LSN '%s'
// missing.\n" and 2242. Returns 0, 2242 or 2071.
int JoinMessageParts(Run* run, LogReplay* lr, const char* prevLsn, int64_t* length,
                     int64_t total);

// Stores one part's data: the first free slot with room, else a new
// "MSGPART" block. Returns the slot (DataLength set), or null when no
// storage is left.
MessagePart* TakePartSlot(LogReplay* lr, int32_t length);
// Frees a slot for reuse (DataLength 0); a free slot stays as it is.
void FreePartSlot(LogReplay* lr, MessagePart* part);
inline unsigned char* PartData(MessagePart* part) {
  return reinterpret_cast<unsigned char*>(part + 1);
}

// Reports the parts still holding data ("Extra message parts for message %d
// unused.\n") when a part was stored since the last check, and makes
// 2110 the pending result.
void CheckStrayParts(Run* run, LogReplay* lr);

// Frees every part block.
void ReleaseParts(LogReplay* lr);

#endif  // ZEPLO_LOGREPLAY_LOGREPLAY_INTERNAL_H_
