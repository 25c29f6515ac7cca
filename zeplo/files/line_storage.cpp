// The input line storage: one growable buffer holding the current line of
// the input file, the line counter every error text quotes, and the
// identification of the file by its first line.
//
// Lines are cut out of the read-ahead block with memchr and copied into
// the line storage, which doubles while a line does not fit, so a line of
// any length ends up whole without going back in the file (the input may
// be a pipe). Lines keep their true length whatever bytes they hold, NULs
// included.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

// The stream is never shared between threads: skip the per-call lock.
#ifdef __GLIBC__
inline size_t ReadBlock(char* to, size_t n, FILE* in) { return fread_unlocked(to, 1, n, in); }
#else
inline size_t ReadBlock(char* to, size_t n, FILE* in) { return std::fread(to, 1, n, in); }
#endif

constexpr int64_t kLineUnit = 1024;
// The largest multiple of kLineUnit a 32-bit capacity can hold.
constexpr int64_t kMaxLineCapacity = (INT32_MAX / kLineUnit) * kLineUnit;

bool StartsWith(const LineStorage* ls, const char* magic) {
  size_t n = std::strlen(magic);
  return static_cast<size_t>(ls->Length) >= n && std::memcmp(ls->Text, magic, n) == 0;
}

// The state record, created zeroed on first use.
int EnsureState(Run* run) {
  if (run->Files.InputLines != nullptr) return 0;
  void* block = CSGetMem(sizeof(LineStorage), "Line Reader");
  if (block == nullptr) {
    return SetExitMessage(run, MQRC_STORAGE_NOT_AVAILABLE,
                         "Unable to allocate %d bytes line storage",
                         static_cast<int>(sizeof(LineStorage)));
  }
  run->Files.InputLines = new (block) LineStorage{};
  return 0;
}

// Ties the state to the run's input stream. A new stream, or the same one
// opened again or rewound (the byte count of the file then restarts),
// drops what was read ahead of the old place. Returns true on a change.
bool AttachStream(Run* run, LineStorage* ls) {
  if (ls->Stream == run->Files.InputStream && ls->BytesSeen == run->Files.InputFileBytes) return false;
  ls->Stream = run->Files.InputStream;
  ls->BytesSeen = run->Files.InputFileBytes;
  ls->AheadStart = ls->AheadEnd = 0;
  struct stat st {};
  int fd = ls->Stream != nullptr ? fileno(ls->Stream) : -1;
  ls->AheadInBlocks = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  return true;
}

// Refills the read-ahead from the stream. False at the end of the input
// or at a read error (ferror tells them apart).
bool FillAhead(LineStorage* ls, FILE* in) {
  size_t got = 0;
  if (ls->AheadInBlocks) {
    got = ReadBlock(ls->Ahead, static_cast<size_t>(kLineAheadSize), in);
  } else {
    // A pipe or terminal: never wait for more than the line in hand.
    int c;
    while (got < static_cast<size_t>(kLineAheadSize) && (c = getc_unlocked(in)) != EOF) {
      ls->Ahead[got++] = static_cast<char>(c);
      if (c == '\n') break;
    }
  }
  ls->AheadStart = 0;
  ls->AheadEnd = static_cast<int32_t>(got);
  return got > 0;
}

// Copies `n` bytes as whole 32-byte blocks, so up to 31 bytes more than
// asked (both buffers keep that slack). The library copies a short line
// with masked stores, and the parsing that reads the line back at once
// cannot take its bytes from such stores: it would wait for each copy to
// retire, which costs more than the copy itself. Whole blocks forward.
inline void CopyInBlocks(char* to, const char* from, size_t n) {
  for (size_t done = 0; done < n; done += 32) std::memcpy(to + done, from + done, 32);
}

// Doubles the line storage until it holds `needed` bytes (the line so far,
// its end and a terminator), up to the longest line there can be.
int RoomForLine(Run* run, LineStorage* ls, int64_t needed) {
  constexpr int64_t kMostNeeded = kMaxLineLength + 2;
  if (needed > kMostNeeded) {
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                          "Line %ld of file '%s' is longer than %lld bytes",
                          static_cast<long>(ls->LineNumber + 1), ReaderFileName(run),
                          static_cast<long long>(kMaxLineLength));
  }
  while (ls->Capacity < needed) {
    int64_t next = int64_t{ls->Capacity} * 2;
    int rc = AllocateLineStorage(run, next < kMostNeeded ? next : kMostNeeded);
    if (rc != 0) return rc;
  }
  return 0;
}

