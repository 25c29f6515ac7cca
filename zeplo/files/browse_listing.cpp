// The browse-listing reader: messages from the text IBM MQ's browse sample
// prints. Each message is a "****Message descriptor****" section of
// "Name : value" pairs, named by the long names of MessageAttributeTable,
// then on current levels a properties section and a dead-letter section
// (listing_properties.cpp, listing_dead_letter.cpp), then under
// "****   Message      ****" the length line "length - S of T bytes" (older
// levels: "length - N bytes") and dump lines
// "00000000:  4865 6C6C ...  'Hell...'".
//
// The length line is what tells a whole message from a cut one: a dump
// that holds other than S bytes (the file was cut or damaged), or S below
// T (the sample printed only the start of a longer message), is refused
// rather than loaded short.
//
// In listing mode ReadLine keeps lines that begin with "*": the section
// headings are such lines. Tokens point into the current line, so a name
// is looked up before the value is read (which may move to the next line,
// as the sample does for AccountingToken).
#include <charconv>
#include <cstring>

#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ':'; }

bool LineStartsWith(const LineStorage* ls, const char* prefix) {
  size_t n = std::strlen(prefix);
  return static_cast<size_t>(ls->Length) >= n && std::memcmp(ls->Text, prefix, n) == 0;
}

// Stores one "Name value" pair. Byte fields must be written X'...'.
int StoreListingValue(Run* run, const MessageAttribute* row, const char* value, int32_t length) {
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

// Reads "length - S of T bytes" (or "length - N bytes") from the line:
// false when it is not such a line.
bool ParseLengthLine(const LineStorage* ls, int64_t* shown, int64_t* total) {
  const char* p = ls->Text;
  const char* end = ls->Text + ls->Length;
  while (p < end && *p == ' ') ++p;
  if (end - p < 9 || std::memcmp(p, "length - ", 9) != 0) return false;
  auto [q, ec] = std::from_chars(p + 9, end, *shown);
  if (ec != std::errc() || *shown < 0) return false;
  *total = *shown;
  if (end - q > 4 && std::memcmp(q, " of ", 4) == 0) {
    auto [r, ec2] = std::from_chars(q + 4, end, *total);
    if (ec2 != std::errc()) return false;
  }
  return true;
}

// The length line must come before the first dump line and agree with
// what the dump held.
int CheckDumpLength(Run* run, int64_t shown, int64_t total, long lengthLine, int64_t dumped) {
  if (shown < 0) return ListingError(run, "Missing message length on line %ld of file '%s'");
  if (shown != total) {
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                          "Listing shows %lld of the message's %lld bytes on line %ld of file '%s'",
                          static_cast<long long>(shown), static_cast<long long>(total), lengthLine,
                          ReaderFileName(run));
  }
  if (dumped != shown) {
    return SetExitMessage(
        run, MQRC_FILE_SYSTEM_ERROR,
        "Message data holds %lld bytes where its length line says %lld on line %ld of file '%s'",
        static_cast<long long>(dumped), static_cast<long long>(shown),
        static_cast<long>(run->Files.InputLines->LineNumber), ReaderFileName(run));
  }
  return 0;
}

// Reads the length line and the dump lines behind the data already in
// hand, up to the sample's next " MQ..." line, a "****" heading (the
// summary block of current levels) or the end.
int ReadDumpLines(Run* run) {
  MessageBuffer& m = run->Message;
  const LineStorage* ls = run->Files.InputLines;
  const int32_t start = m.DataLength;
  int64_t shown = -1;
  int64_t total = -1;
  long lengthLine = 0;
  bool eof = false;
  for (;;) {
    int rc = ReadLine(run, true, &eof, false);
    if (rc != 0) return rc;
    if (eof || LineStartsWith(ls, " MQ") || LineStartsWith(ls, "****")) break;
    if (shown < 0 && ParseLengthLine(ls, &shown, &total)) {
      lengthLine = static_cast<long>(ls->LineNumber);
      continue;
    }
    const char* colon = static_cast<const char*>(std::memchr(ls->Text, ':', ls->Length));
    if (colon == nullptr) continue;
    if (shown < 0) break;  // a dump line before any length line
    rc = EnsureMessageStorage(run, static_cast<int64_t>(m.DataLength) + ls->Length);
    if (rc != 0) return rc;
    int64_t count = -1;
    rc = ParseHex(run, colon + 1, ls->Text + ls->Length, m.Storage + m.DataLength, &count, true);
    if (rc != 0) return rc;
    m.DataLength += static_cast<int32_t>(count);
  }
  return CheckDumpLength(run, shown, total, lengthLine, m.DataLength - start);
}

