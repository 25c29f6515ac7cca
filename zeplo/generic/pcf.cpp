// The PCF builder and parser: requests into a growable "MQPCF Area",
// replies read structure by structure. Everything is in this machine's
// byte order; integers are read and written with memcpy because a reply's
// structures need not be aligned.
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/generic/generic.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int32_t kCfhLength = MQCFH_STRUC_LENGTH;
constexpr int32_t kCountOffset = 32;  // MQCFH ParameterCount

void WriteLong(unsigned char* at, MQLONG value) { memcpy(at, &value, sizeof value); }

// Makes room for `needed` more bytes. Returns 0 or 2071.
int Reserve(PcfContext* context, int32_t needed) {
  if (context->Size - context->Position >= needed) return 0;
  if (!context->Growable) return MQRC_STORAGE_NOT_AVAILABLE;
  int64_t size = int64_t{context->Size} + (context->Size > needed ? context->Size : needed);
  if (size + context->Reserve > INT32_MAX) return MQRC_STORAGE_NOT_AVAILABLE;
  unsigned char* area = static_cast<unsigned char*>(
      CSGetMem(static_cast<size_t>(size + context->Reserve), "MQPCF Area"));
  if (area == nullptr) return MQRC_STORAGE_NOT_AVAILABLE;
  memcpy(area, context->Buffer, static_cast<size_t>(context->Position));
  CSFreeMem(context->Buffer);
  context->Buffer = area;
  context->Size = static_cast<int32_t>(size);
  if (context->Owner != nullptr) *context->Owner = area;
  return 0;
}

// Adds `delta` to the parameter count at `offset` (the header's or a group's).
void AddCount(unsigned char* buffer, int32_t offset, MQLONG delta) {
  WriteLong(buffer + offset, PcfReadLong(buffer + offset) + delta);
}

// Checks the structure of `type` at Position against its fields and the
// message length, and fills *out. Returns 0 or the structure's reason.
int ReadStructure(const PcfContext* context, MQLONG type, MQLONG strucLength, PcfParameter* out) {
  const unsigned char* p = context->Buffer + context->Position;
  int64_t room = int64_t{context->Size} - context->Position;
  auto field = [p](int index) { return PcfReadLong(p + 4 * index); };
  // Every structure has at least Type, StrucLength, Parameter and a
  // fourth field; they are read only once they are known to be there.
  if (strucLength < 16 || strucLength > room) return MQRCCF_MSG_LENGTH_ERROR;
  out->Parameter = field(2);
  out->Count = 1;
  switch (type) {
    case MQCFT_INTEGER:
      if (strucLength != MQCFIN_STRUC_LENGTH) return MQRCCF_CFIN_LENGTH_ERROR;
      out->Value = p + 12;
      out->Length = 4;
      return 0;
    case MQCFT_INTEGER64:
      if (strucLength != MQCFIN64_STRUC_LENGTH) return MQRCCF_CFIN_LENGTH_ERROR;
      out->Value = p + 16;
      out->Length = 8;
      return 0;
    case MQCFT_STRING:
      if (strucLength < MQCFST_STRUC_LENGTH_FIXED) return MQRCCF_CFST_LENGTH_ERROR;
      out->Length = field(4);
      if (out->Length < 0 || out->Length > strucLength - MQCFST_STRUC_LENGTH_FIXED)
        return MQRCCF_CFST_STRING_LENGTH_ERR;
      out->Value = p + MQCFST_STRUC_LENGTH_FIXED;
      return 0;
    case MQCFT_INTEGER_LIST:
      out->Count = field(3);
      if (out->Count < 0) return MQRCCF_CFIL_COUNT_ERROR;
      if (int64_t{out->Count} * 4 > strucLength - MQCFIL_STRUC_LENGTH_FIXED)
        return MQRCCF_CFIL_LENGTH_ERROR;
      out->Value = p + MQCFIL_STRUC_LENGTH_FIXED;
      out->Length = strucLength - MQCFIL_STRUC_LENGTH_FIXED;
      return 0;
    case MQCFT_STRING_LIST: {
      if (strucLength < MQCFSL_STRUC_LENGTH_FIXED) return MQRCCF_CFSL_LENGTH_ERROR;
      out->Count = field(4);
      int64_t each = field(5);
      if (out->Count < 0 || each < 0 ||
          out->Count * each > strucLength - MQCFSL_STRUC_LENGTH_FIXED)
        return MQRCCF_CFSL_LENGTH_ERROR;
      out->Value = p + MQCFSL_STRUC_LENGTH_FIXED;
      out->Length = static_cast<MQLONG>(out->Count * each);
      return 0;
    }
    case MQCFT_BYTE_STRING:
      out->Length = field(3);
      if (out->Length < 0 || out->Length > strucLength - MQCFBS_STRUC_LENGTH_FIXED)
        return MQRCCF_CFBS_STRING_LENGTH_ERR;
      out->Value = p + MQCFBS_STRUC_LENGTH_FIXED;
      return 0;
    case MQCFT_GROUP:
      if (strucLength != MQCFGR_STRUC_LENGTH) return MQRCCF_CFGR_LENGTH_ERROR;
      out->Count = field(3);
      if (out->Count < 0) return MQRCCF_CFGR_PARM_COUNT_ERROR;
      out->Length = 0;
      return 0;
    default:
      return MQRCCF_CFH_TYPE_ERROR;
  }
}

}  // namespace

MQLONG PcfReadLong(const unsigned char* value) {
  MQLONG v;
  memcpy(&v, value, sizeof v);
  return v;
}

