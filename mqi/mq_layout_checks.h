// Compile-time proof that the structures of mq_structs.h have IBM's
// layout on 64-bit Linux: every field's offset and size, every version's
// length constant, each structure's size and alignment. Included at the end
// of mq_structs.h; a layout mistake stops the build.
#ifndef MQI_MQ_LAYOUT_CHECKS_H_
#define MQI_MQ_LAYOUT_CHECKS_H_

#include <cstddef>

// The bytes a caller of version n must provide: the end of the last
// version-n field, rounded up to the alignment of that version's prefix.
constexpr size_t MqVersionEnd(size_t end, size_t align) {
  return (end + align - 1) / align * align;
}

#define MQ_FIELD_AT(type, field, offset, size)                   \
  static_assert(offsetof(type, field) == (offset) &&             \
                    sizeof(static_cast<type*>(nullptr)->field) == (size), \
                #type "." #field " is misplaced")
#define MQ_VERSION_ENDS(type, field, align, length)                          \
  static_assert(MqVersionEnd(offsetof(type, field) +                         \
                                 sizeof(static_cast<type*>(nullptr)->field), \
                             (align)) == (length),                           \
                #type " version ending at " #field " has the wrong length")

// MQMD
MQ_FIELD_AT(MQMD, StrucId, 0, 4);
MQ_FIELD_AT(MQMD, Version, 4, 4);
MQ_FIELD_AT(MQMD, Report, 8, 4);
MQ_FIELD_AT(MQMD, MsgType, 12, 4);
MQ_FIELD_AT(MQMD, Expiry, 16, 4);
MQ_FIELD_AT(MQMD, Feedback, 20, 4);
MQ_FIELD_AT(MQMD, Encoding, 24, 4);
MQ_FIELD_AT(MQMD, CodedCharSetId, 28, 4);
MQ_FIELD_AT(MQMD, Format, 32, 8);
MQ_FIELD_AT(MQMD, Priority, 40, 4);
MQ_FIELD_AT(MQMD, Persistence, 44, 4);
MQ_FIELD_AT(MQMD, MsgId, 48, 24);
MQ_FIELD_AT(MQMD, CorrelId, 72, 24);
MQ_FIELD_AT(MQMD, BackoutCount, 96, 4);
MQ_FIELD_AT(MQMD, ReplyToQ, 100, 48);
MQ_FIELD_AT(MQMD, ReplyToQMgr, 148, 48);
MQ_FIELD_AT(MQMD, UserIdentifier, 196, 12);
MQ_FIELD_AT(MQMD, AccountingToken, 208, 32);
MQ_FIELD_AT(MQMD, ApplIdentityData, 240, 32);
MQ_FIELD_AT(MQMD, PutApplType, 272, 4);
MQ_FIELD_AT(MQMD, PutApplName, 276, 28);
MQ_FIELD_AT(MQMD, PutDate, 304, 8);
MQ_FIELD_AT(MQMD, PutTime, 312, 8);
MQ_FIELD_AT(MQMD, ApplOriginData, 320, 4);
MQ_FIELD_AT(MQMD, GroupId, 324, 24);
MQ_FIELD_AT(MQMD, MsgSeqNumber, 348, 4);
MQ_FIELD_AT(MQMD, Offset, 352, 4);
MQ_FIELD_AT(MQMD, MsgFlags, 356, 4);
MQ_FIELD_AT(MQMD, OriginalLength, 360, 4);

// MQOD
MQ_FIELD_AT(MQOD, StrucId, 0, 4);
MQ_FIELD_AT(MQOD, Version, 4, 4);
MQ_FIELD_AT(MQOD, ObjectType, 8, 4);
MQ_FIELD_AT(MQOD, ObjectName, 12, 48);
MQ_FIELD_AT(MQOD, ObjectQMgrName, 60, 48);
MQ_FIELD_AT(MQOD, DynamicQName, 108, 48);
MQ_FIELD_AT(MQOD, AlternateUserId, 156, 12);
MQ_FIELD_AT(MQOD, RecsPresent, 168, 4);
MQ_FIELD_AT(MQOD, KnownDestCount, 172, 4);
MQ_FIELD_AT(MQOD, UnknownDestCount, 176, 4);
MQ_FIELD_AT(MQOD, InvalidDestCount, 180, 4);
MQ_FIELD_AT(MQOD, ObjectRecOffset, 184, 4);
MQ_FIELD_AT(MQOD, ResponseRecOffset, 188, 4);
MQ_FIELD_AT(MQOD, ObjectRecPtr, 192, 8);
MQ_FIELD_AT(MQOD, ResponseRecPtr, 200, 8);
MQ_FIELD_AT(MQOD, AlternateSecurityId, 208, 40);
MQ_FIELD_AT(MQOD, ResolvedQName, 248, 48);
MQ_FIELD_AT(MQOD, ResolvedQMgrName, 296, 48);
MQ_FIELD_AT(MQOD, ObjectString, 344, 24);
MQ_FIELD_AT(MQOD, SelectionString, 368, 24);
MQ_FIELD_AT(MQOD, ResObjectString, 392, 24);
MQ_FIELD_AT(MQOD, ResolvedType, 416, 4);

// MQGMO
MQ_FIELD_AT(MQGMO, StrucId, 0, 4);
MQ_FIELD_AT(MQGMO, Version, 4, 4);
MQ_FIELD_AT(MQGMO, Options, 8, 4);
MQ_FIELD_AT(MQGMO, WaitInterval, 12, 4);
MQ_FIELD_AT(MQGMO, Signal1, 16, 4);
MQ_FIELD_AT(MQGMO, Signal2, 20, 4);
MQ_FIELD_AT(MQGMO, ResolvedQName, 24, 48);
MQ_FIELD_AT(MQGMO, MatchOptions, 72, 4);
MQ_FIELD_AT(MQGMO, GroupStatus, 76, 1);
MQ_FIELD_AT(MQGMO, SegmentStatus, 77, 1);
MQ_FIELD_AT(MQGMO, Segmentation, 78, 1);
MQ_FIELD_AT(MQGMO, Reserved1, 79, 1);
MQ_FIELD_AT(MQGMO, MsgToken, 80, 16);
MQ_FIELD_AT(MQGMO, ReturnedLength, 96, 4);
MQ_FIELD_AT(MQGMO, Reserved2, 100, 4);
MQ_FIELD_AT(MQGMO, MsgHandle, 104, 8);

// MQPMO
MQ_FIELD_AT(MQPMO, StrucId, 0, 4);
MQ_FIELD_AT(MQPMO, Version, 4, 4);
MQ_FIELD_AT(MQPMO, Options, 8, 4);
MQ_FIELD_AT(MQPMO, Timeout, 12, 4);
MQ_FIELD_AT(MQPMO, Context, 16, 4);
MQ_FIELD_AT(MQPMO, KnownDestCount, 20, 4);
MQ_FIELD_AT(MQPMO, UnknownDestCount, 24, 4);
MQ_FIELD_AT(MQPMO, InvalidDestCount, 28, 4);
MQ_FIELD_AT(MQPMO, ResolvedQName, 32, 48);
MQ_FIELD_AT(MQPMO, ResolvedQMgrName, 80, 48);
MQ_FIELD_AT(MQPMO, RecsPresent, 128, 4);
MQ_FIELD_AT(MQPMO, PutMsgRecFields, 132, 4);
MQ_FIELD_AT(MQPMO, PutMsgRecOffset, 136, 4);
MQ_FIELD_AT(MQPMO, ResponseRecOffset, 140, 4);
MQ_FIELD_AT(MQPMO, PutMsgRecPtr, 144, 8);
MQ_FIELD_AT(MQPMO, ResponseRecPtr, 152, 8);
MQ_FIELD_AT(MQPMO, OriginalMsgHandle, 160, 8);
MQ_FIELD_AT(MQPMO, NewMsgHandle, 168, 8);
MQ_FIELD_AT(MQPMO, Action, 176, 4);
MQ_FIELD_AT(MQPMO, PubLevel, 180, 4);

// MQCNO
MQ_FIELD_AT(MQCNO, StrucId, 0, 4);
MQ_FIELD_AT(MQCNO, Version, 4, 4);
MQ_FIELD_AT(MQCNO, Options, 8, 4);
MQ_FIELD_AT(MQCNO, ClientConnOffset, 12, 4);
MQ_FIELD_AT(MQCNO, ClientConnPtr, 16, 8);
MQ_FIELD_AT(MQCNO, ConnTag, 24, 128);
MQ_FIELD_AT(MQCNO, SSLConfigPtr, 152, 8);
MQ_FIELD_AT(MQCNO, SSLConfigOffset, 160, 4);
MQ_FIELD_AT(MQCNO, ConnectionId, 164, 24);
MQ_FIELD_AT(MQCNO, SecurityParmsOffset, 188, 4);
MQ_FIELD_AT(MQCNO, SecurityParmsPtr, 192, 8);
MQ_FIELD_AT(MQCNO, CCDTUrlPtr, 200, 8);
MQ_FIELD_AT(MQCNO, CCDTUrlOffset, 208, 4);
MQ_FIELD_AT(MQCNO, CCDTUrlLength, 212, 4);
MQ_FIELD_AT(MQCNO, Reserved, 216, 8);
MQ_FIELD_AT(MQCNO, ApplName, 224, 28);
MQ_FIELD_AT(MQCNO, Reserved2, 252, 4);
MQ_FIELD_AT(MQCNO, BalanceParmsPtr, 256, 8);
MQ_FIELD_AT(MQCNO, BalanceParmsOffset, 264, 4);
MQ_FIELD_AT(MQCNO, Reserved3, 268, 4);

// MQCSP
MQ_FIELD_AT(MQCSP, StrucId, 0, 4);
MQ_FIELD_AT(MQCSP, Version, 4, 4);
MQ_FIELD_AT(MQCSP, AuthenticationType, 8, 4);
MQ_FIELD_AT(MQCSP, Reserved1, 12, 4);
MQ_FIELD_AT(MQCSP, CSPUserIdPtr, 16, 8);
MQ_FIELD_AT(MQCSP, CSPUserIdOffset, 24, 4);
MQ_FIELD_AT(MQCSP, CSPUserIdLength, 28, 4);
MQ_FIELD_AT(MQCSP, Reserved2, 32, 8);
MQ_FIELD_AT(MQCSP, CSPPasswordPtr, 40, 8);
MQ_FIELD_AT(MQCSP, CSPPasswordOffset, 48, 4);
MQ_FIELD_AT(MQCSP, CSPPasswordLength, 52, 4);
MQ_FIELD_AT(MQCSP, Reserved3, 56, 8);
MQ_FIELD_AT(MQCSP, InitialKeyPtr, 64, 8);
MQ_FIELD_AT(MQCSP, InitialKeyOffset, 72, 4);
MQ_FIELD_AT(MQCSP, InitialKeyLength, 76, 4);
MQ_FIELD_AT(MQCSP, Reserved4, 80, 8);
MQ_FIELD_AT(MQCSP, TokenPtr, 88, 8);
MQ_FIELD_AT(MQCSP, TokenOffset, 96, 4);
MQ_FIELD_AT(MQCSP, TokenLength, 100, 4);

// MQCBD
MQ_FIELD_AT(MQCBD, StrucId, 0, 4);
MQ_FIELD_AT(MQCBD, Version, 4, 4);
MQ_FIELD_AT(MQCBD, CallbackType, 8, 4);
MQ_FIELD_AT(MQCBD, Options, 12, 4);
MQ_FIELD_AT(MQCBD, CallbackArea, 16, 8);
MQ_FIELD_AT(MQCBD, CallbackFunction, 24, 8);
MQ_FIELD_AT(MQCBD, CallbackName, 32, 128);
MQ_FIELD_AT(MQCBD, MaxMsgLength, 160, 4);

// MQCBC
MQ_FIELD_AT(MQCBC, StrucId, 0, 4);
MQ_FIELD_AT(MQCBC, Version, 4, 4);
MQ_FIELD_AT(MQCBC, CallType, 8, 4);
MQ_FIELD_AT(MQCBC, Hobj, 12, 4);
MQ_FIELD_AT(MQCBC, CallbackArea, 16, 8);
MQ_FIELD_AT(MQCBC, ConnectionArea, 24, 8);
MQ_FIELD_AT(MQCBC, CompCode, 32, 4);
MQ_FIELD_AT(MQCBC, Reason, 36, 4);
MQ_FIELD_AT(MQCBC, State, 40, 4);
MQ_FIELD_AT(MQCBC, DataLength, 44, 4);
MQ_FIELD_AT(MQCBC, BufferLength, 48, 4);
MQ_FIELD_AT(MQCBC, Flags, 52, 4);
MQ_FIELD_AT(MQCBC, ReconnectDelay, 56, 4);

// MQCTLO
MQ_FIELD_AT(MQCTLO, StrucId, 0, 4);
MQ_FIELD_AT(MQCTLO, Version, 4, 4);
MQ_FIELD_AT(MQCTLO, Options, 8, 4);
MQ_FIELD_AT(MQCTLO, Reserved, 12, 4);
MQ_FIELD_AT(MQCTLO, ConnectionArea, 16, 8);

// MQOR
MQ_FIELD_AT(MQOR, ObjectName, 0, 48);
MQ_FIELD_AT(MQOR, ObjectQMgrName, 48, 48);

// MQRR
MQ_FIELD_AT(MQRR, CompCode, 0, 4);
MQ_FIELD_AT(MQRR, Reason, 4, 4);

// MQDLH
MQ_FIELD_AT(MQDLH, StrucId, 0, 4);
MQ_FIELD_AT(MQDLH, Version, 4, 4);
MQ_FIELD_AT(MQDLH, Reason, 8, 4);
MQ_FIELD_AT(MQDLH, DestQName, 12, 48);
MQ_FIELD_AT(MQDLH, DestQMgrName, 60, 48);
MQ_FIELD_AT(MQDLH, Encoding, 108, 4);
MQ_FIELD_AT(MQDLH, CodedCharSetId, 112, 4);
MQ_FIELD_AT(MQDLH, Format, 116, 8);
MQ_FIELD_AT(MQDLH, PutApplType, 124, 4);
MQ_FIELD_AT(MQDLH, PutApplName, 128, 28);
MQ_FIELD_AT(MQDLH, PutDate, 156, 8);
MQ_FIELD_AT(MQDLH, PutTime, 164, 8);

// MQXQH
MQ_FIELD_AT(MQXQH, StrucId, 0, 4);
MQ_FIELD_AT(MQXQH, Version, 4, 4);
MQ_FIELD_AT(MQXQH, RemoteQName, 8, 48);
MQ_FIELD_AT(MQXQH, RemoteQMgrName, 56, 48);
MQ_FIELD_AT(MQXQH, MsgDesc, 104, 324);

// MQMD1
MQ_FIELD_AT(MQMD1, StrucId, 0, 4);
MQ_FIELD_AT(MQMD1, Version, 4, 4);
MQ_FIELD_AT(MQMD1, Report, 8, 4);
MQ_FIELD_AT(MQMD1, MsgType, 12, 4);
MQ_FIELD_AT(MQMD1, Expiry, 16, 4);
MQ_FIELD_AT(MQMD1, Feedback, 20, 4);
MQ_FIELD_AT(MQMD1, Encoding, 24, 4);
MQ_FIELD_AT(MQMD1, CodedCharSetId, 28, 4);
MQ_FIELD_AT(MQMD1, Format, 32, 8);
MQ_FIELD_AT(MQMD1, Priority, 40, 4);
MQ_FIELD_AT(MQMD1, Persistence, 44, 4);
MQ_FIELD_AT(MQMD1, MsgId, 48, 24);
MQ_FIELD_AT(MQMD1, CorrelId, 72, 24);
MQ_FIELD_AT(MQMD1, BackoutCount, 96, 4);
MQ_FIELD_AT(MQMD1, ReplyToQ, 100, 48);
MQ_FIELD_AT(MQMD1, ReplyToQMgr, 148, 48);
MQ_FIELD_AT(MQMD1, UserIdentifier, 196, 12);
MQ_FIELD_AT(MQMD1, AccountingToken, 208, 32);
MQ_FIELD_AT(MQMD1, ApplIdentityData, 240, 32);
MQ_FIELD_AT(MQMD1, PutApplType, 272, 4);
MQ_FIELD_AT(MQMD1, PutApplName, 276, 28);
MQ_FIELD_AT(MQMD1, PutDate, 304, 8);
MQ_FIELD_AT(MQMD1, PutTime, 312, 8);
MQ_FIELD_AT(MQMD1, ApplOriginData, 320, 4);

// MQMDE
MQ_FIELD_AT(MQMDE, StrucId, 0, 4);
MQ_FIELD_AT(MQMDE, Version, 4, 4);
MQ_FIELD_AT(MQMDE, StrucLength, 8, 4);
MQ_FIELD_AT(MQMDE, Encoding, 12, 4);
MQ_FIELD_AT(MQMDE, CodedCharSetId, 16, 4);
MQ_FIELD_AT(MQMDE, Format, 20, 8);
MQ_FIELD_AT(MQMDE, Flags, 28, 4);
MQ_FIELD_AT(MQMDE, GroupId, 32, 24);
MQ_FIELD_AT(MQMDE, MsgSeqNumber, 56, 4);
MQ_FIELD_AT(MQMDE, Offset, 60, 4);
MQ_FIELD_AT(MQMDE, MsgFlags, 64, 4);
MQ_FIELD_AT(MQMDE, OriginalLength, 68, 4);

// MQRFH2
MQ_FIELD_AT(MQRFH2, StrucId, 0, 4);
MQ_FIELD_AT(MQRFH2, Version, 4, 4);
MQ_FIELD_AT(MQRFH2, StrucLength, 8, 4);
MQ_FIELD_AT(MQRFH2, Encoding, 12, 4);
MQ_FIELD_AT(MQRFH2, CodedCharSetId, 16, 4);
MQ_FIELD_AT(MQRFH2, Format, 20, 8);
MQ_FIELD_AT(MQRFH2, Flags, 28, 4);
MQ_FIELD_AT(MQRFH2, NameValueCCSID, 32, 4);

// MQCFH
MQ_FIELD_AT(MQCFH, Type, 0, 4);
MQ_FIELD_AT(MQCFH, StrucLength, 4, 4);
MQ_FIELD_AT(MQCFH, Version, 8, 4);
MQ_FIELD_AT(MQCFH, Command, 12, 4);
MQ_FIELD_AT(MQCFH, MsgSeqNumber, 16, 4);
MQ_FIELD_AT(MQCFH, Control, 20, 4);
MQ_FIELD_AT(MQCFH, CompCode, 24, 4);
MQ_FIELD_AT(MQCFH, Reason, 28, 4);
MQ_FIELD_AT(MQCFH, ParameterCount, 32, 4);

// MQCFIN
MQ_FIELD_AT(MQCFIN, Type, 0, 4);
MQ_FIELD_AT(MQCFIN, StrucLength, 4, 4);
MQ_FIELD_AT(MQCFIN, Parameter, 8, 4);
MQ_FIELD_AT(MQCFIN, Value, 12, 4);

// MQCFIN64
MQ_FIELD_AT(MQCFIN64, Type, 0, 4);
MQ_FIELD_AT(MQCFIN64, StrucLength, 4, 4);
MQ_FIELD_AT(MQCFIN64, Parameter, 8, 4);
MQ_FIELD_AT(MQCFIN64, Reserved, 12, 4);
MQ_FIELD_AT(MQCFIN64, Value, 16, 8);

// MQCFST
MQ_FIELD_AT(MQCFST, Type, 0, 4);
MQ_FIELD_AT(MQCFST, StrucLength, 4, 4);
MQ_FIELD_AT(MQCFST, Parameter, 8, 4);
MQ_FIELD_AT(MQCFST, CodedCharSetId, 12, 4);
MQ_FIELD_AT(MQCFST, StringLength, 16, 4);

// MQCFIL
MQ_FIELD_AT(MQCFIL, Type, 0, 4);
MQ_FIELD_AT(MQCFIL, StrucLength, 4, 4);
MQ_FIELD_AT(MQCFIL, Parameter, 8, 4);
MQ_FIELD_AT(MQCFIL, Count, 12, 4);

// MQCFSL
MQ_FIELD_AT(MQCFSL, Type, 0, 4);
MQ_FIELD_AT(MQCFSL, StrucLength, 4, 4);
MQ_FIELD_AT(MQCFSL, Parameter, 8, 4);
MQ_FIELD_AT(MQCFSL, CodedCharSetId, 12, 4);
MQ_FIELD_AT(MQCFSL, Count, 16, 4);
MQ_FIELD_AT(MQCFSL, StringLength, 20, 4);

// MQCFBS
MQ_FIELD_AT(MQCFBS, Type, 0, 4);
MQ_FIELD_AT(MQCFBS, StrucLength, 4, 4);
MQ_FIELD_AT(MQCFBS, Parameter, 8, 4);
MQ_FIELD_AT(MQCFBS, StringLength, 12, 4);

// MQCFGR
MQ_FIELD_AT(MQCFGR, Type, 0, 4);
MQ_FIELD_AT(MQCFGR, StrucLength, 4, 4);
MQ_FIELD_AT(MQCFGR, Parameter, 8, 4);
MQ_FIELD_AT(MQCFGR, ParameterCount, 12, 4);

// MQCHARV
MQ_FIELD_AT(MQCHARV, VSPtr, 0, 8);
MQ_FIELD_AT(MQCHARV, VSOffset, 8, 4);
MQ_FIELD_AT(MQCHARV, VSBufSize, 12, 4);
MQ_FIELD_AT(MQCHARV, VSLength, 16, 4);
MQ_FIELD_AT(MQCHARV, VSCCSID, 20, 4);

// MQCBC

// Version lengths: the last field of each version and its prefix alignment.
MQ_VERSION_ENDS(MQMD, ApplOriginData, 4, MQMD_LENGTH_1);
MQ_VERSION_ENDS(MQMD, OriginalLength, 4, MQMD_LENGTH_2);
MQ_VERSION_ENDS(MQOD, AlternateUserId, 4, MQOD_LENGTH_1);
MQ_VERSION_ENDS(MQOD, ResponseRecPtr, 8, MQOD_LENGTH_2);
MQ_VERSION_ENDS(MQOD, ResolvedQMgrName, 8, MQOD_LENGTH_3);
MQ_VERSION_ENDS(MQOD, ResolvedType, 8, MQOD_LENGTH_4);
MQ_VERSION_ENDS(MQGMO, ResolvedQName, 4, MQGMO_LENGTH_1);
MQ_VERSION_ENDS(MQGMO, Reserved1, 4, MQGMO_LENGTH_2);
MQ_VERSION_ENDS(MQGMO, ReturnedLength, 4, MQGMO_LENGTH_3);
MQ_VERSION_ENDS(MQGMO, MsgHandle, 8, MQGMO_LENGTH_4);
MQ_VERSION_ENDS(MQPMO, ResolvedQMgrName, 4, MQPMO_LENGTH_1);
MQ_VERSION_ENDS(MQPMO, ResponseRecPtr, 8, MQPMO_LENGTH_2);
MQ_VERSION_ENDS(MQPMO, PubLevel, 8, MQPMO_LENGTH_3);
MQ_VERSION_ENDS(MQCNO, Options, 4, MQCNO_LENGTH_1);
MQ_VERSION_ENDS(MQCNO, ClientConnPtr, 8, MQCNO_LENGTH_2);
MQ_VERSION_ENDS(MQCNO, ConnTag, 8, MQCNO_LENGTH_3);
MQ_VERSION_ENDS(MQCNO, SSLConfigOffset, 8, MQCNO_LENGTH_4);
MQ_VERSION_ENDS(MQCNO, SecurityParmsPtr, 8, MQCNO_LENGTH_5);
MQ_VERSION_ENDS(MQCNO, Reserved, 8, MQCNO_LENGTH_6);
MQ_VERSION_ENDS(MQCNO, Reserved2, 8, MQCNO_LENGTH_7);
MQ_VERSION_ENDS(MQCNO, Reserved3, 8, MQCNO_LENGTH_8);
MQ_VERSION_ENDS(MQCSP, CSPPasswordLength, 8, MQCSP_LENGTH_1);
MQ_VERSION_ENDS(MQCSP, InitialKeyLength, 8, MQCSP_LENGTH_2);
MQ_VERSION_ENDS(MQCSP, TokenLength, 8, MQCSP_LENGTH_3);
MQ_VERSION_ENDS(MQCBC, Flags, 8, MQCBC_LENGTH_1);
MQ_VERSION_ENDS(MQCBC, ReconnectDelay, 8, MQCBC_LENGTH_2);

// Whole sizes: the current version of each structure.
static_assert(sizeof(MQMD) == MQMD_LENGTH_2 && sizeof(MQMD) == MQMD_CURRENT_LENGTH);
static_assert(sizeof(MQMD1) == MQMD1_LENGTH_1);
static_assert(sizeof(MQOD) == MQOD_LENGTH_4 && sizeof(MQOD) == MQOD_CURRENT_LENGTH);
static_assert(sizeof(MQGMO) == MQGMO_LENGTH_4 && sizeof(MQGMO) == MQGMO_CURRENT_LENGTH);
static_assert(sizeof(MQPMO) == MQPMO_LENGTH_3 && sizeof(MQPMO) == MQPMO_CURRENT_LENGTH);
static_assert(sizeof(MQCNO) == MQCNO_LENGTH_8 && sizeof(MQCNO) == MQCNO_CURRENT_LENGTH);
static_assert(sizeof(MQCSP) == MQCSP_LENGTH_3 && sizeof(MQCSP) == MQCSP_CURRENT_LENGTH);
static_assert(sizeof(MQCBD) == MQCBD_LENGTH_1);
static_assert(sizeof(MQCBC) == MQCBC_LENGTH_2);
static_assert(sizeof(MQCTLO) == MQCTLO_LENGTH_1);
static_assert(sizeof(MQOR) == 96 && alignof(MQOR) == 1);
static_assert(sizeof(MQRR) == 8);
static_assert(sizeof(MQDLH) == MQDLH_LENGTH_1 && sizeof(MQDLH) == MQDLH_CURRENT_LENGTH);
static_assert(sizeof(MQXQH) == MQXQH_LENGTH_1 && sizeof(MQXQH) == MQXQH_CURRENT_LENGTH);
static_assert(sizeof(MQMDE) == MQMDE_LENGTH_2 && sizeof(MQMDE) == MQMDE_CURRENT_LENGTH);
static_assert(sizeof(MQRFH2) == MQRFH2_LENGTH_2 && sizeof(MQRFH2) == MQRFH_STRUC_LENGTH_FIXED_2);
static_assert(sizeof(MQCFH) == MQCFH_STRUC_LENGTH);
static_assert(sizeof(MQCFIN) == MQCFIN_STRUC_LENGTH);
static_assert(sizeof(MQCFIN64) == MQCFIN64_STRUC_LENGTH);
static_assert(sizeof(MQCFGR) == MQCFGR_STRUC_LENGTH);
static_assert(sizeof(MQCHARV) == 24);
// IBM's one-element trailing arrays: sizeof exceeds the fixed length.
static_assert(offsetof(MQCFST, String) == MQCFST_STRUC_LENGTH_FIXED && sizeof(MQCFST) == 24);
static_assert(offsetof(MQCFIL, Values) == MQCFIL_STRUC_LENGTH_FIXED && sizeof(MQCFIL) == 20);
static_assert(offsetof(MQCFSL, Strings) == MQCFSL_STRUC_LENGTH_FIXED && sizeof(MQCFSL) == 28);
static_assert(offsetof(MQCFBS, String) == MQCFBS_STRUC_LENGTH_FIXED && sizeof(MQCFBS) == 20);

// Alignment: 8 for structures holding a pointer, MQINT64, MQHMSG or
// MQCHARV, otherwise 4.
static_assert(alignof(MQMD) == 4 && alignof(MQDLH) == 4 && alignof(MQXQH) == 4);
static_assert(alignof(MQMDE) == 4 && alignof(MQRFH2) == 4 && alignof(MQCFH) == 4);
static_assert(alignof(MQOD) == 8 && alignof(MQGMO) == 8 && alignof(MQPMO) == 8);
static_assert(alignof(MQCNO) == 8 && alignof(MQCSP) == 8 && alignof(MQCBD) == 8);
static_assert(alignof(MQCBC) == 8 && alignof(MQCTLO) == 8 && alignof(MQCFIN64) == 8);

#undef MQ_FIELD_AT
#undef MQ_VERSION_ENDS

#endif  // MQI_MQ_LAYOUT_CHECKS_H_
