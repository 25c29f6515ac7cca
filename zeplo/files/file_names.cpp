// File names: the % inserts of -f/-F patterns and the $-numbered names of
// generic files.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

const char* const kMonthShort[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kMonthLong[] = {"January",   "February", "March",    "April",
                                  "May",       "June",     "July",     "August",
                                  "September", "October",  "November", "December"};
const char* const kDayShort[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kDayLong[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                "Thursday", "Friday", "Saturday"};

// A bounded output: appends never write past the end, and a cut is
// remembered so the caller can refuse the name.
struct NameOut {
  char* Text;
  size_t Size;
  size_t Used;
  bool Cut;
};

void Put(NameOut* out, const char* text, size_t n) {
  size_t room = out->Size - 1 - out->Used;
  if (n > room) {
    n = room;
    out->Cut = true;
  }
  std::memcpy(out->Text + out->Used, text, n);
  out->Used += n;
  out->Text[out->Used] = '\0';
}

void Format(NameOut* out, const char* format, ...) {
  char piece[64];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(piece, sizeof(piece), format, args);
  va_end(args);
  if (n < 0) return;
  Put(out, piece,
      static_cast<size_t>(n) < sizeof(piece) ? static_cast<size_t>(n) : sizeof(piece) - 1);
}

// How many times `c` repeats from `p` (1, 2 or 3 at most as `limit` says).
int Repeats(const char* p, char c, int limit) {
  int n = 0;
  while (n < limit && p[n] == c) ++n;
  return n;
}

const char* OrdinalSuffix(int day) {
  switch (day) {
    case 1:
    case 21:
    case 31:
      return "st";
    case 2:
    case 22:
      return "nd";
    case 3:
    case 23:
      return "rd";
    default:
      return "th";
  }
}

// Truncating, terminating copy that reports a cut.
bool CopyName(char* name, size_t nameSize, const char* text) {
  int n = std::snprintf(name, nameSize, "%s", text);
  return n >= 0 && static_cast<size_t>(n) < nameSize;
}

}  // namespace

int ExpandFileNameAt(Run* run, const char* pattern, const struct tm* when, char* name,
                     size_t nameSize) {
  if (name == nullptr || nameSize == 0) return MQRC_FILE_SYSTEM_ERROR;
  NameOut out{name, nameSize, 0, false};
  name[0] = '\0';
  if (pattern == nullptr) return 0;
  struct tm t = *when;
  // Out-of-range fields of a broken-down time must not index past a table.
  int month = ((t.tm_mon % 12) + 12) % 12;
  int weekday = ((t.tm_wday % 7) + 7) % 7;
  int year = t.tm_year + 1900;
  int fileNumber = run->Counters.ReadFiles > 0 ? run->Counters.ReadFiles : run->Counters.WrittenFiles + 1;
  long long messageIndex = static_cast<long long>(run->Counters.MessageIndex);
  long long nextOutput = static_cast<long long>(run->Counters.SelectedCount) + 1;

  const char* p = pattern;
  while (*p != '\0') {
    const char* percent = std::strchr(p, '%');
    if (percent == nullptr) {
      Put(&out, p, std::strlen(p));
      break;
    }
    Put(&out, p, static_cast<size_t>(percent - p));
    p = percent + 1;
    char c = *p;
    if (c == '\0') break;  // a lone % at the end is dropped
    int n = 1;
    switch (c) {
      case 'C':
        Format(&out, "%04d%02d%02d", year, t.tm_mon + 1, t.tm_mday);
        break;
      case 'c':
        Format(&out, "%02d%02d%02d", ((year % 100) + 100) % 100, t.tm_mon + 1, t.tm_mday);
        break;
      case 't':
        Format(&out, "%02d%02d%02d", t.tm_hour, t.tm_min, t.tm_sec);
        break;
      case 'y':
        n = Repeats(p, 'y', 2);
        if (n == 2)
          Format(&out, "%02d", ((year % 100) + 100) % 100);
        else
          Format(&out, "%04d", year);
        break;
      case 'm':
        n = Repeats(p, 'm', 3);
        if (n == 3)
          Put(&out, kMonthLong[month], std::strlen(kMonthLong[month]));
        else if (n == 2)
          Format(&out, "%02d", month + 1);
        else
          Put(&out, kMonthShort[month], 3);
        break;
      case 'd':
        n = Repeats(p, 'd', 2);
        if (n == 2)
          Format(&out, "%d%s", t.tm_mday, OrdinalSuffix(t.tm_mday));
        else
          Format(&out, "%02d", t.tm_mday);
        break;
      case 'D':
        n = Repeats(p, 'D', 2);
        if (n == 2)
          Put(&out, kDayLong[weekday], std::strlen(kDayLong[weekday]));
        else
          Put(&out, kDayShort[weekday], 3);
        break;
      case 'H':
        n = Repeats(p, 'H', 2);
        Format(&out, n == 2 ? "%d" : "%02d", t.tm_hour);
        break;
      case 'h':
        // The 12-hour clock counts 00 to 11: noon and midnight are 00.
        n = Repeats(p, 'h', 2);
        Format(&out, n == 2 ? "%d" : "%02d", ((t.tm_hour % 12) + 12) % 12);
        break;
      case 'M':
        Format(&out, "%02d", t.tm_min);
        break;
      case 'S':
        Format(&out, "%02d", t.tm_sec);
        break;
      case 'p':
        Put(&out, t.tm_hour < 12 ? "am" : "pm", 2);
        break;
      case 'P':
        Put(&out, t.tm_hour < 12 ? "AM" : "PM", 2);
        break;
      case 'j':
        Format(&out, "%03d", t.tm_yday);
        break;
      case 'J':
        Format(&out, "%03d", t.tm_yday + 1);
        break;
      case 'n':
        Format(&out, "%d", fileNumber);
        break;
      case 'N':
        Format(&out, "%05d", fileNumber);
        break;
      case 'i':
        Format(&out, "%lld", messageIndex);
        break;
      case 'I':
        Format(&out, "%05lld", messageIndex);
        break;
      case 'o':
        Format(&out, "%lld", nextOutput);
        break;
      case 'O':
        Format(&out, "%05lld", nextOutput);
        break;
      case '%':
        Put(&out, "%", 1);
        break;
      default:
        break;  // an unknown insert is dropped with its letter
    }
    p += n;
  }
  return out.Cut ? MQRC_FILE_SYSTEM_ERROR : 0;
}

int ExpandFileName(Run* run, const char* pattern, char* name, size_t nameSize) {
  time_t now = std::time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return ExpandFileNameAt(run, pattern, &local, name, nameSize);
}

bool FileNameHasIndexInsert(const char* pattern) {
  if (pattern == nullptr) return false;
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') continue;
    char c = p[1];
    if (c == '\0') return false;
    if (std::strchr("iInNoO", c) != nullptr) return true;
    ++p;  // skip the insert letter, so "%%n" is a literal "%n"
  }
  return false;
}

