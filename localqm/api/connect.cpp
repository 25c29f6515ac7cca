// Connections: MQCONN, MQCONNX, MQDISC, MQCMIT, MQBACK, and the process
// state (connection and handle tables) that every call shares.
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "localqm/api/api.h"
#include "localqm/consume/consume.h"
#include "zeplo/util/banned.h"  // after every other header

// The accounting-token type in the token's last byte for a UNIX numeric
// user id: IBM publishes X'06'. The shared MQI constants do not list the
// MQACTT_* values, so it is declared here until they do.
#ifndef MQACTT_UNIX_NUMERIC_ID
#define MQACTT_UNIX_NUMERIC_ID 0x06
#endif

namespace {

void EndConnectionsAtExit();

// Every open connection of the process, Hconn = index + 1; used under the
// lock. No static destructor ever frees it: a connection still open at exit
// stays reachable (for leak checkers too) until the exit handler has ended
// it, and the handler frees the table itself once it is empty. It runs at
// exit and when the library is unloaded, so it is registered with the
// table's creation; a table made again after it ran gets it again.
std::vector<LqmConnection*>* gConnections = nullptr;

std::vector<LqmConnection*>& Connections() {
  if (gConnections == nullptr) {
    gConnections = new std::vector<LqmConnection*>();
    atexit(EndConnectionsAtExit);
  }
  return *gConnections;
}

void ProcessUser(char* out /*13*/) {
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[4096];
  out[0] = '\0';
  if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr)
    snprintf(out, 13, "%s", found->pw_name);
  else
    snprintf(out, 13, "%u", static_cast<unsigned>(geteuid()));
}

// The application name of a connection when MQCNO gives none: MQAPPLNAME
// when set and not blank, else the process name as Linux keeps it (at most
// 15 characters, which is what IBM MQ puts in PutApplName there).
void ProgramName(char* out /*29*/) {
  out[0] = '\0';
  if (const char* env = getenv("MQAPPLNAME")) {
    size_t n = strnlen(env, 28);
    while (n > 0 && env[n - 1] == ' ') --n;
    if (n > 0) {
      memcpy(out, env, n);
      out[n] = '\0';
      return;
    }
  }
  FILE* f = fopen("/proc/self/comm", "r");
  if (f != nullptr) {
    char line[64] = "";
    if (fgets(line, sizeof line, f) != nullptr) {
      line[strcspn(line, "\n")] = '\0';
      snprintf(out, 29, "%.28s", line);
    }
    fclose(f);
  }
}

// Reads a string that an MQCSP gives by pointer or by offset from the
// MQCSP. 0; 2595 when the length is impossible or neither is given.
int CspString(const char* csp, MQPTR ptr, MQLONG offset, MQLONG length, char* out,
              size_t outSize) {
  out[0] = '\0';
  if (length < 0 || length > 1024) return MQRC_CSP_ERROR;
  const char* src = nullptr;
  if (ptr != nullptr)
    src = static_cast<const char*>(ptr);
  else if (offset > 0)
    src = csp + offset;
  else if (length > 0)
    return MQRC_CSP_ERROR;
  size_t n = static_cast<size_t>(length);
  if (src != nullptr) n = strnlen(src, n);
  if (n >= outSize) return MQRC_CSP_ERROR;
  if (n > 0) memcpy(out, src, n);
  out[n] = '\0';
  return 0;
}

