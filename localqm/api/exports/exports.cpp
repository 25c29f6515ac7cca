// The exported MQI entry points of libmqm_r.so and libmqic_r.so. Only
// these names leave the library; everything else is hidden and bound
// inside it (-Bsymbolic), so two copies loaded into one process never call
// into each other.
//
// Built twice: the full libraries, and (with LQM_WITHOUT_OPTIONAL_CALLS) a
// reduced pair standing in for an MQ installation of a level before the
// optional calls (MQCB, MQCTL, MQSUB, message handles, MQSTAT): those
// names are then simply absent, as they would be there.
//
// No C++ exception may cross into the caller, which is C (or zeplo, which
// would abort): every entry point runs its call under Guarded, which turns
// std::bad_alloc into MQRC_STORAGE_NOT_AVAILABLE (2071), as IBM MQ reports
// storage it cannot get, and anything else into MQRC_UNEXPECTED_ERROR
// (2195), after rolling back the store transaction the call left open.
#include <new>

#include "localqm/api/api.h"
#include "localqm/consume/consume.h"
#include "zeplo/util/banned.h"  // after every other header

#define LQM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

template <typename Call>
void Guarded(MQHCONN hconn, PMQLONG pCompCode, PMQLONG pReason, Call call) {
  MQLONG reason = MQRC_NONE;
  try {
    call();
    return;
  } catch (const std::bad_alloc&) {
    reason = MQRC_STORAGE_NOT_AVAILABLE;
  } catch (...) {
    reason = MQRC_UNEXPECTED_ERROR;
  }
  try {
    LqmAbandonCall(hconn);
  } catch (...) {
    // The report below is all that is left to do.
  }
  if (pCompCode != nullptr && pReason != nullptr) LqmReport(reason, pCompCode, pReason);
}

}  // namespace

LQM_EXPORT void MQCONN(PMQCHAR pQMgrName, PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(MQHC_UNUSABLE_HCONN, pCompCode, pReason, [&] {
    LqmMQCONN(pQMgrName, pHconn, pCompCode, pReason);
  });
}

LQM_EXPORT void MQCONNX(PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn,
                        PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(MQHC_UNUSABLE_HCONN, pCompCode, pReason, [&] {
    LqmMQCONNX(pQMgrName, pConnectOpts, pHconn, pCompCode, pReason);
  });
}

LQM_EXPORT void MQDISC(PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(pHconn != nullptr ? *pHconn : MQHC_UNUSABLE_HCONN, pCompCode, pReason, [&] {
    LqmMQDISC(pHconn, pCompCode, pReason);
  });
}

LQM_EXPORT void MQOPEN(MQHCONN Hconn, PMQVOID pObjDesc, MQLONG Options, PMQHOBJ pHobj,
                       PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQOPEN(Hconn, pObjDesc, Options, pHobj, pCompCode, pReason);
  });
}

LQM_EXPORT void MQCLOSE(MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode,
                        PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQCLOSE(Hconn, pHobj, Options, pCompCode, pReason);
  });
}

LQM_EXPORT void MQGET(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pGetMsgOpts,
                      MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength,
                      PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQGET(Hconn, Hobj, pMsgDesc, pGetMsgOpts, BufferLength, pBuffer, pDataLength, pCompCode,
             pReason);
  });
}

LQM_EXPORT void MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts,
                      MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQPUT(Hconn, Hobj, pMsgDesc, pPutMsgOpts, BufferLength, pBuffer, pCompCode, pReason);
  });
}

LQM_EXPORT void MQPUT1(MQHCONN Hconn, PMQVOID pObjDesc, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts,
                       MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode,
                       PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQPUT1(Hconn, pObjDesc, pMsgDesc, pPutMsgOpts, BufferLength, pBuffer, pCompCode, pReason);
  });
}

LQM_EXPORT void MQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                      MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength,
                      PMQCHAR pCharAttrs, PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQINQ(Hconn, Hobj, SelectorCount, pSelectors, IntAttrCount, pIntAttrs, CharAttrLength,
             pCharAttrs, pCompCode, pReason);
  });
}

LQM_EXPORT void MQSET(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                      MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength,
                      PMQCHAR pCharAttrs, PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQSET(Hconn, Hobj, SelectorCount, pSelectors, IntAttrCount, pIntAttrs, CharAttrLength,
             pCharAttrs, pCompCode, pReason);
  });
}

LQM_EXPORT void MQCMIT(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQCMIT(Hconn, pCompCode, pReason);
  });
}

LQM_EXPORT void MQBACK(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
  Guarded(Hconn, pCompCode, pReason, [&] {
    LqmMQBACK(Hconn, pCompCode, pReason);
  });
}

#ifndef LQM_WITHOUT_OPTIONAL_CALLS
LQM_EXPORT void MQCB(MQHCONN Hconn, MQLONG Operation, PMQVOID pCallbackDesc, MQHOBJ Hobj,
                     PMQVOID pMsgDesc, PMQVOID pGetMsgOpts, PMQLONG pCompCode, PMQLONG pReason) {
  LqmMQCB(Hconn, Operation, pCallbackDesc, Hobj, pMsgDesc, pGetMsgOpts, pCompCode, pReason);
}

LQM_EXPORT void MQCTL(MQHCONN Hconn, MQLONG Operation, PMQVOID pControlOpts, PMQLONG pCompCode,
                      PMQLONG pReason) {
  LqmMQCTL(Hconn, Operation, pControlOpts, pCompCode, pReason);
}
#endif
