// MQGET: browse cursors, destructive gets in and out of syncpoint, waits
// woken by other processes, matching, truncation and data conversion.
#include <climits>
#include <cstring>

#include "localqm/api/api.h"
#include "localqm/log/log.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

constexpr MQLONG kBrowseOptions = MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT |
                                  MQGMO_BROWSE_MSG_UNDER_CURSOR | MQGMO_MSG_UNDER_CURSOR;
constexpr MQLONG kPropertyOptions = MQGMO_PROPERTIES_FORCE_MQRFH2 | MQGMO_NO_PROPERTIES |
                                    MQGMO_PROPERTIES_COMPATIBILITY | MQGMO_PROPERTIES_IN_HANDLE;
// Lock, unlock, signals and browse marks are not offered by this queue
// manager; asking for them is an options error, as on platforms without them.
constexpr MQLONG kValidGetOptions =
    MQGMO_WAIT | MQGMO_SYNCPOINT | MQGMO_NO_SYNCPOINT | MQGMO_SYNCPOINT_IF_PERSISTENT |
    kBrowseOptions | MQGMO_ACCEPT_TRUNCATED_MSG | MQGMO_FAIL_IF_QUIESCING | MQGMO_CONVERT |
    MQGMO_LOGICAL_ORDER | MQGMO_COMPLETE_MSG | MQGMO_ALL_MSGS_AVAILABLE |
    MQGMO_ALL_SEGMENTS_AVAILABLE | MQGMO_MARK_SKIP_BACKOUT | kPropertyOptions;
constexpr MQLONG kValidMatchOptions = MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID | MQMO_MATCH_GROUP_ID;
// The longest single sleep of a waiting get: the counter wakes it sooner,
// this only bounds how late expiry or a stop is noticed.
constexpr long kWaitSliceMs = 500;

int CheckGetOptions(const MQGMO* gmo, const LqmHandle* h) {
  MQLONG o = gmo->Options;
  if ((o & ~kValidGetOptions) != 0) return MQRC_OPTIONS_ERROR;
  MQLONG browse = o & kBrowseOptions;
  if (browse != 0 && (browse & (browse - 1)) != 0) return MQRC_OPTIONS_ERROR;
  MQLONG props = o & kPropertyOptions;
  if (props != 0 && (props & (props - 1)) != 0) return MQRC_OPTIONS_ERROR;
  MQLONG sync = o & (MQGMO_SYNCPOINT | MQGMO_NO_SYNCPOINT | MQGMO_SYNCPOINT_IF_PERSISTENT);
  if (sync != 0 && (sync & (sync - 1)) != 0) return MQRC_OPTIONS_ERROR;
  bool browsing = (o & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0;
  if (browsing && (o & (MQGMO_SYNCPOINT | MQGMO_SYNCPOINT_IF_PERSISTENT)) != 0)
    return MQRC_OPTIONS_ERROR;
  if ((o & MQGMO_WAIT) != 0 && gmo->WaitInterval < 0 && gmo->WaitInterval != MQWI_UNLIMITED)
    return MQRC_WAIT_INTERVAL_ERROR;
  if (gmo->Version >= MQGMO_VERSION_2 && (gmo->MatchOptions & ~kValidMatchOptions) != 0)
    return MQRC_MATCH_OPTIONS_ERROR;
  if (h->ObjectType != MQOT_Q || h->DistList)
    return browsing ? MQRC_NOT_OPEN_FOR_BROWSE : MQRC_NOT_OPEN_FOR_INPUT;
  if (browsing && (h->Options & MQOO_BROWSE) == 0) return MQRC_NOT_OPEN_FOR_BROWSE;
  if (!browsing &&
      (h->Options & (MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE)) == 0)
    return MQRC_NOT_OPEN_FOR_INPUT;
  return 0;
}

bool SameFormat(const MQCHAR* format, const char* name) { return memcmp(format, name, 8) == 0; }

// Converts the delivered data as the caller's descriptor asks. Returns a
// warning reason (0, 2110, 2119); on a warning the data and descriptor
// stay as stored.
MQLONG Convert(const MQMD& request, MQLONG qmgrCcsid, MQMD* md, std::vector<unsigned char>* data) {
  MQLONG ccsid = request.CodedCharSetId;
  if (ccsid == MQCCSI_Q_MGR || ccsid == MQCCSI_INHERIT || ccsid == MQCCSI_APPL) ccsid = qmgrCcsid;
  bool needCcsid = md->CodedCharSetId != ccsid;
  bool needEncoding = md->Encoding != request.Encoding;
  if (!needCcsid && !needEncoding) return 0;
  if (SameFormat(md->Format, MQFMT_STRING)) {
    if (needCcsid) {
      std::vector<unsigned char> out;
      MQLONG rc = LqmConvertText(md->CodedCharSetId, ccsid, data->data(), data->size(), &out);
      if (rc != 0) return rc;
      data->swap(out);
      md->CodedCharSetId = ccsid;
    }
    // Text has no numbers: its encoding is whatever the caller asked for.
    md->Encoding = request.Encoding;
    return 0;
  }
  // No format, or a user format whose conversion exit would be needed:
  // a format error. Other built-in formats (their names begin "MQ") are
  // ones this queue manager does not convert.
  if (SameFormat(md->Format, MQFMT_NONE) || memcmp(md->Format, "MQ", 2) != 0)
    return MQRC_FORMAT_ERROR;
  return MQRC_NOT_CONVERTED;
}

// Ends an attempt's transaction. "Nothing there" and "did not fit" still
// commit: expired messages removed on the way and fault counters stay.
int EndKeeping(LqmStore* store, int rc) {
  bool keep = rc == MQRC_NO_MSG_AVAILABLE || rc == MQRC_NO_MSG_UNDER_CURSOR ||
              rc == MQRC_TRUNCATED_MSG_FAILED;
  int end = LqmTxnEnd(store, keep ? 0 : rc);
  return end != 0 ? end : rc;
}

// A version-1 descriptor has no room for the version-2 fields: when they
// hold anything but their defaults, they travel in an MQMDE put in front
// of the data, and the descriptor's format, encoding and character set
// then describe that MQMDE.
void PrependExtension(MQMD* md, std::vector<unsigned char>* data) {
  if (memcmp(md->GroupId, MQGI_NONE, 24) == 0 && md->MsgSeqNumber == 1 && md->Offset == 0 &&
      md->MsgFlags == MQMF_NONE && md->OriginalLength == MQOL_UNDEFINED)
    return;
  MQMDE mde = {MQMDE_DEFAULT};
  mde.Encoding = md->Encoding;
  mde.CodedCharSetId = md->CodedCharSetId;
  memcpy(mde.Format, md->Format, 8);
  memcpy(mde.GroupId, md->GroupId, 24);
  mde.MsgSeqNumber = md->MsgSeqNumber;
  mde.Offset = md->Offset;
  mde.MsgFlags = md->MsgFlags;
  mde.OriginalLength = md->OriginalLength;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&mde);
  data->insert(data->begin(), p, p + MQMDE_LENGTH_2);
  memcpy(md->Format, MQFMT_MD_EXTENSION, 8);
  md->Encoding = MQENC_NATIVE;
}

