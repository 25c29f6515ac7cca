// The -n settings: delimiter escapes, the checks made once before the
// first record, the bracket check and the whitespace stripping of
// property text.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

constexpr int kBadDelimiters = 3229;

// The closer an opening bracket waits for, or 0.
char CloserOf(unsigned char c) {
  switch (c) {
    case '(': return ')';
    case '[': return ']';
    case '{': return '}';
    case '<': return '>';
    default: return 0;
  }
}
bool IsCloser(unsigned char c) { return c == ')' || c == ']' || c == '}' || c == '>'; }

// A table of the eight bracket bytes, for the scalar part of the scan.
struct BracketTable {
  bool Is[256];
  constexpr BracketTable() : Is() {
    for (unsigned char c : {'(', ')', '[', ']', '{', '}', '<', '>'}) Is[c] = true;
  }
};
constexpr BracketTable kBrackets;

typedef unsigned char Block16 __attribute__((vector_size(16)));

// Nonzero bytes where v holds a bracket. ( ) differ in bit 0 only, < >
// in bit 1 only, and [ ] { } in bit 5 between the pairs: folding those
// bits away leaves four compares instead of eight.
Block16 BracketBytes(Block16 v) {
  Block16 folded = v & 0xDF;
  return ((v | 1) == ')') | ((v | 2) == '>') | (folded == '[') | (folded == ']');
}

bool AnyByte(Block16 v) {
  uint64_t halves[2];
  memcpy(halves, &v, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

// The first bracket byte in [p, end), or end. Most record text holds no
// brackets at all: 32 bytes are tested at a time.
const unsigned char* NextBracket(const unsigned char* p, const unsigned char* end) {
  while (end - p >= 32) {
    Block16 a, b;
    memcpy(&a, p, sizeof a);
    memcpy(&b, p + 16, sizeof b);
    if (AnyByte(BracketBytes(a) | BracketBytes(b))) break;
    p += 32;
  }
  while (p < end && !kBrackets.Is[*p]) ++p;
  return p;
}

bool Same(const Delimiter& a, const Delimiter& b) {
  return a.Length == b.Length && memcmp(a.Bytes, b.Bytes, static_cast<size_t>(a.Length)) == 0;
}

bool IsLineFeed(const Delimiter& d) { return d.Length == 1 && d.Bytes[0] == '\n'; }

void SetLineFeed(Delimiter* d) {
  d->Bytes[0] = '\n';
  d->Length = 1;
}

bool IsLayoutBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Copies text[i] up to and including the next `closer` (or the end) to
// out[n]; returns the new i and n.
void CopyThrough(const char* text, int32_t length, char closer, int32_t* i, char* out, int32_t* n) {
  out[(*n)++] = text[(*i)++];
  while (*i < length) {
    char c = text[(*i)++];
    out[(*n)++] = c;
    if (c == closer) return;
  }
}

}  // namespace

void BracketScanStart(BracketScan* scan) {
  scan->Depth = 0;
  scan->Failed = false;
  scan->FailedOn = 0;
}

bool BracketScanAdvance(BracketScan* scan, const unsigned char* p, const unsigned char* end) {
  if (scan->Failed) return false;
  for (p = NextBracket(p, end); p < end; p = NextBracket(p + 1, end)) {
    char closer = CloserOf(*p);
    if (closer != 0) {
      if (scan->Depth == kMaxBracketDepth) {
        scan->Failed = true;
        scan->FailedOn = static_cast<char>(*p);
        return false;
      }
      scan->Expected[scan->Depth++] = closer;
    } else if (IsCloser(*p)) {
      if (scan->Depth > 0 && scan->Expected[scan->Depth - 1] == static_cast<char>(*p)) {
        --scan->Depth;
      } else {
        scan->Failed = true;
        scan->FailedOn = scan->Depth > 0 ? scan->Expected[scan->Depth - 1] : static_cast<char>(*p);
        return false;
      }
    }
  }
  return true;
}

int CheckBrackets(Run* run, const unsigned char* from, const unsigned char* to) {
  if (run->Options->NoBracketCheck) return 0;
  BracketScan scan;
  BracketScanStart(&scan);
  if (!BracketScanAdvance(&scan, from, to)) {
    return SetExitMessage(run, kBadDelimiters, "Unmatched delimiter '%c' bracket.\n",
                          scan.FailedOn);
  }
  if (scan.Depth != 0)
    return SetExitMessage(run, kBadDelimiters, "Unmatched delimiter brackets.\n");
  return 0;
}

int ParseDelimiter(Run* run, const char* text, Delimiter* out) {
  out->Length = 0;
  for (const char* p = text; *p != '\0' && out->Length < kDelimiterLength;) {
    if (*p != '\\') {
      out->Bytes[out->Length++] = static_cast<unsigned char>(*p++);
      continue;
    }
    ++p;
    if (*p == 'n' || *p == '\\') {
      out->Bytes[out->Length++] = *p == 'n' ? '\n' : '\\';
      ++p;
    } else if (*p >= '0' && *p <= '9') {
      int value = 0;
      for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= 255) value = value * 10 + (*p - '0');
      }
      if (value > 255) {
        return SetExitMessage(run, kBadDelimiters,
                              "Message delimiter character code must be between 0 and 255.\n");
      }
      out->Bytes[out->Length++] = static_cast<unsigned char>(value);
    } else {
      return SetExitMessage(run, kBadDelimiters,
                            "Unrecognised Message delimiter character code.\n");
    }
  }
  out->Bytes[out->Length] = '\0';
  return 0;
}

