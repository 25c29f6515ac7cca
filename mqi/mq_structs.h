// IBM MQ structures for 64-bit Linux, byte-compatible with IBM's own
// declarations: the same field order and types, ordinary C alignment, no
// packing. Each structure holds its latest version; a caller that sets a
// lower Version must give at least that version's *_LENGTH_n bytes, and
// the MQI reads only that version's fields.
//
// Initialisers follow IBM's idiom: `MQMD md = {MQMD_DEFAULT};`. Version
// always starts at 1 (MQMDE and MQRFH2 at 2); raise it to use later fields.
//
// Every size is asserted against IBM's length constant at the end of this
// file, and every field the program reads or writes has its offset pinned.
#ifndef MQI_MQ_STRUCTS_H_
#define MQI_MQ_STRUCTS_H_

#include <cstddef>

#include "mqi/mq_constants.h"
#include "mqi/mq_types.h"

// ---------------------------------------------------------------------------
// MQCHARV: a variable-length string held elsewhere (VSPtr) or at VSOffset
// bytes from the start of the structure that contains it.
struct MQCHARV {
  MQPTR VSPtr;
  MQLONG VSOffset;
  MQLONG VSBufSize;
  MQLONG VSLength;   // MQVS_NULL_TERMINATED (-1): ends at a NUL
  MQLONG VSCCSID;    // MQCCSI_APPL (-3): the application's CCSID
};
typedef MQCHARV* PMQCHARV;
#define MQCHARV_DEFAULT NULL, 0, 0, 0, MQCCSI_APPL

// ---------------------------------------------------------------------------
// MQMD: message descriptor, versions 1 and 2. MQMD1 is the version-1
// layout on its own, as embedded in MQXQH.
struct MQMD1 {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Report;
  MQLONG MsgType;
  MQLONG Expiry;           // tenths of a second; MQEI_UNLIMITED (-1)
  MQLONG Feedback;
  MQLONG Encoding;
  MQLONG CodedCharSetId;
  MQCHAR8 Format;
  MQLONG Priority;
  MQLONG Persistence;
  MQBYTE24 MsgId;
  MQBYTE24 CorrelId;
  MQLONG BackoutCount;
  MQCHAR48 ReplyToQ;
  MQCHAR48 ReplyToQMgr;
  MQCHAR12 UserIdentifier;
  MQBYTE32 AccountingToken;
  MQCHAR32 ApplIdentityData;
  MQLONG PutApplType;
  MQCHAR28 PutApplName;
  MQCHAR8 PutDate;         // YYYYMMDD, GMT
  MQCHAR8 PutTime;         // HHMMSSTH, GMT
  MQCHAR4 ApplOriginData;
};

struct MQMD {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Report;
  MQLONG MsgType;
  MQLONG Expiry;
  MQLONG Feedback;
  MQLONG Encoding;
  MQLONG CodedCharSetId;
  MQCHAR8 Format;
  MQLONG Priority;
  MQLONG Persistence;
  MQBYTE24 MsgId;
  MQBYTE24 CorrelId;
  MQLONG BackoutCount;
  MQCHAR48 ReplyToQ;
  MQCHAR48 ReplyToQMgr;
  MQCHAR12 UserIdentifier;
  MQBYTE32 AccountingToken;
  MQCHAR32 ApplIdentityData;
  MQLONG PutApplType;
  MQCHAR28 PutApplName;
  MQCHAR8 PutDate;
  MQCHAR8 PutTime;
  MQCHAR4 ApplOriginData;
  // Version 2.
  MQBYTE24 GroupId;
  MQLONG MsgSeqNumber;
  MQLONG Offset;
  MQLONG MsgFlags;
  MQLONG OriginalLength;
};
typedef MQMD MQMD2;
typedef MQMD* PMQMD;
typedef MQMD1* PMQMD1;

#define MQMD1_DEFAULT                                                          \
  {MQMD_STRUC_ID_ARRAY}, MQMD_VERSION_1, MQRO_NONE, MQMT_DATAGRAM,             \
      MQEI_UNLIMITED, MQFB_NONE, MQENC_NATIVE, MQCCSI_Q_MGR,                   \
      {MQFMT_NONE_ARRAY}, MQPRI_PRIORITY_AS_Q_DEF,                             \
      MQPER_PERSISTENCE_AS_Q_DEF, {MQMI_NONE_ARRAY}, {MQCI_NONE_ARRAY}, 0,     \
      {""}, {""}, {""}, {MQACT_NONE_ARRAY}, {""}, MQAT_NO_CONTEXT, {""},       \
      {""}, {""}, {""}
