// The message in hand: its storage block and the descriptor every read
// starts from. One implementation for every reader, so the -Vm trace, the
// block label and the 4096 rounding are the same whoever grows it.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

constexpr int64_t kStorageUnit = 4096;
// The largest multiple of kStorageUnit a 32-bit capacity can hold.
constexpr int64_t kMaxStorage = (INT32_MAX / kStorageUnit) * kStorageUnit;

}  // namespace

int GrowMessageStorage(Run* run, int64_t size) {
  MessageBuffer& m = run->Message;
  if (size < 1) size = 1;
  // Rounded in 64 bits: a size near the 32-bit limit rounds past it and is
  // refused below like a failed allocation, never wrapped.
  int64_t capacity = (size + kStorageUnit - 1) / kStorageUnit * kStorageUnit;
  if (m.Storage != nullptr && capacity <= m.Capacity) return 0;
  if (run->Options->MemoryTrace) {
    std::fprintf(stderr, "Allocating %lld bytes\n", static_cast<long long>(capacity));
  }
  void* block = nullptr;
  if (capacity <= kMaxStorage) block = CSGetMem(static_cast<size_t>(capacity), "Message Storage");
  if (run->Options->MemoryTrace) {
    if (block != nullptr) {
      std::fprintf(stderr, "Allocation success %p\n", block);
    } else {
      std::fprintf(stderr, "Allocation failed!\n");
    }
  }
  if (block == nullptr) {
    return SetExitMessage(run, MQRC_STORAGE_NOT_AVAILABLE,
                         "Unable to allocate %lld bytes message storage",
                         static_cast<long long>(capacity));
  }
  if (m.Storage != nullptr) {
    // The cursor may point into the old block (a header already stepped
    // over); it keeps its offset in the new one.
    int64_t cursorOffset = m.Cursor != nullptr ? m.Cursor - m.Storage : 0;
    if (cursorOffset < 0 || cursorOffset > m.Capacity) cursorOffset = 0;
    std::memcpy(block, m.Storage, static_cast<size_t>(m.Capacity));
    if (run->Options->MemoryTrace) std::fprintf(stderr, "Freeing %p\n", static_cast<void*>(m.Storage));
    CSFreeMem(m.Storage);
    m.Storage = static_cast<unsigned char*>(block);
    m.Cursor = m.Storage + cursorOffset;
  } else {
    m.Storage = static_cast<unsigned char*>(block);
    m.Cursor = m.Storage;
  }
  m.Capacity = static_cast<int32_t>(capacity);
  if (m.Descriptor == nullptr) m.Descriptor = &m.OwnDescriptor;
  return 0;
}

int64_t MessageStorageTarget(int64_t needed) {
  if (needed < 0 || needed > kMaxStorage) return -1;
  if (needed > kMaxStorage / 4) return kMaxStorage;
  return needed * 4;
}

int EnsureMessageStorage(Run* run, int64_t needed) {
  const MessageBuffer& m = run->Message;
  if (m.Storage != nullptr && needed <= m.Capacity) return 0;
  int64_t target = MessageStorageTarget(needed < 1 ? 1 : needed);
  return GrowMessageStorage(run, target < 0 ? needed : target);
}

void ResetDescriptorDefaults(MQMD* descriptor) {
  static const MQMD kDefault = {MQMD_DEFAULT};
  *descriptor = kDefault;
  descriptor->Version = MQMD_VERSION_2;
}

void StartMessage(MessageBuffer* m) {
  m->Descriptor = &m->OwnDescriptor;
  ResetDescriptorDefaults(&m->OwnDescriptor);
  m->DataLength = 0;
  m->Cursor = m->Storage;
}
