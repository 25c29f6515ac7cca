// The message file reader: one message per call, from its A (or N) lines
// through its X, S and T data lines, into the MessageBuffer.
//
// The descriptor keys are looked up in MessageAttributeTable, the same
// rows the writer walks, so a key the writer knows is never unknown here;
// the lookup is one hash probe, as every message repeats some 28 of them.
// Data is appended straight into the message storage: the storage is made
// to hold the data so far plus the whole line first, which is always
// enough (an X line gives at most half its length, S and T lines at most
// their length), so the decoders below never check room byte by byte.
#include <cstdint>
#include <cstring>

#include "zeplo/files/files.h"
#include "zeplo/util/util.h"
#include "zeplo/util/banned.h"

namespace {

// Digit values; kNotHex (a bit no digit has) for any other character.
// Worked out once per character, so that the pair table below costs the
// compiler a lookup per entry (its constant-evaluation budget is finite).
constexpr uint8_t kNotHex = 0x10;
struct DigitTable {
  uint8_t Value[256];
  constexpr DigitTable() : Value() {
    for (int c = 0; c < 256; ++c) {
      int value = HexDigitValue(c);
      Value[c] = value < 0 ? kNotHex : static_cast<uint8_t>(value);
    }
  }
};
constexpr DigitTable kDigits;

// The byte of every pair of characters, indexed by first | second << 8;
// kNotAPair where either is not a digit. One lookup decodes a pair, and
// the OR of several lookups tells at once whether all were pairs.
constexpr uint16_t kNotAPair = 0x100;
struct PairTable {
  uint16_t Value[256 * 256];
  constexpr PairTable() : Value() {
    for (int first = 0; first < 256; ++first) {
      for (int second = 0; second < 256; ++second) {
        uint8_t high = kDigits.Value[first];
        uint8_t low = kDigits.Value[second];
        Value[first | second << 8] =
            (high | low) & kNotHex ? kNotAPair : static_cast<uint16_t>(high << 4 | low);
      }
    }
  }
};
constexpr PairTable kPairs;

inline unsigned PairValue(const char* p) {
  return kPairs.Value[static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8];
}
inline bool IsHexDigit(char c) { return kDigits.Value[static_cast<unsigned char>(c)] != kNotHex; }

// Decodes whole pairs of digits from `p` into `out`, at most `limit`, up to
// the first pair that is not two digits. Returns the pairs decoded; `out`
// beyond them is untouched.
int64_t DecodePairs(const char* p, const char* end, unsigned char* out, int64_t limit) {
  int64_t pairs = (end - p) / 2;
  if (pairs > limit) pairs = limit;
  int64_t n = 0;
  // Eight pairs at a time with one check; a group holding a non-pair is
  // left to the pair-by-pair loop, which stops at the right place.
  while (pairs - n >= 8) {
    unsigned char group[8];
    unsigned seen = 0;
    for (int i = 0; i < 8; ++i) {
      unsigned value = PairValue(p + 2 * i);
      seen |= value;
      group[i] = static_cast<unsigned char>(value);
    }
    if (seen & kNotAPair) break;
    std::memcpy(out + n, group, sizeof group);
    n += 8;
    p += 16;
  }
  for (; n < pairs; ++n, p += 2) {
    unsigned value = PairValue(p);
    if (value & kNotAPair) break;
    out[n] = static_cast<unsigned char>(value);
  }
  return n;
}

// A signed decimal the way atoi reads one: leading white space, a sign,
// digits up to the first other character; no digits give 0. Values beyond
// 32 bits saturate instead of being undefined.
int32_t ReadNumber(const char* p, const char* end) {
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int64_t value = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    if (value <= INT64_C(1) << 32) value = value * 10 + (*p - '0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// The first `c` in [p, end), or end.
const char* FindByte(const char* p, const char* end, char c) {
  const void* at = std::memchr(p, c, static_cast<size_t>(end - p));
  return at != nullptr ? static_cast<const char*>(at) : end;
}

int64_t LineNumberOf(const Run* run) {
  return run->Files.InputLines != nullptr ? run->Files.InputLines->LineNumber : 0;
}

int FileFormatError(Run* run, const char* format) {
  run->Message.DataLength = 0;
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, format, static_cast<long>(LineNumberOf(run)),
                       ReaderFileName(run));
}

// Appends the text of an S line (its first column already skipped).
int AppendStringLine(Run* run, const char* p, const char* end, unsigned char* out,
                     int64_t* added) {
  unsigned char* start = out;
  while (p < end && *p == ' ') ++p;
  if (p < end && *p == '"') {
    ++p;
    // The next quote and the next tilde, each found once with memchr and
    // looked for again only when passed, so a line costs one pass however
    // many escapes it holds.
    const char* quote = p;
    const char* tilde = p;
    for (;;) {
      if (quote < p) quote = p;
      if (quote < end && *quote != '"') quote = FindByte(quote, end, '"');
      if (tilde < p) tilde = p;
      if (tilde < end && *tilde != '~') tilde = FindByte(tilde, end, '~');
      const char* q = quote < tilde ? quote : tilde;
      std::memcpy(out, p, static_cast<size_t>(q - p));
      out += q - p;
      p = q;
      if (p == end || (*p == '~' && p + 1 == end)) {
        return FileFormatError(
            run, "Invalid string line - no terminating \" symbol on line %ld of file '%s'");
      }
      if (*p == '"') break;  // anything after the closing quote is ignored
      if (p[1] != '"' && p[1] != '~') {
        return FileFormatError(run, "Unexpected escape sequence on line %ld of file '%s'");
      }
      *out++ = static_cast<unsigned char>(p[1]);
      p += 2;
    }
  } else {
    const char* q = end;
    while (q > p && q[-1] == ' ') --q;
    std::memcpy(out, p, static_cast<size_t>(q - p));
    out += q - p;
  }
  *added = out - start;
  return 0;
}

// Appends the current data line (X, S or T) to the message.
int AppendDataLine(Run* run, const LineStorage* ls) {
  MessageBuffer& m = run->Message;
  int rc = EnsureMessageStorage(run, static_cast<int64_t>(m.DataLength) + ls->Length);
  if (rc != 0) {
    m.DataLength = 0;
    return rc;
  }
  unsigned char* out = m.Storage + m.DataLength;
  const char* p = ls->Text + 1;
  const char* end = ls->Text + ls->Length;
  int64_t added = 0;
  switch (ls->Text[0]) {
    case 'T':
      // Two columns of kind and blank, then the text as it is. A bare "T"
      // has no text at all, not a negative amount of it.
      if (ls->Length > 2) {
        added = ls->Length - 2;
        std::memcpy(out, ls->Text + 2, static_cast<size_t>(added));
      }
      out[added++] = '\n';
      break;
    case 'X':
      while (p < end && *p == ' ') ++p;
      added = -1;
      rc = ParseHex(run, p, end, out, &added, false);
      break;
    default:
      rc = AppendStringLine(run, p, end, out, &added);
      break;
  }
  if (rc != 0) {
    m.DataLength = 0;
    return rc;
  }
  m.DataLength += static_cast<int32_t>(added);
  return 0;
}

// A text field of a marked file: the value, cut at the field's width, then
// NULs to its end.
void StoreTextUpToNuls(MQMD* md, const MessageAttribute* row, const char* value, const char* end) {
  unsigned char* field = reinterpret_cast<unsigned char*>(md) + row->Offset;
  size_t width = static_cast<size_t>(row->Width);
  size_t copy = static_cast<size_t>(end - value) < width ? static_cast<size_t>(end - value) : width;
  std::memcpy(field, value, copy);
  std::memset(field + copy, 0, width - copy);
}

bool IsDataLine(const LineStorage* ls) {
  return ls->Length > 0 && (ls->Text[0] == 'X' || ls->Text[0] == 'S' || ls->Text[0] == 'T');
}

}  // namespace

int ParseHex(Run* run, const char* text, const char* end, unsigned char* out,
             int64_t* count, bool skipBlanks) {
  const int64_t limit = *count < 0 ? INT64_MAX : *count;
  int64_t n = 0;
  const char* p = text;
  for (;;) {
    if (skipBlanks) {
      while (p < end && *p == ' ') ++p;
    }
    int64_t k = DecodePairs(p, end, out + n, limit - n);
    n += k;
    p += 2 * k;
    if (n >= limit || p >= end) break;
    if (skipBlanks && *p == ' ') continue;
    if (!IsHexDigit(*p)) break;  // cannot start a pair: the digits end here
    // A first digit whose second is missing or not a digit.
    *count = n;
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                         "Badly formed HEX string on line %lld of file '%s'",
                         static_cast<long long>(LineNumberOf(run)), ReaderFileName(run));
  }
  *count = n;
  return 0;
}