int CheckDelimiters(Run* run) {
  const RunOptions* o = run->Options;
  DelimitedFile* df = &run->Files.Delimited;
  if (o->Context != ContextMode::Default && o->Context != ContextMode::None) {
    return SetExitMessage(run, kBadDelimiters,
                          "A non-ZEPLO file should be loaded with either DEFAULT or NO context.\n");
  }
  bool messageDelimiter = o->MsgStartDelimiter[0] != '\0' || o->MsgEndDelimiter[0] != '\0';
  if (o->WholeFileOneMessage) {
    if (messageDelimiter) {
      return SetExitMessage(run, kBadDelimiters,
                            "Reading entire file does not require message delimiters.\n");
    }
    return 0;
  }
  if ((o->IncludeMsgDelimiters && o->ExcludeMsgDelimiters) ||
      (o->IncludePropDelimiters && o->ExcludePropDelimiters)) {
    return SetExitMessage(run, kBadDelimiters,
                          "You can not specify both 'include' and 'dont include' "
                          "message/property delimiters.\n");
  }
  int rc = ParseDelimiter(run, o->MsgStartDelimiter, &df->MsgStart);
  if (rc == 0) rc = ParseDelimiter(run, o->MsgEndDelimiter, &df->MsgEnd);
  bool properties = o->PropStartDelimiter[0] != '\0';
  df->PropStart.Length = df->PropEnd.Length = 0;
  if (rc == 0 && properties) rc = ParseDelimiter(run, o->PropStartDelimiter, &df->PropStart);
  if (rc == 0 && properties) rc = ParseDelimiter(run, o->PropEndDelimiter, &df->PropEnd);
  if (rc != 0) return rc;
  // No end delimiter (none given, or text that came out empty): lines.
  if (df->MsgEnd.Length == 0) SetLineFeed(&df->MsgEnd);
  if (properties && df->PropEnd.Length == 0) SetLineFeed(&df->PropEnd);
  // A start delimiter that came out empty ("\0" cannot: it is one byte)
  // is no start delimiter.
  properties = df->PropStart.Length > 0;

  if (Same(df->MsgStart, df->MsgEnd) && !o->AllowSameDelimiters)
    return SetExitMessage(run, kBadDelimiters, "Message delimiters are the same.\n");
  if (properties) {
    if (Same(df->PropStart, df->PropEnd) && !o->AllowSameDelimiters)
      return SetExitMessage(run, kBadDelimiters, "Property delimiters are the same.\n");
    if (Same(df->MsgStart, df->PropStart) ||
        (Same(df->MsgEnd, df->PropEnd) && !IsLineFeed(df->MsgEnd)) ||
        Same(df->MsgStart, df->PropEnd) || Same(df->MsgEnd, df->PropStart))
      return SetExitMessage(run, kBadDelimiters, "Message and Property delimiters are the same.\n");
    if (df->MsgStart.Length == 0) {
      return SetExitMessage(
          run, kBadDelimiters,
          "Can't use single line Message delimiters with a Property delimiter.\n");
    }
  }
  unsigned char all[4 * kDelimiterLength];
  size_t n = 0;
  for (const Delimiter* d : {&df->MsgStart, &df->MsgEnd, &df->PropStart, &df->PropEnd}) {
    memcpy(all + n, d->Bytes, static_cast<size_t>(d->Length));
    n += static_cast<size_t>(d->Length);
  }
  return CheckBrackets(run, all, all + n);
}

int32_t StripPropertyWhitespace(char* out, const char* text, int32_t length) {
  int32_t n = 0;
  int32_t kept = 0;  // out[0, kept) is tag or quoted text: never trimmed
  bool leading = true;  // at the start or just after a tag
  for (int32_t i = 0; i < length;) {
    char c = text[i];
    if (c == '<') {
      while (n > kept && IsLayoutBlank(out[n - 1])) --n;
      CopyThrough(text, length, '>', &i, out, &n);
      kept = n;
      leading = true;
    } else if (c == '"' || c == '\'') {
      CopyThrough(text, length, c, &i, out, &n);
      kept = n;
      leading = false;
    } else if (IsLayoutBlank(c)) {
      if (!leading) out[n++] = c;
      ++i;
    } else {
      out[n++] = c;
      ++i;
      leading = false;
    }
  }
  return n;
}