// Reads one physical line, line end included, into ls->Text (terminated).
// *length gets its bytes; 0 means the file had no more. Returns 0 or 2071
// (the bytes taken so far still count as read).
int ReadPhysicalLine(Run* run, LineStorage* ls, int64_t* length) {
  FILE* in = run->Files.InputStream;
  *length = 0;
  if (in == nullptr) return 0;
  // The usual case: the whole line is in the read-ahead and fits.
  if (ls->AheadStart < ls->AheadEnd) {
    const char* from = ls->Ahead + ls->AheadStart;
    const void* lf = std::memchr(from, '\n', static_cast<size_t>(ls->AheadEnd - ls->AheadStart));
    int64_t take = lf != nullptr ? static_cast<const char*>(lf) - from + 1 : 0;
    if (take > 0 && take + 32 <= ls->Capacity) {
      CopyInBlocks(ls->Text, from, static_cast<size_t>(take));
      ls->Text[take] = '\0';
      ls->AheadStart += static_cast<int32_t>(take);
      run->Files.InputFileBytes += take;
      ls->BytesSeen = run->Files.InputFileBytes;
      *length = take;
      return 0;
    }
  }
  int64_t used = 0;
  bool ended = false;
  int rc = 0;
  while (!ended) {
    if (ls->AheadStart == ls->AheadEnd && !FillAhead(ls, in)) {
      // A failed read is no end of file: what follows would be lost.
      if (std::ferror(in)) {
        rc = SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                            "Error reading file '%s' after line %ld RC(%d)", ReaderFileName(run),
                            static_cast<long>(ls->LineNumber), errno != 0 ? errno : EIO);
      }
      break;
    }
    const char* from = ls->Ahead + ls->AheadStart;
    size_t available = static_cast<size_t>(ls->AheadEnd - ls->AheadStart);
    const char* lf = static_cast<const char*>(std::memchr(from, '\n', available));
    size_t take = lf != nullptr ? static_cast<size_t>(lf - from) + 1 : available;
    rc = RoomForLine(run, ls, used + static_cast<int64_t>(take) + 1);
    if (rc != 0) break;
    std::memcpy(ls->Text + used, from, take);
    used += static_cast<int64_t>(take);
    ls->AheadStart += static_cast<int32_t>(take);
    ended = lf != nullptr;
  }
  // A last line without a line end takes one byte more, as it always has,
  // so the -Vm trace of the storage growth is the same for every input.
  if (rc == 0 && !ended && used > 0) rc = RoomForLine(run, ls, used + 2);
  run->Files.InputFileBytes += used;
  ls->BytesSeen = run->Files.InputFileBytes;
  if (rc != 0) return rc;
  ls->Text[used] = '\0';
  *length = used;
  return 0;
}

}  // namespace

const char* ReaderFileName(const Run* run) {
  return run->Files.CurrentInputFile[0] != '\0' ? run->Files.CurrentInputFile : run->Options->InputFile;
}

int AllocateLineStorage(Run* run, int64_t size) {
  int rc = EnsureState(run);
  if (rc != 0) return rc;
  LineStorage* ls = run->Files.InputLines;
  if (size < 1) size = 1;
  int64_t capacity = (size + kLineUnit - 1) / kLineUnit * kLineUnit;
  if (capacity > kMaxLineCapacity) capacity = kMaxLineCapacity;
  if (ls->Text != nullptr && capacity <= ls->Capacity) {
    // Already as large as a 32-bit capacity allows, and still too small.
    if (size <= ls->Capacity) return 0;
    return SetExitMessage(run, MQRC_STORAGE_NOT_AVAILABLE,
                         "Unable to allocate %lld bytes line storage",
                         static_cast<long long>(size));
  }
  if (run->Options->MemoryTrace) std::fprintf(stderr, "Allocating %d bytes\n", static_cast<int>(capacity));
  char* block = static_cast<char*>(CSGetMem(static_cast<size_t>(capacity), "Line Storage"));
  if (run->Options->MemoryTrace) {
    if (block != nullptr) {
      std::fprintf(stderr, "Allocation success %p\n", static_cast<void*>(block));
    } else {
      std::fprintf(stderr, "Allocation failed\n");
    }
  }
  if (block == nullptr) {
    return SetExitMessage(run, MQRC_STORAGE_NOT_AVAILABLE,
                         "Unable to allocate %d bytes line storage", static_cast<int>(capacity));
  }
  if (ls->Last != nullptr) ls->Last = block + (ls->Last - ls->Text);
  if (ls->Text != nullptr) {
    std::memcpy(block, ls->Text, static_cast<size_t>(ls->Capacity));
    if (run->Options->MemoryTrace) std::fprintf(stderr, "Freeing %p\n", static_cast<void*>(ls->Text));
    CSFreeMem(ls->Text);
  } else {
    block[0] = '\0';
  }
  ls->Text = block;
  ls->Capacity = static_cast<int32_t>(capacity);
  return 0;
}

