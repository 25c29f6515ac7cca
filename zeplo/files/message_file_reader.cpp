// The message file reader: one message per call, from its A (or N) lines
// through its X, S and T data lines, into the MessageBuffer.
//
// The descriptor keys are looked up in MessageAttributeTable, the same
// rows the writer walks, so a key the writer knows is never unknown here.
// Data is appended straight into the message storage: the storage is made
// to hold the data so far plus the whole line first, which is always
// enough (an X line gives at most half its length, S and T lines at most
// their length), so the decoders below never check room byte by byte.
#include <cstdint>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

constexpr int64_t kStorageUnit = 4096;
// The largest multiple of kStorageUnit a 32-bit capacity can hold.
constexpr int64_t kMaxStorage = (INT32_MAX / kStorageUnit) * kStorageUnit;

// Digit values; -1 for a character that is not a hex digit.
struct HexTable {
  int8_t Value[256];
  constexpr HexTable() : Value() {
    for (int i = 0; i < 256; ++i) Value[i] = -1;
    for (int i = 0; i < 10; ++i) Value['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
      Value['A' + i] = static_cast<int8_t>(10 + i);
      Value['a' + i] = static_cast<int8_t>(10 + i);
    }
  }
};
constexpr HexTable kHex;

inline int HexDigit(char c) { return kHex.Value[static_cast<unsigned char>(c)]; }

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

int64_t LineNumberOf(const RunOptions* opts) {
  return opts->InputLines != nullptr ? opts->InputLines->LineNumber : 0;
}

int FileFormatError(RunOptions* opts, const char* format) {
  opts->Message.DataLength = 0;
  return SetReaderError(opts, MQRC_FILE_SYSTEM_ERROR, format,
                        static_cast<long>(LineNumberOf(opts)), ReaderFileName(opts));
}

// Appends the text of an S line (its first column already skipped).
int AppendStringLine(RunOptions* opts, const char* p, const char* end, unsigned char* out,
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
            opts, "Invalid string line - no terminating \" symbol on line %ld of file '%s'");
      }
      if (*p == '"') break;  // anything after the closing quote is ignored
      if (p[1] != '"' && p[1] != '~') {
        return FileFormatError(opts, "Unexpected escape sequence on line %ld of file '%s'");
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
int AppendDataLine(RunOptions* opts, const LineStorage* ls) {
  MessageBuffer& m = opts->Message;
  int rc = EnsureMessageStorage(opts, static_cast<int64_t>(m.DataLength) + ls->Length);
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
      rc = ParseHex(opts, p, end, out, &added, false);
      break;
    default:
      rc = AppendStringLine(opts, p, end, out, &added);
      break;
  }
  if (rc != 0) {
    m.DataLength = 0;
    return rc;
  }
  m.DataLength += static_cast<int32_t>(added);
  return 0;
}

// Files the writer made list their keys in table order, so the row after
// the last match is tried before the whole table is searched.
const MessageAttribute* LookUpKey(const char* key, int32_t* next) {
  while (*next < MessageAttributeCount && MessageAttributeTable[*next].Key[0] == '\0') ++*next;
  if (*next < MessageAttributeCount &&
      std::memcmp(MessageAttributeTable[*next].Key, key, 3) == 0) {
    return &MessageAttributeTable[(*next)++];
  }
  const MessageAttribute* row = FindAttributeByKey(key);
  if (row != nullptr) *next = static_cast<int32_t>(row - MessageAttributeTable) + 1;
  return row;
}

bool IsDataLine(const LineStorage* ls) {
  return ls->Length > 0 && (ls->Text[0] == 'X' || ls->Text[0] == 'S' || ls->Text[0] == 'T');
}

}  // namespace

int64_t MessageStorageTarget(int64_t needed) {
  if (needed < 0 || needed > kMaxStorage) return -1;
  if (needed > kMaxStorage / 4) return kMaxStorage;
  return needed * 4;
}

int EnsureMessageStorage(RunOptions* opts, int64_t needed) {
  MessageBuffer& m = opts->Message;
  if (m.Storage != nullptr && needed <= m.Capacity) return 0;
  int64_t target = MessageStorageTarget(needed < 1 ? 1 : needed);
  int64_t capacity = target < 0 ? (needed + kStorageUnit - 1) / kStorageUnit * kStorageUnit
                                : (target + kStorageUnit - 1) / kStorageUnit * kStorageUnit;
  if (opts->MemoryTrace) {
    std::fprintf(stderr, "Allocating %lld bytes\n", static_cast<long long>(capacity));
  }
  void* block = target < 0 ? nullptr : CSGetMem(static_cast<size_t>(capacity), "Message Storage");
  if (opts->MemoryTrace) {
    if (block != nullptr) {
      std::fprintf(stderr, "Allocation success %p\n", block);
    } else {
      std::fprintf(stderr, "Allocation failed!\n");
    }
  }
  if (block == nullptr) {
    return SetReaderError(opts, MQRC_STORAGE_NOT_AVAILABLE,
                          "Unable to allocate %lld bytes message storage",
                          static_cast<long long>(capacity));
  }
  if (m.Storage != nullptr) {
    // Only the data read so far is worth keeping; the rest of the old
    // block is stale.
    int64_t keep = m.DataLength > 0 && m.DataLength <= m.Capacity ? m.DataLength : 0;
    std::memcpy(block, m.Storage, static_cast<size_t>(keep));
    if (opts->MemoryTrace) std::fprintf(stderr, "Freeing %p\n", static_cast<void*>(m.Storage));
    CSFreeMem(m.Storage);
  }
  m.Storage = static_cast<unsigned char*>(block);
  m.Capacity = static_cast<int32_t>(capacity);
  m.Cursor = m.Storage;
  return 0;
}

