// MQOPEN and MQCLOSE: object resolution (queue manager, local, alias and
// model queues, queues of other queue managers, distribution lists), open
// option checks, dynamic queues and the shared/exclusive input rule.
#include <cstring>

#include "localqm/api/api.h"
#include "localqm/consume/consume.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

constexpr MQLONG kInputOptions = MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE;
constexpr MQLONG kContextOptions = MQOO_PASS_IDENTITY_CONTEXT | MQOO_PASS_ALL_CONTEXT |
                                   MQOO_SET_IDENTITY_CONTEXT | MQOO_SET_ALL_CONTEXT;
constexpr MQLONG kValidOpenOptions =
    kInputOptions | MQOO_BROWSE | MQOO_OUTPUT | MQOO_INQUIRE | MQOO_SET | MQOO_SAVE_ALL_CONTEXT |
    kContextOptions | MQOO_ALTERNATE_USER_AUTHORITY | MQOO_FAIL_IF_QUIESCING | MQOO_BIND_ON_OPEN |
    MQOO_BIND_NOT_FIXED | MQOO_RESOLVE_NAMES | MQOO_CO_OP | MQOO_RESOLVE_LOCAL_Q |
    MQOO_NO_READ_AHEAD | MQOO_READ_AHEAD | MQOO_NO_MULTICAST | MQOO_BIND_ON_GROUP;
// What a handle that only puts may carry (remote queues, distribution lists).
constexpr MQLONG kOutputOnlyOptions = MQOO_OUTPUT | kContextOptions |
                                      MQOO_ALTERNATE_USER_AUTHORITY | MQOO_FAIL_IF_QUIESCING |
                                      MQOO_BIND_ON_OPEN | MQOO_BIND_NOT_FIXED |
                                      MQOO_BIND_ON_GROUP | MQOO_RESOLVE_LOCAL_Q;

int CheckOpenOptions(MQLONG options) {
  if ((options & ~kValidOpenOptions) != 0) return MQRC_OPTIONS_ERROR;
  MQLONG input = options & kInputOptions;
  if (input != 0 && (input & (input - 1)) != 0) return MQRC_OPTIONS_ERROR;
  if ((options & (kInputOptions | MQOO_BROWSE | MQOO_OUTPUT | MQOO_INQUIRE | MQOO_SET)) == 0)
    return MQRC_OPTIONS_ERROR;
  if ((options & kContextOptions) != 0 && (options & MQOO_OUTPUT) == 0) return MQRC_OPTIONS_ERROR;
  if ((options & MQOO_SAVE_ALL_CONTEXT) != 0 && input == 0) return MQRC_OPTIONS_ERROR;
  if ((options & MQOO_READ_AHEAD) != 0 && (options & MQOO_NO_READ_AHEAD) != 0)
    return MQRC_OPTIONS_ERROR;
  return 0;
}

MQHOBJ AllocateHandle(LqmConnection* conn) {
  for (size_t i = 0; i < conn->Handles.size(); ++i)
    if (!conn->Handles[i].InUse) return static_cast<MQHOBJ>(i + 1);
  conn->Handles.push_back(LqmHandle{});
  return static_cast<MQHOBJ>(conn->Handles.size());
}

// Resolves a queue name on one store to the local queue behind it (alias
// targets must be local queues). 0; 2085; 2082 when the target is missing,
// 2001 when it is not a local queue.
int ResolveQueue(LqmStore* store, const char* name, LqmQueue* q, LqmQueue* base, bool* alias) {
  int rc = LqmQueueRead(store, name, q);
  if (rc != 0) return rc;
  *alias = q->Type == MQQT_ALIAS;
  if (!*alias) {
    *base = *q;
    return 0;
  }
  rc = LqmQueueRead(store, q->Target, base);
  if (rc == MQRC_UNKNOWN_OBJECT_NAME) return MQRC_UNKNOWN_ALIAS_BASE_Q;
  if (rc == 0 && base->Type != MQQT_LOCAL) return MQRC_ALIAS_BASE_Q_TYPE_ERROR;
  return rc;
}

void SetResolved(MQOD* od, const char* queue, const char* qmgr, MQLONG type) {
  if (od->Version >= MQOD_VERSION_3) {
    LqmNameToField(queue, od->ResolvedQName, 48);
    LqmNameToField(qmgr, od->ResolvedQMgrName, 48);
  }
  if (od->Version >= MQOD_VERSION_4) od->ResolvedType = type;
}

