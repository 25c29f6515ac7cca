// zeplo/cs: common services, the labelled memory-block allocator.
//
// Every dynamically sized working area (queue tables, destination lists,
// message storage, PCF areas, file images) comes from CSGetMem and goes back
// through CSFreeMem. Each request names what the block is for ("QUEUELIST",
// "Message Storage", ...); the label travels with the request only and is
// not stored. The allocator prints nothing: the caller reports a failure in
// its own words.
//
// A block carries a hidden 40-byte header in front of the address handed
// out and 4 guard bytes behind it, so a release needs only the address and
// can tell a block of ours from a stray pointer or an overrun.
#ifndef ZEPLO_CS_CS_H_
#define ZEPLO_CS_CS_H_

#include <cstddef>

// Returns the usable address of a block of at least `size` bytes (content
// not initialised), or null when the memory is not available or the size is
// absurd. Small requests (at most 1023 bytes with the hidden parts) are
// tried twice before giving up. The caller owns the block and frees it with
// CSFreeMem or CSReleaseMem. Returned addresses are 8-byte aligned.
void* CSGetMem(size_t size, const char* label);

// Releases a block obtained from CSGetMem. Null does nothing. A block whose
// header or trailing guard has been overwritten is a program fault and
// aborts, rather than handing damaged memory back to the system.
void CSFreeMem(void* block);

// The companion release: frees the block `*variable` points to, if any, and
// sets `*variable` to null, so releasing twice (or a zeroed record) is safe.
template <typename T>
void CSReleaseMem(T** variable) {
  if (variable == nullptr || *variable == nullptr) return;
  CSFreeMem(const_cast<void*>(static_cast<const void*>(*variable)));
  *variable = nullptr;
}

// The usable size a block was obtained with (for tests and traces).
// REQUIRES: block came from CSGetMem and is not yet released.
size_t CSMemSize(const void* block);

#endif  // ZEPLO_CS_CS_H_
