// The stand-in queue manager's MQI entry points (see fake_mq.h). The shared
// builds choose their shape with these definitions:
//   FAKE_MQ_MARKER     reason MQCONN returns (optional calls: marker + 100)
//   FAKE_MQ_OPTIONAL   1: export the 13 optional calls as well
//   FAKE_MQ_NO_CLOSE   leave MQCLOSE out
//   FAKE_MQ_NO_OPEN    leave MQOPEN out
#include "tests/zeplo/fake_mq/fake_mq.h"

#include <algorithm>
#include <string_view>

#include "zeplo/util/banned.h"  // after every other header

extern "C" {

__attribute__((visibility("default"))) FakeQmgr gFake;

// Logs the call and fails it when a fault says so (true).
static bool FakeCall(const std::string& call, PMQLONG cc, PMQLONG rc) {
  gFake.Calls.push_back(call);
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  std::string name = call.substr(0, call.find('('));
  for (FakeFault& f : gFake.Faults) {
    if (f.Call != name || f.Skip-- > 0) continue;
    *cc = f.CompCode;
    *rc = f.Reason;
    f.Call = "";
    return true;
  }
  return false;
}

static bool Fail(PMQLONG cc, PMQLONG rc, MQLONG reason) {
  *cc = MQCC_FAILED;
  *rc = reason;
  return true;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

void MQCONN(PMQCHAR pQMgrName, PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
  if (!FakeCall("MQCONN", pCompCode, pReason)) Fail(pCompCode, pReason, FAKE_MQ_MARKER);
}
void MQDISC(PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
  if (!FakeCall("MQDISC", pCompCode, pReason)) *pHconn = MQHC_UNUSABLE_HCONN;
}
void MQCMIT(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
  if (!FakeCall("MQCMIT(" + std::to_string(Hconn) + ")", pCompCode, pReason)) gFake.Pending.clear();
}
void MQBACK(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
  if (FakeCall("MQBACK(" + std::to_string(Hconn) + ")", pCompCode, pReason)) return;
  for (FakeMessage& m : gFake.Pending) {
    m.Md.BackoutCount++;
    gFake.Queue.push_back(m);
  }
  gFake.Pending.clear();
  std::sort(gFake.Queue.begin(), gFake.Queue.end(),
            [](const FakeMessage& a, const FakeMessage& b) { return a.Serial < b.Serial; });
}
void MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts, MQLONG BufferLength,
           PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
  FakeCall("MQPUT", pCompCode, pReason);
}
void MQPUT1(MQHCONN Hconn, PMQVOID pObjDesc, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts,
            MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
  FakeCall("MQPUT1", pCompCode, pReason);
}
void MQSET(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
           MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
           PMQLONG pCompCode, PMQLONG pReason) {
  FakeCall("MQSET", pCompCode, pReason);
}

// Answers each selector in turn: integers into pIntAttrs, names blank-padded
// to 48 into pCharAttrs. An unknown selector, or one that does not fit,
// fails the call with MQRC_SELECTOR_ERROR.
void MQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
           MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
           PMQLONG pCompCode, PMQLONG pReason) {
  if (FakeCall("MQINQ", pCompCode, pReason)) return;
  MQLONG ints = 0, chars = 0;
  for (MQLONG i = 0; i < SelectorCount; i++) {
    const std::string* name = pSelectors[i] == MQCA_Q_MGR_NAME           ? &gFake.QmgrName
                              : pSelectors[i] == MQCA_BACKOUT_REQ_Q_NAME ? &gFake.BackoutQueue
                                                                         : nullptr;
    const MQLONG* value = pSelectors[i] == MQIA_COMMAND_LEVEL       ? &gFake.CommandLevel
                          : pSelectors[i] == MQIA_PLATFORM          ? &gFake.Platform
                          : pSelectors[i] == MQIA_BACKOUT_THRESHOLD ? &gFake.BackoutThreshold
                          : pSelectors[i] == MQIA_MAX_Q_DEPTH       ? &gFake.MaxDepth
                          : pSelectors[i] == MQIA_MAX_MSG_LENGTH    ? &gFake.MaxMsgLength
                                                                    : nullptr;
    if (name != nullptr && chars + MQ_Q_NAME_LENGTH <= CharAttrLength) {
      memset(pCharAttrs + chars, ' ', MQ_Q_NAME_LENGTH);
      memcpy(pCharAttrs + chars, name->data(), std::min<size_t>(name->size(), MQ_Q_NAME_LENGTH));
      chars += MQ_Q_NAME_LENGTH;
    } else if (value != nullptr && ints < IntAttrCount) {
      pIntAttrs[ints++] = *value;
    } else {
      Fail(pCompCode, pReason, MQRC_SELECTOR_ERROR);
      return;
    }
  }
}