int OpenQmgr(LqmConnection* conn, MQOD* od, MQLONG options, const char* faultCall,
             LqmHandle* h) {
  if ((options & ~(MQOO_INQUIRE | MQOO_FAIL_IF_QUIESCING | MQOO_ALTERNATE_USER_AUTHORITY)) != 0)
    return MQRC_OPTION_NOT_VALID_FOR_TYPE;
  char name[kLqmNameLength + 1], qmgr[kLqmNameLength + 1];
  LqmNameFromField(od->ObjectName, 48, name);
  LqmNameFromField(od->ObjectQMgrName, 48, qmgr);
  if ((name[0] != '\0' && strcmp(name, conn->Main.Name) != 0) ||
      (qmgr[0] != '\0' && strcmp(qmgr, conn->Main.Name) != 0))
    return MQRC_UNKNOWN_OBJECT_NAME;
  int rc = LqmCallBegin(&conn->Main, faultCall, "", nullptr);
  if (rc != 0) return rc;
  LqmTxnEnd(&conn->Main, 0);
  h->ObjectType = MQOT_Q_MGR;
  h->Store = &conn->Main;
  snprintf(h->ObjectName, sizeof h->ObjectName, "%s", conn->Main.Name);
  SetResolved(od, "", conn->Main.Name, MQOT_Q_MGR);
  return 0;
}

int OpenQueue(LqmConnection* conn, MQOD* od, MQLONG options, const char* faultCall,
              MQHOBJ hobj, LqmHandle* h) {
  char name[kLqmNameLength + 1], qmgr[kLqmNameLength + 1];
  LqmNameFromField(od->ObjectName, 48, name);
  LqmNameFromField(od->ObjectQMgrName, 48, qmgr);
  if (name[0] == '\0') return MQRC_UNKNOWN_OBJECT_NAME;
  LqmStore* store = &conn->Main;
  bool remote = qmgr[0] != '\0' && strcmp(qmgr, conn->Main.Name) != 0;
  int rc = LqmCallBegin(&conn->Main, faultCall, name, nullptr);
  if (rc != 0) return rc;
  if (remote) {
    // A queue of another queue manager can only be put to, as through a
    // transmission queue.
    LqmTxnEnd(&conn->Main, 0);
    if ((options & ~kOutputOnlyOptions) != 0) return MQRC_OPTION_NOT_VALID_FOR_TYPE;
    rc = LqmRemoteStore(conn, qmgr, &store);
    if (rc != 0) return rc;
    rc = LqmTxnBegin(store);
    if (rc != 0) return rc;
  }
  LqmQueue q, base;
  bool alias = false;
  rc = ResolveQueue(store, name, &q, &base, &alias);
  if (rc == 0 && (options & MQOO_INQUIRE) != 0 && (q.DenyInquire || base.DenyInquire))
    rc = MQRC_NOT_AUTHORIZED;
  if (rc == 0 && q.Type == MQQT_MODEL) {
    if (remote) {
      rc = MQRC_Q_TYPE_ERROR;
    } else {
      char pattern[kLqmNameLength + 1], created[kLqmNameLength + 1];
      LqmNameFromField(od->DynamicQName, 48, pattern);
      rc = LqmQueueCreateDynamic(store, &q, pattern, created);
      if (rc == 0) rc = LqmQueueRead(store, created, &base);
      if (rc == 0) {
        LqmNameToField(created, od->ObjectName, 48);
        snprintf(name, sizeof name, "%s", created);
        h->TempDynamic = base.DefinitionType == MQQDT_TEMPORARY_DYNAMIC;
        h->PermDynamic = base.DefinitionType == MQQDT_PERMANENT_DYNAMIC;
      }
    }
  } else if (rc == 0 && base.Type != MQQT_LOCAL) {
    rc = MQRC_Q_TYPE_ERROR;
  }
  if (rc == 0 && !alias && base.DefinitionType == MQQDT_PERMANENT_DYNAMIC) h->PermDynamic = true;
  MQLONG mode = options & (MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE | MQOO_OUTPUT);
  if ((options & MQOO_INPUT_AS_Q_DEF) != 0) mode |= base.DefInputOpen;
  if (rc == 0 && mode != 0) {
    rc = LqmOpenAcquire(store, hobj, base.Name, mode);
    h->Registered = rc == 0;
  }
  rc = LqmTxnEnd(store, rc);
  if (rc != 0) {
    h->Registered = false;
    return rc;
  }
  h->ObjectType = MQOT_Q;
  h->Store = store;
  h->Remote = remote;
  h->Alias = alias;
  snprintf(h->ObjectName, sizeof h->ObjectName, "%s", name);
  snprintf(h->BaseQueue, sizeof h->BaseQueue, "%s", base.Name);
  SetResolved(od, base.Name, store->Name, MQOT_Q);
  return 0;
}

