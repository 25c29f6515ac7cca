// The count lines of a run's final report and of the queue summary.
#include <cstdio>

#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

int GroupThousands(const char* text, char* out, size_t size) {
  if (size == 0) return 0;
  int digits = 0;
  for (const char* p = text; *p != '\0'; p++)
    if (*p >= '0' && *p <= '9') digits++;
  size_t n = 0;
  for (const char* p = text; *p != '\0' && n + 1 < size; p++) {
    out[n++] = *p;
    if (*p >= '0' && *p <= '9') {
      digits--;
      if (digits > 0 && digits % 3 == 0 && n + 1 < size) out[n++] = ',';
    }
  }
  out[n] = '\0';
  return static_cast<int>(n);
}

int FormatCountLine(const char* label, int32_t files, int64_t messages, uint64_t bytes, char* out,
                    size_t size) {
  char raw[32], count[48], byteText[48];
  snprintf(raw, sizeof raw, "%lld", static_cast<long long>(messages));
  GroupThousands(raw, count, sizeof count);
  snprintf(raw, sizeof raw, "%10llu", static_cast<unsigned long long>(bytes));
  GroupThousands(raw, byteText, sizeof byteText);
  int n;
  if (files >= 0)
    n = snprintf(out, size, "%-7s - Files:%4d  Messages:%7s  Bytes:%12s\n", label, files, count,
                 byteText);
  else
    n = snprintf(out, size, "%-7s -             Messages:%7s  Bytes:%12s\n", label, count,
                 byteText);
  if (n < 0) n = 0;
  if (size > 0 && static_cast<size_t>(n) >= size) n = static_cast<int>(size - 1);
  return n;
}
