// The *_DEFAULT initialisers against IBM's byte images: each expected image
// is built field by field from IBM's published initial values and compared
// byte for byte with a statically initialised structure (static storage, so
// padding is zero as in IBM's compiled images).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mqi/mqi.h"

namespace {

// A byte image under construction: zero-filled, written at given offsets.
struct Image {
  std::vector<unsigned char> bytes;
  explicit Image(size_t size) : bytes(size, 0) {}
  Image& Long(size_t offset, int32_t value) {
    std::memcpy(&bytes[offset], &value, sizeof value);
    return *this;
  }
  Image& Text(size_t offset, const char* text) {
    std::memcpy(&bytes[offset], text, std::strlen(text));
    return *this;
  }
  Image& Blanks(size_t offset, size_t count) {
    std::memset(&bytes[offset], ' ', count);
    return *this;
  }
  Image& Charv(size_t offset) {  // MQCHARV_DEFAULT: only VSCCSID is non-zero
    return Long(offset + 20, -3);
  }
};

Image MdImage(size_t size) {
  Image image(size);
  image.Text(0, "MD  ").Long(4, 1).Long(12, 8).Long(16, -1).Long(24, 546);
  image.Blanks(32, 8).Long(40, -1).Long(44, 2);
  if (size > 324) image.Long(348, 1).Long(360, -1);
  return image;
}

const MQMD kMd = {MQMD_DEFAULT};
const MQMD1 kMd1 = {MQMD1_DEFAULT};
const MQOD kOd = {MQOD_DEFAULT};
const MQGMO kGmo = {MQGMO_DEFAULT};
const MQPMO kPmo = {MQPMO_DEFAULT};
const MQCNO kCno = {MQCNO_DEFAULT};
const MQCSP kCsp = {MQCSP_DEFAULT};
const MQCBD kCbd = {MQCBD_DEFAULT};
const MQCTLO kCtlo = {MQCTLO_DEFAULT};
const MQDLH kDlh = {MQDLH_DEFAULT};
const MQXQH kXqh = {MQXQH_DEFAULT};
const MQMDE kMde = {MQMDE_DEFAULT};
const MQRFH2 kRfh2 = {MQRFH2_DEFAULT};
const MQCFH kCfh = {MQCFH_DEFAULT};
const MQCFIN64 kCfin64 = {MQCFIN64_DEFAULT};
const MQCFSL kCfsl = {MQCFSL_DEFAULT};

struct DefaultCase {
  const char* name;
  const void* actual;
  size_t size;
  Image expected;
};

std::vector<DefaultCase> Cases() {
  std::vector<DefaultCase> cases;
  cases.push_back({"MQMD", &kMd, sizeof kMd, MdImage(364)});
  cases.push_back({"MQMD1", &kMd1, sizeof kMd1, MdImage(324)});
  Image od(424);
  od.Text(0, "OD  ").Long(4, 1).Long(8, 1).Text(108, "AMQ.*");
  od.Charv(344).Charv(368).Charv(392);
  cases.push_back({"MQOD", &kOd, sizeof kOd, od});
  Image gmo(112);
  gmo.Text(0, "GMO ").Long(4, 1).Long(72, 3).Blanks(76, 4).Long(96, -1);
  cases.push_back({"MQGMO", &kGmo, sizeof kGmo, gmo});
  Image pmo(184);
  pmo.Text(0, "PMO ").Long(4, 1).Long(12, -1).Long(180, 9);
  cases.push_back({"MQPMO", &kPmo, sizeof kPmo, pmo});
  Image cno(272);
  cno.Text(0, "CNO ").Long(4, 1).Blanks(224, 28);
  cases.push_back({"MQCNO", &kCno, sizeof kCno, cno});
  Image csp(104);
  csp.Text(0, "CSP ").Long(4, 1);
  cases.push_back({"MQCSP", &kCsp, sizeof kCsp, csp});
  Image cbd(168);
  cbd.Text(0, "CBD ").Long(4, 1).Long(8, 1).Long(160, -1);
  cases.push_back({"MQCBD", &kCbd, sizeof kCbd, cbd});
  Image ctlo(24);
  ctlo.Text(0, "CTLO").Long(4, 1).Long(12, -1);
  cases.push_back({"MQCTLO", &kCtlo, sizeof kCtlo, ctlo});
  Image dlh(172);
  dlh.Text(0, "DLH ").Long(4, 1).Blanks(116, 8);
  cases.push_back({"MQDLH", &kDlh, sizeof kDlh, dlh});
  Image xqh(428);
  xqh.Text(0, "XQH ").Long(4, 1);
  Image inner = MdImage(324);
  std::memcpy(&xqh.bytes[104], inner.bytes.data(), 324);
  cases.push_back({"MQXQH", &kXqh, sizeof kXqh, xqh});
  Image mde(72);
  mde.Text(0, "MDE ").Long(4, 2).Long(8, 72).Long(12, 546).Blanks(20, 8);
  mde.Long(56, 1).Long(68, -1);
  cases.push_back({"MQMDE", &kMde, sizeof kMde, mde});
  Image rfh(36);
  rfh.Text(0, "RFH ").Long(4, 2).Long(8, 36).Long(12, 546).Long(16, -2);
  rfh.Blanks(20, 8).Long(32, 1208);
  cases.push_back({"MQRFH2", &kRfh2, sizeof kRfh2, rfh});
  Image cfh(36);
  cfh.Long(0, 1).Long(4, 36).Long(8, 1).Long(16, 1).Long(20, 1);
  cases.push_back({"MQCFH", &kCfh, sizeof kCfh, cfh});
  Image cfin64(24);
  cfin64.Long(0, 23).Long(4, 24);
  cases.push_back({"MQCFIN64", &kCfin64, sizeof kCfin64, cfin64});
  Image cfsl(28);
  cfsl.Long(0, 6).Long(4, 24);
  cases.push_back({"MQCFSL", &kCfsl, sizeof kCfsl, cfsl});
  return cases;
}

TEST(MqiDefaultsTest, InitialisersMatchIbmByteImages) {
  for (const DefaultCase& c : Cases()) {
    ASSERT_EQ(c.expected.bytes.size(), c.size) << c.name;
    const unsigned char* actual = static_cast<const unsigned char*>(c.actual);
    for (size_t i = 0; i < c.size; ++i) {
      ASSERT_EQ(c.expected.bytes[i], actual[i]) << c.name << " differs at byte " << i;
    }
  }
}

}  // namespace
