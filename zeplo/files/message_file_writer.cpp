// The message file writer: the header block and one section per message.
//
// Every section is formatted into one process-wide chunk buffer and handed
// to the stream in as few writes as possible: a chunk goes out when it is
// full and at the end of the section, each time followed by a flush, so a
// message counts as written only once all its bytes have reached the
// system. Formatting never needs more room than the chunk: every append
// helper splits its work at the chunk's end, so wide -dw values or huge
// messages cost no extra memory.
//
// A failed write is reported with the text of the line kind the failing
// chunk began in: header, index, A, N and X lines give "Can not write to
// file '%s'", S, T and raw data add " RC(%d)" with the system error.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"
#include "zeplo/util/util.h"

namespace {

enum LineKind { kPlainLine, kErrnoLine };

constexpr size_t kChunkSize = 64 * 1024;

struct ChunkWriter {
  FILE* Stream;
  size_t Used;
  uint64_t Total;  // bytes handed to the stream for this call
  bool Failed;
  int Errno;
  LineKind ChunkKind;    // kind of the line the unsent bytes began in
  LineKind CurrentKind;  // kind of the line being formatted
  LineKind FailedKind;
  char Data[kChunkSize];
};

// One chunk for the process, deliberately not in the Run: 64 KB that the
// Run would otherwise carry into every copy made of it (a generic run's
// per-queue runs, a rescue's private copy). The writer is never entered
// twice at once: consumer callbacks write only while they hold the run's
// event mutex, and a rescue writes after the failed write has returned.
ChunkWriter gOut;

// "0123...EF" pairs for every byte value: one 2-byte copy per byte.
struct HexPairs {
  char Pair[256][2];
  constexpr HexPairs() : Pair() {
    const char* digits = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
      Pair[i][0] = digits[i >> 4];
      Pair[i][1] = digits[i & 15];
    }
  }
};
constexpr HexPairs kHex;

// Byte classes of the string-run layouts.
enum ByteClass : unsigned char {
  kPrintable = 1,  // 0x20 - 0x7E
  kAsciiSafe = 2,  // letters, digits and " *'()<>+,-./:=?_"
  kUnescaped = 4,  // everything but '"' and '~', which an S line escapes
};
struct ByteClasses {
  unsigned char Class[256];
  constexpr ByteClasses() : Class() {
    const char* extra = " *'()<>+,-./:=?_";
    for (int c = 0; c < 256; ++c) Class[c] = kUnescaped;
    Class[static_cast<unsigned char>('"')] = 0;
    Class[static_cast<unsigned char>('~')] = 0;
    for (int c = 0x20; c <= 0x7E; ++c) {
      Class[c] |= kPrintable;
      bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      for (const char* e = extra; *e != '\0'; ++e) {
        if (*e == c) alnum = true;
      }
      if (alnum) Class[c] |= kAsciiSafe;
    }
  }
};
constexpr ByteClasses kClasses;

void Begin(FILE* stream) {
  gOut.Stream = stream;
  gOut.Used = 0;
  gOut.Total = 0;
  gOut.Failed = false;
  gOut.Errno = 0;
  gOut.ChunkKind = kPlainLine;
  gOut.CurrentKind = kPlainLine;
}

// Sends the unsent bytes and flushes the stream. After a failure nothing
// more is sent; the formatting that follows only fills the chunk again.
// The next chunk begins inside the line being formatted.
void SendChunk() {
  LineKind sentKind = gOut.ChunkKind;
  gOut.ChunkKind = gOut.CurrentKind;
  if (gOut.Failed || gOut.Used == 0) {
    gOut.Used = 0;
    return;
  }
  errno = 0;
  size_t sent = std::fwrite(gOut.Data, 1, gOut.Used, gOut.Stream);
  if (sent != gOut.Used || std::fflush(gOut.Stream) != 0) {
    gOut.Failed = true;
    gOut.Errno = errno;
    gOut.FailedKind = sentKind;
  } else {
    gOut.Total += sent;
  }
  gOut.Used = 0;
}