// The sections between the descriptor and the dump, each starting at its
// heading (the current line) and ending at the next heading.
int ReadSections(Run* run, ListingSections* sections) {
  const LineStorage* ls = run->Files.InputLines;
  for (;;) {
    int rc;
    if (LineStartsWith(ls, "****Message properties****")) {
      rc = ReadListingProperties(run, sections);
    } else if (LineStartsWith(ls, "****Dead Letter Header****")) {
      rc = ReadListingDeadLetter(run, run->Message.Descriptor, sections);
    } else {
      return 0;
    }
    if (rc != 0) return rc;
  }
}

// Puts the rebuilt dead-letter header in front of the data to come.
int StartWithDeadLetter(Run* run, const ListingSections* sections) {
  if (!sections->HasDeadLetter) return 0;
  MessageBuffer& m = run->Message;
  int rc = EnsureMessageStorage(run, MQDLH_LENGTH_1);
  if (rc != 0) return rc;
  std::memcpy(m.Storage, sections->DeadLetter, MQDLH_LENGTH_1);
  m.DataLength = MQDLH_LENGTH_1;
  return 0;
}

// Everything after the descriptor: the sections, the dump, the message
// assembled from them. No partial message is handed on.
int ReadMessageData(Run* run) {
  MessageBuffer& m = run->Message;
  ListingSections sections{};
  int rc = ReadSections(run, &sections);
  if (rc == 0) rc = StartWithDeadLetter(run, &sections);
  if (rc == 0) rc = ReadDumpLines(run);
  if (rc == 0) rc = AddListingProperties(run, &sections);
  ReleaseListingSections(&sections);
  if (rc != 0) m.DataLength = 0;
  m.Cursor = m.Storage;
  return rc;
}

}  // namespace

int ListingError(Run* run, const char* format) {
  run->Message.DataLength = 0;
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, format,
                        static_cast<long>(run->Files.InputLines->LineNumber), ReaderFileName(run));
}

int ListingUnknownName(Run* run, const char* name, int32_t length) {
  run->Message.DataLength = 0;
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                        "Unrecognised attribute '%.*s' on line %ld of file '%s'",
                        static_cast<int>(length), name,
                        static_cast<long>(run->Files.InputLines->LineNumber), ReaderFileName(run));
}

int ListingEndOfFile(Run* run) {
  run->StopRequested = true;
  return ListingError(run, "Unexpected end of file on line %ld of file '%s'");
}

int ReadToken(Run* run, bool* endOfFile, bool* endOfSection, const char** token, int32_t* length) {
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
    if (eof) return ListingEndOfFile(run);
    const MessageAttribute* row = FindAttributeByLongName(name, static_cast<size_t>(nameLength));
    if (row == nullptr) return ListingUnknownName(run, name, nameLength);
    const char* value;
    int32_t valueLength;
    rc = ReadToken(run, &eof, &endOfSection, &value, &valueLength);
    if (rc != 0) return rc;
    if (endOfSection) {
      return ListingError(run, "Unexpected end of section on line %ld of file '%s'");
    }
    if (eof) return ListingEndOfFile(run);
    rc = StoreListingValue(run, row, value, valueLength);
    if (rc != 0) return rc;
  }
  NarrowVersion(&m.OwnDescriptor);
  return ReadMessageData(run);
}