// Commits the connection's unit of work. Other queue managers that hold
// puts of it are prepared first; the local commit writes the decision in
// the same transaction; then they finish (see core/uow.cpp).
int CommitAll(LqmConnection* conn) {
  static std::atomic<uint64_t> counter{0};
  char uow[160];
  snprintf(uow, sizeof uow, "%s:%lld:%ld:%llu", conn->Main.Name,
           static_cast<long long>(conn->Main.ConnId), static_cast<long>(getpid()),
           static_cast<unsigned long long>(counter++));
  std::vector<LqmStore*> prepared;
  int rc = 0;
  for (LqmStore* r : conn->Remotes) {
    bool p = false;
    rc = LqmTxnBegin(r);
    if (rc == 0) rc = LqmTxnEnd(r, LqmUowPrepare(r, uow, conn->Main.Name, &p));
    if (rc != 0) break;
    if (p) prepared.push_back(r);
  }
  if (rc == 0) {
    rc = LqmTxnBegin(&conn->Main);
    if (rc == 0) {
      int crc = LqmUowCommit(&conn->Main, nullptr);
      if (crc == 0 && !prepared.empty()) crc = LqmDecisionWrite(&conn->Main, uow);
      rc = LqmTxnEnd(&conn->Main, crc);
    }
  }
  if (rc != 0) {
    // Nothing was decided: everything goes back.
    for (LqmStore* r : conn->Remotes) {
      if (LqmTxnBegin(r) != 0) continue;
      int brc = LqmUowResolvePrepared(r, r->ConnId, false, nullptr);
      if (brc == 0) brc = LqmUowBackout(r, r->ConnId, nullptr);
      LqmTxnEnd(r, brc);
    }
    if (LqmTxnBegin(&conn->Main) == 0)
      LqmTxnEnd(&conn->Main, LqmUowBackout(&conn->Main, conn->Main.ConnId, nullptr));
    return MQRC_BACKED_OUT;
  }
  bool finished = true;
  for (LqmStore* r : prepared) {
    int frc = LqmTxnBegin(r);
    if (frc == 0) frc = LqmTxnEnd(r, LqmUowResolvePrepared(r, r->ConnId, true, nullptr));
    // Left prepared, the rows are committed later by whoever finds them,
    // since the decision stays.
    if (frc != 0) finished = false;
  }
  if (!prepared.empty() && finished && LqmTxnBegin(&conn->Main) == 0)
    LqmTxnEnd(&conn->Main, LqmDecisionErase(&conn->Main, uow));
  return 0;
}

// Backs out the connection's unit of work on every queue manager it
// touched. The first failure is returned; the others are still tried.
int BackOutAll(LqmConnection* conn) {
  int rc = 0;
  for (LqmStore* r : conn->Remotes) {
    int rrc = LqmTxnBegin(r);
    if (rrc == 0) rrc = LqmTxnEnd(r, LqmUowBackout(r, r->ConnId, nullptr));
    if (rrc != 0 && rc == 0) rc = rrc;
  }
  int mrc = LqmTxnBegin(&conn->Main);
  if (mrc == 0)
    mrc = LqmTxnEnd(&conn->Main, LqmUowBackout(&conn->Main, conn->Main.ConnId, nullptr));
  return rc != 0 ? rc : mrc;
}

int CommitOrBack(LqmConnection* conn, bool commit, const char* faultCall) {
  int rc = LqmCallBegin(&conn->Main, faultCall, "", nullptr);
  if (rc == MQRC_BACKED_OUT && commit) {
    // A commit that fails with 2003 means the unit of work was backed out:
    // make it so, for the caller's recovery logic to be tested truthfully.
    BackOutAll(conn);
    return MQRC_BACKED_OUT;
  }
  if (rc != 0) return rc;
  LqmTxnEnd(&conn->Main, 0);
  if (!commit) return BackOutAll(conn);
  return CommitAll(conn);
}

void ReleaseConnection(LqmConnection* conn) {
  for (size_t i = 0; i < conn->Handles.size(); ++i)
    if (conn->Handles[i].InUse) LqmCloseObject(conn, static_cast<MQHOBJ>(i + 1), MQCO_NONE);
  for (LqmStore* r : conn->Remotes) {
    LqmConnUnregister(r);
    LqmStoreClose(r);
    delete r;
  }
  conn->Remotes.clear();
  LqmConnUnregister(&conn->Main);
  LqmStoreClose(&conn->Main);
  conn->InUse = false;
}

