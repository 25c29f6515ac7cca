// The small value grammars of the selection and pacing options: ages and
// timestamps (-T), sizes (-z), priorities (-P), message ranges (-r), delays
// (-D), rates (-R) and the get wait (-w).
//
// Every number is read whole: a value with text after its digits, or
// without digits, is refused rather than read in part, since a part-read
// age or size widens a selection that -I then removes. Nothing overflows:
// values saturate at their limits.
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

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads [sign]digits at text[*pos], saturating at int64 range (which the
// callers narrow further). Advances *pos past them; false, *pos unmoved,
// when no digit follows.
bool ReadDigits(std::string_view text, size_t* pos, bool allowSign, int64_t* value) {
  size_t i = *pos;
  bool negative = false;
  if (allowSign && i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    i++;
  }
  int64_t n = 0;
  size_t first = i;
  while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) {
    n = n < INT64_MAX / 10 ? n * 10 + (text[i] - '0') : INT64_MAX;
    i++;
  }
  if (i == first) return false;
  *pos = i;
  *value = negative ? -n : n;
  return true;
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

bool ReadWholeInt(std::string_view text, bool allowSign, int32_t* out) {
  *out = 0;
  size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) pos++;
  int64_t value = 0;
  if (!ReadDigits(text, &pos, allowSign, &value)) return false;
  while (pos < text.size() && IsBlank(text[pos])) pos++;
  if (pos != text.size()) return false;
  *out = Clamp32(value);
  return true;
}

int RefuseValue(char option, std::string_view value) {
  fprintf(stderr, "Sorry, '%.*s' is not a valid value for -%c\n", static_cast<int>(value.size()),
          value.data(), option);
  return kOptionsRefused;
}

int ParseIntOrRefuse(char option, const char* value, bool allowSign, int32_t* out) {
  return ReadWholeInt(value, allowSign, out) ? 0 : RefuseValue(option, value);
}