#define MQMD_DEFAULT                                                           \
  MQMD1_DEFAULT, {MQGI_NONE_ARRAY}, 1, 0, MQMF_NONE, MQOL_UNDEFINED

// ---------------------------------------------------------------------------
// MQOD: object descriptor, versions 1 to 4.
struct MQOD {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG ObjectType;
  MQCHAR48 ObjectName;
  MQCHAR48 ObjectQMgrName;
  MQCHAR48 DynamicQName;
  MQCHAR12 AlternateUserId;
  // Version 2: distribution lists (MQOR/MQRR records, by pointer or offset).
  MQLONG RecsPresent;
  MQLONG KnownDestCount;
  MQLONG UnknownDestCount;
  MQLONG InvalidDestCount;
  MQLONG ObjectRecOffset;
  MQLONG ResponseRecOffset;
  MQPTR ObjectRecPtr;
  MQPTR ResponseRecPtr;
  // Version 3.
  MQBYTE40 AlternateSecurityId;
  MQCHAR48 ResolvedQName;
  MQCHAR48 ResolvedQMgrName;
  // Version 4.
  MQCHARV ObjectString;
  MQCHARV SelectionString;
  MQCHARV ResObjectString;
  MQLONG ResolvedType;
  // 4 bytes of tail padding follow (included in MQOD_LENGTH_4).
};
typedef MQOD* PMQOD;

#define MQOD_DEFAULT                                                           \
  {MQOD_STRUC_ID_ARRAY}, MQOD_VERSION_1, MQOT_Q, {""}, {""},                   \
      {'A', 'M', 'Q', '.', '*'}, {""}, 0, 0, 0, 0, 0, 0, NULL, NULL,           \
      {MQSID_NONE_ARRAY}, {""}, {""}, {MQCHARV_DEFAULT}, {MQCHARV_DEFAULT},    \
      {MQCHARV_DEFAULT}, MQOT_NONE

// ---------------------------------------------------------------------------
// MQGMO: get-message options, versions 1 to 4.
struct MQGMO {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Options;
  MQLONG WaitInterval;     // milliseconds; MQWI_UNLIMITED (-1)
  MQLONG Signal1;
  MQLONG Signal2;
  MQCHAR48 ResolvedQName;
  // Version 2.
  MQLONG MatchOptions;
  MQCHAR GroupStatus;
  MQCHAR SegmentStatus;
  MQCHAR Segmentation;
  MQCHAR Reserved1;
  // Version 3.
  MQBYTE16 MsgToken;
  MQLONG ReturnedLength;
  // Version 4.
  MQLONG Reserved2;
  MQHMSG MsgHandle;
};
typedef MQGMO* PMQGMO;

#define MQGMO_DEFAULT                                                          \
  {MQGMO_STRUC_ID_ARRAY}, MQGMO_VERSION_1,                                     \
      (MQGMO_NO_WAIT + MQGMO_PROPERTIES_AS_Q_DEF), 0, 0, 0, {""},              \
      (MQMO_MATCH_MSG_ID + MQMO_MATCH_CORREL_ID), MQGS_NOT_IN_GROUP,           \
      MQSS_NOT_A_SEGMENT, MQSEG_INHIBITED, ' ', {MQMTOK_NONE_ARRAY},           \
      MQRL_UNDEFINED, 0, MQHM_NONE

// ---------------------------------------------------------------------------
// MQPMO: put-message options, versions 1 to 3.
struct MQPMO {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Options;
  MQLONG Timeout;
  MQHOBJ Context;          // input handle whose context is passed
  MQLONG KnownDestCount;
  MQLONG UnknownDestCount;
  MQLONG InvalidDestCount;
  MQCHAR48 ResolvedQName;
  MQCHAR48 ResolvedQMgrName;
  // Version 2.
  MQLONG RecsPresent;
  MQLONG PutMsgRecFields;
  MQLONG PutMsgRecOffset;
  MQLONG ResponseRecOffset;
  MQPTR PutMsgRecPtr;
  MQPTR ResponseRecPtr;
  // Version 3.
  MQHMSG OriginalMsgHandle;
  MQHMSG NewMsgHandle;
  MQLONG Action;
  MQLONG PubLevel;
};
typedef MQPMO* PMQPMO;