int NextGenericFileName(Run* run, bool forInput, char* name, size_t nameSize) {
  if (name == nullptr || nameSize == 0) return MQRC_FILE_SYSTEM_ERROR;
  bool fits;
  if (forInput) {
    // The first file is the one generic load chose; a split group goes on
    // with $2, $3, ... by the number of input files opened.
    if (run->Counters.ReadFiles <= 1) {
      fits = CopyName(name, nameSize, run->Options->InputFile);
    } else {
      int n = std::snprintf(name, nameSize, "%s%s%c%d%s", run->Files.GenericDirectory,
                            run->Files.GenericBaseName, '$', run->Counters.ReadFiles, run->Files.GenericFileType);
      fits = n >= 0 && static_cast<size_t>(n) < nameSize;
    }
    return fits ? 0 : MQRC_FILE_SYSTEM_ERROR;
  }
  if (run->Counters.WrittenFiles <= 0) {
    int n = std::snprintf(name, nameSize, "%s%s%s", run->Files.GenericDirectory, run->Files.GenericBaseName,
                          run->Files.GenericFileType);
    return n >= 0 && static_cast<size_t>(n) < nameSize ? 0 : MQRC_FILE_SYSTEM_ERROR;
  }
  if (run->Counters.WrittenFiles == 1) {
    // First roll-over: the file written so far becomes $1.
    char plain[kFileNameLength + 1];
    char first[kFileNameLength + 1];
    int a = std::snprintf(plain, sizeof(plain), "%s%s%s", run->Files.GenericDirectory,
                          run->Files.GenericBaseName, run->Files.GenericFileType);
    int b = std::snprintf(first, sizeof(first), "%s%s%c%d%s", run->Files.GenericDirectory,
                          run->Files.GenericBaseName, '$', 1, run->Files.GenericFileType);
    bool namesFit = a >= 0 && static_cast<size_t>(a) < sizeof(plain) && b >= 0 &&
                    static_cast<size_t>(b) < sizeof(first);
    if (!namesFit || std::rename(plain, first) != 0) {
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Can not rename file '%s' to '%s'", plain,
                           first);
    }
  }
  int n = std::snprintf(name, nameSize, "%s%s%c%d%s", run->Files.GenericDirectory, run->Files.GenericBaseName,
                        '$', run->Counters.WrittenFiles + 1, run->Files.GenericFileType);
  return n >= 0 && static_cast<size_t>(n) < nameSize ? 0 : MQRC_FILE_SYSTEM_ERROR;
}
