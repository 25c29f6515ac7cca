// localqm log: the recovery log of a queue manager and the text its
// formatter, dmpmqlog, prints.
//
// Every persistent message put is logged in the same transaction as the
// message row, so a put that fails leaves no record and a record is never
// missing for a put that happened. The records live in the table "log" of
// the queue manager's store: one row per record, keyed by its log sequence
// number (LSN). An LSN is the record's byte address in a log that only
// grows: each record starts where the previous one ended, so LSNs grow
// monotonically and are never reused. It is shown as IBM MQ shows its own,
// four 16-bit words from the most significant: <0:0:1:4464>.
//
// Record kinds and their data (the bytes the formatter dumps):
//   AQM Put Message  the 160-byte log record header (version 4, native
//                    byte order), the descriptor less the fields the header
//                    holds (268 bytes), 20 unused bytes, then the first
//                    piece of the message data.
//   AQM Put Part     "AQPX" prefix (16 bytes) and a later piece. A message
//                    longer than one piece is logged as its parts, oldest
//                    first, each linked by PrevLSN to the one before, then
//                    its put-message record, linked to the newest part.
//   AQM Get Message  a destructive get of a persistent message: its MsgId.
//   ATM Commit Transaction  a unit of work that changed messages.
// The piece size is 4096 bytes unless LOCALQM_LOG_PIECE (16 to 262144)
// says otherwise; IBM MQ uses larger pieces, a small one makes ordinary
// tests exercise the joining of parts.
//
// Errors: the writers return 0 or the store's reasons (2102, 2195).
#ifndef LOCALQM_LOG_LOG_H_
#define LOCALQM_LOG_LOG_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "localqm/core/core.h"
#include "mqi/mq_log_record.h"
#include "mqi/mqi.h"

// Record kinds as stored (on disk: never renumber).
enum LqmLogKind : int {
  kLogPutMessage = 1,
  kLogPutPart = 2,
  kLogGetMessage = 3,
  kLogCommit = 4,
};

// The put-message record's data is laid out in mqi/mq_log_record.h. The
// sizes of a part's prefix and the piece limits:
enum : int {
  kLogPartPrefixBytes = 16,
  kLogRecordOverhead = 52,  // a record's own header: its size beyond the data
  kLogDefaultPiece = 4096,
  kLogMinPiece = 16,
  kLogMaxPiece = 262144,
};

// The first LSN of a new log: 0:0:0:0 stands for "no record".
inline constexpr int64_t kLogFirstLsn = 4096;

// One record as stored.
struct LqmLogRecord {
  int64_t Lsn;
  int64_t PrevLsn;    // 0: none
  int Kind;           // LqmLogKind
  int64_t AtMs;       // creation time, ms since the epoch
  std::string Queue;  // empty for a commit
  std::vector<unsigned char> Data;
};

// ---- writing (log_writer.cpp); each runs inside the caller's transaction

// Logs a put of `length` bytes to `queue` with the descriptor as stored.
// Non-persistent messages are not logged (returns 0 at once).
int LqmLogPut(LqmStore* store, const char* queue, const MQMD* md, const void* data, size_t length);
// The records of such a put, without storing them: its parts (oldest
// first) and its put-message record, the first at `lsn`, each at the LSN
// where the one before it ends, for a piece size of `piece` bytes.
void LqmLogPutRecords(const char* queue, const MQMD* md, const void* data, size_t length,
                      size_t piece, int64_t lsn, int64_t atMs, std::vector<LqmLogRecord>* out);
// Logs a destructive get of a persistent message.
int LqmLogGet(LqmStore* store, const char* queue, const MQMD* md);
// Logs the commit of store->ConnId's unit of work.
int LqmLogCommit(LqmStore* store);
// The piece size in force (LOCALQM_LOG_PIECE, else kLogDefaultPiece).
size_t LqmLogPieceSize();

// ---- reading (log_reader.cpp)

// Hands `visit` the records of the store in directory `dir` (a queue
// manager's data directory) with from <= LSN <= to, one at a time in LSN
// order. A store without a log has none. Returns 0; 2058 when `dir` holds
// no store; 2102 or 2195 when it cannot be read.
int LqmLogRead(const char* dir, int64_t from, int64_t to,
               const std::function<void(const LqmLogRecord&)>& visit);
// The data directory of queue manager `name` (empty: the default one).
// Returns 0 or 2058 when there is none; 2012 without a data root.
int LqmLogQmgrDir(const char* name, char* out, size_t outSize);

// ---- the formatter's text layout (log_format.cpp)
//
// The one place that knows the columns. The record text is:
//   LOG RECORD - LSN <0:0:0:4096>        '<' at kLogLsnColumn
//   **********
//   (empty line)
//   HLG Header: lrecsize N, version 1, rmid 0, eyecatcher HLRH
//   Creation Time: 2024-01-30 13:50:31.146 GMT (UTC +0)
//   (empty line)
//   LogRecdType . . : AQM Put Message    labels end in ':' at kLogLabelColon,
//   QueueName . . . : APP.IN             values start at kLogValueColumn
//   ThisLSN . . . . : <0:0:0:4096>
//   PrevLSN . . . . : <0:0:0:0>
//   Data.Locn . . . : 52   ...  Data.Length . . . : 448   (second ':' at
//                                   kLogMessageLengthColon or kLogPartLengthColon)
//   Data  . . . . . :
//   00000:  41 42 ...                    offset, ':', two blanks, 16 bytes of
//   (empty line)                         "XX ", blanks, the printable text
enum : int {
  kLogLsnColumn = 17,
  kLogLabelColon = 16,
  kLogValueColumn = 18,
  kLogMessageLengthColon = 55,
  kLogPartLengthColon = 58,
  kLogDumpBytesPerLine = 16,
};

// "a:b:c:d" for an LSN into out (at least 24 bytes).
void LqmLogFormatLsn(int64_t lsn, char* out, size_t outSize);
// Reads "a:b:c:d" or "<a:b:c:d>", each word 0 to 65535. False when the
// text is anything else.
bool LqmLogParseLsn(const char* text, int64_t* lsn);
// The record kind's LogRecdType text.
const char* LqmLogKindName(int kind);
// Appends the text of one record, ending with its empty line.
void LqmLogFormatRecord(const LqmLogRecord& record, std::string* out);
// Appends the dump lines of `length` bytes (offsets of 5 digits, 6 when
// the dump is longer than 99999 bytes).
void LqmLogFormatDump(const unsigned char* data, size_t length, std::string* out);

#endif  // LOCALQM_LOG_LOG_H_
