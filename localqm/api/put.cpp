// MQPUT and MQPUT1: descriptor checks, message context by MQPMO option,
// new identifiers, queue limits and inhibits, units of work, and
// distribution lists with put-message and response records.
#include <cstring>

#include "localqm/api/api.h"
#include "localqm/command/command.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

constexpr MQLONG kContextPutOptions = MQPMO_DEFAULT_CONTEXT | MQPMO_PASS_IDENTITY_CONTEXT |
                                      MQPMO_PASS_ALL_CONTEXT | MQPMO_SET_IDENTITY_CONTEXT |
                                      MQPMO_SET_ALL_CONTEXT | MQPMO_NO_CONTEXT;
constexpr MQLONG kValidPutOptions =
    MQPMO_SYNCPOINT | MQPMO_NO_SYNCPOINT | MQPMO_NEW_MSG_ID | MQPMO_NEW_CORREL_ID |
    kContextPutOptions | MQPMO_ALTERNATE_USER_AUTHORITY | MQPMO_FAIL_IF_QUIESCING |
    MQPMO_LOGICAL_ORDER | MQPMO_ASYNC_RESPONSE | MQPMO_SYNC_RESPONSE | MQPMO_RESOLVE_LOCAL_Q |
    MQPMO_WARN_IF_NO_SUBS_MATCHED | MQPMO_MD_FOR_OUTPUT_ONLY | MQPMO_SUPPRESS_REPLYTO;
constexpr MQLONG kValidRecFields = MQPMRF_MSG_ID | MQPMRF_CORREL_ID | MQPMRF_GROUP_ID |
                                   MQPMRF_FEEDBACK | MQPMRF_ACCOUNTING_TOKEN;

// Report options that ask for a report message (each with its data
// variants); the others only say how identifiers and disposal are handled.
constexpr MQLONG kReportsRequested = MQRO_EXCEPTION_WITH_FULL_DATA |
                                     MQRO_EXPIRATION_WITH_FULL_DATA | MQRO_COA_WITH_FULL_DATA |
                                     MQRO_COD_WITH_FULL_DATA | MQRO_PAN | MQRO_NAN;

// Pads a character field: a NUL ends the value, blanks fill the rest.
void PadField(char* field, size_t length) {
  size_t n = strnlen(field, length);
  memset(field + n, ' ', length - n);
}

// A name field is blank when only blanks come before its end or its first
// NUL (what follows a NUL counts as blanks).
bool IsBlank(const char* field, size_t length) {
  for (size_t i = 0; i < length && field[i] != '\0'; ++i)
    if (field[i] != ' ') return false;
  return true;
}

void SetOrigin(const LqmConnection* conn, MQMD* md, int64_t nowMs) {
  md->PutApplType = MQAT_UNIX;
  LqmNameToField(conn->ApplName, md->PutApplName, sizeof md->PutApplName);
  LqmFormatPutTime(nowMs, md->PutDate, md->PutTime);
  memset(md->ApplOriginData, ' ', sizeof md->ApplOriginData);
}

void CopyIdentity(const MQMD& from, MQMD* to) {
  memcpy(to->UserIdentifier, from.UserIdentifier, sizeof to->UserIdentifier);
  memcpy(to->AccountingToken, from.AccountingToken, sizeof to->AccountingToken);
  memcpy(to->ApplIdentityData, from.ApplIdentityData, sizeof to->ApplIdentityData);
}

void CopyOrigin(const MQMD& from, MQMD* to) {
  to->PutApplType = from.PutApplType;
  memcpy(to->PutApplName, from.PutApplName, sizeof to->PutApplName);
  memcpy(to->PutDate, from.PutDate, sizeof to->PutDate);
  memcpy(to->PutTime, from.PutTime, sizeof to->PutTime);
  memcpy(to->ApplOriginData, from.ApplOriginData, sizeof to->ApplOriginData);
}

void NoContext(MQMD* md) {
  memset(md->UserIdentifier, ' ', sizeof md->UserIdentifier);
  memset(md->AccountingToken, 0, sizeof md->AccountingToken);
  memset(md->ApplIdentityData, ' ', sizeof md->ApplIdentityData);
  md->PutApplType = MQAT_NO_CONTEXT;
  memset(md->PutApplName, ' ', sizeof md->PutApplName);
  memset(md->PutDate, ' ', sizeof md->PutDate);
  memset(md->PutTime, ' ', sizeof md->PutTime);
  memset(md->ApplOriginData, ' ', sizeof md->ApplOriginData);
}

