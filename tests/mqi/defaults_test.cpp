// The *_DEFAULT initialisers against IBM's byte images: each expected image
// is built from IBM's published initial values and compared byte for byte
// with a statically initialised structure (static storage, so padding is
// zero as in IBM's compiled images). And the generated constants header,
// which must be what the generator writes from the table, so that nobody
// edits it by hand or forgets to regenerate.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "mqi/mqi.h"

namespace {

// A zero-filled image of `size` bytes written by the words of `spec`:
// "N=TEXT" text at offset N ('_' for a blank), "N:V" the 4-byte MQLONG V,
// "N*C" C blanks, "N@" later offsets counted from N.
std::string Image(size_t size, const std::string& spec) {
  std::string image(size, '\0');
  std::istringstream words(spec);
  size_t base = 0;
  for (std::string w; words >> w;) {
    size_t cut = w.find_first_of("=:*@"), at = base + std::stoul(w.substr(0, cut));
    std::string value = w.substr(cut + 1);
    if (w[cut] == '@') {
      base = at;
    } else if (w[cut] == '=') {
      for (char c : value) image.at(at++) = c == '_' ? ' ' : c;
    } else if (w[cut] == '*') {
      image.replace(at, std::stoul(value), std::stoul(value), ' ');
    } else {
      int32_t v = std::stoi(value);
      image.replace(at, 4, reinterpret_cast<const char*>(&v), 4);
    }
  }
  return image;
}

// The bytes of T's initialiser in static storage.
template <class T>
std::string Bytes(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
#define ROW(T, size, spec) \
  { #T, [] { static const T v = {T##_DEFAULT}; return Bytes(v); }(), Image(size, spec) }

TEST(MqiDefaultsTest, InitialisersMatchIbmByteImages) {
  // MQCHARV_DEFAULT has only VSCCSID (at +20) non-zero.
  const std::string md1 = "0=MD__ 4:1 12:8 16:-1 24:546 32*8 40:-1 44:2";
  const struct { const char* name; std::string actual, expected; } cases[] = {
      ROW(MQMD, 364, md1 + " 348:1 360:-1"), ROW(MQMD1, 324, md1),
      ROW(MQOD, 424, "0=OD__ 4:1 8:1 108=AMQ.* 364:-3 388:-3 412:-3"),
      ROW(MQGMO, 112, "0=GMO_ 4:1 72:3 76*4 96:-1"),
      ROW(MQPMO, 184, "0=PMO_ 4:1 12:-1 180:9"), ROW(MQCNO, 272, "0=CNO_ 4:1 224*28"),
      ROW(MQCSP, 104, "0=CSP_ 4:1"), ROW(MQCBD, 168, "0=CBD_ 4:1 8:1 160:-1"),
      ROW(MQCTLO, 24, "0=CTLO 4:1 12:-1"), ROW(MQDLH, 172, "0=DLH_ 4:1 116*8"),
      ROW(MQXQH, 428, "0=XQH_ 4:1 104@ " + md1),
      ROW(MQMDE, 72, "0=MDE_ 4:2 8:72 12:546 20*8 56:1 68:-1"),
      ROW(MQRFH2, 36, "0=RFH_ 4:2 8:36 12:546 16:-2 20*8 32:1208"),
      ROW(MQCFH, 36, "0:1 4:36 8:1 16:1 20:1"),
      ROW(MQCFIN64, 24, "0:23 4:24"), ROW(MQCFSL, 28, "0:6 4:24"),
  };
  for (const auto& c : cases) {
    ASSERT_EQ(c.expected.size(), c.actual.size()) << c.name;
    for (size_t i = 0; i < c.actual.size(); ++i) {
      ASSERT_EQ(c.expected[i], c.actual[i]) << c.name << " differs at byte " << i;
    }
  }
}

TEST(MqiConstantsTest, CommittedHeaderIsFresh) {
  std::string command =
      std::string("python3 '") + ZEPLO_SOURCE_DIR + "/mqi/gen_constants.py' --check 2>/dev/null";
  int status = std::system(command.c_str());
  EXPECT_EQ(0, WIFEXITED(status) ? WEXITSTATUS(status) : -1)
      << "mqi/mq_constants.h differs from what mqi/gen_constants.py writes";
}

}  // namespace
