// Clocks, put times, identifiers and process identity.
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "localqm/core/core.h"
#include "zeplo/util/banned.h"  // after every other header

int64_t LqmNowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void LqmFormatPutTime(int64_t ms, char* date8, char* time8) {
  time_t secs = static_cast<time_t>(ms / 1000);
  struct tm tm;
  gmtime_r(&secs, &tm);
  char buf[32];
  snprintf(buf, sizeof buf, "%04d%02d%02d", (tm.tm_year + 1900) % 10000, tm.tm_mon + 1,
           tm.tm_mday);
  memcpy(date8, buf, 8);
  snprintf(buf, sizeof buf, "%02d%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec,
           static_cast<int>((ms % 1000) / 10));
  memcpy(time8, buf, 8);
}

void LqmNewId(const char* qmgrName, MQBYTE* id24) {
  // The last 8 bytes: 24 bits of pid and a 40-bit microsecond clock made
  // strictly increasing within the process, so ids are unique across the
  // processes of one machine and ordered within one.
  static std::atomic<uint64_t> last{0};
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t now = static_cast<uint64_t>(ts.tv_sec) * 1000000u + ts.tv_nsec / 1000;
  uint64_t prev = last.load();
  uint64_t next;
  do {
    next = now > prev ? now : prev + 1;
  } while (!last.compare_exchange_weak(prev, next));
  memcpy(id24, "AMQ ", 4);
  char name[12];
  memset(name, ' ', sizeof name);
  memcpy(name, qmgrName, strnlen(qmgrName, sizeof name));
  memcpy(id24 + 4, name, 12);
  uint64_t pid = static_cast<uint64_t>(getpid()) & 0xffffffu;
  uint64_t tail = (pid << 40) | (next & 0xffffffffffull);
  for (int i = 0; i < 8; ++i) id24[16 + i] = static_cast<MQBYTE>(tail >> (56 - 8 * i));
}

int64_t LqmProcessStart(long pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  FILE* f = fopen(path, "r");
  if (f == nullptr) return 0;
  char buf[1024];
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = '\0';
  // The command name (field 2) may hold blanks and parentheses; the
  // fields after the last ')' are fixed. starttime is field 22.
  char* p = strrchr(buf, ')');
  if (p == nullptr) return 0;
  // An ended process not yet reaped (Z) or being reaped (X) keeps its
  // entry but will never call again: it counts as gone.
  char state = '\0';
  if (sscanf(p + 1, " %c", &state) != 1 || state == 'Z' || state == 'X') return 0;
  int field = 2;
  long long value = 0;
  char* save = nullptr;
  for (char* tok = strtok_r(p + 1, " ", &save); tok != nullptr; tok = strtok_r(nullptr, " ", &save)) {
    if (++field == 22) {
      if (sscanf(tok, "%lld", &value) != 1) return 0;
      return value;
    }
  }
  return 0;
}