// Marks the start of a line of `kind`.
inline void StartLine(LineKind kind) {
  gOut.CurrentKind = kind;
  if (gOut.Used == 0) gOut.ChunkKind = kind;
}

// Room for `n` more bytes (n <= kChunkSize), sending the chunk if needed.
inline char* Room(size_t n) {
  if (kChunkSize - gOut.Used < n) SendChunk();
  return gOut.Data + gOut.Used;
}

void AppendText(const char* text, size_t n) {
  char* p = Room(n);
  std::memcpy(p, text, n);
  gOut.Used += n;
}

void AppendLiteral(const char* text) { AppendText(text, std::strlen(text)); }

void AppendChar(char c) {
  *Room(1) = c;
  ++gOut.Used;
}

// Appends `n` items of `unit` output bytes each, as many per chunk as
// fit: `put(out, first, count)` formats items [first, first + count) at
// `out`. The chunk is sent whenever it is full, so any `n` works.
template <typename Put>
void AppendSplit(uint64_t n, size_t unit, Put put) {
  uint64_t done = 0;
  while (done < n) {
    size_t room = (kChunkSize - gOut.Used) / unit;
    if (room == 0) {
      SendChunk();
      room = kChunkSize / unit;
    }
    size_t k = n - done < room ? static_cast<size_t>(n - done) : room;
    put(gOut.Data + gOut.Used, done, k);
    gOut.Used += k * unit;
    done += k;
  }
}

void AppendBytes(const unsigned char* p, uint64_t n) {
  AppendSplit(n, 1, [p](char* out, uint64_t first, size_t k) { std::memcpy(out, p + first, k); });
}

void AppendFill(char c, uint64_t n) {
  AppendSplit(n, 1, [c](char* out, uint64_t, size_t k) { std::memset(out, c, k); });
}

// Two digits per byte at `out`; returns the end of them. Four bytes'
// digits are gathered and stored as one word: a store per byte pair was
// the loop's bottleneck.
inline char* PutHex(char* out, const unsigned char* p, uint64_t n) {
  uint64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    char digits[8];
    for (int j = 0; j < 4; ++j) std::memcpy(digits + 2 * j, kHex.Pair[p[i + j]], 2);
    std::memcpy(out + 2 * i, digits, sizeof digits);
  }
  for (; i < n; ++i) std::memcpy(out + 2 * i, kHex.Pair[p[i]], 2);
  return out + 2 * n;
}

void AppendHex(const unsigned char* p, uint64_t n) {
  AppendSplit(n, 2, [p](char* out, uint64_t first, size_t k) { PutHex(out, p + first, k); });
}

// The ASCII column of -da: printable bytes as themselves, others as '.'.
// A table rather than a test, as binary data would make the test's
// branch a coin toss per byte.
struct ColumnChars {
  char Char[256];
  constexpr ColumnChars() : Char() {
    for (int c = 0; c < 256; ++c) Char[c] = c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '.';
  }
};
constexpr ColumnChars kColumn;

inline char ColumnChar(unsigned char c) { return kColumn.Char[c]; }

void AppendColumn(const unsigned char* p, uint64_t n) {
  AppendSplit(n, 1, [p](char* out, uint64_t first, size_t k) {
    for (size_t i = 0; i < k; ++i) out[i] = ColumnChar(p[first + i]);
  });
}

// Decimal of a signed 32-bit value, without the locale or format parsing.
void AppendNumber(int32_t value) {
  char digits[12];
  int n = 0;
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  char* p = Room(13);
  size_t used = 0;
  if (negative) p[used++] = '-';
  while (n > 0) p[used++] = digits[--n];
  gOut.Used += used;
}

const char* OutputName(const Run* run) {
  return run->Files.CurrentOutputFile[0] != '\0' ? run->Files.CurrentOutputFile : run->Options->OutputFile;
}

