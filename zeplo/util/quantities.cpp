// Quantities with unit tables and durations in words, for the selection,
// limits and summary reports and for the pacing messages.
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

const UnitEntry TimeUnitsCs[] = {
    {60480000, "Week", "Week", nullptr}, {8640000, "Day", "Day", nullptr},
    {360000, "Hour", "Hr", nullptr},     {6000, "Minute", "Min", nullptr},
    {100, "Second", "Sec", nullptr},     {0, nullptr, nullptr, nullptr},
};

const UnitEntry TimeUnitsSec[] = {
    {604800, "Week", "Week", nullptr}, {86400, "Day", "Day", nullptr},
    {3600, "Hour", "Hr", nullptr},     {60, "Minute", "Min", nullptr},
    {1, "Second", "Sec", nullptr},     {0, nullptr, nullptr, nullptr},
};

const UnitEntry SizeUnits[] = {
    {1073741824, "GB", "GB", nullptr}, {1048576, "MB", "MB", nullptr}, {1024, "KB", "KB", nullptr},
    {1, "byte", "byte", nullptr},      {0, nullptr, nullptr, nullptr},
};

const UnitEntry LargeSizeUnits[] = {
    {1073741824, "PB", "PB", nullptr}, {1048576, "TB", "TB", nullptr}, {1024, "GB", "GB", nullptr},
    {1, "MB", "MB", nullptr},          {0, nullptr, nullptr, nullptr},
};

namespace {

// Appends to a bounded, always terminated text. Once the text has been cut
// every later append is dropped and the cut is remembered.
struct TextOut {
  char* Out;
  size_t Size;
  size_t Used;
  bool Cut;
};

void Append(TextOut* t, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(TextOut* t, const char* format, ...) {
  if (t->Cut || t->Size == 0) {
    t->Cut = true;
    return;
  }
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(t->Out + t->Used, t->Size - t->Used, format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= t->Size - t->Used) {
    t->Used = t->Size - 1;
    t->Cut = true;
    return;
  }
  t->Used += static_cast<size_t>(n);
}

// The unit's name for the quantity q: plural when q is 0, above 1 or not
// whole ("0 Seconds", "1 Hour", "1.5 MBs").
void AppendUnitName(TextOut* t, const UnitEntry& unit, double q, bool shortNames) {
  const char* name = (shortNames && unit.ShortName != nullptr) ? unit.ShortName : unit.LongName;
  bool plural = q != std::floor(q) || q == 0 || q > 1;
  if (!plural) {
    Append(t, "%s ", name);
  } else if (unit.Plural != nullptr) {
    Append(t, "%s ", unit.Plural);
  } else {
    Append(t, "%ss ", name);
  }
}

}  // namespace

int FormatQuantity(int64_t value, char* out, size_t outSize, const UnitEntry* table, int flags) {
  TextOut t{out, outSize, 0, false};
  if (outSize > 0) out[0] = '\0';
  // Work on the magnitude as unsigned: -INT64_MIN does not fit an int64.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  if (value < 0) {
    Append(&t, "-");
  } else if (flags & kQuantityPlusSign) {
    Append(&t, "+");
  }

  int entries = 0;
  while (table[entries].Divisor != 0) ++entries;
  bool shortNames = (flags & kQuantityShortNames) != 0;

  if (!(flags & kQuantityCompound)) {
    int chosen = entries - 1;
    for (int i = 0; i < entries; ++i) {
      if (static_cast<uint64_t>(table[i].Divisor) <= magnitude) {
        chosen = i;
        break;
      }
    }
    double q = static_cast<double>(magnitude) / table[chosen].Divisor;
    if (q == std::floor(q)) {
      Append(&t, "%.0f ", q);
    } else {
      Append(&t, (flags & kQuantityTwoDecimals) ? "%.2f " : "%.1f ", q);
    }
    AppendUnitName(&t, table[chosen], q, shortNames);
    return t.Cut ? 1 : 0;
  }

  uint64_t remaining = magnitude;
  for (int i = 0; i < entries; ++i) {
    const UnitEntry& unit = table[i];
    uint64_t divisor = static_cast<uint64_t>(unit.Divisor);
    bool last = i == entries - 1;
    if (divisor > remaining && divisor != 1 && !last) continue;
    uint64_t count = remaining / divisor;
    if (last && (flags & kQuantityFraction)) {
      double q = static_cast<double>(remaining) / static_cast<double>(divisor);
      Append(&t, "%.2f ", q);
      AppendUnitName(&t, unit, q, shortNames);
    } else {
      Append(&t, "%" PRIu64 " ", count);
      AppendUnitName(&t, unit, static_cast<double>(count), shortNames);
    }
    remaining -= count * divisor;
    if (remaining == 0) break;
  }
  return t.Cut ? 1 : 0;
}

int FormatDuration(char* out, size_t outSize, int64_t seconds, bool shortForm) {
  TextOut t{out, outSize, 0, false};
  if (outSize > 0) out[0] = '\0';
  uint64_t left = seconds < 0 ? 0 - static_cast<uint64_t>(seconds) : static_cast<uint64_t>(seconds);
  if (seconds < 0) Append(&t, "-");

  struct Part {
    uint64_t Seconds;
    const char* Word;
    char Letter;
  };
  static const Part kParts[] = {
      {31536000, "year", 'y'}, {604800, "week", 'w'}, {86400, "day", 'd'},
      {3600, "hour", 'h'},     {60, "minute", 'm'},   {1, "second", 's'},
  };
  bool any = false;
  for (const Part& part : kParts) {
    uint64_t n = left / part.Seconds;
    left -= n * part.Seconds;
    if (n == 0) continue;
    if (any) Append(&t, " ");
    if (shortForm) {
      Append(&t, "%" PRIu64 "%c", n, part.Letter);
    } else {
      Append(&t, "%" PRIu64 " %s%s", n, part.Word, n == 1 ? "" : "s");
    }
    any = true;
  }
  if (!any) Append(&t, shortForm ? "0s" : "0 seconds");
  return t.Cut ? 1 : 0;
}
