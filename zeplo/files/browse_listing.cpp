// The browse-listing reader: messages from the text IBM MQ's browse sample
// prints. Each message is a "****Message descriptor****" section of
// "Name : value" pairs, named by the long names of MessageAttributeTable,
// followed by dump lines "00000000:  4865 6C6C ...  'Hell...'".
//
// In listing mode ReadLine keeps lines that begin with "*": the section
// headings are such lines. Tokens point into the current line, so a name
// is looked up before the value is read (which may move to the next line,
// as the sample does for AccountingToken).
#include <cstdio>
#include <cstring>

#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ':'; }

bool LineStartsWith(const LineStorage* ls, const char* prefix) {
  size_t n = std::strlen(prefix);
  return static_cast<size_t>(ls->Length) >= n && std::memcmp(ls->Text, prefix, n) == 0;
}

int ListingError(Run* run, const char* format) {
  run->Message.DataLength = 0;
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, format,
                       static_cast<long>(run->Files.InputLines->LineNumber), ReaderFileName(run));
}

int UnexpectedEnd(Run* run) {
  run->StopRequested = true;
  return ListingError(run, "Unexpected end of file on line %ld of file '%s'");
}

// Stores one "Name value" pair. Byte fields must be written X'...'.
int StoreListingValue(Run* run, const MessageAttribute* row, const char* value,
                      int32_t length) {
  const char* end = value + length;
  if (row->Kind == kAttributeBytes) {
    if (length < 3 || value[0] != 'X' || value[1] != '\'' || end[-1] != '\'') {
      return ListingError(run, "Badly formed hex string on line %ld of file '%s'");
    }
    value += 2;
    end -= 1;
  }
  int rc = StoreAttributeValue(run, &run->Message.OwnDescriptor, row, value, end);
  if (rc != 0) run->Message.DataLength = 0;
  return rc;
}

// The sample prints version-2 fields for every message; when they all hold
// their defaults the message was a version-1 one.
void NarrowVersion(MQMD* md) {
  static const MQBYTE24 kNoGroup = {};
  if (std::memcmp(md->GroupId, kNoGroup, sizeof kNoGroup) == 0 && md->MsgSeqNumber == 1 &&
      md->Offset == 0 && md->MsgFlags == 0 && md->OriginalLength == MQOL_UNDEFINED) {
    md->Version = MQMD_VERSION_1;
  }
}

// The sample states each message's length before its dump, " length - S
// of T bytes" (older levels: " length - S bytes"); `line` null checks the
// dump of `dumped` bytes against what *shown and *total noted, otherwise
// notes them when `line` is that statement. A dump shorter than stated was
// cut (a torn file), and a message the browse program showed only S of T
// bytes of is cut too: 2208 either way, never a shorter message loaded.
int CheckListedLength(Run* run, const char* line, int64_t dumped, long long* shown,
                      long long* total) {
  if (line != nullptr) {
    if (std::sscanf(line, " length - %lld of %lld bytes", shown, total) != 2 &&
        std::sscanf(line, " length - %lld bytes", shown) == 1) {
      *total = *shown;
    }
    return 0;
  }
  if (*shown < 0 || (dumped >= *shown && *shown >= *total)) return 0;
  run->Message.DataLength = 0;
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                        "Message ending on line %ld of file '%s' is cut short: %lld of its %lld "
                        "bytes are listed",
                        static_cast<long>(run->Files.InputLines->LineNumber), ReaderFileName(run),
                        static_cast<long long>(dumped < *shown ? dumped : *shown), *total);
}

// Reads the dump lines up to the sample's next " MQ..." line or the end.
int ReadDumpLines(Run* run) {
  MessageBuffer& m = run->Message;
  const LineStorage* ls = run->Files.InputLines;
  bool eof = false;
  long long shown = -1, total = -1;
  for (;;) {
    int rc = ReadLine(run, true, &eof, false);
    if (rc != 0) return rc;
    if (eof || LineStartsWith(ls, " MQ")) {
      return CheckListedLength(run, nullptr, m.DataLength, &shown, &total);
    }
    const char* colon = static_cast<const char*>(std::memchr(ls->Text, ':', ls->Length));
    if (colon == nullptr) {
      CheckListedLength(run, ls->Text, 0, &shown, &total);
      continue;
    }
    rc = EnsureMessageStorage(run, static_cast<int64_t>(m.DataLength) + ls->Length);
    if (rc != 0) return rc;
    int64_t count = -1;
    rc = ParseHex(run, colon + 1, ls->Text + ls->Length, m.Storage + m.DataLength, &count, true);
    if (rc != 0) return rc;
    m.DataLength += static_cast<int32_t>(count);
  }
}

}  // namespace

