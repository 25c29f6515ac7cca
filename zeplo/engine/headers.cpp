// Header stripping (-h) and the EBCDIC and byte-order repairs of a
// descriptor carried inside a transmission header.
#include <cstring>

#include "zeplo/engine/engine.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// Coded character sets treated as EBCDIC, ascending; ranges written out.
constexpr MQLONG kEbcdicCcsids[] = {
    37,    256,   273,   277,   278,   280,   284,   285,   286,   290,   297,   300,   420,
    421,   424,   425,   500,   803,   833,   834,   835,   836,   837,   838,   870,   871,
    875,   880,   918,   924,   930,   931,   933,   935,   937,   939,   1025,  1026,  1027,
    1047,  1097,  1112,  1122,  1123,  1130,  1132,  1137,  1140,  1141,  1142,  1143,  1144,
    1145,  1146,  1147,  1148,  1149,  1279,  1364,  1388,  1390,  1399,  4133,  4325,  4369,
    4370,  4371,  4372,  4373,  4374,  4376,  4378,  4380,  4381,  4386,  4393,  4396,  4516,
    4520,  4596,  4899,  4929,  4931,  4932,  4933,  4934,  4966,  4967,  4971,  4976,  5014,
    5026,  5029,  5031,  5033,  5035,  5123,  5143,  5484,  8229,  8448,  8478,  8482,  8489,
    8492,  8612,  8692,  9025,  9026,  9028,  9030,  9122,  9125,  9127,  9131,  12325, 12544,
    12588, 12712, 12788, 13218, 13219, 13221, 13223, 16421, 16684, 16884, 17314, 20517, 20980,
    24613, 25076, 29172, 32805, 33058, 33268, 33698, 33699, 37364, 41460, 45556, 49652, 53748,
    61696, 61711, 61712};
static_assert(sizeof kEbcdicCcsids / sizeof kEbcdicCcsids[0] == 146);

// MQDLH fields copied into the descriptor (offsets in the 172-byte header).
constexpr int kDlhEncoding = 108;
constexpr int kDlhCodedCharSetId = 112;
constexpr int kDlhFormat = 116;
constexpr int kDlhPutApplType = 124;
constexpr int kDlhPutApplName = 128;
constexpr int kDlhPutDate = 156;
constexpr int kDlhPutTime = 164;
// The version-1 MQMD inside an MQXQH follows StrucId, Version and the two
// remote names.
constexpr int kXqhMsgDesc = 104;

MQLONG Swap32(MQLONG v) {
  uint32_t u = static_cast<uint32_t>(v);
  u = (u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24);
  return static_cast<MQLONG>(u);
}

MQLONG ReadLong(const unsigned char* p, bool swap) {
  MQLONG v;
  memcpy(&v, p, sizeof v);
  return swap ? Swap32(v) : v;
}

void CopyText(char* field, const unsigned char* from, int length, bool ebcdic) {
  memcpy(field, from, static_cast<size_t>(length));
  if (ebcdic) {
    EbcdicToAscii(reinterpret_cast<unsigned char*>(field), reinterpret_cast<unsigned char*>(field),
                  length);
  }
}

}  // namespace

bool IsEbcdicCcsid(MQLONG ccsid) {
  size_t lo = 0;
  size_t hi = sizeof kEbcdicCcsids / sizeof kEbcdicCcsids[0];
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (kEbcdicCcsids[mid] == ccsid) return true;
    if (kEbcdicCcsids[mid] < ccsid)
      lo = mid + 1;
    else
      hi = mid;
  }
  return false;
}

void ConvertDescriptorFields(MQMD* md, bool swap, bool ebcdic) {
  if (ebcdic) {
    auto translate = [](char* field, int length) {
      EbcdicToAscii(reinterpret_cast<unsigned char*>(field),
                    reinterpret_cast<unsigned char*>(field), length);
    };
    translate(md->StrucId, sizeof md->StrucId);
    translate(md->Format, sizeof md->Format);
    // ReplyToQ, ReplyToQMgr and UserIdentifier are adjacent (108 bytes);
    // so are PutApplName, PutDate, PutTime and ApplOriginData (48).
    translate(md->ReplyToQ, sizeof md->ReplyToQ);
    translate(md->ReplyToQMgr, sizeof md->ReplyToQMgr);
    translate(md->UserIdentifier, sizeof md->UserIdentifier);
    translate(md->ApplIdentityData, sizeof md->ApplIdentityData);
    translate(md->PutApplName, sizeof md->PutApplName);
    translate(md->PutDate, sizeof md->PutDate);
    translate(md->PutTime, sizeof md->PutTime);
    translate(md->ApplOriginData, sizeof md->ApplOriginData);
  }
  if (swap) {
    MQLONG* words[] = {&md->Version,     &md->Report,       &md->MsgType,        &md->Expiry,
                       &md->Feedback,    &md->Encoding,     &md->CodedCharSetId, &md->Priority,
                       &md->Persistence, &md->BackoutCount, &md->PutApplType};
    for (MQLONG* w : words) *w = Swap32(*w);
  }
}

void StripMessageHeaders(Run* run) {
  MessageBuffer& m = run->Message;
  MQMD* md = m.Descriptor;
  // A header is in the encoding and code page that the descriptor (or the
  // header before it) names for what follows: the dead-letter header in
  // the message's own, a transmission header behind it in the ones the
  // dead-letter header gives.
  bool swap = (md->Encoding & 1) != 0;
  bool ebcdic = IsEbcdicCcsid(md->CodedCharSetId);

  if (memcmp(md->Format, MQFMT_DEAD_LETTER_HEADER, MQ_FORMAT_LENGTH) == 0 &&
      ReceivedLength(run) >= MQDLH_LENGTH_1) {
    const unsigned char* dlh = m.Cursor;
    md->Encoding = ReadLong(dlh + kDlhEncoding, swap);
    md->CodedCharSetId = ReadLong(dlh + kDlhCodedCharSetId, swap);
    md->PutApplType = ReadLong(dlh + kDlhPutApplType, swap);
    CopyText(md->Format, dlh + kDlhFormat, sizeof md->Format, ebcdic);
    CopyText(md->PutApplName, dlh + kDlhPutApplName, sizeof md->PutApplName, ebcdic);
    CopyText(md->PutDate, dlh + kDlhPutDate, sizeof md->PutDate, ebcdic);
    CopyText(md->PutTime, dlh + kDlhPutTime, sizeof md->PutTime, ebcdic);
    m.Cursor += MQDLH_LENGTH_1;
    m.DataLength -= MQDLH_LENGTH_1;
    swap = (md->Encoding & 1) != 0;
    ebcdic = IsEbcdicCcsid(md->CodedCharSetId);
  }
  if (memcmp(md->Format, MQFMT_XMIT_Q_HEADER, MQ_FORMAT_LENGTH) == 0 &&
      ReceivedLength(run) >= MQXQH_LENGTH_1) {
    // Only the version-1 part of the descriptor is replaced; the
    // version-2 fields keep their values.
    memcpy(md, m.Cursor + kXqhMsgDesc, MQMD_LENGTH_1);
    if (swap || ebcdic) ConvertDescriptorFields(md, swap, ebcdic);
    m.Cursor += MQXQH_LENGTH_1;
    m.DataLength -= MQXQH_LENGTH_1;
  }
}
