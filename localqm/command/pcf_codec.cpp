// PCF as the command server reads and writes it: requests in either byte
// order, checked structure by structure before anything is taken from
// them; replies in this machine's order.
#include <cstring>

#include "localqm/command/command.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// The request's bytes and their byte order. Every read is preceded by a
// check that its four bytes lie inside the data.
struct Input {
  const unsigned char* Data;
  size_t Length;
  bool BigEndian;
};

MQLONG LongAt(const Input& in, size_t offset) {
  const unsigned char* p = in.Data + offset;
  uint32_t v = in.BigEndian ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                  (uint32_t{p[2]} << 8) | uint32_t{p[3]}
                            : (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) |
                                  (uint32_t{p[1]} << 8) | uint32_t{p[0]};
  return static_cast<MQLONG>(v);
}

bool Fits(const Input& in, size_t offset, size_t bytes) {
  return offset <= in.Length && bytes <= in.Length - offset;
}

// Reads the parameter structure at *offset into *param and moves past it.
int ReadParameter(const Input& in, size_t* offset, LqmPcfParam* param, MQLONG* badParameter) {
  size_t at = *offset;
  if (!Fits(in, at, 8)) return MQRCCF_MSG_LENGTH_ERROR;
  param->Type = LongAt(in, at);
  MQLONG strucLength = LongAt(in, at + 4);
  if (Fits(in, at, 12)) *badParameter = param->Parameter = LongAt(in, at + 8);
  switch (param->Type) {
    case MQCFT_INTEGER:
      if (strucLength != MQCFIN_STRUC_LENGTH) return MQRCCF_CFIN_LENGTH_ERROR;
      if (!Fits(in, at, MQCFIN_STRUC_LENGTH)) return MQRCCF_MSG_LENGTH_ERROR;
      param->Value = LongAt(in, at + 12);
      break;
    case MQCFT_STRING: {
      if (strucLength < MQCFST_STRUC_LENGTH_FIXED || strucLength % 4 != 0)
        return MQRCCF_CFST_LENGTH_ERROR;
      if (!Fits(in, at, static_cast<size_t>(strucLength))) return MQRCCF_MSG_LENGTH_ERROR;
      MQLONG stringLength = LongAt(in, at + 16);
      if (stringLength < 0 || stringLength > strucLength - MQCFST_STRUC_LENGTH_FIXED)
        return MQRCCF_CFST_STRING_LENGTH_ERR;
      const char* text = reinterpret_cast<const char*>(in.Data + at + MQCFST_STRUC_LENGTH_FIXED);
      param->Text.assign(text, static_cast<size_t>(stringLength));
      break;
    }
    case MQCFT_INTEGER_LIST: {
      if (strucLength < MQCFIL_STRUC_LENGTH_FIXED) return MQRCCF_CFIL_LENGTH_ERROR;
      if (!Fits(in, at, MQCFIL_STRUC_LENGTH_FIXED)) return MQRCCF_MSG_LENGTH_ERROR;
      MQLONG count = LongAt(in, at + 12);
      if (count < 0) return MQRCCF_CFIL_COUNT_ERROR;
      if (int64_t{strucLength} != MQCFIL_STRUC_LENGTH_FIXED + 4 * int64_t{count})
        return MQRCCF_CFIL_LENGTH_ERROR;
      if (!Fits(in, at, static_cast<size_t>(strucLength))) return MQRCCF_MSG_LENGTH_ERROR;
      param->Values.resize(static_cast<size_t>(count));
      for (MQLONG i = 0; i < count; ++i)
        param->Values[static_cast<size_t>(i)] =
            LongAt(in, at + MQCFIL_STRUC_LENGTH_FIXED + 4 * static_cast<size_t>(i));
      break;
    }
    default:
      // Lists of strings, byte strings, groups and filters: none of the
      // commands served takes them.
      return MQRCCF_STRUCTURE_TYPE_ERROR;
  }
  *offset = at + static_cast<size_t>(strucLength);
  return 0;
}

void PutLong(std::vector<unsigned char>* bytes, size_t offset, MQLONG value) {
  memcpy(bytes->data() + offset, &value, sizeof value);
}

void AppendLong(std::vector<unsigned char>* bytes, MQLONG value) {
  size_t at = bytes->size();
  bytes->resize(at + sizeof value);
  PutLong(bytes, at, value);
}

