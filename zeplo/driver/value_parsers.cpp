// The small value grammars of the selection and pacing options: ages and
// timestamps (-T), sizes (-z), priorities (-P), message ranges (-r), delays
// (-D), rates (-R) and the get wait (-w).
//
// Integers are read leniently, as users of this tool have always typed
// them: text after the digits is ignored and a field without digits is 0.
// Unlike atoi, nothing here overflows: values saturate at their limits.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "zeplo/driver/driver.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// Reads [blanks][sign]digits from text at *pos, saturating at int64 range
// (which the callers narrow further). Advances *pos past what it read.
int64_t ReadLong(std::string_view text, size_t* pos) {
  size_t i = *pos;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    i++;
  }
  int64_t value = 0;
  bool any = false;
  while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) {
    any = true;
    if (value < INT64_MAX / 10) value = value * 10 + (text[i] - '0');
    i++;
  }
  if (!any) return 0;  // *pos stays: nothing numeric was consumed
  *pos = i;
  return negative ? -value : value;
}

int32_t Clamp32(int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Character-by-character pattern match: '9' in the pattern wants a digit,
// every other pattern character itself; lengths must agree.
bool MatchesPattern(std::string_view text, const char* pattern) {
  if (text.size() != strlen(pattern)) return false;
  for (size_t i = 0; i < text.size(); i++) {
    if (pattern[i] == '9') {
      if (!isdigit(static_cast<unsigned char>(text[i]))) return false;
    } else if (text[i] != pattern[i]) {
      return false;
    }
  }
  return true;
}

// A date "DD/MM/YYYY" into "YYYYMMDD" (8 characters and a terminator).
bool DateFields(std::string_view text, char* out) {
  if (!MatchesPattern(text, "99/99/9999")) return false;
  snprintf(out, 9, "%.4s%.2s%.2s", text.data() + 6, text.data() + 3, text.data());
  return true;
}

// A time of day "HH:MM:SS", "HH:MM" or "HH" into "HHMMSS"; missing
// fields are zero.
bool TimeFields(std::string_view text, char* out) {
  if (MatchesPattern(text, "99:99:99")) {
    snprintf(out, 7, "%.2s%.2s%.2s", text.data(), text.data() + 3, text.data() + 6);
  } else if (MatchesPattern(text, "99:99")) {
    snprintf(out, 7, "%.2s%.2s00", text.data(), text.data() + 3);
  } else if (MatchesPattern(text, "99")) {
    snprintf(out, 7, "%.2s0000", text.data());
  } else {
    return false;
  }
  return true;
}

}  // namespace

int32_t LenientInt(std::string_view text) {
  size_t pos = 0;
  return Clamp32(ReadLong(text, &pos));
}