// Checks the context option against the open options and the context
// handle. *source gets the handle whose saved context is passed.
int CheckContext(LqmConnection* conn, const LqmHandle* h, const MQPMO* pmo,
                 const LqmHandle** source) {
  *source = nullptr;
  MQLONG ctx = pmo->Options & kContextPutOptions;
  if (ctx != 0 && (ctx & (ctx - 1)) != 0) return MQRC_OPTIONS_ERROR;
  MQLONG oo = h->Options;
  switch (ctx) {
    case MQPMO_SET_ALL_CONTEXT:
      if ((oo & MQOO_SET_ALL_CONTEXT) == 0) return MQRC_NOT_OPEN_FOR_SET_ALL;
      break;
    case MQPMO_SET_IDENTITY_CONTEXT:
      if ((oo & (MQOO_SET_IDENTITY_CONTEXT | MQOO_SET_ALL_CONTEXT)) == 0)
        return MQRC_NOT_OPEN_FOR_SET_IDENT;
      break;
    case MQPMO_PASS_ALL_CONTEXT:
      if ((oo & (MQOO_PASS_ALL_CONTEXT | MQOO_SET_ALL_CONTEXT)) == 0)
        return MQRC_NOT_OPEN_FOR_PASS_ALL;
      break;
    case MQPMO_PASS_IDENTITY_CONTEXT:
      if ((oo & (MQOO_PASS_IDENTITY_CONTEXT | MQOO_PASS_ALL_CONTEXT | MQOO_SET_IDENTITY_CONTEXT |
                 MQOO_SET_ALL_CONTEXT)) == 0)
        return MQRC_NOT_OPEN_FOR_PASS_IDENT;
      break;
    default:
      break;
  }
  if (ctx == MQPMO_PASS_ALL_CONTEXT || ctx == MQPMO_PASS_IDENTITY_CONTEXT) {
    const LqmHandle* from = LqmFindHandle(conn, pmo->Context);
    if (from == nullptr || (from->Options & MQOO_SAVE_ALL_CONTEXT) == 0)
      return MQRC_CONTEXT_HANDLE_ERROR;
    *source = from;
  }
  return 0;
}

// Applies the context rules to a descriptor that holds the caller's
// fields; fills what the queue manager decides.
void ApplyContext(const LqmConnection* conn, MQLONG options, const LqmHandle* source, MQMD* md,
                  int64_t nowMs) {
  MQLONG ctx = options & kContextPutOptions;
  MQMD saved = {MQMD_DEFAULT};
  NoContext(&saved);
  if (source != nullptr && source->HasContext) saved = source->SavedContext;
  switch (ctx) {
    case MQPMO_SET_ALL_CONTEXT:
      break;
    case MQPMO_SET_IDENTITY_CONTEXT:
      SetOrigin(conn, md, nowMs);
      break;
    case MQPMO_PASS_ALL_CONTEXT:
      CopyIdentity(saved, md);
      CopyOrigin(saved, md);
      break;
    case MQPMO_PASS_IDENTITY_CONTEXT:
      CopyIdentity(saved, md);
      SetOrigin(conn, md, nowMs);
      break;
    case MQPMO_NO_CONTEXT:
      NoContext(md);
      break;
    default:
      LqmNameToField(conn->UserId, md->UserIdentifier, sizeof md->UserIdentifier);
      memcpy(md->AccountingToken, conn->AccountingToken, sizeof md->AccountingToken);
      memset(md->ApplIdentityData, ' ', sizeof md->ApplIdentityData);
      SetOrigin(conn, md, nowMs);
      break;
  }
  PadField(md->UserIdentifier, sizeof md->UserIdentifier);
  PadField(md->ApplIdentityData, sizeof md->ApplIdentityData);
  PadField(md->PutApplName, sizeof md->PutApplName);
  PadField(md->PutDate, sizeof md->PutDate);
  PadField(md->PutTime, sizeof md->PutTime);
  PadField(md->ApplOriginData, sizeof md->ApplOriginData);
}

