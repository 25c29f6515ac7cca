// The 24 MQI calls, as exported under their plain names by an MQ library
// (libmqm_r.so, libmqic_r.so). Every call returns void and reports through
// its last two parameters: the completion code (MQCC_OK, MQCC_WARNING,
// MQCC_FAILED) and the reason (MQRC_*).
//
// The program never links these: it looks them up with dlsym and calls them
// through the pointer types below (PFN_MQxxx). A library that implements the
// MQI defines them with exactly these prototypes.
#ifndef MQI_MQ_CALLS_H_
#define MQI_MQ_CALLS_H_

#include "mqi/mq_structs.h"
#include "mqi/mq_types.h"

// One X-macro row per call: name, parameter list. Consumers that need all
// 24 (the entry-point table, prototypes, pointer types) expand this list so
// that no call can be forgotten on one side.
#define MQI_CALL_LIST(X)                                                       \
  X(MQCONN, (PMQCHAR pQMgrName, PMQHCONN pHconn, PMQLONG pCompCode,            \
             PMQLONG pReason))                                                 \
  X(MQCONNX, (PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn,         \
              PMQLONG pCompCode, PMQLONG pReason))                             \
  X(MQDISC, (PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason))             \
  X(MQOPEN, (MQHCONN Hconn, PMQVOID pObjDesc, MQLONG Options, PMQHOBJ pHobj,   \
             PMQLONG pCompCode, PMQLONG pReason))                              \
  X(MQCLOSE, (MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode, \
              PMQLONG pReason))                                                \
  X(MQGET, (MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pGetMsgOpts, \
            MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength,         \
            PMQLONG pCompCode, PMQLONG pReason))                               \
  X(MQPUT, (MQHCONN Hconn, MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pPutMsgOpts, \
            MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode,           \
            PMQLONG pReason))                                                  \
  X(MQPUT1, (MQHCONN Hconn, PMQVOID pObjDesc, PMQVOID pMsgDesc,                \
             PMQVOID pPutMsgOpts, MQLONG BufferLength, PMQVOID pBuffer,        \
             PMQLONG pCompCode, PMQLONG pReason))                              \
  X(MQINQ, (MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount,                  \
            PMQLONG pSelectors, MQLONG IntAttrCount, PMQLONG pIntAttrs,        \
            MQLONG CharAttrLength, PMQCHAR pCharAttrs, PMQLONG pCompCode,      \
            PMQLONG pReason))                                                  \
  X(MQSET, (MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount,                  \
            PMQLONG pSelectors, MQLONG IntAttrCount, PMQLONG pIntAttrs,        \
            MQLONG CharAttrLength, PMQCHAR pCharAttrs, PMQLONG pCompCode,      \
            PMQLONG pReason))                                                  \
  X(MQCMIT, (MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason))               \
  X(MQBACK, (MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason))               \
  X(MQCB, (MQHCONN Hconn, MQLONG Operation, PMQVOID pCallbackDesc,             \
           MQHOBJ Hobj, PMQVOID pMsgDesc, PMQVOID pGetMsgOpts,                 \
           PMQLONG pCompCode, PMQLONG pReason))                                \
  X(MQCTL, (MQHCONN Hconn, MQLONG Operation, PMQVOID pControlOpts,             \
            PMQLONG pCompCode, PMQLONG pReason))                               \
  X(MQSUB, (MQHCONN Hconn, PMQVOID pSubDesc, PMQHOBJ pHobj, PMQHOBJ pHsub,     \
            PMQLONG pCompCode, PMQLONG pReason))                               \
  X(MQSUBRQ, (MQHCONN Hconn, MQHOBJ Hsub, MQLONG Action, PMQVOID pSubRqOpts,   \
              PMQLONG pCompCode, PMQLONG pReason))                             \
  X(MQCRTMH, (MQHCONN Hconn, PMQVOID pCrtMsgHOpts, PMQHMSG pHmsg,              \
              PMQLONG pCompCode, PMQLONG pReason))                             \
  X(MQDLTMH, (MQHCONN Hconn, PMQHMSG pHmsg, PMQVOID pDltMsgHOpts,              \
              PMQLONG pCompCode, PMQLONG pReason))                             \
  X(MQINQMP, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pInqPropOpts,                \
              PMQVOID pName, PMQVOID pPropDesc, PMQLONG pType,                 \
              MQLONG ValueLength, PMQVOID pValue, PMQLONG pDataLength,         \
              PMQLONG pCompCode, PMQLONG pReason))                             \
  X(MQSETMP, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pSetPropOpts, PMQVOID pName, \
              PMQVOID pPropDesc, MQLONG Type, MQLONG ValueLength,              \
              PMQVOID pValue, PMQLONG pCompCode, PMQLONG pReason))             \
  X(MQDLTMP, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pDltPropOpts, PMQVOID pName, \
              PMQLONG pCompCode, PMQLONG pReason))                             \
  X(MQBUFMH, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pBufMsgHOpts,                \
              PMQVOID pMsgDesc, MQLONG BufferLength, PMQVOID pBuffer,          \
              PMQLONG pDataLength, PMQLONG pCompCode, PMQLONG pReason))        \
  X(MQMHBUF, (MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pMsgHBufOpts, PMQVOID pName, \
              PMQVOID pMsgDesc, MQLONG BufferLength, PMQVOID pBuffer,          \
              PMQLONG pDataLength, PMQLONG pCompCode, PMQLONG pReason))        \
  X(MQSTAT, (MQHCONN Hconn, MQLONG Type, PMQVOID pStatus, PMQLONG pCompCode,   \
             PMQLONG pReason))

// extern "C" prototypes: void MQCONN(PMQCHAR pQMgrName, ...);
#define MQI_DECLARE_PROTOTYPE(name, params) void name params;
extern "C" {
MQI_CALL_LIST(MQI_DECLARE_PROTOTYPE)
}
#undef MQI_DECLARE_PROTOTYPE

// Function-pointer types for the binding: PFN_MQCONN and so on. Declared
// with C language linkage, like the entry points they hold.
#define MQI_DECLARE_POINTER(name, params) typedef void(*PFN_##name) params;
extern "C" {
MQI_CALL_LIST(MQI_DECLARE_POINTER)
}
#undef MQI_DECLARE_POINTER

#endif  // MQI_MQ_CALLS_H_
