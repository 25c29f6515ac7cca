// The fields of the formatter's lines: LSNs, numbers at fixed columns, and
// the hexadecimal dump of a record's data, read a line at a time without
// ever looking past the end of a line.
#include <cstdio>
#include <cstring>

#include "zeplo/logreplay/logreplay_internal.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int kIncompleteMessage = 2242;  // MQRC_INCOMPLETE_MSG

// The value of a hex digit as the log formatter prints them (upper case
// only); any other character counts 0. One lookup per digit and no check:
// the loop below decodes a whole dump line at a time.
struct HexTable {
  unsigned char Value[256];
  constexpr HexTable() : Value() {
    for (int i = 0; i < 10; ++i) Value['0' + i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 6; ++i) Value['A' + i] = static_cast<unsigned char>(10 + i);
  }
};
constexpr HexTable kHex;

int DumpError(Run* run, const char* text) {
  ReportMessage(run, "%s", text);
  return kIncompleteMessage;
}

}  // namespace

int ParseLsn(Run* run, LogReplay* lr, int column, char (&out)[kLsnLength + 1]) {
  out[0] = '\0';
  if (LineAt(lr, column) != '<') {
    ReportMessage(run, "Line ld, LSN format unrecognised.\n");
    return kIncompleteMessage;
  }
  const char* text = lr->Line + column + 1;
  size_t available = static_cast<size_t>(lr->LineLength - column - 1);
  const char* close = static_cast<const char*>(memchr(text, '>', available));
  if (close == nullptr) return 0;  // no closing '>': no LSN
  size_t length = static_cast<size_t>(close - text);
  if (length == 0) {
    ReportMessage(run, "Line ld, LSN missing.\n");
    return kIncompleteMessage;
  }
  if (length > kLsnLength) {
    ReportMessage(run, "Line ld, LSN too large.\n");
    return kIncompleteMessage;
  }
  memcpy(out, text, length);
  out[length] = '\0';
  if (strcmp(out, "0:0:0:0") == 0) out[0] = '\0';
  return 0;
}

int64_t LineNumberAt(const LogReplay* lr, int column) {
  int64_t value = 0;
  for (int i = column; i < lr->LineLength && lr->Line[i] >= '0' && lr->Line[i] <= '9'; ++i) {
    value = value * 10 + (lr->Line[i] - '0');
    if (value > INT32_MAX) return INT32_MAX;
  }
  return value;
}

bool IsDumpLine(const LogReplay* lr, int32_t* colon) {
  if (LineAt(lr, 5) == ':') {
    *colon = 5;
  } else if (LineAt(lr, 6) == ':') {
    *colon = 6;
  } else {
    return false;
  }
  return true;
}

bool StartDump(Run* run, LogReplay* lr) {
  if (!ReadLogLine(run, lr)) return false;
  if (!IsDumpLine(lr, &lr->DumpColon)) {
    lr->LineHeld = true;
    return false;
  }
  lr->DumpPosition = 0;
  lr->DumpBytes = 0;
  return true;
}

int ReadDumpBytes(Run* run, LogReplay* lr, unsigned char* out, int64_t count) {
  while (count > 0) {
    if (lr->DumpPosition >= kDumpFullPosition) {
      if (!ReadLogLine(run, lr) || !IsDumpLine(lr, &lr->DumpColon))
        return DumpError(run, "Data dump line missing.\n");
      lr->DumpPosition = 0;
    }
    int64_t take = (kDumpFullPosition - lr->DumpPosition) / 3;
    if (take > count) take = count;
    // Both digits of the last byte taken must lie on the line.
    const int32_t first = lr->DumpColon + 3 + lr->DumpPosition;
    if (first + 3 * take - 1 > lr->LineLength)
      return DumpError(run, "Data dump line too short.\n");
    const unsigned char* digits = reinterpret_cast<const unsigned char*>(lr->Line + first);
    for (int64_t k = 0; k < take; ++k, digits += 3)
      *out++ = static_cast<unsigned char>(kHex.Value[digits[0]] << 4 | kHex.Value[digits[1]]);
    lr->DumpPosition += static_cast<int32_t>(3 * take);
    lr->DumpBytes += take;
    count -= take;
  }
  return 0;
}

int CheckDumpEnd(Run* run, LogReplay* lr) {
  if (lr->DumpPosition < kDumpFullPosition) {
    // A formatter that trims trailing blanks ends the line there instead.
    char next = LineAt(lr, lr->DumpColon + 3 + lr->DumpPosition);
    if (next == ' ' || next == '\0') return 0;
    return DumpError(run, "Data dump longer than its record.\n");
  }
  if (!ReadLogLine(run, lr)) return 0;
  int32_t colon;
  if (IsDumpLine(lr, &colon)) return DumpError(run, "Data dump longer than its record.\n");
  lr->LineHeld = true;
  return 0;
}