// Runs at exit, or when the library is unloaded: a process that ends
// without MQDISC has its units of work backed out, never committed, and
// its connections released, so that other processes see the messages at
// once rather than at the next connect. Only connections this process
// made: a forked child that exits must leave its parent's alone (their
// database handles are the parent's to use). Another thread may be inside
// a call; calls hold the lock briefly (a waiting get sleeps without it),
// so a lock that stays taken means a stuck call, and the work is left to
// the recovery of the next connect once this process is gone.
void EndConnectionsAtExit() {
  std::unique_lock<std::mutex> guard(LqmApiLock(), std::defer_lock);
  for (int tries = 0; !guard.try_lock(); ++tries) {
    if (tries == 200) return;
    usleep(10000);
  }
  if (gConnections == nullptr) return;
  long self = static_cast<long>(getpid());
  bool othersLeft = false;
  for (LqmConnection*& conn : *gConnections) {
    if (conn == nullptr) continue;
    if (conn->OwnerPid != self) {
      othersLeft = true;
      continue;
    }
    BackOutAll(conn);
    // Unregistering backs out again whatever the first pass could not
    // reach, so a failure above leaves nothing committed.
    ReleaseConnection(conn);
    delete conn;
    conn = nullptr;
  }
  if (!othersLeft) {
    delete gConnections;
    gConnections = nullptr;
  }
}

}  // namespace

std::mutex& LqmApiLock() {
  static std::mutex lock;
  return lock;
}

LqmConnection* LqmFindConnection(MQHCONN hconn) {
  auto& conns = Connections();
  if (hconn <= 0 || static_cast<size_t>(hconn) > conns.size()) return nullptr;
  LqmConnection* c = conns[hconn - 1];
  return c != nullptr && c->InUse ? c : nullptr;
}

LqmHandle* LqmFindHandle(LqmConnection* conn, MQHOBJ hobj) {
  if (hobj <= 0 || static_cast<size_t>(hobj) > conn->Handles.size()) return nullptr;
  LqmHandle* h = &conn->Handles[hobj - 1];
  return h->InUse ? h : nullptr;
}

int LqmFindConnHandle(MQHCONN hconn, MQHOBJ hobj, LqmConnection** conn, LqmHandle** h) {
  *h = nullptr;
  *conn = LqmFindConnection(hconn);
  if (*conn == nullptr) return MQRC_HCONN_ERROR;
  *h = LqmFindHandle(*conn, hobj);
  return *h == nullptr ? MQRC_HOBJ_ERROR : 0;
}

int LqmRemoteStore(LqmConnection* conn, const char* qmgr, LqmStore** out) {
  *out = nullptr;
  for (LqmStore* r : conn->Remotes) {
    if (strcmp(r->Name, qmgr) == 0) {
      *out = r;
      return 0;
    }
  }
  LqmStore* r = new LqmStore{};
  int rc = LqmStoreOpen(qmgr, r);
  if (rc == MQRC_Q_MGR_NAME_ERROR) rc = MQRC_UNKNOWN_REMOTE_Q_MGR;
  if (rc == 0) rc = LqmConnRegister(r, conn->ApplName);
  if (rc != 0) {
    LqmStoreClose(r);
    delete r;
    return rc;
  }
  conn->Remotes.push_back(r);
  *out = r;
  return 0;
}

int LqmCallBegin(LqmStore* store, const char* call, const char* queue, LqmQmgr* qmgr) {
  int rc = LqmTxnBegin(store);
  if (rc != 0) return rc;
  LqmQmgr local;
  LqmQmgr* q = qmgr != nullptr ? qmgr : &local;
  rc = LqmQmgrRead(store, q);
  if (rc == 0 && !q->Running) rc = MQRC_Q_MGR_STOPPING;
  if (rc == 0 && call != nullptr && q->FaultCount > 0) {
    MQLONG reason = 0;
    rc = LqmFaultCheck(store, call, queue, &reason);
    if (rc == 0 && reason != 0) {
      // The fault's counters must survive the failure it causes.
      LqmTxnEnd(store, 0);
      return reason;
    }
  }
  if (rc != 0) return LqmTxnEnd(store, rc);
  return 0;
}