#define MQPMO_DEFAULT                                                          \
  {MQPMO_STRUC_ID_ARRAY}, MQPMO_VERSION_1, MQPMO_NONE, -1, 0, 0, 0, 0, {""},   \
      {""}, 0, MQPMRF_NONE, 0, 0, NULL, NULL, MQHM_NONE, MQHM_NONE,            \
      MQACTP_NEW, 9

// ---------------------------------------------------------------------------
// MQCSP: security parameters, versions 1 to 3.
struct MQCSP {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG AuthenticationType;
  MQBYTE4 Reserved1;
  MQPTR CSPUserIdPtr;
  MQLONG CSPUserIdOffset;
  MQLONG CSPUserIdLength;
  MQBYTE8 Reserved2;
  MQPTR CSPPasswordPtr;
  MQLONG CSPPasswordOffset;
  MQLONG CSPPasswordLength;
  // Version 2.
  MQBYTE8 Reserved3;
  MQPTR InitialKeyPtr;
  MQLONG InitialKeyOffset;
  MQLONG InitialKeyLength;
  // Version 3.
  MQBYTE8 Reserved4;
  MQPTR TokenPtr;
  MQLONG TokenOffset;
  MQLONG TokenLength;
};
typedef MQCSP* PMQCSP;

#define MQCSP_DEFAULT                                                          \
  {MQCSP_STRUC_ID_ARRAY}, MQCSP_VERSION_1, MQCSP_AUTH_NONE, {0}, NULL, 0, 0,   \
      {0}, NULL, 0, 0, {0}, NULL, 0, 0, {0}, NULL, 0, 0

// ---------------------------------------------------------------------------
// MQCNO: connect options, versions 1 to 8.
struct MQCNO {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Options;
  // Version 2.
  MQLONG ClientConnOffset;
  MQPTR ClientConnPtr;
  // Version 3.
  MQBYTE128 ConnTag;
  // Version 4.
  PMQSCO SSLConfigPtr;
  MQLONG SSLConfigOffset;
  // Version 5.
  MQBYTE24 ConnectionId;
  MQLONG SecurityParmsOffset;
  PMQCSP SecurityParmsPtr;
  // Version 6.
  PMQCHAR CCDTUrlPtr;
  MQLONG CCDTUrlOffset;
  MQLONG CCDTUrlLength;
  MQBYTE8 Reserved;
  // Version 7.
  MQCHAR28 ApplName;
  MQBYTE4 Reserved2;
  // Version 8.
  PMQBNO BalanceParmsPtr;
  MQLONG BalanceParmsOffset;
  MQBYTE4 Reserved3;
};
typedef MQCNO* PMQCNO;

#define MQCNO_DEFAULT                                                          \
  {MQCNO_STRUC_ID_ARRAY}, MQCNO_VERSION_1, MQCNO_NONE, 0, NULL,                \
      {MQCT_NONE_ARRAY}, NULL, 0, {MQCONNID_NONE_ARRAY}, 0, NULL, NULL, 0, 0,  \
      {0}, {MQAN_NONE_ARRAY}, {0}, NULL, 0, {0}

// ---------------------------------------------------------------------------
// MQCBC: callback context, filled by the library; IBM gives no initialiser.
struct MQCBC {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG CallType;         // MQCBCT_*
  MQHOBJ Hobj;
  MQPTR CallbackArea;
  MQPTR ConnectionArea;
  MQLONG CompCode;
  MQLONG Reason;
  MQLONG State;
  MQLONG DataLength;
  MQLONG BufferLength;
  MQLONG Flags;
  // Version 2.
  MQLONG ReconnectDelay;
};
typedef MQCBC* PMQCBC;

// The consumer and event-handler function registered with MQCB.
extern "C" typedef void MQCB_FUNCTION(MQHCONN Hconn, PMQVOID pMsgDesc,
                                      PMQVOID pGetMsgOpts, PMQVOID pBuffer,
                                      PMQCBC pContext);
typedef MQCB_FUNCTION* PMQCB_FUNCTION;

