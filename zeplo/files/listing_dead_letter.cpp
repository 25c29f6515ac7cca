// The dead-letter section of a browse listing: the MQDLH printed field by
// field, rebuilt here into the 172 bytes the message carried on the queue.
//
// Numbers are printed as the sample's machine read them. A header's own
// Version is always 1, so a printed Version of 16777216 shows that machine
// read the header in the other byte order: every number is swapped back.
// The rebuilt integers are in the descriptor's Encoding, where MQ keeps the
// first header of the data.
//
// Text is what the quotes hold. The sample prints a field up to its first
// NUL, so a shorter text is NUL-filled to the field's width. A descriptor
// with an EBCDIC CodedCharSetId means the header's text was EBCDIC: the
// sample only shows a header whose StrucId it recognises, so such a listing
// came from an EBCDIC platform and was translated on its way here. Its text
// goes back to EBCDIC.
#include <charconv>
#include <cstddef>
#include <cstring>

#include "zeplo/files/files.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

struct DeadLetterField {
  const char* Name;
  int32_t Offset;
  int32_t Width;
  bool Number;
};

constexpr DeadLetterField kDeadLetterFields[] = {
    {"StrucId", offsetof(MQDLH, StrucId), 4, false},
    {"Version", offsetof(MQDLH, Version), 4, true},
    {"Reason", offsetof(MQDLH, Reason), 4, true},
    {"DestQName", offsetof(MQDLH, DestQName), MQ_Q_NAME_LENGTH, false},
    {"DestQMgrName", offsetof(MQDLH, DestQMgrName), MQ_Q_MGR_NAME_LENGTH, false},
    {"Encoding", offsetof(MQDLH, Encoding), 4, true},
    {"CodedCharSetId", offsetof(MQDLH, CodedCharSetId), 4, true},
    {"Format", offsetof(MQDLH, Format), MQ_FORMAT_LENGTH, false},
    {"PutApplType", offsetof(MQDLH, PutApplType), 4, true},
    {"PutApplName", offsetof(MQDLH, PutApplName), MQ_PUT_APPL_NAME_LENGTH, false},
    {"PutDate", offsetof(MQDLH, PutDate), MQ_PUT_DATE_LENGTH, false},
    {"PutTime", offsetof(MQDLH, PutTime), MQ_PUT_TIME_LENGTH, false},
};
constexpr int kFieldCount = sizeof kDeadLetterFields / sizeof kDeadLetterFields[0];
constexpr int kVersionIndex = 1;
constexpr int32_t kVersionSwapped = 0x01000000;  // MQDLH_VERSION_1 read in the other order

const DeadLetterField* FindField(const char* name, int32_t length) {
  for (const DeadLetterField& f : kDeadLetterFields) {
    if (std::strlen(f.Name) == static_cast<size_t>(length) &&
        std::memcmp(f.Name, name, static_cast<size_t>(length)) == 0) {
      return &f;
    }
  }
  return nullptr;
}

// Reads the next token; *ended at the end of the section. Returns 0, 2208
// (composed) at the end of the file, or the code of a failed read.
int NextToken(Run* run, const char** token, int32_t* length, bool* ended) {
  bool eof = false;
  int rc = ReadToken(run, &eof, ended, token, length);
  if (rc != 0) return rc;
  if (eof) return ListingEndOfFile(run);
  return 0;
}

// The reason's name after its number, "[MQRC_Q_FULL]" or "[UNKNOWN RC]":
// skips tokens up to the one that closes the bracket.
int SkipReasonName(Run* run, const char* token, int32_t length, bool* ended) {
  while (token[length - 1] != ']') {
    int rc = NextToken(run, &token, &length, ended);
    if (rc != 0 || *ended) return rc;
  }
  return 0;
}

// Stores one printed value: numbers into `numbers` (written out once the
// byte order is known), text into the header.
int StoreField(Run* run, const MQMD* md, const DeadLetterField* f, const char* value,
               int32_t length, int32_t* numbers, unsigned char* dlh) {
  if (f->Number) {
    int32_t* number = &numbers[f - kDeadLetterFields];
    auto [end, ec] = std::from_chars(value, value + length, *number);
    if (length == 0 || ec != std::errc() || end != value + length) {
      return ListingError(run, "Badly formed number on line %ld of file '%s'");
    }
    return 0;
  }
  int32_t n = length < f->Width ? length : f->Width;
  std::memset(dlh + f->Offset, 0, static_cast<size_t>(f->Width));
  std::memcpy(dlh + f->Offset, value, static_cast<size_t>(n));
  if (IsEbcdicCcsid(md->CodedCharSetId)) AsciiToEbcdic(dlh + f->Offset, dlh + f->Offset, n);
  return 0;
}

}  // namespace

int ReadListingDeadLetter(Run* run, const MQMD* md, ListingSections* s) {
  int32_t numbers[kFieldCount] = {};
  unsigned seen = 0;
  unsigned char* dlh = s->DeadLetter;
  std::memset(dlh, 0, sizeof s->DeadLetter);
  bool ended = false;
  while (!ended) {
    const char* name;
    int32_t nameLength;
    int rc = NextToken(run, &name, &nameLength, &ended);
    if (rc == 0 && !ended && name[0] == '[') {
      rc = SkipReasonName(run, name, nameLength, &ended);
      name = nullptr;
    }
    if (rc != 0) return rc;
    if (ended || name == nullptr) continue;
    const DeadLetterField* f = FindField(name, nameLength);
    if (f == nullptr) return ListingUnknownName(run, name, nameLength);
    const char* value;
    int32_t valueLength;
    rc = NextToken(run, &value, &valueLength, &ended);
    if (rc != 0) return rc;
    if (ended) return ListingError(run, "Unexpected end of section on line %ld of file '%s'");
    rc = StoreField(run, md, f, value, valueLength, numbers, dlh);
    if (rc != 0) return rc;
    seen |= 1u << (f - kDeadLetterFields);
  }
  if (seen != (1u << kFieldCount) - 1) {
    return ListingError(run, "Incomplete dead-letter header on line %ld of file '%s'");
  }
  bool swapped = numbers[kVersionIndex] == kVersionSwapped;
  for (int i = 0; i < kFieldCount; i++) {
    if (!kDeadLetterFields[i].Number) continue;
    int32_t v = swapped ? SwapInt32(numbers[i]) : numbers[i];
    WriteEncodedInt32(dlh + kDeadLetterFields[i].Offset, v, md->Encoding);
  }
  s->HasDeadLetter = true;
  return 0;
}