int OpenDistributionList(LqmConnection* conn, MQOD* od, MQLONG options, const char* faultCall,
                         LqmHandle* h, MQLONG* warning) {
  if (od->RecsPresent < 0) return MQRC_RECS_PRESENT_ERROR;
  if (od->ObjectType != MQOT_Q) return MQRC_OBJECT_TYPE_ERROR;
  if ((options & ~kOutputOnlyOptions) != 0 || (options & MQOO_OUTPUT) == 0)
    return MQRC_OPTIONS_ERROR;
  const MQOR* records = static_cast<const MQOR*>(od->ObjectRecPtr);
  if (records != nullptr && od->ObjectRecOffset != 0) return MQRC_OBJECT_RECORDS_ERROR;
  if (records == nullptr) {
    if (od->ObjectRecOffset <= 0) return MQRC_OBJECT_RECORDS_ERROR;
    records = reinterpret_cast<const MQOR*>(reinterpret_cast<const char*>(od) + od->ObjectRecOffset);
  }
  char* responses = nullptr;
  int rc = LqmRecordArray(od->ResponseRecPtr, od->ResponseRecOffset, od,
                          MQRC_RESPONSE_RECORDS_ERROR, &responses);
  if (rc != 0) return rc;
  rc = LqmCallBegin(&conn->Main, faultCall, "", nullptr);
  if (rc != 0) return rc;
  LqmTxnEnd(&conn->Main, 0);

  LqmDestTally tally;
  h->Dests.clear();
  for (MQLONG i = 0; i < od->RecsPresent; ++i) {
    LqmDest d{};
    char name[kLqmNameLength + 1], qmgr[kLqmNameLength + 1];
    LqmNameFromField(records[i].ObjectName, 48, name);
    LqmNameFromField(records[i].ObjectQMgrName, 48, qmgr);
    d.Remote = qmgr[0] != '\0' && strcmp(qmgr, conn->Main.Name) != 0;
    d.Store = &conn->Main;
    int drc = name[0] == '\0' ? MQRC_UNKNOWN_OBJECT_NAME : 0;
    if (drc == 0 && d.Remote) drc = LqmRemoteStore(conn, qmgr, &d.Store);
    if (drc == 0) {
      LqmQueue q, base;
      bool alias = false;
      drc = LqmTxnBegin(d.Store);
      if (drc == 0) {
        drc = ResolveQueue(d.Store, name, &q, &base, &alias);
        if (drc == 0 && base.Type != MQQT_LOCAL) drc = MQRC_Q_TYPE_ERROR;
        drc = LqmTxnEnd(d.Store, drc);
      }
      if (drc == 0) snprintf(d.Queue, sizeof d.Queue, "%s", base.Name);
    }
    snprintf(d.Qmgr, sizeof d.Qmgr, "%s", d.Store != nullptr ? d.Store->Name : qmgr);
    d.OpenReason = drc;
    LqmTallyDest(&tally, i, drc, d.Remote, responses);
    h->Dests.push_back(d);
  }
  rc = LqmTallyEnd(tally, od->RecsPresent, &od->KnownDestCount, &od->UnknownDestCount,
                   &od->InvalidDestCount, warning);
  if (rc != 0) return rc;
  h->ObjectType = MQOT_Q;
  h->DistList = true;
  h->Store = &conn->Main;
  return 0;
}

}  // namespace

int LqmOpenObject(LqmConnection* conn, MQOD* od, MQLONG options, const char* faultCall,
                  MQHOBJ* hobjOut, MQLONG* warning) {
  *warning = 0;
  *hobjOut = MQHO_UNUSABLE_HOBJ;
  if (od == nullptr || memcmp(od->StrucId, MQOD_STRUC_ID, 4) != 0 ||
      od->Version < MQOD_VERSION_1 || od->Version > MQOD_VERSION_4)
    return MQRC_OD_ERROR;
  int rc = CheckOpenOptions(options);
  if (rc != 0) return rc;
  // The selector is checked before anything is opened or created.
  std::shared_ptr<const LqmSelector> selector;
  rc = LqmOpenSelector(od, options, &selector);
  if (rc != 0) return rc;
  rc = LqmQuiesceCheck(&conn->Main, (options & MQOO_FAIL_IF_QUIESCING) != 0);
  if (rc != 0) return rc;
  MQHOBJ hobj = AllocateHandle(conn);
  LqmHandle h{};
  if (od->Version >= MQOD_VERSION_2 && od->RecsPresent != 0) {
    rc = OpenDistributionList(conn, od, options, faultCall, &h, warning);
  } else if (od->ObjectType == MQOT_Q_MGR) {
    rc = OpenQmgr(conn, od, options, faultCall, &h);
  } else if (od->ObjectType == MQOT_Q) {
    rc = OpenQueue(conn, od, options, faultCall, hobj, &h);
  } else {
    rc = MQRC_OBJECT_TYPE_ERROR;
  }
  if (rc != 0) {
    if (h.TempDynamic && h.Store != nullptr) {
      if (LqmTxnBegin(h.Store) == 0) LqmTxnEnd(h.Store, LqmQueueDelete(h.Store, h.BaseQueue, true));
    }
    return rc;
  }
  h.InUse = true;
  h.Options = options;
  h.Selector = std::move(selector);
  conn->Handles[hobj - 1] = h;
  *hobjOut = hobj;
  return 0;
}