// Ends a call: sends what is left and turns a failure into its code.
int Finish(Run* run) {
  SendChunk();
  run->Files.OutputFilePosition += static_cast<int64_t>(gOut.Total);
  if (!gOut.Failed) return 0;
  if (gOut.FailedKind == kErrnoLine) {
    return SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Can not write to file '%s' RC(%d)",
                         OutputName(run), gOut.Errno);
  }
  return SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Can not write to file '%s'", OutputName(run));
}

// ---- Line kinds ------------------------------------------------------------

// Room for a whole line of `n` bytes in the chunk, sending the chunk first
// when needed; null when the line is larger than a chunk (the caller then
// uses the splitting helpers).
inline char* Reserve(uint64_t n) {
  if (n > kChunkSize) return nullptr;
  if (kChunkSize - gOut.Used < n) SendChunk();
  return gOut.Data + gOut.Used;
}

void WriteHexLines(const Run* run, const unsigned char* p, uint64_t n) {
  const uint64_t width = static_cast<uint64_t>(EffectiveDataWidth(run->Options->DataWidth));
  const bool columns = run->Options->AsciiColumns;
  if (n == 0) {
    StartLine(kPlainLine);
    AppendText("X \n", 3);
    return;
  }
  while (n > 0) {
    uint64_t k = n < width ? n : width;
    // The column starts at the same place on every line: 2 blanks after a
    // full line, 2 more for every byte a short line lacks.
    uint64_t pad = 2 * (width - k + 1);
    uint64_t size = 2 + 2 * k + 1 + (columns ? pad + 2 + k : 0);
    StartLine(kPlainLine);
    if (char* out = Reserve(size)) {
      out[0] = 'X';
      out[1] = ' ';
      out = PutHex(out + 2, p, k);
      if (columns) {
        std::memset(out, ' ', pad);
        out += pad;
        *out++ = '<';
        for (uint64_t i = 0; i < k; ++i) *out++ = ColumnChar(p[i]);
        *out++ = '>';
      }
      *out = '\n';
      gOut.Used += size;
    } else {
      AppendText("X ", 2);
      AppendHex(p, k);
      if (columns) {
        AppendFill(' ', pad);
        AppendChar('<');
        AppendColumn(p, k);
        AppendChar('>');
      }
      AppendChar('\n');
    }
    p += k;
    n -= k;
  }
}

// S lines carry 2 x (width - 1) data bytes each; escapes do not count.
// `unescaped`: the run holds no '"' or '~', so each line is copied whole.
void WriteStringLines(const Run* run, const unsigned char* p, uint64_t n, bool unescaped) {
  const uint64_t capacity = 2 * (static_cast<uint64_t>(EffectiveDataWidth(run->Options->DataWidth)) - 1);
  if (n == 0) {
    StartLine(kErrnoLine);
    AppendText("S \n", 3);
    return;
  }
  while (n > 0) {
    uint64_t k = n < capacity ? n : capacity;
    const unsigned char* end = p + k;
    StartLine(kErrnoLine);
    // Worst case every byte takes a tilde.
    char* start = Reserve(unescaped ? 5 + k : 5 + 2 * k);
    if (start != nullptr) {
      char* out = start;
      *out++ = 'S';
      *out++ = ' ';
      *out++ = '"';
      if (unescaped) {
        std::memcpy(out, p, k);
        out += k;
        p = end;
      }
      for (; p < end; ++p) {
        if (*p == '"' || *p == '~') *out++ = '~';
        *out++ = static_cast<char>(*p);
      }
      *out++ = '"';
      *out++ = '\n';
      gOut.Used += static_cast<size_t>(out - start);
    } else {
      AppendText("S \"", 3);
      while (p < end) {
        // Copy the stretch up to the next byte that needs a tilde in one go.
        const unsigned char* q = p;
        while (q < end && (kClasses.Class[*q] & kUnescaped)) ++q;
        AppendBytes(p, static_cast<uint64_t>(q - p));
        if (q < end) {
          char escaped[2] = {'~', static_cast<char>(*q)};
          AppendText(escaped, 2);
          ++q;
        }
        p = q;
      }
      AppendText("\"\n", 2);
    }
    n -= k;
  }
}