int ParseAge(std::string_view text, const char* label, int32_t* field) {
  if (*field != 0) {
    fprintf(stderr, "You can only specify the '%s' age once\n", label);
    return kOptionsRefused;
  }
  if (text.empty()) return 0;
  int64_t parts[3] = {0, 0, 0};
  int count = 0;
  size_t start = 0;
  while (true) {
    size_t colon = text.find(':', start);
    std::string_view piece = text.substr(
        start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    if (count == 3) {
      // A fourth field has no meaning; taking some of them silently would
      // select the wrong messages.
      fprintf(stderr, "Unrecognised age '%.*s'\n", static_cast<int>(text.size()), text.data());
      return kOptionsRefused;
    }
    size_t pos = 0;
    parts[count++] = ReadLong(piece, &pos);
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  // One field is minutes, two are hours:minutes, three days:hours:minutes.
  int64_t days = count == 3 ? parts[0] : 0;
  int64_t hours = count == 3 ? parts[1] : (count == 2 ? parts[0] : 0);
  int64_t minutes = parts[count - 1];
  // Each field is bounded by the reader; saturate the products too.
  auto scaled = [](int64_t v, int64_t unit) {
    if (v > INT64_MAX / 4 / unit) return INT64_MAX / 4;
    if (v < INT64_MIN / 4 / unit) return INT64_MIN / 4;
    return v * unit;
  };
  int64_t seconds = scaled(days, 86400) + scaled(hours, 3600) + scaled(minutes, 60);
  *field = Clamp32(seconds);
  return 0;
}

int ParseTimestamp(std::string_view text, const char* label, int64_t nowSeconds, int64_t* field) {
  if (*field != 0) {
    fprintf(stderr, "You can only specify the '%s' time once\n", label);
    return kOptionsRefused;
  }
  bool utc = false;
  if (!text.empty() && text[0] == 'u') {
    utc = true;
    text.remove_prefix(1);
  }
  char date[9] = "";
  char time[7] = "000000";
  bool ok = text.size() <= 19;
  if (ok) {
    size_t underscore = text.find('_');
    if (underscore != std::string_view::npos) {
      ok = DateFields(text.substr(0, underscore), date) &&
           TimeFields(text.substr(underscore + 1), time);
    } else if (text.find(':') != std::string_view::npos) {
      // A time of day alone is on today's local date.
      time_t now = static_cast<time_t>(nowSeconds);
      struct tm local;
      ok = localtime_r(&now, &local) != nullptr &&
           strftime(date, sizeof date, "%Y%m%d", &local) == 8 && TimeFields(text, time);
    } else {
      ok = DateFields(text, date);
    }
  }
  int64_t epoch = -1;
  if (ok) {
    epoch = utc ? MqDateTimeToEpoch(date, time) : MqDateTimeToEpochLocal(date, time);
  }
  if (!ok || epoch < 0) {
    fprintf(stderr, "Unrecognised time format '%.*s'\n", static_cast<int>(text.size()),
            text.data());
    return kOptionsRefused;
  }
  *field = epoch;
  return 0;
}

int32_t ParseQuantity(std::string_view text, const UnitEntry* table, int significant) {
  // Single precision on purpose: it is the unit of account of this grammar
  // (1.5m is exactly 1572864); the result is clamped rather than wrapped.
  float sum = 0;
  size_t i = 0;
  while (true) {
    while (i < text.size() && !isdigit(static_cast<unsigned char>(text[i]))) i++;
    if (i >= text.size()) break;
    char number[64];
    size_t n = 0;
    while (i < text.size() && (isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) {
      if (n + 1 < sizeof number) number[n++] = text[i];
      i++;
    }
    number[n] = '\0';
    float value = strtof(number, nullptr);
    while (i < text.size() && text[i] == ' ') i++;
    if (i >= text.size()) {
      sum += value;
      break;
    }
    for (const UnitEntry* unit = table; unit->Divisor != 0; unit++) {
      size_t want = static_cast<size_t>(significant);
      if (i + want > text.size()) continue;
      if (CompareNoCaseN(text.data() + i, unit->LongName, static_cast<int>(want)) == 0) {
        sum += value * static_cast<float>(unit->Divisor);
        break;
      }
    }
  }
  if (!(sum < 2147483648.0f)) return INT32_MAX;
  if (sum < 0) return 0;
  return static_cast<int32_t>(sum);
}

int ParseSize(std::string_view text, const char* label, uint32_t* field) {
  if (text.empty()) return 0;
  if (*field != 0xFFFFFFFFu) {
    fprintf(stderr, "You can only specify the '%s' message size once\n", label);
    return kOptionsRefused;
  }
  *field = static_cast<uint32_t>(ParseQuantity(text, SizeUnits, 1));
  return 0;
}

int ParseTimeOnQueue(RunOptions* options, const char* value) {
  std::string_view text(value);
  options->SelectionActive = true;
  if (!text.empty() && text[0] == 'f')
    return ParseTimestamp(text.substr(1), "younger than", options->NowSeconds, &options->PutAfter);
  if (!text.empty() && text[0] == 't')
    return ParseTimestamp(text.substr(1), "older than", options->NowSeconds, &options->PutBefore);
  size_t comma = text.find(',');
  if (comma == std::string_view::npos) return ParseAge(text, "older than", &options->OlderThan);
  int rc = ParseAge(text.substr(0, comma), "older than", &options->OlderThan);
  if (rc != 0) return rc;
  return ParseAge(text.substr(comma + 1), "younger than", &options->YoungerThan);
}

int ParseSizeRange(RunOptions* options, const char* value) {
  std::string_view text(value);
  options->SelectionActive = true;
  size_t comma = text.find(',');
  if (comma == std::string_view::npos) return ParseSize(text, "larger than", &options->SizeAtLeast);
  int rc = ParseSize(text.substr(0, comma), "larger than", &options->SizeAtLeast);
  if (rc != 0) return rc;
  return ParseSize(text.substr(comma + 1), "less than", &options->SizeBelow);
}

int ParsePriorityRange(RunOptions* options, const char* value) {
  std::string_view text(value);
  options->SelectionActive = true;
  size_t comma = text.find(',');
  std::string_view low = text.substr(0, comma);
  if (!low.empty()) options->PriorityMin = LenientInt(low);
  if (comma != std::string_view::npos && comma + 1 < text.size())
    options->PriorityMax = LenientInt(text.substr(comma + 1));
  return 0;
}

int ParseMessageRange(RunOptions* options, const char* value) {
  std::string_view text(value);
  options->SelectionActive = true;
  size_t i = 0;
  int64_t first = 0;
  while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) {
    if (first < INT32_MAX) first = first * 10 + (text[i] - '0');
    i++;
  }
  if (first > INT32_MAX) first = INT32_MAX;
  auto allDigits = [](std::string_view rest, int64_t* number) {
    int64_t n = 0;
    for (char c : rest) {
      if (!isdigit(static_cast<unsigned char>(c))) return false;
      if (n < INT32_MAX) n = n * 10 + (c - '0');
    }
    *number = n > INT32_MAX ? INT32_MAX : n;
    return true;
  };
  std::string_view rest = text.substr(i);
  int64_t n = 0;
  int64_t last = 0;
  bool ok = true;
  if (rest.empty()) {
    last = first;
  } else if (rest[0] == '#' && allDigits(rest.substr(1), &n) && n > 0) {
    // "#0" would ask for no messages at all; "5#0" would turn into the
    // range 4..5. Both are refused rather than silently misread.
    last = first == 0 ? n : first + n - 1;
    if (last > INT32_MAX) last = INT32_MAX;
  } else if (rest.substr(0, 2) == ".." && allDigits(rest.substr(2), &n)) {
    last = n;
  } else {
    ok = false;
  }
  if (!ok) {
    fprintf(stderr, "Invalid message range parameter '%s'\n", value);
    return kOptionsRefused;
  }
  options->RangeFirst = static_cast<int32_t>(first);
  options->RangeLast = static_cast<int32_t>(last);
  return 0;
}

int ParseDelay(RunOptions* options, const char* value) {
  if (value[0] == 'r') {
    options->RelativeDelay = true;
    int32_t percent = LenientInt(value + 1);
    options->Delay = percent == 0 ? 100 : percent;
  } else {
    // A later fixed delay replaces an earlier relative one entirely.
    options->RelativeDelay = false;
    options->Delay = LenientInt(value);
  }
  return 0;
}

int ParseRate(RunOptions* options, const char* value) {
  std::string_view text(value);
  size_t colon = text.find(':');
  auto field = [](std::string_view f) { return f == "*" ? -1 : LenientInt(f); };
  if (colon != std::string_view::npos) {
    options->RateDuration = field(text.substr(colon + 1));
    text = text.substr(0, colon);
  }
  options->Rate = field(text);
  return 0;
}

int ParseWait(RunOptions* options, const char* value) {
  int32_t seconds = LenientInt(value);
  // MQGET takes its wait in milliseconds in 32 bits: a longer wait cannot
  // be asked for, and multiplied it would wrap (to a refused negative
  // interval, or to a short one). Waiting that long is waiting for ever.
  options->WaitInterval = seconds < 0 || seconds > kMaxWaitSeconds ? -1 : seconds;
  return 0;
}

void PrintExampleDates(const char* date) {
  const char* time = "120000";
  fprintf(stderr, "Example Date %s %s is %lld as local time \n", date, time,
          static_cast<long long>(MqDateTimeToEpochLocal(date, time)));
  fprintf(stderr, "Example Date %s %s is %lld as UTC time \n", date, time,
          static_cast<long long>(MqDateTimeToEpoch(date, time)));
}
