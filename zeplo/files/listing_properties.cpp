// The message properties section of a browse listing, given back to the
// message as an MQRFH2: the form in which message properties travel inside
// message data.
//
// Each "  <name> : <value>" line becomes one element of a folder. The
// folder text is built in listing order, one folder per distinct name in
// order of first appearance, in UTF-8 (NameValueCCSID 1208): the listing is
// read as it was written, so names and values keep their bytes. The sample
// prints every integer type alike and both float types alike, so whole
// numbers come back as i4 (i8 when they need more than 32 bits) and other
// numbers as r8.
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int32_t kMaxBlock = 0x7FFFFFFF;
constexpr char kDone = '.';
constexpr MQLONG kUtf8Ccsid = 1208;

// Folders MQ reads as properties without being told; any other folder is
// marked with content='properties'.
constexpr const char* kPropertyFolders[] = {"usr", "jms", "mcd", "mqext", "mq", "mq_usr", "mqps"};

int BadProperty(Run* run) {
  return ListingError(run, "Unrecognised property on line %ld of file '%s'");
}

// Appends the pieces to the area.
int Append(Run* run, ListingBytes* area, std::initializer_list<std::string_view> pieces) {
  int64_t need = area->Length;
  for (std::string_view piece : pieces) need += static_cast<int64_t>(piece.size());
  if (need > area->Capacity) {
    int64_t grown = need < 512 ? 1024 : 2 * need;
    if (grown > kMaxBlock) grown = kMaxBlock;
    auto* bigger = static_cast<unsigned char*>(
        need <= kMaxBlock ? CSGetMem(static_cast<size_t>(grown), "Listing Properties") : nullptr);
    if (bigger == nullptr) {
      run->Message.DataLength = 0;
      return SetExitMessage(run, MQRC_STORAGE_NOT_AVAILABLE,
                            "Unable to allocate %lld bytes property storage",
                            static_cast<long long>(grown));
    }
    if (area->Length > 0) std::memcpy(bigger, area->Data, static_cast<size_t>(area->Length));
    CSReleaseMem(&area->Data);
    area->Data = bigger;
    area->Capacity = static_cast<int32_t>(grown);
  }
  for (std::string_view piece : pieces) {
    if (!piece.empty()) std::memcpy(area->Data + area->Length, piece.data(), piece.size());
    area->Length += static_cast<int32_t>(piece.size());
  }
  return 0;
}

// A folder or element name as MQ allows them: a letter or '_' first, then
// letters, digits, '_' and '-'. No '.', which would name a group.
bool IsPlainName(std::string_view name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) {
    return false;
  }
  for (size_t i = 1; i < name.size(); i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c) && c != '_' && c != '-') return false;
  }
  return true;
}

bool IsHexDigits(std::string_view digits) {
  for (char c : digits) {
    if (HexDigitValue(static_cast<unsigned char>(c)) < 0) return false;
  }
  return digits.size() % 2 == 0;
}

// The dt attribute a printed number needs, or null when it is not one.
const char* NumberType(std::string_view text) {
  const char* p = text.data();
  size_t n = text.size();
  int64_t whole;
  auto [wend, wec] = std::from_chars(p, p + n, whole);
  if (n > 0 && wec == std::errc() && wend == p + n) {
    return whole >= INT32_MIN && whole <= INT32_MAX ? "i4" : "i8";
  }
  // Only the plain forms %g prints; "inf" and "nan" have no RFH2 spelling.
  if (n == 0 || text.find_first_not_of("0123456789+-.eE") != std::string_view::npos) return nullptr;
  double real;
  auto [rend, rec] = std::from_chars(p, p + n, real);
  return rec == std::errc() && rend == p + n ? "r8" : nullptr;
}

// Appends the value as element content, with &, < and > escaped.
int AddEscaped(Run* run, ListingBytes* entries, std::string_view value) {
  size_t start = 0;
  for (size_t i = 0; i <= value.size(); i++) {
    const char* escape = i == value.size() ? ""
                         : value[i] == '&' ? "&amp;"
                         : value[i] == '<' ? "&lt;"
                         : value[i] == '>' ? "&gt;"
                                           : nullptr;
    if (escape == nullptr) continue;
    int rc = Append(run, entries, {value.substr(start, i - start), escape});
    if (rc != 0) return rc;
    start = i + 1;
  }
  return 0;
}