// Puts one message on one local queue of `store` in one transaction:
// fault check, inhibits, limits, defaults of the opened queue, the row.
int PutOne(LqmConnection* conn, LqmStore* store, const char* opened, const char* baseQueue,
           MQMD* md, MQLONG length, const void* buffer, bool syncpoint, const char* faultCall,
           const char* faultQueue) {
  LqmQmgr qm;
  int rc = LqmCallBegin(&conn->Main, faultCall, faultQueue, &qm);
  if (rc != 0) return rc;
  if (md->CodedCharSetId == MQCCSI_Q_MGR || md->CodedCharSetId == MQCCSI_INHERIT ||
      md->CodedCharSetId == MQCCSI_APPL)
    md->CodedCharSetId = qm.Ccsid;
  if (store != &conn->Main) {
    LqmTxnEnd(&conn->Main, 0);
    rc = LqmTxnBegin(store);
    if (rc != 0) return rc;
  }
  LqmQueue q, base;
  rc = LqmQueueRead(store, baseQueue, &base);
  if (rc == MQRC_UNKNOWN_OBJECT_NAME) rc = MQRC_Q_DELETED;
  q = base;
  if (rc == 0 && strcmp(opened, baseQueue) != 0) {
    rc = LqmQueueRead(store, opened, &q);
    if (rc == MQRC_UNKNOWN_OBJECT_NAME) rc = MQRC_Q_DELETED;
  }
  if (rc == 0 && (q.PutInhibited || base.PutInhibited)) rc = MQRC_PUT_INHIBITED;
  if (rc == 0 && length > base.MaxMsgLength) rc = MQRC_MSG_TOO_BIG_FOR_Q;
  if (rc == 0 && base.Depth >= base.MaxDepth) rc = MQRC_Q_FULL;
  if (rc == 0) {
    if (md->Priority == MQPRI_PRIORITY_AS_Q_DEF) md->Priority = q.DefPriority;
    if (md->Persistence == MQPER_PERSISTENCE_AS_Q_DEF) md->Persistence = q.DefPersistence;
    rc = LqmMsgInsert(store, base.Name, md, buffer, static_cast<size_t>(length), md->Expiry,
                      syncpoint);
  }
  return LqmTxnEnd(store, rc);
}

// The descriptor checks IBM MQ makes on every put.
int CheckDescriptor(const MQMD* md) {
  if (md->Persistence != MQPER_NOT_PERSISTENT && md->Persistence != MQPER_PERSISTENT &&
      md->Persistence != MQPER_PERSISTENCE_AS_Q_DEF)
    return MQRC_PERSISTENCE_ERROR;
  if (md->Priority < MQPRI_PRIORITY_AS_Q_DEF) return MQRC_PRIORITY_ERROR;
  if (md->Expiry <= 0 && md->Expiry != MQEI_UNLIMITED) return MQRC_EXPIRY_ERROR;
  // Types and feedback codes live in the system range or the application
  // range; 0 is a type of neither (MQFB_NONE is a valid feedback).
  if (md->MsgType < MQMT_SYSTEM_FIRST || md->MsgType > MQMT_APPL_LAST) return MQRC_MSG_TYPE_ERROR;
  if (md->Feedback < MQFB_NONE || md->Feedback > MQFB_APPL_LAST) return MQRC_FEEDBACK_ERROR;
  // A request, or a message that asks for any report, needs somewhere for
  // the answer to go.
  if ((md->MsgType == MQMT_REQUEST || (md->Report & kReportsRequested) != 0) &&
      IsBlank(md->ReplyToQ, sizeof md->ReplyToQ))
    return MQRC_MISSING_REPLY_TO_Q;
  return 0;
}

}  // namespace