int StoreAttributeValue(Run* run, MQMD* md, const MessageAttribute* row, const char* value,
                        const char* end) {
  // A row that points outside the descriptor would write past it.
  if (row->Offset < 0 || row->Width < 0 ||
      static_cast<size_t>(row->Offset) + static_cast<size_t>(row->Width) > sizeof(MQMD) ||
      (row->Kind == kAttributeNumber && row->Width != 4)) {
    return SetExitMessage(run, MQRC_UNEXPECTED_ERROR,
                         "Internal Eror:Unrecognised attribute type %d on line %ld of file '%s'",
                         static_cast<int>(row->Kind), static_cast<long>(LineNumberOf(run)),
                         ReaderFileName(run));
  }
  unsigned char* field = reinterpret_cast<unsigned char*>(md) + row->Offset;
  int64_t length = end - value;
  switch (row->Kind) {
    case kAttributeNumber: {
      int32_t number = ReadNumber(value, end);
      std::memcpy(field, &number, sizeof number);
      return 0;
    }
    case kAttributeText: {
      int64_t copy = length < row->Width ? length : row->Width;
      std::memcpy(field, value, static_cast<size_t>(copy));
      std::memset(field + copy, ' ', static_cast<size_t>(row->Width - copy));
      return 0;
    }
    case kAttributeBytes: {
      int64_t count = length / 2 < row->Width ? length / 2 : row->Width;
      return ParseHex(run, value, end, field, &count, false);
    }
  }
  return SetExitMessage(run, MQRC_UNEXPECTED_ERROR,
                       "Internal Eror:Unrecognised attribute type %d on line %ld of file '%s'",
                       static_cast<int>(row->Kind), static_cast<long>(LineNumberOf(run)),
                       ReaderFileName(run));
}