int ParseAge(std::string_view text, const char* label, int32_t* field, std::string_view whole) {
  if (whole.empty()) whole = text;
  if (*field != 0) {
    fprintf(stderr, "You can only specify the '%s' age once\n", label);
    return kOptionsRefused;
  }
  if (text.empty()) return 0;
  int64_t parts[3] = {0, 0, 0};
  int count = 0;
  size_t pos = 0;
  // Digits, then a colon and more digits, at most three fields: "1d" or
  // "-5" is no age at all, and a fourth field has no meaning.
  while (true) {
    if (count == 3 || !ReadDigits(text, &pos, false, &parts[count])) return RefuseValue('T', whole);
    count++;
    if (pos == text.size()) break;
    if (text[pos++] != ':') return RefuseValue('T', whole);
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

namespace {

// The unit word at text[*pos] (a run of letters): the first unit of table
// whose long name it starts with over `significant` letters, taken when
// the whole run is a prefix of that name, or the name with a plural "s"
// ("k", "kb", "bytes"). Advances *pos past it; 0 when there is none.
int32_t ReadUnit(std::string_view text, size_t* pos, const UnitEntry* table, int significant) {
  size_t end = *pos;
  while (end < text.size() && isalpha(static_cast<unsigned char>(text[end]))) end++;
  std::string_view word = text.substr(*pos, end - *pos);
  if (word.size() < static_cast<size_t>(significant)) return 0;
  for (const UnitEntry* unit = table; unit->Divisor != 0; unit++) {
    std::string_view name(unit->LongName);
    if (CompareNoCaseN(word.data(), name.data(), significant) != 0) continue;
    bool prefix = word.size() <= name.size() &&
                  CompareNoCaseN(word.data(), name.data(), static_cast<int>(word.size())) == 0;
    bool plural = word.size() == name.size() + 1 && (word.back() == 's' || word.back() == 'S') &&
                  CompareNoCaseN(word.data(), name.data(), static_cast<int>(name.size())) == 0;
    if (!prefix && !plural) return 0;
    *pos = end;
    return unit->Divisor;
  }
  return 0;
}

}  // namespace

bool ParseQuantity(std::string_view text, const UnitEntry* table, int significant, int32_t* out) {
  // Single precision on purpose: it is the unit of account of this grammar
  // (1.5m is exactly 1572864); the result is clamped rather than wrapped.
  *out = 0;
  float sum = 0;
  size_t i = 0;
  bool any = false;
  while (true) {
    while (i < text.size() && IsBlank(text[i])) i++;
    if (i >= text.size()) break;
    // A number: digits with at most one point among them.
    char number[64];
    size_t n = 0;
    int digits = 0, points = 0;
    while (i < text.size() && (isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) {
      (text[i] == '.' ? points : digits)++;
      if (n + 1 < sizeof number) number[n++] = text[i];
      i++;
    }
    number[n] = '\0';
    if (digits == 0 || points > 1) return false;
    float value = strtof(number, nullptr);
    while (i < text.size() && IsBlank(text[i])) i++;
    if (i >= text.size()) {
      sum += value;  // a bare number at the end is bytes
      any = true;
      break;
    }
    int32_t divisor = ReadUnit(text, &i, table, significant);
    if (divisor == 0) return false;
    sum += value * static_cast<float>(divisor);
    any = true;
  }
  if (!any) return false;
  *out = !(sum < 2147483648.0f) ? INT32_MAX : static_cast<int32_t>(sum);
  return true;
}

int ParseSize(std::string_view text, const char* label, uint32_t* field, std::string_view whole) {
  if (whole.empty()) whole = text;
  if (text.empty()) return 0;
  if (*field != 0xFFFFFFFFu) {
    fprintf(stderr, "You can only specify the '%s' message size once\n", label);
    return kOptionsRefused;
  }
  int32_t bytes = 0;
  if (!ParseQuantity(text, SizeUnits, 1, &bytes)) return RefuseValue('z', whole);
  *field = static_cast<uint32_t>(bytes);
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
  int rc = ParseAge(text.substr(0, comma), "older than", &options->OlderThan, text);
  if (rc != 0) return rc;
  return ParseAge(text.substr(comma + 1), "younger than", &options->YoungerThan, text);
}

int ParseSizeRange(RunOptions* options, const char* value) {
  std::string_view text(value);
  options->SelectionActive = true;
  size_t comma = text.find(',');
  if (comma == std::string_view::npos) return ParseSize(text, "larger than", &options->SizeAtLeast);
  int rc = ParseSize(text.substr(0, comma), "larger than", &options->SizeAtLeast, text);
  if (rc != 0) return rc;
  return ParseSize(text.substr(comma + 1), "less than", &options->SizeBelow, text);
}

int ParsePriorityRange(RunOptions* options, const char* value) {
  std::string_view text(value);
  options->SelectionActive = true;
  size_t comma = text.find(',');
  std::string_view low = text.substr(0, comma);
  std::string_view high = comma == std::string_view::npos ? "" : text.substr(comma + 1);
  int32_t number = 0;
  // Unsigned: -1 is how "no bound" is held.
  if (!low.empty()) {
    if (!ReadWholeInt(low, false, &number)) return RefuseValue('P', text);
    options->PriorityMin = number;
  }
  if (!high.empty()) {
    if (!ReadWholeInt(high, false, &number)) return RefuseValue('P', text);
    options->PriorityMax = number;
  }
  // Reversed bounds are put in order, as -r and -T ranges are: 7,3 means
  // priorities 3 to 7, not an empty selection.
  if (options->PriorityMin != -1 && options->PriorityMax != -1 &&
      options->PriorityMin > options->PriorityMax) {
    int32_t swap = options->PriorityMin;
    options->PriorityMin = options->PriorityMax;
    options->PriorityMax = swap;
  }
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
  int32_t delay = 0;
  if (value[0] == 'r') {
    // "r" alone is 100 percent of the recorded gaps.
    if (value[1] != '\0' && !ReadWholeInt(value + 1, false, &delay)) return RefuseValue('D', value);
    options->RelativeDelay = true;
    options->Delay = delay == 0 ? 100 : delay;
    return 0;
  }
  if (!ReadWholeInt(value, true, &delay)) return RefuseValue('D', value);
  // A later fixed delay replaces an earlier relative one entirely.
  options->RelativeDelay = false;
  options->Delay = delay;
  return 0;
}

int ParseRate(RunOptions* options, const char* value) {
  std::string_view text(value);
  size_t colon = text.find(':');
  // Each field is a count or "*" (-1).
  auto field = [](std::string_view f, int32_t* out) {
    if (f == "*") {
      *out = -1;
      return true;
    }
    return ReadWholeInt(f, false, out);
  };
  int32_t rate = 0;
  int32_t duration = options->RateDuration;
  if (colon != std::string_view::npos && !field(text.substr(colon + 1), &duration))
    return RefuseValue('R', value);
  if (!field(text.substr(0, colon), &rate)) return RefuseValue('R', value);
  options->Rate = rate;
  options->RateDuration = duration;
  return 0;
}

int ParseWait(RunOptions* options, const char* value) {
  int32_t seconds = 0;
  if (!ReadWholeInt(value, true, &seconds)) return RefuseValue('w', value);
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