// ---------------------------------------------------------------------------
// MQCBD: callback descriptor, version 1.
struct MQCBD {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG CallbackType;     // MQCBT_MESSAGE_CONSUMER or MQCBT_EVENT_HANDLER
  MQLONG Options;
  MQPTR CallbackArea;
  MQPTR CallbackFunction;  // a PMQCB_FUNCTION, held as a data pointer
  MQCHAR128 CallbackName;
  MQLONG MaxMsgLength;
};
typedef MQCBD* PMQCBD;

#define MQCBD_DEFAULT                                                          \
  {MQCBD_STRUC_ID_ARRAY}, MQCBD_VERSION_1, MQCBT_MESSAGE_CONSUMER,             \
      MQCBDO_NONE, NULL, NULL, {""}, MQCBD_FULL_MSG_LENGTH

// ---------------------------------------------------------------------------
// MQCTLO: MQCTL options, version 1.
struct MQCTLO {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Options;
  MQLONG Reserved;         // IBM starts it at MQWI_UNLIMITED (-1)
  MQPTR ConnectionArea;
};
typedef MQCTLO* PMQCTLO;

#define MQCTLO_DEFAULT                                                         \
  {MQCTLO_STRUC_ID_ARRAY}, MQCTLO_VERSION_1, MQCTLO_NONE, MQWI_UNLIMITED, NULL

// ---------------------------------------------------------------------------
// MQOR / MQRR: distribution-list object and response records, used as
// contiguous arrays of RecsPresent elements.
struct MQOR {
  MQCHAR48 ObjectName;
  MQCHAR48 ObjectQMgrName;
};
typedef MQOR* PMQOR;
#define MQOR_DEFAULT {""}, {""}

struct MQRR {
  MQLONG CompCode;
  MQLONG Reason;
};
typedef MQRR* PMQRR;
#define MQRR_DEFAULT MQCC_OK, MQRC_NONE

// ---------------------------------------------------------------------------
// Headers found in message data. Their integers are in the encoding named
// by the structure in front of them, not necessarily the native one.

// MQDLH: dead-letter header, version 1.
struct MQDLH {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Reason;
  MQCHAR48 DestQName;
  MQCHAR48 DestQMgrName;
  MQLONG Encoding;
  MQLONG CodedCharSetId;
  MQCHAR8 Format;
  MQLONG PutApplType;
  MQCHAR28 PutApplName;
  MQCHAR8 PutDate;
  MQCHAR8 PutTime;
};
typedef MQDLH* PMQDLH;

#define MQDLH_DEFAULT                                                          \
  {MQDLH_STRUC_ID_ARRAY}, MQDLH_VERSION_1, MQRC_NONE, {""}, {""}, 0,           \
      MQCCSI_UNDEFINED, {MQFMT_NONE_ARRAY}, 0, {""}, {""}, {""}

// MQXQH: transmission-queue header, version 1, with a version-1 MQMD.
struct MQXQH {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQCHAR48 RemoteQName;
  MQCHAR48 RemoteQMgrName;
  MQMD1 MsgDesc;
};
typedef MQXQH* PMQXQH;

#define MQXQH_DEFAULT                                                          \
  {MQXQH_STRUC_ID_ARRAY}, MQXQH_VERSION_1, {""}, {""}, {MQMD1_DEFAULT}

// MQMDE: message-descriptor extension, version 2.
struct MQMDE {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG StrucLength;
  MQLONG Encoding;
  MQLONG CodedCharSetId;
  MQCHAR8 Format;
  MQLONG Flags;
  MQBYTE24 GroupId;
  MQLONG MsgSeqNumber;
  MQLONG Offset;
  MQLONG MsgFlags;
  MQLONG OriginalLength;
};
typedef MQMDE* PMQMDE;

#define MQMDE_DEFAULT                                                          \
  {MQMDE_STRUC_ID_ARRAY}, MQMDE_VERSION_2, MQMDE_LENGTH_2, MQENC_NATIVE,       \
      MQCCSI_UNDEFINED, {MQFMT_NONE_ARRAY}, MQMDEF_NONE, {MQGI_NONE_ARRAY},    \
      1, 0, MQMF_NONE, MQOL_UNDEFINED

// MQRFH2: rules and formatting header 2, fixed part. Folder pairs
// (MQLONG NameValueLength, then that many bytes) follow up to StrucLength.
struct MQRFH2 {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG StrucLength;
  MQLONG Encoding;
  MQLONG CodedCharSetId;
  MQCHAR8 Format;
  MQLONG Flags;
  MQLONG NameValueCCSID;
};
typedef MQRFH2* PMQRFH2;

