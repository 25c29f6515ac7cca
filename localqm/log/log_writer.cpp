// Writing the recovery log: the records of a persistent put, a get and a
// commit, each appended in the caller's transaction at the next LSN.
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

#include "localqm/log/log.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

void PutInt(unsigned char* at, int32_t value) { memcpy(at, &value, sizeof value); }

// The 160-byte header: what the descriptor part leaves out.
void BuildHeader(const MQMD* md, size_t length, unsigned char* h) {
  memset(h, 0, kMqLogHeaderBytes);
  memcpy(h, "AQRH", 4);
  PutInt(h + kMqLogVersionOffset, kMqLogHeaderVersion);
  PutInt(h + kMqLogBackoutCountOffset, md->BackoutCount);
  PutInt(h + kMqLogTotalLengthOffset, static_cast<int32_t>(length));
  memcpy(h + kMqLogMsgIdOffset, md->MsgId, 24);
  memcpy(h + kMqLogCorrelIdOffset, md->CorrelId, 24);
  memcpy(h + kMqLogGroupIdOffset, md->GroupId, 24);
  PutInt(h + kMqLogMsgSeqNumberOffset, md->MsgSeqNumber);
  PutInt(h + kMqLogOffsetOffset, md->Offset);
  PutInt(h + kMqLogOriginalLengthOffset, md->OriginalLength);
  PutInt(h + kMqLogMsgFlagsOffset, md->MsgFlags);
  PutInt(h + kMqLogExpiryOffset, md->Expiry);
}

// The 268-byte descriptor part.
void BuildDescriptor(const MQMD* md, unsigned char* d) {
  for (const MqLogDescriptorField& f : kMqLogDescriptorFields) {
    memcpy(d, reinterpret_cast<const unsigned char*>(md) + f.Offset, f.Width);
    d += f.Width;
  }
}

// The LSN the next record gets.
int NextLsn(LqmStore* store, int64_t* lsn) {
  *lsn = kLogFirstLsn;
  sqlite3_stmt* st =
      LqmStmt(store, kStmtLogNext, "SELECT lsn + size FROM log ORDER BY lsn DESC LIMIT 1");
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  int step = sqlite3_step(st);
  if (step == SQLITE_ROW) *lsn = sqlite3_column_int64(st, 0);
  sqlite3_reset(st);
  return step == SQLITE_ROW || step == SQLITE_DONE ? 0 : LqmSqlReason(step);
}

// Appends one record; its Lsn is where the log now ends.
int Append(LqmStore* store, const LqmLogRecord& r) {
  sqlite3_stmt* st = LqmStmt(store, kStmtLogInsert,
                             "INSERT INTO log(lsn, size, kind, queue, prev, at, data)"
                             " VALUES(?, ?, ?, ?, ?, ?, ?)");
  if (st == nullptr) return MQRC_UNEXPECTED_ERROR;
  // The next record starts after this one's header and data.
  const int64_t size = kLogRecordOverhead + static_cast<int64_t>(r.Data.size());
  sqlite3_bind_int64(st, 1, r.Lsn);
  sqlite3_bind_int64(st, 2, size);
  sqlite3_bind_int(st, 3, r.Kind);
  sqlite3_bind_text(st, 4, r.Queue.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_int64(st, 5, r.PrevLsn);
  sqlite3_bind_int64(st, 6, r.AtMs);
  sqlite3_bind_blob(st, 7, r.Data.empty() ? static_cast<const void*>("") : r.Data.data(),
                    static_cast<int>(r.Data.size()), SQLITE_STATIC);
  int rc = LqmSqlReason(sqlite3_step(st));
  sqlite3_reset(st);
  return rc;
}

// Appends a record of `kind` with `length` bytes of data at the log's end.
int AppendOne(LqmStore* store, int kind, const char* queue, const void* data, size_t length) {
  int64_t lsn = 0;
  int rc = NextLsn(store, &lsn);
  if (rc != 0) return rc;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  LqmLogRecord r{lsn, 0, kind, LqmNowMs(), queue, {bytes, bytes + length}};
  return Append(store, r);
}

}  // namespace

size_t LqmLogPieceSize() {
  const char* text = getenv("LOCALQM_LOG_PIECE");
  if (text == nullptr) return kLogDefaultPiece;
  long n = strtol(text, nullptr, 10);
  if (n < kLogMinPiece || n > kLogMaxPiece) n = kLogDefaultPiece;
  return static_cast<size_t>(n);
}

void LqmLogPutRecords(const char* queue, const MQMD* md, const void* data, size_t length,
                      size_t piece, int64_t lsn, int64_t atMs, std::vector<LqmLogRecord>* out) {
  out->clear();
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  size_t first = length < piece ? length : piece;
  int64_t prev = 0;
  auto add = [&](int kind) -> std::vector<unsigned char>* {
    out->push_back(LqmLogRecord{lsn, prev, kind, atMs, queue, {}});
    return &out->back().Data;
  };
  // The parts after the first piece, oldest first, each linked to the part
  // before it; the record starts where the one before it ended.
  for (size_t offset = first; offset < length; offset += piece) {
    size_t n = length - offset < piece ? length - offset : piece;
    std::vector<unsigned char>* record = add(kLogPutPart);
    record->assign(kLogPartPrefixBytes, 0);
    memcpy(record->data(), "AQPX", 4);
    PutInt(record->data() + 4, 1);
    PutInt(record->data() + 8, static_cast<int32_t>(offset));
    PutInt(record->data() + 12, static_cast<int32_t>(n));
    record->insert(record->end(), bytes + offset, bytes + offset + n);
    prev = lsn;
    lsn += kLogRecordOverhead + static_cast<int64_t>(record->size());
  }
  std::vector<unsigned char>* record = add(kLogPutMessage);
  record->assign(kMqLogFixedBytes + first, 0);
  BuildHeader(md, length, record->data());
  BuildDescriptor(md, record->data() + kMqLogHeaderBytes);
  if (first > 0) memcpy(record->data() + kMqLogFixedBytes, bytes, first);
}

int LqmLogPut(LqmStore* store, const char* queue, const MQMD* md, const void* data, size_t length) {
  if (md->Persistence != MQPER_PERSISTENT) return 0;
  int64_t lsn = 0;
  int rc = NextLsn(store, &lsn);
  std::vector<LqmLogRecord> records;
  if (rc == 0)
    LqmLogPutRecords(queue, md, data, length, LqmLogPieceSize(), lsn, LqmNowMs(), &records);
  for (size_t i = 0; rc == 0 && i < records.size(); ++i) rc = Append(store, records[i]);
  return rc;
}

int LqmLogGet(LqmStore* store, const char* queue, const MQMD* md) {
  if (md->Persistence != MQPER_PERSISTENT) return 0;
  return AppendOne(store, kLogGetMessage, queue, md->MsgId, sizeof md->MsgId);
}

int LqmLogCommit(LqmStore* store) {
  return AppendOne(store, kLogCommit, "", &store->ConnId, sizeof store->ConnId);
}