int ReadToken(Run* run, bool* endOfFile, bool* endOfSection, const char** token,
              int32_t* length) {
  *endOfFile = false;
  *endOfSection = false;
  *token = nullptr;
  *length = 0;
  LineStorage* ls = run->Files.InputLines;
  if (ls == nullptr) {
    int rc = AllocateLineStorage(run, 1);
    if (rc != 0) return rc;
    ls = run->Files.InputLines;
  }
  for (;;) {
    if (ls->EndOfFile && ls->Length == 0) {
      *endOfFile = true;
      return 0;
    }
    const char* p = ls->Text + ls->TokenOffset;
    const char* end = ls->Text + ls->Length;
    while (p < end && IsSeparator(*p)) ++p;
    if (p == end || *p == '*') {
      // The line is used up; "**" sub-headings count as used up too.
      bool eof = false;
      int rc = ReadLine(run, true, &eof, false);
      if (rc != 0) return rc;
      if (eof) {
        *endOfFile = true;
        return 0;
      }
      if (LineStartsWith(ls, "****")) {
        *endOfSection = true;
        return 0;
      }
      continue;
    }
    const char* q;
    if (*p == '\'') {
      ++p;
      const char* close = static_cast<const char*>(std::memchr(p, '\'', end - p));
      q = close != nullptr ? close : end;
      ls->TokenOffset = static_cast<int32_t>((close != nullptr ? close + 1 : end) - ls->Text);
    } else {
      q = p;
      while (q < end && !IsSeparator(*q)) ++q;
      ls->TokenOffset = static_cast<int32_t>(q - ls->Text);
    }
    *token = p;
    *length = static_cast<int32_t>(q - p);
    return 0;
  }
}

int ReadBrowseListingMessage(Run* run) {
  MessageBuffer& m = run->Message;
  StartMessage(&m);

  // Find the next descriptor section. The current line is looked at first:
  // it is whatever ended the previous read.
  bool eof = false;
  bool advance = false;
  int rc;
  const LineStorage* ls;
  for (;;) {
    rc = ReadLine(run, advance, &eof, false);
    if (rc != 0) return rc;
    if (eof) {
      run->StopRequested = true;
      return 0;
    }
    ls = run->Files.InputLines;
    if (LineStartsWith(ls, "****Message descriptor****")) break;
    advance = true;
  }
  rc = ReadLine(run, true, &eof, false);
  if (rc != 0) return rc;
  // A section without a single pair ends at once.
  bool endOfSection = !eof && LineStartsWith(ls, "****");
  while (!endOfSection) {
    const char* name;
    int32_t nameLength;
    rc = ReadToken(run, &eof, &endOfSection, &name, &nameLength);
    if (rc != 0) return rc;
    if (endOfSection) break;
    if (eof) return UnexpectedEnd(run);
    const MessageAttribute* row = FindAttributeByLongName(name, static_cast<size_t>(nameLength));
    if (row == nullptr) {
      m.DataLength = 0;
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                           "Unrecognised attribute '%.*s' on line %ld of file '%s'",
                           static_cast<int>(nameLength), name, static_cast<long>(ls->LineNumber),
                           ReaderFileName(run));
    }
    const char* value;
    int32_t valueLength;
    rc = ReadToken(run, &eof, &endOfSection, &value, &valueLength);
    if (rc != 0) return rc;
    if (endOfSection) {
      return ListingError(run, "Unexpected end of section on line %ld of file '%s'");
    }
    if (eof) return UnexpectedEnd(run);
    rc = StoreListingValue(run, row, value, valueLength);
    if (rc != 0) return rc;
  }
  NarrowVersion(&m.OwnDescriptor);
  rc = ReadDumpLines(run);
  if (rc != 0) {
    m.DataLength = 0;
    return rc;
  }
  m.Cursor = m.Storage;
  return 0;
}
