// Header stripping (-h) and the EBCDIC and byte-order repairs of a
// descriptor carried inside a transmission header.
#include <cstring>

#include "zeplo/engine/engine.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

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
