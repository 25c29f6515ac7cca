// Labelled memory blocks: a hidden header in front of every block and a
// guard behind it, so that CSFreeMem needs only the address and notices a
// stray pointer or an overrun instead of corrupting the system allocator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/util/banned.h"

namespace {

// 40 bytes in front of the user address, 4 behind it. The header keeps the
// user size so that the trailing guard can be found again.
constexpr size_t kHeaderBytes = 40;
constexpr size_t kTrailerBytes = 4;
constexpr uint64_t kLiveMagic = 0x5A45504C4F4D454DULL;   // in use
constexpr uint64_t kFreedMagic = 0x5A45504C4F465245ULL;  // released
constexpr unsigned char kGuard[kTrailerBytes] = {0xC5, 0xE2, 0xC5, 0xD5};
// Requests of at most this many bytes (hidden parts included) are retried
// once: a transient failure of a small allocation is worth a second try.
constexpr size_t kRetryLimit = 1023;

struct BlockHeader {
  uint64_t Magic;
  uint64_t Size;       // usable bytes asked for
  uint64_t SizeCheck;  // ~Size, so a damaged header is seen as damaged
  unsigned char Spare[16];
};
static_assert(sizeof(BlockHeader) == kHeaderBytes);

BlockHeader* HeaderOf(const void* block) {
  return reinterpret_cast<BlockHeader*>(
      const_cast<unsigned char*>(static_cast<const unsigned char*>(block)) - kHeaderBytes);
}

}  // namespace

void* CSGetMem(size_t size, const char* label) {
  (void)label;  // names the request for the reader; not kept
  // No object may exceed PTRDIFF_MAX bytes; such a size is a miscalculation
  // upstream (a negative length turned unsigned, say), never a real need.
  if (size > static_cast<size_t>(PTRDIFF_MAX) - kHeaderBytes - kTrailerBytes) return nullptr;
  size_t total = size + kHeaderBytes + kTrailerBytes;
  void* raw = std::malloc(total);
  if (raw == nullptr && total <= kRetryLimit) raw = std::malloc(total);
  if (raw == nullptr) return nullptr;

  BlockHeader header{};
  header.Magic = kLiveMagic;
  header.Size = size;
  header.SizeCheck = ~static_cast<uint64_t>(size);
  std::memcpy(raw, &header, sizeof header);
  unsigned char* user = static_cast<unsigned char*>(raw) + kHeaderBytes;
  std::memcpy(user + size, kGuard, kTrailerBytes);
  return user;
}

size_t CSMemSize(const void* block) {
  BlockHeader header;
  std::memcpy(&header, HeaderOf(block), sizeof header);
  return static_cast<size_t>(header.Size);
}

void CSFreeMem(void* block) {
  if (block == nullptr) return;
  BlockHeader* raw = HeaderOf(block);
  BlockHeader header;
  std::memcpy(&header, raw, sizeof header);
  // A damaged or foreign block is a program fault; releasing it anyway
  // would corrupt the system allocator far away from the cause.
  if (header.Magic != kLiveMagic || header.SizeCheck != ~header.Size) std::abort();
  const unsigned char* guard = static_cast<const unsigned char*>(block) + header.Size;
  if (std::memcmp(guard, kGuard, kTrailerBytes) != 0) std::abort();
  header.Magic = kFreedMagic;
  std::memcpy(raw, &header, sizeof header);
  std::free(raw);
}