// The end of the run from `pos` of bytes whose class has `wanted`; the AND
// of their classes goes into *common (so kUnescaped there means no byte of
// the run needs a tilde). Eight bytes are looked at per step while all
// eight belong; the step that holds the run's end is done byte by byte.
uint64_t RunEnd(const unsigned char* data, uint64_t pos, uint64_t length, unsigned char wanted,
                unsigned char* common) {
  const unsigned char* c = kClasses.Class;
  unsigned char all = 0xFF;
  while (length - pos >= 8) {
    const unsigned char* d = data + pos;
    unsigned char group =
        c[d[0]] & c[d[1]] & c[d[2]] & c[d[3]] & c[d[4]] & c[d[5]] & c[d[6]] & c[d[7]];
    if (!(group & wanted)) break;
    all &= group;
    pos += 8;
  }
  for (; pos < length && (c[data[pos]] & wanted); ++pos) all &= c[data[pos]];
  *common = all;
  return pos;
}

// The end of the run from `pos` of bytes whose class lacks `wanted`.
uint64_t OtherRunEnd(const unsigned char* data, uint64_t pos, uint64_t length,
                     unsigned char wanted) {
  while (pos < length && !(kClasses.Class[data[pos]] & wanted)) ++pos;
  return pos;
}

void WriteTextLine(const unsigned char* p, uint64_t n) {
  StartLine(kErrnoLine);
  AppendText("T ", 2);
  AppendBytes(p, n);
  AppendChar('\n');
}

// String runs and hexadecimal runs in turn; the first line is always S.
void WriteAlternatingRuns(const Run* run, const unsigned char* data, uint64_t length,
                          unsigned char safeClass) {
  uint64_t pos = 0;
  bool first = true;
  for (;;) {
    uint64_t start = pos;
    unsigned char common;
    pos = RunEnd(data, pos, length, safeClass, &common);
    if (pos > start || first) {
      WriteStringLines(run, data + start, pos - start, (common & kUnescaped) != 0);
    }
    first = false;
    if (pos == length) return;
    start = pos;
    pos = OtherRunEnd(data, pos, length, safeClass);
    WriteHexLines(run, data + start, pos - start);
    if (pos == length) return;
  }
}

// One T line per line of text; LF, CR, CR LF and LF CR each end a line.
void WriteTextLines(const Run* run, const unsigned char* data, uint64_t length) {
  uint64_t pos = 0;
  bool first = true;
  for (;;) {
    uint64_t start = pos;
    unsigned char common;
    pos = RunEnd(data, pos, length, kPrintable, &common);
    bool endsLine = pos < length && (data[pos] == '\n' || data[pos] == '\r');
    if (pos > start || first || endsLine) WriteTextLine(data + start, pos - start);
    first = false;
    if (pos == length) return;
    if (data[pos] == '\n' || data[pos] == '\r') {
      unsigned char partner = data[pos] == '\n' ? '\r' : '\n';
      ++pos;
      if (pos < length && data[pos] == partner) ++pos;
      continue;
    }
    start = pos;
    pos = OtherRunEnd(data, pos, length, kPrintable);
    WriteHexLines(run, data + start, pos - start);
    if (pos == length) return;
  }
}

