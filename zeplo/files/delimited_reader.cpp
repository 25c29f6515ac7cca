// Reading delimited files: the sliding "FILE" buffer, the delimiter
// search with its bracket check, and the records cut from it. The whole
// file mode and the MQRFH2 assembly are in delimited_message.cpp.
//
// A record is [properties] start data end. Searches for the start and the
// properties begin at the read position; the end search begins after the
// start delimiter. A candidate is accepted only when the text from where
// its check begins (the read position for a start, the start delimiter
// itself for an end) up to it, or through it for an end, is bracket-
// balanced: a line end inside an open ( [ { or < does not end a record.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

// The first buffer, and so the usual read: a megabyte costs a tenth of
// the system calls of a smaller block for the same copying.
constexpr int64_t kFirstBuffer = 1 << 20;
// Free room below which the buffer is compacted or grown before a read.
constexpr int64_t kFillAmount = 20000;

const unsigned char* At(const DelimitedFile* df, int64_t offset) {
  return df->Buffer + (offset - df->BufferOffset);
}
int64_t EndOffset(const DelimitedFile* df) { return df->BufferOffset + df->Valid; }

// Makes room for at least kFillAmount more bytes, keeping everything from
// KeepPos on: slides the record to the front when that frees enough,
// otherwise doubles the buffer. 0, 2208 when the
// record outgrows kMaxDelimitedRecord, 2071.
int MakeRoom(Run* run, DelimitedFile* df) {
  int64_t passed = df->KeepPos - df->BufferOffset;
  int64_t kept = df->Valid - passed;
  if (df->Capacity - df->Valid >= kFillAmount) return 0;
  if (kept > kMaxDelimitedRecord) return DelimitedRecordTooLong(run);
  // Sliding costs a copy of what is kept; only worth it when that frees
  // at least as much again.
  if (passed >= kept && df->Capacity - kept >= kFillAmount) {
    memmove(df->Buffer, df->Buffer + passed, static_cast<size_t>(kept));
  } else {
    int64_t capacity = df->Capacity == 0 ? kFirstBuffer : df->Capacity * 2;
    // Doubling keeps a long record's copies linear; the cap keeps the
    // buffer near the longest record that can be delivered.
    if (capacity > kMaxDelimitedRecord + kFillAmount) capacity = kMaxDelimitedRecord + kFillAmount;
    if (capacity < kept + kFillAmount) capacity = kept + kFillAmount;
    auto* block = static_cast<unsigned char*>(CSGetMem(static_cast<size_t>(capacity), "FILE"));
    if (block == nullptr) {
      return SetExitMessage(run, MQRC_STORAGE_NOT_AVAILABLE,
                            "Unable to allocate %lld bytes message storage",
                            static_cast<long long>(capacity));
    }
    if (kept > 0) memcpy(block, df->Buffer + passed, static_cast<size_t>(kept));
    CSFreeMem(df->Buffer);
    df->Buffer = block;
    df->Capacity = capacity;
  }
  df->BufferOffset = df->KeepPos;
  df->Valid = kept;
  return 0;
}

// Reads more of the file into the buffer. 0 (EndOfFile set when it has
// ended), 2208 for a read error, or MakeRoom's failure.
int ReadMore(Run* run, DelimitedFile* df) {
  int rc = MakeRoom(run, df);
  if (rc != 0) return rc;
  size_t want = static_cast<size_t>(df->Capacity - df->Valid);
  size_t got = fread(df->Buffer + df->Valid, 1, want, run->Files.InputStream);
  df->Valid += static_cast<int64_t>(got);
  run->Files.InputFileBytes += static_cast<int64_t>(got);
  if (got < want) {
    df->EndOfFile = true;
    if (ferror(run->Files.InputStream)) {
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Error reading from input file RC(%d)\n",
                            errno);
    }
  }
  return 0;
}

// Moves the bracket check on to `to` and tells whether the text checked
// so far is balanced; a stray closer fails it for good.
bool Balanced(const Run* run, const DelimitedFile* df, DelimiterSearch* s, int64_t to) {
  if (run->Options->NoBracketCheck) return true;
  if (s->Scanned < to) {
    BracketScanAdvance(&s->Brackets, At(df, s->Scanned), At(df, to));
    s->Scanned = to;
  }
  return !s->Brackets.Failed && s->Brackets.Depth == 0;
}

enum class Step { Found, More, None };