void ReleaseLineStorage(Run* run) {
  LineStorage* ls = run->Files.InputLines;
  if (ls == nullptr) return;
  if (ls->Text != nullptr) {
    if (run->Options->MemoryTrace) std::fprintf(stderr, "Freeing %p\n", static_cast<void*>(ls->Text));
    CSFreeMem(ls->Text);
  }
  CSFreeMem(ls);
  run->Files.InputLines = nullptr;
}

void ResetLineReader(Run* run) {
  LineStorage* ls = run->Files.InputLines;
  if (ls == nullptr) return;
  ls->Length = 0;
  ls->Last = nullptr;
  ls->LineNumber = 0;
  ls->EndOfFile = false;
  ls->TokenOffset = 0;
  ls->LineEnded = false;
  ls->Marked = false;
  ls->EndSeen = false;
  ls->MessagesRead = 0;
  ls->MessageOpen = false;
  if (ls->Text != nullptr) ls->Text[0] = '\0';
}

bool HeaderMarksEnd(const char* text, int32_t length) {
  const char* end = text + length;
  const size_t markLength = std::strlen(kFileFormatMark) - 1;  // up to the digits
  for (const char* p = text; end - p > static_cast<ptrdiff_t>(markLength); ++p) {
    if (std::memcmp(p, kFileFormatMark, markLength) != 0) continue;
    int64_t format = 0;
    for (p += markLength; p < end && *p >= '0' && *p <= '9' && format < 1000; ++p) {
      format = format * 10 + (*p - '0');
    }
    return format >= 2;
  }
  return false;
}

int RefuseCutFile(Run* run, bool inMessage) {
  const LineStorage* ls = run->Files.InputLines;
  run->Message.DataLength = 0;
  if (inMessage) {
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                          "File '%s' is cut short on line %ld: message %lld is incomplete",
                          ReaderFileName(run), static_cast<long>(ls->LineNumber),
                          static_cast<long long>(ls->MessagesRead + 1));
  }
  // A comment cut inside a message's lines (its end line) follows them all.
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                        "File '%s' is cut short after message %lld: its end line is missing",
                        ReaderFileName(run),
                        static_cast<long long>(ls->MessagesRead + (ls->MessageOpen ? 1 : 0)));
}

// A comment line of a message file: a header line (a file of a numbered
// sequence, or files joined into one) starts a file afresh; the end line
// counts only when it arrived whole.
static void NoteComment(LineStorage* ls) {
  if (StartsWith(ls, "* ZEPLO Version:")) {
    ls->Marked = ls->LineEnded && HeaderMarksEnd(ls->Text, ls->Length);
    ls->EndSeen = false;
    ls->MessagesRead = 0;
  } else if (ls->Marked && ls->LineEnded && StartsWith(ls, kFileEndLine) &&
             static_cast<size_t>(ls->Length) == std::strlen(kFileEndLine)) {
    ls->EndSeen = true;
  }
}