int LqmQuiesceCheck(LqmStore* store, bool failIfQuiescing) {
  if (!failIfQuiescing) return 0;
  LqmQmgr qm;
  int rc = LqmQmgrRead(store, &qm);
  if (rc != 0) return rc;
  return qm.Running && qm.Quiescing ? MQRC_Q_MGR_QUIESCING : 0;
}

void LqmSetResponse(char* records, MQLONG index, MQLONG reason) {
  MQRR rr = {reason == 0 ? MQCC_OK : MQCC_FAILED, reason};
  memcpy(records + static_cast<size_t>(index) * sizeof(MQRR), &rr, sizeof rr);
}

int LqmRecordArray(void* pointer, MQLONG offset, void* base, MQLONG reason, char** out) {
  *out = static_cast<char*>(pointer);
  if (pointer != nullptr && offset != 0) return reason;
  if (pointer == nullptr && offset > 0) *out = static_cast<char*>(base) + offset;
  return 0;
}

void LqmTallyDest(LqmDestTally* t, MQLONG index, MQLONG reason, bool remote, char* responses) {
  if (reason != 0) {
    ++t->Invalid;
    if (t->First == 0) t->First = reason;
    else if (t->First != reason) t->Same = false;
  } else if (remote) {
    ++t->Unknown;
  } else {
    ++t->Known;
  }
  if (responses != nullptr) LqmSetResponse(responses, index, reason);
}

int LqmTallyEnd(const LqmDestTally& t, MQLONG count, MQLONG* known, MQLONG* unknown,
                MQLONG* invalid, MQLONG* warning) {
  *known = t.Known;
  *unknown = t.Unknown;
  *invalid = t.Invalid;
  if (t.Invalid == count && count > 0) return t.Same ? t.First : MQRC_MULTIPLE_REASONS;
  if (t.Invalid > 0) *warning = MQRC_MULTIPLE_REASONS;
  return 0;
}

bool LqmIsWarning(MQLONG reason) {
  switch (reason) {
    case MQRC_TRUNCATED_MSG_ACCEPTED:
    case MQRC_NOT_CONVERTED:
    case MQRC_FORMAT_ERROR:
    case MQRC_PRIORITY_EXCEEDS_MAXIMUM:
    case MQRC_INT_ATTR_COUNT_TOO_SMALL:
    case MQRC_CHAR_ATTRS_TOO_SHORT:
    case MQRC_SELECTOR_NOT_FOR_TYPE:
    case MQRC_ALREADY_CONNECTED:
      return true;
    default:
      return false;
  }
}

void LqmReport(MQLONG reason, PMQLONG pCompCode, PMQLONG pReason) {
  *pReason = reason;
  *pCompCode = reason == 0 ? MQCC_OK : LqmIsWarning(reason) ? MQCC_WARNING : MQCC_FAILED;
}