// One pass of the search over what the buffer holds.
Step Search(const Run* run, DelimitedFile* df, DelimiterSearch* s) {
  const Delimiter& d = *s->Target;
  int64_t end = EndOffset(df);
  if (d.Length == 0) {  // no start delimiter: the record starts here
    if (!Balanced(run, df, s, s->Next)) return s->Rejected = true, Step::None;
    s->At = s->Next;
    s->Length = 0;
    return Step::Found;
  }
  for (;;) {
    int64_t limit = s->Limit >= 0 && s->Limit < end ? s->Limit : end;
    if (s->Next >= limit) return s->Limit >= 0 && s->Next >= s->Limit ? Step::None : Step::More;
    const void* hit = memchr(At(df, s->Next), d.Bytes[0], static_cast<size_t>(limit - s->Next));
    if (hit == nullptr) {
      s->Next = limit;
      continue;
    }
    int64_t at = df->BufferOffset + (static_cast<const unsigned char*>(hit) - df->Buffer);
    if (end - at < d.Length) {  // too little text to compare: read more
      s->Next = at;
      return Step::More;
    }
    s->Next = at + 1;
    if (memcmp(hit, d.Bytes, static_cast<size_t>(d.Length)) != 0) continue;
    if (!Balanced(run, df, s, s->End ? at + d.Length : at)) {
      s->Rejected = true;
      if (s->Brackets.Failed) return Step::None;  // no later candidate can pass
      continue;
    }
    s->At = at;
    s->Length = d.Length;
    return Step::Found;
  }
}

}  // namespace

int DelimitedRecordTooLong(Run* run) {
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                        "Message at byte %lld of file '%s' is longer than %lld bytes\n",
                        static_cast<long long>(run->Files.Delimited.KeepPos), ReaderFileName(run),
                        static_cast<long long>(kMaxDelimitedRecord));
}

void StartDelimiterSearch(DelimiterSearch* s, const Delimiter* target, bool end, int64_t base,
                          int64_t next, int64_t limit) {
  s->Target = target;
  s->End = end;
  s->Base = s->Scanned = base;
  s->Next = next;
  s->Limit = limit;
  s->At = -1;
  s->Length = 0;
  s->Rejected = false;
  BracketScanStart(&s->Brackets);
}

int FillFileBuffer(Run* run, DelimiterSearch* s, bool* found) {
  DelimitedFile* df = &run->Files.Delimited;
  *found = false;
  for (;;) {
    Step step = Search(run, df, s);
    if (step == Step::Found) {
      *found = true;
      return 0;
    }
    if (step == Step::None) return 0;
    if (df->EndOfFile) break;
    int rc = ReadMore(run, df);
    if (rc != 0) return rc;
  }
  // The last line of a file needs no final LF: the end of the text ends
  // it, as a delimiter of length 0, when the brackets allow.
  const Delimiter& d = *s->Target;
  int64_t end = EndOffset(df);
  if (s->End && d.Length == 1 && d.Bytes[0] == '\n' && end > s->Base) {
    if (!Balanced(run, df, s, end)) {
      s->Rejected = true;
      return 0;
    }
    s->At = end;
    s->Length = 0;
    *found = true;
  }
  return 0;
}

int EnsureDelimitedText(Run* run, bool* more) {
  DelimitedFile* df = &run->Files.Delimited;
  if (df->Stream != run->Files.InputStream) {
    ResetDelimitedFile(run);
    df->Stream = run->Files.InputStream;
  }
  while (df->ReadPos == EndOffset(df) && !df->EndOfFile) {
    df->KeepPos = df->ReadPos;
    int rc = ReadMore(run, df);
    if (rc != 0) return rc;
  }
  *more = df->ReadPos < EndOffset(df);
  return 0;
}

const unsigned char* DelimitedBytes(const DelimitedFile* df, int64_t offset) {
  return At(df, offset);
}

void ResetDelimitedFile(Run* run) {
  DelimitedFile* df = &run->Files.Delimited;
  df->Valid = 0;
  df->BufferOffset = 0;
  df->ReadPos = 0;
  df->KeepPos = 0;
  df->EndOfFile = false;
  df->Stream = nullptr;
}

void ReleaseDelimitedFile(Run* run) {
  CSReleaseMem(&run->Files.Delimited.Buffer);
  run->Files.Delimited = DelimitedFile{};
}