void MQGET(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pGetMsgOpts, MQLONG BufferLength,
           PMQVOID pBuffer, PMQLONG pDataLength, PMQLONG pCompCode, PMQLONG pReason) {
  MQGMO* gmo = static_cast<MQGMO*>(pGetMsgOpts);
  MQLONG o = gmo->Options;
  gFake.GetWaits.push_back((o & MQGMO_WAIT) ? gmo->WaitInterval : -1);
  *pDataLength = 0;
  if (FakeCall("MQGET", pCompCode, pReason)) return;
  auto& q = gFake.Queue;
  bool browse = (o & (MQGMO_BROWSE_NEXT | MQGMO_BROWSE_FIRST | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0;
  bool underCursor = (o & (MQGMO_MSG_UNDER_CURSOR | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0;
  long after = (o & MQGMO_BROWSE_FIRST) ? 0 : gFake.Cursor;
  auto it = q.begin();
  if (underCursor) {
    it = std::find_if(q.begin(), q.end(), [](const FakeMessage& m) { return m.Serial == gFake.Cursor; });
  } else if (browse) {
    it = std::find_if(q.begin(), q.end(), [after](const FakeMessage& m) { return m.Serial > after; });
  }
  if (it == q.end()) {
    Fail(pCompCode, pReason, underCursor ? MQRC_NO_MSG_UNDER_CURSOR : MQRC_NO_MSG_AVAILABLE);
    return;
  }
  MQLONG length = static_cast<MQLONG>(it->Data.size());
  *pDataLength = length;
  if (length > BufferLength && !(o & MQGMO_ACCEPT_TRUNCATED_MSG)) {
    // The message stays, but a browse cursor moves onto it.
    Fail(pCompCode, pReason, MQRC_TRUNCATED_MSG_FAILED);
    if (browse) gFake.Cursor = it->Serial;
    return;
  }
  memcpy(pMsgDesc, &it->Md, sizeof(MQMD));
  memcpy(pBuffer, it->Data.data(), static_cast<size_t>(std::min(length, BufferLength)));
  if (length > BufferLength) {
    *pCompCode = MQCC_WARNING;
    *pReason = MQRC_TRUNCATED_MSG_ACCEPTED;
  }
  if (browse) {
    gFake.Cursor = it->Serial;
    return;
  }
  if (o & MQGMO_SYNCPOINT) gFake.Pending.push_back(*it);
  q.erase(it);
}

#ifndef FAKE_MQ_NO_OPEN
void MQOPEN(MQHCONN Hconn, PMQVOID pObjDesc, MQLONG Options, PMQHOBJ pHobj, PMQLONG pCompCode,
            PMQLONG pReason) {
  gFake.OpenOptions.push_back(Options);
  if (!FakeCall("MQOPEN", pCompCode, pReason)) *pHobj = static_cast<MQHOBJ>(gFake.OpenOptions.size());
}
#endif
#ifndef FAKE_MQ_NO_CLOSE
void MQCLOSE(MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode, PMQLONG pReason) {
  FakeCall("MQCLOSE", pCompCode, pReason);
  *pHobj = MQHO_UNUSABLE_HOBJ;
}
#endif

#if FAKE_MQ_OPTIONAL
void MQCONNX(PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn, PMQLONG pCompCode,
             PMQLONG pReason) {
  gFake.Cnos.push_back(*pConnectOpts);
  *pHconn = MQHC_UNUSABLE_HCONN;
  if (FakeCall("MQCONNX", pCompCode, pReason)) return;
  // A caller that keeps retrying is a fault; end it instead of hanging.
  if (gFake.Cnos.size() > 8) return (void)Fail(pCompCode, pReason, MQRC_UNEXPECTED_ERROR);
  if (pConnectOpts->Version > gFake.MaxCnoVersion) return (void)Fail(pCompCode, pReason, MQRC_CNO_ERROR);
  if (pQMgrName[0] != '\0' &&
      std::string_view(pQMgrName, strnlen(pQMgrName, MQ_Q_MGR_NAME_LENGTH)) != gFake.QmgrName) {
    return (void)Fail(pCompCode, pReason, MQRC_Q_MGR_NAME_ERROR);
  }
  if (!gFake.RequiredUser.empty()) {
    const MQCSP* csp = pConnectOpts->Version >= 5 ? pConnectOpts->SecurityParmsPtr : nullptr;
    if (csp == nullptr || csp->AuthenticationType != MQCSP_AUTH_USER_ID_AND_PWD ||
        std::string_view(static_cast<const char*>(csp->CSPUserIdPtr), csp->CSPUserIdLength) !=
            gFake.RequiredUser ||
        std::string_view(static_cast<const char*>(csp->CSPPasswordPtr), csp->CSPPasswordLength) !=
            gFake.RequiredPassword) {
      return (void)Fail(pCompCode, pReason, MQRC_NOT_AUTHORIZED);
    }
  }
  *pHconn = 5;
  *pCompCode = gFake.ConnectWarning != 0 ? MQCC_WARNING : MQCC_OK;
  *pReason = gFake.ConnectWarning;
}
#define FAKE_NOT_HERE(name, params) \
  void name params { Fail(pCompCode, pReason, FAKE_MQ_MARKER + 100); }
FAKE_NOT_HERE(MQSUB, (MQHCONN Hconn, PMQVOID pSubDesc, PMQHOBJ pHobj, PMQHOBJ pHsub,
                      PMQLONG pCompCode, PMQLONG pReason))
FAKE_NOT_HERE(MQSUBRQ, (MQHCONN Hconn, MQHOBJ Hsub, MQLONG Action, PMQVOID pSubRqOpts,
                        PMQLONG pCompCode, PMQLONG pReason))
FAKE_NOT_HERE(MQCB, (MQHCONN Hconn, MQLONG Operation, PMQVOID pCallbackDesc, MQHOBJ Hobj,
                     PMQVOID pMsgDesc, PMQVOID pGetMsgOpts, PMQLONG pCompCode, PMQLONG pReason))
FAKE_NOT_HERE(MQCTL, (MQHCONN Hconn, MQLONG Operation, PMQVOID pControlOpts, PMQLONG pCompCode,
                      PMQLONG pReason))
FAKE_NOT_HERE(MQCRTMH, (MQHCONN Hconn, PMQVOID pCrtMsgHOpts, PMQHMSG pHmsg, PMQLONG pCompCode,
                        PMQLONG pReason))
FAKE_NOT_HERE(MQDLTMH, (MQHCONN Hconn, PMQHMSG pHmsg, PMQVOID pDltMsgHOpts, PMQLONG pCompCode,
                        PMQLONG pReason))
FAKE_NOT_HERE(MQINQMP, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pInqPropOpts, PMQVOID pName,
                        PMQVOID pPropDesc, PMQLONG pType, MQLONG ValueLength, PMQVOID pValue,
                        PMQLONG pDataLength, PMQLONG pCompCode, PMQLONG pReason))
FAKE_NOT_HERE(MQSETMP, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pSetPropOpts, PMQVOID pName,
                        PMQVOID pPropDesc, MQLONG Type, MQLONG ValueLength, PMQVOID pValue,
                        PMQLONG pCompCode, PMQLONG pReason))
FAKE_NOT_HERE(MQDLTMP, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pDltPropOpts, PMQVOID pName,
                        PMQLONG pCompCode, PMQLONG pReason))
FAKE_NOT_HERE(MQBUFMH, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pBufMsgHOpts, PMQVOID pMsgDesc,
                        MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength,
                        PMQLONG pCompCode, PMQLONG pReason))
FAKE_NOT_HERE(MQMHBUF, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pMsgHBufOpts, PMQVOID pName,
                        PMQVOID pMsgDesc, MQLONG BufferLength, PMQVOID pBuffer,
                        PMQLONG pDataLength, PMQLONG pCompCode, PMQLONG pReason))
FAKE_NOT_HERE(MQSTAT, (MQHCONN Hconn, MQLONG Type, PMQVOID pStatus, PMQLONG pCompCode,
                       PMQLONG pReason))
#endif

#pragma GCC diagnostic pop
}

void FakeAddMessage(const std::string& data, MQLONG priority) {
  FakeMessage m{gFake.NextSerial++, {MQMD_DEFAULT}, data};
  m.Md.Version = MQMD_VERSION_2;
  m.Md.Priority = priority;
  memcpy(m.Md.Format, MQFMT_STRING, MQ_FORMAT_LENGTH);
  gFake.Queue.push_back(m);
}