int PcfStartRequest(PcfContext* context, unsigned char** bufferRef, MQLONG command, bool zOS) {
  CSReleaseMem(bufferRef);
  memset(context, 0, sizeof *context);
  memcpy(context->EyeCatcher, "MQPP", 4);
  context->Reserve = kPcfReserve;
  int32_t size = kPcfInitialSize + kPcfReserve;
  *bufferRef = static_cast<unsigned char*>(CSGetMem(static_cast<size_t>(size), "MQPCF Area"));
  if (*bufferRef == nullptr) return MQRC_STORAGE_NOT_AVAILABLE;
  context->Buffer = *bufferRef;
  context->Owner = bufferRef;
  context->Growable = true;
  context->Size = size;
  MQCFH header = {MQCFH_DEFAULT};
  header.Type = zOS ? MQCFT_COMMAND_XR : MQCFT_COMMAND;
  header.Version = zOS ? MQCFH_VERSION_3 : MQCFH_VERSION_1;
  header.Command = command;
  memcpy(context->Buffer, &header, sizeof header);
  context->Position = kCfhLength;
  return 0;
}

int PcfAddParameter(PcfContext* context, MQLONG type, MQLONG parameter, const void* value,
                    MQLONG length) {
  int32_t fixed, data;
  MQLONG count = 0;
  switch (type) {
    case MQCFT_INTEGER:
      fixed = MQCFIN_STRUC_LENGTH;
      data = 0;
      break;
    case MQCFT_STRING:
      if (length == -1 || length == -2) {
        size_t n = value != nullptr ? strlen(static_cast<const char*>(value)) : 0;
        length = static_cast<MQLONG>(n > 0x7fff0000 ? 0x7fff0000 : n) + (length == -2 ? 1 : 0);
      }
      if (length < 0 || length > 0x7fff0000 || (length > 0 && value == nullptr))
        return MQRCCF_CFST_STRING_LENGTH_ERR;
      fixed = MQCFST_STRUC_LENGTH_FIXED;
      data = (length + 3) & ~3;
      break;
    case MQCFT_INTEGER_LIST:
      if (length < 0 || length % 4 != 0 || length > 0x7fff0000 || (length > 0 && value == nullptr))
        return MQRCCF_CFIL_LENGTH_ERROR;
      fixed = MQCFIL_STRUC_LENGTH_FIXED;
      data = length;
      count = length / 4;
      break;
    default:
      return MQRCCF_CFH_TYPE_ERROR;
  }
  int rc = Reserve(context, fixed + data);
  if (rc != 0) return rc;
  unsigned char* p = context->Buffer + context->Position;
  WriteLong(p, type);
  WriteLong(p + 4, fixed + data);
  WriteLong(p + 8, parameter);
  if (type == MQCFT_INTEGER) {
    MQLONG v = 0;
    if (value != nullptr) memcpy(&v, value, sizeof v);
    WriteLong(p + 12, v);
  } else if (type == MQCFT_STRING) {
    WriteLong(p + 12, MQCCSI_DEFAULT);
    WriteLong(p + 16, length);
    memset(p + fixed, 0, static_cast<size_t>(data));
    if (length > 0) memcpy(p + fixed, value, static_cast<size_t>(length));
  } else {
    WriteLong(p + 12, count);
    if (length > 0) memcpy(p + fixed, value, static_cast<size_t>(length));
  }
  context->Position += fixed + data;
  AddCount(context->Buffer, kCountOffset, 1);
  return 0;
}

int PcfStartReply(PcfContext* context, unsigned char* buffer, MQLONG length, MQLONG* command) {
  memset(context, 0, sizeof *context);
  memcpy(context->EyeCatcher, "MQPP", 4);
  *command = 0;
  if (buffer == nullptr || length < kCfhLength) return MQRC_STORAGE_NOT_AVAILABLE;
  context->Buffer = buffer;
  context->Position = kCfhLength;
  context->Size = length;
  *command = PcfReadLong(buffer + offsetof(MQCFH, Command));
  return 0;
}

int PcfNextParameter(PcfContext* context, PcfParameter* out) {
  memset(out, 0, sizeof *out);
  unsigned char* buffer = context->Buffer;
  if (context->GroupOffset != 0) {
    if (PcfReadLong(buffer + context->GroupOffset + 12) <= 0) {
      // The group's StrucLength held the enclosing group's offset while
      // the group was open; it gets its own value back.
      int32_t outer = PcfReadLong(buffer + context->GroupOffset + 4);
      WriteLong(buffer + context->GroupOffset + 4, MQCFGR_STRUC_LENGTH);
      context->GroupOffset = outer;
      out->Type = kPcfEndOfGroup;
      return 0;
    }
  } else if (PcfReadLong(buffer + kCountOffset) <= 0) {
    return kPcfNoMoreParameters;
  }
  if (int64_t{context->Size} - context->Position < 8) return MQRCCF_MSG_LENGTH_ERROR;
  out->Type = PcfReadLong(buffer + context->Position);
  MQLONG strucLength = PcfReadLong(buffer + context->Position + 4);
  int rc = ReadStructure(context, out->Type, strucLength, out);
  if (rc != 0) return rc;
  int32_t counter = context->GroupOffset != 0 ? context->GroupOffset + 12 : kCountOffset;
  AddCount(buffer, counter, -1);
  if (out->Type == MQCFT_GROUP) {
    WriteLong(buffer + context->Position + 4, context->GroupOffset);
    context->GroupOffset = context->Position;
    context->Position += MQCFGR_STRUC_LENGTH;
  } else {
    context->Position += strucLength;
  }
  return 0;
}