#define MQRFH2_DEFAULT                                                         \
  {MQRFH_STRUC_ID_ARRAY}, MQRFH_VERSION_2, MQRFH_STRUC_LENGTH_FIXED_2,         \
      MQENC_NATIVE, MQCCSI_INHERIT, {MQFMT_NONE_ARRAY}, MQRFH_NONE, 1208

// ---------------------------------------------------------------------------
// PCF structures. No StrucId: Type (MQCFT_*) names each one and StrucLength
// includes its variable part. As in IBM's declarations the string and list
// structures end in a one-element array, so sizeof() is NOT the fixed
// length: use the *_STRUC_LENGTH_FIXED constants.
struct MQCFH {
  MQLONG Type;
  MQLONG StrucLength;
  MQLONG Version;
  MQLONG Command;
  MQLONG MsgSeqNumber;
  MQLONG Control;
  MQLONG CompCode;
  MQLONG Reason;
  MQLONG ParameterCount;
};
typedef MQCFH* PMQCFH;
#define MQCFH_DEFAULT                                                          \
  MQCFT_COMMAND, MQCFH_STRUC_LENGTH, MQCFH_VERSION_1, MQCMD_NONE, 1,           \
      MQCFC_LAST, MQCC_OK, MQRC_NONE, 0

struct MQCFIN {
  MQLONG Type;
  MQLONG StrucLength;
  MQLONG Parameter;
  MQLONG Value;
};
typedef MQCFIN* PMQCFIN;
#define MQCFIN_DEFAULT MQCFT_INTEGER, MQCFIN_STRUC_LENGTH, 0, 0

struct MQCFIN64 {
  MQLONG Type;
  MQLONG StrucLength;
  MQLONG Parameter;
  MQLONG Reserved;
  MQINT64 Value;
};
typedef MQCFIN64* PMQCFIN64;
#define MQCFIN64_DEFAULT MQCFT_INTEGER64, MQCFIN64_STRUC_LENGTH, 0, 0, 0

struct MQCFST {
  MQLONG Type;
  MQLONG StrucLength;
  MQLONG Parameter;
  MQLONG CodedCharSetId;
  MQLONG StringLength;
  MQCHAR String[1];        // StringLength characters
};
typedef MQCFST* PMQCFST;
#define MQCFST_DEFAULT                                                         \
  MQCFT_STRING, MQCFST_STRUC_LENGTH_FIXED, 0, MQCCSI_DEFAULT, 0, {""}

struct MQCFIL {
  MQLONG Type;
  MQLONG StrucLength;
  MQLONG Parameter;
  MQLONG Count;
  MQLONG Values[1];        // Count values
};
typedef MQCFIL* PMQCFIL;
#define MQCFIL_DEFAULT MQCFT_INTEGER_LIST, MQCFIL_STRUC_LENGTH_FIXED, 0, 0, {0}

struct MQCFSL {
  MQLONG Type;
  MQLONG StrucLength;
  MQLONG Parameter;
  MQLONG CodedCharSetId;
  MQLONG Count;
  MQLONG StringLength;
  MQCHAR Strings[1];       // Count strings of StringLength characters
};
typedef MQCFSL* PMQCFSL;
#define MQCFSL_DEFAULT                                                         \
  MQCFT_STRING_LIST, MQCFSL_STRUC_LENGTH_FIXED, 0, MQCCSI_DEFAULT, 0, 0, {""}

struct MQCFBS {
  MQLONG Type;
  MQLONG StrucLength;
  MQLONG Parameter;
  MQLONG StringLength;
  MQBYTE String[1];        // StringLength bytes
};
typedef MQCFBS* PMQCFBS;
#define MQCFBS_DEFAULT MQCFT_BYTE_STRING, MQCFBS_STRUC_LENGTH_FIXED, 0, 0, {0}

struct MQCFGR {
  MQLONG Type;
  MQLONG StrucLength;
  MQLONG Parameter;
  MQLONG ParameterCount;   // parameter structures that follow in the group
};
typedef MQCFGR* PMQCFGR;
#define MQCFGR_DEFAULT MQCFT_GROUP, MQCFGR_STRUC_LENGTH, 0, 0

#include "mqi/mq_layout_checks.h"

#endif  // MQI_MQ_STRUCTS_H_
