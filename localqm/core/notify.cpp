// Cross-process wake-ups. Each queue manager directory holds a one-page
// file whose first 32 bits count the changes that made messages available.
// Every process maps it shared; a getter reads the counter, looks for a
// message, and if there is none sleeps on the counter with a futex, which
// the kernel keys by file and offset, so a post from any process wakes it.
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "localqm/core/core.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {
constexpr size_t kNotifySize = 4096;
}

int LqmNotifyMap(LqmStore* store) {
  char path[kLqmPathLength + 16];
  snprintf(path, sizeof path, "%s/notify", store->Dir);
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return MQRC_RESOURCE_PROBLEM;
  if (ftruncate(fd, kNotifySize) != 0) {
    close(fd);
    return MQRC_RESOURCE_PROBLEM;
  }
  void* p = mmap(nullptr, kNotifySize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return MQRC_RESOURCE_PROBLEM;
  store->Notify = static_cast<volatile uint32_t*>(p);
  return 0;
}

void LqmNotifyUnmap(LqmStore* store) {
  if (store->Notify != nullptr)
    munmap(const_cast<uint32_t*>(store->Notify), kNotifySize);
  store->Notify = nullptr;
}

uint32_t LqmNotifyRead(const LqmStore* store) {
  if (store->Notify == nullptr) return 0;
  return __atomic_load_n(store->Notify, __ATOMIC_SEQ_CST);
}

void LqmNotifyPost(LqmStore* store) {
  if (store->Notify == nullptr) return;
  __atomic_add_fetch(store->Notify, 1, __ATOMIC_SEQ_CST);
  syscall(SYS_futex, store->Notify, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

void LqmNotifyWait(const LqmStore* store, uint32_t seen, long millis) {
  if (millis <= 0) return;
  struct timespec ts;
  ts.tv_sec = millis / 1000;
  ts.tv_nsec = (millis % 1000) * 1000000L;
  if (store->Notify == nullptr) {
    nanosleep(&ts, nullptr);
    return;
  }
  // Returns at once when the counter has already moved on (EAGAIN).
  syscall(SYS_futex, store->Notify, FUTEX_WAIT, seen, &ts, nullptr, 0);
}