void WriteAttributeLines(const Run* run, const MQMD* md) {
  if (run->Options->NoMqmd) {
    // Raw data without a descriptor is data and separators only.
    if (run->Options->RawBytes) return;
    StartLine(kPlainLine);
    AppendText("N\n", 2);
    return;
  }
  // A descriptor claiming a version below 1 still has every version-1
  // field; writing none would leave a section the reader refuses.
  int32_t version = md->Version < 1 ? 1 : md->Version;
  const char* base = reinterpret_cast<const char*>(md);
  for (int32_t i = 0; i < MessageAttributeCount; ++i) {
    const MessageAttribute* row = &MessageAttributeTable[i];
    if (!AttributeIsWritten(row, version, run->Options->ApplDataAsChar)) continue;
    const char* field = base + row->Offset;
    row = ExactFormOf(row, reinterpret_cast<const unsigned char*>(field));
    StartLine(kPlainLine);
    char* p = Room(6);
    p[0] = 'A';
    p[1] = ' ';
    std::memcpy(p + 2, row->Key, 3);
    p[5] = ' ';
    gOut.Used += 6;
    switch (row->Kind) {
      case kAttributeNumber: {
        int32_t value;
        std::memcpy(&value, field, sizeof(value));
        AppendNumber(value);
        break;
      }
      case kAttributeText: {
        const void* nul = std::memchr(field, '\0', static_cast<size_t>(row->Width));
        size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - field)
                                  : static_cast<size_t>(row->Width);
        AppendText(field, n);
        break;
      }
      case kAttributeBytes:
        AppendHex(reinterpret_cast<const unsigned char*>(field), static_cast<uint64_t>(row->Width));
        break;
    }
    AppendChar('\n');
  }
}

void WriteDataLines(const Run* run, const unsigned char* data, uint64_t length) {
  if (run->Options->RawBytes) {
    StartLine(kErrnoLine);
    AppendBytes(data, length);
  } else if (run->Options->AsciiLines) {
    WriteAlternatingRuns(run, data, length, kAsciiSafe);
  } else if (run->Options->Printable) {
    WriteAlternatingRuns(run, data, length, kPrintable);
  } else if (run->Options->TextLines) {
    WriteTextLines(run, data, length);
  } else {
    WriteHexLines(run, data, length);
  }
}

// The -dT entry: the message's position, its MsgId and its time on queue.
int WriteTimeOnQueueEntry(Run* run, const MQMD* md) {
  char prefix[32];
  int prefixLength = std::snprintf(prefix, sizeof(prefix),
                                   "%5lld. MsgId:", static_cast<long long>(run->Counters.MessageIndex));
  if (prefixLength < 0) prefixLength = 0;
  if (prefixLength >= static_cast<int>(sizeof(prefix))) prefixLength = sizeof(prefix) - 1;
  char duration[kQuantityTextSize] = "Unknown";
  int64_t put = MqDateTimeToEpoch(md->PutDate, md->PutTime);
  if (put > 0) FormatDuration(duration, run->Options->NowSeconds - put, false);

  Begin(run->Files.OutputStream);
  StartLine(kPlainLine);
  AppendText(prefix, static_cast<size_t>(prefixLength));
  AppendHex(md->MsgId, sizeof(md->MsgId));
  AppendChar('\n');
  AppendFill(' ', static_cast<uint64_t>(prefixLength));
  AppendLiteral(duration);
  AppendText("\n\n", 2);
  SendChunk();
  run->Files.OutputFilePosition += static_cast<int64_t>(gOut.Total);
  if (gOut.Failed) {
    std::printf("Error writing to file '%s'\n", OutputName(run));
    return MQRC_FILE_SYSTEM_ERROR;
  }
  return 0;
}

// The bytes of the message that may be read: never beyond the storage
// when the cursor lies inside it, whatever DataLength claims.
uint64_t DeliverableLength(const MessageBuffer* m) {
  if (m->DataLength <= 0 || m->Cursor == nullptr) return 0;
  uint64_t length = static_cast<uint64_t>(m->DataLength);
  if (m->Storage != nullptr && m->Cursor >= m->Storage && m->Cursor <= m->Storage + m->Capacity) {
    uint64_t room = static_cast<uint64_t>(m->Storage + m->Capacity - m->Cursor);
    if (length > room) length = room;
  }
  return length;
}

}  // namespace

int32_t EffectiveDataWidth(int32_t dataWidth) {
  if (dataWidth <= 0) return 25;
  if (dataWidth < 10) return 10;
  return dataWidth;
}

