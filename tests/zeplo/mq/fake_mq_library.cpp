// A tiny stand-in MQ library for the binding and connection tests. Built
// several times with different definitions:
//   FAKE_MQ_MARKER     reason MQCONN returns, so a test can tell which
//                      library file was bound
//   FAKE_MQ_OPTIONAL   1: export the 13 optional calls as well
//   FAKE_MQ_NO_CLOSE   leave MQCLOSE out
//   FAKE_MQ_NO_OPEN    leave MQOPEN out
// MQCONNX/MQOPEN/MQINQ/MQCLOSE behave like a queue manager named by the
// exported control record, which the tests reach with dlsym.
#include <cstring>

#include "mqi/mqi.h"
#include "tests/zeplo/mq/fake_mq_control.h"
#include "zeplo/util/banned.h"  // after every other header

extern "C" {

__attribute__((visibility("default"))) FakeMqControl fakeMqControl = {};

static void SetResult(PMQLONG pCompCode, PMQLONG pReason, MQLONG cc, MQLONG rc) {
  *pCompCode = cc;
  *pReason = rc;
}
#define FAKE_RESULT(cc, rc) SetResult(pCompCode, pReason, (cc), (rc))

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

void MQCONN(PMQCHAR pQMgrName, PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
  FAKE_RESULT(MQCC_FAILED, FAKE_MQ_MARKER);
}
void MQDISC(PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
  *pHconn = MQHC_UNUSABLE_HCONN;
  FAKE_RESULT(MQCC_OK, MQRC_NONE);
}
void MQCMIT(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) { FAKE_RESULT(MQCC_OK, 0); }
void MQBACK(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) { FAKE_RESULT(MQCC_OK, 0); }
void MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts, MQLONG BufferLength,
           PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
  FAKE_RESULT(MQCC_OK, 0);
}
void MQGET(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pGetMsgOpts, MQLONG BufferLength,
           PMQVOID pBuffer, PMQLONG pDataLength, PMQLONG pCompCode, PMQLONG pReason) {
  FAKE_RESULT(MQCC_FAILED, MQRC_NO_MSG_AVAILABLE);
}
void MQPUT1(MQHCONN Hconn, PMQVOID pObjDesc, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts,
            MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
  FAKE_RESULT(MQCC_OK, 0);
}
void MQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
           MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
           PMQLONG pCompCode, PMQLONG pReason) {
  FakeMqControl* c = &fakeMqControl;
  c->InqCalls++;
  if (c->InqReason != 0) return FAKE_RESULT(MQCC_FAILED, c->InqReason);
  if (SelectorCount != 3 || pSelectors[0] != MQCA_Q_MGR_NAME ||
      pSelectors[1] != MQIA_COMMAND_LEVEL || pSelectors[2] != MQIA_PLATFORM ||
      IntAttrCount < 2 || CharAttrLength < 48) {
    return FAKE_RESULT(MQCC_FAILED, MQRC_SELECTOR_ERROR);
  }
  std::memset(pCharAttrs, ' ', 48);
  std::memcpy(pCharAttrs, c->QmgrName, std::strlen(c->QmgrName));
  pIntAttrs[0] = c->CommandLevel;
  pIntAttrs[1] = c->Platform;
  FAKE_RESULT(MQCC_OK, 0);
}
void MQSET(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
           MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
           PMQLONG pCompCode, PMQLONG pReason) {
  FAKE_RESULT(MQCC_OK, 0);
}
#ifndef FAKE_MQ_NO_OPEN
void MQOPEN(MQHCONN Hconn, PMQVOID pObjDesc, MQLONG Options, PMQHOBJ pHobj, PMQLONG pCompCode,
            PMQLONG pReason) {
  FakeMqControl* c = &fakeMqControl;
  const MQOD* od = static_cast<const MQOD*>(pObjDesc);
  c->OpenCalls++;
  c->LastOpenType = od->ObjectType;
  c->LastOpenOptions = Options;
  if (c->OpenReason != 0) {
    *pHobj = MQHO_UNUSABLE_HOBJ;
    return FAKE_RESULT(MQCC_FAILED, c->OpenReason);
  }
  *pHobj = 77;
  FAKE_RESULT(MQCC_OK, 0);
}
#endif
#ifndef FAKE_MQ_NO_CLOSE
void MQCLOSE(MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode, PMQLONG pReason) {
  fakeMqControl.CloseCalls++;
  *pHobj = MQHO_UNUSABLE_HOBJ;
  FAKE_RESULT(MQCC_OK, 0);
}
#endif

#if FAKE_MQ_OPTIONAL
void MQCONNX(PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn, PMQLONG pCompCode,
             PMQLONG pReason) {
  FakeMqControl* c = &fakeMqControl;
  int call = c->ConnxCalls++;
  if (call < kFakeMaxCalls) {
    c->CnoVersions[call] = pConnectOpts->Version;
    c->CnoOptions[call] = pConnectOpts->Options;
    std::memcpy(c->ApplNames[call], pConnectOpts->ApplName, 28);
  }
  *pHconn = MQHC_UNUSABLE_HCONN;
  // A caller that keeps retrying is a fault; end it instead of hanging.
  if (call >= 2 * kFakeMaxCalls) return FAKE_RESULT(MQCC_FAILED, MQRC_UNEXPECTED_ERROR);
  if (pConnectOpts->Version > c->MaxCnoVersion) return FAKE_RESULT(MQCC_FAILED, MQRC_CNO_ERROR);
  if (pQMgrName[0] != '\0' && std::strncmp(pQMgrName, c->QmgrName, 48) != 0) {
    return FAKE_RESULT(MQCC_FAILED, MQRC_Q_MGR_NAME_ERROR);
  }
  if (c->RequiredUser[0] != '\0') {
    const MQCSP* csp = pConnectOpts->Version >= 5 ? pConnectOpts->SecurityParmsPtr : nullptr;
    if (csp == nullptr || csp->AuthenticationType != MQCSP_AUTH_USER_ID_AND_PWD) {
      return FAKE_RESULT(MQCC_FAILED, MQRC_NOT_AUTHORIZED);
    }
    std::string_view user(static_cast<const char*>(csp->CSPUserIdPtr), csp->CSPUserIdLength);
    std::string_view password(static_cast<const char*>(csp->CSPPasswordPtr),
                              csp->CSPPasswordLength);
    if (user != c->RequiredUser || password != c->RequiredPassword) {
      return FAKE_RESULT(MQCC_FAILED, MQRC_NOT_AUTHORIZED);
    }
  }
  *pHconn = 5;
  FAKE_RESULT(c->ConnectWarning != 0 ? MQCC_WARNING : MQCC_OK, c->ConnectWarning);
}
#define FAKE_NOT_HERE(name, params) \
  void name params { FAKE_RESULT(MQCC_FAILED, FAKE_MQ_MARKER + 100); }
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