void CountParameter(LqmPcfReply* reply) {
  MQLONG count;
  memcpy(&count, reply->Bytes.data() + offsetof(MQCFH, ParameterCount), sizeof count);
  PutLong(&reply->Bytes, offsetof(MQCFH, ParameterCount), count + 1);
}

}  // namespace

int LqmPcfParse(const unsigned char* data, size_t length, MQLONG encoding, LqmPcfRequest* out,
                MQLONG* badParameter) {
  *out = LqmPcfRequest{};
  *badParameter = 0;
  Input in{data, data == nullptr ? 0 : length,
           (encoding & MQENC_INTEGER_MASK) == MQENC_INTEGER_NORMAL};
  if (!Fits(in, 0, MQCFH_STRUC_LENGTH)) return MQRCCF_MSG_LENGTH_ERROR;
  out->Type = LongAt(in, offsetof(MQCFH, Type));
  out->Version = LongAt(in, offsetof(MQCFH, Version));
  out->Command = LongAt(in, offsetof(MQCFH, Command));
  if (out->Type != MQCFT_COMMAND && out->Type != MQCFT_COMMAND_XR) return MQRCCF_CFH_TYPE_ERROR;
  if (LongAt(in, offsetof(MQCFH, StrucLength)) != MQCFH_STRUC_LENGTH)
    return MQRCCF_CFH_LENGTH_ERROR;
  if (out->Version < MQCFH_VERSION_1 || out->Version > MQCFH_CURRENT_VERSION)
    return MQRCCF_CFH_VERSION_ERROR;
  if (LongAt(in, offsetof(MQCFH, MsgSeqNumber)) < 1) return MQRCCF_CFH_MSG_SEQ_NUMBER_ERR;
  // A command spread over several messages is not assembled here: each
  // request must be whole in one message.
  if (LongAt(in, offsetof(MQCFH, Control)) != MQCFC_LAST) return MQRCCF_CFH_CONTROL_ERROR;
  MQLONG count = LongAt(in, offsetof(MQCFH, ParameterCount));
  if (count < 0) return MQRCCF_CFH_PARM_COUNT_ERROR;
  size_t offset = MQCFH_STRUC_LENGTH;
  for (MQLONG i = 0; i < count; ++i) {
    LqmPcfParam param{};
    *badParameter = 0;
    int rc = ReadParameter(in, &offset, &param, badParameter);
    if (rc != 0) return rc;
    out->Params.push_back(std::move(param));
  }
  *badParameter = 0;
  // More data than the parameters account for: the count is wrong.
  if (offset != in.Length) return MQRCCF_MSG_LENGTH_ERROR;
  return 0;
}

void LqmPcfReplyStart(LqmPcfReply* reply, MQLONG type, MQLONG version, MQLONG command,
                      MQLONG seq, MQLONG control, MQLONG compCode, MQLONG reason) {
  MQCFH header = {type, MQCFH_STRUC_LENGTH, version, command, seq, control, compCode, reason, 0};
  reply->Bytes.resize(sizeof header);
  memcpy(reply->Bytes.data(), &header, sizeof header);
}

void LqmPcfReplyInt(LqmPcfReply* reply, MQLONG parameter, MQLONG value) {
  AppendLong(&reply->Bytes, MQCFT_INTEGER);
  AppendLong(&reply->Bytes, MQCFIN_STRUC_LENGTH);
  AppendLong(&reply->Bytes, parameter);
  AppendLong(&reply->Bytes, value);
  CountParameter(reply);
}

void LqmPcfReplyString(LqmPcfReply* reply, MQLONG parameter, const char* text, size_t width) {
  size_t length = strlen(text);
  if (width < length) width = length;
  size_t padded = (width + 3) & ~size_t{3};
  AppendLong(&reply->Bytes, MQCFT_STRING);
  AppendLong(&reply->Bytes, static_cast<MQLONG>(MQCFST_STRUC_LENGTH_FIXED + padded));
  AppendLong(&reply->Bytes, parameter);
  AppendLong(&reply->Bytes, MQCCSI_DEFAULT);
  AppendLong(&reply->Bytes, static_cast<MQLONG>(width));
  size_t at = reply->Bytes.size();
  reply->Bytes.resize(at + padded, ' ');
  memcpy(reply->Bytes.data() + at, text, length);
  CountParameter(reply);
}

void LqmPcfReplyMark(LqmPcfReply* reply, MQLONG seq, MQLONG control) {
  PutLong(&reply->Bytes, offsetof(MQCFH, MsgSeqNumber), seq);
  PutLong(&reply->Bytes, offsetof(MQCFH, Control), control);
}