int WriteFileHeader(Run* run, const char* sourceQueue) {
  if (run->Options->NoHeader || run->Settings.OutputIsNull) return 0;
  if (run->Files.OutputStream == nullptr) {
    return SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Can not write to file '%s'",
                         OutputName(run));
  }
  // Every file of a run carries the time of the run's first header.
  if (run->Files.CreatedTime == 0) run->Files.CreatedTime = static_cast<int64_t>(std::time(nullptr));
  time_t created = static_cast<time_t>(run->Files.CreatedTime);
  struct tm local {};
  localtime_r(&created, &local);
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char line[256];
  // The 24-character form of ctime, and its LF ending the line.
  int n = std::snprintf(line, sizeof(line),
                        "* ZEPLO Version:%s Created:%.3s %.3s%3d %.2d:%.2d:%.2d %d%s\n",
                        kZeploFileVersion, kDays[(local.tm_wday % 7 + 7) % 7],
                        kMonths[(local.tm_mon % 12 + 12) % 12], local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, local.tm_year + 1900, kFileFormatMark);
  Begin(run->Files.OutputStream);
  StartLine(kPlainLine);
  AppendText(line, static_cast<size_t>(n < 0 ? 0 : n));
  if (sourceQueue != nullptr && sourceQueue[0] != '\0') {
    int slot = run->Options->InputSlot == 1 ? 1 : 0;
    const char* qmgr = run->Qmgrs[slot].Name;
    if (qmgr[0] != '\0') {
      n = std::snprintf(line, sizeof(line), "* Qmgr  = %.48s\n", qmgr);
      AppendText(line, static_cast<size_t>(n < 0 ? 0 : n));
    }
    n = std::snprintf(line, sizeof(line), "* Queue = %.48s\n", sourceQueue);
    AppendText(line, static_cast<size_t>(n < 0 ? 0 : n));
  }
  AppendChar('\n');
  int rc = Finish(run);
  // Even a header that failed half-way promises the reader an end line.
  run->Files.OutputNeedsEnd = true;
  return rc;
}

int WriteFileEnd(Run* run) {
  if (!run->Files.OutputNeedsEnd || run->Files.OutputStream == nullptr ||
      run->Settings.OutputIsNull)
    return 0;
  run->Files.OutputNeedsEnd = false;
  Begin(run->Files.OutputStream);
  StartLine(kPlainLine);
  AppendLiteral(kFileEndLine);
  AppendChar('\n');
  return Finish(run);
}

int WriteMessage(Run* run) {
  MessageBuffer* m = &run->Message;
  uint64_t length = DeliverableLength(m);
  if (run->Settings.OutputIsNull || run->Options->Count) {
    ++run->Counters.WrittenCount;
    run->Counters.WrittenBytes += static_cast<uint64_t>(m->DataLength > 0 ? m->DataLength : 0);
    return 0;
  }
  if (run->Files.OutputStream == nullptr || m->Descriptor == nullptr) {
    return SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Can not write to file '%s'",
                         OutputName(run));
  }
  const MQMD* md = m->Descriptor;
  if (run->Options->ShowTimeOnQueue) {
    int rc = WriteTimeOnQueueEntry(run, md);
    if (rc != 0) return rc;
    ++run->Counters.WrittenCount;
    run->Counters.WrittenBytes += length;
    return 0;
  }
  Begin(run->Files.OutputStream);
  if (run->Options->WriteIndex) {
    StartLine(kPlainLine);
    AppendText("* Index ", 8);
    AppendNumber(static_cast<int32_t>(run->Counters.SelectedCount));
    AppendChar('\n');
  }
  WriteAttributeLines(run, md);
  WriteDataLines(run, m->Cursor, length);
  // The empty line ending the section; raw data runs straight into it.
  StartLine(run->Options->RawBytes ? kErrnoLine : kPlainLine);
  AppendChar('\n');
  int rc = Finish(run);
  if (rc != 0) return rc;
  ++run->Counters.WrittenCount;
  run->Counters.WrittenBytes += length;
  ++run->Files.FileMessageCount;
  return 0;
}