// Appends "<element dt='type'>content</element>" and the NUL that ends the
// entry, for the printed value `v` (content escaped for a string; an
// xsi:nil element for NULL).
int AddElement(Run* run, ListingBytes* entries, std::string_view element, std::string_view v) {
  const char* type = nullptr;
  std::string_view content = v;
  bool escape = false;
  bool nil = false;
  size_t n = v.size();
  if (n >= 2 && v[0] == '\'' && v[n - 1] == '\'') {
    content = v.substr(1, n - 2), escape = true;
  } else if (n >= 3 && v[0] == 'X' && v[1] == '\'' && v[n - 1] == '\'' &&
             IsHexDigits(v.substr(2, n - 3))) {
    type = "bin.hex", content = v.substr(2, n - 3);
  } else if (v == "TRUE" || v == "FALSE") {
    type = "boolean", content = v == "TRUE" ? "1" : "0";
  } else if (v == "NULL") {
    nil = true, content = "";
  } else if ((type = NumberType(v)) == nullptr) {
    return BadProperty(run);
  }
  // XML has no spelling for the control characters (a NUL would also end
  // the entry early): such a value is refused rather than changed.
  for (char c : content) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return BadProperty(run);
  }
  int rc = Append(run, entries,
                  {"<", element, type != nullptr ? " dt='" : "", type != nullptr ? type : "",
                   type != nullptr ? "'" : "", nil ? " xsi:nil='true'" : "", ">"});
  if (rc == 0) rc = escape ? AddEscaped(run, entries, content) : Append(run, entries, {content});
  if (rc == 0) rc = Append(run, entries, {"</", element, std::string_view(">", 2)});
  return rc;
}

// One "  <name> : <value>" line: its folder name, NUL, its element, NUL.
int AddProperty(Run* run, ListingSections* s, std::string_view line) {
  size_t sep = line.find(" : ");
  if (sep == std::string_view::npos) return BadProperty(run);
  std::string_view name = line.substr(0, sep);
  size_t dot = name.find('.');
  std::string_view folder = dot == std::string_view::npos ? "usr" : name.substr(0, dot);
  std::string_view element = dot == std::string_view::npos ? name : name.substr(dot + 1);
  if (!IsPlainName(folder) || !IsPlainName(element)) return BadProperty(run);
  int32_t mark = s->Entries.Length;
  int rc = Append(run, &s->Entries, {folder, std::string_view("", 1)});
  if (rc == 0) rc = AddElement(run, &s->Entries, element, line.substr(sep + 3));
  if (rc != 0) s->Entries.Length = mark;
  return rc;
}

// Turns the entries into folders: "<folder>" with every element of that
// folder, "</folder>", blanks to a multiple of 4, behind its length.
int BuildFolders(Run* run, ListingSections* s) {
  char* entries = reinterpret_cast<char*>(s->Entries.Data);
  const char* end = entries + s->Entries.Length;
  // A folder written out is marked with a '.' over its first character (no
  // name holds one), so the entries keep their lengths.
  for (char* folder = entries; folder < end;) {
    char* next = folder + std::strlen(folder) + 1;
    next += std::strlen(next) + 1;
    if (folder[0] == kDone) {
      folder = next;
      continue;
    }
    bool known = false;
    for (const char* f : kPropertyFolders) known = known || std::strcmp(f, folder) == 0;
    int32_t start = s->Folders.Length;
    int rc =
        Append(run, &s->Folders,
               {std::string_view("\0\0\0\0<", 5), folder, known ? ">" : " content='properties'>"});
    for (char* other = folder; rc == 0 && other < end;) {
      char* element = other + std::strlen(other) + 1;
      if (std::strcmp(other, folder) == 0) {
        rc = Append(run, &s->Folders, {element});
        if (other != folder) other[0] = kDone;
      }
      other = element + std::strlen(element) + 1;
    }
    // Bytes after the length once "</folder>" is on.
    size_t closed = static_cast<size_t>(s->Folders.Length - start - 4) + 3 + std::strlen(folder);
    size_t padding = (4 - closed % 4) % 4;
    if (rc == 0)
      rc = Append(run, &s->Folders, {"</", folder, ">", std::string_view("   ", padding)});
    if (rc != 0) return rc;
    int32_t valueLength = s->Folders.Length - start - 4;
    std::memcpy(s->Folders.Data + start, &valueLength, sizeof valueLength);
    folder[0] = kDone;
    folder = next;
  }
  return 0;
}

