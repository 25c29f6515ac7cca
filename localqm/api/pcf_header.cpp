// The queue manager's look at the MQCFH of a PCF message being put.
//
// A queue manager may refuse PCF headers older than a version it names
// (LqmQmgr::MinCfhVersion). It looks only at messages put with a
// version-2 descriptor (or a version-1 descriptor with an MQMDE, which
// carries the same fields): those go through the full structure checks,
// while a plain version-1 put is taken as it stands. Applications rely on
// that difference to get an old PCF message through, so it is kept.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "localqm/api/api.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

bool IsPcfFormat(const MQCHAR8 format) {
  return memcmp(format, MQFMT_ADMIN, MQ_FORMAT_LENGTH) == 0 ||
         memcmp(format, MQFMT_PCF, MQ_FORMAT_LENGTH) == 0 ||
         memcmp(format, MQFMT_EVENT, MQ_FORMAT_LENGTH) == 0;
}

// One integer of the header in the message's own byte order: Encoding
// names it; an encoding that names neither order is taken as this
// machine's.
MQLONG HeaderLong(const unsigned char* p, MQLONG encoding) {
  uint32_t v;
  switch (encoding & MQENC_INTEGER_MASK) {
    case MQENC_INTEGER_NORMAL:
      v = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
          (static_cast<uint32_t>(p[2]) << 8) | p[3];
      break;
    case MQENC_INTEGER_REVERSED:
      v = p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
          (static_cast<uint32_t>(p[3]) << 24);
      break;
    default:
      memcpy(&v, p, sizeof v);
      break;
  }
  return static_cast<MQLONG>(v);
}

}  // namespace

int LqmCheckPcfHeader(LqmStore* store, const MQMD* md, bool fullChecks, const void* data,
                      MQLONG length) {
  if (!fullChecks || !IsPcfFormat(md->Format)) return 0;
  LqmQmgr qm;
  int rc = LqmQmgrRead(store, &qm);
  if (rc != 0) return rc;
  if (qm.MinCfhVersion <= MQCFH_VERSION_1) return 0;
  // The header must be there whole before any field of it is read.
  if (data == nullptr || length < MQCFH_STRUC_LENGTH) return MQRC_CFH_ERROR;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  MQLONG strucLength = HeaderLong(p + offsetof(MQCFH, StrucLength), md->Encoding);
  MQLONG version = HeaderLong(p + offsetof(MQCFH, Version), md->Encoding);
  if (strucLength != MQCFH_STRUC_LENGTH) return MQRC_CFH_ERROR;
  if (version < qm.MinCfhVersion || version > MQCFH_CURRENT_VERSION) return MQRC_CFH_ERROR;
  return 0;
}