static void Connect(const char* call, PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn,
                    PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::lock_guard<std::mutex> guard(LqmApiLock());
  if (pHconn == nullptr) return LqmReport(MQRC_HCONN_ERROR, pCompCode, pReason);
  *pHconn = MQHC_UNUSABLE_HCONN;
  const MQCNO* cno = pConnectOpts;
  if (cno == nullptr || memcmp(cno->StrucId, MQCNO_STRUC_ID, 4) != 0 || cno->Version < 1 ||
      cno->Version > MQCNO_CURRENT_VERSION)
    return LqmReport(MQRC_CNO_ERROR, pCompCode, pReason);
  // At most one binding and one handle-sharing option.
  MQLONG binding = cno->Options & (MQCNO_FASTPATH_BINDING | MQCNO_SHARED_BINDING |
                                   MQCNO_ISOLATED_BINDING | MQCNO_LOCAL_BINDING |
                                   MQCNO_CLIENT_BINDING);
  MQLONG sharing = cno->Options & (MQCNO_HANDLE_SHARE_NONE | MQCNO_HANDLE_SHARE_BLOCK |
                                   MQCNO_HANDLE_SHARE_NO_BLOCK);
  if ((binding & (binding - 1)) != 0 || (sharing & (sharing - 1)) != 0)
    return LqmReport(MQRC_OPTIONS_ERROR, pCompCode, pReason);
  char name[kLqmNameLength + 1] = "";
  if (pQMgrName != nullptr) LqmNameFromField(pQMgrName, 48, name);

  LqmConnection* conn = new LqmConnection{};
  conn->InUse = true;
  conn->OwnerPid = static_cast<long>(getpid());
  int rc = LqmStoreOpen(name, &conn->Main);
  LqmQmgr qm{};
  if (rc == 0) rc = LqmQmgrRead(&conn->Main, &qm);
  if (rc == 0 && !qm.Running) rc = MQRC_Q_MGR_NOT_AVAILABLE;
  if (rc == 0 && qm.Quiescing) rc = MQRC_Q_MGR_QUIESCING;
  if (rc == 0 && cno->Version > qm.MaxCnoVersion) rc = MQRC_CNO_ERROR;

  ProcessUser(conn->UserId);
  ProgramName(conn->ApplName);
  // Credentials: an MQCSP from version 5, by pointer or by offset.
  char user[1025] = "", password[1025] = "";
  bool haveCsp = false;
  if (rc == 0 && cno->Version >= 5) {
    // Copied out, as an offset need not leave the MQCSP aligned; string
    // offsets stay relative to where the caller's MQCSP is.
    const char* where = reinterpret_cast<const char*>(cno->SecurityParmsPtr);
    if (where == nullptr && cno->SecurityParmsOffset > 0)
      where = reinterpret_cast<const char*>(cno) + cno->SecurityParmsOffset;
    MQCSP copy{};
    const MQCSP* csp = nullptr;
    if (where != nullptr) {
      memcpy(&copy, where, MQCSP_LENGTH_1);
      csp = &copy;
    }
    if (csp != nullptr) {
      if (memcmp(csp->StrucId, MQCSP_STRUC_ID, 4) != 0 || csp->Version < 1 || csp->Version > 3)
        rc = MQRC_CSP_ERROR;
      else if (csp->AuthenticationType == MQCSP_AUTH_USER_ID_AND_PWD) {
        haveCsp = true;
        rc = CspString(where, csp->CSPUserIdPtr, csp->CSPUserIdOffset, csp->CSPUserIdLength, user,
                       sizeof user);
        if (rc == 0)
          rc = CspString(where, csp->CSPPasswordPtr, csp->CSPPasswordOffset,
                         csp->CSPPasswordLength, password, sizeof password);
      } else if (csp->AuthenticationType != MQCSP_AUTH_NONE) {
        rc = MQRC_CSP_ERROR;
      }
    }
  }
  if (rc == 0) {
    bool usersDefined = false;
    rc = LqmUserCheck(&conn->Main, haveCsp ? user : nullptr, haveCsp ? password : nullptr,
                      &usersDefined);
    if (rc == 0 && haveCsp && usersDefined) snprintf(conn->UserId, sizeof conn->UserId, "%.12s", user);
  }
  explicit_bzero(password, sizeof password);  // checked: no copy is kept
  if (rc == 0 && cno->Version >= 7) {
    char appl[29];
    size_t n = 0;
    while (n < 28 && cno->ApplName[n] != '\0') ++n;
    memcpy(appl, cno->ApplName, n);
    appl[n] = '\0';
    while (n > 0 && appl[n - 1] == ' ') appl[--n] = '\0';
    if (n > 0) snprintf(conn->ApplName, sizeof conn->ApplName, "%s", appl);
  }
  if (rc == 0) {
    rc = LqmCallBegin(&conn->Main, call, "", nullptr);
    if (rc == MQRC_Q_MGR_STOPPING) rc = MQRC_Q_MGR_NOT_AVAILABLE;
    if (rc == 0) rc = LqmTxnEnd(&conn->Main, 0);
  }
  if (rc == 0) rc = LqmConnRegister(&conn->Main, conn->ApplName);
  if (rc != 0) {
    LqmStoreClose(&conn->Main);
    delete conn;
    return LqmReport(rc, pCompCode, pReason);
  }
  // Accounting token: the user's numeric id, as on UNIX systems.
  char uid[32];
  int n = snprintf(uid, sizeof uid, "%u", static_cast<unsigned>(geteuid()));
  conn->AccountingToken[0] = static_cast<MQBYTE>(n);
  memcpy(conn->AccountingToken + 1, uid, static_cast<size_t>(n));
  conn->AccountingToken[31] = MQACTT_UNIX_NUMERIC_ID;

  auto& conns = Connections();
  size_t slot = 0;
  while (slot < conns.size() && conns[slot] != nullptr) ++slot;
  if (slot == conns.size()) conns.push_back(nullptr);
  conns[slot] = conn;
  *pHconn = static_cast<MQHCONN>(slot + 1);
  LqmReport(0, pCompCode, pReason);
}