int ReadFileMessage(Run* run, bool* endOfFile) {
  MessageBuffer& m = run->Message;
  *endOfFile = false;
  StartMessage(&m);

  bool eof = false;
  int rc = ReadLine(run, false, &eof, false);
  if (rc != 0) return rc;
  LineStorage* ls = run->Files.InputLines;
  if (eof) {
    if (ls->Marked && !ls->EndSeen) return RefuseCutFile(run, false);
    *endOfFile = true;
    return 0;
  }
  if (ls->Text[0] != 'A' && ls->Text[0] != 'N') {
    return FileFormatError(run, "Expected message attribute at line % ld of file '%s'");
  }
  // An end line with messages after it was not the end.
  ls->EndSeen = false;
  ls->MessageOpen = true;
  if (ls->Text[0] == 'N') {
    // No descriptor was stored; A lines may still follow.
    rc = ReadLine(run, true, &eof, false);
    if (rc != 0) return rc;
  }
  while (!eof && ls->Text[0] == 'A') {
    if (ls->Length < 5) {
      return FileFormatError(run, "Invalid attribute line on line %ld of file '%s'");
    }
    const MessageAttribute* row = FindAttributeByKey(ls->Text + 2);
    if (row == nullptr) {
      return FileFormatError(run, "Unrecognised attribute on line %ld of file '%s'");
    }
    // The value starts in column 7; the key alone leaves the default.
    // A marked file writes a text field up to its first NUL and only NULs
    // follow it there (the escaped form takes every other field), so the
    // rest of the field is NULs again; older files meant blanks.
    const char* end = ls->Text + ls->Length;
    if (ls->Marked && row->Kind == kAttributeText) {
      StoreTextUpToNuls(&m.OwnDescriptor, row, ls->Length > 6 ? ls->Text + 6 : end, end);
    } else if (ls->Length > 6) {
      rc = StoreAttributeValue(run, &m.OwnDescriptor, row, ls->Text + 6, end);
      if (rc != 0) {
        m.DataLength = 0;
        return rc;
      }
    }
    rc = ReadLine(run, true, &eof, false);
    if (rc != 0) return rc;
  }
  if (eof && ls->Marked) return RefuseCutFile(run, true);
  if (eof || !IsDataLine(ls)) {
    return FileFormatError(run, "Expected message at line %ld of file '%s'");
  }
  while (!eof && IsDataLine(ls)) {
    rc = AppendDataLine(run, ls);
    if (rc != 0) return rc;
    rc = ReadLine(run, true, &eof, false);
    if (rc != 0) {
      m.DataLength = 0;
      return rc;
    }
  }
  // Its data ended at the end of the file: whole only when the end line
  // came first.
  if (eof && ls->Marked && !ls->EndSeen) return RefuseCutFile(run, true);
  ++ls->MessagesRead;
  ls->MessageOpen = false;
  m.Cursor = m.Storage;
  return 0;
}

int ReadMessageFileMessage(Run* run) {
  bool eof = false;
  int rc = ReadFileMessage(run, &eof);
  if (rc == 0 && eof) run->StopRequested = true;
  return rc;
}

int ReadInputFileMessage(Run* run) {
  const LineStorage* ls = run->Files.InputLines;
  if (ls != nullptr && ls->ListingMode) return ReadBrowseListingMessage(run);
  return ReadMessageFileMessage(run);
}
