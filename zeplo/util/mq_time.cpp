// MQ put date/time strings (PutDate YYYYMMDD, PutTime HHMMSSTH) and
// calendar time. Put times are recorded by the queue manager in UTC.
#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// Reads `count` decimal digits; false when any character is not a digit
// (blank or NUL-filled put dates of messages without context, for example).
bool ReadDigits(const char* text, int count, int* value) {
  int v = 0;
  for (int i = 0; i < count; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

// Fills `tm` from YYYYMMDD and HHMMSS; false when unreadable.
bool ReadDateTime(const char* date, const char* time, struct tm* tm) {
  if (date == nullptr || time == nullptr) return false;
  int year, month, day, hour, minute, second;
  if (!ReadDigits(date, 4, &year) || !ReadDigits(date + 4, 2, &month) ||
      !ReadDigits(date + 6, 2, &day) || !ReadDigits(time, 2, &hour) ||
      !ReadDigits(time + 2, 2, &minute) || !ReadDigits(time + 4, 2, &second)) {
    return false;
  }
  std::memset(tm, 0, sizeof *tm);
  tm->tm_year = year - 1900;
  tm->tm_mon = month - 1;
  tm->tm_mday = day;
  tm->tm_hour = hour;
  tm->tm_min = minute;
  tm->tm_sec = second;
  return true;
}

}  // namespace

int64_t MqDateTimeToEpoch(const char* date, const char* time) {
  struct tm tm;
  if (!ReadDateTime(date, time, &tm)) return -1;
  return static_cast<int64_t>(timegm(&tm));
}

int64_t MqDateTimeToEpochLocal(const char* date, const char* time) {
  struct tm tm;
  if (!ReadDateTime(date, time, &tm)) return -1;
  tm.tm_isdst = -1;  // let the system decide daylight saving
  return static_cast<int64_t>(mktime(&tm));
}

int MqDateTimeToEpochCs(const char* date, const char* time, int64_t* seconds,
                        int64_t* centiseconds) {
  struct tm tm;
  int hundredths = 0;
  if (!ReadDateTime(date, time, &tm) || !ReadDigits(time + 6, 2, &hundredths)) {
    *seconds = -1;
    *centiseconds = 0;
    return 1;
  }
  *seconds = static_cast<int64_t>(timegm(&tm));
  *centiseconds = *seconds * 100 + hundredths;
  return 0;
}

int64_t EpochToMqDateTime(const int64_t* when, char* date, char* time, bool utc) {
  time_t t = when != nullptr ? static_cast<time_t>(*when) : ::time(nullptr);
  struct tm tm;
  struct tm* ok = utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm);
  if (ok == nullptr) std::memset(&tm, 0, sizeof tm);
  // Composed in a larger buffer: a year past 9999 must not spill over.
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  std::memcpy(date, text, 8);
  std::snprintf(text, sizeof text, "%02d%02d%02d00", tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(time, text, 8);
  return static_cast<int64_t>(t);
}

void NowCs(int64_t* seconds, int64_t* centiseconds) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  if (seconds != nullptr) *seconds = static_cast<int64_t>(now.tv_sec);
  if (centiseconds != nullptr) {
    *centiseconds = static_cast<int64_t>(now.tv_sec) * 100 + now.tv_usec / 10000;
  }
}