struct GetResult {
  MQLONG Reason;        // failure, or 0
  MQLONG Warning;       // 2079, 2110, 2119, or 0
  LqmMessage Msg;
  MQMD Stored;          // descriptor as stored, before conversion
};

// One attempt in one transaction. 2033 when nothing is there (yet).
void Attempt(LqmConnection* conn, LqmHandle* h, const MQMD& request, const MQGMO& gmo,
             MQLONG bufferLength, GetResult* r) {
  r->Reason = 0;
  r->Warning = 0;
  MQLONG o = gmo.Options;
  LqmStore* store = h->Store;
  LqmQmgr qm;
  int rc = LqmCallBegin(&conn->Main, "MQGET", h->ObjectName, &qm);
  if (rc != 0) {
    r->Reason = rc;
    return;
  }
  LqmQueue q, base;
  rc = LqmQueueRead(store, h->BaseQueue, &base);
  if (rc == MQRC_UNKNOWN_OBJECT_NAME) rc = MQRC_Q_DELETED;
  q = base;
  if (rc == 0 && h->Alias) {
    rc = LqmQueueRead(store, h->ObjectName, &q);
    if (rc == MQRC_UNKNOWN_OBJECT_NAME) rc = MQRC_Q_DELETED;
  }
  if (rc == 0 && (q.GetInhibited || base.GetInhibited)) rc = MQRC_GET_INHIBITED;

  // Browse-first starts over even when it finds nothing, so that a later
  // browse-next begins at the front of the queue.
  if ((o & MQGMO_BROWSE_FIRST) != 0) h->CursorValid = false;
  LqmMatch match{};
  MQLONG matchOptions = gmo.Version >= MQGMO_VERSION_2 ? gmo.MatchOptions
                                                       : MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID;
  bool underCursor = (o & (MQGMO_MSG_UNDER_CURSOR | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0;
  if (underCursor) {
    if (!h->CursorValid) rc = rc != 0 ? rc : MQRC_NO_MSG_UNDER_CURSOR;
    match.OnlyId = h->CursorId;
  } else {
    if ((matchOptions & MQMO_MATCH_MSG_ID) && memcmp(request.MsgId, MQMI_NONE, 24) != 0)
      match.MsgId = request.MsgId;
    if ((matchOptions & MQMO_MATCH_CORREL_ID) && memcmp(request.CorrelId, MQCI_NONE, 24) != 0)
      match.CorrelId = request.CorrelId;
    if ((matchOptions & MQMO_MATCH_GROUP_ID) && request.Version >= MQMD_VERSION_2 &&
        memcmp(request.GroupId, MQGI_NONE, 24) != 0)
      match.GroupId = request.GroupId;
    if ((o & MQGMO_BROWSE_NEXT) != 0 && h->CursorValid) {
      match.UseAfter = true;
      match.AfterRank = h->CursorRank;
      match.AfterId = h->CursorId;
    }
  }
  if (rc == 0) {
    rc = LqmFindSelected(h, store, base.Name, &match, &r->Msg);
    if (rc == MQRC_NO_MSG_AVAILABLE && underCursor) rc = MQRC_NO_MSG_UNDER_CURSOR;
  }
  if (rc != 0) {
    r->Reason = EndKeeping(store, rc);
    return;
  }
  r->Stored = r->Msg.Md;
  // Empty data, or a zero-length buffer, is never converted.
  if ((o & MQGMO_CONVERT) != 0 && !r->Msg.Data.empty() && bufferLength > 0)
    r->Warning = Convert(request, qm.Ccsid, &r->Msg.Md, &r->Msg.Data);
  if (request.Version == MQMD_VERSION_1) PrependExtension(&r->Msg.Md, &r->Msg.Data);
  bool truncated = r->Msg.Data.size() > static_cast<size_t>(bufferLength);
  if (truncated) {
    if ((o & MQGMO_ACCEPT_TRUNCATED_MSG) != 0)
      r->Warning = MQRC_TRUNCATED_MSG_ACCEPTED;
    else
      rc = MQRC_TRUNCATED_MSG_FAILED;
  }
  bool browsing = (o & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0;
  if (browsing) {
    // The cursor moves to the message even when it did not fit, so that
    // MQGMO_BROWSE_MSG_UNDER_CURSOR can fetch it with a larger buffer.
    h->CursorValid = true;
    h->CursorRank = r->Msg.Rank;
    h->CursorId = r->Msg.Id;
  } else if (rc == 0) {
    bool syncpoint = (o & MQGMO_SYNCPOINT) != 0 ||
                     ((o & MQGMO_SYNCPOINT_IF_PERSISTENT) != 0 &&
                      r->Msg.Md.Persistence == MQPER_PERSISTENT);
    rc = LqmMsgTake(store, base.Name, r->Msg.Id, syncpoint);
    if (rc == 0) rc = LqmLogGet(store, base.Name, &r->Msg.Md);
  }
  r->Reason = EndKeeping(store, rc);
}

void FillOutputs(LqmHandle* h, const GetResult& r, MQMD* md, MQGMO* gmo, MQLONG bufferLength,
                 void* buffer, MQLONG* dataLength) {
  MQMD out = r.Msg.Md;
  if (r.Msg.ExpiresAtMs != 0) {
    int64_t left = (r.Msg.ExpiresAtMs - LqmNowMs() + 99) / 100;
    out.Expiry = static_cast<MQLONG>(left < 1 ? 1 : left > INT_MAX ? INT_MAX : left);
  }
  MQLONG version = md->Version;
  memcpy(md, &out, version >= MQMD_VERSION_2 ? sizeof(MQMD) : MQMD_LENGTH_1);
  md->Version = version;
  size_t length = r.Msg.Data.size();
  size_t copy = length < static_cast<size_t>(bufferLength) ? length : static_cast<size_t>(bufferLength);
  if (copy > 0) memcpy(buffer, r.Msg.Data.data(), copy);
  *dataLength = static_cast<MQLONG>(length);
  LqmNameToField(h->BaseQueue, gmo->ResolvedQName, 48);
  if (gmo->Version >= MQGMO_VERSION_2) {
    MQLONG f = out.MsgFlags;
    gmo->GroupStatus = (f & MQMF_LAST_MSG_IN_GROUP) ? MQGS_LAST_MSG_IN_GROUP
                       : (f & MQMF_MSG_IN_GROUP)    ? MQGS_MSG_IN_GROUP
                                                    : MQGS_NOT_IN_GROUP;
    gmo->SegmentStatus = (f & MQMF_LAST_SEGMENT) ? MQSS_LAST_SEGMENT
                         : (f & MQMF_SEGMENT)    ? MQSS_SEGMENT
                                                 : MQSS_NOT_A_SEGMENT;
    gmo->Segmentation = (f & MQMF_SEGMENTATION_ALLOWED) ? MQSEG_ALLOWED : MQSEG_INHIBITED;
  }
  if (gmo->Version >= MQGMO_VERSION_3) {
    memset(gmo->MsgToken, 0, sizeof gmo->MsgToken);
    for (int i = 0; i < 8; ++i)
      gmo->MsgToken[i] = static_cast<MQBYTE>(static_cast<uint64_t>(r.Msg.Id) >> (56 - 8 * i));
    gmo->ReturnedLength = static_cast<MQLONG>(copy);
  }
}

}  // namespace

void LqmMQGET(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pGetMsgOpts,
              MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength, PMQLONG pCompCode,
              PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::unique_lock<std::mutex> guard(LqmApiLock());
  LqmConnection* conn;
  LqmHandle* h;
  int rc = LqmFindConnHandle(Hconn, Hobj, &conn, &h);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);
  MQMD* md = static_cast<MQMD*>(pMsgDesc);
  MQGMO* gmo = static_cast<MQGMO*>(pGetMsgOpts);
  if (md == nullptr || memcmp(md->StrucId, MQMD_STRUC_ID, 4) != 0 ||
      md->Version < MQMD_VERSION_1 || md->Version > MQMD_VERSION_2)
    return LqmReport(MQRC_MD_ERROR, pCompCode, pReason);
  if (gmo == nullptr || memcmp(gmo->StrucId, MQGMO_STRUC_ID, 4) != 0 ||
      gmo->Version < MQGMO_VERSION_1 || gmo->Version > MQGMO_VERSION_4)
    return LqmReport(MQRC_GMO_ERROR, pCompCode, pReason);
  if (BufferLength < 0) return LqmReport(MQRC_BUFFER_LENGTH_ERROR, pCompCode, pReason);
  if (pBuffer == nullptr && BufferLength > 0)
    return LqmReport(MQRC_BUFFER_ERROR, pCompCode, pReason);
  if (pDataLength == nullptr) return LqmReport(MQRC_DATA_LENGTH_ERROR, pCompCode, pReason);
  rc = CheckGetOptions(gmo, h);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);

  // Copy what the call reads before anything is written back: the request
  // descriptor (match fields, conversion target) and a version-correct
  // view of the options.
  MQMD request = {MQMD_DEFAULT};
  memcpy(&request, md, md->Version >= MQMD_VERSION_2 ? sizeof(MQMD) : MQMD_LENGTH_1);
  MQGMO options = {MQGMO_DEFAULT};
  size_t gmoLength = gmo->Version >= MQGMO_VERSION_4   ? sizeof(MQGMO)
                     : gmo->Version == MQGMO_VERSION_3 ? MQGMO_LENGTH_3
                     : gmo->Version == MQGMO_VERSION_2 ? MQGMO_LENGTH_2
                                                       : MQGMO_LENGTH_1;
  memcpy(&options, gmo, gmoLength);
  bool wait = (options.Options & MQGMO_WAIT) != 0;
  int64_t deadline = LqmNowMs() + (options.WaitInterval == MQWI_UNLIMITED ? 0 : options.WaitInterval);

  GetResult r;
  for (;;) {
    uint32_t seen = LqmNotifyRead(&conn->Main);
    int qrc = LqmQuiesceCheck(&conn->Main, (options.Options & MQGMO_FAIL_IF_QUIESCING) != 0);
    if (qrc != 0) return LqmReport(qrc, pCompCode, pReason);
    Attempt(conn, h, request, options, BufferLength, &r);
    if (r.Reason != MQRC_NO_MSG_AVAILABLE || !wait) break;
    long slice = kWaitSliceMs;
    if (options.WaitInterval != MQWI_UNLIMITED) {
      int64_t left = deadline - LqmNowMs();
      if (left <= 0) break;
      if (left < slice) slice = static_cast<long>(left);
    }
    // Sleep without the lock; the connection or handle may be gone when
    // it is taken again (another thread disconnected or closed it).
    // Only the shared counter's address is kept across the sleep: the
    // connection's own memory may be freed meanwhile.
    LqmStore counter{};
    counter.Notify = conn->Main.Notify;
    guard.unlock();
    LqmNotifyWait(&counter, seen, slice);
    guard.lock();
    conn = LqmFindConnection(Hconn);
    if (conn == nullptr) return LqmReport(MQRC_CONNECTION_BROKEN, pCompCode, pReason);
    h = LqmFindHandle(conn, Hobj);
    if (h == nullptr) return LqmReport(MQRC_HOBJ_ERROR, pCompCode, pReason);
  }
  if (r.Reason != 0 && r.Reason != MQRC_TRUNCATED_MSG_FAILED)
    return LqmReport(r.Reason, pCompCode, pReason);
  FillOutputs(h, r, md, gmo, BufferLength, pBuffer, pDataLength);
  bool browsing =
      (options.Options & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0;
  if (r.Reason == 0 && !browsing && (h->Options & MQOO_SAVE_ALL_CONTEXT) != 0) {
    h->HasContext = true;
    h->SavedContext = r.Stored;
  }
  LqmReport(r.Reason != 0 ? r.Reason : r.Warning, pCompCode, pReason);
}