// A header that MQ keeps in front of a generated MQRFH2, and where its
// chaining fields are: the Format, Encoding and CodedCharSetId of what
// follows it.
struct LeadingHeader {
  const char* Format;
  const char* StrucId;
  int32_t Length;
  int32_t EncodingAt;
  int32_t CcsidAt;
  int32_t FormatAt;
};

constexpr LeadingHeader kLeadingHeaders[] = {
    {MQFMT_DEAD_LETTER_HEADER, MQDLH_STRUC_ID, MQDLH_LENGTH_1, offsetof(MQDLH, Encoding),
     offsetof(MQDLH, CodedCharSetId), offsetof(MQDLH, Format)},
    {MQFMT_XMIT_Q_HEADER, MQXQH_STRUC_ID, MQXQH_LENGTH_1,
     offsetof(MQXQH, MsgDesc) + offsetof(MQMD1, Encoding),
     offsetof(MQXQH, MsgDesc) + offsetof(MQMD1, CodedCharSetId),
     offsetof(MQXQH, MsgDesc) + offsetof(MQMD1, Format)},
};

// A place in the header chain: the Format field that names what follows
// (-1: the descriptor's, which is never EBCDIC here), the code page that
// field is in, and the Encoding and CodedCharSetId of what follows.
struct ChainPoint {
  int32_t FormatAt;
  bool FormatEbcdic;
  MQLONG Encoding;
  MQLONG Ccsid;
};

// The chain point's Format as ASCII text (8 characters).
void ChainFormat(const Run* run, const ChainPoint& at, char* format) {
  const MessageBuffer& m = run->Message;
  const char* field = at.FormatAt < 0 ? m.Descriptor->Format
                                      : reinterpret_cast<const char*>(m.Storage + at.FormatAt);
  std::memcpy(format, field, MQ_FORMAT_LENGTH);
  auto* bytes = reinterpret_cast<unsigned char*>(format);
  if (at.FormatEbcdic) EbcdicToAscii(bytes, bytes, MQ_FORMAT_LENGTH);
}

// `length` ASCII characters into `out`, in EBCDIC when `ebcdic`.
void PutText(unsigned char* out, const char* text, int length, bool ebcdic) {
  std::memcpy(out, text, static_cast<size_t>(length));
  if (ebcdic) AsciiToEbcdic(out, out, length);
}

// Walks the leading headers of the message data: *at ends as the chain
// point after the last one, *offset at the first byte behind it.
void SkipLeadingHeaders(const Run* run, ChainPoint* at, int32_t* offset) {
  const MessageBuffer& m = run->Message;
  for (bool moved = true; moved;) {
    moved = false;
    char format[MQ_FORMAT_LENGTH];
    ChainFormat(run, *at, format);
    bool ebcdic = IsEbcdicCcsid(at->Ccsid);
    for (const LeadingHeader& h : kLeadingHeaders) {
      if (std::memcmp(format, h.Format, MQ_FORMAT_LENGTH) != 0 ||
          m.DataLength - *offset < h.Length) {
        continue;
      }
      const unsigned char* p = m.Storage + *offset;
      char strucId[4];
      std::memcpy(strucId, p, sizeof strucId);
      if (ebcdic) EbcdicToAscii(reinterpret_cast<unsigned char*>(strucId), p, sizeof strucId);
      if (std::memcmp(strucId, h.StrucId, sizeof strucId) != 0) continue;
      *at =
          ChainPoint{*offset + h.FormatAt, ebcdic, ReadEncodedInt32(p + h.EncodingAt, at->Encoding),
                     ReadEncodedInt32(p + h.CcsidAt, at->Encoding)};
      *offset += h.Length;
      moved = true;
      break;
    }
  }
}

}  // namespace