void LqmAbandonCall(MQHCONN hconn) {
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn = LqmFindConnection(hconn);
  if (conn == nullptr) return;
  auto rollBack = [](LqmStore* store) {
    if (store->TxnDepth <= 0) return;
    store->TxnDepth = 1;  // however deep the call had nested it
    LqmTxnEnd(store, MQRC_STORAGE_NOT_AVAILABLE);
  };
  rollBack(&conn->Main);
  for (LqmStore* remote : conn->Remotes) rollBack(remote);
}

void LqmMQCONN(PMQCHAR pQMgrName, PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
  MQCNO cno = {MQCNO_DEFAULT};
  Connect("MQCONN", pQMgrName, &cno, pHconn, pCompCode, pReason);
}

void LqmMQCONNX(PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn, PMQLONG pCompCode,
                PMQLONG pReason) {
  Connect("MQCONNX", pQMgrName, pConnectOpts, pHconn, pCompCode, pReason);
}

void LqmMQDISC(PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  // Asynchronous consume ends first, outside the lock: its callbacks run
  // MQI calls of their own.
  if (pHconn != nullptr) {
    int crc = LqmConsumeDisconnect(*pHconn);
    if (crc != 0) return LqmReport(crc, pCompCode, pReason);
  }
  std::lock_guard<std::mutex> guard(LqmApiLock());
  if (pHconn == nullptr) return LqmReport(MQRC_HCONN_ERROR, pCompCode, pReason);
  LqmConnection* conn = LqmFindConnection(*pHconn);
  if (conn == nullptr) return LqmReport(MQRC_HCONN_ERROR, pCompCode, pReason);
  // A normal disconnect commits; a stopped queue manager backs out.
  int rc = CommitOrBack(conn, true, "MQDISC");
  if (rc != 0 && rc != MQRC_BACKED_OUT) CommitOrBack(conn, false, nullptr);
  ReleaseConnection(conn);
  Connections()[*pHconn - 1] = nullptr;
  delete conn;
  *pHconn = MQHC_UNUSABLE_HCONN;
  LqmReport(rc == MQRC_Q_MGR_STOPPING ? 0 : rc, pCompCode, pReason);
}

namespace {

// MQCMIT and MQBACK: the same call but for which way the unit ends.
void EndUnitCall(MQHCONN Hconn, bool commit, PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn = LqmFindConnection(Hconn);
  if (conn == nullptr) return LqmReport(MQRC_HCONN_ERROR, pCompCode, pReason);
  LqmReport(CommitOrBack(conn, commit, commit ? "MQCMIT" : "MQBACK"), pCompCode, pReason);
}

}  // namespace

void LqmMQCMIT(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
  EndUnitCall(Hconn, true, pCompCode, pReason);
}

void LqmMQBACK(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
  EndUnitCall(Hconn, false, pCompCode, pReason);
}
