// Integers inside message data, in the byte order a header's Encoding
// names rather than the machine's.
#include "mqi/mqi.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

bool BigEndian(int32_t encoding) { return (encoding & MQENC_INTEGER_MASK) == MQENC_INTEGER_NORMAL; }

}  // namespace

int32_t ReadEncodedInt32(const unsigned char* p, int32_t encoding) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) {
    uint32_t byte = p[BigEndian(encoding) ? i : 3 - i];
    v = (v << 8) | byte;
  }
  return static_cast<int32_t>(v);
}

void WriteEncodedInt32(unsigned char* p, int32_t value, int32_t encoding) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; i++) {
    p[BigEndian(encoding) ? 3 - i : i] = static_cast<unsigned char>(v & 0xFF);
    v >>= 8;
  }
}

int32_t SwapInt32(int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  return static_cast<int32_t>((v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) |
                              (v << 24));
}