int LqmCloseObject(LqmConnection* conn, MQHOBJ hobj, MQLONG options) {
  LqmHandle* h = LqmFindHandle(conn, hobj);
  if (h == nullptr) return MQRC_HOBJ_ERROR;
  if ((options & ~(MQCO_DELETE | MQCO_DELETE_PURGE | MQCO_QUIESCE)) != 0 ||
      ((options & MQCO_DELETE) != 0 && (options & MQCO_DELETE_PURGE) != 0))
    return MQRC_OPTIONS_ERROR;
  bool deleteAsked = (options & (MQCO_DELETE | MQCO_DELETE_PURGE)) != 0;
  if (deleteAsked && !h->TempDynamic && !h->PermDynamic) return MQRC_OPTION_NOT_VALID_FOR_TYPE;
  int rc = 0;
  if (h->ObjectType == MQOT_Q && !h->DistList) {
    rc = LqmTxnBegin(h->Store);
    if (rc != 0) return rc;
    if (h->TempDynamic || (h->PermDynamic && deleteAsked)) {
      bool purge = h->TempDynamic || (options & MQCO_DELETE_PURGE) != 0;
      rc = LqmQueueDelete(h->Store, h->BaseQueue, purge);
      // Someone else may have removed it already; the handle still closes.
      if (rc == MQRC_UNKNOWN_OBJECT_NAME) rc = 0;
    }
    if (rc == 0 && h->Registered) rc = LqmOpenRelease(h->Store, hobj);
    rc = LqmTxnEnd(h->Store, rc);
    if (rc != 0) return rc;
  }
  *h = LqmHandle{};
  return 0;
}

void LqmMQOPEN(MQHCONN Hconn, PMQVOID pObjDesc, MQLONG Options, PMQHOBJ pHobj,
               PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn = LqmFindConnection(Hconn);
  if (conn == nullptr) return LqmReport(MQRC_HCONN_ERROR, pCompCode, pReason);
  if (pHobj == nullptr) return LqmReport(MQRC_HOBJ_ERROR, pCompCode, pReason);
  MQLONG warning = 0;
  int rc = LqmOpenObject(conn, static_cast<MQOD*>(pObjDesc), Options, "MQOPEN", pHobj, &warning);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);
  *pReason = warning;
  *pCompCode = warning == 0 ? MQCC_OK : MQCC_WARNING;
}

void LqmMQCLOSE(MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode,
                PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::unique_lock<std::mutex> guard(LqmApiLock());
  LqmConnection* conn = LqmFindConnection(Hconn);
  if (conn == nullptr) return LqmReport(MQRC_HCONN_ERROR, pCompCode, pReason);
  if (pHobj == nullptr || LqmFindHandle(conn, *pHobj) == nullptr)
    return LqmReport(MQRC_HOBJ_ERROR, pCompCode, pReason);
  LqmHandle* h = LqmFindHandle(conn, *pHobj);
  int rc = LqmCallBegin(&conn->Main, "MQCLOSE", h->ObjectName, nullptr);
  if (rc != 0 && rc != MQRC_Q_MGR_STOPPING) return LqmReport(rc, pCompCode, pReason);
  if (rc == 0) LqmTxnEnd(&conn->Main, 0);
  rc = LqmCloseObject(conn, *pHobj, Options);
  MQHOBJ closed = *pHobj;
  if (rc == 0) *pHobj = MQHO_UNUSABLE_HOBJ;
  LqmReport(rc, pCompCode, pReason);
  // A consumer registered on the handle goes with it; its deregister call
  // may call the MQI, so the lock is let go first.
  guard.unlock();
  if (rc == 0) LqmConsumeHandleClosed(Hconn, closed);
}
