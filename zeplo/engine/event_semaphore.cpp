// The event the main thread waits on while the MQ library's thread runs
// the consume callbacks: a posted flag under a mutex, and a condition on
// the monotonic clock, so that setting the wall clock neither cuts a wait
// short nor stretches it.
#include <cerrno>
#include <ctime>

#include "zeplo/engine/engine.h"
#include "zeplo/util/banned.h"

namespace {

constexpr long kNanosPerSecond = 1000000000L;

// now + milliseconds on the monotonic clock, nanoseconds carried into
// seconds.
timespec Deadline(uint32_t milliseconds) {
  timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  at.tv_sec += static_cast<time_t>(milliseconds / 1000);
  at.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (at.tv_nsec >= kNanosPerSecond) {
    at.tv_sec += 1;
    at.tv_nsec -= kNanosPerSecond;
  }
  return at;
}

}  // namespace

bool CreateEvent(EventSemaphore* event) {
  event->Posted = false;
  event->Created = false;
  pthread_condattr_t attributes;
  if (pthread_condattr_init(&attributes) != 0) return false;
  bool made = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
              pthread_cond_init(&event->Condition, &attributes) == 0;
  pthread_condattr_destroy(&attributes);
  if (!made) return false;
  if (pthread_mutex_init(&event->Mutex, nullptr) != 0) {
    pthread_cond_destroy(&event->Condition);
    return false;
  }
  event->Created = true;
  return true;
}

void DestroyEvent(EventSemaphore* event) {
  if (!event->Created) return;
  pthread_cond_destroy(&event->Condition);
  pthread_mutex_destroy(&event->Mutex);
  event->Created = false;
}

void PostEvent(EventSemaphore* event) {
  if (!event->Created) return;
  pthread_mutex_lock(&event->Mutex);
  if (!event->Posted) {
    event->Posted = true;
    pthread_cond_broadcast(&event->Condition);
  }
  pthread_mutex_unlock(&event->Mutex);
}

int WaitEvent(EventSemaphore* event, uint32_t milliseconds) {
  if (!event->Created) return -1;
  timespec deadline = Deadline(milliseconds);
  if (pthread_mutex_lock(&event->Mutex) != 0) return -1;
  int result = 0;
  for (;;) {
    if (event->Posted) {
      event->Posted = false;
      break;
    }
    if (milliseconds == 0) {
      result = 2;
      break;
    }
    int rc = milliseconds == kEventWaitForever
                 ? pthread_cond_wait(&event->Condition, &event->Mutex)
                 : pthread_cond_timedwait(&event->Condition, &event->Mutex, &deadline);
    if (rc == ETIMEDOUT || rc == EAGAIN) {
      result = event->Posted ? 0 : 2;
      event->Posted = false;
      break;
    }
    if (rc != 0 && rc != EINTR) {
      result = -1;
      break;
    }
  }
  pthread_mutex_unlock(&event->Mutex);
  return result;
}