int ReadLine(Run* run, bool advance, bool* endOfFile, bool raw) {
  bool eofLocal = false;
  if (endOfFile == nullptr) endOfFile = &eofLocal;
  *endOfFile = false;
  int rc = 0;
  if (run->Files.InputLines == nullptr || run->Files.InputLines->Text == nullptr) {
    rc = AllocateLineStorage(run, 1);
    if (rc != 0) return rc;
  }
  LineStorage* ls = run->Files.InputLines;
  if (AttachStream(run, ls)) ResetLineReader(run);
  if (!advance && !raw && ls->Length > 0) return 0;
  for (;;) {
    ls->Length = 0;
    ls->Last = nullptr;
    ls->TokenOffset = 0;
    int64_t got = 0;
    rc = ReadPhysicalLine(run, ls, &got);
    if (rc != 0) {
      ls->Text[0] = '\0';
      return rc;
    }
    if (got == 0) {
      ls->EndOfFile = true;
      ls->Text[0] = '\0';
      *endOfFile = true;
      return 0;
    }
    ++ls->LineNumber;
    ls->LineEnded = ls->Text[got - 1] == '\n';
    if (!raw) {
      if (ls->Text[got - 1] == '\n') --got;
      if (got > 0 && ls->Text[got - 1] == '\r') --got;
    }
    ls->Text[got] = '\0';
    ls->Length = static_cast<int32_t>(got);
    ls->Last = got > 0 ? ls->Text + got - 1 : nullptr;
    if (raw) return 0;
    // The writer ends every line of a marked file: one without its end
    // is where the file was cut. So is a header line without its end, in
    // a file of any version (a later file of a numbered sequence).
    bool comment = got > 0 && ls->Text[0] == '*' && !ls->ListingMode;
    if (!ls->LineEnded && (ls->Marked || (comment && StartsWith(ls, "* ZEPLO")))) {
      return RefuseCutFile(run, !comment);
    }
    if (comment) NoteComment(ls);
    if (got == 0 || comment) continue;
    return 0;
  }
}

// IdentifyInputFile with *found telling whether a non-blank line was there.
static int Identify(Run* run, bool* found) {
  *found = false;
  int rc = AllocateLineStorage(run, 1);
  if (rc != 0) return rc;
  LineStorage* ls = run->Files.InputLines;
  // Whatever was read before belongs to another file or an earlier call.
  ResetLineReader(run);
  ls->ListingMode = false;
  AttachStream(run, ls);
  bool eof = false;
  bool notice = false;
  for (;;) {
    rc = ReadLine(run, true, &eof, true);
    if (rc != 0) return rc;
    if (eof) return 0;  // nothing but blank lines: nothing to load
    if (std::strspn(ls->Text, " \t\r\n") == static_cast<size_t>(ls->Length)) continue;
    // A browse sample built without authentication says so before its
    // heading when MQSAMP_USER_ID or MQSAMP_TOKEN is set: the notice and
    // its " - " lines go unread.
    if (!notice && StartsWith(ls, "Authentication not enabled")) {
      notice = true;
      continue;
    }
    if (!notice || !StartsWith(ls, " - ")) break;
  }
  *found = true;
  // AMQSBCG0 on most platforms; AMQSBCG4 is the sample's IBM i name.
  if (StartsWith(ls, "AMQSBCG0") || StartsWith(ls, "AMQSBCG4")) {
    ls->ListingMode = true;
  } else if (!StartsWith(ls, "* ZEPLO") && !StartsWith(ls, "* DMPMQMSG")) {
    ls->Length = 0;
    ls->Last = nullptr;
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                         "File '%s' does not appear to be a ZEPLO file", ReaderFileName(run));
  } else if (!ls->LineEnded) {
    // Every writer ends its header line, and a blank line follows: a file
    // that ends inside it was cut, whatever its version.
    return RefuseCutFile(run, false);
  } else {
    NoteComment(ls);
  }
  return ReadLine(run, true, &eof, false);
}

int IdentifyInputFile(Run* run) {
  bool found = false;
  return Identify(run, &found);
}

int PrepareMessageFile(Run* run, bool* listing, bool* empty) {
  *listing = false;
  *empty = false;
  bool found = false;
  int rc = Identify(run, &found);
  if (rc != 0) return rc;
  const LineStorage* ls = run->Files.InputLines;
  *listing = ls->ListingMode;
  // Blank lines alone never load anything; a header alone ends the input
  // unless later files of a numbered sequence may follow.
  if (ls->EndOfFile) *empty = !found || !run->Options->InputFileHasInserts;
  if (ls->EndOfFile && ls->Marked && !ls->EndSeen) return RefuseCutFile(run, false);
  return 0;
}