void ReleaseListingSections(ListingSections* s) {
  CSReleaseMem(&s->Folders.Data);
  CSReleaseMem(&s->Entries.Data);
  *s = ListingSections{};
}

int ReadListingProperties(Run* run, ListingSections* s) {
  s->Folders.Length = 0;
  s->Entries.Length = 0;
  const LineStorage* ls = run->Files.InputLines;
  for (;;) {
    bool eof = false;
    int rc = ReadLine(run, true, &eof, false);
    if (rc != 0) return rc;
    if (eof) return ListingEndOfFile(run);
    if (ls->Length >= 4 && std::memcmp(ls->Text, "****", 4) == 0) break;
    const char* p = ls->Text;
    const char* end = ls->Text + ls->Length;
    while (p < end && *p == ' ') ++p;
    while (end > p && end[-1] == ' ') --end;
    if (p == end || std::string_view(p, static_cast<size_t>(end - p)) == "None") continue;
    // The value keeps its trailing blanks: they may be inside its quotes.
    rc = AddProperty(run, s, std::string_view(p, static_cast<size_t>(ls->Text + ls->Length - p)));
    if (rc != 0) return rc;
  }
  return BuildFolders(run, s);
}

int AddListingProperties(Run* run, const ListingSections* s) {
  if (s->Folders.Length == 0) return 0;
  MessageBuffer& m = run->Message;
  MQMD* md = m.Descriptor;
  ChainPoint at{-1, false, md->Encoding, md->CodedCharSetId};
  int32_t offset = 0;
  SkipLeadingHeaders(run, &at, &offset);

  int64_t total = static_cast<int64_t>(m.DataLength) + MQRFH2_LENGTH_2 + s->Folders.Length;
  int rc = EnsureMessageStorage(run, total);  // refuses what a 32-bit length cannot hold
  if (rc != 0) return rc;
  int32_t size = MQRFH2_LENGTH_2 + s->Folders.Length;
  unsigned char* rfh = m.Storage + offset;
  std::memmove(rfh + size, rfh, static_cast<size_t>(m.DataLength - offset));
  m.DataLength = static_cast<int32_t>(total);

  // The MQRFH2 is described by the chain point: its integers in that
  // Encoding, its characters in that code page.
  bool ebcdic = IsEbcdicCcsid(at.Ccsid);
  char inner[MQ_FORMAT_LENGTH];
  ChainFormat(run, at, inner);
  PutText(rfh + offsetof(MQRFH2, StrucId), MQRFH_STRUC_ID, 4, ebcdic);
  WriteEncodedInt32(rfh + offsetof(MQRFH2, Version), MQRFH_VERSION_2, at.Encoding);
  WriteEncodedInt32(rfh + offsetof(MQRFH2, StrucLength), size, at.Encoding);
  WriteEncodedInt32(rfh + offsetof(MQRFH2, Encoding), at.Encoding, at.Encoding);
  WriteEncodedInt32(rfh + offsetof(MQRFH2, CodedCharSetId), at.Ccsid, at.Encoding);
  PutText(rfh + offsetof(MQRFH2, Format), inner, MQ_FORMAT_LENGTH, ebcdic);
  WriteEncodedInt32(rfh + offsetof(MQRFH2, Flags), MQRFH_NO_FLAGS, at.Encoding);
  WriteEncodedInt32(rfh + offsetof(MQRFH2, NameValueCCSID), kUtf8Ccsid, at.Encoding);
  unsigned char* folders = rfh + MQRFH2_LENGTH_2;
  std::memcpy(folders, s->Folders.Data, static_cast<size_t>(s->Folders.Length));
  for (int32_t i = 0; i < s->Folders.Length;) {
    int32_t length;
    std::memcpy(&length, folders + i, sizeof length);
    WriteEncodedInt32(folders + i, length, at.Encoding);
    i += 4 + length;
  }

  unsigned char* field =
      at.FormatAt < 0 ? reinterpret_cast<unsigned char*>(md->Format) : m.Storage + at.FormatAt;
  PutText(field, MQFMT_RF_HEADER_2, MQ_FORMAT_LENGTH, at.FormatEbcdic);
  return 0;
}