int ParseHex(RunOptions* opts, const char* text, const char* end, unsigned char* out,
             int64_t* count, bool skipBlanks) {
  int64_t limit = *count;
  int64_t n = 0;
  const char* p = text;
  if (!skipBlanks && limit < 0) {
    // The X line case: one run of pairs, no blanks, no limit.
    while (end - p >= 2) {
      int high = HexDigit(p[0]);
      int low = HexDigit(p[1]);
      if ((high | low) < 0) break;
      out[n++] = static_cast<unsigned char>(high << 4 | low);
      p += 2;
    }
  }
  while (limit < 0 || n < limit) {
    if (skipBlanks) {
      while (p < end && *p == ' ') ++p;
    }
    if (p >= end) break;
    int high = HexDigit(p[0]);
    if (high < 0) break;
    int low = p + 1 < end ? HexDigit(p[1]) : -1;
    if (low < 0) {
      *count = n;
      return SetReaderError(opts, MQRC_FILE_SYSTEM_ERROR,
                            "Badly formed HEX string on line %lld of file '%s'",
                            static_cast<long long>(LineNumberOf(opts)), ReaderFileName(opts));
    }
    out[n++] = static_cast<unsigned char>(high << 4 | low);
    p += 2;
  }
  *count = n;
  return 0;
}

int StoreAttributeValue(RunOptions* opts, MQMD* md, const MessageAttribute* row,
                        const char* value, const char* end) {
  // A row that points outside the descriptor would write past it.
  if (row->Offset < 0 || row->Width < 0 ||
      static_cast<size_t>(row->Offset) + static_cast<size_t>(row->Width) > sizeof(MQMD) ||
      (row->Kind == kAttributeNumber && row->Width != 4)) {
    return SetReaderError(opts, MQRC_UNEXPECTED_ERROR,
                          "Internal Eror:Unrecognised attribute type %d on line %ld of file '%s'",
                          static_cast<int>(row->Kind), static_cast<long>(LineNumberOf(opts)),
                          ReaderFileName(opts));
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
      return ParseHex(opts, value, end, field, &count, false);
    }
  }
  return SetReaderError(opts, MQRC_UNEXPECTED_ERROR,
                        "Internal Eror:Unrecognised attribute type %d on line %ld of file '%s'",
                        static_cast<int>(row->Kind), static_cast<long>(LineNumberOf(opts)),
                        ReaderFileName(opts));
}

int ReadFileMessage(RunOptions* opts, bool* endOfFile) {
  MessageBuffer& m = opts->Message;
  *endOfFile = false;
  m.Descriptor = &m.OwnDescriptor;
  ResetDescriptorDefaults(&m.OwnDescriptor);
  m.DataLength = 0;
  m.Cursor = m.Storage;

  bool eof = false;
  int rc = ReadLine(opts, false, &eof, false);
  if (rc != 0) return rc;
  if (eof) {
    *endOfFile = true;
    return 0;
  }
  const LineStorage* ls = opts->InputLines;
  if (ls->Text[0] != 'A' && ls->Text[0] != 'N') {
    return FileFormatError(opts, "Expected message attribute at line % ld of file '%s'");
  }
  if (ls->Text[0] == 'N') {
    // No descriptor was stored; A lines may still follow.
    rc = ReadLine(opts, true, &eof, false);
    if (rc != 0) return rc;
  }
  int32_t nextRow = 0;
  while (!eof && ls->Text[0] == 'A') {
    if (ls->Length < 5) {
      return FileFormatError(opts, "Invalid attribute line on line %ld of file '%s'");
    }
    const MessageAttribute* row = LookUpKey(ls->Text + 2, &nextRow);
    if (row == nullptr) {
      return FileFormatError(opts, "Unrecognised attribute on line %ld of file '%s'");
    }
    // The value starts in column 7; the key alone leaves the default.
    if (ls->Length > 6) {
      rc = StoreAttributeValue(opts, &m.OwnDescriptor, row, ls->Text + 6,
                               ls->Text + ls->Length);
      if (rc != 0) {
        m.DataLength = 0;
        return rc;
      }
    }
    rc = ReadLine(opts, true, &eof, false);
    if (rc != 0) return rc;
  }
  if (eof || !IsDataLine(ls)) {
    return FileFormatError(opts, "Expected message at line %ld of file '%s'");
  }
  while (!eof && IsDataLine(ls)) {
    rc = AppendDataLine(opts, ls);
    if (rc != 0) return rc;
    rc = ReadLine(opts, true, &eof, false);
    if (rc != 0) {
      m.DataLength = 0;
      return rc;
    }
  }
  m.Cursor = m.Storage;
  return 0;
}

int ReadMessageFileMessage(RunOptions* opts) {
  bool eof = false;
  int rc = ReadFileMessage(opts, &eof);
  if (rc == 0 && eof) opts->StopRequested = true;
  return rc;
}

void ResetDescriptorDefaults(MQMD* descriptor) {
  static const MQMD kDefault = {MQMD_DEFAULT};
  *descriptor = kDefault;
  descriptor->Version = MQMD_VERSION_2;
}