int LqmPutOnHandle(LqmConnection* conn, LqmHandle* h, MQMD* callerMd, MQPMO* pmo, MQLONG length,
                   const void* buffer, const char* faultCall, MQLONG* warningOut) {
  *warningOut = 0;
  if (callerMd == nullptr || memcmp(callerMd->StrucId, MQMD_STRUC_ID, 4) != 0 ||
      callerMd->Version < MQMD_VERSION_1 || callerMd->Version > MQMD_VERSION_2)
    return MQRC_MD_ERROR;
  if (pmo == nullptr || memcmp(pmo->StrucId, MQPMO_STRUC_ID, 4) != 0 ||
      pmo->Version < MQPMO_VERSION_1 || pmo->Version > MQPMO_VERSION_3)
    return MQRC_PMO_ERROR;
  if (length < 0) return MQRC_BUFFER_LENGTH_ERROR;
  if (buffer == nullptr && length > 0) return MQRC_BUFFER_ERROR;
  MQLONG options = pmo->Options;
  if ((options & ~kValidPutOptions) != 0) return MQRC_OPTIONS_ERROR;
  if ((options & MQPMO_SYNCPOINT) != 0 && (options & MQPMO_NO_SYNCPOINT) != 0)
    return MQRC_OPTIONS_ERROR;
  if ((options & MQPMO_ASYNC_RESPONSE) != 0 && (options & MQPMO_SYNC_RESPONSE) != 0)
    return MQRC_OPTIONS_ERROR;
  if (h->ObjectType != MQOT_Q || (h->Options & MQOO_OUTPUT) == 0) return MQRC_NOT_OPEN_FOR_OUTPUT;
  const LqmHandle* source = nullptr;
  int rc = CheckContext(conn, h, pmo, &source);
  if (rc != 0) return rc;
  if ((options & MQPMO_ASYNC_RESPONSE) != 0) {
    LqmQmgr qm;
    rc = LqmQmgrRead(&conn->Main, &qm);
    if (rc != 0) return rc;
    if (qm.RefuseAsyncPut) return MQRC_OPTIONS_ERROR;
  }
  if (length > kLqmQmgrMaxMsgLength) return MQRC_MSG_TOO_BIG_FOR_Q_MGR;
  rc = LqmQuiesceCheck(&conn->Main, (options & MQPMO_FAIL_IF_QUIESCING) != 0);
  if (rc != 0) return rc;

  // The stored descriptor is always version 2; a version-1 caller's
  // descriptor supplies only its own fields.
  MQMD md = {MQMD_DEFAULT};
  if ((options & MQPMO_MD_FOR_OUTPUT_ONLY) == 0)
    memcpy(&md, callerMd, callerMd->Version >= MQMD_VERSION_2 ? sizeof(MQMD) : MQMD_LENGTH_1);
  md.Version = MQMD_VERSION_2;
  bool carriesExtension = false;
  // A version-1 descriptor carries the version-2 fields in an MQMDE at the
  // front of the data; the queue manager takes them from there.
  if (callerMd->Version == MQMD_VERSION_1 && memcmp(md.Format, MQFMT_MD_EXTENSION, 8) == 0 &&
      length >= MQMDE_LENGTH_2 && (md.Encoding & MQENC_INTEGER_MASK) == MQENC_INTEGER_REVERSED) {
    MQMDE mde;
    memcpy(&mde, buffer, sizeof mde);
    if (memcmp(mde.StrucId, MQMDE_STRUC_ID, 4) == 0 && mde.Version == MQMDE_VERSION_2 &&
        mde.StrucLength >= MQMDE_LENGTH_2 && mde.StrucLength <= length) {
      md.Encoding = mde.Encoding;
      md.CodedCharSetId = mde.CodedCharSetId;
      memcpy(md.Format, mde.Format, 8);
      memcpy(md.GroupId, mde.GroupId, 24);
      md.MsgSeqNumber = mde.MsgSeqNumber;
      md.Offset = mde.Offset;
      md.MsgFlags = mde.MsgFlags;
      md.OriginalLength = mde.OriginalLength;
      buffer = static_cast<const char*>(buffer) + mde.StrucLength;
      length -= mde.StrucLength;
      carriesExtension = true;
    }
  }
  rc = CheckDescriptor(&md);
  if (rc != 0) return rc;
  rc = LqmCheckPcfHeader(&conn->Main, &md, callerMd->Version >= MQMD_VERSION_2 || carriesExtension,
                         buffer, length);
  if (rc != 0) return rc;
  MQLONG warning = md.Priority > kLqmMaxPriority ? MQRC_PRIORITY_EXCEEDS_MAXIMUM : 0;
  int64_t now = LqmNowMs();
  ApplyContext(conn, options, source, &md, now);
  md.BackoutCount = 0;
  if ((options & MQPMO_NEW_MSG_ID) != 0 || memcmp(md.MsgId, MQMI_NONE, 24) == 0)
    LqmNewId(conn->Main.Name, md.MsgId);
  if ((options & MQPMO_NEW_CORREL_ID) != 0) LqmNewId(conn->Main.Name, md.CorrelId);
  PadField(md.ReplyToQ, sizeof md.ReplyToQ);
  PadField(md.ReplyToQMgr, sizeof md.ReplyToQMgr);
  if (!IsBlank(md.ReplyToQ, sizeof md.ReplyToQ) && IsBlank(md.ReplyToQMgr, sizeof md.ReplyToQMgr))
    LqmNameToField(conn->Main.Name, md.ReplyToQMgr, sizeof md.ReplyToQMgr);
  bool syncpoint = (options & MQPMO_SYNCPOINT) != 0;

  if (!h->DistList) {
    rc = PutOne(conn, h->Store, h->ObjectName, h->BaseQueue, &md, length, buffer, syncpoint,
                faultCall, h->ObjectName);
    if (rc != 0) return rc;
    LqmNameToField(h->BaseQueue, pmo->ResolvedQName, 48);
    LqmNameToField(h->Store->Name, pmo->ResolvedQMgrName, 48);
    pmo->KnownDestCount = h->Remote ? 0 : 1;
    pmo->UnknownDestCount = h->Remote ? 1 : 0;
    pmo->InvalidDestCount = 0;
  } else {
    // Distribution list: the same message to every destination that
    // opened, each with its own result.
    MQLONG n = static_cast<MQLONG>(h->Dests.size());
    unsigned char* recs = nullptr;
    char* responses = nullptr;
    MQLONG fields = 0;
    if (pmo->Version >= MQPMO_VERSION_2 && pmo->RecsPresent != 0) {
      if (pmo->RecsPresent != n) return MQRC_RECS_PRESENT_ERROR;
      fields = pmo->PutMsgRecFields;
      if ((fields & ~kValidRecFields) != 0) return MQRC_PMO_RECORD_FLAGS_ERROR;
      char* given = nullptr;
      rc = LqmRecordArray(pmo->PutMsgRecPtr, pmo->PutMsgRecOffset, pmo,
                          MQRC_PUT_MSG_RECORDS_ERROR, &given);
      if (rc != 0) return rc;
      recs = reinterpret_cast<unsigned char*>(given);
      if (fields != 0 && recs == nullptr) return MQRC_PUT_MSG_RECORDS_ERROR;
      rc = LqmRecordArray(pmo->ResponseRecPtr, pmo->ResponseRecOffset, pmo,
                          MQRC_RESPONSE_RECORDS_ERROR, &responses);
      if (rc != 0) return rc;
    }
    size_t recSize = ((fields & MQPMRF_MSG_ID) ? 24 : 0) + ((fields & MQPMRF_CORREL_ID) ? 24 : 0) +
                     ((fields & MQPMRF_GROUP_ID) ? 24 : 0) + ((fields & MQPMRF_FEEDBACK) ? 4 : 0) +
                     ((fields & MQPMRF_ACCOUNTING_TOKEN) ? 32 : 0);
    LqmDestTally tally;
    for (MQLONG i = 0; i < n; ++i) {
      const LqmDest& d = h->Dests[i];
      MQMD one = md;
      if (recs != nullptr && fields != 0) {
        const unsigned char* r = recs + recSize * static_cast<size_t>(i);
        if (fields & MQPMRF_MSG_ID) {
          memcpy(one.MsgId, r, 24);
          if (memcmp(one.MsgId, MQMI_NONE, 24) == 0) LqmNewId(conn->Main.Name, one.MsgId);
          r += 24;
        }
        if (fields & MQPMRF_CORREL_ID) memcpy(one.CorrelId, r, 24), r += 24;
        if (fields & MQPMRF_GROUP_ID) memcpy(one.GroupId, r, 24), r += 24;
        if (fields & MQPMRF_FEEDBACK) memcpy(&one.Feedback, r, 4), r += 4;
        if (fields & MQPMRF_ACCOUNTING_TOKEN) memcpy(one.AccountingToken, r, 32);
      }
      int drc = d.OpenReason;
      if (drc == 0)
        drc = PutOne(conn, d.Store, d.Queue, d.Queue, &one, length, buffer, syncpoint, faultCall,
                     d.Queue);
      LqmTallyDest(&tally, i, drc, d.Remote, responses);
    }
    rc = LqmTallyEnd(tally, n, &pmo->KnownDestCount, &pmo->UnknownDestCount,
                     &pmo->InvalidDestCount, &warning);
    if (rc != 0) return rc;
  }
  // The caller sees the descriptor as stored: identifiers, context, and
  // the resolved defaults. A version-1 caller gets only its fields.
  memcpy(callerMd, &md, callerMd->Version >= MQMD_VERSION_2 ? sizeof(MQMD) : MQMD_LENGTH_1);
  callerMd->Version = callerMd->Version >= MQMD_VERSION_2 ? MQMD_VERSION_2 : MQMD_VERSION_1;
  *warningOut = warning;
  LqmCommandQueueReached(h);  // a request for the command server is served now
  return 0;
}

void LqmMQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts,
              MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn;
  LqmHandle* h;
  int rc = LqmFindConnHandle(Hconn, Hobj, &conn, &h);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);
  MQLONG warning = 0;
  rc = LqmPutOnHandle(conn, h, static_cast<MQMD*>(pMsgDesc), static_cast<MQPMO*>(pPutMsgOpts),
                          BufferLength, pBuffer, "MQPUT", &warning);
  if (rc == 0 && warning != 0) {
    *pReason = warning;
    *pCompCode = MQCC_WARNING;
    return;
  }
  LqmReport(rc, pCompCode, pReason);
}

void LqmMQPUT1(MQHCONN Hconn, PMQVOID pObjDesc, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts,
               MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn = LqmFindConnection(Hconn);
  if (conn == nullptr) return LqmReport(MQRC_HCONN_ERROR, pCompCode, pReason);
  MQPMO* pmo = static_cast<MQPMO*>(pPutMsgOpts);
  if (pmo == nullptr || memcmp(pmo->StrucId, MQPMO_STRUC_ID, 4) != 0 ||
      pmo->Version < MQPMO_VERSION_1 || pmo->Version > MQPMO_VERSION_3)
    return LqmReport(MQRC_PMO_ERROR, pCompCode, pReason);
  // The open options MQPUT1 implies: output, plus what the context
  // option needs.
  MQLONG options = MQOO_OUTPUT;
  switch (pmo->Options & kContextPutOptions) {
    case MQPMO_SET_ALL_CONTEXT: options |= MQOO_SET_ALL_CONTEXT; break;
    case MQPMO_SET_IDENTITY_CONTEXT: options |= MQOO_SET_IDENTITY_CONTEXT; break;
    case MQPMO_PASS_ALL_CONTEXT: options |= MQOO_PASS_ALL_CONTEXT; break;
    case MQPMO_PASS_IDENTITY_CONTEXT: options |= MQOO_PASS_IDENTITY_CONTEXT; break;
    default: break;
  }
  if ((pmo->Options & MQPMO_ALTERNATE_USER_AUTHORITY) != 0)
    options |= MQOO_ALTERNATE_USER_AUTHORITY;
  MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
  MQLONG openWarning = 0;
  int rc = LqmOpenObject(conn, static_cast<MQOD*>(pObjDesc), options, nullptr, &hobj, &openWarning);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);
  LqmHandle* h = LqmFindHandle(conn, hobj);
  MQLONG warning = 0;
  rc = LqmPutOnHandle(conn, h, static_cast<MQMD*>(pMsgDesc), pmo, BufferLength, pBuffer, "MQPUT1",
                      &warning);
  // A temporary dynamic queue made by MQPUT1 would vanish at once; the
  // close removes it like any other.
  LqmCloseObject(conn, hobj, MQCO_NONE);
  if (rc == 0 && warning == 0) warning = openWarning;
  if (rc == 0 && warning != 0) {
    *pReason = warning;
    *pCompCode = MQCC_WARNING;
    return;
  }
  LqmReport(rc, pCompCode, pReason);
}

int LqmAdminPut(LqmStore* store, const char* queue, const MQMD* md, const void* data,
                MQLONG length) {
  int rc = LqmTxnBegin(store);
  if (rc != 0) return rc;
  LqmQueue q;
  rc = LqmQueueRead(store, queue, &q);
  if (rc == 0 && q.Type == MQQT_ALIAS) rc = LqmQueueRead(store, q.Target, &q);
  if (rc == 0 && q.Type != MQQT_LOCAL) rc = MQRC_Q_TYPE_ERROR;
  if (rc == 0 && length > q.MaxMsgLength) rc = MQRC_MSG_TOO_BIG_FOR_Q;
  if (rc == 0 && q.Depth >= q.MaxDepth) rc = MQRC_Q_FULL;
  if (rc == 0) {
    MQMD one = *md;
    if (one.Priority == MQPRI_PRIORITY_AS_Q_DEF) one.Priority = q.DefPriority;
    if (one.Persistence == MQPER_PERSISTENCE_AS_Q_DEF) one.Persistence = q.DefPersistence;
    rc = LqmMsgInsert(store, q.Name, &one, data, static_cast<size_t>(length), one.Expiry, false);
  }
  return LqmTxnEnd(store, rc);
}
